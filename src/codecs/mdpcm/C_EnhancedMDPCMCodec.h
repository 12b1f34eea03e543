// MDPCM coder that searches every scale of a frame for the least squared
// error. The stream is that of C_MDPCMEncDec (header byte scale index << 1 |
// kind, one signed difference -15..15 per sample, the same scale table, frame
// plan, padding, first-sample rounding and header alias), so the 5-bit
// decoder and the chip's frame records take it unchanged.
//
// Per frame, each usable scale is tried: the differences follow the targets
// with a two-candidate search per sample (the two steps that bracket the
// target, keeping the best few reconstructions so far), clamped inside
// 0..4095 as the decoder clamps. The scale whose reconstruction has the least
// squared error against the targets wins (the smaller scale on a tie).
#pragma once

#include "codecs/mdpcm/C_MDPCMEncDec.h"

namespace cz {

class C_EnhancedMDPCMCodec : public C_MDPCMEncDec {
public:
    explicit C_EnhancedMDPCMCodec(uint32_t headerAlias = 0, uint16_t firstSampleBits = 12);
    ~C_EnhancedMDPCMCodec() override;

    uint32_t EncodeFrame(const uint16_t* samples, uint32_t sampleCount, uint32_t first, uint32_t frameLength,
                         uint32_t kind, int32_t padMode) override;
};

}  // namespace cz
