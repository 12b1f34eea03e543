#include "codecs/adpcm/AdpcmBeamEncoder.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

namespace cz {
namespace {

constexpr int kMaxSteps = 64;

struct S_Node {
    int64_t cost;
    int32_t value;
    uint16_t parent;  // survivor of the previous sample
    uint8_t pattern;
    uint8_t code;
};

inline int32_t NextPattern(int32_t state, int32_t code) {
    if (code == 15) return (state == 0 || state == 2) ? state + 1 : 1;
    if (code == 0 && state == 1) return 2;
    return 0;
}

// a before b: cheaper, then the smaller value, then the smaller guard state.
inline bool Before(const S_Node& a, const S_Node& b) {
    if (a.cost != b.cost) return a.cost < b.cost;
    if (a.value != b.value) return a.value < b.value;
    return a.pattern < b.pattern;
}

}  // namespace

bool EncodeAdpcmBeam(const int16_t* samples, uint32_t count, const S_AdpcmBlockTables& t, S_AdpcmBlockState& state,
                     uint8_t* codes, uint8_t* stepIndices, int perIndex, int spread) {
    const int m = std::clamp(perIndex, 1, kAdpcmMaxPerIndex);
    spread = std::clamp(spread, 0, 7);
    const int steps = std::clamp(t.stepCount, 1, kMaxSteps);
    const int top = steps - 1;
    // Step sum magnitudes by step index and code magnitude: the smallest
    // fraction plus the steps of the magnitude bits.
    int32_t sums[kMaxSteps][8];
    int nextIndex[kMaxSteps][8];
    for (int i = 0; i < steps; ++i) {
        const int32_t step = t.steps[i];
        for (int k = 0; k < 8; ++k) {
            int32_t sum = step >> 3;
            if (k & 4) sum += step;
            if (k & 2) sum += step >> 1;
            if (k & 1) sum += step >> 2;
            sums[i][k] = sum;
            nextIndex[i][k] = std::clamp(i + t.indexAdjust[k], 0, top);
        }
    }
    try {
        const size_t width = size_t(steps) * size_t(m);
        // Buckets by step index, each sorted cheapest first.
        std::vector<S_Node> buckets(width);
        std::vector<int> filled(size_t(steps), 0);
        std::vector<S_Node> survivors;
        std::vector<uint8_t> survivorIndex;
        survivors.reserve(width);
        survivorIndex.reserve(width);
        std::vector<uint16_t> parents(size_t(kAdpcmBeamRun) * width);
        std::vector<uint8_t> pathCodes(size_t(kAdpcmBeamRun) * width);
        std::vector<uint8_t> pathIndices(size_t(kAdpcmBeamRun) * width);

        auto offer = [&](int index, const S_Node& n) {
            S_Node* b = &buckets[size_t(index) * size_t(m)];
            int& used = filled[size_t(index)];
            if (used == m && !Before(n, b[m - 1])) return;
            // The same state already held: keep the cheaper.
            for (int k = 0; k < used; ++k) {
                if (b[k].value == n.value && b[k].pattern == n.pattern) {
                    if (!Before(n, b[k])) return;
                    // Remove it; n goes in below.
                    for (int j = k; j + 1 < used; ++j) b[j] = b[j + 1];
                    --used;
                    break;
                }
            }
            int at = used < m ? used++ : m - 1;
            while (at > 0 && Before(n, b[at - 1])) {
                b[at] = b[at - 1];
                --at;
            }
            b[at] = n;
        };

        for (uint32_t first = 0; first < count; first += kAdpcmBeamRun) {
            const uint32_t run = std::min<uint32_t>(kAdpcmBeamRun, count - first);
            survivors.clear();
            survivorIndex.clear();
            survivors.push_back({0, std::clamp(state.prediction, t.minimum, t.maximum), 0,
                                 uint8_t(state.patternState), 0});
            survivorIndex.push_back(uint8_t(std::min<int>(state.stepIndex, top)));
            for (uint32_t i = 0; i < run; ++i) {
                const int32_t target = samples[first + i];
                std::fill(filled.begin(), filled.end(), 0);
                for (size_t s = 0; s < survivors.size(); ++s) {
                    const S_Node& from = survivors[s];
                    const int index = survivorIndex[s];
                    const int32_t* row = sums[index];
                    const int32_t d = target - from.value;
                    const int sign = d < 0 ? 8 : 0;
                    const int32_t a = d < 0 ? -d : d;
                    // The nearest magnitude towards the sample (sums rise with it).
                    int best = 0;
                    while (best < 7 && std::abs(row[best + 1] - a) <= std::abs(row[best] - a)) ++best;
                    bool any = false;
                    auto tryCode = [&](int code) {
                        const int k = code & 7;
                        const int32_t value = from.value + ((code & 8) ? -row[k] : row[k]);
                        if (value < t.minimum || value > t.maximum) return;
                        if (from.pattern == 3 && code == 0) return;
                        const int64_t e = int64_t(target - value);
                        offer(nextIndex[index][k], {from.cost + e * e, value, uint16_t(s),
                                                    uint8_t(NextPattern(from.pattern, code)), uint8_t(code)});
                        any = true;
                    };
                    const int low = std::max(0, best - spread), high = std::min(7, best + spread);
                    for (int k = low; k <= high; ++k) tryCode(sign | k);
                    if (low == 0) tryCode(sign ^ 8);
                    if (!any)
                        for (int code = 0; code < 16; ++code) tryCode(code);
                }
                // The buckets become the survivors, costs relative to the cheapest.
                int64_t cheapest = INT64_MAX;
                for (int b = 0; b < steps; ++b)
                    if (filled[size_t(b)]) cheapest = std::min(cheapest, buckets[size_t(b) * size_t(m)].cost);
                uint16_t* links = &parents[size_t(i) * width];
                uint8_t* linkCodes = &pathCodes[size_t(i) * width];
                uint8_t* linkIndices = &pathIndices[size_t(i) * width];
                survivors.clear();
                survivorIndex.clear();
                for (int b = 0; b < steps; ++b) {
                    for (int k = 0; k < filled[size_t(b)]; ++k) {
                        S_Node n = buckets[size_t(b) * size_t(m) + size_t(k)];
                        const size_t at = survivors.size();
                        links[at] = n.parent;
                        linkCodes[at] = n.code;
                        linkIndices[at] = uint8_t(b);
                        n.cost -= cheapest;
                        n.parent = uint16_t(at);
                        survivors.push_back(n);
                        survivorIndex.push_back(uint8_t(b));
                    }
                }
            }
            // Commit the cheapest path of the run.
            size_t best = 0;
            for (size_t k = 1; k < survivors.size(); ++k)
                if (Before(survivors[k], survivors[best])) best = k;
            state.prediction = survivors[best].value;
            state.stepIndex = survivorIndex[best];
            state.patternState = survivors[best].pattern;
            size_t at = best;
            for (uint32_t i = run; i-- > 0;) {
                codes[first + i] = pathCodes[size_t(i) * width + at];
                stepIndices[first + i] = pathIndices[size_t(i) * width + at];
                at = parents[size_t(i) * width + at];
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace cz
