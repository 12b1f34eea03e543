// The codec block of the "fmt " chunk of an ADPCM WAV file: the standard
// format record and, for Microsoft ADPCM, the extension with the coefficient
// pairs. Read() keeps a copy of exactly those bytes and checks that they
// describe blocks the decoders can walk without leaving them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/WaveFormat.h"

namespace cz {

enum class WavAdpcmError {
    kNone,
    kShortFormat,         // fmt body too short for its record, or coefficients run past it
    kUnsupportedTag,      // neither 2 (Microsoft ADPCM) nor 0x11 (IMA/DVI ADPCM)
    kUnsupportedBits,     // bits per sample other than 4
    kBadChannels,         // 0 or more than 2 channels
    kBadBlockAlign,       // block alignment smaller than the block header
    kBadSamplesPerBlock,  // samples per block that the block cannot hold
    kBadCoefficients,     // no coefficient pair, or more than a block can select
    kBadBlockHeader,      // a block names a missing coefficient pair or an out-of-range step index
    kOutputTooSmall,      // the caller's output cannot hold the decoded samples
    kWrongDecoder,        // codec block of the other ADPCM kind
};

const char* WavAdpcmErrorText(WavAdpcmError error);

class C_WavFileCodecInfo {
public:
    // fmt points at the body of the "fmt " chunk (after its 8-byte header).
    // On failure the object is left empty.
    WavAdpcmError Read(const uint8_t* fmt, size_t fmtSize);

    bool IsValid() const { return !block_.empty(); }
    const std::vector<uint8_t>& Block() const { return block_; }

    uint16_t FormatTag() const { return U16(0); }
    uint16_t Channels() const { return U16(2); }
    uint32_t SampleRate() const { return U32(4); }
    uint32_t BytesPerSecond() const { return U32(8); }
    uint16_t BlockAlign() const { return U16(12); }
    uint16_t BitsPerSample() const { return U16(14); }
    uint16_t SamplesPerBlock() const { return U16(18); }
    // Microsoft ADPCM only (0 otherwise).
    uint16_t CoefficientCount() const { return FormatTag() == kWaveTagMsAdpcm ? U16(20) : 0; }
    int16_t Coefficient1(size_t index) const { return static_cast<int16_t>(U16(22 + 4 * index)); }
    int16_t Coefficient2(size_t index) const { return static_cast<int16_t>(U16(24 + 4 * index)); }

    // Bytes of block header per channel: 4 for IMA, 7 for Microsoft ADPCM.
    size_t HeaderBytesPerChannel() const;
    // Samples per channel held by a block of the given size (the block
    // alignment or a shorter last block), never more than SamplesPerBlock().
    // A block shorter than its header holds none.
    size_t FramesInBlock(size_t blockBytes) const;
    // Samples per channel that a data chunk of the given size decodes to:
    // whole blocks plus what a shorter last block holds.
    size_t FramesForDataSize(size_t dataSize) const;

private:
    uint16_t U16(size_t at) const {
        return at + 2 <= block_.size() ? static_cast<uint16_t>(block_[at] | (block_[at + 1] << 8)) : 0;
    }
    uint32_t U32(size_t at) const { return U16(at) | (static_cast<uint32_t>(U16(at + 2)) << 16); }
    size_t Capacity(size_t blockBytes) const;

    std::vector<uint8_t> block_;
};

}  // namespace cz
