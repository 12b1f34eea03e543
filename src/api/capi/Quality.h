// How close a rendition is to its source: two 16-bit PCM WAV files compared
// sample by sample over the shorter one (both mixed to mono when their
// channel counts differ).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace cz::capi {

struct QualityFigures {
    double snr = 0;        // dB over the whole sound; 99 when no error at all
    double segmental = 0;  // dB, the mean over 20 ms stretches, each held to -10..35
};

// None when either file is not 16-bit PCM WAV, the rates differ, or either
// holds no samples.
std::optional<QualityFigures> CompareWavBytes(const std::vector<uint8_t>& source,
                                              const std::vector<uint8_t>& rendition);

}  // namespace cz::capi
