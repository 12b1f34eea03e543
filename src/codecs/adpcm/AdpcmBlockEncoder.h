// The block encoder of the "new" chip ADPCM coder: codes a chunk of signed
// samples (centred on zero) to 4-bit codes with a trellis search over the
// coder's step index, so each code is chosen with the codes after it in view.
//
// The search keeps, for each step index in a window of consecutive indices,
// the cheapest path (sum of squared errors) that ends there, and moves the
// window with the cheapest path after every sample. From each kept path it
// tries every magnitude with the sign towards the sample (the other sign when
// that leaves the range or is barred); magnitudes that lead to the same index
// are merged. Ties go to the smaller source index, then the smaller
// magnitude, so the portable loop and the vector loop chosen at run time
// (x86 with AVX2) give the same codes on every machine.
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
// Step indices the search holds at once: its default and the widest allowed.
inline constexpr int kAdpcmSearchWidth = 8;
inline constexpr int kAdpcmMaxSearchWidth = 32;

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
// the step index after each; advances the state. searchWidth (1 ...
// kAdpcmMaxSearchWidth, brought into that range) sets how many step indices
// the search holds: wider is slower and closer to the best stream. The
// prediction of the state must lie within the range of the tables.
void EncodeAdpcmBlock(const int16_t* samples, uint32_t count, const S_AdpcmBlockTables& tables,
                      S_AdpcmBlockState& state, uint8_t* codes, uint8_t* stepIndices,
                      int searchWidth = kAdpcmSearchWidth);

// True when the vector loop runs (x86 with AVX2, and allowed).
bool AdpcmSearchVectorActive();
// Allows or forbids the vector loop (tests compare both forms).
void SetAdpcmSearchVectorAllowed(bool allowed);

}  // namespace cz
