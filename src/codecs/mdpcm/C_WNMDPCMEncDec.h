// Alternative MDPCM coder: the same frame plan, headers and end marker as
// C_MDPCMEncDec, but each frame is coded by a block coder that searches the
// whole frame for the scale and the differences with the least squared error,
// and carries its first sample explicitly.
//
// Frame layout: header byte (scale index << 1 | kind, 1 long, 0 short), the
// first value as a signed 16-bit little-endian word ((x - 2048) x 16, rounded
// to the first-sample bits), then one byte per further sample: magnitude
// 0..15 in bits 3..0, negated when bit 4 is set. Decoding: first sample =
// word / 16 + 2048, then each sample = previous +- magnitude x 8 (index + 1),
// clamped to 0..4095 -- the rule of the chip's delta blocks, so a frame can be
// repacked into a chip frame record as it is.
#pragma once

#include "codecs/mdpcm/C_MDPCMEncDec.h"

namespace cz {

class C_WNMDPCMEncDec : public C_MDPCMEncDec {
public:
    explicit C_WNMDPCMEncDec(uint16_t firstSampleBits = 12);
    ~C_WNMDPCMEncDec() override;

    // Decodes up to the end marker (initialValue is unused: every frame
    // carries its own first value). Same stopping rules as the base.
    uint32_t Decode(uint16_t* out, size_t outCapacity, const uint8_t* in, size_t inSize, uint16_t initialValue,
                    uint32_t longLength, uint32_t shortLength, I_ProgressCallback* progress) override;

    // sampleCount + 3 x (padding + frames).
    uint64_t GetMaxEncodedSize(uint32_t sampleCount, uint32_t longLength, uint32_t shortLength) override;

    // Padding positions aim at mid-scale whatever padMode says.
    uint32_t EncodeFrame(const uint16_t* samples, uint32_t sampleCount, uint32_t first, uint32_t frameLength,
                         uint32_t kind, int32_t padMode) override;

    // The 12-bit sample a frame's first-value word stands for.
    static int FirstValueFromWord(int16_t word) { return word / 16 + 2048; }

protected:
    // The first value is a 16-bit word.
    size_t FirstSampleBytes() const override { return 2; }
};

}  // namespace cz
