// Decode throughput of the WAV ADPCM decoders against ffmpeg's, one run.
//
// Makes a 10-minute 44.1 kHz stereo signal with sox (two chirps with pink
// noise), encodes it with ffmpeg as adpcm_ima_wav and adpcm_ms, then times:
//   ours:   "entry": DecodeWavAdpcm on the fmt and data bodies already in
//           memory, making a fresh output vector each time (its page faults
//           included); "decode": DecodeBlocks into one reused output buffer,
//           closer to what ffmpeg does (it streams small frames to
//           /dev/null); process CPU time, best of 5 each;
//   ffmpeg: `ffmpeg -nostdin -v error -threads 1 -i x.wav -f s16le -y /dev/null`
//           as a child process, user + system CPU from getrusage
//           (RUSAGE_CHILDREN), best of 3, minus ffmpeg's start-up cost
//           measured the same way on a 50 ms file (best of 5).
// CPU time, not wall time, because the machine is shared. ffmpeg's figure
// includes reading the file; ours starts from memory.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "codecs/wavadpcm/WavAdpcmDecode.h"

namespace {

struct Chunks {
    std::vector<uint8_t> file;
    size_t fmtAt = 0, fmtSize = 0, dataAt = 0, dataSize = 0;
};

bool LoadWav(const std::string& path, Chunks& c) {
    std::ifstream in(path, std::ios::binary);
    c.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const auto& b = c.file;
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0) return false;
    for (size_t p = 12; p + 8 <= b.size();) {
        const uint32_t size = b[p + 4] | (b[p + 5] << 8) | (b[p + 6] << 16) | (static_cast<uint32_t>(b[p + 7]) << 24);
        const size_t avail = std::min<size_t>(size, b.size() - p - 8);
        if (std::memcmp(&b[p], "fmt ", 4) == 0) c.fmtAt = p + 8, c.fmtSize = avail;
        if (std::memcmp(&b[p], "data", 4) == 0) c.dataAt = p + 8, c.dataSize = avail;
        p += 8 + static_cast<size_t>(size) + (size & 1);
    }
    return c.fmtSize && c.dataSize;
}

bool Shell(const std::string& cmd) {
    if (std::system(cmd.c_str()) == 0) return true;
    std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    return false;
}

double FfmpegDecodeSeconds(const std::string& wav, int repeats) {
    return cz::bench::BestOf(repeats, [&] {
        return cz::bench::TimeProgram(
            {"ffmpeg", "-nostdin", "-v", "error", "-threads", "1", "-i", wav, "-f", "s16le", "-y", "/dev/null"});
    });
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/cz_wavadpcm_bench_XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string dir = pattern;
    const std::string src = dir + "/src.wav", tiny = dir + "/tiny.wav";
    std::printf("making a 10-minute 44.1 kHz stereo signal in %s ...\n", dir.c_str());
    std::printf("processor: %s\n", cz::bench::CpuModel().c_str());
    std::fflush(stdout);
    bool ok = Shell("sox -q -n -r 44100 -c 2 -b 16 " + src +
                    " synth 600 sine 220-4400 sine 330-990 synth 600 pinknoise mix gain -3") &&
              Shell("sox -q -n -r 44100 -c 2 -b 16 " + dir + "/tinysrc.wav synth 0.05 sine 440");

    struct Row {
        const char* name;
        const char* codec;
        std::string wav;
        std::string tinyWav;
    };
    std::vector<Row> rows = {{"IMA ADPCM (adpcm_ima_wav)", "adpcm_ima_wav", dir + "/ima.wav", dir + "/tiny_ima.wav"},
                             {"MS ADPCM (adpcm_ms)", "adpcm_ms", dir + "/ms.wav", dir + "/tiny_ms.wav"}};
    for (const Row& r : rows) {
        ok = ok && Shell(std::string("ffmpeg -nostdin -v error -y -i ") + src + " -c:a " + r.codec + " " + r.wav) &&
             Shell(std::string("ffmpeg -nostdin -v error -y -i ") + dir + "/tinysrc.wav -c:a " + r.codec + " " +
                   r.tinyWav);
    }
    if (!ok) {
        fs::remove_all(dir);
        return 1;
    }

    std::printf("\n%-27s %-10s %6s %9s | %9s %9s | %10s | %7s %7s | %7s\n", "format", "rounding", "MB in", "frames",
                "entry s", "decode s", "ffmpeg s", "ratio E", "ratio D", "x real");
    for (const Row& r : rows) {
        Chunks c;
        if (!LoadWav(r.wav, c)) return 1;
        const double startup = FfmpegDecodeSeconds(r.tinyWav, 5);
        const double ffmpeg = FfmpegDecodeSeconds(r.wav, 3) - startup;
        for (const auto arithmetic : {cz::WavAdpcmArithmetic::kReference, cz::WavAdpcmArithmetic::kExactProduct}) {
            double best = 1e30;
            cz::WavAdpcmStreamInfo info;
            for (int i = 0; i < 5; ++i) {
                std::vector<int16_t> out;
                const double t0 = cz::bench::ProcessCpuSeconds();
                if (!cz::DecodeWavAdpcm(&c.file[c.fmtAt], c.fmtSize, &c.file[c.dataAt], c.dataSize, out, &info,
                                        arithmetic)) {
                    std::fprintf(stderr, "decode failed: %s\n", cz::WavAdpcmErrorText(info.error));
                    return 1;
                }
                best = std::min(best, cz::bench::ProcessCpuSeconds() - t0);
            }
            cz::C_WavFileCodecInfo codecInfo;
            codecInfo.Read(&c.file[c.fmtAt], c.fmtSize);
            std::vector<int16_t> reused(codecInfo.FramesForDataSize(c.dataSize) * codecInfo.Channels());
            const auto decoder = cz::CreateWavAdpcmDecoder(codecInfo.FormatTag());
            decoder->SetArithmetic(arithmetic);
            double bestDecode = 1e30;
            for (int i = 0; i < 5; ++i) {
                const double t0 = cz::bench::ProcessCpuSeconds();
                if (decoder->DecodeBlocks(&c.file[c.dataAt], c.dataSize, reused.data(), reused.size() * sizeof(int16_t),
                                          codecInfo) < 0)
                    return 1;
                bestDecode = std::min(bestDecode, cz::bench::ProcessCpuSeconds() - t0);
            }
            const double seconds = static_cast<double>(info.frames) / info.sampleRate;
            std::printf("%-27s %-10s %6.1f %9zu | %9.4f %9.4f | %10.4f | %6.2fx %6.2fx | %7.0f\n", r.name,
                        arithmetic == cz::WavAdpcmArithmetic::kReference ? "reference" : "exact", c.dataSize / 1e6,
                        info.frames, best, bestDecode, ffmpeg, ffmpeg / best, ffmpeg / bestDecode,
                        seconds / bestDecode);
        }
        std::printf("%-27s ffmpeg start-up %.4f s subtracted (block %u bytes)\n", "", startup,
                    static_cast<unsigned>(c.file[c.fmtAt + 12] | (c.file[c.fmtAt + 13] << 8)));
    }
    std::printf(
        "\nCPU seconds. ratio = ffmpeg / ours (above 1: ours is faster), E for the entry, D for decode only;\n"
        "x real = audio seconds decoded per CPU second (decode only)\n");
    fs::remove_all(dir);
    return 0;
}
