// MDPCM coder with 6-bit differences: the stream layout of C_MDPCMEncDec
// (header byte scale index << 1 | kind, then one signed byte per sample,
// end marker), with differences of -31..31 and a finer scale table:
//
//   scale index i = 0..15: step 4 x (i + 1) (4 .. 64),
//                          threshold 125 + 126 x i (a little under 31.5 steps)
//
// The encoder picks the smallest step whose threshold covers the frame's
// steepest change (as the 5-bit coder does), rounds each difference to the
// nearest step (halves away from zero) and keeps the reconstruction inside
// 0..4095; the frame plan, padding, first-sample rounding and header alias
// are those of the 5-bit coder. The decoder adds difference x step, rounds
// the first sample of a frame, and clamps to 0..4095.
#pragma once

#include "codecs/mdpcm/C_MDPCMEncDec.h"

namespace cz {

class C_MDPCMEncDec6Bit : public C_MDPCMEncDec {
public:
    explicit C_MDPCMEncDec6Bit(uint32_t headerAlias = 0, uint16_t firstSampleBits = 12);
    ~C_MDPCMEncDec6Bit() override;

    uint32_t Decode(uint16_t* out, size_t outCapacity, const uint8_t* in, size_t inSize, uint16_t initialValue,
                    uint32_t longLength, uint32_t shortLength, I_ProgressCallback* progress) override;
    uint32_t EncodeFrame(const uint16_t* samples, uint32_t sampleCount, uint32_t first, uint32_t frameLength,
                         uint32_t kind, int32_t padMode) override;

    static constexpr int kMaxDifference6 = 31;
    static constexpr int kMinDifference6 = -31;
    // Step of scale index 0..15: 4 x (index + 1).
    static int Step6(int index) { return 4 * (index + 1); }
    // Threshold of scale index 0..15: 125 + 126 x index.
    static int Threshold6(int index) { return 125 + 126 * index; }
};

}  // namespace cz
