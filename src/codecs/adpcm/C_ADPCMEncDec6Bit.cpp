#include "codecs/adpcm/C_ADPCMEncDec6Bit.h"

#include <algorithm>
#include <array>
#include <limits>

namespace cz {

namespace {

// Index adjustment per five-bit magnitude: four sizes shrink fast, eight
// slowly, the rest grow in steps of two every four magnitudes.
constexpr std::array<int8_t, 32> kIndexAdjust6 = {
    -2, -2, -2, -2, -1, -1, -1, -1, -1, -1, -1, -1, 2, 2, 2, 2, 4, 4, 4, 4, 6, 6, 6, 6, 8, 8, 8, 8, 10, 10, 10, 10,
};

constexpr int32_t kStepCount6 = 64;

// At step index 0 (step 16) the smallest step is 1 and the zero codes do not
// move: from +1 one step down and three zero codes reach 0 on a four-code
// boundary; from -1 one step up.
constexpr std::array<uint8_t, 4> kEndingPlusOne6 = {33, 0, 0, 0};
constexpr std::array<uint8_t, 4> kEndingMinusOne6 = {1, 0, 0, 0};

uint32_t Saturate(uint64_t value) {
    return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

C_ADPCMEncDec6Bit::C_ADPCMEncDec6Bit() : C_ADPCMEncDec(12, 64) {
    auto steps = std::make_unique<int16_t[]>(kStepCount6);
    for (int32_t i = 0; i < kStepCount6; ++i)
        steps[static_cast<size_t>(i)] = static_cast<int16_t>(((8 + i % 8) << (i / 8)) + 8);
    SetStepTable(std::move(steps), kStepCount6);
    SetIndexTable(kIndexAdjust6.data());
    SetFlushEndings(kEndingPlusOne6.data(), kEndingMinusOne6.data());
    codeWidth_ = 6;
    codeMask_ = 63;
}

C_ADPCMEncDec6Bit::~C_ADPCMEncDec6Bit() = default;

uint32_t C_ADPCMEncDec6Bit::GetMaxEncodedSize(uint32_t sampleCount, uint32_t mode) {
    ResetEncoder(sampleCount, mode);
    uint64_t size = static_cast<uint64_t>(sampleCount) + (flushToSilence_ ? 264u : 8u);
    if (leadIn_) size += 6;
    return Saturate(size);
}

uint32_t C_ADPCMEncDec6Bit::GetMaxDecodedSize(uint32_t byteCount, uint32_t mode) {
    return Saturate(2ull * GetMaxEncodedSize(byteCount, mode));
}

void C_ADPCMEncDec6Bit::ResetEncoder(uint32_t sampleCount, uint32_t mode) {
    C_ADPCMEncDec::ResetEncoder(sampleCount, mode);
    codeWidth_ = 6;
    codeMask_ = 63;
}

void C_ADPCMEncDec6Bit::ResetDecoder() {
    C_ADPCMEncDec::ResetDecoder();
    codeWidth_ = 6;
    codeMask_ = 63;
}

int C_ADPCMEncDec6Bit::PutCode(uint8_t* out, uint32_t outSize, uint32_t codeIndex, uint8_t code) {
    lastPosition_ = codeIndex;
    if (!out || codeIndex >= outSize) return 0;
    out[codeIndex] = code & 63;
    return 1;
}

int C_ADPCMEncDec6Bit::GetCode(const uint8_t* in, uint32_t inSize, uint32_t codeIndex, uint8_t& code) {
    lastPosition_ = codeIndex;
    if (!in || codeIndex >= inSize) {
        code = 0;
        return 0;
    }
    code = in[codeIndex] & 63;
    return 1;
}

}  // namespace cz
