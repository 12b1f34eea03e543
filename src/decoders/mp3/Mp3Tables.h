// Tables of the Layer III decoder. Band boundaries, bitrates and Huffman
// codes are the published values of ISO/IEC 11172-3 and 13818-3; the numeric
// tables (powers, cosines, windows, stereo ratios) are worked out once, at the
// first decoder creation, and shared read-only afterwards.
#pragma once

#include <cstdint>

namespace cz::mp3 {

// Scale-factor band boundaries in frequency lines: 22 long bands (23
// boundaries) and 13 short bands (14 boundaries, per window).
struct ScaleFactorBands {
    uint16_t longBounds[23];
    uint16_t shortBounds[14];
};

// version 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5; rateIndex 0..2.
const ScaleFactorBands& BandsFor(int version, int rateIndex);
int32_t SampleRateFor(int version, int rateIndex);
// kbit/s of Layer III, 0 for the free format.
int32_t BitrateKbpsFor(int version, int bitrateIndex);

// A code word of ISO/IEC 11172-3 Table B.7 and its length in bits.
struct HuffCode {
    uint32_t code;
    uint8_t length;
};

// The code words of a pair table, listed by x * size + y, with its x/y size
// and linbits; codes is none for table 0 (no code words) and the unused
// tables 4 and 14.
struct PairCodeTable {
    const HuffCode* codes;
    uint8_t size;
    uint8_t linbits;
};

// Pair table 0..31 and count1 table 0 (A) or 1 (B); the 16 code words of a
// count1 table are listed by v * 8 + w * 4 + x * 2 + y.
const PairCodeTable& PairCodesFor(int table);
const HuffCode* QuadCodesFor(int table);

// A Huffman decoding table: a first-level lookup of firstBits bits whose
// entries are either a leaf (bit 15 clear: bits 8..12 the code bits used at
// this level, bits 0..7 the symbol) or a link (bit 15 set: bits 12..14 the
// bits of the next level, bits 0..11 its start in the same array).
struct HuffTable {
    const uint16_t* lookup = nullptr;
    uint8_t firstBits = 0;
    uint8_t linbits = 0;
};

// Numeric tables in the fixed-point formats of the decoder.
struct Mp3Tables {
    // |i|^(4/3) for i in 0..8206 as a normalised mantissa in [2^30, 2^31)
    // and a power of two: value = mantissa * 2^(exponent - 30).
    uint32_t pow43Mantissa[8207];
    int8_t pow43Exponent[8207];
    // |i|^(4/3) for i in 0..15, Q25 (the common small values).
    uint32_t pow43Small[16];
    // 2^(r/4) for r = 0..3, Q30.
    uint32_t quarterPower[4];
    // Alias-reduction butterflies, Q31, interleaved cs, ca.
    int32_t alias[16];
    // 36-point IMDCT cos(pi / 72 (2i + 1 + 18)(2k + 1)) for the 18 outputs
    // that determine the others (i = 0..8 and 18..26), [k][output], Q27.
    int32_t imdctLong[18][18];
    // Windows of the long block types 0, 1, (2 unused) and 3, Q30.
    int32_t windowLong[4][36];
    // 12-point IMDCT for outputs i = 0..2 and 6..8, [k][output], Q27.
    int32_t imdctShort[6][6];
    // Short window, Q30.
    int32_t windowShort[12];
    // Synthesis matrixing cos((2k + 1) i pi / 64), split by the symmetries of
    // the cosine: odd[k][m] for i = 2m + 1 (k = 0..15); for i = 4p
    // quarter[k][p] = cos((2k + 1) p pi / 16) and for i = 4p + 2
    // half[k][p] = cos((2k + 1)(2p + 1) pi / 32) (k = 0..7). Q28.
    int32_t synthOdd[16][16];
    int32_t synthQuarter[8][8];
    int32_t synthHalf[8][8];
    // Synthesis window, published values times 2^17 (the values are exact
    // multiples of 2^-16).
    int32_t synthWindow[512];
    // MPEG-1 intensity ratios for is_pos 0..6: left, right, Q30.
    int32_t intensity1[7][2];
    // MPEG-2 intensity factors io^k, k = 0..31, for intensity_scale 0 and 1, Q30.
    int32_t intensity2[2][32];
    // 1/sqrt(2), Q31.
    int32_t invSqrt2;

    HuffTable pairTables[32];
    HuffTable quadTables[2];
};

// The shared tables, built on first use. Safe to call from several threads.
const Mp3Tables& GetMp3Tables();

}  // namespace cz::mp3
