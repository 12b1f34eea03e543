// Clean resampling: nothing folds back below the new Nyquist frequency when the
// rate goes down, no images stay above the old one when it goes up, and the
// pass band is flat.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dsp/resample/C_PCMResample.h"
#include "dsp/resample/CleanResample.h"
#include "dsp/resample/ResampleKernels.h"

namespace cz {
namespace {

constexpr double kAmplitude = 20000.0;

std::vector<int16_t> Tone(double frequency, uint32_t rate, size_t count) {
    std::vector<int16_t> s(count);
    for (size_t i = 0; i < count; ++i)
        s[i] = int16_t(std::lround(kAmplitude * std::sin(2.0 * M_PI * frequency * double(i) / rate)));
    return s;
}

// Amplitude of the sinusoid of the given frequency in s: a DFT at that
// frequency under a four-term Blackman-Harris window (side lobes 92 dB down
// and falling), over the middle, clear of the edges' transients.
double AmplitudeAt(const std::vector<int16_t>& s, double frequency, uint32_t rate) {
    const size_t edge = s.size() / 8;
    const size_t n = s.size() - 2 * edge;
    double re = 0, im = 0, weight = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = 2.0 * M_PI * double(i) / double(n - 1);
        const double w = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
        const double phase = 2.0 * M_PI * frequency * double(i + edge) / rate;
        re += w * s[i + edge] * std::cos(phase);
        im += w * s[i + edge] * std::sin(phase);
        weight += w;
    }
    return 2.0 * std::hypot(re, im) / weight;
}

std::vector<int16_t> Resample(const std::vector<int16_t>& in, uint32_t from, uint32_t to) {
    C_PCMResample resampler;
    resampler.SetClean(true);
    const uint32_t count = C_PCMResample::DestinationCount(from, to, uint32_t(in.size()));
    std::vector<int16_t> out(count);
    EXPECT_EQ(resampler.ResampleSamples(kResampleSinc2, from, to, uint32_t(in.size()), count, in.data(), out.data(),
                                        kResampleSpare, nullptr),
              count);
    return out;
}

// Where a frequency lands at a rate: folded into 0 .. rate / 2.
double Fold(double frequency, uint32_t rate) {
    double f = std::fmod(frequency, double(rate));
    return f > rate / 2.0 ? rate - f : f;
}

struct Pair {
    uint32_t from, to;
};

class CleanResample : public ::testing::TestWithParam<Pair> {};

TEST_P(CleanResample, StopBandIsNinetyDecibelsDownAndPassBandFlat) {
    const auto [from, to] = GetParam();
    const double nyquist = 0.5 * std::min(from, to);
    const size_t count = from;  // one second
    for (double factor : {0.5, 0.9}) {
        const double f = factor * nyquist;
        const double gain = AmplitudeAt(Resample(Tone(f, from, count), from, to), f, to) / kAmplitude;
        EXPECT_LT(std::fabs(20.0 * std::log10(gain)), 0.05) << f << " Hz";
    }
    if (to < from) {
        // Tones above the new Nyquist frequency must not fold back.
        for (double factor : {1.05, 1.1, 1.5}) {
            const double f = factor * nyquist;
            if (f >= from / 2.0) continue;  // no such tone at the source rate
            const double alias = AmplitudeAt(Resample(Tone(f, from, count), from, to), Fold(f, to), to);
            EXPECT_LT(20.0 * std::log10(alias / kAmplitude + 1e-12), -90.0) << f << " Hz";
        }
    } else {
        // Tones below the old Nyquist frequency leave no images above it.
        for (double factor : {0.95, 0.9, 0.5}) {
            const double f = factor * nyquist;
            const double image = AmplitudeAt(Resample(Tone(f, from, count), from, to), from - f, to);
            EXPECT_LT(20.0 * std::log10(image / kAmplitude + 1e-12), -90.0) << f << " Hz";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, CleanResample,
                         ::testing::Values(Pair{48000, 8000}, Pair{44100, 16000}, Pair{22050, 8000},
                                           Pair{44100, 8000}, Pair{8000, 48000}, Pair{16000, 44100},
                                           Pair{8000, 22050}, Pair{44100, 48000}, Pair{48000, 44100},
                                           Pair{44100, 44099}),
                         [](const auto& info) {
                             return std::to_string(info.param.from) + "_" + std::to_string(info.param.to);
                         });

TEST(CleanResample, IsOffByDefaultAndLinearModeStaysLinear) {
    const std::vector<int16_t> in = Tone(4400, 48000, 4800);
    std::vector<int16_t> plain(800), clean(800);
    C_PCMResample a, b;
    b.SetClean(true);
    ASSERT_EQ(a.ResampleSamples(kResampleLinear, 48000, 8000, 4800, 800, in.data(), plain.data(), 1, nullptr), 800u);
    ASSERT_EQ(b.ResampleSamples(kResampleLinear, 48000, 8000, 4800, 800, in.data(), clean.data(), 1, nullptr), 800u);
    EXPECT_EQ(plain, clean);
    ASSERT_EQ(a.ResampleSamples(kResampleSinc2, 48000, 8000, 4800, 800, in.data(), plain.data(), 1, nullptr), 800u);
    ASSERT_EQ(b.ResampleSamples(kResampleSinc2, 48000, 8000, 4800, 800, in.data(), clean.data(), 1, nullptr), 800u);
    EXPECT_NE(plain, clean);
}

TEST(CleanResample, KeepsTimingAndFullScale) {
    // An impulse lands where its time says, and full-scale square waves
    // saturate rather than wrap.
    std::vector<int16_t> impulse(4800, 0);
    impulse[2400] = 30000;
    const std::vector<int16_t> down = Resample(impulse, 48000, 8000);
    size_t peak = 0;
    for (size_t i = 0; i < down.size(); ++i)
        if (std::abs(down[i]) > std::abs(down[peak])) peak = i;
    EXPECT_EQ(peak, 400u);
    std::vector<int16_t> square(8000);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 40) % 2 ? 32767 : -32768;
    for (int16_t v : Resample(square, 8000, 48000)) EXPECT_TRUE(v >= -32768 && v <= 32767);
    const std::vector<int16_t> up = Resample(square, 8000, 48000);
    int16_t top = 0;
    for (int16_t v : up) top = std::max(top, v);
    EXPECT_EQ(top, 32767);  // Gibbs overshoot saturates
}

TEST(CleanResample, LargeRatioTermsInterpolateThePhases) {
    // 44100 -> 44099 has 44099 phases: the stored rows are interpolated, and
    // the pass band stays as flat.
    resample::CleanResampler r(44100, 44099);
    EXPECT_GT(r.Taps(), 100u);
}

TEST(CleanResample, VectorLoopsGiveThePortableLoopsSamples) {
    std::vector<int16_t> noise(30011);
    uint32_t state = 12345;
    for (auto& v : noise) {
        state = state * 1664525u + 1013904223u;
        v = int16_t(state >> 16);
    }
    for (const Pair p : {Pair{44100, 16000}, Pair{8000, 22050}, Pair{44100, 44099}}) {
        resample::SetVectorKernelsAllowed(true);
        resample::SetWideVectorKernelsAllowed(true);
        const std::vector<int16_t> wide = Resample(noise, p.from, p.to);
        resample::SetWideVectorKernelsAllowed(false);
        const std::vector<int16_t> narrow = Resample(noise, p.from, p.to);
        resample::SetVectorKernelsAllowed(false);
        const std::vector<int16_t> portable = Resample(noise, p.from, p.to);
        resample::SetVectorKernelsAllowed(true);
        resample::SetWideVectorKernelsAllowed(true);
        EXPECT_EQ(wide, portable) << p.from << " -> " << p.to;
        EXPECT_EQ(narrow, portable) << p.from << " -> " << p.to;
    }
}

}  // namespace
}  // namespace cz
