// The resampler on plain sample arrays: agreement with a literal evaluation of
// its formulas, counts, saturation, bad input and progress.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "ReferenceResample.h"
#include "ResampleTestSupport.h"
#include "dsp/resample/C_PCMResample.h"
#include "dsp/resample/ResampleKernels.h"

namespace cz {
namespace {

using test::Noise;
using test::Recorder;
using test::Tone;

std::vector<int16_t> Resample(int mode, uint32_t from, uint32_t to, const std::vector<int16_t>& x, size_t count = 0) {
    if (count == 0) count = C_PCMResample::DestinationCount(from, to, static_cast<uint32_t>(x.size()));
    std::vector<int16_t> y(count);
    C_PCMResample resampler;
    const uint32_t made = resampler.ResampleSamples(mode, from, to, static_cast<uint32_t>(x.size()),
                                                    static_cast<uint32_t>(count), x.data(), y.data(), 1.0, nullptr);
    EXPECT_EQ(made, mode == 1 || mode == 2 ? count : made);
    return y;
}

struct Agreement {
    size_t total = 0;
    size_t exact = 0;
    int worst = 0;
    void Add(const std::vector<int16_t>& got, const std::vector<int16_t>& want) {
        EXPECT_EQ(got.size(), want.size());
        for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
            const int d = std::abs(got[i] - want[i]);
            ++total;
            exact += d == 0;
            worst = std::max(worst, d);
        }
    }
};

class VectorForm : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { resample::SetVectorKernelsAllowed(GetParam()); }
    void TearDown() override { resample::SetVectorKernelsAllowed(true); }
};

// Every rate pair on noise and tones, both sinc modes: the same samples as the
// literal formulas but for a rare difference of 1 where a sum lands within
// rounding of a whole number. An overdriven square (long runs of constant
// full-scale samples, sums close to whole numbers all the time) is held to
// the bound of 1 only.
TEST_P(VectorForm, SincAgreesWithLiteralFormulas) {
    struct Pair {
        uint32_t from, to;
    };
    const Pair pairs[] = {{44100, 16000}, {16000, 8000},  {16000, 22050}, {8000, 48000},
                          {11025, 16000}, {16000, 16000}, {48000, 44100}, {22050, 8000}};
    Agreement signals;
    Agreement squares;
    for (const Pair& p : pairs) {
        const size_t n = p.from / 2;
        std::vector<int16_t> square(n);
        for (size_t i = 0; i < n; ++i) square[i] = (i / 37) % 2 ? 32767 : -32768;
        const std::vector<int16_t> inputs[] = {Noise(n, p.from + p.to), Tone(n, p.from, 1000.0, 30000.0),
                                               Tone(n, p.from, p.from * 0.45, 12000.0), square};
        for (const auto& x : inputs) {
            const size_t count = C_PCMResample::DestinationCount(p.from, p.to, static_cast<uint32_t>(n));
            const auto want = test::reference::Sinc(static_cast<double>(p.to) / p.from, x, count);
            for (int mode : {1, 2}) {
                SCOPED_TRACE(::testing::Message() << p.from << "->" << p.to << " mode " << mode);
                (&x == &inputs[3] ? squares : signals).Add(Resample(mode, p.from, p.to, x), want);
            }
        }
    }
    EXPECT_LE(signals.worst, 1);
    EXPECT_LE(squares.worst, 1);
    EXPECT_GE(static_cast<double>(signals.exact), 0.9999 * signals.total)
        << signals.total - signals.exact << " of " << signals.total << " differ";
}

// Inputs shorter than the window and the filter, and single samples: the
// window reads zeros past the end, nothing is read out of bounds.
TEST_P(VectorForm, ShortInputsGiveTheZeroPaddedResult) {
    const uint32_t rates[][2] = {{16000, 8000}, {8000, 16000}, {44100, 16000}, {16000, 16000}, {8000, 384000}};
    for (size_t n : {1u, 2u, 10u, 50u, 51u, 73u, 74u, 75u, 130u}) {
        for (const auto& r : rates) {
            SCOPED_TRACE(::testing::Message() << n << " samples " << r[0] << "->" << r[1]);
            const auto x = Noise(n, static_cast<uint32_t>(n));
            const size_t count =
                std::max<size_t>(1, C_PCMResample::DestinationCount(r[0], r[1], static_cast<uint32_t>(n)));
            const auto got = Resample(2, r[0], r[1], x, count);
            const auto want = test::reference::Sinc(static_cast<double>(r[1]) / r[0], x, count);
            for (size_t i = 0; i < count; ++i) ASSERT_LE(std::abs(got[i] - want[i]), 1) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Resample, VectorForm, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Vector" : "Portable"; });

// The vector loops chosen at run time give exactly the portable loops' samples
// (the output must not depend on the processor), also where sums sit on whole
// numbers (the overdriven square) and where positions fall on whole samples.
TEST(Resample, VectorAndPortableLoopsGiveTheSameBits) {
    const std::pair<uint32_t, uint32_t> pairs[] = {{16000, 22050}, {8000, 16000},  {22050, 11025},
                                                   {48000, 16000}, {44100, 16000}, {16000, 8000}};
    for (const auto& [from, to] : pairs) {
        const size_t n = from / 2;
        std::vector<int16_t> square(n);
        for (size_t i = 0; i < n; ++i) square[i] = (i / 37) % 2 ? 32767 : -32768;
        for (const auto& x : {Noise(n, from ^ to), square, Tone(n, from, 1000.0, 30000.0)}) {
            resample::SetVectorKernelsAllowed(false);
            const auto portable = Resample(2, from, to, x);
            resample::SetVectorKernelsAllowed(true);
            EXPECT_EQ(Resample(2, from, to, x), portable) << from << "->" << to << " " << resample::VectorKernelName();
            // The four-lane loops as well where the eight-lane ones ran.
            resample::SetWideVectorKernelsAllowed(false);
            EXPECT_EQ(Resample(2, from, to, x), portable) << from << "->" << to << " " << resample::VectorKernelName();
            resample::SetWideVectorKernelsAllowed(true);
        }
    }
}

// Time alignment: output sample j sits at source position j x count /
// destination count, going down (through the low-pass, whose delay is made
// up for) as going up. A 1 kHz tone keeps its level and phase against the
// exact 1 kHz at the new rate over 2 s (within 0.005 dB at 44.1 to 16 kHz;
// elsewhere the low-pass's pass band and the kernel's 50 truncated phases
// cost up to 0.02 dB and 0.02 rad), and clicks near the start, the middle and
// the end come out where their times fall.
TEST(Resample, OutputIsAlignedWithTheSourceInTime) {
    struct Pair {
        uint32_t from, to;
        double dB;
    };
    const Pair pairs[] = {{44100, 16000, 0.005}, {16000, 8000, 0.02}, {48000, 44100, 0.02}, {8000, 22050, 0.02}};
    for (const auto& [from, to, dB] : pairs) {
        SCOPED_TRACE(::testing::Message() << from << "->" << to);
        const size_t n = 2 * from;
        const auto tone = Tone(n, from, 1000.0, 16000.0);
        const auto y = Resample(2, from, to, tone);
        // The 1 kHz component of the middle (0.1 s off either end), by
        // least squares against sine and cosine.
        auto level = [](const std::vector<int16_t>& v, double rate) {
            double a = 0, b = 0;
            size_t m = 0;
            const size_t edge = static_cast<size_t>(rate / 10);
            for (size_t j = edge; j + edge < v.size(); ++j) {
                const double t = 2 * M_PI * 1000.0 * static_cast<double>(j) / rate;
                a += v[j] * std::sin(t);
                b += v[j] * std::cos(t);
                ++m;
            }
            return std::pair<double, double>{2 * std::sqrt(a * a + b * b) / m, std::atan2(b, a)};
        };
        const auto [outLevel, outPhase] = level(y, to);
        const auto [inLevel, inPhase] = level(tone, from);
        EXPECT_NEAR(20 * std::log10(outLevel / inLevel), 0.0, dB);
        EXPECT_NEAR(outPhase, inPhase, 0.02);

        for (size_t at : {size_t{300}, n / 2 + 17, n - 300}) {
            std::vector<int16_t> click(n, 0);
            click[at] = 30000;
            const auto c = Resample(2, from, to, click);
            size_t peak = 0;
            for (size_t j = 0; j < c.size(); ++j)
                if (std::abs(c[j]) > std::abs(c[peak])) peak = j;
            const double want = static_cast<double>(at) * static_cast<double>(c.size()) / static_cast<double>(n);
            EXPECT_NEAR(static_cast<double>(peak), want, 0.51) << "click at " << at;
        }
    }
}

TEST(Resample, SameRateKeepsTheSamplesWithinOne) {
    const auto x = Noise(8000, 7);
    const auto y = Resample(1, 8000, 8000, x);
    ASSERT_EQ(y.size(), x.size());
    for (size_t i = 0; i < x.size(); ++i) ASSERT_LE(std::abs(x[i] - y[i]), 1) << i;
}

TEST(Resample, SaturationIsSymmetric) {
    std::vector<int16_t> square(4000);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 20) % 2 ? 32767 : -32768;
    for (uint32_t to : {8000u, 16000u, 48000u}) {
        const auto y = Resample(2, 16000, to, square);
        EXPECT_EQ(*std::min_element(y.begin(), y.end()), -32767) << to;
        EXPECT_EQ(*std::max_element(y.begin(), y.end()), 32767) << to;
    }
}

TEST(Resample, LinearModeFollowsItsFixedPointFormula) {
    const auto x = Noise(5000, 3);
    for (const auto& r :
         std::vector<std::pair<uint32_t, uint32_t>>{{16000, 8000}, {8000, 22050}, {44100, 16000}, {11025, 11025}}) {
        const size_t count = C_PCMResample::DestinationCount(r.first, r.second, 5000);
        const auto got = Resample(0, r.first, r.second, x);
        EXPECT_EQ(got, test::reference::Linear(static_cast<double>(r.second) / r.first, x, count));
        EXPECT_EQ(got.back(), x.back());
    }
    // One sample: the sample after it repeats it.
    EXPECT_EQ(Resample(7, 8000, 16000, {1234}), (std::vector<int16_t>{1234, 1234}));
}

TEST(Resample, DestinationCountRoundsToNearest) {
    struct Case {
        uint32_t from, to, count, want;
    };
    const Case cases[] = {
        {44100, 16000, 44100, 16000}, {16000, 8000, 3, 2},          {16000, 8000, 1, 1},       {44100, 8000, 1, 0},
        {8000, 44100, 1, 6},          {16000, 22050, 16001, 22051}, {0, 8000, 100, 0},         {8000, 0, 100, 0},
        {384001, 8000, 100, 0},       {8000, 384001, 100, 0},       {1, 384000, 0xFFFFFFFF, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(C_PCMResample::DestinationCount(c.from, c.to, c.count), c.want)
            << c.from << "->" << c.to << " " << c.count;
    }
}

TEST(Resample, BadInputFailsWithoutTouchingTheCallback) {
    const auto x = Noise(100, 1);
    std::vector<int16_t> y(100, 99);
    Recorder recorder;
    C_PCMResample r;
    struct Case {
        uint32_t from, to, count, outCount;
        const int16_t* in;
        int16_t* out;
    };
    const Case cases[] = {{0, 8000, 100, 50, x.data(), y.data()},      {8000, 0, 100, 50, x.data(), y.data()},
                          {400000, 8000, 100, 50, x.data(), y.data()}, {8000, 384001, 100, 50, x.data(), y.data()},
                          {8000, 8000, 0, 50, x.data(), y.data()},     {8000, 8000, 100, 0, x.data(), y.data()},
                          {8000, 8000, 100, 50, nullptr, y.data()},    {8000, 8000, 100, 50, x.data(), nullptr}};
    for (int mode : {0, 1, 2}) {
        for (const Case& c : cases) {
            EXPECT_EQ(r.ResampleSamples(mode, c.from, c.to, c.count, c.outCount, c.in, c.out, 1.0, &recorder), 0u);
        }
    }
    EXPECT_EQ(recorder.begins, 0);
    EXPECT_EQ(recorder.ends, 0);
    EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](int16_t v) { return v == 99; }));
}

TEST(Resample, ProgressRisesToOneHundredBetweenOneBeginAndOneEnd) {
    const auto x = Noise(300000, 5);
    std::vector<int16_t> y(C_PCMResample::DestinationCount(44100, 16000, 300000));
    for (int mode : {0, 2}) {
        Recorder recorder;
        C_PCMResample r;
        ASSERT_GT(r.ResampleSamples(mode, 44100, 16000, 300000, static_cast<uint32_t>(y.size()), x.data(), y.data(),
                                    1.0, &recorder),
                  0u);
        EXPECT_EQ(recorder.begins, 1);
        EXPECT_EQ(recorder.ends, 1);
        ASSERT_FALSE(recorder.percents.empty());
        EXPECT_TRUE(std::is_sorted(recorder.percents.begin(), recorder.percents.end()));
        EXPECT_EQ(recorder.percents.back(), 100);
        // A later run without a callback reports nowhere.
        EXPECT_GT(r.ResampleSamples(mode, 44100, 16000, 1000, 363, x.data(), y.data(), 1.0, nullptr), 0u);
        EXPECT_EQ(recorder.begins, 1);
    }
}

// Two resamplers in two threads: the end of one run does not stop the other
// run's progress reports.
TEST(Resample, ConcurrentRunsKeepTheirOwnProgress) {
    struct Gate : Recorder {
        std::mutex m;
        std::condition_variable cv;
        bool started = false, released = false;
        void OnProgress(int32_t p) override {
            Recorder::OnProgress(p);
            std::unique_lock<std::mutex> guard(m);
            if (!started) {
                started = true;
                cv.notify_all();
                cv.wait(guard, [&] { return released; });
            }
        }
    } slow;
    const auto big = Noise(2000000, 9);
    std::vector<int16_t> bigOut(C_PCMResample::DestinationCount(44100, 16000, 2000000));
    std::thread first([&] {
        C_PCMResample r;
        r.ResampleSamples(2, 44100, 16000, 2000000, static_cast<uint32_t>(bigOut.size()), big.data(), bigOut.data(),
                          1.0, &slow);
    });
    {
        std::unique_lock<std::mutex> guard(slow.m);
        slow.cv.wait(guard, [&] { return slow.started; });
    }
    Recorder quick;
    std::vector<int16_t> small(50);
    C_PCMResample other;
    EXPECT_EQ(other.ResampleSamples(2, 16000, 8000, 100, 50, big.data(), small.data(), 1.0, &quick), 50u);
    {
        std::lock_guard<std::mutex> guard(slow.m);
        slow.released = true;
    }
    slow.cv.notify_all();
    first.join();
    EXPECT_EQ(quick.percents.back(), 100);
    EXPECT_EQ(slow.percents.back(), 100);
    EXPECT_EQ(slow.ends, 1);
}

}  // namespace
}  // namespace cz
