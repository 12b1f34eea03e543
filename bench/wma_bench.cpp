// WMA decoding speed and memory beside ffmpeg's wmav2 decoder (one thread).
//
// Test files are made at run time with sox and ffmpeg in a temporary folder:
// 3 minutes of 128 kbit/s 44.1 kHz stereo and 60 seconds of 32 kbit/s
// 22.05 kHz stereo. Our decoder is timed in process with
// CLOCK_PROCESS_CPUTIME_ID over the ASF reading and decoding of the whole
// file (already in memory; the PCM is counted, not written). ffmpeg runs as a
// child process timed by RUSAGE_CHILDREN, decoding to /dev/null; its start-up
// (the same command on a 0.1-second file of the same kind) is subtracted.
// Each figure is the best of several runs. Peak memory is the ru_maxrss of a
// child process running the whole WMA-to-WAV driver on the 3-minute file and
// on a 30-minute file made the same way.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "decoders/wma/C_WmaToWavConverter.h"
#include "decoders/wma/WmaFileDecoder.h"

namespace {

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

class MemorySource final : public cz::wma::I_AsfSource {
public:
    explicit MemorySource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    const uint8_t* ReadAt(uint64_t offset, size_t count, size_t* available) override {
        *available = 0;
        if (offset >= bytes_.size()) return nullptr;
        *available = std::min<size_t>(count, bytes_.size() - offset);
        return bytes_.data() + offset;
    }

private:
    const std::vector<uint8_t>& bytes_;
};

// CPU seconds of the ASF reading alone (media objects gathered, not decoded).
double ReadOurs(const std::vector<uint8_t>& asf) {
    const double start = cz::bench::ProcessCpuSeconds();
    MemorySource source(asf);
    cz::wma::AsfReader reader(source);
    if (reader.ReadHeader() != cz::wma::AsfError::kNone) return -1;
    std::vector<cz::wma::AsfMediaObject> objects;
    size_t bytes = 0;
    while (reader.NextPacket(objects) == cz::wma::AsfPacketResult::kOk) {
        for (const auto& o : objects) bytes += o.bytes.size();
        objects.clear();
    }
    const double seconds = cz::bench::ProcessCpuSeconds() - start;
    return bytes > 0 ? seconds : -1;
}

// CPU seconds of our decoder over the whole file; -1 when it fails.
double DecodeOurs(const std::vector<uint8_t>& asf, uint64_t* frames) {
    static int16_t pcm[4096];
    const double start = cz::bench::ProcessCpuSeconds();
    MemorySource source(asf);
    cz::wma::WmaFileDecoder decoder(source);
    if (!decoder.Open()) {
        std::printf("our decoder refuses the file: %s\n", decoder.LastError().c_str());
        return -1;
    }
    uint64_t total = 0;
    cz::wma::WmaPacketStatus status;
    while ((status = decoder.NextPacket()) == cz::wma::WmaPacketStatus::kOk) {
        uint32_t remaining = 0;
        do {
            total += decoder.Decode(pcm, 2048, &remaining);
        } while (remaining > 0);
    }
    const double seconds = cz::bench::ProcessCpuSeconds() - start;
    if (status == cz::wma::WmaPacketStatus::kError) {
        std::printf("our decoder failed: %s\n", decoder.LastError().c_str());
        return -1;
    }
    *frames = total;
    return seconds;
}

double TimeShell(const std::string& command) {
    const double before = cz::bench::ChildrenCpuSeconds();
    if (!Run(command)) return -1;
    return cz::bench::ChildrenCpuSeconds() - before;
}

long PeakMemoryKiB(const char* self, const std::string& in, const std::string& out) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, "--convert", in.c_str(), out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

struct Clip {
    const char* name;
    const char* sox;  // format and effects after the seconds
    const char* ffmpeg;
    double seconds;
};

std::string MakeWma(const std::string& base, const Clip& clip, double seconds, const std::string& stem) {
    const std::string wav = base + "/" + stem + ".wav", wma = base + "/" + stem + ".wma";
    char command[512];
    std::snprintf(command, sizeof command, "sox -n %s %s synth %.1f %s 2>/dev/null", clip.sox, wav.c_str(), seconds,
                  "pluck C3 pinknoise gain -4");
    if (!Run(command)) return std::string();
    if (!Run("ffmpeg -v error -y -i " + wav + " " + clip.ffmpeg + " " + wma)) return std::string();
    std::remove(wav.c_str());
    return wma;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--convert") {
        cz::wma::C_WmaToWavConverter converter;
        return converter.Convert(argv[2], argv[3], nullptr) == 1 ? 0 : 1;
    }
    if (!cz::bench::HaveProgram("sox") || !cz::bench::HaveProgram("ffmpeg")) {
        std::printf("sox and ffmpeg are needed to make the test files\n");
        return 0;
    }
    char dirTemplate[] = "/tmp/cz_wma_bench_XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (dir == nullptr) return 1;
    const std::string base(dir);
    const Clip clips[] = {
        {"3 min 128 kbit/s stereo 44.1 kHz", "-r 44100 -c 2 -b 16", "-c:a wmav2 -b:a 128k", 180.0},
        {"60 s 32 kbit/s stereo 22.05 kHz", "-r 22050 -c 2 -b 16", "-c:a wmav2 -b:a 32k", 60.0},
    };
    const int runs = 5;
    std::printf("processor: %s\n", cz::bench::CpuModel().c_str());
    std::printf("CPU time, best of %d; realtime = audio seconds / CPU seconds; ratio = ffmpeg / ours\n", runs);
    std::printf("%-34s %-26s %9s %10s %8s\n", "file", "decoder", "cpu (s)", "realtime", "ratio");
    std::string longFile;
    for (size_t c = 0; c < sizeof clips / sizeof clips[0]; ++c) {
        const Clip& clip = clips[c];
        const std::string wma = MakeWma(base, clip, clip.seconds, "clip" + std::to_string(c));
        const std::string tiny = MakeWma(base, clip, 0.1, "tiny" + std::to_string(c));
        if (wma.empty() || tiny.empty()) {
            std::printf("could not make %s\n", clip.name);
            continue;
        }
        if (c == 0) longFile = wma;
        const std::vector<uint8_t> bytes = ReadAll(wma);
        uint64_t frames = 0;
        const double ours = cz::bench::BestOf(runs, [&] { return DecodeOurs(bytes, &frames); });
        if (ours < 0) continue;
        std::printf("%-34s %-26s %9.3f %9.0fx %8s\n", clip.name, "cadenzor", ours, clip.seconds / ours, "1.00");
        const double asf = cz::bench::BestOf(runs, [&] { return ReadOurs(bytes); });
        std::printf("%-34s %-26s %9.4f %9s %8s\n", clip.name, "  of which ASF reading", asf, "", "");
        auto ffmpeg = [](const std::string& in) {
            return "ffmpeg -v quiet -threads 1 -i " + in + " -threads 1 -f s16le -y /dev/null";
        };
        const double startup = cz::bench::BestOf(runs, [&] { return TimeShell(ffmpeg(tiny)); });
        const double whole = cz::bench::BestOf(runs, [&] { return TimeShell(ffmpeg(wma)); });
        if (startup < 0 || whole < 0) {
            std::printf("%-34s %-26s %9s\n", clip.name, "ffmpeg wmav2", "failed");
            continue;
        }
        const double t = std::max(whole - startup, 1e-6);
        std::printf("%-34s %-26s %9.3f %9.0fx %7.2fx\n", clip.name, "ffmpeg wmav2 (start-up off)", t,
                    clip.seconds / t, t / ours);
        std::printf("%-34s ffmpeg start-up %.3f s subtracted; %llu frames decoded\n", "", startup,
                    static_cast<unsigned long long>(frames));
    }
    if (!longFile.empty()) {
        const std::string thirty = MakeWma(base, clips[0], 1800.0, "thirty");
        if (!thirty.empty())
            std::printf("peak memory of the WMA-to-WAV driver (child ru_maxrss): 3 min %ld KiB, 30 min %ld KiB\n",
                        PeakMemoryKiB(argv[0], longFile, base + "/peak.wav"),
                        PeakMemoryKiB(argv[0], thirty, base + "/peak.wav"));
    }
    Run("rm -rf " + base);
    return 0;
}
