#include "codecs/mdpcm/C_EnhancedMDPCMCodec.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "codecs/mdpcm/MdpcmFloorDivide.h"
#include "codecs/mdpcm/MdpcmPadding.h"

namespace cz {

namespace {

constexpr int kMinValue = 0;
constexpr int kMaxValue = 4095;
// Reconstructions kept per sample while a scale is searched.
constexpr int kBeam = 4;
// Scales searched below the one that follows the steepest change.
constexpr int kIndexesBelow = 3;

struct Path {
    int v;
    int64_t error;
    int parent;
    int q;
};

// The difference q (of step) from v, moved back inside 0..4095 as the
// encoder of the 5-bit stream does.
int Fit(int v, int q, int step, int& reached) {
    int w = v + q * step;
    while (w > kMaxValue) {
        w -= step;
        --q;
    }
    while (w < kMinValue) {
        w += step;
        ++q;
    }
    reached = w;
    return q;
}

// Searches one scale: returns the squared error and fills q (one per
// position) and the final reconstruction.
class ScaleSearch {
public:
    ScaleSearch(const std::vector<int>& targets, const std::vector<bool>& padding, int32_t padMode,
                uint16_t firstSampleBits)
        : t_(targets), pad_(padding), padMode_(padMode), firstBits_(firstSampleBits) {}

    // Stops early and returns bound once every path's error reaches bound
    // (errors only grow, so such a scale cannot beat one that scored bound).
    int64_t Run(int start, int step, std::vector<int8_t>& q, int& last,
                int64_t bound = std::numeric_limits<int64_t>::max()) {
        const size_t n = t_.size();
        const mdpcm::C_FloorDivider floorDivide(step);
        trace_.resize(n * kBeam);
        std::array<Path, kBeam> paths{};
        paths[0] = {start, 0, 0, 0};
        int live = 1;
        std::array<Path, 2 * kBeam> next{};
        for (size_t k = 0; k < n; ++k) {
            int count = 0;
            auto offer = [&](const Path& p) {
                for (int j = 0; j < count; ++j) {
                    if (next[j].v == p.v) {
                        if (p.error < next[j].error) next[j] = p;
                        return;
                    }
                }
                next[count++] = p;
            };
            for (int p = 0; p < live; ++p) {
                const int v = paths[p].v;
                if (pad_[k]) {
                    // Padding follows its drift; it adds no error.
                    const int d = mdpcm::PadDelta(v, padMode_);
                    int reached = 0;
                    const int qk = Fit(v, C_MDPCMEncDec::NearestDifference(d, step), step, reached);
                    offer({Settle(k, reached), paths[p].error, p, qk});
                    continue;
                }
                const int d = t_[k] - v;
                const int low = floorDivide(d);
                for (int c = low; c <= low + 1; ++c) {
                    const int clamped = std::clamp(c, C_MDPCMEncDec::kMinDifference, C_MDPCMEncDec::kMaxDifference);
                    int reached = 0;
                    const int qk = Fit(v, clamped, step, reached);
                    const int w = Settle(k, reached);
                    const int64_t e = int64_t{w - t_[k]} * (w - t_[k]);
                    offer({w, paths[p].error + e, p, qk});
                }
            }
            // Insertion sort by error, then value: at most twice the beam.
            for (int i = 1; i < count; ++i) {
                const Path item = next[i];
                int j = i;
                for (; j > 0 &&
                       (next[j - 1].error > item.error || (next[j - 1].error == item.error && next[j - 1].v > item.v));
                     --j)
                    next[j] = next[j - 1];
                next[j] = item;
            }
            live = std::min(count, kBeam);
            if (next[0].error >= bound) return bound;
            for (int p = 0; p < live; ++p) {
                paths[p] = next[p];
                trace_[k * kBeam + p] = {static_cast<int8_t>(next[p].parent), static_cast<int8_t>(next[p].q)};
            }
        }
        q.resize(n);
        int slot = 0;
        for (size_t k = n; k-- > 0;) {
            q[k] = trace_[k * kBeam + slot].q;
            slot = trace_[k * kBeam + slot].parent;
        }
        last = paths[0].v;
        return paths[0].error;
    }

private:
    // The first sample of a frame is rounded as the decoder rounds it.
    int Settle(size_t k, int v) const {
        if (k != 0 || firstBits_ >= 12) return v;
        const int shift = 12 - firstBits_;
        return std::clamp((((v - 2048) >> shift) << shift) + 2048, kMinValue, kMaxValue);
    }

    struct Step {
        int8_t parent;
        int8_t q;
    };
    const std::vector<int>& t_;
    const std::vector<bool>& pad_;
    int32_t padMode_;
    uint16_t firstBits_;
    std::vector<Step> trace_;
};

}  // namespace

C_EnhancedMDPCMCodec::C_EnhancedMDPCMCodec(uint32_t headerAlias, uint16_t firstSampleBits)
    : C_MDPCMEncDec(headerAlias, firstSampleBits) {}

C_EnhancedMDPCMCodec::~C_EnhancedMDPCMCodec() = default;

uint32_t C_EnhancedMDPCMCodec::EncodeFrame(const uint16_t* samples, uint32_t sampleCount, uint32_t first,
                                           uint32_t frameLength, uint32_t kind, int32_t padMode) {
    if (frameLength == 0 || !HaveRoom(size_t{1} + frameLength) || (samples == nullptr && sampleCount != 0)) return 0;
    std::vector<int> targets(frameLength, 0);
    std::vector<bool> padding(frameLength, false);
    for (uint32_t k = 0; k < frameLength; ++k) {
        const uint64_t pos = uint64_t{first} + k;
        if (pos < sampleCount)
            targets[k] = std::min<int>(samples[pos], kMaxValue);
        else
            padding[k] = true;
    }
    ScaleSearch search(targets, padding, padMode, firstSampleBits_);
    int bestIndex = -1;
    int64_t bestError = 0;
    int bestLast = current_;
    std::vector<int8_t> q, bestQ;
    // The scales from three below the one that follows the frame's steepest
    // change to one above it: larger steps only add error, much smaller ones
    // rarely pay.
    int prev = current_, peak = 0;
    for (uint32_t k = 0; k < frameLength; ++k) {
        const int t = padding[k] ? prev + mdpcm::PadDelta(prev, padMode) : targets[k];
        peak = std::max(peak, std::abs(t - prev));
        prev = t;
    }
    int slope = kScaleCount - 1;
    for (int i = 0; i < kScaleCount; ++i) {
        if (ScaleThreshold(i) >= peak) {
            slope = i;
            break;
        }
    }
    for (int i = std::max(0, slope - kIndexesBelow); i <= std::min(kScaleCount - 1, slope + 1); ++i) {
        if ((headerAlias_ != 0 && i == 14) || AvoidEndMarker(i, kind) != i) continue;
        int last = 0;
        const int64_t bound = bestIndex < 0 ? std::numeric_limits<int64_t>::max() : bestError;
        const int64_t error = search.Run(current_, ScaleStep(i), q, last, bound);
        if (bestIndex < 0 || error < bestError) {
            bestIndex = i;
            bestError = error;
            bestQ.swap(q);
            bestLast = last;
        }
    }
    if (bestIndex < 0) {
        // Every nearby scale collides with the end marker: take the nearest usable one.
        const int i = AvoidEndMarker(slope, kind);
        bestError = search.Run(current_, ScaleStep(i), bestQ, bestLast);
        bestIndex = i;
    }
    Put(HeaderByte(bestIndex, kind));
    for (const int8_t d : bestQ) Put(static_cast<uint8_t>(d));
    current_ = bestLast;
    return frameLength + 1;
}

}  // namespace cz
