// The 6-bit chip ADPCM coder: the same coder with 6-bit codes (sign in bit 5,
// five magnitude bits), one code per byte, a step table offset by 8
// (16, 17, ... 1928) and a 32-entry index table. Used by the 6-bit APM file.
#pragma once

#include "codecs/adpcm/C_ADPCMEncDec.h"

namespace cz {

class C_ADPCMEncDec6Bit : public C_ADPCMEncDec {
public:
    C_ADPCMEncDec6Bit();
    ~C_ADPCMEncDec6Bit() override;

    // sampleCount + 8, or + 264 with flush to silence; + 6 with lead-in.
    uint32_t GetMaxEncodedSize(uint32_t sampleCount, uint32_t mode) override;
    // Twice GetMaxEncodedSize(byteCount, mode).
    uint32_t GetMaxDecodedSize(uint32_t byteCount, uint32_t mode) override;
    void ResetEncoder(uint32_t sampleCount, uint32_t mode) override;
    void ResetDecoder() override;
    // The code index is the byte position.
    int PutCode(uint8_t* out, uint32_t outSize, uint32_t codeIndex, uint8_t code) override;
    int GetCode(const uint8_t* in, uint32_t inSize, uint32_t codeIndex, uint8_t& code) override;
};

}  // namespace cz
