// Shifting a sound's pitch at the same length: the pitch moves by the
// factor (measured by autocorrelation), the length stays, markers follow.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "api/chains/PitchChain.h"
#include "support/SoundFixtures.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

std::vector<int16_t> PulseTrain(size_t n, double period) {
    std::vector<int16_t> x(n);
    for (size_t i = 0; i < n; ++i) {
        const double k = std::fmod(static_cast<double>(i), period);
        x[i] = static_cast<int16_t>(std::lround(12000.0 * std::exp(-k / 6.0) * std::cos(0.9 * k)));
    }
    return x;
}

// The period in samples of x[from, from + n): the shortest lag whose
// normalised autocorrelation comes within 20 % of the best, refined by a
// parabola.
double Period(const C_WavData& sound, size_t from, size_t n) {
    auto r = [&](int lag) {
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = from; i < from + n; ++i) {
            const double a = sound.Sample(static_cast<uint32_t>(i), 0),
                         b = sound.Sample(static_cast<uint32_t>(i + lag), 0);
            xy += a * b, xx += a * a, yy += b * b;
        }
        return xy / std::sqrt(xx * yy);
    };
    std::vector<double> c(402);
    double best = 0;
    for (int lag = 19; lag <= 401; ++lag) best = std::max(best, c[lag] = r(lag));
    for (int lag = 20; lag <= 400; ++lag)
        if (c[lag] >= 0.8 * best && c[lag] >= c[lag - 1] && c[lag] >= c[lag + 1])
            return lag + 0.5 * (c[lag - 1] - c[lag + 1]) / (c[lag - 1] - 2 * c[lag] + c[lag + 1]);
    return 0;
}

TEST(PitchChain, SemitonesMoveThePitchAndKeepTheLength) {
    for (double semitones : {-5.0, -1.0, 3.0, 7.0}) {
        auto sound = test::Sound16(PulseTrain(16000, 128.0), 1, 16000);
        sound->GetActionEventMgr()->AddEventAtSample(1, 8000, "", 0);
        std::string why;
        ASSERT_TRUE(api::ShiftPitch(*sound, api::SemitoneFactor(semitones), true, nullptr, nullptr, &why)) << why;
        EXPECT_NEAR(sound->SampleCount(), 16000, 1) << semitones;
        EXPECT_EQ(sound->GetWavInfo()->GetSampleRate(), 16000u);
        const double expected = 128.0 / api::SemitoneFactor(semitones);
        EXPECT_NEAR(Period(*sound, 4000, 6000), expected, 0.02 * expected) << semitones;
        EXPECT_NEAR(sound->GetActionEventMgr()->Events().ItemAt(0)->GetSamplePos(), 8000, 2 * 128) << semitones;
    }
}

TEST(PitchChain, RefusalLeavesTheSoundAsItWas) {
    const std::vector<int16_t> x = PulseTrain(4000, 100.0);
    auto sound = test::Sound16(x, 1, 16000);
    std::string why;
    EXPECT_FALSE(api::ShiftPitch(*sound, 10.0, true, nullptr, nullptr, &why));
    EXPECT_FALSE(why.empty());
    auto empty = test::Sound16({}, 1, 16000);
    EXPECT_FALSE(api::ShiftPitch(*empty, 2.0, false, nullptr, nullptr, &why));
    ASSERT_EQ(sound->SampleCount(), x.size());
    for (uint32_t i = 0; i < x.size(); ++i) ASSERT_EQ(sound->Sample(i, 0), x[i]);
}

}  // namespace
}  // namespace cz
