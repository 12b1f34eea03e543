#include "codecs/adpcm/C_NewADPCMEncDec.h"

#include <algorithm>
#include <array>
#include <limits>

#include "codecs/adpcm/AdpcmBlockEncoder.h"

namespace cz {

namespace {

// The IMA ADPCM index table, by magnitude.
constexpr std::array<int8_t, 8> kImaIndexAdjust = {-1, -1, -1, -1, 2, 4, 6, 8};

}  // namespace

C_NewADPCMEncDec::C_NewADPCMEncDec() : C_ADPCMEncDec(12, 64), searchWidth_(kAdpcmSearchWidth) {
    SetIndexTable(kImaIndexAdjust.data());
}

void C_NewADPCMEncDec::SetSearchWidth(int width) { searchWidth_ = std::clamp(width, 1, kAdpcmMaxSearchWidth); }

C_NewADPCMEncDec::~C_NewADPCMEncDec() = default;

uint32_t C_NewADPCMEncDec::GetMaxDecodedSize(uint32_t byteCount, uint32_t /*mode*/) {
    return static_cast<uint32_t>(std::min<uint64_t>(4ull * byteCount, std::numeric_limits<uint32_t>::max()));
}

void C_NewADPCMEncDec::SetStartState(uint16_t rawFirstSample, uint16_t startIndex) {
    int32_t value = rawFirstSample & 0xFFF;
    if (value & 0x800) value -= 0x1000;
    startValue_ = value;
    startIndex_ = static_cast<uint16_t>(std::min<int32_t>(startIndex, stepCount_ - 1));
}

void C_NewADPCMEncDec::ClearStartState() {
    startValue_ = 0;
    startIndex_ = 0;
}

void C_NewADPCMEncDec::ApplyStartState() {
    prediction_ = startValue_;
    stepIndex_ = startIndex_;
}

int32_t C_NewADPCMEncDec::Reconstruct(int32_t previous, uint8_t code, uint16_t& stepIndex) {
    const uint16_t index = std::min<uint16_t>(stepIndex, static_cast<uint16_t>(stepCount_ - 1));
    const int32_t step = steps_[index];
    int32_t diff = step >> 3;
    diff += (step * (code & 1)) >> 2;
    diff += (step * ((code >> 1) & 1)) >> 1;
    diff += step * ((code >> 2) & 1);
    if (code & 8) diff = -diff;
    stepIndex = static_cast<uint16_t>(std::clamp<int32_t>(index + indexAdjust_[code & 7], 0, stepCount_ - 1));
    return static_cast<int16_t>(static_cast<uint16_t>(previous + diff));
}

uint32_t C_NewADPCMEncDec::Encode(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                                  uint32_t mode, I_ProgressCallback* progress) {
    ResetEncoder(sampleCount, mode);
    ApplyStartState();
    return EncodeStream(sampleCount, samples, out, outSize, progress);
}

uint32_t C_NewADPCMEncDec::EncodeSamples(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                                         uint32_t n, C_Progress& report) {
    const S_AdpcmBlockTables tables{steps_.get(), stepCount_, indexAdjust_, minimum_, maximum_};
    std::array<int16_t, kAdpcmBlockSamples> chunk{};
    std::array<uint8_t, kAdpcmBlockSamples> codes{};
    std::array<uint8_t, kAdpcmBlockSamples> indices{};
    for (uint32_t first = 0; first < sampleCount; first += kAdpcmBlockSamples) {
        const uint32_t count = std::min(kAdpcmBlockSamples, sampleCount - first);
        for (uint32_t i = 0; i < count; ++i)
            chunk[i] = static_cast<int16_t>(std::min<int32_t>(samples[first + i], fullRange_) - offset_);
        // A start value outside the sample range is brought inside first, so
        // that every code has an in-range reconstruction.
        S_AdpcmBlockState state{std::clamp(prediction_, minimum_, maximum_), stepIndex_, patternState_};
        // The search efforts widen the trellis; classic and fast keep the set width.
        const int width = effort_ == AdpcmEffort::kHigh  ? std::max(searchWidth_, 16)
                          : effort_ == AdpcmEffort::kMax ? kAdpcmMaxSearchWidth
                                                         : searchWidth_;
        EncodeAdpcmBlock(chunk.data(), count, tables, state, codes.data(), indices.data(), width);
        prediction_ = state.prediction;
        stepIndex_ = state.stepIndex;
        patternState_ = state.patternState;
        for (uint32_t i = 0; i < count; ++i, ++n) {
            RecordTrace(n, indices[i]);
            if (!PutCode(out, outSize, n, codes[i])) return kFailed;
            report.Step();
        }
    }
    return n;
}

uint32_t C_NewADPCMEncDec::Decode(const uint8_t* in, uint32_t inSize, uint16_t* out, uint32_t outBytes,
                                  I_ProgressCallback* progress) {
    ResetDecoder();
    ApplyStartState();
    const uint64_t capacity = out ? outBytes / 2 : 0;
    const uint64_t available = in ? 2ull * inSize : 0;
    const uint64_t total = std::min(capacity, available);
    C_Progress report(progress,
                      static_cast<uint32_t>(std::min<uint64_t>(available, std::numeric_limits<uint32_t>::max())));
    std::array<uint8_t, kAdpcmBlockSamples> codes{};
    uint64_t produced = 0;
    while (produced < total) {
        const auto count = static_cast<uint32_t>(std::min<uint64_t>(kAdpcmBlockSamples, total - produced));
        // Unpack the chunk, high nibble first.
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t index = produced + i;
            const uint8_t byte = in[index / 2];
            codes[i] = (index & 1) == 0 ? static_cast<uint8_t>(byte >> 4) : static_cast<uint8_t>(byte & 15);
        }
        for (uint32_t i = 0; i < count; ++i) {
            prediction_ = Reconstruct(prediction_, codes[i], stepIndex_);
            out[produced + i] = static_cast<uint16_t>(std::clamp(prediction_ + offset_, 0, fullRange_));
            report.Step();
        }
        produced += count;
    }
    report.Finish();
    return static_cast<uint32_t>(produced * 2);
}

}  // namespace cz
