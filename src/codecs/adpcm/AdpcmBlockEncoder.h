// The block encoder of the "new" chip ADPCM coder: codes a chunk of signed
// samples (centred on zero) to 4-bit codes with a small beam search over the
// coder's states, so each code is chosen with the codes after it in view.
//
// The stream it writes decodes with the plain 4-bit reconstruction (the
// smallest step fraction plus the steps of the magnitude bits, the sign in
// bit 3); every reconstruction stays within the sample range and the stream
// never holds 15, 0, 15, 0 in a row.
#pragma once

#include <cstdint>

namespace cz {

// Chunks the block encoder takes at once.
inline constexpr uint32_t kAdpcmBlockSamples = 512;

struct S_AdpcmBlockTables {
    const int16_t* steps = nullptr;       // step sizes
    int32_t stepCount = 0;                // entries of steps (1 ... 64)
    const int8_t* indexAdjust = nullptr;  // eight entries, by magnitude
    int32_t minimum = -2048;              // reconstruction range
    int32_t maximum = 2047;
};

// The coder state the block encoder runs on and leaves behind.
struct S_AdpcmBlockState {
    int32_t prediction = 0;
    uint16_t stepIndex = 0;
    uint16_t patternState = 0;  // how much of 15, 0, 15, 0 the stream ends with (0 ... 3)
};

// Codes count (at most kAdpcmBlockSamples) samples; writes count codes and
// the step index after each; advances the state.
void EncodeAdpcmBlock(const int16_t* samples, uint32_t count, const S_AdpcmBlockTables& tables,
                      S_AdpcmBlockState& state, uint8_t* codes, uint8_t* stepIndices);

}  // namespace cz
