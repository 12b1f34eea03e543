// Helpers shared by the chip ADPCM tests: an independent reference
// decoder and small stream utilities.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "support/Signals.h"

namespace cz::test {

// Unpacks 4-bit codes, high nibble first.
inline std::vector<uint8_t> Nibbles(const std::vector<uint8_t>& bytes, size_t byteCount) {
    std::vector<uint8_t> codes;
    for (size_t i = 0; i < byteCount; ++i) {
        codes.push_back(static_cast<uint8_t>(bytes[i] >> 4));
        codes.push_back(static_cast<uint8_t>(bytes[i] & 15));
    }
    return codes;
}

// The 4-bit decoder written out from the coding rules, without clamping the
// running value, so a test can see whether the encoder ever relied on a clamp.
struct ReferenceDecoder4 {
    int32_t value = 0;
    int32_t index = 0;
    int32_t stepCount = 64;

    static int32_t Step(int32_t i) { return (8 + i % 8) << (i / 8); }
    int32_t Next(uint8_t code) {
        static constexpr int kAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
        int32_t step = Step(index);
        int32_t sum = step >> 3;
        if (code & 4) sum += step;
        if (code & 2) sum += step >> 1;
        if (code & 1) sum += step >> 2;
        value += (code & 8) ? -sum : sum;
        index = std::clamp(index + kAdjust[code & 7], 0, stepCount - 1);
        return value;
    }
};

// True when the codes hold 15, 0, 15, 0 (all bits, zero, all bits, zero) in a row.
inline bool HasGuardPattern(const std::vector<uint8_t>& codes, uint8_t mask) {
    for (size_t i = 0; i + 3 < codes.size(); ++i)
        if (codes[i] == mask && codes[i + 1] == 0 && codes[i + 2] == mask && codes[i + 3] == 0) return true;
    return false;
}

// The step-index trace of the coder's last encode.
inline std::vector<uint8_t> Trace(C_ADPCMEncDec& coder) {
    const uint8_t* trace = coder.GetStepIndexTrace();
    return {trace, trace + coder.GetStepIndexTraceSize()};
}

// Encodes with a buffer sized by GetMaxEncodedSize; returns the used bytes.
inline std::vector<uint8_t> EncodeAll(C_ADPCMEncDec& coder, const std::vector<uint16_t>& samples, uint32_t mode) {
    std::vector<uint8_t> out(coder.GetMaxEncodedSize(static_cast<uint32_t>(samples.size()), mode));
    uint32_t used = coder.Encode(static_cast<uint32_t>(samples.size()), samples.data(), out.data(),
                                 static_cast<uint32_t>(out.size()), mode, nullptr);
    out.resize(used);
    return out;
}

// Decodes a whole stream with a buffer of GetDecodedBufferSize.
inline std::vector<uint16_t> DecodeAll(C_ADPCMEncDec& coder, const std::vector<uint8_t>& bytes) {
    std::vector<uint16_t> out(coder.GetDecodedBufferSize(static_cast<uint32_t>(bytes.size())) / 2);
    uint32_t written = coder.Decode(bytes.data(), static_cast<uint32_t>(bytes.size()), out.data(),
                                    static_cast<uint32_t>(out.size() * 2), nullptr);
    out.resize(written / 2);
    return out;
}

}  // namespace cz::test
