#include "codecs/adpcm/C_EnhancedADPCM2Codec.h"

#include <algorithm>
#include <array>
#include <limits>

namespace cz {

namespace {

// Coefficients as bit sets: bit 4 the value, bit 3 half of it ... bit 0 a
// sixteenth; bit 7 of B subtracts.
constexpr std::array<uint8_t, 8> kCoefficientA = {0x08, 0x0A, 0x0C, 0x0E, 0x10, 0x12, 0x14, 0x16};
constexpr std::array<uint8_t, 8> kCoefficientB = {0x88, 0x86, 0x84, 0x82, 0x00, 0x02, 0x04, 0x06};
constexpr uint32_t kPairs = 64;
constexpr uint32_t kPairsTried = 2;

int32_t ShiftSum(int32_t x, uint8_t coefficient) {
    int32_t sum = 0;
    if (coefficient & 0x10) sum += x;
    if (coefficient & 0x08) sum += x >> 1;
    if (coefficient & 0x04) sum += x >> 2;
    if (coefficient & 0x02) sum += x >> 3;
    if (coefficient & 0x01) sum += x >> 4;
    return sum;
}

// ShiftSum with the coefficient's bits as masks (all ones or zero), for
// the inner loop: no branches, no call.
struct S_ShiftMasks {
    int32_t m[5];
    explicit S_ShiftMasks(uint8_t coefficient) {
        for (int i = 0; i < 5; ++i) m[i] = (coefficient & (0x10 >> i)) ? -1 : 0;
    }
    int32_t Sum(int32_t x) const {
        return (x & m[0]) + ((x >> 1) & m[1]) + ((x >> 2) & m[2]) + ((x >> 3) & m[3]) + ((x >> 4) & m[4]);
    }
};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

C_EnhancedADPCM2Codec::C_EnhancedADPCM2Codec(uint8_t sampleWidth, uint32_t limitSteps, uint32_t searchTables,
                                             uint32_t predict)
    : C_EnhancedADPCMCodec(sampleWidth, limitSteps, searchTables), predict_(predict) {}

C_EnhancedADPCM2Codec::~C_EnhancedADPCM2Codec() = default;

int32_t C_EnhancedADPCM2Codec::Predict(int32_t last, int32_t beforeLast, uint8_t pair) {
    const uint8_t a = kCoefficientA[pair & 7];
    const uint8_t b = kCoefficientB[(pair >> 3) & 7];
    const int32_t fromB = ShiftSum(beforeLast, b & 0x0F);
    return std::clamp(ShiftSum(last, a) + ((b & 0x80) ? -fromB : fromB), -32768, 32767);
}

void C_EnhancedADPCM2Codec::ResetEncoder(uint32_t sampleCount, uint32_t mode) {
    C_EnhancedADPCMCodec::ResetEncoder(sampleCount, mode);
    last_ = startLast_;
    before_ = startBefore_;
}

void C_EnhancedADPCM2Codec::ResetDecoder() {
    C_EnhancedADPCMCodec::ResetDecoder();
    last_ = startLast_;
    before_ = startBefore_;
}

uint8_t C_EnhancedADPCM2Codec::SubBlockHeader(uint8_t highestIndex, uint8_t table) const {
    return static_cast<uint8_t>((highestIndex & 63) << 2 | (table & 3));
}

uint32_t C_EnhancedADPCM2Codec::GetDecodedBufferSize(uint32_t byteCount) {
    return static_cast<uint32_t>(
        std::min<uint64_t>(uint64_t{byteCount} * kMaxSilenceBlock, std::numeric_limits<uint32_t>::max() & ~1u));
}

bool C_EnhancedADPCM2Codec::CodeSubBlock(const uint16_t* samples, uint32_t count, uint8_t table, uint8_t pair,
                                         int64_t bound, S_Trial& trial) {
    // The 4-bit rules of Quantize, StepSum and NextIndex, inlined: a code's
    // magnitude bits 2, 1, 0 stand for step, step/2, step/4, and every code
    // adds step/8 more.
    const int8_t* adjust = kIndexTables[table & 3].data();
    const int32_t top = stepCount_ - 1;
    const int32_t indexTop = std::max(0, std::min(top, indexLimit_));
    const int16_t* steps = steps_.get();
    const uint8_t ca = kCoefficientA[pair & 7], cb = kCoefficientB[(pair >> 3) & 7];
    const int32_t negateB = (cb & 0x80) ? -1 : 0;
    const S_ShiftMasks fromA(ca), fromB(cb & 0x0F);
    int64_t error = 0;
    int32_t last = last_ - offset_, before = before_ - offset_;
    int32_t index = stepIndex_;
    for (uint32_t k = 0; k < count; ++k) {
        const int32_t target = std::min<int32_t>(samples[k], fullRange_) - offset_;
        const int32_t b = fromB.Sum(before);
        const int32_t prediction = std::clamp(fromA.Sum(last) + ((b ^ negateB) - negateB), -32768, 32767);
        const int32_t step = steps[std::min(index, top)];
        // Branch-free: the code bits follow the signal and defeat prediction.
        const int32_t difference = target - prediction;
        const int32_t negative = difference < 0 ? -1 : 0;
        int32_t d = (difference ^ negative) - negative;
        const int32_t s1 = step >> 1, s2 = step >> 2;
        const int32_t m4 = step < d ? -1 : 0;
        d -= step & m4;
        const int32_t m2 = s1 < d ? -1 : 0;
        d -= s1 & m2;
        const int32_t m1 = s2 < d ? -1 : 0;
        const int32_t magnitude = (step >> 3) + (step & m4) + (s1 & m2) + (s2 & m1);
        const uint32_t code = static_cast<uint32_t>((negative & 8) | (m4 & 4) | (m2 & 2) | (m1 & 1));
        const int32_t sum = (magnitude ^ negative) - negative;
        const int32_t value = std::clamp(prediction + sum, minimum_, maximum_);
        index = std::clamp(index + adjust[code & 7], 0, indexTop);
        before = last;
        last = value;
        trial.codes[k] = static_cast<uint8_t>(code);
        trial.indices[k] = static_cast<uint8_t>(index);
        const int64_t e = static_cast<int64_t>(value) - target;
        error += e * e;
        if (error >= bound) return false;
    }
    trial.error = error;
    trial.last = last + offset_;
    trial.before = before + offset_;
    trial.index = static_cast<uint16_t>(index);
    return true;
}

uint32_t C_EnhancedADPCM2Codec::CandidatePairs(const uint16_t* samples, uint32_t count, uint8_t* pairs) const {
    // The pairs are ranked by how well they predict the input itself, in
    // sixteenths: with A = a / 16 and B = b / 16 the squared error x 256 is
    // 256 Sxx + a^2 S11 + b^2 S22 - 32 a Sx1 - 32 b Sx2 + 2 a b S12 over the
    // sums of products of each sample x with the one (x1) and two (x2)
    // before it. Integer sums: the ranking is the same on every machine.
    int64_t sxx = 0, s11 = 0, s22 = 0, sx1 = 0, sx2 = 0, s12 = 0;
    int64_t x1 = last_ - offset_, x2 = before_ - offset_;
    for (uint32_t k = 0; k < count; ++k) {
        const int64_t x = std::min<int32_t>(samples[k], fullRange_) - offset_;
        sxx += x * x;
        s11 += x1 * x1;
        s22 += x2 * x2;
        sx1 += x * x1;
        sx2 += x * x2;
        s12 += x1 * x2;
        x2 = x1;
        x1 = x;
    }
    std::array<int64_t, kPairs> errors{};
    for (uint32_t pair = 0; pair < kPairs; ++pair) {
        const uint8_t ca = kCoefficientA[pair & 7], cb = kCoefficientB[(pair >> 3) & 7];
        const int64_t a = ca, b = (cb & 0x80) ? -static_cast<int64_t>(cb & 0x0F) : cb;
        errors[pair] = 256 * sxx + a * a * s11 + b * b * s22 - 32 * a * sx1 - 32 * b * sx2 + 2 * a * b * s12;
    }
    // The kPairsTried least, ties to the lower pair number (a stable sort's
    // order).
    bool taken[kPairs] = {};
    for (uint32_t n = 0; n < kPairsTried; ++n) {
        uint32_t best = kPairs;
        for (uint32_t pair = 0; pair < kPairs; ++pair) {
            if (!taken[pair] && (best == kPairs || errors[pair] < errors[best])) best = pair;
        }
        taken[best] = true;
        pairs[n] = static_cast<uint8_t>(best);
    }
    return kPairsTried;
}

uint32_t C_EnhancedADPCM2Codec::WriteSubBlock(const uint16_t* samples, uint32_t count, uint16_t previous, uint8_t* out,
                                              uint32_t first, C_Progress& report) {
    const uint8_t highest = HighestStepIndex(samples, count, previous);
    SetIndexLimit(highest);
    uint8_t pairs[kPairsTried] = {kPlainPair};
    const uint32_t pairCount = predict_ ? CandidatePairs(samples, count, pairs) : 1;
    const uint8_t tables = searchTables_ ? 4 : 1;
    // Two trials in turn: the best so far and the one being coded.
    S_Trial trials[2];
    int bestAt = -1;
    int64_t bound = std::numeric_limits<int64_t>::max();
    uint8_t bestTable = 0, bestPair = pairs[0];
    for (uint32_t p = 0; p < pairCount; ++p) {
        for (uint8_t t = 0; t < tables; ++t) {
            S_Trial& trial = trials[bestAt == 0 ? 1 : 0];
            if (CodeSubBlock(samples, count, t, pairs[p], bound, trial)) {
                bestAt = bestAt == 0 ? 1 : 0;
                bound = trial.error;
                bestTable = t;
                bestPair = pairs[p];
            }
        }
    }
    const S_Trial& best = trials[bestAt];
    last_ = best.last;
    before_ = best.before;
    stepIndex_ = best.index;
    SetIndexTable(kIndexTables[bestTable].data());
    out[0] = SubBlockHeader(highest, bestTable);
    out[1] = bestPair;
    for (uint32_t k = 0; k < count; ++k) {
        uint8_t& byte = out[2 + k / 2];
        byte = (k % 2 == 0) ? static_cast<uint8_t>(best.codes[k] << 4) : static_cast<uint8_t>(byte | best.codes[k]);
        RecordTrace(first + k, best.indices[k]);
        report.Step();
    }
    return 2 + (count + 1) / 2;
}

uint32_t C_EnhancedADPCM2Codec::Encode(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
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

    uint64_t pos = 0;
    uint32_t i = 0;
    while (i < sampleCount) {
        const uint32_t rest = sampleCount - i;
        // A long block takes 1 + 64 m samples, a short one the last 1 ... 64.
        const bool isLong = rest > kSubBlockCodes;
        const uint32_t subBlocks = isLong ? std::min(kSubBlocks, (rest - 1) / kSubBlockCodes) : 0;
        const uint64_t size = isLong ? 3 + 34ull * subBlocks : 5 + rest / 2;
        if (pos + size > outSize) return fail();
        uint8_t* block = out + pos;
        const uint16_t first = RoundFirstSample(samples[i]);
        block[0] = static_cast<uint8_t>(isLong ? ((subBlocks - 1) << 2 | kBlockLong) : ((rest - 1) << 2 | kBlockShort));
        block[1] = static_cast<uint8_t>((first & 0xC0) | 1);  // nonzero: the step index starts at 1
        block[2] = static_cast<uint8_t>(first >> 8);
        before_ = last_;
        last_ = first;
        stepIndex_ = 1;
        RecordTrace(i, 1);
        report.Step();
        ++i;
        if (isLong) {
            for (uint32_t sub = 0; sub < subBlocks; ++sub, i += kSubBlockCodes)
                WriteSubBlock(samples + i, kSubBlockCodes, samples[i - 1], block + 3 + 34 * sub, i, report);
        } else if (rest > 1) {
            WriteSubBlock(samples + i, rest - 1, samples[i - 1], block + 3, i, report);
            i += rest - 1;
        } else {
            block[3] = SubBlockHeader(static_cast<uint8_t>(stepCount_ - 1), 0);
            block[4] = kPlainPair;
        }
        pos += size;
    }
    lastPosition_ = static_cast<uint32_t>(pos - 1);
    report.Finish();
    return static_cast<uint32_t>(pos);
}

uint32_t C_EnhancedADPCM2Codec::Decode(const uint8_t* in, uint32_t inSize, uint16_t* out, uint32_t outBytes,
                                       I_ProgressCallback* progress) {
    ResetDecoder();
    const uint32_t capacity = out && in ? outBytes / 2 : 0;
    C_Progress report(progress, capacity);
    uint32_t produced = 0;
    auto put = [&](int32_t value) {
        before_ = last_;
        last_ = value;
        out[produced++] = static_cast<uint16_t>(value);
        report.Step();
    };
    // n codes after the first sample, with sub-block bytes a and b.
    auto codes = [&](const uint8_t* p, uint32_t n, uint8_t a, uint8_t b) {
        UseSubBlock(static_cast<uint8_t>(a >> 2), static_cast<uint8_t>(a & 3));
        for (uint32_t k = 0; k < n && produced < capacity; ++k) {
            const uint8_t code =
                (k % 2 == 0) ? static_cast<uint8_t>(p[k / 2] >> 4) : static_cast<uint8_t>(p[k / 2] & 15);
            const int32_t prediction = Predict(last_ - offset_, before_ - offset_, b);
            const int32_t value = std::clamp(prediction + StepSum(code, stepIndex_), minimum_, maximum_);
            stepIndex_ = NextIndex(stepIndex_, code);
            put(value + offset_);
        }
    };
    uint64_t pos = 0;
    while (produced < capacity && pos + 2 <= inSize) {
        const uint8_t* b = in + pos;
        if (b[0] == 0 && b[1] == 0) break;
        const uint32_t n = (b[0] >> 2) + 1u;
        const uint8_t type = b[0] & 3;
        const uint64_t size = type == kBlockSilence  ? 2
                              : type == kBlockShort  ? 5 + n / 2
                              : type == kBlockMarker ? 4
                                                     : 3 + 34ull * n;
        if (pos + size > inSize) break;
        switch (type) {
            case kBlockSilence: {
                const uint32_t count = static_cast<uint32_t>(b[1] >> 2) << 6 | (b[0] >> 2);
                for (uint32_t k = 0; k < count && produced < capacity; ++k) put(offset_);
                last_ = before_ = offset_;
                break;
            }
            case kBlockMarker: put(Le16(b + 2)); break;
            default: {
                put(std::min<int32_t>(b[2] << 8 | (b[1] & 0xC0), fullRange_));
                stepIndex_ = b[1] != 0 ? 1 : 0;
                if (type == kBlockShort) {
                    codes(b + 5, n - 1, b[3], b[4]);
                } else {
                    for (uint32_t sub = 0; sub < n; ++sub) {
                        const uint8_t* s = b + 3 + 34 * size_t{sub};
                        codes(s + 2, kSubBlockCodes, s[0], s[1]);
                    }
                }
            }
        }
        pos += size;
    }
    report.Finish();
    return produced * 2;
}

}  // namespace cz
