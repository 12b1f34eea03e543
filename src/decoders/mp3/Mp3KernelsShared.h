// Fixed-point shifts and limits shared by every form of the filter-bank
// loops.
#pragma once

#include <cstdint>

#include "decoders/mp3/Mp3DecoderState.h"

namespace cz::mp3 {

// Subband samples are kept within +-32.0 (2^30 - 1 with 25 fraction bits)
// so that the synthesis sums cannot overflow whatever the input.
constexpr int32_t kSampleLimit = (1 << 30) - 1;
// The IMDCT sums (lines times Q27 cosines) to the subband sample format.
constexpr int kImdctShift = 27 + kLineFractionBits - kSampleFractionBits;
// Subband samples times the Q28 cosines to the V format (the even half from
// halved sums), and V times the window (2^17 units) to 16-bit samples.
constexpr int kOddShift = kSampleFractionBits + 28 - kSynthesisFractionBits;
constexpr int kEvenShift = kOddShift - 1;
constexpr int kOutputShift = kSynthesisFractionBits + 17 - 15;

inline int32_t ClampV(int64_t v) { return v > 0x7FFFFFFF ? 0x7FFFFFFF : v < -0x7FFFFFFF ? -0x7FFFFFFF : int32_t(v); }

}  // namespace cz::mp3
