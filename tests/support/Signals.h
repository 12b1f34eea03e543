// Test signals, each repeatable: noise, tones, and the voice-like signals the
// coder and format tests measure their quality on. The voice-like signals
// differ on purpose (pitch glide, harmonic count, level, noise) and each
// test's thresholds were set on its own one, so they stay separate here.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace cz::test {

// n samples of uniform noise within +-amplitude, repeatable by seed.
inline std::vector<int16_t> Noise(size_t n, uint32_t seed, int amplitude = 20000) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(-amplitude, amplitude);
    std::vector<int16_t> x(n);
    for (auto& v : x) v = static_cast<int16_t>(dist(gen));
    return x;
}

// A sine of freq Hz at the rate, starting at phase 0, rounded to 16 bits.
inline std::vector<int16_t> Tone(size_t n, double rate, double freq, double amplitude) {
    std::vector<int16_t> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * freq * i / rate)));
    return x;
}

// A square wave of halfPeriod samples high then halfPeriod low (low first
// when startHigh is false).
inline std::vector<int16_t> Square(size_t n, size_t halfPeriod, int amplitude, bool startHigh = true) {
    std::vector<int16_t> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<int16_t>((((i / halfPeriod) % 2 == 0) == startHigh) ? amplitude : -amplitude);
    return x;
}

// 12-bit voiced speech: a pitch-gliding series of 12 harmonics under a
// syllable envelope, with a little noise and a few clipped peaks (16 kHz).
inline std::vector<uint16_t> GlidingVoice12(size_t count, uint32_t seed = 1) {
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

// 12-bit speech of three fixed partials (180, 360, 1100 Hz) under a 3 Hz
// envelope plus Gaussian noise, centred on 2048 (16 kHz).
inline std::vector<uint16_t> SpeechLike12(size_t count, uint32_t seed = 1, double level = 1200.0) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 20.0);
    std::vector<uint16_t> out(count);
    for (size_t i = 0; i < count; ++i) {
        double t = static_cast<double>(i) / 16000.0;
        double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 3.0 * t);
        double v = level * envelope *
                   (0.6 * std::sin(2 * M_PI * 180 * t) + 0.3 * std::sin(2 * M_PI * 360 * t + 0.5) +
                    0.1 * std::sin(2 * M_PI * 1100 * t + 1.0));
        v += noise(rng);
        out[i] = static_cast<uint16_t>(std::clamp(2048.0 + std::round(v), 0.0, 4095.0));
    }
    return out;
}

// 12-bit voice of two partials (f and 3.1 f) under a 3 Hz envelope, no noise.
inline std::vector<uint16_t> TwoPartialVoice12(uint32_t count, double f = 180.0, uint32_t rate = 16000) {
    std::vector<uint16_t> w(count);
    for (uint32_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double env = 0.5 + 0.5 * std::sin(2 * M_PI * 3 * t);
        const double v = env * (900 * std::sin(2 * M_PI * f * t) + 300 * std::sin(2 * M_PI * 3.1 * f * t));
        w[i] = static_cast<uint16_t>(std::lround(2048 + v));
    }
    return w;
}

// 12-bit voice of two tones with a slow swell, by sample index (no rate);
// phase shifts the start so that two calls give different material.
inline std::vector<uint16_t> SwellingVoice12(size_t count, double amplitude = 1400.0, double phase = 0.0) {
    std::vector<uint16_t> s(count);
    for (size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) + phase;
        const double swell = 0.5 + 0.5 * std::sin(t / 700.0);
        const double v = amplitude * swell * (0.7 * std::sin(t * 0.09) + 0.3 * std::sin(t * 0.41));
        s[i] = static_cast<uint16_t>(std::lround(2048.0 + v));
    }
    return s;
}

// Signal-to-noise ratio in dB of decoded against source, both 12-bit offset
// binary, over count samples (200 when they are equal).
inline double SnrDb(const std::vector<uint16_t>& source, const uint16_t* decoded, size_t count) {
    double signal = 0.0, noise = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double s = static_cast<double>(source[i]) - 2048.0;
        const double e = static_cast<double>(decoded[i]) - static_cast<double>(source[i]);
        signal += s * s;
        noise += e * e;
    }
    return noise == 0.0 ? 200.0 : 10.0 * std::log10(signal / noise);
}
inline double SnrDb(const std::vector<uint16_t>& source, const std::vector<uint16_t>& decoded, size_t count) {
    return SnrDb(source, decoded.data(), count);
}

}  // namespace cz::test
