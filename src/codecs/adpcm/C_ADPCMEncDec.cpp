#include "codecs/adpcm/C_ADPCMEncDec.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <typeinfo>
#include <vector>

#include "codecs/adpcm/AdpcmBeamEncoder.h"
#include "codecs/adpcm/AdpcmBlockEncoder.h"

namespace cz {

namespace {

// Index adjustment per magnitude (the IMA ADPCM index table): small codes
// shrink the step, large ones grow it.
constexpr std::array<int8_t, 8> kIndexAdjust = {-1, -1, -1, -1, 2, 4, 6, 8};

// Tail endings at step index 0: from +1 (or -1) these four codes come back to
// exactly 0 (+1: +9 to 10, -6 to 4, -3 to 1, -1 to 0).
constexpr std::array<uint8_t, 4> kEndingPlusOne = {4, 10, 9, 8};
constexpr std::array<uint8_t, 4> kEndingMinusOne = {12, 2, 1, 0};

uint32_t Saturate(uint64_t value) {
    return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

C_ADPCMEncDec::C_Progress::C_Progress(I_ProgressCallback* callback, uint32_t total) : callback_(callback) {
    if (!callback_) return;
    increment_ = total ? 100.0 / total : 0.0;
    callback_->OnBegin();
}

void C_ADPCMEncDec::C_Progress::Finish() {
    if (!callback_) return;
    callback_->OnProgress(100);
    callback_->OnEnd();
    callback_ = nullptr;
}

C_ADPCMEncDec::C_ADPCMEncDec(uint8_t sampleWidth, int32_t stepCount)
    : sampleWidth_(std::clamp<uint8_t>(sampleWidth, 4, 16)),
      offset_(1 << (sampleWidth_ - 1)),
      fullRange_((1 << sampleWidth_) - 1),
      maximum_((1 << (sampleWidth_ - 1)) - 1),
      minimum_(-(1 << (sampleWidth_ - 1))),
      indexAdjust_(kIndexAdjust.data()),
      stepCount_(std::clamp<int32_t>(stepCount, 1, 64)),
      endingPlus_(kEndingPlusOne.data()),
      endingMinus_(kEndingMinusOne.data()) {
    // Entry i is (8 + i mod 8) << (i div 8) in 16-bit arithmetic, scaled to
    // the sample width (12-bit samples are the reference).
    steps_ = std::make_unique<int16_t[]>(static_cast<size_t>(stepCount_));
    for (int32_t i = 0; i < stepCount_; ++i) {
        auto step = static_cast<int16_t>((8 + i % 8) << (i / 8));
        if (sampleWidth_ > 12)
            step = static_cast<int16_t>(step << (sampleWidth_ - 12));
        else if (sampleWidth_ < 12)
            step = static_cast<int16_t>(step >> (12 - sampleWidth_));
        steps_[static_cast<size_t>(i)] = step;
    }
}

C_ADPCMEncDec::~C_ADPCMEncDec() = default;

void C_ADPCMEncDec::SetStepTable(std::unique_ptr<int16_t[]> steps, int32_t count) {
    steps_ = std::move(steps);
    stepCount_ = count;
}

int32_t C_ADPCMEncDec::GetStepSize(int32_t index) const {
    if (index < 0 || index >= stepCount_) return 0;
    return steps_[static_cast<size_t>(index)];
}

uint32_t C_ADPCMEncDec::GetMaxEncodedSize(uint32_t sampleCount, uint32_t mode) {
    ResetEncoder(sampleCount, mode);
    uint64_t size = sampleCount / 2 + (flushToSilence_ ? 132u : 4u);
    if (leadIn_) size += 3;
    return Saturate(size);
}

uint32_t C_ADPCMEncDec::GetMaxDecodedSize(uint32_t byteCount, uint32_t mode) {
    return Saturate(4ull * GetMaxEncodedSize(byteCount, mode));
}

uint32_t C_ADPCMEncDec::GetDecodedBufferSize(uint32_t byteCount) { return Saturate(2ull * CodesPerByte() * byteCount); }

void C_ADPCMEncDec::ResetEncoder(uint32_t /*sampleCount*/, uint32_t mode) {
    lastPosition_ = 0;
    stepIndex_ = 0;
    prediction_ = 0;
    patternState_ = 0;
    codeWidth_ = 4;
    codeMask_ = 15;
    if (mode == kAdpcmFlushMode4) {
        modeFour_ = 1;
        flushToSilence_ = 1;
        leadIn_ = 0;
    } else {
        modeFour_ = 0;
        flushToSilence_ = (mode & kAdpcmPadOnlyBit) == 0 ? 1 : 0;
        leadIn_ = (mode & kAdpcmLeadInBit) != 0 ? 1 : 0;
    }
}

void C_ADPCMEncDec::ResetDecoder() {
    codeWidth_ = 4;
    codeMask_ = 15;
    stepIndex_ = 0;
    prediction_ = 0;
}

int C_ADPCMEncDec::PutCode(uint8_t* out, uint32_t outSize, uint32_t codeIndex, uint8_t code) {
    uint32_t position = codeIndex / 2;
    lastPosition_ = position;
    if (!out || position >= outSize) return 0;
    if ((codeIndex & 1) == 0)
        out[position] = static_cast<uint8_t>((code & 15) << 4);
    else
        out[position] = static_cast<uint8_t>(out[position] | (code & 15));
    return 1;
}

int C_ADPCMEncDec::GetCode(const uint8_t* in, uint32_t inSize, uint32_t codeIndex, uint8_t& code) {
    uint32_t position = codeIndex / 2;
    lastPosition_ = position;
    if (!in || position >= inSize) {
        code = 0;
        return 0;
    }
    code = (codeIndex & 1) == 0 ? static_cast<uint8_t>(in[position] >> 4) : static_cast<uint8_t>(in[position] & 15);
    return 1;
}

uint8_t C_ADPCMEncDec::Quantize(int32_t difference, uint16_t stepIndex) {
    int32_t step = steps_[std::min<size_t>(stepIndex, static_cast<size_t>(stepCount_ - 1))];
    uint32_t probe = 1u << (codeWidth_ - 2);
    uint32_t code = 0;
    int64_t d = difference;
    if (d < 0) {
        code = 1u << (codeWidth_ - 1);
        d = -d;
    }
    for (int i = 1; i < codeWidth_; ++i) {
        if (step < d) {
            d -= step;
            code |= probe;
        }
        probe >>= 1;
        step >>= 1;
    }
    return static_cast<uint8_t>(code);
}

int32_t C_ADPCMEncDec::StepSum(uint8_t code, uint16_t stepIndex) const {
    int32_t step = steps_[std::min<size_t>(stepIndex, static_cast<size_t>(stepCount_ - 1))];
    uint32_t probe = 1u << (codeWidth_ - 2);
    int32_t sum = 0;
    for (int i = 1; i < codeWidth_; ++i) {
        if (code & probe) sum += step;
        probe >>= 1;
        step >>= 1;
    }
    sum += step;  // the remaining fraction: every code moves the value
    return (code & (1u << (codeWidth_ - 1))) ? -sum : sum;
}

uint16_t C_ADPCMEncDec::NextIndex(uint16_t stepIndex, uint8_t code) const {
    int32_t index = stepIndex + indexAdjust_[code & (codeMask_ >> 1)];
    return static_cast<uint16_t>(std::clamp(index, 0, std::max(0, std::min(stepCount_ - 1, indexLimit_))));
}

int32_t C_ADPCMEncDec::Reconstruct(int32_t previous, uint8_t code, uint16_t& stepIndex) {
    int32_t sum = StepSum(code, stepIndex);
    stepIndex = NextIndex(stepIndex, code);
    return std::clamp(previous + sum, minimum_, maximum_);
}

uint16_t C_ADPCMEncDec::NextPatternState(uint8_t code) const {
    // Tracks how much of 15, 0, 15, 0 (all bits, zero, all bits, zero) the
    // stream ends with. A full code always restarts the match at 1, so that
    // 15, 15, 0, 15, 0 is caught as well.
    uint8_t value = code & codeMask_;
    if (value == codeMask_) return (patternState_ == 0 || patternState_ == 2) ? patternState_ + 1 : 1;
    if (value == 0 && patternState_ == 1) return 2;
    return 0;
}

uint16_t C_ADPCMEncDec::ToWord(int32_t prediction) const {
    return static_cast<uint16_t>(std::clamp(offset_ + prediction, 0, fullRange_));
}

uint8_t C_ADPCMEncDec::EncodeSample(uint16_t sample) {
    const int32_t target = std::min<int32_t>(sample, fullRange_) - offset_;
    const uint8_t signBit = static_cast<uint8_t>(1u << (codeWidth_ - 1));
    const uint8_t magnitudeMask = static_cast<uint8_t>(codeMask_ >> 1);
    // The guard checks the reconstruction before any clamping: a code is
    // acceptable when prediction + step sum stays in range and it does not
    // complete 15, 0, 15, 0.
    auto acceptable = [&](uint8_t code, int32_t value) {
        return value >= minimum_ && value <= maximum_ && !(patternState_ == 3 && (code & codeMask_) == 0);
    };

    uint8_t code = Quantize(target - prediction_, stepIndex_);
    int32_t value = prediction_ + StepSum(code, stepIndex_);
    while (!acceptable(code, value)) {
        uint8_t magnitude = code & magnitudeMask;
        if (magnitude == 0) {
            code ^= signBit;
            value = prediction_ + StepSum(code, stepIndex_);
            break;
        }
        --magnitude;
        code = static_cast<uint8_t>((code & signBit) | magnitude);
        value = prediction_ + StepSum(code, stepIndex_);
        if (magnitude < codeWidth_ / 2) break;
    }
    if (!acceptable(code, value)) {
        // The lowering rules found nothing: take the acceptable code whose
        // reconstruction is nearest the sample. One always exists (the
        // smallest step up or down stays in range, and only one of the two
        // zero codes can be barred).
        ++fallbackCount_;
        int64_t bestError = std::numeric_limits<int64_t>::max();
        for (uint32_t candidate = 0; candidate <= codeMask_; ++candidate) {
            auto c = static_cast<uint8_t>(candidate);
            int32_t v = prediction_ + StepSum(c, stepIndex_);
            if (!acceptable(c, v)) continue;
            int64_t error = std::llabs(static_cast<int64_t>(v) - target);
            if (error < bestError) {
                bestError = error;
                code = c;
                value = v;
            }
        }
    }
    patternState_ = NextPatternState(code);
    stepIndex_ = NextIndex(stepIndex_, code);
    prediction_ = value;
    return code;
}

void C_ADPCMEncDec::AllocateTrace(uint32_t codes) {
    trace_ = std::make_unique_for_overwrite<uint8_t[]>(codes ? codes : 1);
    traceCapacity_ = codes;
    traceCount_ = 0;
}

void C_ADPCMEncDec::RecordTrace(uint32_t codeIndex, uint16_t stepIndex) {
    if (codeIndex >= traceCapacity_) return;
    trace_[codeIndex] = static_cast<uint8_t>(stepIndex);
    traceCount_ = codeIndex + 1;
}

const uint8_t* C_ADPCMEncDec::GetStepIndexTrace() { return trace_.get(); }

uint32_t C_ADPCMEncDec::Encode(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                               uint32_t mode, I_ProgressCallback* progress) {
    ResetEncoder(sampleCount, mode);
    return EncodeStream(sampleCount, samples, out, outSize, progress);
}

uint32_t C_ADPCMEncDec::EncodeStream(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                                     I_ProgressCallback* progress) {
    fallbackCount_ = 0;
    AllocateTrace(Saturate(2ull * outSize));
    C_Progress report(progress, sampleCount);
    auto fail = [&]() -> uint32_t {
        if (progress) progress->OnEnd();
        return 0;
    };
    if (!samples && sampleCount) return fail();

    uint32_t n = 0;
    if (leadIn_) {
        for (uint32_t i = 0; i < kLeadInCodes; ++i, ++n) {
            uint8_t code = EncodeSample(static_cast<uint16_t>(fullRange_));
            RecordTrace(n, stepIndex_);
            if (!PutCode(out, outSize, n, code)) return fail();
        }
    }
    n = EncodeSamples(sampleCount, samples, out, outSize, n, report);
    if (n == kFailed) return fail();
    std::array<uint8_t, kMaxTailCodes> tail{};
    uint32_t tailCount = Flush(tail.data(), n);
    if (tailCount == 0 && flushExhausted_) return fail();
    for (uint32_t i = 0; i < tailCount; ++i, ++n)
        if (!PutCode(out, outSize, n, tail[i])) return fail();
    report.Finish();
    // An empty stream has no byte to count.
    return n ? lastPosition_ + 1 : 0;
}

bool C_ADPCMEncDec::Searches() const {
    return effort_ != AdpcmEffort::kClassic && typeid(*this) == typeid(C_ADPCMEncDec) && codeWidth_ == 4 &&
           indexLimit_ >= stepCount_ - 1;
}

uint32_t C_ADPCMEncDec::EncodeSamplesSearch(uint32_t sampleCount, const uint16_t* samples, uint8_t* out,
                                            uint32_t outSize, uint32_t n, C_Progress& report) {
    const S_AdpcmBlockTables tables{steps_.get(), stepCount_, indexAdjust_, minimum_, maximum_};
    const uint32_t chunkSize = effort_ == AdpcmEffort::kMax ? kAdpcmBeamRun : kAdpcmBlockSamples;
    std::vector<int16_t> chunk(chunkSize);
    std::vector<uint8_t> codes(chunkSize), indices(chunkSize);
    for (uint32_t first = 0; first < sampleCount; first += chunkSize) {
        const uint32_t count = std::min(chunkSize, sampleCount - first);
        for (uint32_t i = 0; i < count; ++i)
            chunk[i] = static_cast<int16_t>(std::min<int32_t>(samples[first + i], fullRange_) - offset_);
        S_AdpcmBlockState state{std::clamp(prediction_, minimum_, maximum_), stepIndex_, patternState_};
        switch (effort_) {
            case AdpcmEffort::kFast:
                EncodeAdpcmBlock(chunk.data(), count, tables, state, codes.data(), indices.data(), kAdpcmFastWidth);
                break;
            case AdpcmEffort::kHigh:
                EncodeAdpcmBlock(chunk.data(), count, tables, state, codes.data(), indices.data(), kAdpcmHighWidth);
                break;
            default:
                if (!EncodeAdpcmBeam(chunk.data(), count, tables, state, codes.data(), indices.data(), kAdpcmMaxPerIndexSetting,
                                     kAdpcmMaxSpread))
                    return kFailed;
                break;
        }
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

uint32_t C_ADPCMEncDec::EncodeSamples(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                                      uint32_t n, C_Progress& report) {
    if (Searches()) return EncodeSamplesSearch(sampleCount, samples, out, outSize, n, report);
    if (typeid(*this) == typeid(C_ADPCMEncDec) && codeWidth_ == 4)
        return EncodeSamplesFast(sampleCount, samples, out, outSize, n, report);
    for (uint32_t i = 0; i < sampleCount; ++i, ++n) {
        uint8_t code = EncodeSample(samples[i]);
        RecordTrace(n, stepIndex_);
        if (!PutCode(out, outSize, n, code)) return kFailed;
        report.Step();
    }
    return n;
}

uint32_t C_ADPCMEncDec::EncodeSamplesFast(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                                          uint32_t n, C_Progress& report) {
    // Per step index: the signed step sum and the next index of each code.
    std::array<int16_t, 64 * 16> sums;
    std::array<uint8_t, 64 * 16> next;
    for (int32_t index = 0; index < stepCount_; ++index) {
        for (uint32_t code = 0; code < 16; ++code) {
            const auto i = static_cast<size_t>(index * 16) + code;
            sums[i] = static_cast<int16_t>(StepSum(static_cast<uint8_t>(code), static_cast<uint16_t>(index)));
            next[i] = static_cast<uint8_t>(NextIndex(static_cast<uint16_t>(index), static_cast<uint8_t>(code)));
        }
    }
    const uint16_t startPattern = patternState_;
    std::array<uint8_t, 4 * 16> patternNext;
    for (uint16_t state = 0; state < 4; ++state) {
        patternState_ = state;
        for (uint32_t code = 0; code < 16; ++code)
            patternNext[state * 16u + code] = static_cast<uint8_t>(NextPatternState(static_cast<uint8_t>(code)));
    }
    const int16_t* steps = steps_.get();
    int32_t prediction = prediction_;
    uint32_t index = stepIndex_;
    patternState_ = startPattern;
    uint32_t pattern = patternState_;
    for (uint32_t i = 0; i < sampleCount; ++i, ++n) {
        const int32_t target = std::min<int32_t>(samples[i], fullRange_) - offset_;
        // Quantize, unrolled for three magnitude bits and free of branches.
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
        const int32_t value = prediction + sums[index * 16 + code];
        if (value < minimum_ || value > maximum_ || (pattern == 3 && code == 0)) {
            // The rare lowering and fallback cases take the full rules.
            prediction_ = prediction;
            stepIndex_ = static_cast<uint16_t>(index);
            patternState_ = static_cast<uint16_t>(pattern);
            code = EncodeSample(samples[i]);
            prediction = prediction_;
            index = stepIndex_;
            pattern = patternState_;
        } else {
            pattern = patternNext[pattern * 16 + code];
            index = next[index * 16 + code];
            prediction = value;
        }
        const uint32_t position = n / 2;
        lastPosition_ = position;
        if (position >= outSize || !out) return kFailed;
        if (n < traceCapacity_) {
            trace_[n] = static_cast<uint8_t>(index);
            traceCount_ = n + 1;
        }
        if ((n & 1) == 0)
            out[position] = static_cast<uint8_t>(code << 4);
        else
            out[position] = static_cast<uint8_t>(out[position] | code);
        report.Step();
    }
    prediction_ = prediction;
    stepIndex_ = static_cast<uint16_t>(index);
    patternState_ = static_cast<uint16_t>(pattern);
    return n;
}

uint32_t C_ADPCMEncDec::EncodeRange(const uint16_t* samples, uint32_t /*ignored*/, uint32_t first, uint32_t count,
                                    uint8_t* out, uint32_t outSize, uint32_t mode, I_ProgressCallback* progress) {
    return Encode(count, samples ? samples + first : nullptr, out, outSize, mode, progress);
}

uint32_t C_ADPCMEncDec::Flush(uint8_t* tailCodes, uint32_t codeCount) {
    flushExhausted_ = false;
    uint32_t n = codeCount;
    if (n % 4 == 0 && (!flushToSilence_ || (stepIndex_ == 0 && prediction_ == 0))) return 0;
    const uint8_t signBit = static_cast<uint8_t>(1u << (codeWidth_ - 1));
    uint32_t count = 0;
    auto append = [&](uint8_t code) {
        prediction_ = Reconstruct(prediction_, code, stepIndex_);
        patternState_ = NextPatternState(code);
        tailCodes[count++] = code;
        RecordTrace(n++, stepIndex_);
    };
    for (;;) {
        if (count >= kMaxTailCodes) {
            flushExhausted_ = true;
            return 0;
        }
        uint8_t code = Quantize(-prediction_, stepIndex_);
        // The tail keeps the 15, 0, 15, 0 guard of the samples.
        if (patternState_ == 3 && (code & codeMask_) == 0) code ^= signBit;
        append(code);
        if (!flushToSilence_) {
            if (n % 4 == 0) break;
            continue;
        }
        if (n % 4 != 0 || stepIndex_ != 0) continue;
        if (prediction_ == 0) break;
        if (prediction_ == 1 || prediction_ == -1) {
            if (count + 4 > kMaxTailCodes) {
                flushExhausted_ = true;
                return 0;
            }
            const uint8_t* ending = prediction_ == 1 ? endingPlus_ : endingMinus_;
            for (int i = 0; i < 4; ++i) append(ending[i]);
            break;
        }
    }
    return count;
}

uint32_t C_ADPCMEncDec::Decode(const uint8_t* in, uint32_t inSize, uint16_t* out, uint32_t outBytes,
                               I_ProgressCallback* progress) {
    ResetDecoder();
    const uint32_t capacity = out ? outBytes / 2 : 0;
    C_Progress report(progress, Saturate(static_cast<uint64_t>(inSize) * CodesPerByte()));
    uint32_t produced = 0;
    uint8_t code = 0;
    for (uint32_t index = 0; produced < capacity; ++index) {
        if (!GetCode(in, inSize, index, code)) break;
        prediction_ = Reconstruct(prediction_, code, stepIndex_);
        out[produced++] = ToWord(prediction_);
        report.Step();
    }
    report.Finish();
    return produced * 2;
}

}  // namespace cz
