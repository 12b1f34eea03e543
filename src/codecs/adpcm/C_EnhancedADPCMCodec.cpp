#include "codecs/adpcm/C_EnhancedADPCMCodec.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace cz {

const std::array<std::array<int8_t, 8>, 4> C_EnhancedADPCMCodec::kIndexTables = {{
    {-1, -1, -1, -1, 2, 4, 6, 8},
    {-2, -2, -2, -2, 5, 7, 9, 11},
    {-1, -1, -1, -1, 4, 6, 8, 10},
    {-2, -2, -2, -2, 2, 4, 8, 10},
}};

C_EnhancedADPCMCodec::C_EnhancedADPCMCodec(uint8_t sampleWidth, uint32_t limitSteps, uint32_t searchTables)
    : C_ADPCMEncDec(sampleWidth, 64), limitSteps_(limitSteps), searchTables_(searchTables) {}

C_EnhancedADPCMCodec::~C_EnhancedADPCMCodec() = default;

uint32_t C_EnhancedADPCMCodec::GetMaxEncodedSize(uint32_t sampleCount, uint32_t mode) {
    ResetEncoder(sampleCount, mode);
    const uint64_t blocks = sampleCount / kBlockSamples;
    const uint64_t rest = sampleCount % kBlockSamples;
    uint64_t size = blocks * kBlockBound;
    if (rest != 0) {
        const uint64_t started = (rest - 1 + kSubBlockCodes - 1) / kSubBlockCodes;
        size += 2 + 65 * started + 2 + rest;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(size, std::numeric_limits<uint32_t>::max()));
}

void C_EnhancedADPCMCodec::ResetEncoder(uint32_t sampleCount, uint32_t mode) {
    C_ADPCMEncDec::ResetEncoder(sampleCount, mode);
    UseSubBlock(static_cast<uint8_t>(stepCount_ - 1), 0);
}

void C_EnhancedADPCMCodec::ResetDecoder() {
    C_ADPCMEncDec::ResetDecoder();
    UseSubBlock(static_cast<uint8_t>(stepCount_ - 1), 0);
}

void C_EnhancedADPCMCodec::UseSubBlock(uint8_t highestIndex, uint8_t table) {
    SetIndexTable(kIndexTables[table & 3].data());
    SetIndexLimit(highestIndex);
}

uint8_t C_EnhancedADPCMCodec::SubBlockHeader(uint8_t highestIndex, uint8_t table) const {
    return static_cast<uint8_t>((highestIndex & 63) << 2 | (table & 3));
}

uint8_t C_EnhancedADPCMCodec::HighestStepIndex(const uint16_t* samples, uint32_t count, uint16_t previous) const {
    if (!limitSteps_) return static_cast<uint8_t>(stepCount_ - 1);
    int32_t peak = 0;
    int32_t before = previous;
    for (uint32_t k = 0; k < count; ++k) {
        peak = std::max(peak, std::abs(static_cast<int32_t>(samples[k]) - before));
        before = samples[k];
    }
    for (int32_t i = std::min(61, stepCount_ - 1); i >= 0; --i)
        if (2 * GetStepSize(i) < peak) return static_cast<uint8_t>(std::min(i + 2, stepCount_ - 1));
    return 1;
}

uint16_t C_EnhancedADPCMCodec::RoundFirstSample(uint16_t sample) const {
    int32_t value = std::min<int32_t>(sample, fullRange_) - offset_;
    if (sampleWidth_ > 10) {
        const int32_t unit = 1 << (sampleWidth_ - 10);
        value = value / unit * unit;  // toward zero
    }
    return static_cast<uint16_t>(value + offset_);
}

void C_EnhancedADPCMCodec::BuildCodeTables() {
    stepSums_.resize(static_cast<size_t>(stepCount_) * 16);
    for (int32_t index = 0; index < stepCount_; ++index)
        for (uint32_t code = 0; code < 16; ++code)
            stepSums_[static_cast<size_t>(index) * 16 + code] =
                StepSum(static_cast<uint8_t>(code), static_cast<uint16_t>(index));
    const uint16_t pattern = patternState_;
    for (uint16_t state = 0; state < 4; ++state) {
        patternState_ = state;
        for (uint32_t code = 0; code < 16; ++code)
            patternNext_[state * 16u + code] = static_cast<uint8_t>(NextPatternState(static_cast<uint8_t>(code)));
    }
    patternState_ = pattern;
}

int64_t C_EnhancedADPCMCodec::CodeSubBlock(const uint16_t* samples, uint32_t count, uint8_t table,
                                           std::vector<uint8_t>& codes, std::vector<uint8_t>& indices, int64_t bound) {
    SetIndexTable(kIndexTables[table & 3].data());
    int64_t error = 0;
    if (codeWidth_ != 4 || stepSums_.size() != static_cast<size_t>(stepCount_) * 16) {
        for (uint32_t k = 0; k < count; ++k) {
            codes.push_back(EncodeSample(samples[k]));
            indices.push_back(static_cast<uint8_t>(stepIndex_));
            const int64_t e = static_cast<int64_t>(prediction_) - (std::min<int32_t>(samples[k], fullRange_) - offset_);
            error += e * e;
            if (error >= bound) break;
        }
        return error;
    }
    // EncodeSample's rules for 4-bit codes, inlined: the quantisation free
    // of branches, the step sums and the guard's states from the tables;
    // the rare codes that need lowering or the fallback take the full rules.
    const int16_t* steps = steps_.get();
    const int32_t* sums = stepSums_.data();
    const int8_t* adjust = kIndexTables[table & 3].data();
    const int32_t highest = std::max(0, std::min(stepCount_ - 1, indexLimit_));
    int32_t prediction = prediction_;
    int32_t index = stepIndex_;
    uint32_t pattern = patternState_;
    const size_t codesStart = codes.size(), indicesStart = indices.size();
    codes.resize(codesStart + count);
    indices.resize(indicesStart + count);
    uint8_t* codeOut = codes.data() + codesStart;
    uint8_t* indexOut = indices.data() + indicesStart;
    uint32_t k = 0;
    while (k < count) {
        const int32_t target = std::min<int32_t>(samples[k], fullRange_) - offset_;
        const int32_t d = target - prediction;
        const int32_t negative = d >> 31;  // 0 or -1
        int32_t magnitude = (d ^ negative) - negative;
        const int32_t step = steps[index];
        const int32_t bit2 = step < magnitude;
        magnitude -= step & -bit2;
        const int32_t bit1 = (step >> 1) < magnitude;
        magnitude -= (step >> 1) & -bit1;
        const int32_t bit0 = (step >> 2) < magnitude;
        uint32_t code = static_cast<uint32_t>((negative & 8) | (bit2 << 2) | (bit1 << 1) | bit0);
        const int32_t value = prediction + sums[index * 16 + static_cast<int32_t>(code)];
        if (value < minimum_ || value > maximum_ || (pattern == 3 && code == 0)) {
            prediction_ = prediction;
            stepIndex_ = static_cast<uint16_t>(index);
            patternState_ = static_cast<uint16_t>(pattern);
            code = EncodeSample(samples[k]);
            prediction = prediction_;
            index = stepIndex_;
            pattern = patternState_;
        } else {
            pattern = patternNext_[pattern * 16 + code];
            index = std::clamp(index + adjust[code & 7], 0, highest);
            prediction = value;
        }
        codeOut[k] = static_cast<uint8_t>(code);
        indexOut[k] = static_cast<uint8_t>(index);
        ++k;
        const int64_t e = static_cast<int64_t>(prediction) - target;
        error += e * e;
        if (error >= bound) break;
    }
    codes.resize(codesStart + k);
    indices.resize(indicesStart + k);
    prediction_ = prediction;
    stepIndex_ = static_cast<uint16_t>(index);
    patternState_ = static_cast<uint16_t>(pattern);
    return error;
}

uint32_t C_EnhancedADPCMCodec::Encode(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                                      uint32_t mode, I_ProgressCallback* progress) {
    ResetEncoder(sampleCount, mode);
    fallbackCount_ = 0;
    AllocateTrace(sampleCount);
    C_Progress report(progress, sampleCount);
    auto fail = [&]() -> uint32_t {
        if (progress) progress->OnEnd();
        return 0;
    };
    if (!samples || !out || sampleCount == 0) return fail();

    BuildCodeTables();
    std::vector<uint8_t> codes, indices, bestCodes, bestIndices;
    uint64_t pos = 0;
    uint32_t i = 0;
    while (i < sampleCount) {
        // The block's stored first sample.
        if (pos + 2 > outSize) return fail();
        const uint16_t first = RoundFirstSample(samples[i]);
        out[pos] = static_cast<uint8_t>(first);
        out[pos + 1] = static_cast<uint8_t>(first >> 8);
        pos += 2;
        prediction_ = first - offset_;
        stepIndex_ = 0;
        patternState_ = 0;
        RecordTrace(i, 0);
        report.Step();
        ++i;
        for (uint32_t sub = 0; sub < kSubBlocks && i < sampleCount; ++sub) {
            const uint32_t n = std::min(kSubBlockCodes, sampleCount - i);
            const uint8_t highest = HighestStepIndex(samples + i, n, samples[i - 1]);
            SetIndexLimit(highest);
            const int32_t startPrediction = prediction_;
            const uint16_t startIndex = stepIndex_, startPattern = patternState_;
            int64_t bestError = std::numeric_limits<int64_t>::max();
            uint8_t bestTable = 0;
            int32_t endPrediction = 0;
            uint16_t endIndex = 0, endPattern = 0;
            const uint8_t tables = searchTables_ ? 4 : 1;
            for (uint8_t t = 0; t < tables; ++t) {
                prediction_ = startPrediction;
                stepIndex_ = startIndex;
                patternState_ = startPattern;
                codes.clear();
                indices.clear();
                const int64_t error = CodeSubBlock(samples + i, n, t, codes, indices, bestError);
                if (error < bestError) {
                    bestError = error;
                    bestTable = t;
                    bestCodes.swap(codes);
                    bestIndices.swap(indices);
                    endPrediction = prediction_;
                    endIndex = stepIndex_;
                    endPattern = patternState_;
                }
            }
            prediction_ = endPrediction;
            stepIndex_ = endIndex;
            patternState_ = endPattern;
            SetIndexTable(kIndexTables[bestTable].data());

            const uint64_t bytes = 1 + (n + 1) / 2;
            if (pos + bytes > outSize) return fail();
            out[pos++] = SubBlockHeader(highest, bestTable);
            for (uint32_t k = 0; k < n; ++k) {
                if (k % 2 == 0)
                    out[pos + k / 2] = static_cast<uint8_t>(bestCodes[k] << 4);
                else
                    out[pos + k / 2] = static_cast<uint8_t>(out[pos + k / 2] | (bestCodes[k] & 15));
                RecordTrace(i + k, bestIndices[k]);
                report.Step();
            }
            pos += (n + 1) / 2;
            i += n;
        }
    }
    lastPosition_ = static_cast<uint32_t>(pos - 1);
    report.Finish();
    return static_cast<uint32_t>(pos);
}

uint32_t C_EnhancedADPCMCodec::Decode(const uint8_t* in, uint32_t inSize, uint16_t* out, uint32_t outBytes,
                                      I_ProgressCallback* progress) {
    ResetDecoder();
    const uint32_t capacity = out && in ? outBytes / 2 : 0;
    C_Progress report(progress, capacity);
    uint32_t produced = 0;
    uint64_t pos = 0;
    bool ended = false;
    while (!ended && produced < capacity && pos + 2 <= inSize) {
        const int32_t word = in[pos] | in[pos + 1] << 8;
        pos += 2;
        prediction_ = std::clamp(word - offset_, minimum_, maximum_);
        stepIndex_ = 0;
        out[produced++] = ToWord(prediction_);
        report.Step();
        for (uint32_t sub = 0; sub < kSubBlocks && produced < capacity; ++sub) {
            if (pos >= inSize) {
                ended = true;
                break;
            }
            const uint8_t header = in[pos++];
            UseSubBlock(static_cast<uint8_t>(header >> 2), static_cast<uint8_t>(header & 3));
            uint32_t k = 0;
            for (; k < kSubBlockCodes && produced < capacity; ++k) {
                const uint64_t at = pos + k / 2;
                if (at >= inSize) {
                    ended = true;
                    break;
                }
                const uint8_t code =
                    (k % 2 == 0) ? static_cast<uint8_t>(in[at] >> 4) : static_cast<uint8_t>(in[at] & 15);
                prediction_ = Reconstruct(prediction_, code, stepIndex_);
                out[produced++] = ToWord(prediction_);
                report.Step();
            }
            pos += (k + 1) / 2;
        }
    }
    report.Finish();
    return produced * 2;
}

}  // namespace cz
