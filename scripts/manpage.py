#!/usr/bin/env python3
"""Writes the cadenzor(1) manual page from the tool's own help texts:
usage: manpage.py PATH-TO-CADENZOR OUTPUT.1"""
import subprocess
import sys


def run(tool, *args):
    return subprocess.run([tool, *args], capture_output=True, text=True, check=True).stdout


def roff(text):
    out = []
    for line in text.rstrip("\n").split("\n"):
        line = line.replace("\\", "\\e").replace("-", "\\-")
        if line.startswith((".", "'")):
            line = "\\&" + line
        out.append(line)
    return "\n".join(out)


def main():
    tool, target = sys.argv[1], sys.argv[2]
    top = run(tool, "--help")
    version = run(tool, "--version").split()[-1]
    commands = []
    in_list = False
    for line in top.split("\n"):
        if line.startswith("commands:"):
            in_list = True
            continue
        if in_list:
            if not line.strip():
                break
            commands.append(line.split()[0])
    page = [
        '.TH CADENZOR 1 "" "cadenzor %s" "User Commands"' % version,
        ".SH NAME",
        "cadenzor \\- sound files to the resources of speech and melody chips, and back",
        ".SH SYNOPSIS",
        ".nf",
        roff(top.split("\n")[0].replace("usage: ", "")),
        ".fi",
        ".SH DESCRIPTION",
        ".nf",
        roff(top.split("\n", 1)[1]),
        ".fi",
        ".SH COMMANDS",
    ]
    for command in commands:
        page += [".SS %s" % command, ".nf", roff(run(tool, command, "--help")), ".fi"]
    # Every format class with its facts, from the same rows as the help.
    page += [".SH FORMATS", ".nf", roff(run(tool, "formats")), ".fi"]
    page += [
        ".SH PROFILES",
        "convert, resample, batch, report and pack work in one of two profiles.",
        ".TP",
        ".B best",
        "The default. MP3 is decoded gaplessly (the encoder delay and padding of the LAME Info frame and the",
        "decoder delay of 529 samples are taken off: the sound has the encoder's input length, at lag 0);",
        "resampling is clean (the transition band lies below the new Nyquist frequency, at least 90 dB down",
        "from it on, flat within 0.05 dB to 0.9 of it); the APM coder and its ADPCM relatives search for their",
        "codes, as hard as \\-\\-effort fast, high (the default) or max says. The files have the same size",
        "and play on the unchanged decoders.",
        ".TP",
        ".B compatible",
        "With \\-\\-compatible: exactly the bytes of the library's exported functions (MP3 frame by frame,",
        "the classic resampler and coders).",
        ".SH FILES",
        "The stand-in libraries the tool loads (the resource converter and the codec libraries) are looked for",
        "in the folder of the library itself, never on the system's search path.",
        ".SH SEE ALSO",
        "sox(1), ffmpeg(1)",
    ]
    with open(target, "w") as f:
        f.write("\n".join(page) + "\n")


main()
