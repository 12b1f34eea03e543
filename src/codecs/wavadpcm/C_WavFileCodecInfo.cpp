#include "codecs/wavadpcm/C_WavFileCodecInfo.h"

#include <algorithm>

namespace cz {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The standard record is 16 bytes, then cbSize (2) and samples per block (2);
// Microsoft ADPCM adds the coefficient count (2) and 4 bytes per pair.
constexpr size_t kImaRecordSize = 20;
constexpr size_t kMsRecordSize = 22;
// A block selects its pair with one byte, so no stream can use more.
constexpr size_t kMaxCoefficientPairs = 256;

}  // namespace

const char* WavAdpcmErrorText(WavAdpcmError error) {
    switch (error) {
        case WavAdpcmError::kNone: return "no error";
        case WavAdpcmError::kShortFormat: return "format chunk too short for its codec record";
        case WavAdpcmError::kUnsupportedTag: return "format tag is not an ADPCM kind this decoder knows";
        case WavAdpcmError::kUnsupportedBits: return "only 4-bit ADPCM is supported";
        case WavAdpcmError::kBadChannels: return "channel count must be 1 or 2";
        case WavAdpcmError::kBadBlockAlign: return "block alignment smaller than the block header";
        case WavAdpcmError::kBadSamplesPerBlock: return "samples per block do not fit the block alignment";
        case WavAdpcmError::kBadCoefficients: return "bad coefficient count";
        case WavAdpcmError::kBadBlockHeader: return "corrupt block header";
        case WavAdpcmError::kOutputTooSmall: return "output buffer too small";
        case WavAdpcmError::kWrongDecoder: return "codec block of another ADPCM kind";
    }
    return "unknown error";
}

WavAdpcmError C_WavFileCodecInfo::Read(const uint8_t* fmt, size_t fmtSize) {
    block_.clear();
    if (!fmt || fmtSize < 2) return WavAdpcmError::kShortFormat;
    const uint16_t tag = Le16(fmt);
    size_t length = 0;
    if (tag == kWaveTagImaAdpcm) {
        length = kImaRecordSize;
    } else if (tag == kWaveTagMsAdpcm) {
        if (fmtSize < kMsRecordSize) return WavAdpcmError::kShortFormat;
        const size_t count = Le16(fmt + 20);
        length = kMsRecordSize + 4 * count;
    } else {
        return WavAdpcmError::kUnsupportedTag;
    }
    if (fmtSize < length) return WavAdpcmError::kShortFormat;

    std::vector<uint8_t> copy(fmt, fmt + length);
    block_.swap(copy);
    const WavAdpcmError check = [this] {
        if (BitsPerSample() != 4) return WavAdpcmError::kUnsupportedBits;
        if (Channels() < 1 || Channels() > 2) return WavAdpcmError::kBadChannels;
        if (BlockAlign() < HeaderBytesPerChannel() * Channels()) return WavAdpcmError::kBadBlockAlign;
        const size_t minimum = FormatTag() == kWaveTagMsAdpcm ? 2 : 1;
        if (SamplesPerBlock() < minimum || SamplesPerBlock() > Capacity(BlockAlign()))
            return WavAdpcmError::kBadSamplesPerBlock;
        if (FormatTag() == kWaveTagMsAdpcm && (CoefficientCount() == 0 || CoefficientCount() > kMaxCoefficientPairs))
            return WavAdpcmError::kBadCoefficients;
        return WavAdpcmError::kNone;
    }();
    if (check != WavAdpcmError::kNone) block_.clear();
    return check;
}

size_t C_WavFileCodecInfo::HeaderBytesPerChannel() const { return FormatTag() == kWaveTagMsAdpcm ? 7 : 4; }

// Samples per channel the bytes of one block can carry, ignoring the stated
// samples per block. IMA: one sample in the header, then groups of 4 bytes
// per channel holding 8 samples each (a broken group carries nothing).
// Microsoft ADPCM: two samples in the header, then one nibble per sample.
size_t C_WavFileCodecInfo::Capacity(size_t blockBytes) const {
    const size_t channels = Channels();
    const size_t header = HeaderBytesPerChannel() * channels;
    if (channels == 0 || blockBytes < header) return 0;
    const size_t body = blockBytes - header;
    if (FormatTag() == kWaveTagMsAdpcm) return 2 + body * 2 / channels;
    return 1 + body / (4 * channels) * 8;
}

size_t C_WavFileCodecInfo::FramesInBlock(size_t blockBytes) const {
    if (!IsValid()) return 0;
    return std::min<size_t>(Capacity(std::min<size_t>(blockBytes, BlockAlign())), SamplesPerBlock());
}

size_t C_WavFileCodecInfo::FramesForDataSize(size_t dataSize) const {
    if (!IsValid()) return 0;
    const size_t blockAlign = BlockAlign();
    return dataSize / blockAlign * SamplesPerBlock() + FramesInBlock(dataSize % blockAlign);
}

}  // namespace cz
