// Signals and helpers shared by the MDPCM tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "codecs/mdpcm/C_MDPCMEncDec.h"

namespace cz::test {

// Voiced-speech-like 12-bit signal: a pitch-gliding harmonic series under a
// syllable envelope, with a little noise and a few clipped peaks.
inline std::vector<uint16_t> SpeechLike(size_t count, uint32_t seed = 1) {
    std::vector<uint16_t> x(count);
    double phase = 0.0;
    uint32_t lcg = seed;
    for (size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / 16000.0;
        const double pitch = 120.0 + 40.0 * std::sin(2 * M_PI * 1.5 * t);
        phase += 2 * M_PI * pitch / 16000.0;
        const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 3.0 * t);
        double s = 0.0;
        for (int h = 1; h <= 12; ++h) s += std::sin(h * phase) / h;
        lcg = lcg * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(lcg >> 8) / 16777216.0 - 0.5) * 60.0;
        const double v = 2048.0 + 1500.0 * envelope * s + noise;
        x[i] = static_cast<uint16_t>(std::lround(std::fmin(4095.0, std::fmax(0.0, v))));
    }
    return x;
}

// Signal-to-noise ratio in dB of decoded against source over count samples.
inline double SnrDb(const std::vector<uint16_t>& source, const std::vector<uint16_t>& decoded, size_t count) {
    double signal = 0.0, noise = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double s = static_cast<double>(source[i]) - 2048.0;
        const double e = static_cast<double>(decoded[i]) - static_cast<double>(source[i]);
        signal += s * s;
        noise += e * e;
    }
    return noise == 0.0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

struct Coded {
    std::vector<uint8_t> bytes;
    std::vector<uint16_t> decoded;
    bool endSeen = false;
};

// Encodes and decodes back with one coder; bytes is empty when Encode failed.
inline Coded RoundTrip(C_MDPCMEncDec& coder, const std::vector<uint16_t>& x, uint16_t initial, uint32_t L,
                       uint32_t S, int32_t padMode) {
    Coded c;
    c.bytes.resize(static_cast<size_t>(coder.GetMaxEncodedSize(static_cast<uint32_t>(x.size()), L, S)));
    const uint32_t n = coder.Encode(c.bytes.data(), c.bytes.size(), static_cast<uint32_t>(x.size()), x.data(),
                                    initial, L, S, padMode, nullptr);
    c.bytes.resize(n);
    if (n == 0) return c;
    c.decoded.resize(coder.CountDecodedSamples(L, S, c.bytes.data(), c.bytes.size()));
    c.decoded.resize(coder.Decode(c.decoded.data(), c.decoded.size(), c.bytes.data(), c.bytes.size(), initial, L,
                                  S, nullptr));
    c.endSeen = coder.EndMarkerSeen();
    return c;
}

}  // namespace cz::test
