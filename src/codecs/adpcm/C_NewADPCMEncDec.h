// The "new" chip ADPCM coder: the 4-bit code layout and step table of the
// base coder with a decoder that adds in 16-bit arithmetic (no clamping of
// the running value) and may start from a raw first sample and a given step
// index. Its encoder codes chunks of up to 512 samples with a trellis search
// (AdpcmBlockEncoder.h) and keeps every reconstruction in range, so its
// streams never wrap; it honours the coding modes of the base coder
// (lead-in, tail padding, flush to silence, the 15, 0, 15, 0 guard).
// Used by the "new" APM file.
#pragma once

#include "codecs/adpcm/AdpcmBlockEncoder.h"
#include "codecs/adpcm/C_ADPCMEncDec.h"

namespace cz {

class C_NewADPCMEncDec : public C_ADPCMEncDec {
public:
    C_NewADPCMEncDec();
    ~C_NewADPCMEncDec() override;

    // Four times byteCount.
    uint32_t GetMaxDecodedSize(uint32_t byteCount, uint32_t mode) override;
    uint32_t Encode(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize, uint32_t mode,
                    I_ProgressCallback* progress) override;
    // Decodes with the start state (see SetStartState); output words are the
    // running value plus 2048, clamped to 0 ... 4095.
    uint32_t Decode(const uint8_t* in, uint32_t inSize, uint16_t* out, uint32_t outBytes,
                    I_ProgressCallback* progress) override;
    // previous + step sum in 16-bit arithmetic (wraps, no clamp).
    int32_t Reconstruct(int32_t previous, uint8_t code, uint16_t& stepIndex) override;

    // Start both directions from a raw first sample (12-bit two's complement,
    // bit 11 sign-extended) and a step index (kept within the table) instead
    // of 0 and 0. The raw sample seeds the running value; it is not a code and
    // is not output.
    void SetStartState(uint16_t rawFirstSample, uint16_t startIndex);
    void ClearStartState();

    // How many step indices the encoder's search holds at once (1 ...
    // kAdpcmMaxSearchWidth, kAdpcmSearchWidth unless set): wider codes
    // closer to the best stream and takes longer.
    void SetSearchWidth(int width);
    int GetSearchWidth() const { return searchWidth_; }

protected:
    // Codes the samples in chunks with the block encoder.
    uint32_t EncodeSamples(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize, uint32_t n,
                           C_Progress& report) override;

private:
    void ApplyStartState();

    int32_t startValue_ = 0;
    uint16_t startIndex_ = 0;
    int searchWidth_;
};

}  // namespace cz
