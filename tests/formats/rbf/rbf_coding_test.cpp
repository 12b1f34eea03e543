// The four payload codings of RBF resources, on payloads written by hand with
// the samples each should give worked out from the coding rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "codecs/rbf/RbfCoding.h"

namespace cz {
namespace {

class VectorSink final : public RbfSampleSink {
public:
    std::vector<uint16_t> samples;
    bool Put(uint16_t value, uint32_t count) override {
        samples.insert(samples.end(), count, value);
        return true;
    }
};

struct Decoded {
    RbfDecodeResult result;
    std::vector<uint16_t> samples;
};

Decoded DecodePayload(const char* magic, const std::vector<uint8_t>& payload) {
    const uint8_t header[4] = {uint8_t(magic[0]), uint8_t(magic[1]), uint8_t(magic[2]), uint8_t(magic[3])};
    auto decoder = OpenRbfDecoder(header);
    EXPECT_NE(decoder, nullptr) << magic;
    Decoded d;
    if (!decoder) return d;
    VectorSink sink;
    d.result = decoder->Decode(payload, sink);
    d.samples = std::move(sink.samples);
    return d;
}

std::vector<uint16_t> Repeat(uint16_t value, size_t count) { return std::vector<uint16_t>(count, value); }

std::vector<uint16_t> Join(std::initializer_list<std::vector<uint16_t>> parts) {
    std::vector<uint16_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(RbfCoding, MagicChoosesTheDecoder) {
    const uint8_t wmdm[] = {'W', 'M', 'd', 'M'}, wadm[] = {'W', 'A', 'D', 'M'}, we2a[] = {'W', 'E', '2', 'A'},
                  q42m[] = {'Q', '4', '2', 'M'}, upper[] = {'W', 'M', 'D', 'M'}, shortHeader[] = {'W', 'M', 'd'};
    EXPECT_STREQ(OpenRbfDecoder(wmdm)->GetMagic(), "WMdM");
    EXPECT_STREQ(OpenRbfDecoder(wadm)->GetMagic(), "WADM");
    EXPECT_STREQ(OpenRbfDecoder(we2a)->GetMagic(), "WE2A");
    EXPECT_STREQ(OpenRbfDecoder(q42m)->GetMagic(), "Q42M");
    EXPECT_EQ(OpenRbfDecoder(upper), nullptr);  // the MDM file's own code is not a resource
    EXPECT_EQ(OpenRbfDecoder(std::span<const uint8_t>(shortHeader, 3)), nullptr);
    EXPECT_EQ(OpenRbfDecoder(wmdm)->GetEndMarkSize(), 1u);
    EXPECT_EQ(OpenRbfDecoder(q42m)->GetEndMarkSize(), 2u);
    EXPECT_EQ(OpenRbfDecoder(we2a)->SampleBits(), 16);
}

TEST(RbfCoding, WmdmBlocks) {
    const std::vector<uint8_t> payload = {
        // Long block with a marker: c = 0x91 (bit 7: +8, scale 2: step 24, type 1).
        0x91,
        0x80,
        0x0C,
        0x07,
        0x02,
        0x21,
        0x00,
        0x00,
        0xF0,  // group 0: +1, -2, 0, 0, 0, 0, 0, +15 steps
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        // Short block, scale 15 (step 128), first 4080: clamps at both ends.
        0x7A,
        0xFF,
        0x00,
        0x0F,
        0x00,
        0x00,
        0x00,
        0xFF,
        0xFF,
        0xFF,
        0xFF,
        0xFF,
        // Silence of 3 with a marker (type byte rotated: 0x05 -> 0x41, identifier 9).
        0x05,
        0x05,
        0x09,
        0x03,
        0x00,
        // Raw: first 0x12, two more.
        0x06,
        0x12,
        0x02,
        0x34,
        0xFF,
        0xFF,
    };
    const Decoded d = DecodePayload("WMdM", payload);
    ASSERT_TRUE(d.result.ok());
    EXPECT_TRUE(d.result.endMark);
    const auto expected = Join({{2056, 2080, 2032, 2032, 2032, 2032, 2032, 2032, 2392},
                                Repeat(2392, 56),
                                {4080},
                                Repeat(4095, 8),
                                {2175, 255},
                                Repeat(0, 6),
                                Repeat(2048, 3),
                                {0x120, 0x340, 0xFF0}});
    EXPECT_EQ(d.samples, expected);
    EXPECT_EQ(d.result.samples, expected.size());
    const std::vector<RbfMarker> markers = {{0, 7, 3}, {65 + 17, 9, 0x41}};
    EXPECT_EQ(d.result.markers, markers);
}

TEST(RbfCoding, WmdmOnlyEndMarkAndMissingEndMark) {
    Decoded d = DecodePayload("WMdM", {0xFF});
    EXPECT_TRUE(d.result.ok());
    EXPECT_TRUE(d.samples.empty());
    // No end mark: the payload ends after a whole block.
    d = DecodePayload("WMdM", {0x04, 0x02, 0x00});
    EXPECT_TRUE(d.result.ok());
    EXPECT_FALSE(d.result.endMark);
    EXPECT_EQ(d.samples, Repeat(2048, 2));
    // Bytes after the end mark are not read.
    d = DecodePayload("WMdM", {0xFF, 0x04, 0x02, 0x00});
    EXPECT_TRUE(d.samples.empty());
}

TEST(RbfCoding, WadmBlocks) {
    const std::vector<uint8_t> payload = {
        0x04, 0x04,                          // silence: 16 x (1 << 6 | 1) = 1040
        0x16, 0x2A, 0x30, 0x80,              // marker id 0x2A type 5, sample 3 | 0x80 << 4
        0x01, 0x02, 0x00, 0x80, 0x7F, 0x08,  // short, index 0, first 2048, codes 7 F 0 8
        0xFD, 0x01, 0xF0, 0xFF, 0x77,        // short, index 63, first 4095, codes 7 7: clamps high
        0xFD, 0x01, 0x00, 0x00, 0xFF,        // short, index 63, first 0, codes F F: clamps low
        0x00, 0x00,
    };
    const Decoded d = DecodePayload("WADM", payload);
    ASSERT_TRUE(d.result.ok());
    EXPECT_TRUE(d.result.endMark);
    const auto expected =
        Join({Repeat(2048, 1040), {2051}, {2048, 2063, 2033, 2037, 2034}, {4095, 4095, 4095}, {0, 0, 0}});
    EXPECT_EQ(d.samples, expected);
    const std::vector<RbfMarker> markers = {{1040, 0x2A, 5}};
    EXPECT_EQ(d.result.markers, markers);
}

TEST(RbfCoding, WadmLongBlockStepIndexWalk) {
    // Long block, index 0, first 2048; code 4 raises the index by 2 each time
    // up to 63, and the sum clamps at 4095.
    std::vector<uint8_t> payload = {0x03, 0x00, 0x80};
    payload.insert(payload.end(), 256, 0x44);
    payload.insert(payload.end(), {0x00, 0x00});
    const Decoded d = DecodePayload("WADM", payload);
    ASSERT_TRUE(d.result.ok());
    ASSERT_EQ(d.samples.size(), 513u);
    // step 8, 10, 12, 14, 16: d = s/8 + s = 9, 11, 13, 15, 18.
    EXPECT_EQ(std::vector<uint16_t>(d.samples.begin(), d.samples.begin() + 6),
              (std::vector<uint16_t>{2048, 2057, 2068, 2081, 2096, 2114}));
    EXPECT_EQ(d.samples.back(), 4095);
}

TEST(RbfCoding, We2aBlocks) {
    std::vector<uint8_t> payload = {
        // Short block of 3: first 0x9040, index 1 (b1 nonzero), row 0 highest 4, A = 1, B = 0.
        0x09,
        0x40,
        0x90,
        0x10,
        0x24,
        0x3C,
        // Marker id 0x11 type 3 with the sample 0x1234.
        0x0E,
        0x11,
        0x34,
        0x12,
        // Short block of 2: first 0x8000, index 0, row 3 highest 63, A = 1.375, B = -1/2.
        0x05,
        0x00,
        0x80,
        0xFF,
        0x07,
        0x40,
        // Silence of 1 << 6 | 2 = 66; the history resets.
        0x08,
        0x04,
        // Long block of one sub-block: first 0x8000, row 0 highest 0, A = 1, B = -1/2, codes 1.
        0x03,
        0x00,
        0x80,
        0x00,
        0x04,
    };
    payload.insert(payload.end(), 32, 0x11);
    payload.insert(payload.end(), {0x00, 0x00});
    const Decoded d = DecodePayload("WE2A", payload);
    ASSERT_TRUE(d.result.ok());
    ASSERT_EQ(d.samples.size(), 3u + 1 + 2 + 66 + 65);
    const auto head = std::vector<uint16_t>(d.samples.begin(), d.samples.begin() + 6);
    EXPECT_EQ(head, (std::vector<uint16_t>{36928, 37054, 36910, 0x1234, 32768, 46966}));
    EXPECT_EQ(std::vector<uint16_t>(d.samples.begin() + 6, d.samples.begin() + 72), Repeat(32768, 66));
    EXPECT_EQ(std::vector<uint16_t>(d.samples.begin() + 72, d.samples.begin() + 78),
              (std::vector<uint16_t>{32768, 32816, 32864, 32888, 32888, 32876}));
    const std::vector<RbfMarker> markers = {{3, 0x11, 3}};
    EXPECT_EQ(d.result.markers, markers);
}

TEST(RbfCoding, We2aClampsToSixteenBits) {
    // Index 63 (b1 nonzero gives 1, code 7 walks it up), prediction 1.375 x.
    std::vector<uint8_t> payload = {0x03, 0xC0, 0xFF, 0xFF, 0x04};
    payload.insert(payload.end(), 32, 0x77);
    payload.insert(payload.end(), {0x03, 0xC0, 0x00, 0xFF, 0x04});
    payload.insert(payload.end(), 32, 0xFF);
    const Decoded d = DecodePayload("WE2A", payload);
    ASSERT_TRUE(d.result.ok());
    ASSERT_EQ(d.samples.size(), 130u);
    EXPECT_EQ(d.samples[0], 0xFFC0);
    EXPECT_EQ(d.samples[64], 65535);
    EXPECT_EQ(d.samples[65], 0x00C0);
    EXPECT_EQ(d.samples[129], 0);
}

TEST(RbfCoding, Q42mWordsWrapModulo4096) {
    const std::vector<uint8_t> payload = {
        0x21, 0x00,                          // +1, +1 at scale 0: unchanged
        0x10, 0x02,                          // scale 16
        0xE3, 0x03,                          // +3, -1
        0x11, 0x02,                          // scale 32
        0xEF, 0x01,                          // +15, +15: wraps past 4095
        0x30, 0x02,                          // -16, -15: wraps below 0
        0x01, 0x02, 0x03, 0x04,              // run of (0x403 AND 3FF) x 2 = 6
        0x02, 0x02, 0x07, 0x01, 0x23, 0x00,  // marker: type 7, code 35 -> 11
        0x00, 0x02,                          // another command: skipped
        0x1F, 0x02,                          // scale 15
        0x01, 0x00,                          // +1, 0
        0x08, 0x02,
    };
    const Decoded d = DecodePayload("Q42M", payload);
    ASSERT_TRUE(d.result.ok());
    EXPECT_TRUE(d.result.endMark);
    const auto expected = Join({{2048, 2048, 2432, 2304, 2048, 1792, 1792, 2048}, Repeat(2048, 6), {2168, 2168}});
    EXPECT_EQ(d.samples, expected);
    const std::vector<RbfMarker> markers = {{14, 11, 7}};
    EXPECT_EQ(d.result.markers, markers);
}

TEST(RbfCoding, Q42mMarkerCodes) {
    const int codes[][2] = {{0, 0},  {1, 1},  {16, 2},  {2, 3},   {17, 4},  {32, 5},  {3, 6},  {18, 7}, {33, 8},
                            {48, 9}, {4, 10}, {35, 11}, {34, 12}, {49, 13}, {64, 14}, {5, 15}, {7, 0},  {255, 0}};
    for (const auto& [code, number] : codes) {
        const Decoded d = DecodePayload("Q42M", {0x02, 0x02, 0x01, 0x00, uint8_t(code), 0x00, 0x08, 0x02});
        ASSERT_EQ(d.result.markers.size(), 1u);
        EXPECT_EQ(d.result.markers[0].identifier, number) << code;
    }
}

TEST(RbfCoding, BlocksPastTheEndAreRefused) {
    const struct {
        const char* magic;
        std::vector<uint8_t> payload;
    } cases[] = {
        {"WMdM", {0x00, 0x80}},                    // long block cut short
        {"WMdM", {0x06, 0x10}},                    // raw block without its count
        {"WMdM", {0x06, 0x10, 0x03, 0x01}},        // raw block without its samples
        {"WMdM", {0x05, 0x01, 0x02, 0x03}},        // silence with a marker, one byte short
        {"WADM", {0x01}},                          // one byte
        {"WADM", {0x01, 0x05, 0x00, 0x80, 0x11}},  // short block of 5 code bytes with one
        {"WADM", {0x03, 0x00, 0x80}},              // long block without codes
        {"WE2A", {0x0D, 0x00, 0x80, 0x10, 0x00}},  // short block of 4 samples without codes
        {"WE2A", {0x02, 0x01, 0x00}},              // marker block cut short
        {"Q42M", {0x21}},                          // half a word
        {"Q42M", {0x01, 0x02}},                    // run without its count
        {"Q42M", {0x02, 0x02, 0x01, 0x00}},        // marker without its code
    };
    for (const auto& c : cases) {
        const Decoded d = DecodePayload(c.magic, c.payload);
        EXPECT_EQ(d.result.status, RbfStatus::kBlockPastEnd) << c.magic << " " << c.payload.size();
    }
}

TEST(RbfCoding, DecodedSampleCountIsCapped) {
    // Each 2-byte "WADM" silence block stands for 65520 samples.
    std::vector<uint8_t> payload;
    for (uint64_t n = 0; n <= kRbfMaxSamples / 65520; ++n) payload.insert(payload.end(), {0xFC, 0xFC});
    const uint8_t magic[] = {'W', 'A', 'D', 'M'};
    const RbfInfo info = OpenRbfDecoder(magic)->ParseInfo(payload);
    EXPECT_EQ(info.status, RbfStatus::kTooManySamples);
}

TEST(RbfCoding, CutLengthKeepsWholeBlocks) {
    const uint8_t wmdm[] = {'W', 'M', 'd', 'M'}, q42m[] = {'Q', '4', '2', 'M'}, wadm[] = {'W', 'A', 'D', 'M'};
    // Blocks of 3, 5 and 3 bytes, then FF.
    const std::vector<uint8_t> m = {0x04, 0x10, 0x00, 0x06, 0x10, 0x02, 0x20, 0x30, 0x04, 0x01, 0x00, 0xFF};
    const size_t limits[][2] = {{0, 0}, {2, 0}, {3, 3}, {7, 3}, {8, 8}, {10, 8}, {11, 11}, {100, 11}};
    for (const auto& [limit, keep] : limits) EXPECT_EQ(OpenRbfDecoder(wmdm)->CutLength(m, limit), keep) << limit;
    // A command stays with its operand words.
    const std::vector<uint8_t> q = {0x21, 0x00, 0x01, 0x02, 0x03, 0x00, 0x02, 0x02, 0x01, 0x00, 0x01, 0x00, 0x08, 0x02};
    const size_t qLimits[][2] = {{1, 0}, {2, 2}, {4, 2}, {5, 2}, {6, 6}, {11, 6}, {12, 12}, {14, 12}};
    for (const auto& [limit, keep] : qLimits) EXPECT_EQ(OpenRbfDecoder(q42m)->CutLength(q, limit), keep) << limit;
    // "WADM": silence (2), short block of 2 code bytes (6), marker (4), long (259), then 00 00.
    std::vector<uint8_t> a = {0x04, 0x04, 0x05, 0x02, 0x00, 0x80, 0x12, 0x34, 0x06, 0x01, 0x00, 0x80, 0x0B, 0x00, 0x80};
    a.insert(a.end(), 256, 0x17);
    a.insert(a.end(), {0x00, 0x00});
    const size_t aLimits[][2] = {{0, 0},  {1, 0},   {2, 2},    {7, 2},     {8, 8},
                                 {11, 8}, {12, 12}, {270, 12}, {271, 271}, {1000, 271}};
    for (const auto& [limit, keep] : aLimits) EXPECT_EQ(OpenRbfDecoder(wadm)->CutLength(a, limit), keep) << limit;
    // "WE2A": short block of 4 samples (7), long block of 2 sub-blocks (71), silence (2), then 00 00.
    const uint8_t we2a[] = {'W', 'E', '2', 'A'};
    std::vector<uint8_t> e = {0x0D, 0x40, 0x90, 0xFC, 0x24, 0x3C, 0x0E, 0x07, 0x00, 0x80};
    for (int sub = 0; sub < 2; ++sub) {
        e.insert(e.end(), {0xFC, 0x24});
        e.insert(e.end(), 32, 0x71);
    }
    e.insert(e.end(), {0x04, 0x00, 0x00, 0x00});
    const size_t eLimits[][2] = {{6, 0}, {7, 7}, {77, 7}, {78, 78}, {79, 78}, {80, 80}, {82, 80}};
    for (const auto& [limit, keep] : eLimits) EXPECT_EQ(OpenRbfDecoder(we2a)->CutLength(e, limit), keep) << limit;
    // Whole blocks decode to the start of what the payload decodes to.
    for (const auto& [magic, payload] : {std::pair{"WADM", a}, std::pair{"WE2A", e}}) {
        const Decoded whole = DecodePayload(magic, payload);
        ASSERT_TRUE(whole.result.endMark) << magic;
        for (size_t limit = 0; limit < payload.size(); ++limit) {
            const uint8_t header[4] = {uint8_t(magic[0]), uint8_t(magic[1]), uint8_t(magic[2]), uint8_t(magic[3])};
            std::vector<uint8_t> cut(
                payload.begin(),
                payload.begin() + static_cast<std::ptrdiff_t>(OpenRbfDecoder(header)->CutLength(payload, limit)));
            cut.insert(cut.end(), {0x00, 0x00});
            const Decoded part = DecodePayload(magic, cut);
            ASSERT_TRUE(part.result.ok() && part.result.endMark) << magic << " " << limit;
            ASSERT_LE(part.samples.size(), whole.samples.size());
            EXPECT_TRUE(std::equal(part.samples.begin(), part.samples.end(), whole.samples.begin())) << limit;
        }
    }
}

}  // namespace
}  // namespace cz
