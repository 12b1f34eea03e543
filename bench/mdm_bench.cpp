// MDM coding throughput and the SNR of the decoded section against the
// source, on speech: a WAV given as the argument, or 60 s of 16 kHz speech
// made with espeak-ng and sox (one sentence repeated).
//   mdm_bench [speech.wav] [runs]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/mdm/C_MdmFile.h"
#include "foundation/ByteReader.h"
#include "platform/Platform.h"
#include "wave/C_WavFile.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace cz;
    const std::string dir = platform::TempDirectory();
    std::string input = argc > 1 ? argv[1] : "";
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    if (input.empty()) {
        input = dir + "mdm_bench_speech.wav";
        if (!bench::MakeSpeechWav(
                "The quick brown fox jumps over the lazy dog while the chip keeps talking about the weather.", input,
                {"repeat", "30", "trim", "0", "60"}, {"-s", "150"})) {
            std::fprintf(stderr, "could not make the speech with espeak-ng and sox\n");
            return 2;
        }
    }
    C_WavFileFormat factory;  // installs the writers
    C_WavFile wav;
    if (!wav.Load(input.c_str(), 0)) {
        std::fprintf(stderr, "cannot load %s\n", input.c_str());
        return 2;
    }
    C_WavData* sound = wav.Sound();
    const uint32_t count = sound->SampleCount();
    const double seconds = static_cast<double>(count) / sound->GetWavInfo()->GetSampleRate();
    std::printf("input: %u samples, %.1f s at %u Hz\n", count, seconds, sound->GetWavInfo()->GetSampleRate());
    const std::string out = dir + "mdm_bench_out.mdm";
    std::printf("processor: %s\n", bench::CpuModel().c_str());
    for (bool alternative : {false, true}) {
        double best = 1e30;
        for (int r = 0; r < runs; ++r) {
            C_MdmFile writer;
            writer.SetAlternativeCoder(alternative);
            writer.AttachWavData(sound);
            const auto t0 = std::chrono::steady_clock::now();
            const int ok = writer.Save(out.c_str());
            const auto t1 = std::chrono::steady_clock::now();
            writer.DetachWavData();
            if (!ok) {
                std::fprintf(stderr, "save failed\n");
                return 2;
            }
            best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
        }
        const std::vector<uint8_t> f = ReadAll(out);
        const uint32_t decodedAt = LoadU32(&f[48]), sourceAt = LoadU32(&f[38]);
        double signal = 0, noise = 0;
        for (uint32_t i = 0; i < count; ++i) {
            const double x = LoadU16(&f[sourceAt + 2ull * i]) - 2048.0;
            const double y = LoadU16(&f[decodedAt + 2ull * i]) - 2048.0;
            signal += x * x;
            noise += (x - y) * (x - y);
        }
        const double frameBytes = LoadU32(&f[32]) - 14.0;
        std::printf(
            "%-12s save %.1f ms (%.0fx real time, %.2f Msamples/s), frame section %.0f bytes (%.1f kbit/s), "
            "SNR %.2f dB\n",
            alternative ? "alternative" : "MDPCM", best * 1000, seconds / best, count / best / 1e6, frameBytes,
            frameBytes * 8 / seconds / 1000, 10 * std::log10(signal / noise));
    }
    platform::DeleteFile(out);
    return 0;
}
