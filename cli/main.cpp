// cadenzor: command-line front end of the library.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Commands.h"

#ifndef CADENZOR_VERSION
#define CADENZOR_VERSION "0.0.0"
#endif

namespace {

using cz::cli::Options;

const char kUsage[] =
    "usage: cadenzor <command> [options] files...\n"
    "\n"
    "commands:\n"
    "  check FILE...             say whether each file can be opened, with its format\n"
    "  info FILE... [--json]     format, samples, markers and metadata of each file\n"
    "  convert IN OUT            convert IN to OUT; the chain follows the extensions\n"
    "                            (.wav, .apm, .mdm, ...; .xmf from a WAV or APM file).\n"
    "                            Options:\n"
    "        --rate HZ           resample to HZ first\n"
    "        --bin FILE          also write the chip resource binary FILE and FILE.h\n"
    "        --mode N            coding mode of the APM coder\n"
    "        --source            from a chip file, its stored source samples\n"
    "                            (by default: the sound the chip plays)\n"
    "  convert X.xmf OUT.mid [--dls OUT.dls] [--for-play]\n"
    "                            the MIDI file of an XMF file, with its DLS bank;\n"
    "                            --for-play: bank selects added, the bank repaired\n"
    "  convert X.xmf OUT.wav     the speech resource of an XMF file as a WAV file\n"
    "  resample IN OUT --rate HZ resample a sound to a WAV file\n"
    "  cut IN OUT --max-bytes N  cut an RBF resource to at most N bytes, keeping\n"
    "                            whole blocks and its end mark\n"
    "\n"
    "options:\n"
    "  -o FILE        output file (instead of the second file name)\n"
    "  -y             overwrite existing output files\n"
    "  -q             no progress bar\n"
    "  -v             say more\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "\n"
    "exit codes: 0 success, 1 usage error, 2 a file could not be processed\n";

int Usage(const char* message) {
    if (message) std::fprintf(stderr, "cadenzor: %s\n", message);
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no command given");
    std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version" || command == "version") {
        std::printf("cadenzor %s\n", CADENZOR_VERSION);
        return 0;
    }
    Options options;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "cadenzor: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "-y") {
            options.overwrite = true;
        } else if (a == "-q") {
            options.quiet = true;
        } else if (a == "-v") {
            options.verbose = true;
        } else if (a == "--source") {
            options.source = true;
        } else if (a == "--for-play") {
            options.forPlay = true;
        } else if (a == "--dls") {
            const char* v = value("--dls");
            if (!v) return Usage(nullptr);
            options.dls = v;
        } else if (a == "--json") {
            options.json = true;
        } else if (a == "-o") {
            const char* v = value("-o");
            if (!v) return Usage(nullptr);
            options.output = v;
        } else if (a == "--rate" || a == "-r") {
            const char* v = value("--rate");
            unsigned long rate = 0;
            if (!v) return Usage(nullptr);
            if (!ParseNumber(v, &rate) || rate == 0 || rate > 384000)
                return Usage("--rate takes a sample rate in Hz from 1 to 384000");
            options.rate = rate;
            options.haveRate = true;
        } else if (a == "--bin") {
            const char* v = value("--bin");
            if (!v) return Usage(nullptr);
            options.binary = v;
        } else if (a == "--mode") {
            const char* v = value("--mode");
            unsigned long mode = 0;
            if (!v) return Usage(nullptr);
            if (!ParseNumber(v, &mode) || mode > 255) return Usage("--mode takes a number from 0 to 255");
            options.mode = static_cast<long>(mode);
        } else if (a == "--max-bytes") {
            const char* v = value("--max-bytes");
            unsigned long bytes = 0;
            if (!v) return Usage(nullptr);
            if (!ParseNumber(v, &bytes) || bytes > 0xFFFFFFFFul) return Usage("--max-bytes takes a byte count");
            options.maxBytes = bytes;
            options.haveMaxBytes = true;
        } else if (a.size() > 1 && a[0] == '-') {
            std::string m = "unknown option '" + a + "'";
            return Usage(m.c_str());
        } else {
            options.inputs.push_back(a);
        }
    }
    if (command == "check") {
        if (options.inputs.empty()) return Usage("check needs at least one file");
        return cz::cli::RunCheck(options);
    }
    if (command == "info") {
        if (options.inputs.empty()) return Usage("info needs at least one file");
        return cz::cli::RunInfo(options);
    }
    if (command == "convert" || command == "resample" || command == "cut") {
        if (options.output.empty() && options.inputs.size() == 2) {
            options.output = options.inputs.back();
            options.inputs.pop_back();
        }
        if (options.inputs.size() != 1 || options.output.empty())
            return Usage((command + " needs one input and one output file").c_str());
        if (command == "cut") {
            if (!options.haveMaxBytes) return Usage("cut needs --max-bytes N");
            return cz::cli::RunCut(options);
        }
        if (command == "resample") {
            if (!options.haveRate) return Usage("resample needs --rate HZ");
            return cz::cli::RunResample(options);
        }
        return cz::cli::RunConvert(options);
    }
    std::string m = "unknown command '" + command + "'";
    return Usage(m.c_str());
}
