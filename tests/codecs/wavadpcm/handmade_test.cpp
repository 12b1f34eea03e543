// Fixtures made by hand from the published ADPCM algorithms, with the
// expected samples worked out step by step (no other decoder needed).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "codecs/wavadpcm/WavAdpcmDecode.h"

namespace cz {
namespace {

void Put16(std::vector<uint8_t>& v, int32_t x) {
    v.push_back(static_cast<uint8_t>(x & 0xFF));
    v.push_back(static_cast<uint8_t>((x >> 8) & 0xFF));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, static_cast<int32_t>(x & 0xFFFF));
    Put16(v, static_cast<int32_t>(x >> 16));
}

// Microsoft ADPCM, mono, blocks of 9 bytes (7-byte header, two code bytes:
// 2 + 4 = 6 samples), one block per standard coefficient pair. Per code,
// high nibble first: predictor = (s1 x c1 + s2 x c2) >> 8 (floor), sample =
// predictor + signed code x delta (clamped to 16 bits), then delta =
// max(16, adaptation[code] x delta >> 8) with the adaptation table 230 230
// 230 230 307 409 512 614 768 614 512 409 307 230 230 230.
TEST(WavAdpcmHandMade, MicrosoftAdpcmWithTheSevenStandardPairs) {
    const int16_t pairs[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
    std::vector<uint8_t> fmt;
    Put16(fmt, 2);  // Microsoft ADPCM
    Put16(fmt, 1);
    Put32(fmt, 8000);
    Put32(fmt, 8000 * 9 / 6);
    Put16(fmt, 9);  // block align
    Put16(fmt, 4);
    Put16(fmt, 32);  // extra bytes: samples per block, pair count, pairs
    Put16(fmt, 6);
    Put16(fmt, 7);
    for (const auto& p : pairs) {
        Put16(fmt, p[0]);
        Put16(fmt, p[1]);
    }
    // Per block: delta, first sample (s1), second sample (s2), two code bytes.
    struct Block {
        int delta, s1, s2;
        uint8_t codes[2];
    };
    const Block blocks[7] = {{16, 100, 50, {0x12, 0xF7}},     {20, 300, 200, {0x7F, 0x80}},
                             {16, -40, -20, {0x81, 0x19}},    {32, 1000, -1000, {0x34, 0xCE}},
                             {24, -500, -700, {0x56, 0x0A}},  {40, 2000, 1000, {0x9B, 0xD2}},
                             {18, -30000, 32000, {0x77, 0x77}}};
    std::vector<uint8_t> data;
    for (int b = 0; b < 7; ++b) {
        data.push_back(static_cast<uint8_t>(b));  // predictor index = pair b
        Put16(data, blocks[b].delta);
        Put16(data, blocks[b].s1);
        Put16(data, blocks[b].s2);
        data.push_back(blocks[b].codes[0]);
        data.push_back(blocks[b].codes[1]);
    }
    // Each block gives s2, s1, then one sample per code. Worked out:
    // block 0, pair (256, 0), delta 16: code 1: (100 x 256) >> 8 = 100, +1 x 16
    //   = 116, delta 230 x 16 >> 8 = 14 -> 16; code 2: 116 + 32 = 148; code 15
    //   (-1): 148 - 16 = 132; code 7: 132 + 112 = 244.
    // block 1, pair (512, -256), delta 20: code 7: (300 x 512 - 200 x 256) >> 8
    //   = 400, + 140 = 540, delta 614 x 20 >> 8 = 47; code 15: 780 - 47 = 733,
    //   delta 42; code 8 (-8): 926 - 336 = 590, delta 768 x 42 >> 8 = 126;
    //   code 0: 447 + 0 = 447.
    // block 2, pair (0, 0): every prediction is 0: -8 x 16, +1 x 48, +1 x 43,
    //   -7 x 38.
    // block 4, pair (240, 0): (-500 x 240) >> 8 = -120000 >> 8 = -469 (floor,
    //   not -468), + 5 x 24 = -349.
    // block 6, pair (392, -232): (-30000 x 392 - 32000 x 232) >> 8 = -74938,
    //   + 7 x 18 clamps to -32768.
    const std::vector<int16_t> expected = {
        50,   100,   116,    148,    132,   244,  200,  300,  540,  733,  590,  447,    -20,    -40,
        -128, 48,    43,     -266,   -1000, 1000, 596,  809,  623,  591,  -700, -500,   -349,   -100,
        -94,  -497,  1000,   2000,   2501,  2393, 1814, 1585, 32000, -30000, -32768, -22688, -4324, 15668};
    std::vector<int16_t> out;
    WavAdpcmStreamInfo info;
    ASSERT_TRUE(DecodeWavAdpcm(fmt.data(), fmt.size(), data.data(), data.size(), out, &info));
    EXPECT_EQ(info.samplesPerBlock, 6);
    EXPECT_EQ(info.frames, 42u);
    EXPECT_EQ(out, expected);
}

// IMA ADPCM, mono, the standard 256-byte block: a 4-byte header (first
// sample, step index, reserved) and 252 code bytes, low nibble first, give
// 1 + 504 = 505 samples. Per code c at step s = table[index]: diff = s >> 3,
// + s if c & 4, + s >> 1 if c & 2, + s >> 2 if c & 1; subtracted when c & 8;
// index += (-1, -1, -1, -1, 2, 4, 6, 8)[c & 7], kept in 0..88.
TEST(WavAdpcmHandMade, ImaBlockOf505Samples) {
    std::vector<uint8_t> fmt;
    Put16(fmt, 0x11);
    Put16(fmt, 1);
    Put32(fmt, 8000);
    Put32(fmt, 8000 * 256 / 505);
    Put16(fmt, 256);
    Put16(fmt, 4);
    Put16(fmt, 2);
    Put16(fmt, 505);
    std::vector<uint8_t> data;
    Put16(data, 1000);   // first sample
    data.push_back(10);  // step index: step 19
    data.push_back(0);
    for (uint8_t b : {0x07, 0x7F, 0x88, 0x34, 0xC2}) data.push_back(b);
    data.resize(256, 0);
    // Worked out (code, step, diff, sample, next index):
    //  7 at 19: 2 + 19 + 9 + 4 = 34 -> 1034, index 18;  0 at 41: 5 -> 1039, 17;
    //  15 at 37: 4 + 37 + 18 + 9 = 68, minus -> 971, 25;  7 at 80: 10 + 80 + 40
    //  + 20 = 150 -> 1121, 33;  8 at 173: 21, minus -> 1100, 32;  8 at 157: 19
    //  -> 1081, 31;  4 at 143: 17 + 143 = 160 -> 1241, 33;  3 at 173: 21 + 86 +
    //  43 = 150 -> 1391, 32;  2 at 157: 19 + 78 = 97 -> 1488, 31;  12 at 143:
    //  160, minus -> 1328, 33;  0 at 173: 21 -> 1349, 32. The zero codes then
    //  walk the index down to 0 (step 7, diff 0): the block ends flat at 1541.
    const std::vector<int16_t> head = {1000, 1034, 1039, 971, 1121, 1100, 1081, 1241, 1391, 1488, 1328, 1349};
    std::vector<int16_t> out;
    WavAdpcmStreamInfo info;
    ASSERT_TRUE(DecodeWavAdpcm(fmt.data(), fmt.size(), data.data(), data.size(), out, &info));
    EXPECT_EQ(info.samplesPerBlock, 505);
    ASSERT_EQ(out.size(), 505u);
    EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + 12), head);
    EXPECT_EQ(out[502], 1541);
    EXPECT_EQ(out[504], 1541);
}

}  // namespace
}  // namespace cz
