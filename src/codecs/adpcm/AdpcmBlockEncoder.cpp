#include "codecs/adpcm/AdpcmBlockEncoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace cz {

namespace {

// Paths kept from one sample to the next.
constexpr int kBeam = 4;

struct S_Path {
    int64_t cost;
    int32_t prediction;
    uint16_t stepIndex;
    uint16_t patternState;
};

struct S_Link {
    uint8_t parent;
    uint8_t code;
    uint8_t stepIndex;
};

int32_t StepSum(int32_t step, uint32_t code) {
    int32_t sum = step >> 3;
    if (code & 4) sum += step;
    if (code & 2) sum += step >> 1;
    if (code & 1) sum += step >> 2;
    return (code & 8) ? -sum : sum;
}

uint16_t NextPattern(uint16_t state, uint32_t code) {
    if (code == 15) return (state == 0 || state == 2) ? state + 1 : 1;
    if (code == 0 && state == 1) return 2;
    return 0;
}

}  // namespace

void EncodeAdpcmBlock(const int16_t* samples, uint32_t count, const S_AdpcmBlockTables& tables,
                      S_AdpcmBlockState& state, uint8_t* codes, uint8_t* stepIndices) {
    count = std::min(count, kAdpcmBlockSamples);
    if (count == 0) return;
    std::array<std::array<S_Link, kBeam>, kAdpcmBlockSamples> links;
    std::array<S_Path, kBeam> paths{};
    int pathCount = 1;
    paths[0] = {0, state.prediction, state.stepIndex, state.patternState};

    for (uint32_t t = 0; t < count; ++t) {
        const int32_t target = samples[t];
        std::array<S_Path, kBeam> next{};
        std::array<S_Link, kBeam> nextLinks{};
        int nextCount = 0;
        for (int p = 0; p < pathCount; ++p) {
            const S_Path& from = paths[static_cast<size_t>(p)];
            const int32_t step = tables.steps[from.stepIndex];
            for (uint32_t code = 0; code < 16; ++code) {
                if (from.patternState == 3 && code == 0) continue;
                const int32_t value = from.prediction + StepSum(step, code);
                if (value < tables.minimum || value > tables.maximum) continue;
                const int64_t error = value - target;
                const int64_t cost = from.cost + error * error;
                if (nextCount == kBeam && cost >= next[kBeam - 1].cost) continue;
                const auto index = static_cast<uint16_t>(
                    std::clamp<int32_t>(from.stepIndex + tables.indexAdjust[code & 7], 0, tables.stepCount - 1));
                const uint16_t pattern = NextPattern(from.patternState, code);
                // A path reaching a state already held is kept only when cheaper.
                int slot = -1;
                for (int k = 0; k < nextCount; ++k) {
                    const S_Path& held = next[static_cast<size_t>(k)];
                    if (held.prediction == value && held.stepIndex == index && held.patternState == pattern) {
                        slot = k;
                        break;
                    }
                }
                if (slot >= 0) {
                    if (cost >= next[static_cast<size_t>(slot)].cost) continue;
                    // Remove the dearer copy; the insertion below puts it back in order.
                    for (int k = slot; k + 1 < nextCount; ++k) {
                        next[static_cast<size_t>(k)] = next[static_cast<size_t>(k + 1)];
                        nextLinks[static_cast<size_t>(k)] = nextLinks[static_cast<size_t>(k + 1)];
                    }
                    --nextCount;
                }
                int at = std::min(nextCount, kBeam - 1);
                while (at > 0 && next[static_cast<size_t>(at - 1)].cost > cost) {
                    if (at < kBeam) {
                        next[static_cast<size_t>(at)] = next[static_cast<size_t>(at - 1)];
                        nextLinks[static_cast<size_t>(at)] = nextLinks[static_cast<size_t>(at - 1)];
                    }
                    --at;
                }
                next[static_cast<size_t>(at)] = {cost, value, index, pattern};
                nextLinks[static_cast<size_t>(at)] = {static_cast<uint8_t>(p), static_cast<uint8_t>(code),
                                                      static_cast<uint8_t>(index)};
                nextCount = std::min(nextCount + 1, kBeam);
            }
        }
        // Some code is always in range from an in-range state (the smallest
        // steps up and down cannot both leave it, and only code 0 can be
        // barred by the pattern), so nextCount > 0 here.
        paths = next;
        pathCount = nextCount;
        links[t] = nextLinks;
    }

    // The cheapest path, traced back.
    int slot = 0;
    state.prediction = paths[0].prediction;
    state.stepIndex = paths[0].stepIndex;
    state.patternState = paths[0].patternState;
    for (uint32_t t = count; t-- > 0;) {
        const S_Link& link = links[t][static_cast<size_t>(slot)];
        codes[t] = link.code;
        stepIndices[t] = link.stepIndex;
        slot = link.parent;
    }
}

}  // namespace cz
