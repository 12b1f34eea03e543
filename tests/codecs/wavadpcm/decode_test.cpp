// The WAV ADPCM decoders on streams built in code: sample arithmetic worked
// by hand, channel interleaving, short last blocks, and malformed format
// records and blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "codecs/wavadpcm/C_Buffer.h"
#include "codecs/wavadpcm/C_DVIADPCMCodec.h"
#include "codecs/wavadpcm/WavAdpcmDecode.h"
#include "support/LittleEndian.h"

namespace cz {
namespace {

using test::Put16;
using test::Put32;
using Bytes = std::vector<uint8_t>;
using Pairs = std::vector<std::pair<int16_t, int16_t>>;

const Pairs kStandardPairs = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

Bytes Record(uint16_t tag, uint16_t channels, uint16_t blockAlign, uint16_t bits) {
    Bytes v;
    Put16(v, tag);
    Put16(v, channels);
    Put32(v, 8000);
    Put32(v, 4000);
    Put16(v, blockAlign);
    Put16(v, bits);
    return v;
}

Bytes ImaFmt(uint16_t channels, uint16_t blockAlign, uint16_t samplesPerBlock, uint16_t bits = 4) {
    Bytes v = Record(0x11, channels, blockAlign, bits);
    Put16(v, 2);
    Put16(v, samplesPerBlock);
    return v;
}

Bytes MsFmt(uint16_t channels, uint16_t blockAlign, uint16_t samplesPerBlock, const Pairs& pairs = kStandardPairs,
            int statedCount = -1) {
    Bytes v = Record(2, channels, blockAlign, 4);
    Put16(v, static_cast<uint16_t>(4 + 4 * pairs.size()));
    Put16(v, samplesPerBlock);
    Put16(v, static_cast<uint16_t>(statedCount < 0 ? pairs.size() : statedCount));
    for (const auto& [a, b] : pairs) {
        Put16(v, static_cast<uint16_t>(a));
        Put16(v, static_cast<uint16_t>(b));
    }
    return v;
}

struct Decoded {
    bool ok = false;
    std::vector<int16_t> samples;
    WavAdpcmStreamInfo info;
};

Decoded Decode(const Bytes& fmt, const Bytes& data, WavAdpcmArithmetic arithmetic = WavAdpcmArithmetic::kReference) {
    Decoded d;
    d.ok = DecodeWavAdpcm(fmt.data(), fmt.size(), data.data(), data.size(), d.samples, &d.info, arithmetic);
    return d;
}

TEST(WavAdpcmBuffer, ReadsNibblesInBothOrdersBytesAndWords) {
    const Bytes block = {0x12, 0x34, 0xFE, 0xFF, 0x80};
    C_Buffer high(block.data(), block.size());
    uint8_t n = 0;
    ASSERT_TRUE(high.ReadNibbleHighFirst(n));
    EXPECT_EQ(n, 1);
    ASSERT_TRUE(high.ReadNibbleHighFirst(n));
    EXPECT_EQ(n, 2);
    C_Buffer low(block.data(), block.size());
    ASSERT_TRUE(low.ReadNibbleLowFirst(n));
    EXPECT_EQ(n, 2);
    ASSERT_TRUE(low.ReadNibbleLowFirst(n));
    EXPECT_EQ(n, 1);
    // A byte read after half a byte starts at the next whole byte.
    C_Buffer mixed(block.data(), block.size());
    ASSERT_TRUE(mixed.ReadNibbleLowFirst(n));
    uint8_t b = 0;
    ASSERT_TRUE(mixed.ReadByte(b));
    EXPECT_EQ(b, 0x34);
    int16_t w = 0;
    ASSERT_TRUE(mixed.ReadWord(w));
    EXPECT_EQ(w, -2);
    EXPECT_FALSE(mixed.ReadWord(w));  // one byte left
    EXPECT_EQ(mixed.Position(), 4u);
    EXPECT_FALSE(mixed.Skip(2));
    EXPECT_TRUE(mixed.Skip(1));
    EXPECT_FALSE(mixed.ReadNibbleHighFirst(n));
    EXPECT_FALSE(mixed.ReadByte(b));
}

TEST(WavAdpcmBuffer, WritesOnlyIntoWritableBlocks) {
    Bytes block(4, 0);
    C_Buffer out(block.data(), block.size());
    EXPECT_TRUE(out.WriteNibbleHighFirst(0xA));
    EXPECT_TRUE(out.WriteNibbleHighFirst(0x5));
    EXPECT_TRUE(out.WriteNibbleLowFirst(0x3));
    EXPECT_TRUE(out.WriteWord(-2));  // aligns past the half-written byte
    EXPECT_FALSE(out.WriteByte(1));
    EXPECT_EQ(block, (Bytes{0xA5, 0x03, 0xFE, 0xFF}));

    const Bytes& constant = block;
    C_Buffer readOnly(constant.data(), constant.size());
    EXPECT_FALSE(readOnly.WriteByte(0));
    EXPECT_FALSE(readOnly.WriteNibbleLowFirst(0));
    EXPECT_EQ(block[0], 0xA5);
}

// Step 7, code 7: the reference sums 7/8 + 7 + 7/2 + 7/4 term by term (0 + 7
// + 3 + 1 = 11); the exact product gives 15 × 7 / 8 = 13.
TEST(WavAdpcmIma, WorkedMonoBlockInBothArithmetics) {
    const Bytes fmt = ImaFmt(1, 8, 9);
    const Bytes data = {0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00};
    const Decoded ref = Decode(fmt, data);
    ASSERT_TRUE(ref.ok);
    EXPECT_EQ(ref.samples, (std::vector<int16_t>{0, 11, 13, 14, 15, 16, 17, 18, 19}));
    const Decoded exact = Decode(fmt, data, WavAdpcmArithmetic::kExactProduct);
    ASSERT_TRUE(exact.ok);
    EXPECT_EQ(exact.samples, (std::vector<int16_t>{0, 13, 15, 16, 17, 18, 19, 20, 21}));
}

TEST(WavAdpcmIma, StereoGroupsInterleaveAndClamp) {
    // Left starts at 0 / index 0, right at 32767 / index 88 with codes that
    // push upward (clamped), then one large negative code.
    const Bytes fmt = ImaFmt(2, 16, 3);
    const Bytes data = {0x00, 0x00, 0x00, 0x00, 0xFF, 0x7F, 88, 0x00,  // headers
                        0x07, 0x00, 0x00, 0x00,                        // left group
                        0xF7, 0x00, 0x00, 0x00};                       // right group
    const Decoded d = Decode(fmt, data);
    ASSERT_TRUE(d.ok);
    // Right: code 7 adds 4095 + 32767 + 16383 + 8191 = 61436 and clamps; code 15
    // subtracts the same.
    EXPECT_EQ(d.samples, (std::vector<int16_t>{0, 32767, 11, 32767, 13, 32767 - 61436}));
    EXPECT_EQ(d.info.frames, 3u);
}

TEST(WavAdpcmMs, WorkedMonoBlock) {
    const Bytes fmt = MsFmt(1, 8, 4);
    // Pair 0 (256, 0), delta 16, first 100, earlier 50; codes +1 then -1.
    const Bytes data = {0, 16, 0, 100, 0, 50, 0, 0x1F};
    const Decoded d = Decode(fmt, data);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{50, 100, 116, 100}));
}

// Pair 3 (192, 64) with first sample -1: the prediction -192/256 is -1 when
// rounded down and 0 when truncated.
TEST(WavAdpcmMs, StereoHeaderLayoutAndRounding) {
    const Bytes fmt = MsFmt(2, 15, 3);
    const Bytes data = {3,    0,                 // pair per channel
                        16,   0,    20,   0,     // deltas
                        0xFF, 0xFF, 0x10, 0x00,  // first samples: -1, 16
                        0x00, 0x00, 0x08, 0x00,  // earlier samples: 0, 8
                        0x01};                   // left code 0, right code 1
    const Decoded ref = Decode(fmt, data);
    ASSERT_TRUE(ref.ok);
    EXPECT_EQ(ref.samples, (std::vector<int16_t>{0, 8, -1, 16, -1, 36}));
    const Decoded exact = Decode(fmt, data, WavAdpcmArithmetic::kExactProduct);
    ASSERT_TRUE(exact.ok);
    EXPECT_EQ(exact.samples, (std::vector<int16_t>{0, 8, -1, 16, 0, 36}));
}

TEST(WavAdpcmMs, CustomCoefficientPairs) {
    // One pair (300, -44): prediction (300 × 1000 − 44 × 500) / 256 = 1085.9 → 1085.
    const Bytes fmt = MsFmt(1, 8, 3, {{300, -44}});
    const Bytes data = {0, 16, 0, 0xE8, 0x03, 0xF4, 0x01, 0x20};
    const Decoded d = Decode(fmt, data);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{500, 1000, 1085 + 2 * 16}));
}

// Random but well-formed blocks: a data chunk cut at any length decodes to a
// prefix of the whole decode, never reading past the cut.
TEST(WavAdpcmStreams, EveryCutLengthDecodesAPrefix) {
    std::mt19937 rng(7);
    struct Layout {
        Bytes fmt;
        bool ms;
        uint16_t channels;
        uint16_t blockAlign;
    };
    const Layout layouts[] = {
        {ImaFmt(1, 36, 65), false, 1, 36}, {ImaFmt(2, 44, 33), false, 2, 44},  // 4 spare bytes per block
        {ImaFmt(2, 40, 30), false, 2, 40},                                     // samples per block cut mid-group
        {MsFmt(1, 23, 34), true, 1, 23},   {MsFmt(2, 30, 17), true, 2, 30},   {MsFmt(2, 30, 11), true, 2, 30},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(::testing::Message()
                     << (l.ms ? "ms" : "ima") << " ch " << l.channels << " align " << l.blockAlign);
        Bytes data(l.blockAlign * 5);
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        for (size_t block = 0; block < 5; ++block) {
            uint8_t* p = data.data() + block * l.blockAlign;
            for (size_t c = 0; c < l.channels; ++c) {
                if (l.ms) {
                    p[c] = static_cast<uint8_t>(rng() % 7);
                } else {
                    p[4 * c + 2] = static_cast<uint8_t>(rng() % 89);
                }
            }
        }
        const Decoded whole = Decode(l.fmt, data);
        ASSERT_TRUE(whole.ok);
        C_WavFileCodecInfo info;
        ASSERT_EQ(info.Read(l.fmt.data(), l.fmt.size()), WavAdpcmError::kNone);
        ASSERT_EQ(whole.info.frames, 5u * info.SamplesPerBlock());
        size_t previous = 0;
        for (size_t cut = 0; cut <= data.size(); ++cut) {
            const Bytes part(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut));
            const Decoded d = Decode(l.fmt, part);
            ASSERT_TRUE(d.ok) << cut;
            ASSERT_EQ(d.samples.size(), d.info.frames * l.channels);
            ASSERT_EQ(d.info.frames, info.FramesForDataSize(cut));
            ASSERT_GE(d.info.frames, previous);
            previous = d.info.frames;
            ASSERT_TRUE(std::equal(d.samples.begin(), d.samples.end(), whole.samples.begin())) << cut;
        }
    }
}

TEST(WavAdpcmStreams, MalformedInputFailsCleanly) {
    const Bytes goodIma = ImaFmt(1, 36, 65);
    const Bytes goodMs = MsFmt(1, 23, 34);
    Bytes imaBlock(36, 0);
    Bytes msBlock(23, 0);
    msBlock[1] = 16;

    Bytes truncatedIma = goodIma;
    truncatedIma.pop_back();
    Bytes pairsPastEnd = goodMs;
    pairsPastEnd.resize(pairsPastEnd.size() - 4);  // states 7 pairs, holds 6
    Bytes imaIndex89 = imaBlock;
    imaIndex89[2] = 89;
    Bytes msPair7 = msBlock;
    msPair7[0] = 7;  // only pairs 0 to 6 exist
    Bytes msPairOnly1 = msBlock;
    msPairOnly1[0] = 1;

    struct BadCase {
        const char* name;
        Bytes fmt;
        Bytes data;
        WavAdpcmError error;
    };
    const BadCase cases[] = {
        {"empty fmt", {}, imaBlock, WavAdpcmError::kShortFormat},
        {"ima record cut", truncatedIma, imaBlock, WavAdpcmError::kShortFormat},
        {"ms record without count", Bytes(goodMs.begin(), goodMs.begin() + 21), msBlock, WavAdpcmError::kShortFormat},
        {"ms pairs past the chunk", pairsPastEnd, msBlock, WavAdpcmError::kShortFormat},
        {"pcm tag", Record(1, 1, 2, 16), imaBlock, WavAdpcmError::kUnsupportedTag},
        {"3-bit ima", ImaFmt(1, 36, 65, 3), imaBlock, WavAdpcmError::kUnsupportedBits},
        {"no channel", ImaFmt(0, 36, 65), imaBlock, WavAdpcmError::kBadChannels},
        {"three channels", ImaFmt(3, 36, 9), imaBlock, WavAdpcmError::kBadChannels},
        {"ms three channels", MsFmt(3, 36, 2), msBlock, WavAdpcmError::kBadChannels},
        {"block align 0", ImaFmt(1, 0, 1), imaBlock, WavAdpcmError::kBadBlockAlign},
        {"ima align below header", ImaFmt(2, 7, 1), imaBlock, WavAdpcmError::kBadBlockAlign},
        {"ms align below header", MsFmt(1, 6, 2), msBlock, WavAdpcmError::kBadBlockAlign},
        {"ms stereo align below header", MsFmt(2, 13, 2), msBlock, WavAdpcmError::kBadBlockAlign},
        {"ima 0 samples per block", ImaFmt(1, 36, 0), imaBlock, WavAdpcmError::kBadSamplesPerBlock},
        {"ima samples beyond block", ImaFmt(1, 36, 66), imaBlock, WavAdpcmError::kBadSamplesPerBlock},
        {"ima stereo samples beyond block", ImaFmt(2, 36, 26), imaBlock, WavAdpcmError::kBadSamplesPerBlock},
        {"ms 1 sample per block", MsFmt(1, 23, 1), msBlock, WavAdpcmError::kBadSamplesPerBlock},
        {"ms samples beyond block", MsFmt(1, 23, 35), msBlock, WavAdpcmError::kBadSamplesPerBlock},
        {"ms no pairs", MsFmt(1, 23, 34, {}), msBlock, WavAdpcmError::kBadCoefficients},
        {"ms 257 pairs", MsFmt(1, 23, 34, Pairs(257, {256, 0})), msBlock, WavAdpcmError::kBadCoefficients},
        {"ima step index 89", goodIma, imaIndex89, WavAdpcmError::kBadBlockHeader},
        {"ms pair index 7", goodMs, msPair7, WavAdpcmError::kBadBlockHeader},
        {"ms pair index past custom table", MsFmt(1, 23, 34, {{256, 0}}), msPairOnly1, WavAdpcmError::kBadBlockHeader},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int16_t> out(3, 1);
        WavAdpcmStreamInfo info;
        EXPECT_FALSE(DecodeWavAdpcm(c.fmt.data(), c.fmt.size(), c.data.data(), c.data.size(), out, &info));
        EXPECT_EQ(info.error, c.error) << WavAdpcmErrorText(info.error);
        EXPECT_TRUE(out.empty());
    }
    // The same records pass once fixed, so each case fails for its own reason.
    EXPECT_TRUE(Decode(goodIma, imaBlock).ok);
    EXPECT_TRUE(Decode(goodMs, msBlock).ok);
    EXPECT_TRUE(Decode(ImaFmt(2, 36, 17), imaBlock).ok);
    EXPECT_TRUE(Decode(MsFmt(1, 23, 34, Pairs(256, {256, 0})), msBlock).ok);
}

TEST(WavAdpcmStreams, DecodeBlocksGuardsItsOutput) {
    const Bytes fmt = ImaFmt(1, 8, 9);
    C_WavFileCodecInfo info;
    ASSERT_EQ(info.Read(fmt.data(), fmt.size()), WavAdpcmError::kNone);
    const Bytes data(16, 0);  // two blocks: 18 samples
    std::vector<int16_t> out(18, 0x5555);
    C_DVIADPCMCodec ima;
    EXPECT_EQ(ima.DecodeBlocks(data.data(), data.size(), out.data(), 17 * sizeof(int16_t), info), -1);
    EXPECT_EQ(ima.LastError(), WavAdpcmError::kOutputTooSmall);
    EXPECT_EQ(out[9], 0x5555);  // the block that did not fit was left alone
    EXPECT_EQ(ima.DecodeBlocks(data.data(), data.size(), out.data(), out.size() * sizeof(int16_t), info),
              static_cast<int64_t>(18 * sizeof(int16_t)));
    EXPECT_EQ(ima.DecodeBlocks(nullptr, 100, out.data(), 0, info), 0);

    C_MSADPCMEncDec ms;
    EXPECT_EQ(ms.DecodeBlocks(data.data(), data.size(), out.data(), out.size() * sizeof(int16_t), info), -1);
    EXPECT_EQ(ms.LastError(), WavAdpcmError::kWrongDecoder);
    EXPECT_EQ(CreateWavAdpcmDecoder(1), nullptr);
}

}  // namespace
}  // namespace cz
