#include "codecs/wavadpcm/C_MSADPCMEncDec.h"

#include <algorithm>
#include <array>
#include <climits>

namespace cz {

namespace {

// Step adaptation of Microsoft ADPCM, indexed by the 4-bit code (published
// with the format; scale 256 = 1.0).
constexpr std::array<int32_t, 16> kAdaptation = {230, 230, 230, 230, 307, 409, 512, 614,
                                                 768, 614, 512, 409, 307, 230, 230, 230};
constexpr int32_t kMinDelta = 16;
// Keeps delta × 768 inside 32 bits on hostile streams; real streams stay far
// below it.
constexpr int32_t kMaxDelta = INT_MAX / 768;

struct MsChannel {
    int32_t coef1 = 0;
    int32_t coef2 = 0;
    int32_t delta = 0;
    int32_t sample1 = 0;
    int32_t sample2 = 0;
};

template <WavAdpcmArithmetic kArithmetic>
int16_t ExpandNibble(MsChannel& ch, uint8_t code) {
    // Coefficients are fixed point with 8 fraction bits.
    const int64_t sum = static_cast<int64_t>(ch.sample1) * ch.coef1 + static_cast<int64_t>(ch.sample2) * ch.coef2;
    const int64_t predicted = kArithmetic == WavAdpcmArithmetic::kReference ? (sum >> 8) : (sum / 256);
    const int32_t signedCode = (code & 0x08) ? static_cast<int32_t>(code) - 16 : code;
    const int64_t value = std::clamp<int64_t>(predicted + static_cast<int64_t>(signedCode) * ch.delta, -32768, 32767);
    ch.sample2 = ch.sample1;
    ch.sample1 = static_cast<int32_t>(value);
    ch.delta = std::clamp((kAdaptation[code] * ch.delta) >> 8, kMinDelta, kMaxDelta);
    return static_cast<int16_t>(value);
}

// One nibble per sample, high nibble first, channels taking turns (so in
// stereo each byte holds one left and one right sample).
template <WavAdpcmArithmetic kArithmetic>
WavAdpcmError ExpandCodes(C_Buffer& block, size_t count, size_t channels, MsChannel* state, int16_t* out) {
    const uint8_t* codes = block.Take((count + 1) / 2);
    if (!codes) return WavAdpcmError::kBadBlockHeader;
    MsChannel& first = state[0];
    MsChannel& second = state[channels - 1];
    for (size_t i = 0; i + 1 < count; i += 2) {
        const uint8_t byte = *codes++;
        out[i] = ExpandNibble<kArithmetic>(first, byte >> 4);
        out[i + 1] = ExpandNibble<kArithmetic>(second, byte & 0x0F);
    }
    if (count & 1) out[count - 1] = ExpandNibble<kArithmetic>(first, *codes >> 4);
    return WavAdpcmError::kNone;
}

}  // namespace

C_MSADPCMEncDec::~C_MSADPCMEncDec() = default;

int64_t C_MSADPCMEncDec::DecodeBlocks(const uint8_t* in, size_t inSize, int16_t* out, size_t outSize,
                                      const C_WavFileCodecInfo& codecInfo) {
    return DecodeAllBlocks(in, inSize, out, outSize, codecInfo, kWaveTagMsAdpcm, &ExpandBlock);
}

int64_t C_MSADPCMEncDec::DecodeAllBlocks(const uint8_t* in, size_t inSize, int16_t* out, size_t outSize,
                                         const C_WavFileCodecInfo& codecInfo, uint16_t formatTag,
                                         BlockExpander expand) {
    lastError_ = WavAdpcmError::kNone;
    if (!codecInfo.IsValid() || codecInfo.FormatTag() != formatTag) {
        lastError_ = WavAdpcmError::kWrongDecoder;
        return -1;
    }
    if (!in) inSize = 0;
    const size_t channels = codecInfo.Channels();
    const size_t blockAlign = codecInfo.BlockAlign();
    const size_t outSamples = out ? outSize / sizeof(int16_t) : 0;
    size_t written = 0;
    for (size_t offset = 0; offset < inSize; offset += blockAlign) {
        const size_t blockBytes = std::min(blockAlign, inSize - offset);
        const size_t frames = codecInfo.FramesInBlock(blockBytes);
        if (frames == 0) break;  // a fragment shorter than a block header
        const size_t samples = frames * channels;
        if (outSamples - written < samples) {
            lastError_ = WavAdpcmError::kOutputTooSmall;
            return -1;
        }
        C_Buffer block(in + offset, blockBytes);
        const WavAdpcmError error = expand(block, frames, codecInfo, arithmetic_, out + written);
        if (error != WavAdpcmError::kNone) {
            lastError_ = error;
            return -1;
        }
        written += samples;
    }
    return static_cast<int64_t>(written * sizeof(int16_t));
}

// Block layout, channels interleaved in each field: predictor index (1 byte),
// initial delta (int16), first sample (int16), second sample (int16); then
// one nibble per sample, high nibble first, channels alternating. The header
// holds the two oldest samples, the second field being the earlier one.
WavAdpcmError C_MSADPCMEncDec::ExpandBlock(C_Buffer& block, size_t frames, const C_WavFileCodecInfo& info,
                                           WavAdpcmArithmetic arithmetic, int16_t* out) {
    const size_t channels = info.Channels();
    std::array<MsChannel, 2> state{};
    for (size_t c = 0; c < channels; ++c) {
        uint8_t predictor = 0;
        if (!block.ReadByte(predictor)) return WavAdpcmError::kBadBlockHeader;
        if (predictor >= info.CoefficientCount()) return WavAdpcmError::kBadBlockHeader;
        state[c].coef1 = info.Coefficient1(predictor);
        state[c].coef2 = info.Coefficient2(predictor);
    }
    int16_t word = 0;
    for (size_t c = 0; c < channels; ++c) {
        if (!block.ReadWord(word)) return WavAdpcmError::kBadBlockHeader;
        state[c].delta = word;
    }
    for (size_t c = 0; c < channels; ++c) {
        if (!block.ReadWord(word)) return WavAdpcmError::kBadBlockHeader;
        state[c].sample1 = word;
    }
    for (size_t c = 0; c < channels; ++c) {
        if (!block.ReadWord(word)) return WavAdpcmError::kBadBlockHeader;
        state[c].sample2 = word;
    }
    for (size_t c = 0; c < channels; ++c) {
        out[c] = static_cast<int16_t>(state[c].sample2);
        out[channels + c] = static_cast<int16_t>(state[c].sample1);
    }
    int16_t* body = out + 2 * channels;
    const size_t count = (frames - 2) * channels;
    return arithmetic == WavAdpcmArithmetic::kReference
               ? ExpandCodes<WavAdpcmArithmetic::kReference>(block, count, channels, state.data(), body)
               : ExpandCodes<WavAdpcmArithmetic::kExactProduct>(block, count, channels, state.data(), body);
}

}  // namespace cz
