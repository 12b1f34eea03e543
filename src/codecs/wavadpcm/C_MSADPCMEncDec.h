// Microsoft ADPCM decoder for the data chunk of a WAV file (format tag 2).
// Also the base of the IMA/DVI decoder: both walk the data block by block and
// differ only in how one block is expanded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/wavadpcm/C_Buffer.h"
#include "codecs/wavadpcm/C_WavFileCodecInfo.h"

namespace cz {

// Two published decoders of these formats round differently, and a stream
// decodes bit-exactly only with the arithmetic its reader expects.
enum class WavAdpcmArithmetic {
    // The reference algorithms: IMA steps built from shifted adds
    // (step/8 + step/4 + step/2 + step, each term truncated); Microsoft
    // ADPCM prediction rounded toward minus infinity (an arithmetic shift by
    // 8). SoX and libsndfile decode this way; it is the default.
    kReference,
    // IMA difference as one product, (2 × code + 1) × step / 8; Microsoft
    // ADPCM prediction truncated toward zero. FFmpeg's decoders do this.
    kExactProduct,
};

class C_MSADPCMEncDec {
public:
    C_MSADPCMEncDec() = default;
    C_MSADPCMEncDec(const C_MSADPCMEncDec&) = delete;
    C_MSADPCMEncDec& operator=(const C_MSADPCMEncDec&) = delete;
    virtual ~C_MSADPCMEncDec();

    // Decodes the data chunk in[0, inSize) described by codecInfo into
    // interleaved 16-bit samples. Every block of BlockAlign() bytes yields
    // SamplesPerBlock() samples per channel; a shorter last block yields the
    // samples it holds (codecInfo.FramesInBlock), and a last fragment
    // shorter than a block header yields nothing. outSize is the size of out
    // in bytes; codecInfo.FramesForDataSize(inSize) × channels × 2 is enough.
    // Returns the number of bytes written, or -1 on failure (see LastError):
    // a codec block of the wrong kind, a corrupt block header, or an output
    // buffer too small. Nothing is read or written outside the two buffers.
    virtual int64_t DecodeBlocks(const uint8_t* in, size_t inSize, int16_t* out, size_t outSize,
                                 const C_WavFileCodecInfo& codecInfo);

    WavAdpcmError LastError() const { return lastError_; }
    void SetArithmetic(WavAdpcmArithmetic arithmetic) { arithmetic_ = arithmetic; }
    WavAdpcmArithmetic Arithmetic() const { return arithmetic_; }

protected:
    // Expands one block (already cut to its size) into frames × channels
    // interleaved samples.
    using BlockExpander = WavAdpcmError (*)(C_Buffer& block, size_t frames, const C_WavFileCodecInfo& info,
                                            WavAdpcmArithmetic arithmetic, int16_t* out);

    int64_t DecodeAllBlocks(const uint8_t* in, size_t inSize, int16_t* out, size_t outSize,
                            const C_WavFileCodecInfo& codecInfo, uint16_t formatTag, BlockExpander expand);

private:
    static WavAdpcmError ExpandBlock(C_Buffer& block, size_t frames, const C_WavFileCodecInfo& info,
                                     WavAdpcmArithmetic arithmetic, int16_t* out);

    WavAdpcmError lastError_ = WavAdpcmError::kNone;
    WavAdpcmArithmetic arithmetic_ = WavAdpcmArithmetic::kReference;
};

}  // namespace cz
