// Constant tables of the WMA version 1 and 2 bitstream (data only; see
// WmaTables.cpp for their source).
#pragma once

#include <cstdint>

namespace cz::wma {

constexpr int kLspCoefCount = 10;

// Edges of the critical bands in Hz.
extern const uint16_t kCriticalFreqs[25];
// Exponent band widths of version 2 for the three longest block sizes: the
// first value of a row is the count of bands that follow.
extern const uint8_t kBands22050[3][25];
extern const uint8_t kBands32000[3][25];
extern const uint8_t kBands44100[3][25];

// Huffman code of the noise band gains (37 symbols, value = symbol - 18).
extern const uint16_t kNoiseGainCodes[37];
extern const uint8_t kNoiseGainLengths[37];

// Codebook of the line spectral pairs (3 or 4 bits per pair).
extern const float kLspCodebook[kLspCoefCount][16];

// Huffman code of the exponent steps (121 symbols, step = symbol - 60).
extern const uint32_t kScaleCodes[121];
extern const uint8_t kScaleLengths[121];

// One coefficient code: symbol 0 is the escape, symbol 1 the end of block,
// and the symbols from 2 on are (run, level) pairs in the order level 1 with
// runs 0, 1, ..., then level 2, ...: runsPerLevel[l] is the count of runs
// coded for level l + 1.
struct CoefCode {
    int count;
    const uint32_t* codes;
    const uint8_t* lengths;
    const uint16_t* runsPerLevel;
    int levelCount;
};
// Pairs: 0/1 below 0.72 bits per sample, 2/3 below 1.16, 4/5 above (the
// odd one for the side channel of mid/side stereo).
extern const CoefCode kCoefCodes[6];

}  // namespace cz::wma
