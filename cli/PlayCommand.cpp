// "cadenzor play": any file the library reads, rendered as the chip plays it
// and handed to the system's player.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Commands.h"
#include "platform/Platform.h"

#if !defined(_WIN32)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace cz::cli {

namespace {

// The first of the names that is a program on PATH, or "".
std::string FindProgram(const std::vector<std::string>& names) {
#if defined(_WIN32)
    (void)names;
    return std::string();
#else
    const char* path = std::getenv("PATH");
    if (!path) return std::string();
    for (const auto& name : names) {
        if (name.find('/') != std::string::npos) {
            if (access(name.c_str(), X_OK) == 0) return name;
            continue;
        }
        std::string dirs = path;
        size_t start = 0;
        while (start <= dirs.size()) {
            size_t colon = dirs.find(':', start);
            if (colon == std::string::npos) colon = dirs.size();
            std::string dir = dirs.substr(start, colon - start);
            if (dir.empty()) dir = ".";
            const std::string candidate = dir + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
            start = colon + 1;
        }
    }
    return std::string();
#endif
}

int Run(const std::string& program, const std::string& wav) {
#if defined(_WIN32)
    (void)program;
    (void)wav;
    return -1;
#else
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>(wav.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace

int RunPlay(const Options& options) {
    const std::string& input = options.inputs.front();
    if (platform::DirectoryExists(input)) {
        Fail(input, "is a folder, not a sound file");
        return kExitFailed;
    }
    // The WAV stays after the command (the player may still be reading it,
    // and the user may want it): it goes to a new folder of its own.
    auto folder = platform::CreateTempDirectory(platform::TempDirectory(), "cadenzor-play-");
    if (!folder) {
        Fail(platform::TempDirectory(), "cannot make a folder for the rendered sound");
        return kExitFailed;
    }
    std::string base = input;
    size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base.erase(0, slash + 1);
    const std::string wav = *folder + platform::PathSeparator() + base + ".wav";
    Options one = options;
    one.output = wav;
    if (options.entry >= 0) {
        // One entry of a pack image: its resource binary, played as the chip plays it.
        one.inputs = {*folder + platform::PathSeparator() + base + ".entry" + std::to_string(options.entry) + ".bin"};
        if (!ExtractPackEntry(input, options.entry, one.inputs.front())) {
            platform::RemoveTree(*folder);
            return kExitFailed;
        }
        if (IsImfFile(one.inputs.front())) {
            platform::RemoveTree(*folder);
            std::fprintf(stderr,
                         "cadenzor: %s: entry %ld is a melody (IMF), not sound; \"unpack\" writes it as an .imf "
                         "file, and \"convert\" makes a MIDI file of that\n",
                         input.c_str(), options.entry);
            return kExitOk;
        }
    }
    one.overwrite = false;
    if (ConvertOne(one) != kExitOk) {
        platform::RemoveTree(*folder);
        return kExitFailed;
    }
    std::string player;
    if (options.player != "none")
        player = FindProgram(options.player.empty() ? std::vector<std::string>{"aplay", "paplay"}
                                                    : std::vector<std::string>{options.player});
    if (player.empty()) {
        if (!options.player.empty() && options.player != "none")
            std::fprintf(stderr, "cadenzor: %s: no such program\n", options.player.c_str());
        else if (options.player.empty())
            std::fprintf(stderr, "cadenzor: no player found (aplay, paplay)\n");
        std::printf("%s\n", wav.c_str());
        std::fprintf(stderr, "cadenzor: the sound the chip plays was written to %s\n", wav.c_str());
        return kExitOk;
    }
    if (options.verbose) std::fprintf(stderr, "cadenzor: playing %s with %s\n", wav.c_str(), player.c_str());
    const int status = Run(player, wav);
    if (status != 0) {
        Fail(player, "the player failed; the sound is in " + wav);
        return kExitFailed;
    }
    platform::RemoveTree(*folder);
    return kExitOk;
}

}  // namespace cz::cli
