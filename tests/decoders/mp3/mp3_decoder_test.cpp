// Frame decoder: sync search, headers and frame formats, result codes of bad
// frames and their zeroed output, the reservoir and the free format.
#include <gtest/gtest.h>

#include <algorithm>

#include "Mp3FrameBuilder.h"
#include "Mp3TestFiles.h"
#include "decoders/mp3/Mp3Decoder.h"
#include "decoders/mp3/Mp3Tables.h"

namespace cz::mp3::test {
namespace {

struct Decoded {
    int32_t result;
    int32_t consumed;
    std::vector<int16_t> pcm;
};

Decoded DecodeOne(Mp3Decoder* d, const std::vector<uint8_t>& bytes, size_t at = 0) {
    Decoded r;
    r.pcm.assign(kMp3MaxFrameSamples, 0x5555);
    const uint8_t* p = bytes.data() + at;
    int32_t left = int32_t(bytes.size() - at);
    r.result = Mp3DecodeFrame(d, &p, &left, r.pcm.data());
    r.consumed = int32_t(p - (bytes.data() + at));
    EXPECT_EQ(left, int32_t(bytes.size() - at) - r.consumed);
    return r;
}

bool AllZero(const std::vector<int16_t>& pcm, size_t count) {
    return std::all_of(pcm.begin(), pcm.begin() + long(count), [](int16_t s) { return s == 0; });
}

TEST(Mp3Decoder, FindSync) {
    struct Case {
        std::vector<uint8_t> bytes;
        int32_t expected;
    };
    const Case cases[] = {
        {{}, -1},
        {{0xFF}, -1},
        {{0xFF, 0xE0}, 0},
        {{0x00, 0xFF, 0xFB, 0x90}, 1},
        {{0xFF, 0xDF, 0xFF}, -1},
        {{0xFE, 0xFF, 0xFF, 0xF0}, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Mp3FindSync(c.bytes.data(), int32_t(c.bytes.size())), c.expected);
    }
    EXPECT_EQ(Mp3FindSync(nullptr, 10), -1);
}

TEST(Mp3Decoder, AliasCoefficientsAreTheStandardsInQ31) {
    // cs0 = 1 / sqrt(1 + 0.36), ca0 = -0.6 / sqrt(1 + 0.36); computed in double
    // precision they lie within a few units of the last place of the values
    // usually quoted from single-precision work (0x6dc253f0, 0xbe2500aa).
    const Mp3Tables& t = GetMp3Tables();
    EXPECT_NEAR(double(t.alias[0]), double(int32_t(0x6dc253f0)), 32.0);
    EXPECT_NEAR(double(t.alias[1]), double(int32_t(0xbe2500aau)), 32.0);
    EXPECT_EQ(t.alias[0], 1841452036);  // round(2^31 / sqrt(1.36))
}

TEST(Mp3Decoder, FrameFormatsOfTheVersions) {
    struct Case {
        uint8_t versionBits;
        bool mono;
        Mp3FrameFormat expected;
        int frameBytes;
    };
    // 11 MPEG-1, 01 (reserved) also MPEG-1, 10 MPEG-2, 00 MPEG-2.5; bitrate index 9.
    const Case cases[] = {
        {3, false, {128000, 2, 44100, 16, 2304, 3, 0}, 417},
        {1, true, {128000, 1, 44100, 16, 1152, 3, 0}, 417},
        {2, false, {80000, 2, 22050, 16, 1152, 3, 1}, 261},
        {0, true, {80000, 1, 11025, 16, 576, 3, 2}, 522},
    };
    for (const Case& c : cases) {
        auto d = Mp3DecoderCreate();
        ASSERT_TRUE(d);
        std::vector<uint8_t> frame = BuildFrame(9, c.mono, 0);
        frame[1] = uint8_t((frame[1] & ~0x18) | (c.versionBits << 3));
        if (c.versionBits == 2 || c.versionBits == 0) {
            // The builder writes the MPEG-1 layout; all-zero side information
            // is valid in the MPEG-2 layout too.
            std::fill(frame.begin() + 4, frame.begin() + 4 + 32, 0);
        }
        frame.resize(size_t(c.frameBytes), 0);
        const Decoded r = DecodeOne(d.get(), frame);
        ASSERT_EQ(r.result, kMp3Ok) << int(c.versionBits);
        EXPECT_EQ(r.consumed, c.frameBytes);
        Mp3FrameFormat f;
        Mp3GetFrameFormat(d.get(), &f);
        EXPECT_EQ(f.bitrate, c.expected.bitrate);
        EXPECT_EQ(f.channels, c.expected.channels);
        EXPECT_EQ(f.sampleRate, c.expected.sampleRate);
        EXPECT_EQ(f.bitsPerSample, 16);
        EXPECT_EQ(f.outputSamples, c.expected.outputSamples);
        EXPECT_EQ(f.layer, 3);
        EXPECT_EQ(f.version, c.expected.version);
        EXPECT_TRUE(AllZero(r.pcm, size_t(f.outputSamples)));
    }
}

TEST(Mp3Decoder, InvalidHeadersAreRefusedUntouched) {
    auto d = Mp3DecoderCreate();
    const std::vector<uint8_t> good = BuildFrame(9, false, 0);
    struct Case {
        int byte;
        uint8_t value;
    };
    const Case cases[] = {
        {2, 0xF0},  // bitrate index 15
        {2, 0x9C},  // sample-rate index 3
        {1, 0xF9},  // layer bits 00
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> frame = good;
        frame[size_t(c.byte)] = c.value;
        const Decoded r = DecodeOne(d.get(), frame);
        EXPECT_EQ(r.result, kMp3InvalidHeader);
        EXPECT_EQ(r.consumed, 0);
        EXPECT_EQ(r.pcm[0], 0x5555);  // output untouched
    }
    EXPECT_EQ(DecodeOne(nullptr, good).result, kMp3NoDecoder);
}

TEST(Mp3Decoder, LayerOneOrTwoHeaderGivesZeroFormat) {
    auto d = Mp3DecoderCreate();
    ASSERT_EQ(DecodeOne(d.get(), BuildFrame(9, false, 0)).result, kMp3Ok);
    for (uint8_t layerBits : {uint8_t(2), uint8_t(3)}) {
        std::vector<uint8_t> frame = BuildFrame(9, false, 0);
        frame[1] = uint8_t((frame[1] & ~0x06) | (layerBits << 1));
        EXPECT_EQ(DecodeOne(d.get(), frame).result, kMp3InvalidHeader);
        Mp3FrameFormat f;
        Mp3GetFrameFormat(d.get(), &f);
        EXPECT_EQ(f.bitrate, 0);
        EXPECT_EQ(f.layer, 0);
        EXPECT_EQ(f.outputSamples, 0);
    }
}

TEST(Mp3Decoder, ReservoirUnderflowUntilMainDataArrives) {
    auto d = Mp3DecoderCreate();
    // Each frame refers 300 bytes back, which the first frame cannot supply.
    const std::vector<uint8_t> frame = BuildFrame(9, false, 300);
    const Decoded first = DecodeOne(d.get(), frame);
    EXPECT_EQ(first.result, kMp3MainDataUnderflow);
    EXPECT_EQ(first.consumed, 417);  // the main data joins the reservoir
    EXPECT_TRUE(AllZero(first.pcm, 2304));
    EXPECT_EQ(DecodeOne(d.get(), frame).result, kMp3Ok);
}

TEST(Mp3Decoder, BadFramesGiveTheirCodesAndSilence) {
    struct Case {
        const char* name;
        GranuleFields fields;
        uint8_t fill;
        int32_t expected;
    };
    const Case cases[] = {
        {"big_values above 288", {100, 289, 150, 1}, 0, kMp3InvalidSideInfo},
        {"part2_3_length beyond the main data", {4000, 10, 150, 1}, 0, kMp3InvalidScaleFactors},
        {"Huffman data past part2_3_length", {10, 81, 150, 1}, 0xFF, kMp3InvalidHuffman},
        {"table 4 does not exist", {100, 10, 150, 4}, 0, kMp3InvalidHuffman},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = Mp3DecoderCreate();
        const std::vector<uint8_t> frame = BuildFrame(9, false, 0, c.fields, c.fill);
        const Decoded r = DecodeOne(d.get(), frame);
        EXPECT_EQ(r.result, c.expected);
        EXPECT_TRUE(AllZero(r.pcm, 2304));
        // The decoder carries on with the next frame.
        EXPECT_EQ(DecodeOne(d.get(), BuildFrame(9, false, 0)).result, kMp3Ok);
    }
}

TEST(Mp3Decoder, TruncatedFrameIsInputUnderflow) {
    auto d = Mp3DecoderCreate();
    std::vector<uint8_t> frame = BuildFrame(9, false, 0);
    frame.resize(200);
    EXPECT_EQ(DecodeOne(d.get(), frame).result, kMp3InputUnderflow);
    frame.resize(3);
    EXPECT_EQ(DecodeOne(d.get(), frame).result, kMp3InputUnderflow);
}

TEST(Mp3Decoder, FreeFormatBitrateFromTheDistanceBetweenHeaders) {
    auto d = Mp3DecoderCreate();
    const std::vector<uint8_t> stream = Repeat(BuildFrame(0, false, 0, {}, 0, 300), 3);
    size_t at = 0;
    for (int i = 0; i < 2; ++i) {
        const Decoded r = DecodeOne(d.get(), stream, at);
        ASSERT_EQ(r.result, kMp3Ok);
        EXPECT_EQ(r.consumed, 300);
        at += size_t(r.consumed);
    }
    Mp3FrameFormat f;
    Mp3GetFrameFormat(d.get(), &f);
    EXPECT_EQ(f.bitrate, 300 * 44100 * 8 / 1152);
    // The last frame has no follower; the known length still serves.
    EXPECT_EQ(DecodeOne(d.get(), stream, at).result, kMp3Ok);
}

TEST(Mp3Decoder, FreeFormatFramesTooLongForTheReservoirAreRefused) {
    auto d = Mp3DecoderCreate();
    const std::vector<uint8_t> stream = Repeat(BuildFrame(0, false, 0, {}, 0, 1800), 2);
    EXPECT_EQ(DecodeOne(d.get(), stream).result, kMp3InvalidHeader);
    const std::vector<uint8_t> lone = BuildFrame(0, false, 0, {}, 0, 400);
    auto d2 = Mp3DecoderCreate();
    EXPECT_EQ(DecodeOne(d2.get(), lone).result, kMp3FreeFormatSyncNotFound);
}

TEST(Mp3Decoder, FreeFormatDoesNotCaptureLaterStandardFrames) {
    auto d = Mp3DecoderCreate();
    std::vector<uint8_t> stream = Repeat(BuildFrame(0, false, 0, {}, 0, 300), 2);
    const std::vector<uint8_t> standard = BuildFrame(9, false, 0);
    stream.insert(stream.end(), standard.begin(), standard.end());
    EXPECT_EQ(DecodeOne(d.get(), stream, 0).result, kMp3Ok);
    EXPECT_EQ(DecodeOne(d.get(), stream, 300).result, kMp3Ok);
    const Decoded r = DecodeOne(d.get(), stream, 600);
    EXPECT_EQ(r.result, kMp3Ok);
    EXPECT_EQ(r.consumed, 417);
}

TEST(Mp3Decoder, FullScaleSaturatesWithoutWrapping) {
    if (!HaveEncoders() || !cz::test::HaveTool("mpg123")) {
        GTEST_SKIP() << "sox, lame or mpg123 missing";
    }
    // Encoded at twice full scale: the decoded wave runs into both rails.
    // A wrapped sample would differ from mpg123's clipped one by about 65536.
    cz::test::TempDir dir;
    const std::string mp3 = dir.File("loud.mp3");
    ASSERT_TRUE(MakeMp3(dir.File("loud.wav"), mp3, "-r 44100 -c 1 -b 16", "synth 1 square 100", "--scale 2 -b 128"));
    ASSERT_EQ(
        cz::test::RunCommand("mpg123 -q --no-gapless -s '" + mp3 + "' > '" + dir.File("ref.pcm") + "' 2>/dev/null"), 0);
    const std::vector<uint8_t> bytes = cz::test::ReadFileBytes(mp3);
    std::vector<uint8_t> wav;
    C_Mp3ToWavConverter converter;
    ASSERT_EQ(converter.ConvertMemory(bytes.data(), bytes.size(), &wav, nullptr, 0), 1);
    const std::vector<int16_t> ours = WavSamples(wav);
    EXPECT_NE(std::find(ours.begin(), ours.end(), int16_t(32767)), ours.end());
    EXPECT_NE(std::find(ours.begin(), ours.end(), int16_t(-32768)), ours.end());
    const Difference diff = Compare(ours, Samples(cz::test::ReadFileBytes(dir.File("ref.pcm")), 0), {0, 1152});
    EXPECT_LE(diff.maxAbs, 2);
}

}  // namespace
}  // namespace cz::mp3::test
