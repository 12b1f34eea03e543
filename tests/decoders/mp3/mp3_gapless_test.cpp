// Gapless decoding: the encoder's Info frame gives its delay and padding, and
// the decoder then gives exactly the encoder's input, at lag 0, as mpg123 does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Mp3TestFiles.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"

namespace cz::mp3::test {
namespace {

std::vector<uint8_t> Decode(const std::vector<uint8_t>& mp3, bool gapless, C_Mp3ToWavConverter::GaplessInfo* info = nullptr) {
    std::vector<uint8_t> wav;
    C_Mp3ToWavConverter converter;
    converter.SetGapless(gapless);
    EXPECT_EQ(converter.ConvertMemory(mp3.data(), mp3.size(), &wav, nullptr, 0), 1);
    if (info != nullptr) *info = converter.Gapless();
    return wav;
}

// The lag of b against a (b[i + lag] ~ a[i]) with the highest normalised
// correlation, within +-range.
int BestLag(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int range) {
    int best = 0;
    double bestScore = -2;
    for (int lag = -range; lag <= range; ++lag) {
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            const long j = long(i) + lag;
            if (j < 0 || j >= long(b.size())) continue;
            ab += double(a[i]) * b[size_t(j)];
            aa += double(a[i]) * a[i];
            bb += double(b[size_t(j)]) * b[size_t(j)];
        }
        const double score = aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : -1;
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

struct Case {
    int rate;
    int channels;
    const char* lame;
};

class Gapless : public ::testing::TestWithParam<Case> {};

TEST_P(Gapless, GivesTheEncodersInputAtLagZeroAsMpg123Does) {
    if (!HaveEncoders()) GTEST_SKIP() << "needs sox and lame";
    const Case c = GetParam();
    cz::test::TempDir dir;
    const int frames = c.rate * 2 + 1234;  // not a multiple of any frame size
    const std::string wav = dir.File("in.wav"), mp3 = dir.File("in.mp3");
    // The rate is the null input's too, so that the length in samples holds.
    const std::string rate = std::to_string(c.rate);
    ASSERT_EQ(cz::test::RunCommand("sox -r " + rate + " -n -r " + rate + " -c " + std::to_string(c.channels) +
                                   " -b 16 '" + wav + "' synth " + std::to_string(frames) +
                                   "s pinknoise vol 0.3 2>/dev/null"),
              0);
    ASSERT_EQ(cz::test::RunCommand("lame --quiet " + std::string(c.lame) + " '" + wav + "' '" + mp3 + "' 2>/dev/null"),
              0);
    const std::vector<int16_t> input = WavSamples(cz::test::ReadFileBytes(wav));
    ASSERT_EQ(input.size(), size_t(frames) * size_t(c.channels));
    const std::vector<uint8_t> bytes = cz::test::ReadFileBytes(mp3);

    C_Mp3ToWavConverter::GaplessInfo info;
    const std::vector<int16_t> ours = WavSamples(Decode(bytes, true, &info));
    ASSERT_TRUE(info.found);
    EXPECT_EQ(ours.size(), input.size());
    // Channel 0 only: the lag in sample frames.
    std::vector<int16_t> left, oursLeft;
    for (size_t i = 0; i < input.size(); i += size_t(c.channels)) left.push_back(input[i]);
    for (size_t i = 0; i < ours.size(); i += size_t(c.channels)) oursLeft.push_back(ours[i]);
    EXPECT_EQ(BestLag(left, oursLeft, 1200), 0);

    // Without the option the stream decodes as before: whole frames with the
    // delays in front.
    const std::vector<int16_t> plain = WavSamples(Decode(bytes, false));
    EXPECT_GT(plain.size(), ours.size());

    // Without the frame count the end is found by holding the padding back.
    std::vector<uint8_t> uncounted = bytes;
    auto tag = std::search(uncounted.begin(), uncounted.end(), std::begin("Info"), std::end("Info") - 1);
    if (tag == uncounted.end()) tag = std::search(uncounted.begin(), uncounted.end(), std::begin("Xing"), std::end("Xing") - 1);
    ASSERT_NE(tag, uncounted.end());
    const size_t at = size_t(tag - uncounted.begin());
    ASSERT_EQ(uncounted[at + 7] & 1, 1);
    const uint32_t flags = uncounted[at + 7];
    uncounted[at + 7] = uint8_t(flags & ~1u);
    uncounted.erase(uncounted.begin() + long(at + 8), uncounted.begin() + long(at + 12));
    const size_t extEnd = at + 8 + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0) + 36;
    uncounted.insert(uncounted.begin() + long(extEnd), 4, uint8_t(0));
    C_Mp3ToWavConverter::GaplessInfo uncountedInfo;
    EXPECT_EQ(WavSamples(Decode(uncounted, true, &uncountedInfo)), ours);
    EXPECT_EQ(uncountedInfo.frames, -1);

    if (cz::test::HaveTool("mpg123")) {
        const std::string ref = dir.File("ref.wav");
        ASSERT_EQ(cz::test::RunCommand("mpg123 -q -w '" + ref + "' '" + mp3 + "' 2>/dev/null"), 0);
        const std::vector<int16_t> theirs = WavSamples(cz::test::ReadFileBytes(ref));
        EXPECT_EQ(theirs.size(), ours.size());
        const Difference d = Compare(ours, theirs, {0});
        EXPECT_EQ(d.skipped, 0u);
        EXPECT_LT(d.rms, 2.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, Gapless,
                         ::testing::Values(Case{32000, 1, "-b 96"}, Case{44100, 2, "-b 128"},
                                           Case{48000, 2, "-V 2"}, Case{16000, 1, "-b 64"}, Case{22050, 2, "-b 64"},
                                           Case{8000, 1, "-b 32"}, Case{11025, 1, "-b 32"}),
                         [](const auto& info) { return std::to_string(info.param.rate); });

TEST(GaplessOption, StreamWithoutInfoFrameDecodesAsBefore) {
    if (!HaveEncoders()) GTEST_SKIP() << "needs sox and lame";
    cz::test::TempDir dir;
    const std::string wav = dir.File("in.wav"), mp3 = dir.File("in.mp3");
    ASSERT_TRUE(MakeMp3(wav, mp3, "-r 44100 -c 1 -b 16", "synth 30000s pinknoise vol 0.3", "-t -b 64"));
    const std::vector<uint8_t> bytes = cz::test::ReadFileBytes(mp3);
    C_Mp3ToWavConverter::GaplessInfo info;
    EXPECT_EQ(Decode(bytes, true, &info), Decode(bytes, false));
    EXPECT_FALSE(info.found);
}

TEST(GaplessOption, InfoFrameFieldsAreRead) {
    // An MPEG-1 mono header, 17 bytes of side information, then the tag.
    std::vector<uint8_t> frame(417, 0);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    frame[2] = 0x90;
    frame[3] = 0xC4;
    const size_t at = 4 + 17;
    std::memcpy(&frame[at], "Info", 4);
    frame[at + 7] = 1;  // frames only
    frame[at + 11] = 200;
    const size_t ext = at + 12;
    std::memcpy(&frame[ext], "LAME3.100", 9);
    frame[ext + 21] = 0x24;  // delay 0x240 = 576, padding 0x7C4 = 1988
    frame[ext + 22] = 0x07;
    frame[ext + 23] = 0xC4;
    C_Mp3ToWavConverter::GaplessInfo info;
    ASSERT_TRUE(C_Mp3ToWavConverter::ReadInfoFrame(frame.data(), int32_t(frame.size()), &info));
    EXPECT_EQ(info.delay, 576);
    EXPECT_EQ(info.padding, 1988);
    EXPECT_EQ(info.frames, 200);
    // Cut short, or another encoder's name: not read.
    EXPECT_FALSE(C_Mp3ToWavConverter::ReadInfoFrame(frame.data(), int32_t(ext + 20), &info));
    std::memcpy(&frame[ext], "XYZW", 4);
    EXPECT_FALSE(C_Mp3ToWavConverter::ReadInfoFrame(frame.data(), int32_t(frame.size()), &info));
}

}  // namespace
}  // namespace cz::mp3::test
