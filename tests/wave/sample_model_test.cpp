#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "foundation/RefPtr.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

using SoundPtr = RefPtr<I_WavData>;

// A sound from signed sample values in the given format.
std::unique_ptr<C_WavData> MakeSound(const std::vector<int32_t>& values, uint16_t channels, uint16_t valid,
                                     uint16_t container, uint32_t sign, uint32_t rate = 8000) {
    auto sound = std::make_unique<C_WavData>();
    uint32_t bytes = static_cast<uint32_t>(values.size()) * (container / 8u);
    sound->SetFormat(rate, bytes, channels, valid, container, sign);
    sound->AllocBuffer(bytes);
    for (size_t i = 0; i < values.size(); ++i)
        sound->SetSampleValue(static_cast<uint32_t>(i / channels), static_cast<uint16_t>(i % channels), values[i]);
    return sound;
}

TEST(SampleModel, EightBitUnsignedToSixteenSigned) {
    auto sound = std::make_unique<C_WavData>();
    const uint8_t raw[] = {0x80, 0xFF, 0x00};
    sound->SetFormat(8000, 3, 1, 8, 8, 0);
    sound->SetSampleData(raw, 3);
    SoundPtr wide(sound->ConvertFormat(16, 16, 1, nullptr));
    ASSERT_TRUE(wide);
    auto* w = static_cast<C_WavData*>(wide.get());
    EXPECT_EQ(w->Sample(0, 0), 0);
    EXPECT_EQ(w->Sample(1, 0), 127 * 256);
    EXPECT_EQ(w->Sample(2, 0), -32768);
    // Narrowing rounds toward zero: -1 becomes the 8-bit midpoint.
    auto minusOne = MakeSound({-1}, 1, 16, 16, 1);
    SoundPtr narrow(minusOne->ConvertFormat(8, 8, 0, nullptr));
    EXPECT_EQ(narrow->GetSampleBuffer()[0], 0x80);
    // The chip form: 12 valid bits, unsigned, 16-bit containers.
    auto s = MakeSound({-32768, 0, 32767}, 1, 16, 16, 1);
    ASSERT_EQ(s->ConvertFormatInPlace(12, 16, 0, nullptr), 1);
    const uint8_t* b = s->GetSampleBuffer();
    EXPECT_EQ(b[0] | (b[1] << 8), 0);
    EXPECT_EQ(b[2] | (b[3] << 8), 2048);
    EXPECT_EQ(b[4] | (b[5] << 8), 4095);
    // Containers other than 8, 16, 32 are refused.
    EXPECT_EQ(s->ConvertFormat(24, 24, 1, nullptr), nullptr);
}

TEST(SampleModel, MonoStereoAndChannels) {
    auto pair = MakeSound({-3, 0, 10, 20}, 2, 16, 16, 1);
    ASSERT_EQ(pair->ToMono(), 1);
    EXPECT_EQ(pair->GetWavInfo()->GetChannels(), 1);
    EXPECT_EQ(pair->Sample(0, 0), -1);
    EXPECT_EQ(pair->Sample(1, 0), 15);
    EXPECT_EQ(pair->GetDataSize(), 4u);  // exactly one sample per frame, no stray byte
    ASSERT_EQ(pair->ToStereo(), 1);
    EXPECT_EQ(pair->Sample(1, 1), 15);
    auto mono = MakeSound({5, 6}, 1, 8, 8, 0);
    ASSERT_EQ(mono->ToStereoPlaced(1), 1);
    EXPECT_EQ(mono->Sample(1, 1), 6);
    EXPECT_EQ(mono->GetSampleBuffer()[0], 0x80);  // the silent side is the unsigned midpoint
    auto stereo = MakeSound({1, 2, 3, 4, 5, 6}, 2, 16, 16, 1);
    SoundPtr right(stereo->ExtractChannel(1, 1, 10));
    ASSERT_TRUE(right);
    EXPECT_EQ(right->GetWavInfo()->GetSampleCount(), 2u);
    EXPECT_EQ(stereo->ExtractChannel(2, 0, 1), nullptr);
    auto ins = MakeSound({100, 200}, 1, 16, 16, 1);
    EXPECT_EQ(stereo->InsertChannel(ins.get(), 0, 2), 1);  // runs past the end: clipped
    EXPECT_EQ(stereo->Sample(2, 0), 100);
    EXPECT_EQ(stereo->InsertChannel(ins.get(), 5, 0), 0);
}

TEST(SampleModel, SilenceDetection) {
    // Level 16 on 16-bit samples: a threshold of 256, averages -257..256 quiet.
    std::vector<int32_t> values = {1000, -257, 256, 1000, -258, 257, 1000};
    auto s = MakeSound(values, 1, 16, 16, 1);
    C_SilenceSegmentList* found = s->DetectSilence(16, 1, 0, 6, 0, 0, nullptr);
    ASSERT_TRUE(found);
    ASSERT_EQ(found->GetCount(), 1);
    EXPECT_EQ(found->ItemAt(0)->GetStart(), 1u);
    EXPECT_EQ(found->ItemAt(0)->GetEnd(), 2u);

    // Minimum length 100: a 99-sample quiet run inside is dropped, a
    // 10-sample run at the end is kept.
    std::vector<int32_t> v(300, 5000);
    for (int i = 100; i < 199; ++i) v[i] = 0;
    for (int i = 290; i < 300; ++i) v[i] = 0;
    auto t = MakeSound(v, 1, 16, 16, 1);
    found = t->DetectSilenceAll(16, 100);
    ASSERT_TRUE(found);
    ASSERT_EQ(found->GetCount(), 1);
    EXPECT_EQ(found->ItemAt(0)->GetStart(), 290u);
    EXPECT_EQ(found->ItemAt(0)->GetEnd(), 299u);
    EXPECT_EQ(t->DetectSilence(2048, 1, 0, 10, 0, 0, nullptr), nullptr);
    EXPECT_EQ(t->DetectSilence(1, 1, 10, 10, 0, 0, nullptr), nullptr);
    t->SilenceDetectedSpans();
    EXPECT_EQ(t->Sample(295, 0), 0);
}

TEST(SampleModel, GainNormalizeAndDc) {
    auto s = MakeSound({16384, -8192, 100, 0}, 1, 16, 16, 1);
    ASSERT_EQ(s->Normalize(0, 3, 0, 0, 0), 1);
    EXPECT_EQ(s->Sample(0, 0), 32767);  // doubled and clamped
    EXPECT_EQ(s->Sample(1, 0), -16384);
    EXPECT_EQ(s->Sample(3, 0), 0);
    EXPECT_EQ(s->Normalize(0, 4, 0, 0, 0), 0);  // range past the end
    auto silent = MakeSound({0, 0, 0}, 1, 16, 16, 1);
    EXPECT_EQ(silent->NormalizeAll(0), 1);
    auto ramp = MakeSound({1000, 1000, 1000}, 1, 16, 16, 1);
    ASSERT_EQ(ramp->ApplyGainRamp(0.0, 1.0, 0, 2, 0, 0, nullptr), 1);
    EXPECT_EQ(ramp->Sample(0, 0), 0);
    EXPECT_EQ(ramp->Sample(1, 0), 500);
    EXPECT_EQ(ramp->Sample(2, 0), 1000);
    EXPECT_EQ(ramp->ApplyGainRamp(2.0, 2.0, 1, 1, 0, 0, nullptr), 1);  // one sample: no division by zero
    EXPECT_EQ(ramp->Sample(1, 0), 1000);
    auto dc = MakeSound({110, 90, 100}, 1, 16, 16, 1);
    EXPECT_EQ(dc->GetMean(), 100);
    dc->RemoveDcOffset();
    EXPECT_EQ(dc->Sample(0, 0), 10);
    C_WavData empty;
    EXPECT_EQ(empty.GetMean(), 0);
}

TEST(SampleModel, SegmentsFromRegionsAndMerge) {
    auto s = MakeSound(std::vector<int32_t>(1000, 0), 1, 16, 16, 1);
    s->GetActionEventMgr()->AddSilenceRegion(500, 600);
    s->GetActionEventMgr()->AddSilenceRegion(100, 200);
    C_SilenceSegmentList* segs = s->BuildSilenceSegments();
    ASSERT_EQ(segs->GetCount(), 2);
    EXPECT_EQ(segs->ItemAt(0)->GetStart(), 100u);
    C_SilenceSegmentList other, merged;
    other.Add(std::make_unique<C_SilenceSegment>(150, 300));
    other.Add(std::make_unique<C_SilenceSegment>(601, 700));
    s->MergeSegments(*segs, other, merged);
    ASSERT_EQ(merged.GetCount(), 2);
    EXPECT_EQ(merged.ItemAt(0)->GetEnd(), 300u);
    EXPECT_EQ(merged.ItemAt(1)->GetStart(), 500u);
    EXPECT_EQ(merged.ItemAt(1)->GetEnd(), 700u);
}

TEST(SampleModel, BufferPeakAndBounds) {
    auto s = MakeSound({3, -7, 5}, 1, 16, 16, 1);
    EXPECT_EQ(s->GetBuffer()->GetPeak(0, 2, 0, 0), 7);
    EXPECT_EQ(s->GetBuffer()->GetPeak(2, 2, 0, 0), 0);
    EXPECT_EQ(s->GetBuffer()->GetPeak(0, 3, 0, 0), -1);
    EXPECT_EQ(s->GetBuffer()->GetPeak(0, 1, 0, 1), -1);
    // Access past the buffer reads 0 and writes nothing.
    EXPECT_EQ(s->Sample(99, 0), 0);
    s->SetSampleValue(99, 0, 1);
    C_WavDataBufferIterator* it = s->GetBuffer()->CreateIterator(0, 0);
    EXPECT_EQ(it->Write(40000), 32767);
    EXPECT_EQ(it->Read(), 32767);
}

}  // namespace
}  // namespace cz
