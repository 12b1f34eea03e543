// Buffer-level entry for the WAV loader: decodes the data chunk of a
// Microsoft ADPCM (tag 2) or IMA/DVI ADPCM (tag 0x11) WAV file into 16-bit
// PCM. Knows nothing of files: the caller hands over the two chunk bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codecs/wavadpcm/C_MSADPCMEncDec.h"
#include "codecs/wavadpcm/C_WavFileCodecInfo.h"

namespace cz {

struct WavAdpcmStreamInfo {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;
    uint16_t samplesPerBlock = 0;
    size_t frames = 0;            // decoded samples per channel
    size_t ignoredTailBytes = 0;  // a last fragment shorter than a block header
    WavAdpcmError error = WavAdpcmError::kNone;
};

// The decoder for a format tag: C_MSADPCMEncDec for 2, C_DVIADPCMCodec for
// 0x11, none for any other tag.
std::unique_ptr<C_MSADPCMEncDec> CreateWavAdpcmDecoder(uint16_t formatTag);

// fmt / fmtSize: the body of the "fmt " chunk (without its 8-byte header).
// data / dataSize: the body of the "data" chunk.
// On success out holds frames × channels interleaved samples and the result
// is true. A data chunk that ends inside a block is decoded as far as its
// whole sample groups go (a Microsoft ADPCM block needs its 7-byte-per-channel
// header, an IMA block its 4-byte-per-channel header plus whole 4-byte groups
// per channel); a fragment shorter than a block header adds nothing and is
// counted in info->ignoredTailBytes. On failure out is empty, the result is
// false and info->error says why. info may be null. arithmetic chooses the
// rounding (see WavAdpcmArithmetic); the loader keeps the default.
bool DecodeWavAdpcm(const uint8_t* fmt, size_t fmtSize, const uint8_t* data, size_t dataSize, std::vector<int16_t>& out,
                    WavAdpcmStreamInfo* info = nullptr, WavAdpcmArithmetic arithmetic = WavAdpcmArithmetic::kReference);

}  // namespace cz
