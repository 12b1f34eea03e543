// MP3 decoding speed and memory beside mpg123, ffmpeg (fixed and floating
// point decoders, one thread) and madplay.
//
// Test files are made at run time with sox and lame in a temporary folder: a
// 3-minute 128 kbit/s stereo file, a 60-second 16 kbit/s 8 kHz mono file and
// a 0.1-second file that shows the peers' start-up cost.
// Our decoder is timed in process with CLOCK_PROCESS_CPUTIME_ID over the
// decoding loop (file already in memory); the peers run as child processes,
// timed by the user + system time of RUSAGE_CHILDREN (their file reading and
// start-up included). Each figure is the best of several runs. Peak memory is
// the ru_maxrss of a child process running the whole MP3-to-WAV driver on a
// 3-minute and a 30-minute file (the latter the former ten times over).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "decoders/mp3/Mp3Decoder.h"
#include "decoders/mp3/Mp3Kernels.h"

namespace {

using cz::mp3::Mp3DecodeFrame;
using cz::mp3::Mp3DecoderCreate;
using cz::mp3::Mp3FindSync;

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return bytes;
    }
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    std::fclose(f);
    return bytes;
}

// CPU seconds of our decoder over the whole file; out receives the samples.
double DecodeOurs(const std::vector<uint8_t>& mp3, size_t* samples) {
    auto decoder = Mp3DecoderCreate();
    int16_t pcm[cz::mp3::kMp3MaxFrameSamples];
    const double start = cz::bench::ProcessCpuSeconds();
    const uint8_t* p = mp3.data();
    int32_t left = int32_t(mp3.size());
    size_t total = 0;
    for (;;) {
        const int32_t off = Mp3FindSync(p, left);
        if (off < 0) {
            break;
        }
        p += off;
        left -= off;
        const int32_t result = Mp3DecodeFrame(decoder.get(), &p, &left, pcm);
        if (result == 0) {
            cz::mp3::Mp3FrameFormat format;
            cz::mp3::Mp3GetFrameFormat(decoder.get(), &format);
            total += size_t(format.outputSamples);
        } else if (result == cz::mp3::kMp3InvalidHeader) {
            p += 1;
            left -= 1;
        } else if (result == cz::mp3::kMp3InputUnderflow || result == cz::mp3::kMp3NoDecoder) {
            break;
        }
    }
    *samples = total;
    return cz::bench::ProcessCpuSeconds() - start;
}

// Child CPU seconds of a shell command; -1 when it fails.
double TimeShell(const std::string& command) {
    const double before = cz::bench::ChildrenCpuSeconds();
    if (!Run(command)) {
        return -1;
    }
    return cz::bench::ChildrenCpuSeconds() - before;
}

// Peak resident set of a child running the driver on in (writing out), in
// KiB.
long PeakMemoryKiB(const char* self, const std::string& in, const std::string& out) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, "--convert", in.c_str(), out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss;
}

struct Clip {
    const char* name;
    const char* soxFormat;
    const char* soxEffects;
    const char* lame;
    double seconds;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--decode") {
        // Our decoder alone on one file: best CPU time of 9 runs.
        const std::vector<uint8_t> bytes = ReadAll(argv[2]);
        size_t samples = 0;
        const double best = cz::bench::BestOf(9, [&] { return DecodeOurs(bytes, &samples); });
        std::printf("%.4f s, %zu samples\n", best, samples);
        return 0;
    }
    if (argc == 4 && std::string(argv[1]) == "--convert") {
        cz::mp3::C_Mp3ToWavConverter converter;
        return converter.Convert(argv[2], argv[3], nullptr, 0) == 1 ? 0 : 1;
    }
    if (!cz::bench::HaveProgram("sox") || !cz::bench::HaveProgram("lame")) {
        std::printf("sox and lame are needed to make the test files\n");
        return 0;
    }
    char dirTemplate[] = "/tmp/cz_mp3_bench_XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (dir == nullptr) {
        return 1;
    }
    const std::string base(dir);
    const Clip clips[] = {
        {"3 min 128 kbit/s stereo 44.1 kHz", "-r 44100 -c 2 -b 16", "synth 180 pluck C3 pinknoise gain -4", "-b 128",
         180.0},
        {"60 s 16 kbit/s mono 8 kHz", "-r 8000 -c 1 -b 16", "synth 60 pinknoise gain -6", "-b 16", 60.0},
        // A file of a few frames: the peers' start-up, which their figures
        // above include and ours do not.
        {"0.1 s 128 kbit/s stereo (start-up)", "-r 44100 -c 2 -b 16", "synth 0.1 pinknoise gain -6", "-b 128", 0.1},
    };
    const int runs = 5;
    const char* kernels = cz::mp3::ActiveMp3Kernels().name;
    std::printf("processor: %s; MP3 kernels: %s (plain avx2%s)\n", cz::bench::CpuModel().c_str(), kernels,
                cz::mp3::Avx512Mp3Kernels() != nullptr ? " avx512" : "");
    std::printf(
        "CPU time, best of %d; realtime factor = audio seconds / CPU seconds; ours in process (file in\n"
        "memory), peers as programs (their start-up and file reading included)\n",
        runs);
    std::printf("%-34s %-22s %9s %10s %12s\n", "file", "decoder", "cpu (s)", "realtime", "ours faster");
    std::string longFile;
    for (size_t c = 0; c < sizeof clips / sizeof clips[0]; ++c) {
        const Clip& clip = clips[c];
        const std::string wav = base + "/clip" + std::to_string(c) + ".wav";
        const std::string mp3 = base + "/clip" + std::to_string(c) + ".mp3";
        if (!Run(std::string("sox -n ") + clip.soxFormat + " " + wav + " " + clip.soxEffects + " 2>/dev/null") ||
            !Run(std::string("lame --quiet ") + clip.lame + " " + wav + " " + mp3)) {
            std::printf("could not make %s\n", clip.name);
            continue;
        }
        if (c == 0) {
            longFile = mp3;
        }
        const std::vector<uint8_t> bytes = ReadAll(mp3);
        size_t samples = 0;
        const double ours = cz::bench::BestOf(runs, [&] { return DecodeOurs(bytes, &samples); });
        const std::string ourName = std::string("cadenzor (") + kernels + ")";
        std::printf("%-34s %-22s %9.3f %9.0fx %12s\n", clip.name, ourName.c_str(), ours, clip.seconds / ours, "1.00");
        // The other kernel forms on the same file: what processors without
        // the widest vector form get.
        for (const char* form : {"avx2", "plain"}) {
            if (std::string(kernels) == form || !cz::mp3::ForceMp3Kernels(form)) {
                continue;
            }
            const double t = cz::bench::BestOf(runs, [&] { return DecodeOurs(bytes, &samples); });
            cz::mp3::ForceMp3Kernels("");
            const std::string name = std::string("cadenzor (") + form + ")";
            std::printf("%-34s %-22s %9.3f %9.0fx %11.2fx\n", clip.name, name.c_str(), t, clip.seconds / t, t / ours);
        }
        struct Peer {
            const char* name;
            const char* tool;
            std::string command;
        };
        const Peer peers[] = {
            {"mpg123 (float)", "mpg123", "mpg123 -q -s " + mp3 + " > /dev/null 2>&1"},
            {"ffmpeg mp3 (fixed)", "ffmpeg",
             "ffmpeg -v quiet -threads 1 -c:a mp3 -i " + mp3 + " -threads 1 -f s16le -y /dev/null"},
            {"ffmpeg mp3float", "ffmpeg",
             "ffmpeg -v quiet -threads 1 -c:a mp3float -i " + mp3 + " -threads 1 -f s16le -y /dev/null"},
            {"madplay (libmad fixed)", "madplay", "madplay -Q -o raw:/dev/null " + mp3 + " 2>/dev/null"},
        };
        for (const Peer& peer : peers) {
            if (!cz::bench::HaveProgram(peer.tool)) {
                std::printf("%-34s %-22s %9s\n", clip.name, peer.name, "absent");
                continue;
            }
            const double t = cz::bench::BestOf(runs, [&] { return TimeShell(peer.command); });
            if (t < 0) {
                std::printf("%-34s %-22s %9s\n", clip.name, peer.name, "failed");
                continue;
            }
            std::printf("%-34s %-22s %9.3f %9.0fx %11.2fx\n", clip.name, peer.name, t, clip.seconds / t, t / ours);
        }
    }
    if (!longFile.empty()) {
        const std::string thirty = base + "/thirty.mp3";
        std::string cat = "cat";
        for (int i = 0; i < 10; ++i) {
            cat += " " + longFile;
        }
        if (Run(cat + " > " + thirty)) {
            std::printf("peak memory of the MP3-to-WAV driver (child ru_maxrss): 3 min %ld KiB, 30 min %ld KiB\n",
                        PeakMemoryKiB(argv[0], longFile, base + "/peak.wav"),
                        PeakMemoryKiB(argv[0], thirty, base + "/peak.wav"));
        }
    }
    Run("rm -rf " + base);
    return 0;
}
