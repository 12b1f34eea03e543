// MDPCM coding speed and quality on 60 s of 16 kHz speech, with the chip
// ADPCM coder (APM, mode 2) on the same samples for reference.
//
// The speech is made here: espeak-ng speaks a few sentences, sox turns them
// into 16 kHz mono 16-bit samples, and the clip is repeated to 60 s, then
// brought to the chip form (12-bit offset-binary). Both coders run with the
// chip file's settings (long 65, short 17, first-sample bits 9, end marker
// 255, padding toward mid-scale): the MDM coders, the 6-bit coder of MD6
// files and the least-error coder of EMM files. The free-frame-length word
// coders of Q420 MPM files run with 64-sample frames. Times are process CPU
// time, best of several runs; SNR is decoded against the 12-bit source.
//
//   mdpcm_bench [runs]
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/mdpcm/C_EnhancedMDPCMCodec.h"
#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "codecs/mdpcm/C_MDPCMEncDec6Bit.h"
#include "codecs/mdpcm/C_MdpcmCodecFreeFrameSize.h"
#include "codecs/mdpcm/C_WNMDPCMEncDec.h"
#include "formats/legacy/LegacyLayout.h"
#include "codecs/mdpcm/C_WNMdpcmCodecFreeFrameSize.h"

namespace {

constexpr uint32_t kRate = 16000;
constexpr uint32_t kSeconds = 60;
constexpr uint32_t kLong = 65;
constexpr uint32_t kShort = 17;

const char* const kText =
    "The quick brown fox jumps over the lazy dog. Speech chips play short phrases from a small memory, "
    "so every byte counts. Seven silver swans swam silently seaward. Please press the green button twice.";

bool MakeSpeech(std::vector<uint16_t>& chip) {
    char dirTemplate[] = "/tmp/mdpcm_bench_XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) return false;
    const std::string dir = dirTemplate;
    const std::string wav = dir + "/speech.wav";
    const std::vector<int16_t> clip =
        cz::bench::MakeSpeechWav(kText, wav, {}) ? cz::bench::ReadMonoWav16(wav) : std::vector<int16_t>{};
    std::remove(wav.c_str());
    rmdir(dir.c_str());
    if (clip.empty()) return false;
    chip.resize(size_t{kRate} * kSeconds);
    for (size_t i = 0; i < chip.size(); ++i) chip[i] = cz::bench::ChipSample(clip[i % clip.size()]);
    std::printf("speech: %.2f s clip from espeak-ng, repeated to %u s at %u Hz\n",
                static_cast<double>(clip.size()) / kRate, kSeconds, kRate);
    return true;
}

double SnrDb(const std::vector<uint16_t>& x, const std::vector<uint16_t>& y) {
    double signal = 0.0, noise = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double s = static_cast<double>(x[i]) - 2048.0;
        const double e = static_cast<double>(y[i]) - static_cast<double>(x[i]);
        signal += s * s;
        noise += e * e;
    }
    return 10.0 * std::log10(signal / std::max(noise, 1e-9));
}

// diffBits: the bits of one difference in the chip's records (5, or 6 for MD6).
void Run(const char* name, cz::C_MDPCMEncDec& coder, const std::vector<uint16_t>& x, int runs, int diffBits = 5) {
    coder.SetEndMarker(255);
    const auto count = static_cast<uint32_t>(x.size());
    std::vector<uint8_t> stream(static_cast<size_t>(coder.GetMaxEncodedSize(count, kLong, kShort)));
    uint32_t bytes = 0;
    double bestEncode = 1e30, bestDecode = 1e30;
    std::vector<uint16_t> decoded(count + kLong + kShort);
    uint32_t samples = 0;
    for (int r = 0; r < runs; ++r) {
        double t0 = cz::bench::ProcessCpuSeconds();
        bytes = coder.Encode(stream.data(), stream.size(), count, x.data(), 2048, kLong, kShort, 0, nullptr);
        bestEncode = std::min(bestEncode, cz::bench::ProcessCpuSeconds() - t0);
        t0 = cz::bench::ProcessCpuSeconds();
        samples = coder.Decode(decoded.data(), decoded.size(), stream.data(), bytes, 2048, kLong, kShort, nullptr);
        bestDecode = std::min(bestDecode, cz::bench::ProcessCpuSeconds() - t0);
    }
    if (bytes == 0 || samples < count) {
        std::printf("%s: coding failed\n", name);
        return;
    }
    decoded.resize(count);
    std::printf(
        "%-14s encode %7.2f ns/sample  decode %6.2f ns/sample  stream %u bytes (%.2f bits/sample as %d-bit "
        "records)  SNR %.2f dB\n",
        name, bestEncode * 1e9 / count, bestDecode * 1e9 / count, bytes,
        // chip records: 2 bytes per frame head + diffBits per further sample
        (2.0 * (coder.LongFrameCount() + coder.ShortFrameCount()) * 8 +
         diffBits * double(count + coder.Padding() - coder.LongFrameCount() - coder.ShortFrameCount())) /
            count,
        diffBits, SnrDb(x, decoded));
}

void RunFree(const char* name, cz::C_MdpcmCodecFreeFrameSize& coder, const std::vector<uint16_t>& x, int runs) {
    const auto count = static_cast<uint32_t>(x.size());
    std::vector<uint8_t> stream(static_cast<size_t>(coder.GetMaxEncodedSize(count)));
    std::vector<uint16_t> decoded(count + 2);
    uint32_t bytes = 0, samples = 0;
    double bestEncode = 1e30, bestDecode = 1e30;
    for (int r = 0; r < runs; ++r) {
        double t0 = cz::bench::ProcessCpuSeconds();
        bytes = coder.Encode(stream.data(), stream.size(), count, x.data(), nullptr);
        bestEncode = std::min(bestEncode, cz::bench::ProcessCpuSeconds() - t0);
        t0 = cz::bench::ProcessCpuSeconds();
        samples = coder.Decode(decoded.data(), decoded.size(), stream.data(), bytes, nullptr);
        bestDecode = std::min(bestDecode, cz::bench::ProcessCpuSeconds() - t0);
    }
    if (bytes == 0 || samples < count) {
        std::printf("%s: coding failed\n", name);
        return;
    }
    decoded.resize(count);
    std::printf(
        "%-14s encode %7.2f ns/sample  decode %6.2f ns/sample  stream %u bytes (%.2f bits/sample)  SNR %.2f dB\n", name,
        bestEncode * 1e9 / count, bestDecode * 1e9 / count, bytes, bytes * 8.0 / count, SnrDb(x, decoded));
}

void RunApm(const std::vector<uint16_t>& x, int runs) {
    cz::C_ADPCMEncDec coder(12, 64);
    const auto count = static_cast<uint32_t>(x.size());
    std::vector<uint8_t> codes(coder.GetMaxEncodedSize(count, 2));
    std::vector<uint16_t> decoded;
    uint32_t used = 0, written = 0;
    double bestEncode = 1e30, bestDecode = 1e30;
    for (int r = 0; r < runs; ++r) {
        double t0 = cz::bench::ProcessCpuSeconds();
        used = coder.Encode(count, x.data(), codes.data(), static_cast<uint32_t>(codes.size()), 2, nullptr);
        bestEncode = std::min(bestEncode, cz::bench::ProcessCpuSeconds() - t0);
        decoded.assign(coder.GetDecodedBufferSize(used) / 2, 0);
        t0 = cz::bench::ProcessCpuSeconds();
        written = coder.Decode(codes.data(), used, decoded.data(), static_cast<uint32_t>(decoded.size() * 2), nullptr);
        bestDecode = std::min(bestDecode, cz::bench::ProcessCpuSeconds() - t0);
    }
    if (used == 0 || written / 2 < count) {
        std::printf("APM: coding failed\n");
        return;
    }
    decoded.resize(count);
    std::printf(
        "%-14s encode %7.2f ns/sample  decode %6.2f ns/sample  stream %u bytes (%.2f bits/sample)  SNR %.2f dB\n",
        "APM (mode 2)", bestEncode * 1e9 / count, bestDecode * 1e9 / count, used, used * 8.0 / count,
        SnrDb(x, decoded));
}

// The WMD file's coding: the MDPCM coder with the header alias, whole first
// samples, frames of 63 and 15 from 2047, packed into 16-bit words; the
// times include packing and unpacking the frame data.
void RunWmd(const std::vector<uint16_t>& x, int runs) {
    cz::C_MDPCMEncDec coder(1, 16);
    const auto count = static_cast<uint32_t>(x.size());
    const uint32_t L = cz::kWmdLongFrame, S = cz::kWmdShortFrame;
    std::vector<uint8_t> stream(static_cast<size_t>(coder.GetMaxEncodedSize(count, L, S)));
    std::vector<uint8_t> frames;
    uint8_t first = 0;
    bool packed = false;
    double bestEncode = 1e30, bestDecode = 1e30;
    std::vector<uint16_t> decoded(count + L + S);
    uint32_t samples = 0;
    for (int r = 0; r < runs; ++r) {
        double t0 = cz::bench::ProcessCpuSeconds();
        const uint32_t bytes =
            coder.Encode(stream.data(), stream.size(), count, x.data(), cz::kWmdInitialValue, L, S, 0, nullptr);
        packed = bytes != 0 && cz::WmdStreamToFrames(stream.data(), bytes, frames, first);
        bestEncode = std::min(bestEncode, cz::bench::ProcessCpuSeconds() - t0);
        t0 = cz::bench::ProcessCpuSeconds();
        const std::vector<uint8_t> unpacked = cz::WmdFramesToStream(frames.data(), frames.size(), first);
        samples = coder.Decode(decoded.data(), decoded.size(), unpacked.data(), unpacked.size(), cz::kWmdInitialValue,
                               L, S, nullptr);
        bestDecode = std::min(bestDecode, cz::bench::ProcessCpuSeconds() - t0);
    }
    if (!packed || samples < count) {
        std::printf("WMD: coding failed\n");
        return;
    }
    decoded.resize(count);
    std::printf(
        "%-14s encode %7.2f ns/sample  decode %6.2f ns/sample  frame data %zu bytes (%.2f bits/sample)  "
        "SNR %.2f dB\n",
        "WMD (63/15)", bestEncode * 1e9 / count, bestDecode * 1e9 / count, frames.size(),
        8.0 * static_cast<double>(frames.size()) / count, SnrDb(x, decoded));
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<uint16_t> x;
    if (!MakeSpeech(x)) {
        std::fprintf(stderr, "could not make speech with espeak-ng and sox\n");
        return 1;
    }
    std::printf("CPU time (CLOCK_PROCESS_CPUTIME_ID), best of %d runs, %zu samples\n", runs, x.size());
    std::printf("processor: %s\n", cz::bench::CpuModel().c_str());
    cz::C_MDPCMEncDec plain(0, 9);
    Run("MDPCM", plain, x, runs);
    cz::C_WNMDPCMEncDec wn(9);
    Run("MDPCM (alt)", wn, x, runs);
    RunWmd(x, runs);
    cz::C_MDPCMEncDec6Bit six(0, 9);
    Run("MDPCM 6-bit", six, x, runs, 6);
    cz::C_EnhancedMDPCMCodec enhanced(0, 9);
    Run("MDPCM enhanced", enhanced, x, runs);
    cz::C_MdpcmCodecFreeFrameSize freeFrames(64);
    RunFree("free frames", freeFrames, x, runs);
    cz::C_WNMdpcmCodecFreeFrameSize freeSearch(64);
    RunFree("free (search)", freeSearch, x, runs);
    RunApm(x, runs);
    return 0;
}
