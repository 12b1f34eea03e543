// The block-structured ADPCM coders: stream layout, the size bound, the
// first-sample rounding, the peak rule, agreement with a decoder written
// here from the coding rules, and the 16-bit two-tap form against a stream
// worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "codecs/adpcm/C_EnhancedADPCM2Codec.h"
#include "codecs/adpcm/C_EnhancedADPCMCodec.h"
#include "codecs/adpcm/adpcm_support.h"

namespace cz {
namespace {

// The 12-bit block stream decoded straight from its rules, for count samples.
std::vector<uint16_t> ReferenceDecode12(const std::vector<uint8_t>& s, size_t count) {
    static constexpr int kTables[4][8] = {{-1, -1, -1, -1, 2, 4, 6, 8},
                                          {-2, -2, -2, -2, 5, 7, 9, 11},
                                          {-1, -1, -1, -1, 4, 6, 8, 10},
                                          {-2, -2, -2, -2, 2, 4, 8, 10}};
    std::vector<uint16_t> out;
    size_t pos = 0;
    while (out.size() < count) {
        int value = (s.at(pos) | s.at(pos + 1) << 8) - 2048;
        pos += 2;
        int index = 0;
        out.push_back(static_cast<uint16_t>(value + 2048));
        for (int sub = 0; sub < 64 && out.size() < count; ++sub) {
            const uint8_t header = s.at(pos++);
            const int highest = header >> 2;
            const int* table = kTables[header & 3];
            int k = 0;
            for (; k < 64 && out.size() < count; ++k) {
                const uint8_t byte = s.at(pos + k / 2);
                const int code = k % 2 == 0 ? byte >> 4 : byte & 15;
                const int step = (8 + index % 8) << (index / 8);
                int d = step >> 3;
                if (code & 4) d += step;
                if (code & 2) d += step >> 1;
                if (code & 1) d += step >> 2;
                value = std::clamp(code & 8 ? value - d : value + d, -2048, 2047);
                index = std::min(std::clamp(index + table[code & 7], 0, 63), highest);
                out.push_back(static_cast<uint16_t>(value + 2048));
            }
            pos += (k + 1) / 2;
        }
    }
    return out;
}

std::vector<uint16_t> Decode(C_ADPCMEncDec& coder, const std::vector<uint8_t>& bytes, size_t count) {
    std::vector<uint16_t> out(count);
    const uint32_t written = coder.Decode(bytes.data(), static_cast<uint32_t>(bytes.size()), out.data(),
                                          static_cast<uint32_t>(2 * count), nullptr);
    out.resize(written / 2);
    return out;
}

TEST(EnhancedAdpcm, SizeBoundAsTabled) {
    C_EnhancedADPCMCodec coder(12, 1, 1);
    struct {
        uint32_t samples, bound;
    } rows[] = {
        {1, 2 + 0 + 2 + 1},      // the first sample only
        {65, 2 + 65 + 2 + 65},   // one sub-block started
        {66, 2 + 130 + 2 + 66},  // a second one started
        {4097, 4162},            // one whole block
        {4098, 4162 + 5},        // and a new block's first sample
        {3 * 4097 + 100, 3 * 4162 + 2 + 130 + 2 + 100},
    };
    for (const auto& row : rows) EXPECT_EQ(coder.GetMaxEncodedSize(row.samples, 0), row.bound) << row.samples;
}

TEST(EnhancedAdpcm, BlocksMatchAnIndependentDecoder) {
    // Two blocks: a whole one and 70 samples (the first sample, a full
    // sub-block, one of five codes).
    const std::vector<uint16_t> x = test::GlidingVoice12(4097 + 70, 3);
    for (uint32_t search : {0u, 1u}) {
        SCOPED_TRACE(search);
        C_EnhancedADPCMCodec coder(12, 1, search);
        const std::vector<uint8_t> s = test::EncodeAll(coder, x, 0);
        ASSERT_EQ(s.size(), (2u + 64 * 33) + (2 + 33 + 1 + 3));
        EXPECT_EQ(coder.GetStepIndexTraceSize(), x.size());
        const std::vector<uint16_t> decoded = Decode(coder, s, x.size());
        ASSERT_EQ(decoded.size(), x.size());
        EXPECT_EQ(decoded, ReferenceDecode12(s, x.size()));
        // Each block starts at its first sample rounded to a multiple of 4.
        EXPECT_EQ(decoded[0], 2048 + (x[0] - 2048) / 4 * 4);
        EXPECT_EQ(decoded[4097], 2048 + (x[4097] - 2048) / 4 * 4);
        EXPECT_GT(test::SnrDb(x, decoded, x.size()), 20.0);
        // Every sub-block header stays inside the step table.
        for (size_t at : {size_t{2}, size_t{2 + 33}, size_t{2114 + 2}, size_t{2114 + 2 + 33}})
            EXPECT_LE(s[at] >> 2, 63) << at;
    }
}

TEST(EnhancedAdpcm, FirstSampleRoundsTowardMidScale) {
    C_EnhancedADPCMCodec twelve(12, 1, 1);
    C_EnhancedADPCM2Codec sixteen(16, 1, 1, 1);
    C_EnhancedADPCMCodec ten(10, 1, 1);
    struct {
        C_EnhancedADPCMCodec* coder;
        uint16_t in, out;
    } rows[] = {
        {&twelve, 2048 + 7, 2048 + 4},
        {&twelve, 2048 - 7, 2048 - 4},
        {&twelve, 4095, 4092},
        {&twelve, 0, 0},
        {&sixteen, 32768 + 127, 32768 + 64},
        {&sixteen, 32768 - 127, 32768 - 64},
        {&ten, 513, 513},  // ten bits or fewer: kept as they are
    };
    for (const auto& row : rows) EXPECT_EQ(row.coder->RoundFirstSample(row.in), row.out) << row.in;
}

TEST(EnhancedAdpcm, PeakRuleCapsTheStepIndex) {
    C_EnhancedADPCMCodec coder(12, 1, 1);
    C_EnhancedADPCMCodec unlimited(12, 0, 1);
    const std::vector<uint16_t> flat(64, 2048);
    std::vector<uint16_t> jump(64, 2048);
    jump[10] = 3048;  // peak 1000: step 480 (index 47) is the last below 500
    std::vector<uint16_t> full(64, 0);
    full[1] = 4095;  // peak 4095: index 61 (1664) qualifies
    EXPECT_EQ(coder.HighestStepIndex(flat.data(), 64, 2048), 1);
    EXPECT_EQ(coder.HighestStepIndex(jump.data(), 64, 2048), 49);
    // The first sample counts against the one before the sub-block.
    EXPECT_EQ(coder.HighestStepIndex(flat.data(), 64, 3048), 49);
    EXPECT_EQ(coder.HighestStepIndex(full.data(), 64, 0), 63);
    EXPECT_EQ(unlimited.HighestStepIndex(flat.data(), 64, 2048), 63);
    // The cap shows in the stream: a silent sub-block's header holds 1.
    std::vector<uint16_t> quiet(65, 2048);
    const std::vector<uint8_t> s = test::EncodeAll(coder, quiet, 0);
    EXPECT_EQ(s[2] >> 2, 1);
}

TEST(EnhancedAdpcm, TableSearchUsesTheOtherTablesAndDoesNoWorse) {
    const std::vector<uint16_t> x = test::SpeechLike12(16000, 5);
    C_EnhancedADPCMCodec plain(12, 1, 0), searching(12, 1, 1);
    const std::vector<uint8_t> a = test::EncodeAll(plain, x, 0);
    const std::vector<uint8_t> b = test::EncodeAll(searching, x, 0);
    ASSERT_EQ(a.size(), b.size());
    std::vector<int> used(4, 0);
    for (size_t block = 0; block * 2114 < b.size(); ++block)
        for (size_t sub = 0; sub < 64 && block * 2114 + 2 + sub * 33 < b.size(); ++sub) {
            ++used[b[block * 2114 + 2 + sub * 33] & 3];
            EXPECT_EQ(a[block * 2114 + 2 + sub * 33] & 3, 0);
        }
    EXPECT_GT(used[1] + used[2] + used[3], 0);
    EXPECT_GE(test::SnrDb(x, Decode(searching, b, x.size()), x.size()),
              test::SnrDb(x, Decode(plain, a, x.size()), x.size()));
}

TEST(EnhancedAdpcm, BadInputFailsCleanly) {
    C_EnhancedADPCMCodec coder(12, 1, 1);
    const std::vector<uint16_t> x = test::GlidingVoice12(500, 2);
    std::vector<uint8_t> small(20);
    EXPECT_EQ(coder.Encode(500, x.data(), small.data(), 20, 0, nullptr), 0u);
    EXPECT_EQ(coder.Encode(0, x.data(), small.data(), 20, 0, nullptr), 0u);
    // A stream cut anywhere decodes up to the cut.
    const std::vector<uint8_t> s = test::EncodeAll(coder, x, 0);
    const std::vector<uint16_t> whole = Decode(coder, s, x.size());
    for (size_t cut = 0; cut < s.size(); cut += 7) {
        const std::vector<uint8_t> part(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(cut));
        const std::vector<uint16_t> d = Decode(coder, part, x.size());
        ASSERT_LE(d.size(), whole.size());
        EXPECT_TRUE(std::equal(d.begin(), d.end(), whole.begin())) << cut;
    }
}

// ---------------------------------------------------------------------------
// The 16-bit two-tap form.

TEST(EnhancedAdpcm2, DecodesAStreamWorkedOutByHand) {
    const std::vector<uint8_t> s = {// short block, 3 samples: first 0x8040 (index 1), a = table 0 up to
                                    // 63, b = (1, 0); codes 4: +144 + 18 -> 226; C: -(176 + 22) -> 28
                                    0x09, 0x41, 0x80, 0xFC, 0x24, 0x4C,
                                    // short block, 2 samples: first 0x8000 (b1 = 0: index 0); b = (0.5,
                                    // -0.5): prediction 0/2 - 28/2 = -14; code 2: +64 + 16 -> 66
                                    0x05, 0x00, 0x80, 0xFC, 0x00, 0x20,
                                    // silence of 5, marker (identifier 7, type 3) with 0x1234
                                    0x14, 0x00, 0x0E, 0x07, 0x34, 0x12,
                                    // end, then bytes that are never read
                                    0x00, 0x00, 0xFF, 0xFF};
    C_EnhancedADPCM2Codec coder(16, 1, 1, 1);
    const std::vector<uint16_t> expected = {32832, 32994, 32796, 32768, 32834, 32768,
                                            32768, 32768, 32768, 32768, 0x1234};
    EXPECT_EQ(Decode(coder, s, 100), expected);
    EXPECT_EQ(coder.LastSample(), 0x1234);
    EXPECT_EQ(coder.SampleBeforeLast(), 32768);
}

TEST(EnhancedAdpcm2, LongAndShortBlocksAndTheirBytes) {
    std::vector<uint16_t> x16;
    for (uint16_t v : test::GlidingVoice12(4097 + 70, 7)) x16.push_back(static_cast<uint16_t>(v << 4));
    C_EnhancedADPCM2Codec coder(16, 1, 1, 1);
    const std::vector<uint8_t> s = test::EncodeAll(coder, x16, 0);
    // 4097 = one long block of 64 sub-blocks; 70 = a long block of one
    // sub-block and a short block of 5.
    ASSERT_EQ(s.size(), (3u + 34 * 64) + (3 + 34) + (5 + 2));
    EXPECT_LE(s.size(), coder.GetMaxEncodedSize(static_cast<uint32_t>(x16.size()), 0));
    EXPECT_EQ(s[0], 0xFF);                  // long, 64 sub-blocks
    EXPECT_EQ(s[2179], 0x03);               // long, one sub-block
    EXPECT_EQ(s[2179 + 37], (4 << 2) | 1);  // short, 5 samples
    EXPECT_NE(s[1] & 0x3F, 0);              // the step index starts at 1
    const std::vector<uint16_t> decoded = Decode(coder, s, x16.size());
    ASSERT_EQ(decoded.size(), x16.size());
    EXPECT_EQ(decoded[0], 32768 + (x16[0] - 32768) / 64 * 64);
    std::vector<uint16_t> x12, d12;
    for (size_t i = 0; i < x16.size(); ++i) {
        x12.push_back(static_cast<uint16_t>(x16[i] >> 4));
        d12.push_back(static_cast<uint16_t>(decoded[i] >> 4));
    }
    EXPECT_GT(test::SnrDb(x12, d12, x12.size()), 25.0);
}

TEST(EnhancedAdpcm2, PredictionHelpsAndHistoryCarriesOver) {
    std::vector<uint16_t> x16;
    for (uint16_t v : test::TwoPartialVoice12(8000)) x16.push_back(static_cast<uint16_t>(v << 4));
    auto snr = [&](C_EnhancedADPCM2Codec& coder, const std::vector<uint16_t>& in) {
        const std::vector<uint8_t> s = test::EncodeAll(coder, in, 0);
        const std::vector<uint16_t> d = Decode(coder, s, in.size());
        double signal = 0, noise = 0;
        for (size_t i = 0; i < in.size(); ++i) {
            signal += std::pow(in[i] - 32768.0, 2);
            noise += std::pow(static_cast<double>(d[i]) - in[i], 2);
        }
        return 10 * std::log10(signal / noise);
    };
    C_EnhancedADPCM2Codec plain(16, 1, 1, 0), predicting(16, 1, 1, 1);
    EXPECT_GT(snr(predicting, x16), snr(plain, x16));

    // A stream coded after other samples decodes from the same history.
    const std::vector<uint16_t> tail(x16.begin() + 100, x16.begin() + 300);
    predicting.SetStartHistory(x16[99], x16[98]);
    const std::vector<uint8_t> s = test::EncodeAll(predicting, tail, 0);
    C_EnhancedADPCM2Codec other(16, 1, 1, 1);
    const std::vector<uint16_t> fresh = Decode(other, s, tail.size());
    other.SetStartHistory(x16[99], x16[98]);
    const std::vector<uint16_t> continued = Decode(other, s, tail.size());
    EXPECT_EQ(continued, Decode(predicting, s, tail.size()));
    EXPECT_NE(fresh, continued);
}

TEST(EnhancedAdpcm2, TruncatedOrDamagedBlocksStopTheDecoding) {
    C_EnhancedADPCM2Codec coder(16, 1, 1, 1);
    const std::vector<uint8_t> longBlock(3 + 34 * 2, 0x17);  // claims 6 sub-blocks (b0 = 0x17)
    EXPECT_TRUE(Decode(coder, longBlock, 1000).empty());
    // A silence block at the very end is complete; one byte of one is not.
    EXPECT_EQ(Decode(coder, {0x04, 0x00}, 10).size(), 1u);
    EXPECT_TRUE(Decode(coder, {0x04}, 10).empty());
    // The output limit holds inside a silence block.
    EXPECT_EQ(Decode(coder, {0xFC, 0xFC}, 10).size(), 10u);
    EXPECT_EQ(coder.GetDecodedBufferSize(2), 2u * 4095);
}

}  // namespace
}  // namespace cz
