// The pitch shifter: period detection, the regenerator for both factor
// ranges, and the in-place entries over sounds, buffers and files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "dsp/pitch/C_PCMPitchShift.h"
#include "support/LittleEndian.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"
#include "wave/C_WavFile.h"
#include "wave/SoundFileOpener.h"

namespace cz {
namespace {

// A train of identical decaying pulses, one every period samples.
std::vector<int32_t> PulseTrain(uint32_t count, uint32_t period, double amplitude = 12000.0) {
    std::vector<int32_t> x(count);
    for (uint32_t i = 0; i < count; ++i) {
        const double k = i % period;
        x[i] = static_cast<int32_t>(std::lround(amplitude * std::exp(-k / 6.0) * std::cos(0.9 * k)));
    }
    return x;
}

std::vector<int16_t> To16(const std::vector<int32_t>& x) { return std::vector<int16_t>(x.begin(), x.end()); }
std::vector<int32_t> To32(const std::vector<int16_t>& x) { return std::vector<int32_t>(x.begin(), x.end()); }

// Three voiced sounds whose period need not be a whole number of samples.
std::vector<int16_t> Sine(uint32_t count, double period) {
    std::vector<int16_t> x(count);
    for (uint32_t i = 0; i < count; ++i)
        x[i] = static_cast<int16_t>(std::lround(9000.0 * std::sin(2 * M_PI * i / period)));
    return x;
}
// Decaying ringing pulses at every multiple of period.
std::vector<int16_t> Pulses(uint32_t count, double period) {
    std::vector<int16_t> x(count);
    for (uint32_t i = 0; i < count; ++i) {
        const double k = std::fmod(static_cast<double>(i), period);
        x[i] = static_cast<int16_t>(std::lround(12000.0 * std::exp(-k / 8.0) * std::cos(0.9 * k)));
    }
    return x;
}
// A steady /a/: the harmonics of rate / period under three formant peaks
// (700, 1220 and 2600 Hz).
std::vector<int16_t> Vowel(uint32_t count, double period, double rate) {
    const double f0 = rate / period;
    const double formant[3] = {700, 1220, 2600}, width[3] = {130, 70, 160}, gain[3] = {1.0, 0.5, 0.25};
    std::vector<double> amplitude;
    for (double f = f0; f < rate * 0.45; f += f0) {
        double a = 0;
        for (int i = 0; i < 3; ++i) a += gain[i] / (1 + std::pow((f - formant[i]) / width[i], 2));
        amplitude.push_back(a);
    }
    std::vector<int16_t> x(count);
    for (uint32_t i = 0; i < count; ++i) {
        double v = 0;
        for (size_t h = 0; h < amplitude.size(); ++h) v += amplitude[h] * std::sin(2 * M_PI * (h + 1) * i / period);
        x[i] = static_cast<int16_t>(std::lround(4000.0 * v));
    }
    return x;
}

// The period of x in samples, measured on its middle three fifths: the lag
// within 20 % of about whose normalised squared difference is least, to a
// fraction of a sample by the parabola through its neighbours.
double MeasuredPeriod(const std::vector<int16_t>& x, double about) {
    const int lo = static_cast<int>(about * 0.8), hi = static_cast<int>(about * 1.25) + 1;
    const size_t from = x.size() / 5, to = x.size() * 4 / 5 - static_cast<size_t>(hi) - 1;
    auto difference = [&](int lag) {
        double num = 0, den = 0;
        for (size_t i = from; i < to; ++i) {
            const double a = x[i], b = x[i + static_cast<size_t>(lag)];
            num += (a - b) * (a - b);
            den += a * a + b * b;
        }
        return num / den;
    };
    std::vector<double> d(static_cast<size_t>(hi) + 2);
    for (int lag = lo - 1; lag <= hi + 1; ++lag) d[static_cast<size_t>(lag)] = difference(lag);
    int best = lo;
    for (int lag = lo; lag <= hi; ++lag)
        if (d[static_cast<size_t>(lag)] < d[static_cast<size_t>(best)]) best = lag;
    const double y0 = d[static_cast<size_t>(best) - 1], y1 = d[static_cast<size_t>(best)],
                 y2 = d[static_cast<size_t>(best) + 1];
    const double curvature = y0 - 2 * y1 + y2;
    return best + (curvature > 0 ? 0.5 * (y0 - y2) / curvature : 0.0);
}

std::vector<int16_t> Samples16(C_WavData& sound) {
    std::vector<int16_t> out(sound.SampleCount() * sound.GetWavInfo()->GetChannels());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(sound.GetSampleBuffer()[2 * i] | sound.GetSampleBuffer()[2 * i + 1] << 8);
    return out;
}

struct Progress : I_ProgressCallback {
    int begins = 0, ends = 0;
    std::vector<int32_t> percents;
    void OnBegin() override { ++begins; }
    void OnProgress(int32_t p) override { percents.push_back(p); }
    void OnEnd() override { ++ends; }
};

// Emit counts of variant over the period list.
std::vector<int> Counts(const C_PCMPitchShift& shifter, int variant) {
    std::vector<int> counts;
    for (const C_PitchShiftPeriod* p : shifter.Periods()) counts.push_back(p->EmitCount(variant));
    return counts;
}

// Runs the generator over the detected periods in counting mode.
uint32_t Generate(C_PCMPitchShift& shifter, uint32_t count, double factor, int variant) {
    C_PitchShiftPCMGenerator generator(nullptr, 0, count, factor);
    EXPECT_TRUE(shifter.GeneratePeriods(generator, count, variant));
    generator.GetOutput();
    return generator.OutputCount();
}

TEST(PitchShift, DefaultsAndRefusedSettings) {
    C_PCMPitchShift shifter;
    const S_PitchShiftParameters& p = shifter.Parameters();
    EXPECT_EQ(p.factor, 1.0);
    EXPECT_EQ(p.minimumPeriod, 40);
    EXPECT_EQ(p.maximumPeriod, 150);
    EXPECT_EQ(p.periodStep, 1);
    EXPECT_EQ(p.skipStep, 5);
    EXPECT_EQ(p.backOff, 10);
    EXPECT_EQ(p.threshold, 50.0);

    struct Case {
        const char* what;
        S_PitchShiftParameters p;
    };
    auto with = [](auto change) {
        S_PitchShiftParameters p;
        change(p);
        return p;
    };
    const Case refused[] = {
        {"factor 0", with([](auto& p) { p.factor = 0.0; })},
        {"factor NaN", with([](auto& p) { p.factor = std::nan(""); })},
        {"factor 5", with([](auto& p) { p.factor = 5.0; })},
        {"minimum 0", with([](auto& p) { p.minimumPeriod = 0; })},
        {"maximum = minimum", with([](auto& p) { p.maximumPeriod = 40; })},
        {"period step 0", with([](auto& p) { p.periodStep = 0; })},
        {"skip step 0", with([](auto& p) { p.skipStep = 0; })},
        {"threshold NaN", with([](auto& p) { p.threshold = std::nan(""); })},
    };
    for (const Case& c : refused) {
        EXPECT_FALSE(shifter.SetParameters(c.p)) << c.what;
        EXPECT_EQ(shifter.Parameters().factor, 1.0) << c.what;
    }
    EXPECT_TRUE(shifter.SetParameters(with([](auto& p) { p.factor = 2.0; })));
    EXPECT_EQ(shifter.Parameters().factor, 2.0);
}

TEST(PitchShift, DifferencePercentageAndQuietRule) {
    C_PCMPitchShift shifter;
    std::vector<int32_t> x(600, 0);
    for (int i = 0; i < 100; ++i) x[i] = 1000, x[100 + i] = 500;  // half as loud: 50 %
    for (int i = 300; i < 600; ++i) x[i] = (i % 2) ? 100 : -100;  // quiet, alternating
    shifter.DetectPeriods(x, nullptr);
    EXPECT_DOUBLE_EQ(shifter.DifferencePercentage(0, 100, 100), 50.0);
    EXPECT_DOUBLE_EQ(shifter.DifferencePercentage(100, 0, 100), 100.0);
    // 120 samples or more below a mean of 129 count as a match; shorter do not.
    EXPECT_EQ(shifter.DifferencePercentage(300, 421, 120), 0.0);
    EXPECT_DOUBLE_EQ(shifter.DifferencePercentage(300, 421, 119), 200.0);
    // Two silent stretches are the same; sound against silence is not.
    EXPECT_EQ(shifter.DifferencePercentage(200, 240, 40), 0.0);
    EXPECT_TRUE(std::isinf(shifter.DifferencePercentage(200, 0, 40)));
}

TEST(PitchShift, DetectsPeriodsOfRecordings) {
    struct Case {
        const char* what;
        std::vector<int32_t> samples;
        std::vector<std::pair<uint32_t, uint32_t>> firstPeriods;
    };
    std::vector<int32_t> silenceThenNoise(120, 0);
    for (int16_t v : test::Noise(400, 7)) silenceThenNoise.push_back(v);
    std::vector<int32_t> quietNoise;
    for (int16_t v : test::Noise(600, 9, 100)) quietNoise.push_back(v);
    const Case cases[] = {
        // Shorter than twice the longest period: nothing is searched.
        {"short", PulseTrain(299, 80), {}},
        {"pulses every 80", PulseTrain(1000, 80), {{0, 79}, {80, 159}, {160, 239}}},
        {"pulses every 45", PulseTrain(1000, 45), {{0, 44}, {45, 89}}},
        // A smooth wave falls under the threshold a few samples early (at
        // 74 for 80); the period is where the difference is least.
        {"sine of 80", To32(Sine(1000, 80.0)), {{0, 79}, {80, 159}, {160, 239}}},
        // Between two whole numbers the lengths alternate and the
        // boundaries stay on the wave's period.
        {"sine of 61.5", To32(Sine(1000, 61.5)), {{0, 61}, {62, 122}, {123, 183}, {184, 245}}},
        // Silence matches at the first candidate length.
        {"silent 120 samples", silenceThenNoise, {{0, 39}, {40, 79}}},
        // Quiet noise matches only where the quiet rule starts, at 120.
        {"quiet noise", quietNoise, {{0, 119}, {120, 239}}},
    };
    for (const Case& c : cases) {
        C_PCMPitchShift shifter;
        shifter.DetectPeriods(c.samples, nullptr);
        std::vector<std::pair<uint32_t, uint32_t>> got;
        for (const C_PitchShiftPeriod* p : shifter.Periods()) {
            got.emplace_back(p->Start(), p->End());
            for (int v = 0; v < C_PitchShiftPeriod::kVariantCount; ++v) EXPECT_EQ(p->EmitCount(v), 1) << c.what;
        }
        if (c.firstPeriods.empty()) {
            EXPECT_TRUE(got.empty()) << c.what;
            continue;
        }
        ASSERT_GE(got.size(), c.firstPeriods.size()) << c.what;
        got.resize(c.firstPeriods.size());
        EXPECT_EQ(got, c.firstPeriods) << c.what;
    }
}

TEST(PitchShift, DetectionReportsProgressAndStopsBeforeTheEnd) {
    C_PCMPitchShift shifter;
    Progress progress;
    const std::vector<int32_t> x = PulseTrain(2000, 80);
    shifter.DetectPeriods(x, &progress);
    EXPECT_EQ(progress.begins, 1);
    EXPECT_EQ(progress.ends, 1);
    ASSERT_GE(progress.percents.size(), 2u);
    EXPECT_EQ(progress.percents.front(), 0);
    EXPECT_EQ(progress.percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.percents.begin(), progress.percents.end()));
    // The search stops twice the longest period before the end.
    ASSERT_GT(shifter.Periods().GetCount(), 0);
    EXPECT_LT(shifter.Periods().ItemAt(shifter.Periods().GetCount() - 1)->Start(), 2000u - 300u);
    EXPECT_EQ(shifter.Periods().GetCount(), (2000 - 300 + 79) / 80);
}

TEST(PitchShift, ShrinkingDropsAtMostThreeInARowAndKeepsTheFirstPeriod) {
    const uint32_t count = 16000;
    C_PCMPitchShift shifter;
    shifter.DetectPeriods(PulseTrain(count, 80), nullptr);
    for (double factor : {0.9, 0.5, 0.25, 0.1}) {
        const uint32_t out = Generate(shifter, count, factor, 0);
        const std::vector<int> counts = Counts(shifter, 0);
        // The first period starts at sample 0: kept, not divided by zero.
        EXPECT_EQ(counts.front(), 1) << factor;
        int run = 0, longest = 0;
        for (int c : counts) {
            EXPECT_LE(c, 1) << factor;
            run = c == 0 ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        EXPECT_LE(longest, 3) << factor;
        // Down to a quarter the length follows the factor within a period
        // or two; below, the limit on drops holds it at a quarter.
        const double expected = std::max(factor, 0.25) * count;
        EXPECT_NEAR(out, expected, 3 * 80 + 300 * (1 - factor)) << factor;
    }
}

TEST(PitchShift, StretchingEmitsAtMostThreeTimes) {
    const uint32_t count = 16000;
    C_PCMPitchShift shifter;
    shifter.DetectPeriods(PulseTrain(count, 80), nullptr);
    for (double factor : {1.5, 2.0, 3.0, 4.0}) {
        const uint32_t out = Generate(shifter, count, factor, 9);
        uint64_t emitted = 0;
        for (int c : Counts(shifter, 9)) {
            // 0: emitted once while less than a period behind.
            EXPECT_LE(c, 3) << factor;
            emitted += c;
        }
        EXPECT_GT(emitted, 0u);
        EXPECT_NEAR(out, std::min(factor, 3.0) * count, 2 * 80 + 300 * 3) << factor;
    }
}

TEST(PitchShift, SlightStretchRecordsZeroForPeriodsEmittedOnce) {
    const uint32_t count = 48000;
    C_PCMPitchShift shifter;
    shifter.DetectPeriods(PulseTrain(count, 80), nullptr);
    const uint32_t out = Generate(shifter, count, 1.01, 5);
    uint64_t repeats = 0;
    int zeros = 0;
    for (const C_PitchShiftPeriod* p : shifter.Periods()) {
        const int c = p->EmitCount(5);
        zeros += c == 0;
        if (c > 1) repeats += uint64_t(c - 1) * p->Length();
    }
    EXPECT_GT(zeros, 100);
    // A period recording 0 still went out once: the output is the source
    // plus the repeats.
    EXPECT_EQ(out, count + repeats);
    // The output keeps within two periods (and the unsearched end) of pace.
    EXPECT_GT(repeats, 0u);
    EXPECT_NEAR(out, 1.01 * count, 2 * 80 + 0.01 * 300 + 1);
}

// Regenerated by 2^(s/12) and played at that many times the rate, a sound
// is s semitones higher when every period kept its length: measured in the
// result, the period must be the source's within 0.5 %, and the length the
// factor's within one period (two passes beyond a factor of 3).
TEST(PitchShift, KeepsThePeriodAndReachesTheLengthFromMinus24To24Semitones) {
    const uint32_t rate = 16000, count = 2 * rate;
    struct Signal {
        const char* what;
        double period;
        std::vector<int16_t> samples;
    };
    const Signal signals[] = {
        {"sine 200 Hz", 80.0, Sine(count, 80.0)},
        {"sine 130 Hz", rate / 130.0, Sine(count, rate / 130.0)},
        {"pulses 150 Hz", rate / 150.0, Pulses(count, rate / 150.0)},
        {"vowel 123 Hz", rate / 123.0, Vowel(count, rate / 123.0, rate)},
    };
    for (const Signal& signal : signals) {
        ASSERT_NEAR(MeasuredPeriod(signal.samples, signal.period), signal.period, 0.0005 * signal.period)
            << signal.what;
        for (int semitones : {-24, -12, -7, -1, 1, 7, 12, 19, 24}) {
            const double factor = std::pow(2.0, semitones / 12.0);
            auto sound = test::Sound16(signal.samples, 1, rate);
            C_PCMPitchShift shifter;
            S_PitchShiftParameters p;
            p.factor = factor;
            ASSERT_TRUE(shifter.SetParameters(p));
            ASSERT_EQ(shifter.ProcessWavData(sound.get(), nullptr), 1)
                << signal.what << " " << semitones << ": " << shifter.FailureReason();
            const std::vector<int16_t> y = Samples16(*sound);
            EXPECT_NEAR(static_cast<double>(y.size()), factor * count, signal.period)
                << signal.what << " " << semitones;
            const double period = MeasuredPeriod(y, signal.period);
            EXPECT_NEAR(period / signal.period, 1.0, 0.005)
                << signal.what << " " << semitones << ": pitch " << (signal.period / period - 1) * 100 << " % off";
        }
    }
}

// What cannot be done is refused, and the sound stays as it was.
TEST(PitchShift, RefusesSoundsWithoutPeriods) {
    std::vector<int16_t> halfNoise = test::Noise(8000, 4);
    for (int16_t v : To16(PulseTrain(8000, 80))) halfNoise.push_back(v);
    struct Case {
        const char* what;
        std::vector<int16_t> samples;
        double factor;
    };
    const Case cases[] = {
        {"noise", test::Noise(16000, 3), 2.0},
        {"noise, shrunk", test::Noise(16000, 3), 0.5},
        {"noise, four times", test::Noise(16000, 3), 4.0},
        // Shorter than twice the longest period: nothing is searched.
        {"short", To16(PulseTrain(250, 80)), 2.0},
        // Half of it has periods: a quarter of the length cannot be had
        // by dropping them.
        {"half noise, quartered", halfNoise, 0.25},
    };
    for (const Case& c : cases) {
        auto sound = test::Sound16(c.samples, 1, 8000);
        sound->GetActionEventMgr()->AddEventAtSample(3, 100, "", 7);
        C_PCMPitchShift shifter;
        S_PitchShiftParameters p;
        p.factor = c.factor;
        ASSERT_TRUE(shifter.SetParameters(p));
        EXPECT_EQ(shifter.ProcessWavData(sound.get(), nullptr), 0) << c.what;
        EXPECT_STRNE(shifter.FailureReason(), "") << c.what;
        EXPECT_EQ(Samples16(*sound), c.samples) << c.what;
        EXPECT_EQ(sound->GetActionEventMgr()->Events().ItemAt(0)->GetSamplePos(), 100u) << c.what;
    }
    // Twice the length it can have: the periods carry the noise's share.
    auto half = test::Sound16(halfNoise, 1, 8000);
    C_PCMPitchShift stretcher;
    S_PitchShiftParameters twice;
    twice.factor = 2.0;
    ASSERT_TRUE(stretcher.SetParameters(twice));
    ASSERT_EQ(stretcher.ProcessWavData(half.get(), nullptr), 1) << stretcher.FailureReason();
    EXPECT_NEAR(half->SampleCount(), 2 * halfNoise.size(), 80);

    // At a factor of 1 there is nothing to do: the sound stays, with success.
    const std::vector<int16_t> noise = test::Noise(4000, 5);
    auto sound = test::Sound16(noise, 1, 8000);
    C_PCMPitchShift shifter;
    ASSERT_EQ(shifter.ProcessWavData(sound.get(), nullptr), 1);
    EXPECT_STREQ(shifter.FailureReason(), "");
    EXPECT_EQ(Samples16(*sound), noise);
}

TEST(PitchShift, ShortRecordingGeneratesUnchanged) {
    const uint32_t count = 250;
    C_PCMPitchShift shifter;
    shifter.DetectPeriods(PulseTrain(count, 80), nullptr);
    EXPECT_EQ(shifter.Periods().GetCount(), 0);
    EXPECT_EQ(Generate(shifter, count, 2.0, 9), count);
    EXPECT_EQ(Generate(shifter, count, 0.5, 0), count);
}

// Every period of the output is a whole period of the source: a pulse train
// stays a pulse train with the same spacing, only longer or shorter.
TEST(PitchShift, ProcessWavDataKeepsEveryPeriodsShape) {
    const uint32_t count = 8000, period = 80;
    const std::vector<int16_t> x = To16(PulseTrain(count, period));
    for (double factor : {0.25, 0.5, 0.8, 1.4, 2.0, 4.0}) {
        auto sound = test::Sound16(x, 1, 8000);
        sound->GetActionEventMgr()->AddEventAtSample(3, 4000, "", 7);
        C_PCMPitchShift shifter;
        S_PitchShiftParameters p;
        p.factor = factor;
        ASSERT_TRUE(shifter.SetParameters(p));
        ASSERT_EQ(shifter.ProcessWavData(sound.get(), nullptr), 1) << factor;
        const std::vector<int16_t> y = Samples16(*sound);
        EXPECT_NEAR(y.size(), factor * count, 300 * std::max(1.0, factor) + 3 * period) << factor;
        ASSERT_EQ(y.size() % period, 0u) << factor;
        for (size_t i = 0; i < y.size(); ++i) ASSERT_EQ(y[i], x[i % period]) << factor << " at " << i;
        // The event stays on a pulse, near its stretched place.
        const uint32_t at = sound->GetActionEventMgr()->Events().ItemAt(0)->GetSamplePos();
        EXPECT_EQ(at % period, 0u) << factor;
        EXPECT_NEAR(at, 4000 * factor, 3 * period) << factor;
    }
}

TEST(PitchShift, ProcessBufferLeavesTheCallersBufferAndRegeneratesFrames) {
    // Two channels: left a pulse train, right its negative.
    const uint32_t count = 4000;
    const std::vector<int32_t> pulses = PulseTrain(count, 100);
    std::vector<int16_t> frames;
    for (int32_t v : pulses) frames.push_back(static_cast<int16_t>(v)), frames.push_back(static_cast<int16_t>(-v));
    std::vector<uint8_t> bytes;
    for (int16_t v : frames) test::Put16(bytes, static_cast<uint16_t>(v));
    const std::vector<uint8_t> before = bytes;

    C_PCMPitchShift shifter;
    S_PitchShiftParameters p;
    p.factor = 1.6;
    ASSERT_TRUE(shifter.SetParameters(p));
    I_WavData* result = nullptr;
    ASSERT_EQ(
        shifter.ProcessBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()), 8000, 2, 16, 16, 1, nullptr, &result),
        1);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(bytes, before);
    auto* sound = static_cast<C_WavData*>(result);
    EXPECT_EQ(sound->GetWavInfo()->GetChannels(), 2);
    EXPECT_NEAR(sound->SampleCount(), 1.6 * count, 400);
    for (uint32_t i = 0; i < sound->SampleCount(); ++i) ASSERT_EQ(sound->Sample(i, 0), -sound->Sample(i, 1)) << i;
    result->Release();

    // A size that is not whole frames, and a buffer without a format.
    EXPECT_EQ(shifter.ProcessBuffer(bytes.data(), 3, 8000, 2, 16, 16, 1, nullptr, nullptr), 0);
    EXPECT_EQ(shifter.ProcessBuffer(bytes.data(), 4, 8000, 0, 16, 16, 1, nullptr, nullptr), 0);
    EXPECT_EQ(shifter.ProcessWavData(nullptr, nullptr), 0);
    EXPECT_EQ(shifter.ProcessWavFile(nullptr, nullptr), 0);
}

TEST(PitchShift, ProcessFileSavesTheChangedSound) {
    test::TempDir dir;
    const std::string in = dir.File("in.wav"), out = dir.File("out.wav");
    auto sound = test::Sound16(To16(PulseTrain(8000, 80)), 1, 8000);
    C_WavFile writer;
    ASSERT_EQ(test::SaveWith(writer, *sound, in), 1);

    auto shifter = C_PCMPitchShift::Create();
    S_PitchShiftParameters p;
    p.factor = 0.5;
    ASSERT_TRUE(shifter->SetParameters(p));
    Progress progress;
    ASSERT_EQ(shifter->ProcessFile(in.c_str(), out.c_str(), 2, &progress), 1);
    EXPECT_EQ(progress.begins, 1);
    EXPECT_EQ(progress.ends, 1);
    RefPtr<I_WavFile> reopened(OpenSoundFile(out));
    ASSERT_TRUE(reopened);
    EXPECT_NEAR(reopened->GetWavInfo()->GetSampleCount(), 4000, 300);

    // A source that cannot be opened writes nothing.
    const std::string missing = dir.File("missing.wav"), none = dir.File("none.wav");
    EXPECT_EQ(shifter->ProcessFile(missing.c_str(), none.c_str(), 2, nullptr), 0);
    EXPECT_FALSE(test::FileExists(none));
    EXPECT_EQ(shifter->ProcessFile(nullptr, none.c_str(), 2, nullptr), 0);
}

}  // namespace
}  // namespace cz
