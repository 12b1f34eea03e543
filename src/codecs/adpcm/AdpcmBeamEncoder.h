// A wider trellis search for the 4-bit chip ADPCM coders: after every sample
// it keeps, for every step index, the `perIndex` cheapest coder states
// (prediction, guard state) that end there, each with the path of codes that
// led to it, and extends each with the codes around its nearest one (`spread`
// magnitudes either side, and the smallest step the other way). States that
// meet are merged (the cheaper path stays). Cost: the sum of squared errors.
// The cheapest path is committed at the end of each run of kAdpcmBeamRun
// samples.
//
// Like the block encoder (AdpcmBlockEncoder.h) it writes streams the plain
// reconstruction decodes: every value stays within the tables' range (so a
// clamping decoder never clamps and a wrapping one never wraps) and the
// stream never holds 15, 0, 15, 0. Integer arithmetic with fixed ties (cost,
// then prediction, then guard state), so every machine gives the same codes.
#pragma once

#include <cstdint>

#include "codecs/adpcm/AdpcmBlockEncoder.h"

namespace cz {

inline constexpr uint32_t kAdpcmBeamRun = 1024;
inline constexpr int kAdpcmMaxPerIndex = 64;
// The settings of the effort levels: the block encoder's width for kFast and
// kHigh, states per index and spread of this search for kMax.
inline constexpr int kAdpcmFastWidth = 8;
inline constexpr int kAdpcmHighWidth = 32;
inline constexpr int kAdpcmMaxPerIndexSetting = 2;
inline constexpr int kAdpcmMaxSpread = 3;

// Codes count samples (signed, centred on zero); writes count codes and the
// step index after each; advances the state. perIndex is kept within 1 ...
// kAdpcmMaxPerIndex, spread within 0 ... 7. The prediction of the state must
// lie within the range. False when memory runs out.
bool EncodeAdpcmBeam(const int16_t* samples, uint32_t count, const S_AdpcmBlockTables& tables, S_AdpcmBlockState& state,
                     uint8_t* codes, uint8_t* stepIndices, int perIndex, int spread);

}  // namespace cz
