// What the benchmarks share: CPU clocks for this process and its children,
// running peer programs as timed child processes, best-of-N timing, and the
// speech input made with espeak-ng and sox.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/CpuFeatures.h"

extern char** environ;

namespace cz::bench {

// CPU seconds this process has used (CLOCK_PROCESS_CPUTIME_ID).
inline double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// User + system CPU seconds of the children waited for so far.
inline double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs a program found on PATH and waits for it; with quiet, its standard
// output and error go to /dev/null. Returns its exit status, or -1 when it
// could not be started or did not exit normally.
inline int RunProgram(const std::vector<std::string>& args, bool quiet = false) {
    if (args.empty()) return -1;
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a program as RunProgram does; returns the CPU seconds the child used
// (user + system), or -1 when it failed.
inline double TimeProgram(const std::vector<std::string>& args, bool quiet = false) {
    const double before = ChildrenCpuSeconds();
    if (RunProgram(args, quiet) != 0) return -1;
    return ChildrenCpuSeconds() - before;
}

// Whether the shell finds a program of that name.
// The tool built beside the benchmarks (bin/cadenzor next to this program's
// folder), or empty when it is not there.
inline std::string ToolPath() {
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    std::string path(self, size_t(n));
    path = path.substr(0, path.find_last_of('/')) + "/cadenzor";
    return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

inline bool HaveProgram(const char* name) {
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// The smallest of runs timings by f (seconds); -1 as soon as one is negative.
template <typename F>
double BestOf(int runs, F&& f) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const double t = f();
        if (t < 0) return -1;
        best = std::min(best, t);
    }
    return best;
}

// CPU seconds of this process over one call of work.
template <typename F>
double ProcessCpuSecondsOf(F&& work) {
    const double before = ProcessCpuSeconds();
    work();
    return ProcessCpuSeconds() - before;
}

// Speaks text with espeak-ng (voiceOptions go before the text, e.g. a
// speed) and turns it with sox into a 16 kHz mono 16-bit WAV at path, sox
// effects appended (e.g. repeat and trim). Both programs run quietly; the
// spoken file lies next to path while it is needed. True when both ran.
inline bool MakeSpeechWav(const std::string& text, const std::string& path, const std::vector<std::string>& effects,
                          const std::vector<std::string>& voiceOptions = {}) {
    const std::string voice = path + ".voice.wav";
    std::vector<std::string> speak = {"espeak-ng"};
    speak.insert(speak.end(), voiceOptions.begin(), voiceOptions.end());
    speak.insert(speak.end(), {"-w", voice, text});
    std::vector<std::string> convert = {"sox", voice, "-r", "16000",          "-c", "1",
                                        "-b",  "16",  "-e", "signed-integer", path};
    convert.insert(convert.end(), effects.begin(), effects.end());
    const bool made = RunProgram(speak, true) == 0 && RunProgram(convert, true) == 0;
    std::remove(voice.c_str());
    return made;
}

// 16-bit mono samples of a PCM WAV file (empty on any problem).
inline std::vector<int16_t> ReadMonoWav16(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
                                     (static_cast<uint32_t>(bytes[at + 3]) << 24));
    };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return {};
    size_t at = 12;
    bool pcm16 = false;
    while (at + 8 <= bytes.size()) {
        uint32_t size = u32(at + 4);
        size_t body = at + 8;
        if (body + size > bytes.size()) size = static_cast<uint32_t>(bytes.size() - body);
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && size >= 16) {
            uint16_t channels = static_cast<uint16_t>(bytes[body + 2] | (bytes[body + 3] << 8));
            uint16_t bits = static_cast<uint16_t>(bytes[body + 14] | (bytes[body + 15] << 8));
            pcm16 = channels == 1 && bits == 16;
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            if (!pcm16) return {};
            std::vector<int16_t> samples(size / 2);
            std::memcpy(samples.data(), bytes.data() + body, samples.size() * 2);
            return samples;
        }
        at = body + size + (size & 1);
    }
    return {};
}

// The kernel tier the run uses, beside the machine's best (CADENZOR_CPU
// lowers it; scripts/bench.sh runs every benchmark at every tier).
inline std::string TierText() {
    return std::string(" [kernel tier ") + platform::CpuTierName(platform::ActiveCpuTier()) + " of " +
           platform::CpuTierName(platform::MachineCpuTier()) + "]";
}

// The processor's model name (Linux: /proc/cpuinfo; "unknown" elsewhere) and
// the kernel tier in use.
inline std::string CpuModel() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos)
            return line.substr(line.find(':') + 2) + TierText();
    return "unknown" + TierText();
}

// The chip form of a 16-bit sample: 12-bit offset binary.
inline uint16_t ChipSample(int16_t sample) { return static_cast<uint16_t>((sample + 32768) >> 4); }

}  // namespace cz::bench
