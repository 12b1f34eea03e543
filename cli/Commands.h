// The commands of the cadenzor tool.
#pragma once

#include <string>
#include <vector>

namespace cz::cli {

enum ExitCode { kExitOk = 0, kExitUsage = 1, kExitFailed = 2 };

struct Options {
    bool overwrite = false;
    bool quiet = false;
    bool verbose = false;
    bool json = false;
    unsigned long rate = 0;
    bool haveRate = false;
    std::string binary;
    std::string output;
    long mode = -1;
    unsigned long maxBytes = 0;
    bool haveMaxBytes = false;
    // convert: a chip file's stored source samples instead of the sound the
    // chip plays.
    bool source = false;
    // convert from XMF: where the DLS bank goes, and whether both files are
    // made ready for a DLS-aware player.
    std::string dls;
    bool forPlay = false;
    std::vector<std::string> inputs;
};

int RunCheck(const Options& options);
int RunInfo(const Options& options);
int RunConvert(const Options& options);
int RunResample(const Options& options);
// Cuts an RBF resource to at most --max-bytes bytes (whole blocks, end mark).
int RunCut(const Options& options);

// MIDI files and XMF containers (MidiCommands.cpp).
bool IsMidiFile(const std::string& path);
int RunMidiInfo(const std::string& path, bool json);
int RunConvertToXmf(const Options& options);

// XMF files (XmfCommands.cpp).
bool IsXmfFile(const std::string& path);
int RunXmfInfo(const std::string& path, bool json);
int RunConvertFromXmf(const Options& options);

// "cadenzor: <file>: <reason>" on standard error.
void Fail(const std::string& file, const std::string& reason);

}  // namespace cz::cli
