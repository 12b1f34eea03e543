// The resampler on arbitrary rates, lengths and samples.
//
// Input: byte 0 mode, bytes 1-4 source rate, 5-8 target rate (little-endian,
// taken as they are: zero and out-of-range rates must fail cleanly), bytes
// 9-10 a destination count adjustment, the rest the 16-bit source samples.
// With bit 6 of byte 0 set, the samples become a sound whose rate field is
// bytes 1-4 as they are (as a WAV or chip header would give it), resampled
// to bytes 5-8 through the sound path, which must refuse what it cannot do
// before allocating for it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dsp/resample/C_PCMResample.h"
#include "wave/C_WavData.h"

namespace {

uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 11) return 0;
    const int32_t mode = data[0] % 4;
    // Mostly valid rates, sometimes anything at all.
    uint32_t from = U32(data + 1), to = U32(data + 5);
    if (!(data[0] & 0x80)) {
        from = 1 + from % cz::C_PCMResample::kMaxRate;
        to = 1 + to % cz::C_PCMResample::kMaxRate;
    }
    if (data[0] & 0x40) {
        const uint32_t fileRate = U32(data + 1), target = U32(data + 5) % (2 * cz::C_PCMResample::kMaxRate);
        const uint16_t channels = 1 + (data[10] & 1);
        const size_t frames = (size - 11) / (2u * channels);
        if (frames == 0) return 0;
        // Keep a run short: an accepted output is bounded by the ratio limit.
        if (static_cast<uint64_t>(frames) * cz::C_PCMResample::kMaxRatio > (1u << 20)) return 0;
        cz::C_WavData sound, result;
        const uint32_t bytes = static_cast<uint32_t>(frames * 2u * channels);
        sound.SetFormat(fileRate, bytes, channels, 16, 16, 1);
        sound.SetSampleData(data + 11, bytes);
        cz::C_PCMResample resampler;
        const uint32_t made = resampler.ResampleWavData(mode, &sound, &result, target, 1.0, nullptr);
        const uint32_t want = cz::C_PCMResample::DestinationCount(fileRate, target, static_cast<uint32_t>(frames));
        if (made != 0 && (!cz::C_PCMResample::ValidRatePair(fileRate, target) || made != want)) std::abort();
        return 0;
    }
    const int adjust = static_cast<int8_t>(data[9]);
    std::vector<int16_t> source((size - 11) / 2);
    if (!source.empty()) std::memcpy(source.data(), data + 11, source.size() * 2);

    uint64_t count = cz::C_PCMResample::DestinationCount(from, to, static_cast<uint32_t>(source.size()));
    if (data[10] & 1) count = static_cast<uint64_t>(std::max<int64_t>(0, static_cast<int64_t>(count) + adjust));
    // Keep a run short: the cost grows with the output.
    if (count > (1u << 16)) count = 1u << 16;
    // One guard sample past the end catches writes beyond the count.
    std::vector<int16_t> destination(count + 1, 0x5A5A);
    cz::C_PCMResample resampler;
    const uint32_t made =
        resampler.ResampleSamples(mode, from, to, static_cast<uint32_t>(source.size()), static_cast<uint32_t>(count),
                                  source.empty() ? nullptr : source.data(), destination.data(), 1.0, nullptr);
    if (made > count || destination[count] != 0x5A5A) std::abort();
    for (size_t i = 0; (mode == 1 || mode == 2) && i < made; ++i) {
        if (destination[i] < -32767) std::abort();
    }
    return 0;
}
