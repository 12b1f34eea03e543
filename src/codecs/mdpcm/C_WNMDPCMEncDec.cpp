#include "codecs/mdpcm/C_WNMDPCMEncDec.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "foundation/I_ProgressCallback.h"

namespace cz {

namespace {

// A scale's step in the signed 16-bit domain: the 12-bit step times 16
// (steps 128 .. 2048).
int WideStep(int index) { return C_MDPCMEncDec::ScaleStep(index) * 16; }

// 12-bit range 0..4095 seen in the 16-bit domain.
constexpr int kWideMin = -32768;
constexpr int kWideMax = 2047 * 16;
constexpr uint8_t kSignBit = 0x10;
constexpr uint8_t kMagnitudeMask = 0x0F;

// Paths kept by the search, and how many of the scales whose nearest-step
// paths score best are searched.
constexpr int kBeamWidth = 8;
constexpr int kSearchedScales = 3;

int64_t Square(int64_t x) { return x * x; }

// Finds the scale and the differences of one frame. The first value is fixed.
// Every scale is scored by its nearest-step path; for the best few a beam
// search keeps the kBeamWidth reconstructions with the least squared error so
// far, each extended by the two differences that bracket the target. The best
// of all paths wins, so the result is never worse than the nearest-step one.
class BlockCoder {
public:
    struct Result {
        int index = 0;
        int64_t error = 0;
        std::vector<int8_t> q;  // n - 1 differences
    };

    explicit BlockCoder(const std::vector<int>& targets) : t_(targets) {}

    Result Code(int first, uint32_t usableMask) {
        Result best;
        best.error = -1;
        const size_t n = t_.size();
        q_.assign(n > 0 ? n - 1 : 0, 0);
        // Score every scale by the nearest-step path; search around the best few.
        std::array<int64_t, C_MDPCMEncDec::kScaleCount> nearest{};
        for (int index = 0; index < C_MDPCMEncDec::kScaleCount; ++index) {
            if ((usableMask & (1u << index)) == 0) continue;
            nearest[index] = Nearest(first, WideStep(index), q_);
            if (best.error < 0 || nearest[index] < best.error) {
                best.index = index;
                best.error = nearest[index];
                best.q = q_;
            }
        }
        if (n <= 2) return best;
        for (int round = 0; round < kSearchedScales; ++round) {
            int index = -1;
            for (int i = 0; i < C_MDPCMEncDec::kScaleCount; ++i)
                if ((usableMask & (1u << i)) != 0 && (index < 0 || nearest[i] < nearest[index])) index = i;
            if (index < 0) break;
            usableMask &= ~(1u << index);
            const int64_t error = Beam(first, WideStep(index), q_);
            if (error < best.error) {
                best.index = index;
                best.error = error;
                best.q = q_;
            }
        }
        return best;
    }

private:
    static int Apply(int v, int q, int step) { return std::clamp(v + q * step, kWideMin, kWideMax); }

    int64_t Nearest(int first, int step, std::vector<int8_t>& q) const {
        int v = first;
        int64_t error = 0;
        for (size_t k = 1; k < t_.size(); ++k) {
            const int d = t_[k] - v;
            const int qk = C_MDPCMEncDec::NearestDifference(d, step);
            v = Apply(v, qk, step);
            error += Square(v - t_[k]);
            q[k - 1] = static_cast<int8_t>(qk);
        }
        return error;
    }

    int64_t Beam(int first, int step, std::vector<int8_t>& q) {
        struct Path {
            int v;
            int64_t error;
            int parent;
            int q;
        };
        const size_t n = t_.size();
        trace_.assign((n - 1) * kBeamWidth, {0, 0});
        std::array<Path, kBeamWidth> paths{};
        int live = 1;
        paths[0] = {first, 0, 0, 0};
        std::array<Path, 2 * kBeamWidth> next{};
        for (size_t k = 1; k < n; ++k) {
            int count = 0;
            for (int p = 0; p < live; ++p) {
                const int d = t_[k] - paths[p].v;
                // floor(d / step) and one above it
                const int low = d >= 0 ? d / step : -((-d + step - 1) / step);
                for (int qk = low; qk <= low + 1; ++qk) {
                    const int c = std::clamp(qk, C_MDPCMEncDec::kMinDifference, C_MDPCMEncDec::kMaxDifference);
                    const int v = Apply(paths[p].v, c, step);
                    const int64_t e = paths[p].error + Square(v - t_[k]);
                    // Two paths at the same value have the same future: keep the better.
                    int same = -1;
                    for (int j = 0; j < count; ++j)
                        if (next[j].v == v) same = j;
                    if (same >= 0) {
                        if (e < next[same].error) next[same] = {v, e, p, c};
                    } else {
                        next[count++] = {v, e, p, c};
                    }
                }
            }
            // Insertion sort by error: at most 2 x kBeamWidth candidates.
            for (int i = 1; i < count; ++i) {
                const Path item = next[i];
                int j = i;
                for (; j > 0 && next[j - 1].error > item.error; --j) next[j] = next[j - 1];
                next[j] = item;
            }
            live = std::min(count, kBeamWidth);
            for (int p = 0; p < live; ++p) {
                paths[p] = next[p];
                trace_[(k - 1) * kBeamWidth + p] = {static_cast<int8_t>(next[p].parent),
                                                    static_cast<int8_t>(next[p].q)};
            }
        }
        int slot = 0;
        for (size_t k = n - 1; k >= 1; --k) {
            const Step& s = trace_[(k - 1) * kBeamWidth + slot];
            q[k - 1] = s.q;
            slot = s.parent;
        }
        return paths[0].error;
    }

    struct Step {
        int8_t parent;
        int8_t q;
    };

    const std::vector<int>& t_;
    std::vector<Step> trace_;
    std::vector<int8_t> q_;
};

}  // namespace

C_WNMDPCMEncDec::C_WNMDPCMEncDec(uint16_t firstSampleBits) : C_MDPCMEncDec(0, firstSampleBits) {}

C_WNMDPCMEncDec::~C_WNMDPCMEncDec() = default;

uint64_t C_WNMDPCMEncDec::GetMaxEncodedSize(uint32_t sampleCount, uint32_t longLength, uint32_t shortLength) {
    PlanFrames(sampleCount, longLength, shortLength);
    return uint64_t{sampleCount} + 3 * (uint64_t{padding_} + uint64_t{longFrames_} + uint64_t{shortFrames_});
}

uint32_t C_WNMDPCMEncDec::EncodeFrame(const uint16_t* samples, uint32_t sampleCount, uint32_t first,
                                      uint32_t frameLength, uint32_t kind, int32_t padMode) {
    if (frameLength == 0 || !HaveRoom(size_t{2} + frameLength) || (samples == nullptr && sampleCount != 0)) return 0;
    std::vector<int> targets(frameLength);
    for (uint32_t k = 0; k < frameLength; ++k) {
        const uint64_t pos = uint64_t{first} + k;
        targets[k] = pos < sampleCount ? (std::min<int>(samples[pos], 4095) - 2048) * 16 : 0;
    }

    // The first value, kept to firstSampleBits significant bits (nearest).
    int firstValue = targets[0] / 16;
    if (firstSampleBits_ < 12) {
        const int shift = 12 - firstSampleBits_;
        firstValue = ((firstValue + (1 << (shift - 1))) >> shift) << shift;
        firstValue = std::min(firstValue, (2047 >> shift) << shift);
    }
    firstValue *= 16;

    uint32_t usable = 0;
    for (int i = 0; i < kScaleCount; ++i)
        if (AvoidEndMarker(i, kind) == i) usable |= 1u << i;
    BlockCoder coder(targets);
    const BlockCoder::Result best = coder.Code(firstValue, usable);

    Put(HeaderByte(best.index, kind));
    const uint16_t word = static_cast<uint16_t>(static_cast<int16_t>(firstValue));
    Put(static_cast<uint8_t>(word & 0xFF));
    Put(static_cast<uint8_t>(word >> 8));
    int v = firstValue / 16 + 2048;
    const int step = ScaleStep(best.index);
    for (const int8_t q : best.q) {
        const uint8_t magnitude = static_cast<uint8_t>(std::abs(q));
        Put(static_cast<uint8_t>(magnitude | (q < 0 ? kSignBit : 0)));
        v = std::clamp(v + q * step, 0, 4095);
    }
    current_ = v;
    return frameLength + 2;
}

uint32_t C_WNMDPCMEncDec::Decode(uint16_t* out, size_t outCapacity, const uint8_t* in, size_t inSize,
                                 uint16_t initialValue, uint32_t longLength, uint32_t shortLength,
                                 I_ProgressCallback* progress) {
    (void)initialValue;  // every frame carries its own first value
    return DecodeFrames(out, outCapacity, in, inSize, longLength, shortLength, progress,
                        [&](const S_FrameHeader& frame, const uint8_t* bytes, size_t size, size_t capacity, size_t& pos,
                            size_t& written) {
                            const uint32_t n = frame.length;
                            if (n == 0) {
                                ++pos;
                                return FrameStep::kNextQuietly;
                            }
                            if (size - pos < 3 || written >= capacity) return FrameStep::kStop;
                            const auto word = static_cast<int16_t>(bytes[pos + 1] | (bytes[pos + 2] << 8));
                            pos += 3;
                            int v = FirstValueFromWord(word);
                            out[written++] = static_cast<uint16_t>(v);
                            const int step = ScaleStep(frame.index);
                            for (uint32_t k = 1; k < n; ++k) {
                                if (pos >= size || written >= capacity) return FrameStep::kReportAndStop;
                                const uint8_t code = bytes[pos++];
                                const int magnitude = code & kMagnitudeMask;
                                v = std::clamp(v + ((code & kSignBit) ? -magnitude : magnitude) * step, 0, 4095);
                                out[written++] = static_cast<uint16_t>(v);
                            }
                            return FrameStep::kNext;
                        });
}

}  // namespace cz
