// The MDPCM coder: frame plan, scale choice, rounding, range correction,
// first-sample rounding, padding, end marker, and a decoder that stays inside
// the bytes it is given.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "MdpcmRoundTrip.h"
#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "foundation/I_ProgressCallback.h"

namespace cz {
namespace {

using test::GlidingVoice12;
using test::RoundTrip;

TEST(MdpcmPlan, FewestPaddingSamples) {
    struct Case {
        uint32_t total, L, S;
        uint32_t longs, shorts, padding;
    };
    const Case cases[] = {
        {100, 65, 17, 1, 3, 16},                             // search stops at once: b = 2 is not below a = 1
        {150, 65, 17, 1, 5, 0},                              // one long frame traded for five short ones
        {1000, 65, 17, 13, 10, 15}, {66, 65, 17, 1, 1, 16},  // trading the only long frame would not help
        {18, 65, 17, 0, 2, 16},     {17, 65, 17, 0, 1, 0},  {0, 65, 17, 0, 1, 17},
        {130, 65, 17, 2, 0, 0},     {200, 63, 15, 3, 1, 4},
    };
    C_MDPCMEncDec coder;
    for (const Case& c : cases) {
        coder.PlanFrames(c.total, c.L, c.S);
        EXPECT_EQ(coder.LongFrameCount(), c.longs) << c.total;
        EXPECT_EQ(coder.ShortFrameCount(), c.shorts) << c.total;
        EXPECT_EQ(coder.Padding(), c.padding) << c.total;
    }
}

TEST(MdpcmPlan, SizeBoundAndTooSmallOutput) {
    C_MDPCMEncDec coder;
    EXPECT_EQ(coder.GetMaxEncodedSize(100, 65, 17), 100u + 102u + 2u * (16u + 4u));
    const std::vector<uint16_t> x = GlidingVoice12(100);
    std::vector<uint8_t> out(242);
    EXPECT_EQ(coder.Encode(out.data(), 241, 100, x.data(), 2048, 65, 17, 0, nullptr), 0u);
    // 4 headers + 116 differences + end marker
    EXPECT_EQ(coder.Encode(out.data(), 242, 100, x.data(), 2048, 65, 17, 0, nullptr), 4u + 116u + 1u);
    // Zero frame lengths cannot be planned.
    EXPECT_EQ(coder.Encode(out.data(), 242, 100, x.data(), 2048, 0, 17, 0, nullptr), 0u);
    EXPECT_EQ(coder.Encode(out.data(), 242, 100, x.data(), 2048, 65, 0, 0, nullptr), 0u);
}

TEST(MdpcmEncode, ConstantMidScaleUsesSmallestScale) {
    const std::vector<uint16_t> x(100, 2048);
    for (uint32_t alias : {0u, 1u}) {
        C_MDPCMEncDec coder(alias, 9);
        coder.SetEndMarker(255);
        const auto c = RoundTrip(coder, x, 2048, 65, 17, 0);
        ASSERT_EQ(c.bytes.size(), 4u + 116u + 1u);
        const uint8_t shortHeader = alias ? 28 : 0;
        EXPECT_EQ(c.bytes[0], shortHeader | 1);  // the long frame
        for (size_t h : {66u, 84u, 102u}) EXPECT_EQ(c.bytes[h], shortHeader) << h;
        for (size_t i = 1; i < 66; ++i) EXPECT_EQ(c.bytes[i], 0) << i;
        EXPECT_EQ(c.bytes.back(), 255);
        // The padding drifts from 2048 one step down, where mid-scale rests.
        std::vector<uint16_t> expected(100, 2048);
        expected.resize(116, 2040);
        EXPECT_EQ(c.decoded, expected);
    }
}

TEST(MdpcmEncode, HeaderNeverEqualsEndMarker) {
    // A quiet short frame has header 0; with the default end marker 0 and no
    // alias it would end the stream, so the coder takes the next scale.
    C_MDPCMEncDec coder(0, 12);
    const std::vector<uint16_t> x(40, 2048);
    const auto c = RoundTrip(coder, x, 2048, 65, 17, 2);
    ASSERT_TRUE(c.endSeen);
    ASSERT_EQ(c.decoded.size(), 51u);
    EXPECT_EQ(c.bytes[0], 2);  // index 1, short
    EXPECT_EQ(c.decoded, std::vector<uint16_t>(51, 2048));
}

TEST(MdpcmEncode, FirstTargetBeyondReachClampsDifference) {
    // From 0, a first target of 4095 needs the largest step; 32 steps are
    // clamped to 15, reaching 1920.
    C_MDPCMEncDec coder(0, 16);
    coder.SetEndMarker(255);
    const std::vector<uint16_t> x = {4095};
    const auto c = RoundTrip(coder, x, 0, 65, 17, 2);
    ASSERT_FALSE(c.bytes.empty());
    EXPECT_EQ(c.bytes[0], 15 << 1);
    EXPECT_EQ(static_cast<int8_t>(c.bytes[1]), 15);
    EXPECT_EQ(c.decoded[0], 1920);
}

TEST(MdpcmEncode, RoundsHalvesAwayFromZeroAndStaysInRange) {
    struct Case {
        uint16_t initial;
        std::vector<uint16_t> x;
        std::vector<int8_t> q;      // expected differences (step 8)
        std::vector<uint16_t> out;  // expected reconstruction
    };
    const Case cases[] = {
        {2048, {2052, 2052}, {1, -1}, {2056, 2048}},  // +4 and -4 are halves
        {2048, {2051, 2045}, {0, 0}, {2048, 2048}},   // below half: no change
        {4090, {4095, 4095}, {0, 0}, {4090, 4090}},   // +8 would pass 4095
        {5, {0, 0}, {0, 0}, {5, 5}},                  // -8 would pass 0
    };
    for (const Case& tc : cases) {
        C_MDPCMEncDec coder(0, 16);
        coder.SetEndMarker(255);
        const auto c = RoundTrip(coder, tc.x, tc.initial, 4, 2, 2);
        ASSERT_EQ(c.bytes.size(), 4u) << tc.initial;
        EXPECT_EQ(c.bytes[0], 0);
        EXPECT_EQ(static_cast<int8_t>(c.bytes[1]), tc.q[0]);
        EXPECT_EQ(static_cast<int8_t>(c.bytes[2]), tc.q[1]);
        EXPECT_EQ(c.decoded, tc.out);
    }
}

TEST(MdpcmEncode, PaddingDriftsTowardMidScaleOrZero) {
    C_MDPCMEncDec coder(0, 16);
    coder.SetEndMarker(255);
    // Toward zero from mid-scale: steps of -16 (two steps of 8 each).
    auto c = RoundTrip(coder, std::vector<uint16_t>{2048}, 2048, 65, 17, 1);
    ASSERT_EQ(c.decoded.size(), 17u);
    for (size_t i = 0; i < 17; ++i) EXPECT_EQ(c.decoded[i], 2048 - 16 * i) << i;
    // Toward mid-scale from below: +16 up to 2032, then +8, then rest.
    c = RoundTrip(coder, std::vector<uint16_t>{1904}, 1904, 65, 17, 0);
    ASSERT_EQ(c.decoded.size(), 17u);
    const std::vector<uint16_t> expected = {1904, 1920, 1936, 1952, 1968, 1984, 2000, 2016, 2032,
                                            2040, 2040, 2040, 2040, 2040, 2040, 2040, 2040};
    EXPECT_EQ(c.decoded, expected);
}

TEST(MdpcmEncode, FirstSampleOfEveryFrameRoundedTo9Bits) {
    C_MDPCMEncDec coder(0, 9);
    coder.SetEndMarker(255);
    const std::vector<uint16_t> x = GlidingVoice12(3000);
    const auto c = RoundTrip(coder, x, 2048, 65, 17, 0);
    ASSERT_TRUE(c.endSeen);
    size_t start = 0;
    for (uint32_t f = 0; f < coder.LongFrameCount() + coder.ShortFrameCount(); ++f) {
        EXPECT_EQ((c.decoded[start] - 2048) % 8, 0) << start;
        start += f < coder.LongFrameCount() ? 65 : 17;
    }
    EXPECT_EQ(start, c.decoded.size());
}

// Every configuration: the decoder reproduces the encoder's reconstruction
// (its last value is the encoder's running value), all differences fit 5 bits,
// and the decoded signal follows the source.
TEST(MdpcmRoundTrip, DecoderFollowsEncoderInEveryConfiguration) {
    struct Case {
        uint32_t alias;
        uint16_t bits;
        uint8_t marker;
        int32_t padMode;
        uint16_t initial;
        double minSnr;
    };
    const Case cases[] = {
        {0, 9, 255, 0, 2048, 15.0}, {1, 9, 255, 0, 2048, 15.0},    {1, 16, 0, 0, 2047, 15.0},
        {0, 12, 0, 1, 0, 15.0},     {0, 0, 255, 0, 2048, -1000.0},  // first samples forced to 0 or 2048
        {1, 9, 0, 2, 60000, 15.0},                                  // start far outside 12 bits
    };
    const std::vector<uint16_t> x = GlidingVoice12(5000);
    for (const Case& tc : cases) {
        C_MDPCMEncDec coder(tc.alias, tc.bits);
        coder.SetEndMarker(tc.marker);
        const auto c = RoundTrip(coder, x, tc.initial, 65, 17, tc.padMode);
        ASSERT_FALSE(c.bytes.empty());
        EXPECT_TRUE(c.endSeen);
        EXPECT_EQ(c.decoded.size(), x.size() + coder.Padding());
        EXPECT_EQ(c.decoded.back(), coder.CurrentValue()) << tc.bits;
        size_t pos = 0;
        while (c.bytes[pos] != tc.marker) {
            const uint32_t n = (c.bytes[pos] & 1) ? 65 : 17;
            for (uint32_t k = 1; k <= n; ++k) {
                const int q = static_cast<int8_t>(c.bytes[pos + k]);
                ASSERT_LE(std::abs(q), 15);
            }
            pos += n + 1;
        }
        EXPECT_EQ(pos + 1, c.bytes.size());
        EXPECT_GT(test::SnrDb(x, c.decoded, x.size()), tc.minSnr) << int(tc.bits);
    }
}

TEST(MdpcmDecode, StopsAtTheEndOfTheBytesGiven) {
    C_MDPCMEncDec coder(0, 9);
    coder.SetEndMarker(255);
    const std::vector<uint16_t> x = GlidingVoice12(200);
    const auto c = RoundTrip(coder, x, 2048, 65, 17, 0);
    ASSERT_EQ(c.decoded.size(), 200u + coder.Padding());
    std::vector<size_t> headers;
    for (size_t pos = 0; c.bytes[pos] != 255; pos += 1 + ((c.bytes[pos] & 1) ? 65 : 17)) headers.push_back(pos);

    // Cut without the end marker, and cut inside a frame: the samples whose
    // bytes are there, nothing read beyond.
    for (size_t cut : {c.bytes.size() - 1, size_t{70}, size_t{66}, size_t{1}, size_t{0}}) {
        const std::vector<uint8_t> in(c.bytes.begin(), c.bytes.begin() + static_cast<long>(cut));
        const uint32_t counted = coder.CountDecodedSamples(65, 17, in.data(), in.size());
        EXPECT_FALSE(coder.EndMarkerSeen());
        std::vector<uint16_t> out(c.decoded.size());
        const uint32_t n = coder.Decode(out.data(), out.size(), in.data(), in.size(), 2048, 65, 17, nullptr);
        EXPECT_EQ(n, counted) << cut;
        EXPECT_FALSE(coder.EndMarkerSeen());
        size_t headersBefore = 0;
        for (size_t h : headers) headersBefore += h < cut ? 1 : 0;
        EXPECT_EQ(n, cut - headersBefore) << cut;
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], c.decoded[i]);
    }

    // An output smaller than the stream is filled and no more.
    std::vector<uint16_t> small(10);
    EXPECT_EQ(coder.Decode(small.data(), small.size(), c.bytes.data(), c.bytes.size(), 2048, 65, 17, nullptr), 10u);

    // A header whose scale index is not in the table ends decoding.
    std::vector<uint8_t> bad = c.bytes;
    bad[66] = 0x40;  // index 32
    EXPECT_EQ(coder.CountDecodedSamples(65, 17, bad.data(), bad.size()), 65u);
    std::vector<uint16_t> out(300);
    EXPECT_EQ(coder.Decode(out.data(), out.size(), bad.data(), bad.size(), 2048, 65, 17, nullptr), 65u);
    EXPECT_FALSE(coder.EndMarkerSeen());

    // A stream that is only the end marker decodes to nothing.
    const uint8_t end = 255;
    EXPECT_EQ(coder.Decode(out.data(), out.size(), &end, 1, 2048, 65, 17, nullptr), 0u);
    EXPECT_TRUE(coder.EndMarkerSeen());
}

class RecordingProgress : public I_ProgressCallback {
public:
    void OnBegin() override { ++begins; }
    void OnProgress(int32_t percent) override { percents.push_back(percent); }
    void OnEnd() override { ++ends; }
    int begins = 0;
    int ends = 0;
    std::vector<int32_t> percents;
};

TEST(MdpcmEncode, ReportsProgressAfterEachFrame) {
    C_MDPCMEncDec coder(0, 9);
    const std::vector<uint16_t> x = GlidingVoice12(1000);
    std::vector<uint8_t> out(static_cast<size_t>(coder.GetMaxEncodedSize(1000, 65, 17)));
    RecordingProgress progress;
    ASSERT_GT(coder.Encode(out.data(), out.size(), 1000, x.data(), 2048, 65, 17, 0, &progress), 0u);
    EXPECT_EQ(progress.begins, 1);
    EXPECT_EQ(progress.ends, 1);
    ASSERT_EQ(progress.percents.size(), coder.LongFrameCount() + coder.ShortFrameCount());
    EXPECT_EQ(progress.percents.back(), 100);
}

}  // namespace
}  // namespace cz
