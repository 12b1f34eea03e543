#include "codecs/mdpcm/C_MdpcmCodecFreeFrameSize.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "foundation/I_ProgressCallback.h"

namespace cz {

namespace {

constexpr int kMinValue = 0;
constexpr int kMaxValue = 4095;

// Scale code -> multiple of 8.
constexpr std::array<int, 16> kScales = {16, 32, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
// Scale codes by rising step.
constexpr std::array<int, 16> kCodesBySize = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1};
// Marker identifier -> code, and the table back.
constexpr std::array<uint8_t, 16> kMarkerCodes = {0, 1, 16, 2, 17, 32, 3, 18, 33, 48, 4, 35, 34, 49, 64, 5};

bool IsCommand(uint16_t w) { return (w & 0x03E0) == 0x0200; }

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void PutWord(std::vector<uint8_t>& out, uint16_t w) {
    out.push_back(static_cast<uint8_t>(w));
    out.push_back(static_cast<uint8_t>(w >> 8));
}

// Words a command takes with its operands.
size_t CommandWords(uint16_t w) {
    if (w == C_MdpcmCodecFreeFrameSize::kRunWord) return 2;
    if (w == C_MdpcmCodecFreeFrameSize::kMarkerWord) return 3;
    return 1;
}

}  // namespace

C_MdpcmCodecFreeFrameSize::C_MdpcmCodecFreeFrameSize(uint32_t frameLength)
    // A data word holds two samples, so frames hold an even number.
    : frameLength_(std::max<uint32_t>(2, std::min<uint32_t>(frameLength, 1u << 20) + 1) & ~1u) {}

C_MdpcmCodecFreeFrameSize::~C_MdpcmCodecFreeFrameSize() = default;

int C_MdpcmCodecFreeFrameSize::ScaleStep(int code) { return 8 * kScales[static_cast<size_t>(code & 15)]; }

uint8_t C_MdpcmCodecFreeFrameSize::MarkerCode(uint8_t identifier) {
    return identifier < kMarkerCodes.size() ? kMarkerCodes[identifier] : 0;
}

uint8_t C_MdpcmCodecFreeFrameSize::MarkerIdentifier(uint8_t code) {
    for (size_t i = 0; i < kMarkerCodes.size(); ++i)
        if (kMarkerCodes[i] == code) return static_cast<uint8_t>(i);
    return 0;
}

int C_MdpcmCodecFreeFrameSize::FitDifference(int value, int target, int step, int& reached) {
    const int d = target - value;
    int q = d >= 1 ? (d + step / 2) / step : (d - step / 2) / step;
    q = std::clamp(q, -kMaxDifference, kMaxDifference);
    int v = value + q * step;
    while (v > kMaxValue) {
        v -= step;
        --q;
    }
    while (v < kMinValue) {
        v += step;
        ++q;
    }
    reached = v;
    return q;
}

uint64_t C_MdpcmCodecFreeFrameSize::GetMaxEncodedSize(uint32_t sampleCount) const {
    const uint64_t n = uint64_t{sampleCount} + 1;
    // data words, a scale word per frame, the end word
    return 2 * (n / 2 + n / frameLength_ + 2);
}

int C_MdpcmCodecFreeFrameSize::CodeOfRank(int rank) { return kCodesBySize[static_cast<size_t>(rank & 15)]; }

int C_MdpcmCodecFreeFrameSize::SlopeRank(const int* targets, uint32_t n, int value) {
    int prev = value;
    int peak = 0;
    for (uint32_t k = 0; k < n; ++k) {
        peak = std::max(peak, std::abs(targets[k] - prev));
        prev = targets[k];
    }
    for (int rank = 0; rank < kScaleCount; ++rank) {
        // 15 steps and a half: the nearest difference follows the change.
        const int step = ScaleStep(CodeOfRank(rank));
        if (2 * kMaxDifference * step + step >= 2 * peak) return rank;
    }
    return kScaleCount - 1;
}

int C_MdpcmCodecFreeFrameSize::CodeFrame(const int* targets, uint32_t n, int value, int current, int8_t* q) {
    (void)current;
    const int code = CodeOfRank(SlopeRank(targets, n, value));
    const int step = ScaleStep(code);
    int v = value;
    for (uint32_t k = 0; k < n; ++k) q[k] = static_cast<int8_t>(FitDifference(v, targets[k], step, v));
    return code;
}

uint32_t C_MdpcmCodecFreeFrameSize::EncodeWords(const uint16_t* samples, uint32_t count, S_State& state,
                                                std::vector<uint8_t>& out, std::vector<uint16_t>* decoded) {
    if (count == 0 || samples == nullptr) return 0;
    const uint32_t coded = count + (count & 1);
    std::vector<int> targets(frameLength_);
    std::vector<int8_t> q(frameLength_);
    for (uint32_t first = 0; first < coded; first += frameLength_) {
        const uint32_t n = std::min(frameLength_, coded - first);
        for (uint32_t k = 0; k < n; ++k) targets[k] = std::min<int>(samples[std::min(first + k, count - 1)], kMaxValue);
        const int code = CodeFrame(targets.data(), n, state.value, state.scale, q.data());
        if (code != state.scale) {
            PutWord(out, static_cast<uint16_t>(kScaleWord | code));
            state.scale = code;
        }
        const int step = ScaleStep(code);
        for (uint32_t k = 0; k < n; k += 2) {
            PutWord(out, static_cast<uint16_t>((q[k] & 31) | (q[k + 1] & 31) << 5));
            for (uint32_t j = k; j < k + 2; ++j) {
                state.value += q[j] * step;
                if (decoded) decoded->push_back(static_cast<uint16_t>(state.value));
            }
        }
    }
    return coded;
}

uint32_t C_MdpcmCodecFreeFrameSize::Encode(uint8_t* out, size_t outSize, uint32_t sampleCount, const uint16_t* samples,
                                           I_ProgressCallback* progress) {
    if (out == nullptr || (sampleCount != 0 && samples == nullptr)) return 0;
    const uint64_t bound = GetMaxEncodedSize(sampleCount);
    if (uint64_t{outSize} < bound || bound > UINT32_MAX) return 0;
    if (progress) progress->OnBegin();
    S_State state;
    std::vector<uint8_t> words;
    words.reserve(static_cast<size_t>(bound));
    for (uint32_t done = 0; done < sampleCount;) {
        // Whole frames at a time, so that the frames fall as in one call.
        const uint32_t n = std::min<uint32_t>(sampleCount - done, frameLength_ * 64);
        EncodeWords(samples + done, n, state, words, nullptr);
        done += n;
        if (progress) progress->OnProgress(static_cast<int32_t>(uint64_t{done} * 100 / sampleCount));
    }
    PutWord(words, kEndWord);
    if (progress) {
        progress->OnProgress(100);
        progress->OnEnd();
    }
    if (words.size() > outSize) return 0;
    std::memcpy(out, words.data(), words.size());
    return static_cast<uint32_t>(words.size());
}

uint32_t C_MdpcmCodecFreeFrameSize::Decode(uint16_t* out, size_t outCapacity, const uint8_t* in, size_t inSize,
                                           I_ProgressCallback* progress) {
    endSeen_ = false;
    if (out == nullptr) outCapacity = 0;
    if (in == nullptr) inSize = 0;
    if (progress) progress->OnBegin();
    int value = 2048, step = 0;
    size_t written = 0, pos = 0;
    // Commands that play nothing are read even with the output full, so a
    // stream that fits exactly still reaches its end word.
    while (inSize - pos >= 2) {
        const uint16_t w = Le16(in + pos);
        if (!IsCommand(w)) {
            if (written >= outCapacity) break;
            for (int shift = 0; shift <= 5 && written < outCapacity; shift += 5) {
                const int field = (w >> shift) & 31;
                value = (value + (field >= 16 ? field - 32 : field) * step) & 4095;
                out[written++] = static_cast<uint16_t>(value);
            }
            pos += 2;
            continue;
        }
        if (w == kEndWord) {
            endSeen_ = true;
            break;
        }
        const size_t words = CommandWords(w);
        if ((inSize - pos) / 2 < words) break;
        if (w == kRunWord) {
            const size_t run = (Le16(in + pos + 2) & 0x03FFu) * 2u;
            if (run > 0 && written >= outCapacity) break;
            const size_t n = std::min<size_t>(run, outCapacity - written);
            std::fill(out + written, out + written + n, static_cast<uint16_t>(value));
            written += n;
        } else if (w != kMarkerWord && (w & 0x10) != 0) {
            step = ScaleStep(w & 15);
        }
        pos += 2 * words;
    }
    if (progress) {
        progress->OnProgress(100);
        progress->OnEnd();
    }
    return static_cast<uint32_t>(std::min<size_t>(written, UINT32_MAX));
}

uint32_t C_MdpcmCodecFreeFrameSize::CountDecodedSamples(const uint8_t* in, size_t inSize) {
    endSeen_ = false;
    if (in == nullptr) inSize = 0;
    uint64_t total = 0;
    size_t pos = 0;
    while (inSize - pos >= 2) {
        const uint16_t w = Le16(in + pos);
        if (!IsCommand(w)) {
            total += 2;
            pos += 2;
            continue;
        }
        if (w == kEndWord) {
            endSeen_ = true;
            break;
        }
        const size_t words = CommandWords(w);
        if ((inSize - pos) / 2 < words) break;
        if (w == kRunWord) total += (Le16(in + pos + 2) & 0x03FFu) * 2u;
        pos += 2 * words;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
}

}  // namespace cz
