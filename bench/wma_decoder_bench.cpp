// WMA frame decoding speed beside ffmpeg's wmav2/wmav1 decoder (one thread),
// on every stream kind of the accuracy matrix, on the Windows Media encoder
// files (when ../shared/testdata is there) and on two 3-minute clips, plus
// the whole `cadenzor convert` process on the 3-minute 128 kbit/s clip.
//
// The test files are made at run time with ffmpeg in a temporary folder (a
// tone under pink noise). Our decoder is timed in process with
// CLOCK_PROCESS_CPUTIME_ID over the decoding loop (units already in memory,
// 16-bit output). ffmpeg runs as a child process timed by the user + system
// time of RUSAGE_CHILDREN: it decodes the file `loops` times in one run
// (-stream_loop), so that its decoding outweighs the noise of the start-up,
// and the start-up (the same file with -t 0.01: loading, probing, opening the
// decoder) is measured on its own and taken off. Every stream is decoded at
// least 300 seconds' worth per timing; each figure is the best of several
// runs and is given per pass over the file.
#include <cmath>
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

// CPU seconds of `loops` passes over the units with one decoder (reset
// between passes); the samples of one pass in *samples.
double DecodeOurs(const cz::wma::test::AsfAudio& audio, int loops, size_t* samples) {
    cz::wma::WmaDecoder decoder;
    if (!decoder.Open(audio.format)) {
        return -1;
    }
    std::vector<int16_t> out;
    out.reserve(size_t(1) << 16);
    size_t total = 0;
    const double start = cz::bench::ProcessCpuSeconds();
    for (int pass = 0; pass < loops; ++pass) {
        decoder.Reset();
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
    }
    *samples = total / size_t(loops);
    return cz::bench::ProcessCpuSeconds() - start;
}

double TimeShell(const std::string& command) {
    const double before = cz::bench::ChildrenCpuSeconds();
    if (!Run(command)) {
        return -1;
    }
    return cz::bench::ChildrenCpuSeconds() - before;
}

struct Stream {
    std::string name;
    std::string file;
    std::string map;  // ffmpeg's name of the stream we decode
};

std::string MakeClip(const std::string& path, const char* codec, int rate, int channels, const char* bitRate,
                     int seconds) {
    const std::string d = std::to_string(seconds);
    return "ffmpeg -v quiet -y -f lavfi -i sine=frequency=440:duration=" + d + " -f lavfi -i anoisesrc=d=" + d +
           ":a=0.2:c=pink -filter_complex amix=inputs=2 -c:a " + codec + " -ar " + std::to_string(rate) + " -ac " +
           std::to_string(channels) + " -b:a " + bitRate + " '" + path + "'";
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
    std::vector<Stream> streams;
    auto make = [&](const std::string& name, const char* codec, int rate, int channels, const char* bitRate,
                    int seconds) {
        const std::string file = base + "/" + std::to_string(streams.size()) + ".wma";
        if (Run(MakeClip(file, codec, rate, channels, bitRate, seconds))) {
            streams.push_back({name, file, "0:a:0"});
        } else {
            std::printf("%-40s could not be made\n", name.c_str());
        }
    };
    make("3 min wmav2 44100 2ch 128k", "wmav2", 44100, 2, "128k", 180);
    make("3 min wmav2 22050 2ch 32k", "wmav2", 22050, 2, "32k", 180);
    // The accuracy matrix: v1 and v2 at every rate, mono and stereo, low
    // and high bit rates.
    struct MatrixCase {
        const char* codec;
        int rate;
        int channels;
        const char* bitRate;
    };
    const MatrixCase matrix[] = {
        {"wmav1", 8000, 1, "24k"},   {"wmav1", 8000, 2, "64k"},   {"wmav1", 16000, 1, "48k"},
        {"wmav1", 16000, 2, "32k"},  {"wmav1", 22050, 1, "24k"},  {"wmav1", 22050, 2, "128k"},
        {"wmav1", 32000, 1, "64k"},  {"wmav1", 32000, 2, "32k"},  {"wmav1", 44100, 1, "24k"},
        {"wmav1", 44100, 2, "128k"}, {"wmav1", 48000, 1, "64k"},  {"wmav1", 48000, 2, "32k"},
        {"wmav2", 8000, 1, "48k"},   {"wmav2", 8000, 2, "32k"},   {"wmav2", 16000, 1, "24k"},
        {"wmav2", 16000, 2, "64k"},  {"wmav2", 22050, 1, "64k"},  {"wmav2", 22050, 2, "32k"},
        {"wmav2", 32000, 1, "24k"},  {"wmav2", 32000, 2, "128k"}, {"wmav2", 44100, 1, "64k"},
        {"wmav2", 44100, 2, "32k"},  {"wmav2", 44100, 2, "192k"}, {"wmav2", 48000, 1, "24k"},
        {"wmav2", 48000, 2, "128k"},
    };
    for (const MatrixCase& c : matrix) {
        const std::string name =
            std::string(c.codec) + " " + std::to_string(c.rate) + " " + std::to_string(c.channels) + "ch " + c.bitRate;
        make(name, c.codec, c.rate, c.channels, c.bitRate, 20);
    }
    // The Windows Media encoder files, the first audio stream of each.
    const std::string asf = std::string(CZ_SOURCE_DIR) + "/../shared/testdata/asf/";
    const char* real[][2] = {
        {"wma92-32k.wma", "0:a:0"},
        {"wma92-vbr.wma", "0:a:0"},
        {"wmv92-with-audio.wmv", "0:a:0"},
        {"wma92-mbr.wma", "0:a:0"},
    };
    for (const auto& r : real) {
        if (access((asf + r[0]).c_str(), R_OK) == 0) {
            streams.push_back({r[0], asf + r[0], r[1]});
        }
    }

    const int runs = 3;
    std::printf("processor: %s\n", cz::bench::CpuModel().c_str());
    std::printf("seconds of CPU per pass over the stream; ffmpeg with its start-up taken off, the start-up beside\n");
    std::printf("%-28s %7s %5s %10s %10s %10s %9s\n", "stream", "audio s", "loops", "cadenzor", "ffmpeg", "ff start",
                "ff/ours");
    double worst = 1e30;
    for (const Stream& s : streams) {
        cz::wma::test::AsfAudio audio;
        if (!cz::wma::test::ReadAsfAudio(ReadAll(s.file), audio) || audio.format.sampleRate == 0 ||
            audio.format.channels == 0) {
            std::printf("%-28s could not be read\n", s.name.c_str());
            continue;
        }
        size_t samples = 0;
        if (DecodeOurs(audio, 1, &samples) < 0) {
            std::printf("%-28s could not be opened\n", s.name.c_str());
            continue;
        }
        const double seconds = double(samples) / audio.format.channels / audio.format.sampleRate;
        const int loops = std::max(1, int(std::ceil(300.0 / std::max(seconds, 0.01))));
        const double ours = cz::bench::BestOf(runs, [&] { return DecodeOurs(audio, loops, &samples); }) / loops;
        const std::string command = "ffmpeg -v quiet -threads 1 ";
        const std::string tail = " -map " + s.map + " -threads 1 -f s16le -y /dev/null";
        const double whole = cz::bench::BestOf(runs, [&] {
            return TimeShell(command + "-stream_loop " + std::to_string(loops - 1) + " -i '" + s.file + "'" + tail);
        });
        const double startup =
            cz::bench::BestOf(runs, [&] { return TimeShell(command + "-t 0.01 -i '" + s.file + "'" + tail); });
        const double ffmpeg = (whole - startup) / loops;
        worst = std::min(worst, ffmpeg / ours);
        std::printf("%-28s %7.1f %5d %10.5f %10.5f %10.3f %8.2fx\n", s.name.c_str(), seconds, loops, ours, ffmpeg,
                    startup, ffmpeg / ours);
    }
    std::printf("slowest ratio (ffmpeg's time over ours): %.2fx\n", worst);

    // The whole tool on the 3-minute clip, beside ffmpeg writing the same WAV.
    const std::string tool = cz::bench::ToolPath();
    if (!tool.empty() && !streams.empty()) {
        const std::string& file = streams[0].file;
        const std::string wav = base + "/out.wav";
        const double ours = cz::bench::BestOf(
            runs, [&] { return TimeShell("'" + tool + "' convert -y '" + file + "' '" + wav + "'"); });
        const std::string command = "ffmpeg -v quiet -threads 1 ";
        const double whole = cz::bench::BestOf(
            runs, [&] { return TimeShell(command + "-i '" + file + "' -threads 1 -y '" + wav + "'"); });
        const double startup = cz::bench::BestOf(
            runs, [&] { return TimeShell(command + "-t 0.01 -i '" + file + "' -threads 1 -y '" + wav + "'"); });
        std::printf("\nwhole process, %s to WAV:\n", streams[0].name.c_str());
        std::printf("  cadenzor convert            %7.3f s\n", ours);
        std::printf("  ffmpeg (whole run)          %7.3f s  %6.2fx ours\n", whole, whole / ours);
        std::printf("  ffmpeg (start-up taken off) %7.3f s  %6.2fx ours (start-up %.3f s)\n", whole - startup,
                    (whole - startup) / ours, startup);
    } else {
        std::printf("\nwhole process: the tool (bin/cadenzor) is not built beside this benchmark\n");
    }
    Run("rm -rf " + base);
    return 0;
}
