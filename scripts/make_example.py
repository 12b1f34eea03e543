#!/usr/bin/env python3
"""Makes examples/hello.wav: a short speech clip (espeak-ng, sox) with cue
points and labels: two action events "(type,param)" and one "SILENCE" span."""
import os
import struct
import subprocess
import sys
import tempfile

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
out = os.path.join(root, "examples", "hello.wav")
with tempfile.TemporaryDirectory() as tmp:
    speech = os.path.join(tmp, "speech.wav")
    subprocess.run(["espeak-ng", "-w", speech, "Hello. This is Cadenzor, speaking for your chip."], check=True)
    pcm = os.path.join(tmp, "pcm.wav")
    # 16 kHz mono 16-bit, with half a second of silence in the middle.
    first = os.path.join(tmp, "a.wav")
    subprocess.run(["sox", speech, "-r", "16000", "-c", "1", "-b", "16", pcm, "norm", "-1"], check=True)
    subprocess.run(["sox", pcm, first, "pad", "0", "0.5"], check=True)
    subprocess.run(["sox", first, pcm, os.path.join(tmp, "b.wav")], check=True)
    data = open(os.path.join(tmp, "b.wav"), "rb").read()

# Walk the chunks sox wrote and keep fmt and data.
pos, chunks = 12, {}
while pos + 8 <= len(data):
    cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
    chunks[cid] = data[pos + 8:pos + 8 + size]
    pos += 8 + size + (size & 1)
fmt, samples = chunks[b"fmt "][:16], chunks[b"data"]
count = len(samples) // 2
markers = [(1, 8000, "(1,0)", None), (2, count // 2, "(2,5)", None)]
silence_start = next(i for i in range(count // 2 - 1000, 0, -1)
                     if abs(struct.unpack("<h", samples[2 * i:2 * i + 2])[0]) > 300) + 50
markers.append((3, silence_start, "SILENCE", silence_start + 7000))

cue = struct.pack("<I", len(markers))
for cid, position, _, _ in markers:
    cue += struct.pack("<II4sIII", cid, position, b"data", 0, 0, position)
adtl = b"adtl"
for cid, _, label, _ in markers:
    text = label.encode() + b"\0"
    if len(text) & 1:
        text += b"\0"
    adtl += b"labl" + struct.pack("<II", 4 + len(label) + 1, cid) + text
for cid, _, _, end in markers:
    if end is not None:
        adtl += b"ltxt" + struct.pack("<IIIIHHHH", 20, cid, end, 0, 0, 0, 0, 0)

def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")

body = b"WAVE" + chunk(b"fmt ", fmt) + chunk(b"data", samples) + chunk(b"cue ", cue) + chunk(b"LIST", adtl)
os.makedirs(os.path.dirname(out), exist_ok=True)
with open(out, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", len(body)) + body)
print("wrote", out, count, "samples")
