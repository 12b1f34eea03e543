// The alternative block-searching coder, and the chip's delta-block records
// built from the frames of either coder: they must decode, under the chip's
// rules, to exactly what the coders' own decoders return.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "MdpcmRoundTrip.h"
#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "codecs/mdpcm/C_WNMDPCMEncDec.h"

namespace cz {
namespace {

using test::GlidingVoice12;
using test::RoundTrip;
using test::SnrDb;

constexpr uint32_t kLong = 65;
constexpr uint32_t kShort = 17;

// The chip's delta blocks, decoded by their own rules: control byte (bit 7 =
// bit 3 of the first sample, bits 6..3 scale, bits 2..0 type), first sample
// bits 11..4, then 5-byte groups (sign byte, 8 magnitude nibbles low first).
std::vector<uint16_t> DecodeChipBlocks(const std::vector<uint8_t>& p) {
    std::vector<uint16_t> out;
    size_t pos = 0;
    while (pos < p.size() && p[pos] != 0xFF) {
        const uint8_t c = p[pos];
        const int type = c & 7;
        EXPECT_LT(type, 4);
        const int groups = type < 2 ? 8 : 2;
        int v = (p[pos + 1] << 4) + ((c & 0x80) ? 8 : 0);
        out.push_back(static_cast<uint16_t>(v));
        size_t g = pos + ((c & 1) ? 4 : 2);
        const int step = 8 * (((c >> 3) & 15) + 1);
        for (int group = 0; group < groups; ++group, g += 5) {
            for (int k = 0; k < 8; ++k) {
                const uint8_t b = p[g + 1 + k / 2];
                const int magnitude = (k & 1) ? b >> 4 : b & 15;
                v += ((p[g] >> k) & 1) ? -magnitude * step : magnitude * step;
                v = std::clamp(v, 0, 4095);
                out.push_back(static_cast<uint16_t>(v));
            }
        }
        pos = g;
    }
    return out;
}

struct Frame {
    int index;
    bool isLong;
    int start;               // 12-bit first sample
    std::vector<int> diffs;  // differences of the following samples
};

void AppendRecord(const Frame& f, std::vector<uint8_t>& out) {
    ASSERT_EQ(f.start & 7, 0);
    out.push_back(static_cast<uint8_t>(((f.start >> 3) & 1) << 7 | f.index << 3 | (f.isLong ? 0 : 2)));
    out.push_back(static_cast<uint8_t>(f.start >> 4));
    for (size_t g = 0; g < f.diffs.size(); g += 8) {
        uint8_t sign = 0;
        for (int k = 0; k < 8; ++k) sign |= static_cast<uint8_t>((f.diffs[g + k] < 0 ? 1 : 0) << k);
        out.push_back(sign);
        for (int k = 0; k < 8; k += 2)
            out.push_back(static_cast<uint8_t>(std::abs(f.diffs[g + k]) | std::abs(f.diffs[g + k + 1]) << 4));
    }
}

std::vector<uint8_t> RecordsFromMdpcm(const std::vector<uint8_t>& s, const std::vector<uint16_t>& decoded,
                                      uint32_t alias) {
    std::vector<uint8_t> records;
    size_t pos = 0, sample = 0;
    while (s[pos] != 255) {
        Frame f;
        f.isLong = s[pos] & 1;
        f.index = s[pos] >> 1;
        if (alias && f.index == 14) f.index = 0;
        const uint32_t n = f.isLong ? kLong : kShort;
        f.start = decoded[sample];
        for (uint32_t k = 1; k < n; ++k) f.diffs.push_back(static_cast<int8_t>(s[pos + 1 + k]));
        AppendRecord(f, records);
        pos += 1 + n;
        sample += n;
    }
    records.push_back(0xFF);
    return records;
}

std::vector<uint8_t> RecordsFromWn(const std::vector<uint8_t>& s) {
    std::vector<uint8_t> records;
    size_t pos = 0;
    while (s[pos] != 255) {
        Frame f;
        f.isLong = s[pos] & 1;
        f.index = s[pos] >> 1;
        const uint32_t n = f.isLong ? kLong : kShort;
        f.start = static_cast<int16_t>(s[pos + 1] | s[pos + 2] << 8) / 16 + 2048;
        for (uint32_t k = 1; k < n; ++k) {
            const uint8_t b = s[pos + 2 + k];
            EXPECT_EQ(b & 0xE0, 0);
            f.diffs.push_back((b & 0x10) ? -(b & 15) : (b & 15));
        }
        AppendRecord(f, records);
        pos += 2 + n;
    }
    records.push_back(0xFF);
    return records;
}

TEST(ChipDeltaBlocks, FramesOfBothCodersDecodeAsRecords) {
    const std::vector<uint16_t> x = GlidingVoice12(4000, 7);
    for (uint32_t alias : {0u, 1u}) {
        C_MDPCMEncDec coder(alias, 9);
        coder.SetEndMarker(255);
        const auto c = RoundTrip(coder, x, 2048, kLong, kShort, 0);
        ASSERT_TRUE(c.endSeen);
        EXPECT_EQ(DecodeChipBlocks(RecordsFromMdpcm(c.bytes, c.decoded, alias)), c.decoded) << alias;
    }
    C_WNMDPCMEncDec wn(9);
    wn.SetEndMarker(255);
    const auto c = RoundTrip(wn, x, 2048, kLong, kShort, 0);
    ASSERT_TRUE(c.endSeen);
    EXPECT_EQ(DecodeChipBlocks(RecordsFromWn(c.bytes)), c.decoded);
}

TEST(WnMdpcm, RoundTripBeatsTheSlopeRule) {
    const std::vector<uint16_t> x = GlidingVoice12(16000, 3);
    C_MDPCMEncDec plain(0, 9);
    plain.SetEndMarker(255);
    C_WNMDPCMEncDec wn(9);
    wn.SetEndMarker(255);
    const auto p = RoundTrip(plain, x, 2048, kLong, kShort, 0);
    const auto w = RoundTrip(wn, x, 2048, kLong, kShort, 0);
    ASSERT_TRUE(w.endSeen);
    ASSERT_EQ(w.decoded.size(), x.size() + wn.Padding());
    EXPECT_EQ(w.decoded.back(), wn.CurrentValue());
    // One byte more per frame than the plain coder.
    EXPECT_EQ(w.bytes.size(), p.bytes.size() + wn.LongFrameCount() + wn.ShortFrameCount());
    const double snrPlain = SnrDb(x, p.decoded, x.size());
    const double snrWn = SnrDb(x, w.decoded, x.size());
    EXPECT_GT(snrWn, snrPlain + 1.0) << snrPlain << " " << snrWn;
}

TEST(WnMdpcm, FrameLayoutAndSizeBound) {
    C_WNMDPCMEncDec wn(9);
    EXPECT_EQ(wn.GetMaxEncodedSize(100, kLong, kShort), 100u + 3u * (16u + 4u));
    // First values are the samples rounded to the nearest multiple of 8 from
    // mid-scale, carried as (x - 2048) x 16.
    struct Case {
        uint16_t first;
        int16_t word;
    };
    for (const Case tc :
         {Case{3003, 952 * 16}, Case{3005, 960 * 16}, Case{0, -32768}, Case{4095, 2040 * 16}, Case{2044, 0}}) {
        const std::vector<uint16_t> x(17, tc.first);
        const auto c = RoundTrip(wn, x, 2048, kLong, kShort, 0);
        ASSERT_EQ(c.bytes.size(), 1u + 2u + 16u + 1u);
        EXPECT_EQ(static_cast<int16_t>(c.bytes[1] | c.bytes[2] << 8), tc.word) << tc.first;
        EXPECT_EQ(c.bytes.back(), 0);  // the default end marker
    }
    // With the default end marker 0 a quiet short frame cannot use header 0.
    const auto c = RoundTrip(wn, std::vector<uint16_t>(17, 2048), 2048, kLong, kShort, 0);
    EXPECT_EQ(c.bytes[0], 2);
    EXPECT_EQ(c.decoded, std::vector<uint16_t>(17, 2048));
}

TEST(WnMdpcm, DecoderStopsAtTheEndOfTheBytesGiven) {
    C_WNMDPCMEncDec wn(9);
    wn.SetEndMarker(255);
    const auto c = RoundTrip(wn, GlidingVoice12(150), 2048, kLong, kShort, 0);
    ASSERT_TRUE(c.endSeen);
    std::vector<uint16_t> out(c.decoded.size());
    // Cuts: before the end marker, inside a first-value word, right after one,
    // inside the differences.
    for (size_t cut : {c.bytes.size() - 1, size_t{1}, size_t{2}, size_t{3}, size_t{40}, size_t{68}, size_t{69}}) {
        const std::vector<uint8_t> in(c.bytes.begin(), c.bytes.begin() + static_cast<long>(cut));
        const uint32_t counted = wn.CountDecodedSamples(kLong, kShort, in.data(), in.size());
        const uint32_t n = wn.Decode(out.data(), out.size(), in.data(), in.size(), 0, kLong, kShort, nullptr);
        EXPECT_EQ(n, counted) << cut;
        EXPECT_FALSE(wn.EndMarkerSeen());
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], c.decoded[i]) << cut;
    }
    // 1 and 2 bytes hold no whole first value; 3 bytes hold exactly one.
    EXPECT_EQ(wn.CountDecodedSamples(kLong, kShort, c.bytes.data(), 2), 0u);
    EXPECT_EQ(wn.CountDecodedSamples(kLong, kShort, c.bytes.data(), 3), 1u);
    // Output capacity is respected.
    EXPECT_EQ(wn.Decode(out.data(), 5, c.bytes.data(), c.bytes.size(), 0, kLong, kShort, nullptr), 5u);
    // Unknown scale index ends decoding.
    const uint8_t bad[] = {0x20, 0, 0, 1, 2};
    EXPECT_EQ(wn.CountDecodedSamples(kLong, kShort, bad, sizeof bad), 0u);
}

}  // namespace
}  // namespace cz
