#include "codecs/wavadpcm/C_DVIADPCMCodec.h"

#include <algorithm>
#include <array>

namespace cz {

namespace {

// IMA ADPCM quantiser step sizes (IMA Digital Audio Focus and Technical
// Working Groups, "Recommended Practices for Enhancing Digital Audio
// Compatibility in Multimedia Systems", 1992).
constexpr std::array<int32_t, 89> kStepTable = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Step index change per code; the sign bit does not matter.
constexpr std::array<int32_t, 16> kIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
constexpr int32_t kMaxStepIndex = 88;

struct ImaChannel {
    int32_t predictor = 0;
    int32_t stepIndex = 0;
};

template <WavAdpcmArithmetic kArithmetic>
int16_t ExpandNibble(ImaChannel& ch, uint8_t code) {
    const int32_t step = kStepTable[static_cast<size_t>(ch.stepIndex)];
    int32_t diff = 0;
    if constexpr (kArithmetic == WavAdpcmArithmetic::kReference) {
        diff = step >> 3;
        if (code & 4) diff += step;
        if (code & 2) diff += step >> 1;
        if (code & 1) diff += step >> 2;
    } else {
        diff = ((2 * (code & 7) + 1) * step) >> 3;
    }
    ch.predictor = std::clamp((code & 8) ? ch.predictor - diff : ch.predictor + diff, -32768, 32767);
    ch.stepIndex = std::clamp(ch.stepIndex + kIndexTable[code], 0, kMaxStepIndex);
    return static_cast<int16_t>(ch.predictor);
}

constexpr size_t kGroupBytes = 4;    // per channel
constexpr size_t kGroupSamples = 8;  // per channel

// After the headers: groups of 4 bytes per channel, channels taking turns,
// each holding 8 samples low nibble first.
template <WavAdpcmArithmetic kArithmetic>
WavAdpcmError ExpandGroups(C_Buffer& block, size_t frames, size_t channels, ImaChannel* state, int16_t* out) {
    for (size_t done = 1; done < frames; done += kGroupSamples) {
        const size_t count = std::min(kGroupSamples, frames - done);
        for (size_t c = 0; c < channels; ++c) {
            // Every group holding a wanted sample lies whole inside the block
            // (FramesInBlock counts whole groups only); samples past the
            // samples per block are left unread.
            const uint8_t* group = block.Take(kGroupBytes);
            if (!group) return WavAdpcmError::kBadBlockHeader;
            int16_t* sample = out + done * channels + c;
            for (size_t k = 0; k < count; ++k, sample += channels) {
                const uint8_t code = (k & 1) ? (group[k / 2] >> 4) : (group[k / 2] & 0x0F);
                *sample = ExpandNibble<kArithmetic>(state[c], code);
            }
        }
    }
    return WavAdpcmError::kNone;
}

}  // namespace

C_DVIADPCMCodec::~C_DVIADPCMCodec() = default;

int64_t C_DVIADPCMCodec::DecodeBlocks(const uint8_t* in, size_t inSize, int16_t* out, size_t outSize,
                                      const C_WavFileCodecInfo& codecInfo) {
    return DecodeAllBlocks(in, inSize, out, outSize, codecInfo, kWaveTagImaAdpcm, &ExpandBlock);
}

// Block layout: per channel a header of first sample (int16), step index
// (1 byte) and a reserved byte; then the sample groups.
WavAdpcmError C_DVIADPCMCodec::ExpandBlock(C_Buffer& block, size_t frames, const C_WavFileCodecInfo& info,
                                           WavAdpcmArithmetic arithmetic, int16_t* out) {
    const size_t channels = info.Channels();
    std::array<ImaChannel, 2> state{};
    for (size_t c = 0; c < channels; ++c) {
        int16_t first = 0;
        uint8_t index = 0;
        if (!block.ReadWord(first) || !block.ReadByte(index) || !block.Skip(1)) return WavAdpcmError::kBadBlockHeader;
        if (index > kMaxStepIndex) return WavAdpcmError::kBadBlockHeader;
        state[c].predictor = first;
        state[c].stepIndex = index;
        out[c] = first;
    }
    return arithmetic == WavAdpcmArithmetic::kReference
               ? ExpandGroups<WavAdpcmArithmetic::kReference>(block, frames, channels, state.data(), out)
               : ExpandGroups<WavAdpcmArithmetic::kExactProduct>(block, frames, channels, state.data(), out);
}

}  // namespace cz
