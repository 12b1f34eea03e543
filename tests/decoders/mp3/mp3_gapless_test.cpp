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
#include "decoders/mp3/Mp3Gapless.h"

namespace cz::mp3::test {
namespace {

std::vector<uint8_t> Decode(const std::vector<uint8_t>& mp3, bool gapless,
                            C_Mp3ToWavConverter::GaplessInfo* info = nullptr) {
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
    ASSERT_EQ(
        cz::test::RunCommand("sox -r " + rate + " -n -r " + rate + " -c " + std::to_string(c.channels) + " -b 16 '" +
                             wav + "' synth " + std::to_string(frames) + "s pinknoise vol 0.3 2>/dev/null"),
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
    if (tag == uncounted.end())
        tag = std::search(uncounted.begin(), uncounted.end(), std::begin("Xing"), std::end("Xing") - 1);
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
                         ::testing::Values(Case{32000, 1, "-b 96"}, Case{44100, 2, "-b 128"}, Case{48000, 2, "-V 2"},
                                           Case{16000, 1, "-b 64"}, Case{22050, 2, "-b 64"}, Case{8000, 1, "-b 32"},
                                           Case{11025, 1, "-b 32"}),
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

// An ID3v2 tag (version 3 or 4) holding a title and a comment described
// "iTunSMPB" with text, in Latin-1 (encoding 0) or UTF-16 with a byte-order
// mark (encoding 1), and some padding after the frames.
std::vector<uint8_t> ItunesTag(int version, int encoding, const std::string& description, const std::string& text) {
    auto put32 = [](std::vector<uint8_t>& v, uint32_t n, bool syncSafe) {
        for (int shift = 24; shift >= 0; shift -= 8)
            v.push_back(syncSafe ? uint8_t((n >> (shift / 8 * 7)) & 0x7F) : uint8_t(n >> shift));
    };
    auto frame = [&](const char* id, const std::vector<uint8_t>& body) {
        std::vector<uint8_t> f(id, id + 4);
        put32(f, uint32_t(body.size()), version == 4);
        f.push_back(0);
        f.push_back(0);
        f.insert(f.end(), body.begin(), body.end());
        return f;
    };
    auto encode = [&](std::vector<uint8_t>& body, const std::string& s) {
        if (encoding == 1) {
            body.push_back(0xFF);
            body.push_back(0xFE);
            for (char c : s) {
                body.push_back(uint8_t(c));
                body.push_back(0);
            }
            body.push_back(0);
            body.push_back(0);
        } else {
            body.insert(body.end(), s.begin(), s.end());
            body.push_back(0);
        }
    };
    std::vector<uint8_t> frames;
    const std::vector<uint8_t> title = frame("TIT2", {0, 'p', 'r', 'o', 'm', 'p', 't'});
    frames.insert(frames.end(), title.begin(), title.end());
    std::vector<uint8_t> body{uint8_t(encoding), 'e', 'n', 'g'};
    encode(body, description);
    encode(body, text);
    const std::vector<uint8_t> comment = frame("COMM", body);
    frames.insert(frames.end(), comment.begin(), comment.end());
    frames.insert(frames.end(), 64, uint8_t(0));
    std::vector<uint8_t> tag{'I', 'D', '3', uint8_t(version), 0, 0};
    put32(tag, uint32_t(frames.size()), true);
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

std::string SmpbText(int delay, int padding, uint64_t count) {
    char text[80];
    std::snprintf(text, sizeof text, " 00000000 %08X %08X %016llX 00000000 00000000", unsigned(delay),
                  unsigned(padding), static_cast<unsigned long long>(count));
    return text;
}

// The iTunes-style comment read when there is no Info frame: lame's stream
// written without its Info frame, behind a tag whose comment carries the
// delay and padding lame recorded, decodes exactly as the stream with the
// frame: the encoder's input at lag 0.
TEST(GaplessComment, StandsInForTheInfoFrame) {
    if (!HaveEncoders()) GTEST_SKIP() << "needs sox and lame";
    struct CommentCase {
        int rate, channels;
        const char* lame;
        int version, encoding;
        bool count;
    };
    const CommentCase cases[] = {
        {44100, 2, "-b 128", 3, 0, true}, {48000, 1, "-b 96", 4, 1, true},  {16000, 1, "-b 64", 3, 1, false},
        {8000, 1, "-b 32", 4, 0, true},   {22050, 2, "-b 64", 4, 0, false},
    };
    for (const CommentCase& c : cases) {
        SCOPED_TRACE(c.rate);
        cz::test::TempDir dir;
        const int frames = c.rate + 777;
        const std::string wav = dir.File("in.wav"), tagged = dir.File("info.mp3"), bare = dir.File("bare.mp3");
        const std::string rate = std::to_string(c.rate);
        ASSERT_EQ(cz::test::RunCommand("sox -r " + rate + " -n -r " + rate + " -c " + std::to_string(c.channels) +
                                       " -b 16 '" + wav + "' synth " + std::to_string(frames) +
                                       "s pinknoise vol 0.3 2>/dev/null"),
                  0);
        ASSERT_EQ(cz::test::RunCommand("lame --quiet " + std::string(c.lame) + " '" + wav + "' '" + tagged + "'"), 0);
        ASSERT_EQ(cz::test::RunCommand("lame --quiet -t " + std::string(c.lame) + " '" + wav + "' '" + bare + "'"), 0);
        const std::vector<uint8_t> withInfo = cz::test::ReadFileBytes(tagged);
        C_Mp3ToWavConverter::GaplessInfo lame;
        ASSERT_TRUE(C_Mp3ToWavConverter::ReadInfoFrame(withInfo.data(), int32_t(withInfo.size()), &lame));

        std::vector<uint8_t> file = ItunesTag(c.version, c.encoding, "iTunSMPB",
                                              SmpbText(lame.delay, lame.padding, c.count ? uint64_t(frames) : 0));
        const std::vector<uint8_t> stream = cz::test::ReadFileBytes(bare);
        file.insert(file.end(), stream.begin(), stream.end());

        C_Mp3ToWavConverter::GaplessInfo info;
        const std::vector<int16_t> ours = WavSamples(Decode(file, true, &info));
        ASSERT_TRUE(info.found);
        EXPECT_EQ(info.delay, lame.delay);
        EXPECT_EQ(ours.size(), size_t(frames) * size_t(c.channels));
        EXPECT_EQ(ours, WavSamples(Decode(withInfo, true)));
        // Without the option the tag is only skipped.
        EXPECT_EQ(Decode(file, false), Decode(stream, false));
    }
}

// Comments that are not the gapless one, or damaged: not read, nothing
// outside the bytes given looked at.
TEST(GaplessComment, OthersAndDamagedAreNotRead) {
    const std::string good = SmpbText(576, 1000, 12345);
    Mp3GaplessInfo info;
    const std::vector<uint8_t> tag = ItunesTag(3, 0, "iTunSMPB", good);
    ASSERT_TRUE(ReadItunesGapless(tag.data(), tag.size(), &info));
    EXPECT_EQ(info.delay, 576);
    EXPECT_EQ(info.padding, 1000);
    EXPECT_EQ(info.length, 12345);

    struct Bad {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Bad> bad = {
        {"another description", ItunesTag(3, 0, "iTunNORM", good)},
        {"not hexadecimal", ItunesTag(4, 0, "iTunSMPB", " 00000000 0000024G 00000001 0")},
        {"too few fields", ItunesTag(3, 1, "iTunSMPB", " 00000000 00000240 000003C4")},
        {"a delay beyond any encoder's", ItunesTag(3, 0, "iTunSMPB", " 0 FFFFFFFF 0 0")},
        {"cut inside the comment", std::vector<uint8_t>(tag.begin(), tag.begin() + 40)},
        {"not a tag", std::vector<uint8_t>(tag.begin() + 1, tag.end())},
    };
    std::vector<uint8_t> unsynchronised = tag;
    unsynchronised[5] = 0x80;
    bad.push_back({"unsynchronised tag", unsynchronised});
    std::vector<uint8_t> oversized = tag;
    oversized[10 + 17 + 4] = 0x10;  // the comment's size beyond the tag
    bad.push_back({"frame larger than the tag", oversized});
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        // An exact-size copy, so that a read past the end is caught by the
        // sanitizers.
        std::vector<uint8_t> copy(b.bytes);
        EXPECT_FALSE(ReadItunesGapless(copy.data(), copy.size(), &info));
    }
}

}  // namespace
}  // namespace cz::mp3::test
