// cadenzor: command-line front end of the library.
//
// Every command is a row of the command table below: its synopsis, what it
// does, and the options it takes. An option a command does not take is a
// usage error before anything is read or written. Options follow the habits
// of sox and ffmpeg: "--opt=value" or "--opt value", combined short flags
// ("-yq"), and the global flags (-y -q -v) before or after the command.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "Interrupts.h"
#include "formats/registry/FormatTable.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define CZ_BINARY_STDIO(stream) _setmode(_fileno(stream), _O_BINARY)
#define CZ_DUP _dup
#define CZ_DUP2 _dup2
#define CZ_CLOSE _close
#define CZ_FILENO _fileno
#else
#include <unistd.h>
#define CZ_BINARY_STDIO(stream) ((void)0)
#define CZ_DUP dup
#define CZ_DUP2 dup2
#define CZ_CLOSE close
#define CZ_FILENO fileno
#endif

// cadenzor plan (PlanCommand.cpp), with its own options.
namespace cz::cli {
int RunPlan(const std::vector<std::string>& words);
}

#ifndef CADENZOR_VERSION
#define CADENZOR_VERSION "0.0.0"
#endif

namespace {

using cz::cli::Options;

struct OptionSpec {
    const char* name;
    const char* value;  // name of the value, or nullptr for a flag
    const char* help;
    // The coder setting the option gives (FormatOption), or 0: its help
    // names the formats whose rows take it.
    uint8_t formatOption = 0;
};

// Every option of the tool; commands name the ones they take.
const OptionSpec kOptions[] = {
    {"-o", "FILE", "output file (instead of the last file name)"},
    {"-y", nullptr, "overwrite existing output files"},
    {"-q", nullptr, "no progress bar"},
    {"-v", nullptr, "say more"},
    {"--json", nullptr, "print one JSON document instead of text"},
    {"--rate", "HZ", "resample to HZ first (the chips play 4000 to 48000 Hz)"},
    {"--any-rate", nullptr, "write a chip format at a rate outside 4000 to 48000 Hz (no chip plays it)"},
    {"--bin", "FILE", "also write the chip resource binary FILE and its byte-array header FILE.h"},
    {"--header-style", "STYLE",
     "byte-array header: 'plain' (the default) or 'firmware' (static const, include "
     "guard, length constant)"},
    {"--mode", "N", "coding mode: APM and WAM coders (0 to 255), MCP (0 or 1), MVC and WLP coder setting (0 to 255)",
     cz::kOptionMode},
    {"--bitrate", "BPS", "the coder's bit rate in bit/s (ESB 100 to 6553500, SBD 1 to 65535)", cz::kOptionBitrate},
    {"--quality", "N", "the coder's quality setting (0 to 32767)", cz::kOptionQuality},
    {"--source", nullptr, "from a chip file, its stored source samples (by default: the sound the chip plays)"},
    {"--max-bytes", "N", "the largest resource to keep, in bytes"},
    {"--to", "FORMATS", "output format(s) by extension: apm, mdm, esb, ... (report takes a comma-separated list)"},
    {"-j", "N", "number of files converted at once (default: the number of cores)"},
    {"--budget", "SIZE", "memory the resources must fit in: bytes, or with K or M (1024-based)"},
    {"--html", "FILE", "also write a page with pictures of each rendition"},
    {"--wav", nullptr, "unpack: write each entry decoded to WAV as well"},
    {"--entry", "N", "play: the pack image's entry N (from 0)"},
    {"--player", "PROGRAM", "play with PROGRAM instead of aplay or paplay ('none': only write the WAV)"},
    {"--dls", "FILE", "from an XMF file to MIDI: also write its DLS bank to FILE"},
    {"--for-play", nullptr, "from an XMF file to MIDI: bank selects added and the bank repaired for a player"},
    {"--compatible", nullptr,
     "the exported functions' bytes: MP3 frame by frame, the classic resampler and coders "
     "(by default: gapless MP3, clean resampling, searching coders)"},
    {"--effort", "LEVEL", "how hard the APM and MDM coders search: 'fast', 'high' (the default) or 'max'"},
    {"--factor", "F",
     "pitch: the length times F (0.25 to 4), every pitch period kept as it is; played F times faster "
     "it is F times higher"},
    {"--semitones", "N",
     "pitch: the pitch N semitones up (down for negative N, -24 to 24) at the same length: "
     "stretched by 2^(N/12), then resampled back"},
};

int Usage(const char* message, const char* command = nullptr);

// Each command's run: it checks the files it was given, then calls the
// command's function.
using RunFn = int (*)(Options& options);

std::string ReadAll(std::FILE* f) {
    std::string text;
    char buffer[1 << 14];
    size_t n = 0;
    std::rewind(f);
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    return text;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// info and check read "-" as standard input: it is copied to a file in a
// private folder, the command reads that file, and what it prints names "-"
// again (the copy's path, unique to this run, is replaced wherever it shows).
int WithStandardInput(Options& options, const char* command, int (*run)(const Options&)) {
    size_t dashes = 0;
    for (const std::string& in : options.inputs) dashes += in == "-";
    if (dashes == 0) return run(options);
    if (dashes > 1) return Usage("standard input ('-') can be read only once", command);
    auto temp = cz::platform::TempFolder::Create();
    if (!temp) {
        std::fprintf(stderr, "cadenzor: %s: cannot make a temporary folder\n", cz::platform::TempDirectory().c_str());
        return cz::cli::kExitFailed;
    }
    const std::string copy = temp->File("stdin");
    {
        std::FILE* f = std::fopen(copy.c_str(), "wb");
        CZ_BINARY_STDIO(stdin);
        bool ok = f != nullptr;
        char buffer[1 << 16];
        size_t n = 0;
        while (ok && (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) ok = std::fwrite(buffer, 1, n, f) == n;
        ok = ok && !std::ferror(stdin);
        if (f && std::fclose(f) != 0) ok = false;
        if (!ok) {
            std::fprintf(stderr, "cadenzor: -: cannot read standard input\n");
            return cz::cli::kExitFailed;
        }
    }
    for (std::string& in : options.inputs)
        if (in == "-") in = copy;
    // What the command prints goes to two scratch files first.
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = out && err ? CZ_DUP(CZ_FILENO(stdout)) : -1;
    const int savedErr = savedOut >= 0 ? CZ_DUP(CZ_FILENO(stderr)) : -1;
    if (savedErr < 0) {
        if (savedOut >= 0) CZ_CLOSE(savedOut);
        if (out) std::fclose(out);
        if (err) std::fclose(err);
        return run(options);  // the copy's path shows, but the command runs
    }
    CZ_DUP2(CZ_FILENO(out), CZ_FILENO(stdout));
    CZ_DUP2(CZ_FILENO(err), CZ_FILENO(stderr));
    const int status = run(options);
    std::fflush(stdout);
    std::fflush(stderr);
    CZ_DUP2(savedOut, CZ_FILENO(stdout));
    CZ_DUP2(savedErr, CZ_FILENO(stderr));
    CZ_CLOSE(savedOut);
    CZ_CLOSE(savedErr);
    const std::string said = Replaced(ReadAll(out), copy, "-");
    const std::string warned = Replaced(ReadAll(err), copy, "-");
    std::fclose(out);
    std::fclose(err);
    std::fwrite(warned.data(), 1, warned.size(), stderr);
    std::fwrite(said.data(), 1, said.size(), stdout);
    return status;
}

int RunCheckCommand(Options& options) {
    if (options.inputs.empty()) return Usage("check needs at least one file", "check");
    return WithStandardInput(options, "check", cz::cli::RunCheck);
}

int RunInfoCommand(Options& options) {
    if (options.inputs.empty()) return Usage("info needs at least one file", "info");
    return WithStandardInput(options, "info", cz::cli::RunInfo);
}

int RunBatchCommand(Options& options) {
    if (options.inputs.size() != 2) return Usage("batch needs an input and an output folder", "batch");
    if (options.formats.size() != 1) return Usage("batch needs one output format: --to apm", "batch");
    return cz::cli::RunBatch(options);
}

int RunReportCommand(Options& options) {
    if (options.inputs.size() != 1) return Usage("report needs one input file", "report");
    if (options.formats.empty()) return Usage("report needs --to FORMATS, such as --to apm,mdm", "report");
    return cz::cli::RunReport(options);
}

int RunPackCommand(Options& options) {
    if (options.inputs.empty()) return Usage("pack needs at least one file", "pack");
    if (options.output.empty()) return Usage("pack needs -o IMAGE", "pack");
    if (options.formats.size() != 1) return Usage("pack needs one format: --to apm", "pack");
    return cz::cli::RunPack(options);
}

int RunUnpackCommand(Options& options) {
    if (options.inputs.size() != 2) return Usage("unpack needs an image and a folder", "unpack");
    return cz::cli::RunUnpack(options);
}

int RunPlayCommand(Options& options) {
    if (options.inputs.size() != 1) return Usage("play needs one file", "play");
    return cz::cli::RunPlay(options);
}

int RunFormatsCommand(Options& options) {
    if (!options.inputs.empty()) return Usage("formats takes no files", "formats");
    return cz::cli::RunFormats(options);
}

// convert, resample, cut and pitch: one input and one output, the output the
// last file name unless -o names it.
bool OneInOne(Options& options, const char* command) {
    if (options.output.empty() && options.inputs.size() == 2) {
        options.output = options.inputs.back();
        options.inputs.pop_back();
    }
    if (options.inputs.size() != 1 || options.output.empty()) {
        Usage((std::string(command) + " needs one input and one output file").c_str(), command);
        return false;
    }
    return true;
}

int RunConvertCommand(Options& options) {
    if (!OneInOne(options, "convert")) return cz::cli::kExitUsage;
    return cz::cli::RunConvert(options);
}

int RunResampleCommand(Options& options) {
    if (!OneInOne(options, "resample")) return cz::cli::kExitUsage;
    if (!options.haveRate) return Usage("resample needs --rate HZ", "resample");
    return cz::cli::RunResample(options);
}

int RunCutCommand(Options& options) {
    if (!OneInOne(options, "cut")) return cz::cli::kExitUsage;
    if (!options.haveMaxBytes) return Usage("cut needs --max-bytes N", "cut");
    return cz::cli::RunCut(options);
}

int RunPitchCommand(Options& options) {
    if (!OneInOne(options, "pitch")) return cz::cli::kExitUsage;
    if (options.haveFactor == options.haveSemitones)
        return Usage("pitch needs either --factor F or --semitones N", "pitch");
    return cz::cli::RunPitch(options);
}

// A row per command: its name, synopsis, a line and a paragraph for its
// help, the options it takes and its run. Help, the manual page and the shell
// completion are all made from these rows.
struct CommandSpec {
    const char* name;
    const char* synopsis;
    const char* summary;
    const char* details;
    std::vector<const char*> options;
    RunFn run;
};

const std::vector<CommandSpec>& Commands() {
    static const std::vector<CommandSpec> commands = {
        {"check",
         "check FILE...",
         "say whether each file can be opened, with its format",
         "Exit code 2 when any file cannot be opened.",
         {"-v"},
         RunCheckCommand},
        {"info",
         "info FILE... [--json]",
         "format, samples, markers, metadata and chip size of each file",
         "Reads every kind of input by its content: WAV, the chip formats, MP3, WMA, MIDI, resource binaries.\n"
         "With --json, one JSON array with an object per file (an object with \"error\" for a file that fails).",
         {"--json", "-v"},
         RunInfoCommand},
        {"convert",
         "convert IN OUT [options]",
         "convert IN to OUT; the chain follows the extensions",
         "IN may be a WAV, MP3, WMA, chip or RBF file, or a MIDI or XMF file where OUT is .xmf.\n"
         "'-' as IN reads standard input; '-' as OUT writes standard output, its format named by --to.\n"
         "From an XMF file: OUT.mid (with --dls FILE its bank, --for-play both ready for a player) or\n"
         "OUT.wav (its speech resource).\n"
         "An .xmf or .imf OUT gets its byte-array header OUT.h beside it (g_aby<OUT's name>[]).\n"
         "A chip format holds 4000 to 48000 Hz: other rates are refused unless --any-rate.\n"
         "OUT's extension names the format (.wav, .apm, .mdm, ... or .xmf). Every output is made in a\n"
         "private folder first and put in place only when all of them were made: a refusal or a failure\n"
         "writes nothing.",
         {"-o", "-y", "-q", "-v", "--rate", "--any-rate", "--bin", "--header-style", "--mode", "--bitrate", "--quality",
          "--source", "--to", "--dls", "--for-play", "--compatible", "--effort"},
         RunConvertCommand},
        {"resample",
         "resample IN OUT --rate HZ",
         "resample a sound to a WAV file",
         "",
         {"-o", "-y", "-q", "-v", "--rate", "--compatible"},
         RunResampleCommand},
        {"cut",
         "cut IN OUT --max-bytes N",
         "cut an RBF resource to at most N bytes",
         "Keeps the whole blocks from the start that fit, then the end mark, and says how much sound\n"
         "that is (samples, seconds, bytes; -q: nothing). A file that fits is copied unchanged.",
         {"-o", "-y", "-q", "-v", "--max-bytes"},
         RunCutCommand},
        {"batch",
         "batch IN_DIR OUT_DIR --to FORMAT [options]",
         "convert a folder tree of sounds",
         "Mirrors IN_DIR's tree under OUT_DIR, converting every sound (WAV, MP3, chip files) to FORMAT in\n"
         "parallel. An output is kept when it was made with the same settings from the same input\n"
         "(recorded in OUT_DIR/.cadenzor-batch); -y makes all again. Ends with a summary; exit code 2\n"
         "when any file failed (each named with its reason), 3 when the resources exceed --budget.\n"
         "--to imf makes the tree's MIDI files (.mid, .midi) IMF melodies, one at a time.",
         {"-y", "-q", "-v", "--to", "--rate", "--any-rate", "--bin", "--header-style", "--mode", "--bitrate",
          "--quality", "-j", "--budget", "--json", "--compatible", "--effort"},
         RunBatchCommand},
        {"report",
         "report IN --to FORMATS [options]",
         "size and quality of IN in each chip format",
         "Per format: file and resource size, bit rate, SNR and segmental SNR of the sound the chip plays\n"
         "against the source (resampled alike; each stretch of 4096 samples is compared at its best lag\n"
         "within 64 samples, since the coders pad voice to whole frames). --html writes one\n"
         "self-contained page: the source and each rendition to listen to, their waveforms, the error\n"
         "level over time in dB and a chart of size against quality.",
         {"-q", "-y", "--to", "--rate", "--any-rate", "--json", "--html", "--mode", "--compatible", "--effort"},
         RunReportCommand},
        {"pack",
         "pack FILE... --to FORMAT -o IMAGE [options]",
         "many prompts in one resource image",
         "Converts each file to FORMAT and its resource, and writes IMAGE (a table of offsets and lengths,\n"
         "then the resources) and IMAGE.h (an enumeration of the prompts with their offsets and sizes, and\n"
         "the image as a byte array). Melodies go beside the prompts: an IMF file is packed as it is, a\n"
         "MIDI file as the IMF that \"convert x.mid x.imf\" makes; --to imf packs melodies only. The\n"
         "layout is documented in docs/resource-pack.md.",
         {"-o", "-y", "-q", "-v", "--to", "--rate", "--any-rate", "--mode", "--bitrate", "--quality", "--budget",
          "--compatible", "--effort"},
         RunPackCommand},
        {"play",
         "play FILE [--player PROGRAM] [--entry N]",
         "listen to a file as the chip plays it",
         "Renders any file the library reads to a WAV file and plays it with aplay or paplay when one is\n"
         "installed; otherwise says where the WAV was written. --entry N plays entry N of a pack image\n"
         "(a melody entry is named as such, not played).",
         {"-v", "--source", "--player", "--entry"},
         RunPlayCommand},
        {"unpack",
         "unpack IMAGE DIR [--wav]",
         "write each entry of a pack image as its resource binary",
         "Writes DIR/NN-NAME.bin for every entry (NAME from IMAGE.h beside the image when it is there),\n"
         "and with --wav the sound each one plays as NN-NAME.wav; a melody entry is written as\n"
         "NN-NAME.imf. Existing files are kept unless -y.",
         {"-y", "-v", "--wav"},
         RunUnpackCommand},
        {"pitch",
         "pitch IN OUT (--factor F | --semitones N)",
         "shift the pitch by whole pitch periods",
         "OUT's extension names the format (.wav, .apm, ...); the rate stays the input's. Only voiced\n"
         "sound has pitch periods: a sound without them (noise, a whisper) is refused, and so is a shift\n"
         "whose length its periods alone cannot carry.",
         {"-o", "-y", "-q", "--factor", "--semitones"},
         RunPitchCommand},
        {"formats",
         "formats [--json]",
         "the formats: what each is for, its size per sample and what the tool makes of it",
         "One row per format class the tool opens: its extension, name, the first bytes of its files,\n"
         "bits per coded sample (0: frame-coded or as the file says), whether it is written and whether the\n"
         "resource converter makes a chip binary of it (--bin), and the coder options it takes.\n"
         "With --json, one JSON array with an object per class.",
         {"--json"},
         RunFormatsCommand},
        {"plan",
         "plan PROMPTS... --budget SIZE [options]",
         "the best coding of each prompt within a memory budget",
         "Codes every prompt in every chip format, rate and coder setting, and chooses per prompt so that\n"
         "the worst (--objective mean: the average) segmental SNR is highest while the pack image fits.\n"
         "See 'cadenzor plan --help'.",
         {"-y", "-q", "-j", "--budget", "--to", "--json", "--html"},
         nullptr},  // reads its own words: dispatched before the shared options

    };
    return commands;
}

const OptionSpec* FindOption(const std::string& name) {
    for (const auto& o : kOptions)
        if (name == o.name) return &o;
    if (name == "-r") return FindOption("--rate");
    return nullptr;
}

const CommandSpec* FindCommand(const std::string& name) {
    for (const auto& c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}

bool Takes(const CommandSpec& command, const std::string& option) {
    for (const char* o : command.options)
        if (option == o) return true;
    return false;
}

// batch's --bin is a flag: every output gets its binary beside it.
bool BinIsFlag(const std::string& command) { return command == "batch"; }

// The extensions of the formats written whose rows pass test: "apm, ap6".
template <typename Test>
std::string OutputFormats(Test test) {
    std::string text;
    for (const cz::FormatDescriptor* row : cz::FormatOpenOrder())
        if (row->facts.output && test(*row)) text += (text.empty() ? "" : ", ") + std::string(row->facts.extension);
    return text;
}

void PrintOptionLine(const std::string& left, const std::string& help) {
    std::printf("%-22s %s\n", left.c_str(), help.c_str());
}

void PrintOptions(const std::vector<const char*>& names, const std::string& command = std::string()) {
    for (const char* n : names) {
        const OptionSpec* o = FindOption(n);
        if (!o) continue;
        const std::string name = n;
        std::string help = o->help;
        if (o->formatOption)
            help += "; for " +
                    OutputFormats([&](const cz::FormatDescriptor& r) { return r.facts.options & o->formatOption; });
        if (name == "--bin")
            help += " (" + OutputFormats([](const cz::FormatDescriptor& r) { return r.facts.binary; }) + ")";
        if (BinIsFlag(command) && name == "--bin") {
            PrintOptionLine("  --bin", "also write each output's chip resource binary (.bin) and header (" +
                                           cz::cli::BinaryFormatListText() + ")");
            continue;
        }
        PrintOptionLine(std::string("  ") + o->name + (o->value ? std::string(" ") + o->value : ""), help);
    }
}

void PrintFormats() {
    std::printf("\nformats written (by extension): %s\n'cadenzor formats' says what each is for.\n",
                cz::cli::FormatListText().c_str());
}

// Every format written, with what it is for: the top help and the manual.
void PrintFormatGuide() {
    std::printf("\nformats written (by extension; 'cadenzor formats' has them all):\n");
    for (const cz::FormatDescriptor* row : cz::FormatOpenOrder())
        if (row->facts.output)
            std::printf("  %-5s %s: %s%s\n", row->facts.extension, row->facts.longName, row->facts.purpose,
                        row->facts.binary ? " [--bin]" : "");
    std::printf("  also xmf from WAV, APM or MIDI; imf from MIDI\n");
}

const char kExitCodes[] =
    "exit codes: 0 success, 1 usage error, 2 a file could not be processed, 3 the resources do not fit\n"
    "the --budget; 128+N stopped by signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP), the unfinished work\n"
    "removed\n";

void PrintUsage() {
    std::printf("usage: cadenzor [-y] [-q] [-v] COMMAND [options] FILE...\n\ncommands:\n");
    for (const auto& c : Commands()) std::printf("  %-10s %s\n", c.name, c.summary);
    std::printf("\nglobal options:\n");
    PrintOptions({"-y", "-q", "-v"});
    std::printf("  %-20s %s\n  %-20s %s\n", "-h, --help", "this text; 'cadenzor COMMAND --help' for a command",
                "--version", "the version");
    PrintFormatGuide();
    std::printf("\n%s", kExitCodes);
}

void PrintCommandHelp(const CommandSpec& c) {
    std::printf("usage: cadenzor %s\n\n%s.\n", c.synopsis, c.summary);
    if (c.details[0]) std::printf("\n%s\n", c.details);
    std::printf("\noptions:\n");
    PrintOptions(c.options, c.name);
    PrintFormats();
    std::printf("\n%s", kExitCodes);
}

// The command list, each command's options and the values of the options
// that take names, for the shell completion.
void PrintCompletion() {
    std::string names, formats;
    for (const auto& c : Commands()) names += std::string(c.name) + " ";
    for (const cz::FormatDescriptor* row : cz::FormatOpenOrder())
        if (row->facts.output) formats += std::string(row->facts.extension) + " ";
    std::printf(
        "# bash completion for cadenzor (made by 'cadenzor --completion bash')\n"
        "_cadenzor() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} cmd= i\n"
        "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        "        case ${COMP_WORDS[i]} in -*) ;; *) cmd=${COMP_WORDS[i]}; break ;; esac\n"
        "    done\n"
        "    case $prev in\n"
        "        --to) COMPREPLY=($(compgen -W \"%sxmf imf\" -- \"$cur\")); return ;;\n"
        "        --header-style) COMPREPLY=($(compgen -W \"plain firmware\" -- \"$cur\")); return ;;\n"
        "        --effort) COMPREPLY=($(compgen -W \"fast high max\" -- \"$cur\")); return ;;\n"
        "    esac\n"
        "    if [[ $cmd == help ]]; then COMPREPLY=($(compgen -W \"%s\" -- \"$cur\")); return; fi\n"
        "    local opts\n"
        "    case $cmd in\n",
        formats.c_str(), names.c_str());
    for (const auto& c : Commands()) {
        std::string opts = "--help";
        for (const char* o : c.options) opts += std::string(" ") + o;
        std::printf("        %s) opts=\"%s\" ;;\n", c.name, opts.c_str());
    }
    std::printf(
        "        '') COMPREPLY=($(compgen -W \"%shelp -y -q -v --help --version\" -- \"$cur\")); return ;;\n"
        "    esac\n"
        "    if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\")); return; fi\n"
        "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
        "}\n"
        "complete -o filenames -F _cadenzor cadenzor\n",
        names.c_str());
}

int Usage(const char* message, const char* command) {
    if (message) std::fprintf(stderr, "cadenzor: %s\n", message);
    if (command)
        std::fprintf(stderr, "Try 'cadenzor %s --help'.\n", command);
    else
        std::fputs("Try 'cadenzor --help'.\n", stderr);
    return cz::cli::kExitUsage;
}

bool ParseNumber(const char* text, unsigned long* out) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-') return false;
    *out = v;
    return true;
}

// "512K", "2M", "65536": bytes, K and M counted in 1024s.
bool ParseSize(const std::string& text, unsigned long long* out) {
    if (text.empty() || text[0] == '-') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str()) return false;
    std::string unit = end;
    unsigned long long scale = 1;
    if (unit == "K" || unit == "k" || unit == "KiB" || unit == "KB")
        scale = 1024;
    else if (unit == "M" || unit == "m" || unit == "MiB" || unit == "MB")
        scale = 1024 * 1024;
    else if (!unit.empty() && unit != "B")
        return false;
    if (v > (1ull << 40) / scale) return false;
    *out = v * scale;
    return true;
}

bool ParseDouble(const std::string& text, double* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// What the output formats of --to cannot do is refused before anything is
// read: a format that is not written, --bin for a format without a chip
// binary, a coder option the format does not take. (convert checks the
// same against its output's extension before it writes.)
int CheckFormatOptions(const CommandSpec& spec, const Options& options) {
    const std::string command = spec.name;
    if (command != "batch" && command != "pack" && command != "report") return 0;
    for (const std::string& f : options.formats) {
        const cz::FormatDescriptor* row = cz::FindFormatByExtension(f);
        // IMF is made from MIDI: a pack or batch of melodies (batch refuses --bin itself).
        if (command != "report" && cz::cli::FormatIdForExtension(f) == cz::kFormatImf) continue;
        if (!row || !row->facts.output) {
            std::fprintf(stderr, "cadenzor: %s: %s (write %s)\n", f.c_str(),
                         row ? "files of this format are read, not written" : "not a format the tool writes",
                         cz::cli::FormatListText().c_str());
            return Usage(nullptr, spec.name);
        }
        if (command != "batch" && row->id == cz::kFormatWav) continue;  // refused by the command in its words
        if ((options.binaries || command == "pack") && row->id != cz::kFormatWav && !row->facts.binary) {
            std::fprintf(stderr, "cadenzor: %s: %s makes no chip resource binary: %s needs one of %s\n", f.c_str(),
                         std::string(cz::FormatShortName(*row)).c_str(), command == "pack" ? "pack" : "--bin",
                         cz::cli::BinaryFormatListText().c_str());
            return Usage(nullptr, spec.name);
        }
        uint32_t param = 0;
        std::string why;
        if (!cz::cli::CodecParameter(options, row->id, &param, &why) && !why.empty()) {
            std::fprintf(stderr, "cadenzor: %s: %s\n", f.c_str(), why.c_str());
            return Usage(nullptr, spec.name);
        }
    }
    return 0;
}

// Splits "--opt=value" and combined short flags ("-yq") into single words.
std::vector<std::string> Normalize(int argc, char** argv) {
    std::vector<std::string> out;
    bool rest = false;  // after "--" every word is a file name
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (rest) {
            out.push_back(a);
            continue;
        }
        if (a == "--") {
            rest = true;
            out.push_back(a);
            continue;
        }
        size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            out.push_back(a.substr(0, eq));
            out.push_back(a.substr(eq + 1));
            continue;
        }
        bool combined = a.size() > 2 && a[0] == '-' && a[1] != '-';
        for (size_t k = 1; combined && k < a.size(); ++k)
            if (a[k] != 'y' && a[k] != 'q' && a[k] != 'v') combined = false;
        if (combined) {
            for (size_t k = 1; k < a.size(); ++k) out.push_back(std::string("-") + a[k]);
            continue;
        }
        out.push_back(a);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    cz::cli::InstallInterruptCleanup();
    std::vector<std::string> args = Normalize(argc, argv);
    // Global flags may stand before the command.
    size_t at = 0;
    std::vector<std::string> before;
    while (at < args.size() && (args[at] == "-y" || args[at] == "-q" || args[at] == "-v")) before.push_back(args[at++]);
    if (at >= args.size()) return Usage("no command given");
    const std::string command = args[at++];
    if (command == "-h" || command == "--help" || command == "help") {
        if (command == "help" && at < args.size()) {
            const CommandSpec* c = FindCommand(args[at]);
            if (!c) return Usage(("unknown command '" + args[at] + "'").c_str());
            PrintCommandHelp(*c);
            return 0;
        }
        PrintUsage();
        return 0;
    }
    if (command == "--version" || command == "version") {
        std::printf("cadenzor %s\n", CADENZOR_VERSION);
        return 0;
    }
    if (command == "--completion") {
        if (at >= args.size() || args[at] != "bash") return Usage("--completion takes 'bash'");
        PrintCompletion();
        return 0;
    }
    const CommandSpec* spec = FindCommand(command);
    if (!spec) {
        if (!command.empty() && command[0] == '-') return Usage(("unknown option '" + command + "'").c_str());
        return Usage(("unknown command '" + command + "'").c_str());
    }
    std::vector<std::string> words(before);
    words.insert(words.end(), args.begin() + static_cast<long>(at), args.end());
    if (command == "plan") return cz::cli::RunPlan(words);

    Options options;
    bool filesOnly = false;
    bool compatible = false, haveEffort = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& a = words[i];
        if (filesOnly || a == "-" || a.empty() || a[0] != '-') {
            options.inputs.push_back(a);
            continue;
        }
        if (a == "--") {
            filesOnly = true;
            continue;
        }
        if (a == "-h" || a == "--help") {
            PrintCommandHelp(*spec);
            return 0;
        }
        const OptionSpec* o = FindOption(a);
        if (!o) return Usage(("unknown option '" + a + "'").c_str(), spec->name);
        const std::string name = o->name;
        // The global flags are taken by every command, and mean nothing where
        // a command has no use for them.
        const bool global = name == "-y" || name == "-q" || name == "-v";
        if (!global && !Takes(*spec, name))
            return Usage(("'" + name + "' does not apply to '" + command + "'").c_str(), spec->name);
        if (name == "--bin" && BinIsFlag(command)) {
            options.binaries = true;
            continue;
        }
        std::string v;
        if (o->value) {
            if (i + 1 >= words.size()) return Usage((name + " needs a value (" + o->value + ")").c_str(), spec->name);
            v = words[++i];
        }
        if (name == "-y") {
            options.overwrite = true;
        } else if (name == "-q") {
            options.quiet = true;
        } else if (name == "-v") {
            options.verbose = true;
        } else if (name == "--source") {
            options.source = true;
        } else if (name == "--any-rate") {
            options.anyRate = true;
        } else if (name == "--json") {
            options.json = true;
        } else if (name == "--wav") {
            options.wav = true;
        } else if (name == "--entry") {
            unsigned long entry = 0;
            if (!ParseNumber(v.c_str(), &entry) || entry > 65535)
                return Usage("--entry takes an entry number from 0 to 65534", spec->name);
            options.entry = static_cast<long>(entry);
        } else if (name == "--for-play") {
            options.forPlay = true;
        } else if (name == "--dls") {
            options.dls = v;
        } else if (name == "-o") {
            options.output = v;
        } else if (name == "--rate") {
            unsigned long rate = 0;
            if (!ParseNumber(v.c_str(), &rate) || rate == 0 || rate > 384000)
                return Usage("--rate takes a sample rate in Hz from 1 to 384000", spec->name);
            options.rate = rate;
            options.haveRate = true;
        } else if (name == "--bin") {
            options.binary = v;
        } else if (name == "--header-style") {
            if (v != "plain" && v != "firmware") return Usage("--header-style takes 'plain' or 'firmware'", spec->name);
            options.firmwareHeader = v == "firmware";
        } else if (name == "--mode") {
            unsigned long mode = 0;
            if (!ParseNumber(v.c_str(), &mode) || mode > 255) return Usage("--mode takes a number from 0 to 255");
            options.mode = static_cast<long>(mode);
        } else if (name == "--bitrate" || name == "--quality") {
            unsigned long n = 0;
            if (!ParseNumber(v.c_str(), &n) || n > 6553500)
                return Usage((name + " takes a number").c_str(), spec->name);
            (name == "--bitrate" ? options.bitrate : options.quality) = static_cast<long>(n);
        } else if (name == "--max-bytes") {
            unsigned long bytes = 0;
            if (!ParseNumber(v.c_str(), &bytes) || bytes > 0xFFFFFFFFul)
                return Usage("--max-bytes takes a byte count", spec->name);
            options.maxBytes = bytes;
            options.haveMaxBytes = true;
        } else if (name == "--to") {
            size_t start = 0;
            while (start <= v.size()) {
                size_t comma = v.find(',', start);
                if (comma == std::string::npos) comma = v.size();
                std::string f = v.substr(start, comma - start);
                if (!f.empty() && f[0] == '.') f.erase(0, 1);
                if (!f.empty()) options.formats.push_back(f);
                start = comma + 1;
            }
            if (options.formats.empty()) return Usage("--to takes a format such as apm", spec->name);
        } else if (name == "-j") {
            unsigned long jobs = 0;
            if (!ParseNumber(v.c_str(), &jobs) || jobs == 0 || jobs > 256)
                return Usage("-j takes a number of workers from 1 to 256", spec->name);
            options.jobs = static_cast<unsigned>(jobs);
        } else if (name == "--budget") {
            unsigned long long bytes = 0;
            if (!ParseSize(v, &bytes) || bytes == 0)
                return Usage("--budget takes a size such as 65536, 512K or 2M", spec->name);
            options.budget = bytes;
        } else if (name == "--html") {
            options.html = v;
        } else if (name == "--player") {
            options.player = v;
        } else if (name == "--factor" || name == "--semitones") {
            const bool isFactor = name == "--factor";
            double n = 0;
            if (!ParseDouble(v, &n) || (isFactor ? n < 0.25 || n > 4.0 : n < -24.0 || n > 24.0))
                return Usage(
                    isFactor ? "--factor takes a number from 0.25 to 4" : "--semitones takes a number from -24 to 24",
                    spec->name);
            (isFactor ? options.factor : options.semitones) = n;
            (isFactor ? options.haveFactor : options.haveSemitones) = true;
        } else if (name == "--compatible") {
            compatible = true;
        } else if (name == "--effort") {
            if (!cz::api::Profile::ParseEffort(v, &options.profile.effort))
                return Usage("--effort takes 'fast', 'high' or 'max'", spec->name);
            haveEffort = true;
        }
    }
    if (compatible && haveEffort)
        return Usage("--effort sets the search of the default profile; --compatible codes as the exported functions do",
                     spec->name);
    if (compatible) options.profile = cz::api::Profile::Compatible();
    if (options.haveRate && (options.rate < 4000 || options.rate > 48000))
        std::fprintf(stderr, "cadenzor: warning: %lu Hz is outside the rates the chips play (4000 to 48000 Hz)\n",
                     options.rate);

    if (const int refused = CheckFormatOptions(*spec, options)) return refused;
    return spec->run(options);
}
