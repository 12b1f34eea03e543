#include "codecs/mdpcm/C_WNMdpcmCodecFreeFrameSize.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "codecs/mdpcm/MdpcmFloorDivide.h"

namespace cz {

namespace {

constexpr int kBeam = 4;
// Scales searched below the one that follows the steepest change.
constexpr int kRanksBelow = 3;

struct Path {
    int v;
    int64_t error;
    int parent;
    int q;
};

struct Step {
    int8_t parent;
    int8_t q;
};

// The least squared error of a frame at one step, and its differences.
// Stops early and returns bound (q unset) once every path's error reaches
// bound: errors only grow, so such a step cannot beat one that scored bound.
int64_t Search(const int* t, uint32_t n, int value, int step, std::vector<Step>& trace, int8_t* q, int64_t bound) {
    trace.resize(size_t{n} * kBeam);
    const mdpcm::C_FloorDivider floorDivide(step);
    std::array<Path, kBeam> paths{};
    paths[0] = {value, 0, 0, 0};
    int live = 1;
    std::array<Path, 2 * kBeam> next{};
    for (uint32_t k = 0; k < n; ++k) {
        int count = 0;
        for (int p = 0; p < live; ++p) {
            const int d = t[k] - paths[p].v;
            const int low = floorDivide(d);
            for (int c = low; c <= low + 1; ++c) {
                // Bracketing differences, moved back inside the range.
                int reached = 0;
                const int target = paths[p].v + std::clamp(c, -15, 15) * step;
                const int qk = C_MdpcmCodecFreeFrameSize::FitDifference(paths[p].v, target, step, reached);
                const int64_t e = paths[p].error + int64_t{reached - t[k]} * (reached - t[k]);
                int same = -1;
                for (int j = 0; j < count; ++j)
                    if (next[j].v == reached) same = j;
                if (same < 0)
                    next[count++] = {reached, e, p, qk};
                else if (e < next[same].error)
                    next[same] = {reached, e, p, qk};
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
            trace[size_t{k} * kBeam + p] = {static_cast<int8_t>(next[p].parent), static_cast<int8_t>(next[p].q)};
        }
    }
    int slot = 0;
    for (uint32_t k = n; k-- > 0;) {
        q[k] = trace[size_t{k} * kBeam + slot].q;
        slot = trace[size_t{k} * kBeam + slot].parent;
    }
    return paths[0].error;
}

}  // namespace

C_WNMdpcmCodecFreeFrameSize::C_WNMdpcmCodecFreeFrameSize(uint32_t frameLength)
    : C_MdpcmCodecFreeFrameSize(frameLength) {}

C_WNMdpcmCodecFreeFrameSize::~C_WNMdpcmCodecFreeFrameSize() = default;

int C_WNMdpcmCodecFreeFrameSize::CodeFrame(const int* targets, uint32_t n, int value, int current, int8_t* q) {
    std::vector<Step> trace;
    std::vector<int8_t> trial(n);
    int best = -1;
    int64_t bestError = 0;
    // The scale in force first, so that it wins a tie; then the scales from
    // three below the one that follows the steepest change to one above it
    // (larger steps only add error, much smaller ones rarely pay).
    std::array<int, kScaleCount + 1> order{};
    int count = 0;
    if (current >= 0 && current < kScaleCount) order[count++] = current;
    const int rank = SlopeRank(targets, n, value);
    for (int r = std::max(0, rank - kRanksBelow); r <= std::min(kScaleCount - 1, rank + 1); ++r)
        if (CodeOfRank(r) != current) order[count++] = CodeOfRank(r);
    for (int i = 0; i < count; ++i) {
        const int code = order[i];
        const int64_t bound = best < 0 ? std::numeric_limits<int64_t>::max() : bestError;
        const int64_t error = Search(targets, n, value, ScaleStep(code), trace, trial.data(), bound);
        if (best < 0 || error < bestError) {
            best = code;
            bestError = error;
            std::copy(trial.begin(), trial.end(), q);
        }
    }
    return best;
}

}  // namespace cz
