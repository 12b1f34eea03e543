// WMA frame decoding speed beside ffmpeg's wmav2 decoder (one thread).
//
// The test files are made at run time with ffmpeg in a temporary folder: 3
// minutes of 128 kbit/s 44.1 kHz stereo and 60 seconds of 32 kbit/s 22.05
// kHz stereo (a tone under pink noise). Our decoder is timed in process with
// CLOCK_PROCESS_CPUTIME_ID over the decoding loop (units already in memory,
// 16-bit output); ffmpeg runs as a child process timed by the user + system
// time of RUSAGE_CHILDREN, once on the file and once on a 0.1-second file of
// the same kind, whose time (start-up, probing) is subtracted. Each figure is
// the best of several runs.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/decoders/wma/AsfUnits.h"
#include "BenchSupport.h"
#include "decoders/wma/WmaDecoder.h"

namespace {

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

double DecodeOurs(const cz::wma::test::AsfAudio& audio, size_t* samples) {
    cz::wma::WmaDecoder decoder;
    if (!decoder.Open(audio.format)) {
        return -1;
    }
    std::vector<int16_t> out;
    out.reserve(size_t(1) << 16);
    size_t total = 0;
    const double start = cz::bench::ProcessCpuSeconds();
    for (const auto& unit : audio.units) {
        out.clear();
        if (!decoder.DecodeUnit(unit.data(), unit.size(), out)) {
            decoder.Reset();
        }
        total += out.size();
    }
    out.clear();
    decoder.Flush(out);
    total += out.size();
    *samples = total;
    return cz::bench::ProcessCpuSeconds() - start;
}

double TimeShell(const std::string& command) {
    const double before = cz::bench::ChildrenCpuSeconds();
    if (!Run(command)) {
        return -1;
    }
    return cz::bench::ChildrenCpuSeconds() - before;
}

struct Clip {
    const char* name;
    const char* args;  // rate, channels, bit rate
    double seconds;
};

std::string Make(const std::string& path, const Clip& clip, double seconds) {
    const std::string d = std::to_string(seconds);
    return "ffmpeg -v quiet -y -f lavfi -i sine=frequency=440:duration=" + d + " -f lavfi -i anoisesrc=d=" + d +
           ":a=0.2:c=pink -filter_complex amerge=inputs=2 -c:a wmav2 " + clip.args + " " + path;
}

}  // namespace

int main() {
    if (!cz::bench::HaveProgram("ffmpeg")) {
        std::printf("ffmpeg is needed to make the test files\n");
        return 0;
    }
    char folder[] = "/tmp/cz_wma_bench_XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        return 1;
    }
    const std::string base = folder;
    const Clip clips[] = {
        {"3 min 128 kbit/s 44.1 kHz stereo", "-ar 44100 -ac 2 -b:a 128k", 180},
        {"60 s 32 kbit/s 22.05 kHz stereo", "-ar 22050 -ac 2 -b:a 32k", 60},
    };
    const int runs = 5;
    std::printf("processor: %s\n", cz::bench::CpuModel().c_str());
    std::printf("%-34s %-26s %9s %9s %10s\n", "clip", "decoder", "cpu s", "x real", "vs ours");
    for (const Clip& clip : clips) {
        const std::string file = base + "/clip.wma";
        const std::string tiny = base + "/tiny.wma";
        if (!Run(Make(file, clip, clip.seconds)) || !Run(Make(tiny, clip, 0.1))) {
            std::printf("%-34s could not be made\n", clip.name);
            continue;
        }
        cz::wma::test::AsfAudio audio;
        if (!cz::wma::test::ReadAsfAudio(ReadAll(file), audio)) {
            std::printf("%-34s could not be read\n", clip.name);
            continue;
        }
        size_t samples = 0;
        const double ours = cz::bench::BestOf(runs, [&] { return DecodeOurs(audio, &samples); });
        std::printf("%-34s %-26s %9.3f %9.0fx %10s\n", clip.name, "cadenzor (float)", ours, clip.seconds / ours,
                    "1.00");
        const std::string command = " -v quiet -threads 1 -c:a wmav2 -i ";
        const std::string tail = " -threads 1 -f s16le -y /dev/null";
        const double whole = cz::bench::BestOf(runs, [&] { return TimeShell("ffmpeg" + command + file + tail); });
        const double startup = cz::bench::BestOf(runs, [&] { return TimeShell("ffmpeg" + command + tiny + tail); });
        const double ffmpeg = whole - startup;
        std::printf("%-34s %-26s %9.3f %9.0fx %9.2fx\n", clip.name, "ffmpeg wmav2 (start-up off)", ffmpeg,
                    clip.seconds / ffmpeg, ffmpeg / ours);
        std::printf("%-34s %-26s %9.3f %9.0fx %9.2fx\n", clip.name, "ffmpeg wmav2 (whole run)", whole,
                    clip.seconds / whole, whole / ours);
    }
    Run("rm -rf " + base);
    return 0;
}
