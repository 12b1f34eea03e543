// IMA/DVI ADPCM decoder for the data chunk of a WAV file (format tag 0x11,
// 4 bits per sample).
#pragma once

#include "codecs/wavadpcm/C_MSADPCMEncDec.h"

namespace cz {

class C_DVIADPCMCodec : public C_MSADPCMEncDec {
public:
    C_DVIADPCMCodec() = default;
    ~C_DVIADPCMCodec() override;

    // Same contract as the Microsoft ADPCM decoder, for IMA/DVI blocks.
    int64_t DecodeBlocks(const uint8_t* in, size_t inSize, int16_t* out, size_t outSize,
                         const C_WavFileCodecInfo& codecInfo) override;

private:
    static WavAdpcmError ExpandBlock(C_Buffer& block, size_t frames, const C_WavFileCodecInfo& info,
                                     WavAdpcmArithmetic arithmetic, int16_t* out);
};

}  // namespace cz
