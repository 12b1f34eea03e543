// The resampler on sounds and files: channels, sample formats, markers,
// progress over several channels, and whole files beside sox.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <random>
#include <vector>

#include "ResampleTestSupport.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"
#include "dsp/resample/C_PCMResample.h"
#include "wave/C_WavData.h"
#include "wave/C_WavFile.h"

namespace cz {
namespace {

using test::Noise;
using test::Recorder;

// A 16-bit signed sound from per-channel sample arrays.
void Fill16(C_WavData& sound, uint32_t rate, const std::vector<std::vector<int16_t>>& channels) {
    const size_t n = channels[0].size();
    std::vector<uint8_t> bytes(n * channels.size() * 2);
    for (size_t i = 0; i < n; ++i) {
        for (size_t c = 0; c < channels.size(); ++c) {
            const auto v = static_cast<uint16_t>(channels[c][i]);
            bytes[(i * channels.size() + c) * 2] = static_cast<uint8_t>(v);
            bytes[(i * channels.size() + c) * 2 + 1] = static_cast<uint8_t>(v >> 8);
        }
    }
    sound.SetFormat(rate, static_cast<uint32_t>(bytes.size()), static_cast<uint16_t>(channels.size()), 16, 16, 1);
    sound.SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<int16_t> Channel(C_WavData& sound, uint16_t c) {
    std::vector<int16_t> out(sound.SampleCount());
    for (uint32_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>(sound.Sample(i, c));
    return out;
}

std::vector<int16_t> Mono(int mode, uint32_t from, uint32_t to, const std::vector<int16_t>& x) {
    std::vector<int16_t> y(C_PCMResample::DestinationCount(from, to, static_cast<uint32_t>(x.size())));
    C_PCMResample r;
    r.ResampleSamples(mode, from, to, static_cast<uint32_t>(x.size()), static_cast<uint32_t>(y.size()), x.data(),
                      y.data(), 1.0, nullptr);
    return y;
}

// Halving a stereo sound: half the samples, rounded to nearest, in both
// channels, each channel as if resampled alone; one rising percent from 0
// through 50 to 100 between one OnBegin and one OnEnd.
TEST(ResampleWav, StereoHalvesBothChannelsWithStagedProgress) {
    const auto left = Noise(200001, 1), right = Noise(200001, 2);
    C_WavData source, destination;
    Fill16(source, 16000, {left, right});
    Recorder recorder;
    C_PCMResample r;
    EXPECT_EQ(r.ResampleWavData(2, &source, &destination, 8000, 1.0, &recorder), 100001u);
    const I_WavInfo* info = destination.GetWavInfo();
    EXPECT_EQ(info->GetSampleRate(), 8000u);
    EXPECT_EQ(info->GetChannels(), 2);
    EXPECT_EQ(info->GetValidBits(), 16);
    EXPECT_EQ(info->GetSampleCount(), 100001u);
    EXPECT_EQ(Channel(destination, 0), Mono(2, 16000, 8000, left));
    EXPECT_EQ(Channel(destination, 1), Mono(2, 16000, 8000, right));
    EXPECT_EQ(recorder.begins, 1);
    EXPECT_EQ(recorder.ends, 1);
    ASSERT_FALSE(recorder.percents.empty());
    EXPECT_LE(recorder.percents.front(), 50);
    EXPECT_TRUE(std::is_sorted(recorder.percents.begin(), recorder.percents.end()));
    EXPECT_NE(std::find(recorder.percents.begin(), recorder.percents.end(), 50), recorder.percents.end());
    EXPECT_EQ(recorder.percents.back(), 100);
}

// Every channel is resampled, not only the first two.
TEST(ResampleWav, ThirdChannelIsResampledToo) {
    const auto a = Noise(3000, 3), b = Noise(3000, 4), c = Noise(3000, 5);
    C_WavData source, destination;
    Fill16(source, 22050, {a, b, c});
    C_PCMResample r;
    ASSERT_GT(r.ResampleWavData(1, &source, &destination, 16000, 100.0, nullptr), 0u);
    EXPECT_EQ(destination.GetWavInfo()->GetChannels(), 3);
    EXPECT_EQ(Channel(destination, 0), Mono(1, 22050, 16000, a));
    EXPECT_EQ(Channel(destination, 2), Mono(1, 22050, 16000, c));
}

// Sources that are not 16-bit signed are converted first: 8-bit unsigned v
// becomes (v - 128) * 256, 24 valid bits in 32 lose their low byte.
TEST(ResampleWav, OtherSampleFormatsAreConvertedTo16Bit) {
    const auto x = Noise(4000, 6);
    struct Case {
        uint16_t valid, container;
        uint32_t signedFlag;
    };
    for (const Case& k : {Case{8, 8, 0}, Case{24, 32, 1}, Case{32, 32, 1}}) {
        SCOPED_TRACE(k.valid);
        C_WavData source, destination;
        const uint32_t bytes = static_cast<uint32_t>(x.size() * k.container / 8);
        source.SetFormat(16000, bytes, 1, k.valid, k.container, k.signedFlag);
        source.AllocBuffer(bytes);
        std::vector<int16_t> expected(x.size());
        for (uint32_t i = 0; i < x.size(); ++i) {
            if (k.valid == 8) {
                const int v = x[i] / 256;  // -78..78
                source.SetSampleValue(i, 0, v);
                expected[i] = static_cast<int16_t>(v * 256);
            } else {
                source.SetSampleValue(i, 0, x[i] * (1 << (k.valid - 16)));
                expected[i] = x[i];
            }
        }
        C_PCMResample r;
        ASSERT_GT(r.ResampleWavData(2, &source, &destination, 11025, 1.0, nullptr), 0u);
        EXPECT_EQ(destination.GetWavInfo()->GetValidBits(), 16);
        EXPECT_EQ(destination.GetWavInfo()->GetSignedFlag(), 1u);
        EXPECT_EQ(Channel(destination, 0), Mono(2, 16000, 11025, expected));
    }
}

// Events keep their time; silence regions, cue points and labelled-text
// lengths move to the same time at the new rate; labels are copied.
TEST(ResampleWav, MarkersMoveWithTheRate) {
    C_WavData source, destination;
    Fill16(source, 16000, {Noise(16000, 7)});
    source.GetActionEventMgr()->SetSampleRate(16000);
    source.GetActionEventMgr()->AddEventAtSample(3, 8000, nullptr, 9);
    source.GetActionEventMgr()->AddSilenceRegion(1600, 3200);
    source.CueInfo().AddCuePoint(7, 4000, "data", 0, 0, 4000);
    source.ListInfo().SetLabel(7, "intro");
    source.ListInfo().AddText(7, 1000);
    C_PCMResample r;
    ASSERT_GT(r.ResampleWavData(2, &source, &destination, 8000, 1.0, nullptr), 0u);
    I_CUList<I_ActionEvent>* events = destination.GetActionEventMgr()->GetEventList();
    ASSERT_EQ(events->GetCount(), 1);
    EXPECT_EQ(events->GetAt(0)->GetTime(), 500u);
    EXPECT_EQ(events->GetAt(0)->GetSamplePos(), 4000u);
    EXPECT_EQ(events->GetAt(0)->GetParam(), 9u);
    I_CUList<I_ActionSilenceRegion>* regions = destination.GetActionEventMgr()->GetSilenceRegionList();
    ASSERT_EQ(regions->GetCount(), 1);
    EXPECT_EQ(regions->GetAt(0)->GetStart(), 800u);
    EXPECT_EQ(regions->GetAt(0)->GetEnd(), 1600u);
    ASSERT_EQ(destination.CueInfo().GetCount(), 1);
    EXPECT_EQ(destination.CueInfo().GetAt(0)->GetPosition(), 2000u);
    EXPECT_EQ(destination.CueInfo().GetAt(0)->GetSampleOffset(), 2000u);
    uint32_t id = 0;
    EXPECT_STREQ(destination.ListInfo().GetLabelAt(0, &id), "intro");
    EXPECT_EQ(id, 7u);
    EXPECT_EQ(destination.ListInfo().GetTextLength(7), 500u);
}

TEST(ResampleWav, BadSoundsFailCleanly) {
    C_PCMResample r;
    C_WavData good, empty, out;
    Fill16(good, 16000, {Noise(100, 8)});
    empty.SetFormat(16000, 0, 1, 16, 16, 1);
    EXPECT_EQ(r.ResampleWavData(2, nullptr, &out, 8000, 1.0, nullptr), 0u);
    EXPECT_EQ(r.ResampleWavData(2, &good, nullptr, 8000, 1.0, nullptr), 0u);
    EXPECT_EQ(r.ResampleWavData(2, &good, &good, 8000, 1.0, nullptr), 0u);
    EXPECT_EQ(r.ResampleWavData(2, &empty, &out, 8000, 1.0, nullptr), 0u);
    EXPECT_EQ(r.ResampleWavData(2, &good, &out, 0, 1.0, nullptr), 0u);
    EXPECT_EQ(r.ResampleWavData(2, &good, &out, 384001, 1.0, nullptr), 0u);
    C_WavData zeroRate;
    Fill16(zeroRate, 0, {Noise(100, 8)});
    EXPECT_EQ(r.ResampleWavData(2, &zeroRate, &out, 8000, 1.0, nullptr), 0u);
    // A channel count of 0 with bytes present.
    C_WavData noChannels;
    Fill16(noChannels, 16000, {Noise(100, 8)});
    noChannels.GetWavInfo()->SetFormat(16000, 200, 0, 16, 16, 1);
    EXPECT_EQ(r.ResampleWavData(2, &noChannels, &out, 8000, 1.0, nullptr), 0u);
    // One sample: one sample out at half the rate, none (a failure) at a
    // rate too low to round up to one.
    C_WavData one;
    Fill16(one, 16000, {{1000}});
    EXPECT_EQ(r.ResampleWavData(2, &one, &out, 8000, 1.0, nullptr), 1u);
    EXPECT_EQ(out.GetWavInfo()->GetSampleCount(), 1u);
    EXPECT_EQ(r.ResampleWavData(0, &one, &out, 8000, 1.0, nullptr), 1u);
    EXPECT_EQ(out.Sample(0, 0), 1000);
    EXPECT_EQ(r.ResampleWavData(2, &one, &out, 4000, 1.0, nullptr), 0u);
    EXPECT_EQ(r.ResampleWavFile(1, nullptr, nullptr, 8000, 100.0, nullptr), 0);
}

double RmsOf(const std::vector<int16_t>& x) {
    double e = 0;
    const size_t from = x.size() / 10, to = x.size() - x.size() / 10;
    for (size_t i = from; i < to; ++i) e += static_cast<double>(x[i]) * x[i];
    return std::sqrt(e / static_cast<double>(to - from));
}

// A whole file: opened, resampled, written as a 16-bit WAV; the level matches
// sox's `rate -h` on the same file.
TEST(ResampleWav, FileMatchesSoxLevel) {
    if (!test::HaveTool("sox")) GTEST_SKIP() << "sox missing";
    test::TempDir dir;
    const std::string in = dir.File("in.wav"), ours = dir.File("ours.wav"), sox = dir.File("sox.wav");
    ASSERT_EQ(test::RunCommand("sox -n -r 44100 -b 8 -c 2 " + in + " synth 1.5 sine 440 sine 1000 vol 0.5"), 0);
    ASSERT_EQ(test::RunCommand("sox -D " + in + " -b 16 " + sox + " rate -h 16000"), 0);
    C_PCMResample r;
    EXPECT_EQ(r.ResampleFile(2, in.c_str(), ours.c_str(), 2, 16000, 1.0, nullptr), 1);
    C_WavFile mine, theirs;
    ASSERT_EQ(mine.Load(ours.c_str(), 1), 1);
    ASSERT_EQ(theirs.Load(sox.c_str(), 1), 1);
    EXPECT_EQ(mine.GetWavInfo()->GetSampleRate(), 16000u);
    EXPECT_EQ(mine.GetWavInfo()->GetChannels(), 2);
    EXPECT_EQ(mine.GetWavInfo()->GetValidBits(), 16);
    EXPECT_EQ(mine.GetWavInfo()->GetSampleCount(), C_PCMResample::DestinationCount(44100, 16000, 66150));
    for (uint16_t c = 0; c < 2; ++c) {
        const double a = RmsOf(Channel(*mine.Sound(), c)), b = RmsOf(Channel(*theirs.Sound(), c));
        EXPECT_NEAR(20 * std::log10(a / b), 0.0, 0.1) << c;
    }
}

TEST(ResampleWav, UnopenableSourceWritesNothing) {
    test::TempDir dir;
    const std::string junk = dir.File("junk.wav"), out = dir.File("out.wav");
    ASSERT_TRUE(test::WriteFileBytes(junk, {'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v'}));
    C_PCMResample r;
    EXPECT_EQ(r.ResampleFile(2, junk.c_str(), out.c_str(), 2, 8000, 1.0, nullptr), 0);
    EXPECT_EQ(r.ResampleFile(2, dir.File("missing.wav").c_str(), out.c_str(), 2, 8000, 1.0, nullptr), 0);
    EXPECT_FALSE(test::FileExists(out));
}

// A file's rate is untrusted: a rate below 1000 Hz on either side, or a
// change of more than 256 times either way, is refused before anything is
// allocated, with a message naming the rate; nothing is written.
TEST(ResampleWav, UntrustedRatesAreRefusedUpFront) {
    struct Case {
        uint32_t fileRate, target;
        bool ok;
        const char* message;
    };
    const Case cases[] = {
        {1, 16000, false, "1 Hz"},          {999, 8000, false, "999 Hz"}, {1000, 16000, true, ""},
        {8000, 500, false, "500 Hz"},       {8000, 0, false, "0 Hz"},     {1000, 256000, true, ""},
        {1000, 256001, false, "256001 Hz"}, {384000, 1500, true, ""},     {384000, 1499, false, "1499 Hz"},
        {400000, 8000, false, "400000 Hz"},
    };
    test::TempDir dir;
    const std::vector<uint8_t> samples = test::RiffBuilder::Pcm16(Noise(3000, 7));
    for (const Case& c : cases) {
        const std::string in = dir.File("in.wav"), out = dir.File("out.wav");
        test::RiffBuilder wav;
        wav.Fmt(1, 1, c.fileRate, 16).Chunk("data", samples);
        ASSERT_TRUE(test::WriteFileBytes(in, wav.Bytes()));
        test::MessageCapture messages;
        C_PCMResample r;
        EXPECT_EQ(r.ResampleFile(2, in.c_str(), out.c_str(), 2, c.target, 1.0, nullptr), c.ok ? 1 : 0)
            << c.fileRate << "->" << c.target;
        EXPECT_EQ(test::FileExists(out), c.ok) << c.fileRate << "->" << c.target;
        if (!c.ok) {
            EXPECT_TRUE(messages.Saw(c.message)) << c.fileRate << "->" << c.target;
        }
        EXPECT_EQ(C_PCMResample::DestinationCount(c.fileRate, c.target, 3000) != 0, c.ok);
        std::remove(out.c_str());
    }
}

}  // namespace
}  // namespace cz
