#include "codecs/adpcm/AdpcmBlockEncoder.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>

#include "platform/CpuFeatures.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define CZ_ADPCM_X86 1
#include <immintrin.h>
#endif

namespace cz {

namespace {

// Costs are kept relative to the cheapest path of the last sample. A path
// that falls this far behind is dropped: it can never catch up within a block.
constexpr int32_t kDead = 1 << 30;
// The cost of a dropped state and of a code with no valid value. A step adds
// less than 2^24 (the squared range), and the cheapest candidate costs less
// than that too, so whatever comes from a dropped state stays dropped, and
// no sum reaches 2^31.
constexpr int32_t kNoPath = kDead + (1 << 29);
constexpr int kMaxWidth = kAdpcmMaxSearchWidth;
constexpr int kMaxSteps = 64;
// Room either side of the step candidates, so that the window may move by
// its width plus the largest index change and still read whole vectors.
constexpr int kPad = kMaxWidth + 16;
constexpr int kSpan = kPad + kMaxWidth + kPad;
// Groups of step candidates from one state: magnitudes 0 ... 3 (all lead to
// the same index in the coder's table, so only the best of them), then 4, 5,
// 6 and 7.
constexpr int kGroups = 5;

std::atomic<bool> g_vectorAllowed{true};

bool CpuHasAvx2() {
#if CZ_ADPCM_X86
    return platform::CpuTierActive(platform::CpuTier::kAvx2);
#else
    return false;
#endif
}

inline int32_t NextPattern(int32_t state, int32_t code) {
    if (code == 15) return (state == 0 || state == 2) ? state + 1 : 1;
    if (code == 0 && state == 1) return 2;
    return 0;
}

// The window of states: for step index base + k, the cheapest path there.
struct S_Window {
    int base = 0;
    alignas(32) int32_t cost[kMaxWidth];
    alignas(32) int32_t prediction[kMaxWidth];
    alignas(32) int32_t pattern[kMaxWidth];
    // The vector loop's form of a state: value - minimum in bits 0 ... 11,
    // the link (source index << 4 | code) in bits 12 ... 21, the pattern
    // state in bits 22 and 23.
    alignas(32) int32_t packed[kMaxWidth];
};

struct S_Search {
    const S_AdpcmBlockTables* tables = nullptr;
    int width = 1;
    int centre = 0;
    int top = 0;
    int32_t adjust[8] = {};
    int lowestAdjust = 0;
    int highestAdjust = 0;
    // Step sum magnitude by code magnitude and step index.
    alignas(32) int32_t sums[8][kMaxSteps] = {};
    // Index change of each group, and the groups in order of falling change
    // (rising source index for one target), for the vector merge.
    int delta[kGroups] = {};
    int order[kGroups] = {};
    // Target index of each group by source index (clamped to the table).
    alignas(32) int32_t targets[kGroups][kMaxSteps] = {};
    bool vector = false;
};

// The step candidates of one sample, by group and source lane, with
// unreachable entries either side.
struct S_Candidates {
    alignas(32) int32_t cost[kGroups][kSpan];
    alignas(32) int32_t packed[kGroups][kSpan];  // as S_Window::packed
};

constexpr int kLinkShift = 12;
constexpr int kPatternShift = 22;
// Costs above this are all alike when the cheapest target is looked for
// (the cheapest costs less than 2^24): cost and target then fit one word.
constexpr int32_t kKeyCostLimit = (1 << 25) - 1;

inline bool Barred(int32_t value, int32_t code, int32_t pattern, const S_AdpcmBlockTables& t) {
    return value < t.minimum || value > t.maximum || (code == 0 && pattern == 3);
}

// Chooses the next window around the cheapest target b, then renormalises
// the merged states into it (dropping those too far behind) and records
// their links.
inline int NextBase(const S_Search& s, int best) {
    return std::clamp(best - s.centre, 0, s.tables->stepCount - s.width);
}

inline void StoreState(S_Window& w, int k, int32_t cost, int32_t value, int32_t pattern, int32_t link,
                       int32_t least, uint16_t* links) {
    const int32_t relative = cost - least;
    if (relative >= kDead) {
        w.cost[k] = kNoPath;
        w.prediction[k] = 0;
        w.pattern[k] = 0;
        links[k] = 0;
    } else {
        w.cost[k] = relative;
        w.prediction[k] = value;
        w.pattern[k] = pattern;
        links[k] = static_cast<uint16_t>(link);
    }
}

// One sample, the plain way: every magnitude of every state scattered to
// its target index, ties to the earlier source and magnitude.
int SamplePortable(const S_Search& s, S_Window& w, int32_t target, uint16_t* links) {
    const S_AdpcmBlockTables& t = *s.tables;
    int32_t cost[kMaxSteps], value[kMaxSteps], pattern[kMaxSteps], link[kMaxSteps];
    // Only the indices the window's states can reach.
    const int reachLow = std::clamp(w.base + s.lowestAdjust, 0, s.top);
    const int reachHigh = std::clamp(w.base + s.width - 1 + s.highestAdjust, 0, s.top);
    for (int i = reachLow; i <= reachHigh; ++i) {
        cost[i] = kNoPath + 1;
        value[i] = pattern[i] = link[i] = 0;
    }
    for (int k = 0; k < s.width; ++k) {
        const int index = w.base + k;
        const bool live = w.cost[k] < kDead;
        const int32_t from = w.prediction[k];
        const int32_t state = w.pattern[k];
        const bool negative = target - from < 0;
        for (int m = 0; m < 8; ++m) {
            const int32_t toward = negative ? -s.sums[m][index] : s.sums[m][index];
            int32_t v = from + toward;
            int32_t code = m | (negative ? 8 : 0);
            bool ok = true;
            if (Barred(v, code, state, t)) {
                v = from - toward;
                code ^= 8;
                ok = !Barred(v, code, state, t);
            }
            const int32_t e = v - target;
            const int32_t c = live && ok ? w.cost[k] + e * e : kNoPath;
            const int to = std::clamp(index + s.adjust[m], 0, s.top);
            if (c < cost[to]) {
                cost[to] = c;
                value[to] = v;
                pattern[to] = NextPattern(state, code);
                link[to] = index << 4 | code;
            }
        }
    }
    int best = reachLow;
    for (int i = reachLow + 1; i <= reachHigh; ++i)
        if (cost[i] < cost[best]) best = i;
    const int32_t least = cost[best];
    w.base = NextBase(s, best);
    for (int k = 0; k < s.width; ++k) {
        const int i = w.base + k;
        if (i < reachLow || i > reachHigh) {
            StoreState(w, k, kNoPath, 0, 0, 0, least, links);
        } else {
            StoreState(w, k, cost[i], value[i], pattern[i], link[i], least, links);
        }
    }
    return best;
}

// Candidates whose index change runs past either end of the table land on
// the end index (target, 0 or the top): merged into the window's entry for it
// (if the window from next holds it) by (cost, source, magnitude).
void SettleEnd(const S_Search& s, const S_Candidates& cand, int base, int next, int width, int target, int32_t* mc,
               int32_t* mp) {
    const int k = target - next;
    if (k < 0 || k >= width) return;
    for (int g = 0; g < kGroups; ++g) {
        // Sources j whose change runs past the end: base + j + delta below
        // 0, or above the top.
        const int first = target == 0 ? 0 : std::max(0, s.top - s.delta[g] - base + 1);
        const int end = target == 0 ? std::min(width, -s.delta[g] - base) : width;
        for (int j = first; j < end; ++j) {
            const int raw = base + j + s.delta[g];
            if (raw == target || std::clamp(raw, 0, s.top) != target) continue;
            const int32_t c = cand.cost[g][kPad + j];
            const int32_t p = cand.packed[g][kPad + j];
            const int32_t l = (p >> kLinkShift) & 1023, held = (mp[k] >> kLinkShift) & 1023;
            const bool earlier = (l >> 4) < (held >> 4) || ((l >> 4) == (held >> 4) && (l & 7) < (held & 7));
            if (c < mc[k] || (c == mc[k] && earlier)) {
                mc[k] = c;
                mp[k] = p;
            }
        }
    }
}

#if CZ_ADPCM_X86

__attribute__((target("avx2"))) inline int32_t HorizontalMin(__m256i v) {
    __m128i m = _mm_min_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_min_epi32(m, _mm_shuffle_epi32(m, 0x4E));
    m = _mm_min_epi32(m, _mm_shuffle_epi32(m, 0xB1));
    return _mm_cvtsi128_si32(m);
}

// The step candidates of eight states (lanes k ... k + 7 of the window),
// stored by group; vKey takes the smallest (capped cost << 6 | target).
// kChecked: some code may leave the range or be barred, so every code is
// checked and, when it must, turns to the other sign.
template <bool kChecked>
__attribute__((target("avx2"), always_inline)) inline void StepCandidates(const S_Search& s, int base, int k, __m256i cost,
                                                           __m256i from, __m256i state, __m256i vTarget,
                                                           S_Candidates& cand, __m256i& vKey, __m256i* groupCost,
                                                           __m256i* groupPacked) {
    const S_AdpcmBlockTables& t = *s.tables;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i vLow = _mm256_set1_epi32(t.minimum);
    const __m256i vHigh = _mm256_set1_epi32(t.maximum);
    const __m256i vNoPath = _mm256_set1_epi32(kNoPath);
    const __m256i signFlip = _mm256_set1_epi32(8 << kLinkShift);
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i source = _mm256_slli_epi32(_mm256_add_epi32(_mm256_set1_epi32(base + k), iota), kLinkShift + 4);
    const __m256i negative = _mm256_cmpgt_epi32(from, vTarget);
    const __m256i signBit = _mm256_and_si256(negative, signFlip);
    const __m256i atThree = _mm256_cmpeq_epi32(state, _mm256_set1_epi32(3));
    const __m256i keyLimit = _mm256_set1_epi32(kKeyCostLimit);
    __m256i lowCost = zero, lowValue = zero, lowCode = zero;
#pragma GCC unroll 8
    for (int m = 0; m < 8; ++m) {
        const __m256i sum = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.sums[m] + base + k));
        const __m256i toward = _mm256_sub_epi32(_mm256_xor_si256(sum, negative), negative);
        __m256i value = _mm256_add_epi32(from, toward);
        // The code in link position.
        __m256i code = _mm256_or_si256(_mm256_set1_epi32(m << kLinkShift), signBit);
        __m256i nogo = zero;
        if (kChecked) {
            __m256i bad1 = _mm256_or_si256(_mm256_cmpgt_epi32(vLow, value), _mm256_cmpgt_epi32(value, vHigh));
            if (m == 0) bad1 = _mm256_or_si256(bad1, _mm256_andnot_si256(negative, atThree));
            const __m256i v2 = _mm256_sub_epi32(from, toward);
            __m256i bad2 = _mm256_or_si256(_mm256_cmpgt_epi32(vLow, v2), _mm256_cmpgt_epi32(v2, vHigh));
            if (m == 0) bad2 = _mm256_or_si256(bad2, _mm256_and_si256(negative, atThree));
            value = _mm256_blendv_epi8(value, v2, bad1);
            code = _mm256_xor_si256(code, _mm256_and_si256(bad1, signFlip));
            nogo = _mm256_and_si256(bad1, bad2);
        }
        const __m256i e = _mm256_sub_epi32(value, vTarget);
        __m256i c = _mm256_add_epi32(cost, _mm256_mullo_epi32(e, e));
        if (kChecked) c = _mm256_blendv_epi8(c, vNoPath, nogo);
        if (m < 4) {
            if (m == 0) {
                lowCost = c;
                lowValue = value;
                lowCode = code;
            } else {
                const __m256i take = _mm256_cmpgt_epi32(lowCost, c);
                lowCost = _mm256_blendv_epi8(lowCost, c, take);
                lowValue = _mm256_blendv_epi8(lowValue, value, take);
                lowCode = _mm256_blendv_epi8(lowCode, code, take);
            }
            if (m < 3) continue;
        }
        const int g = m < 4 ? 0 : m - 3;
        const __m256i gc = m < 4 ? lowCost : c;
        const __m256i gv = m < 4 ? lowValue : value;
        const __m256i gcode = m < 4 ? lowCode : code;
        __m256i next = zero;
        if (g == 0) {
            // Code 0 after 15: the pattern goes on to 2.
            next = _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi32(gcode, zero),
                                                     _mm256_cmpeq_epi32(state, _mm256_set1_epi32(1))),
                                    _mm256_set1_epi32(2 << kPatternShift));
        } else if (g == 4) {
            // Code 15: the pattern starts or goes on to 3.
            const __m256i rises = _mm256_or_si256(_mm256_cmpeq_epi32(state, zero),
                                                  _mm256_cmpeq_epi32(state, _mm256_set1_epi32(2)));
            const __m256i up = _mm256_add_epi32(_mm256_slli_epi32(state, kPatternShift), _mm256_set1_epi32(1 << kPatternShift));
            const __m256i after = _mm256_blendv_epi8(_mm256_set1_epi32(1 << kPatternShift), up, rises);
            next = _mm256_and_si256(after, _mm256_cmpeq_epi32(gcode, _mm256_set1_epi32(15 << kLinkShift)));
        }
        const __m256i packed =
            _mm256_or_si256(_mm256_or_si256(_mm256_sub_epi32(gv, vLow), _mm256_or_si256(source, gcode)), next);
        const int at = kPad + k;
        if (groupCost) {
            groupCost[g] = gc;
            groupPacked[g] = packed;
        } else {
            _mm256_store_si256(reinterpret_cast<__m256i*>(cand.cost[g] + at), gc);
            _mm256_store_si256(reinterpret_cast<__m256i*>(cand.packed[g] + at), packed);
        }
        const __m256i to = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.targets[g] + base + k));
        vKey = _mm256_min_epi32(vKey, _mm256_or_si256(_mm256_slli_epi32(_mm256_min_epi32(gc, keyLimit), 6), to));
    }
}

// The common case: no code can leave the range from any of the eight states
// and none is barred. The same candidates as StepCandidates, found with
// less work: the nearest of the four smallest sums by the midpoints between
// them (they rise strictly, so a tie goes to the smaller magnitude as
// there), errors as the step towards the sample less the distance to it.
__attribute__((target("avx2"), always_inline)) inline void OpenStepCandidates(
    const S_Search& s, int base, int k, __m256i cost, __m256i packed, __m256i from, __m256i state, __m256i vTarget,
    S_Candidates& cand, __m256i& vKey, __m256i* groupCost, __m256i* groupPacked) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i signFlip = _mm256_set1_epi32(8 << kLinkShift);
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i keyLimit = _mm256_set1_epi32(kKeyCostLimit);
    const __m256i source = _mm256_slli_epi32(_mm256_add_epi32(_mm256_set1_epi32(base + k), iota), kLinkShift + 4);
    const __m256i field = _mm256_and_si256(packed, _mm256_set1_epi32((1 << kLinkShift) - 1));
    const __m256i distance = _mm256_sub_epi32(vTarget, from);
    const __m256i negative = _mm256_cmpgt_epi32(zero, distance);
    const __m256i signBit = _mm256_and_si256(negative, signFlip);
    const __m256i twice = _mm256_slli_epi32(_mm256_abs_epi32(distance), 1);
    const int at = base + k;
    auto load = [&](const int32_t* row) __attribute__((target("avx2"))) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + at)); };
    auto emit = [&](int g, __m256i sum, __m256i code, __m256i next) __attribute__((target("avx2"))) {
        const __m256i toward = _mm256_sub_epi32(_mm256_xor_si256(sum, negative), negative);
        const __m256i e = _mm256_sub_epi32(toward, distance);
        const __m256i c = _mm256_add_epi32(cost, _mm256_mullo_epi32(e, e));
        const __m256i p = _mm256_or_si256(_mm256_or_si256(_mm256_add_epi32(field, toward), _mm256_or_si256(source, code)),
                                          next);
        if (groupCost) {
            groupCost[g] = c;
            groupPacked[g] = p;
        } else {
            _mm256_store_si256(reinterpret_cast<__m256i*>(cand.cost[g] + kPad + k), c);
            _mm256_store_si256(reinterpret_cast<__m256i*>(cand.packed[g] + kPad + k), p);
        }
        const __m256i to = load(s.targets[g]);
        vKey = _mm256_min_epi32(vKey, _mm256_or_si256(_mm256_slli_epi32(_mm256_min_epi32(c, keyLimit), 6), to));
    };
    {
        const __m256i s0 = load(s.sums[0]), s1 = load(s.sums[1]), s2 = load(s.sums[2]), s3 = load(s.sums[3]);
        const __m256i c1 = _mm256_cmpgt_epi32(twice, _mm256_add_epi32(s0, s1));
        const __m256i c2 = _mm256_cmpgt_epi32(twice, _mm256_add_epi32(s1, s2));
        const __m256i c3 = _mm256_cmpgt_epi32(twice, _mm256_add_epi32(s2, s3));
        __m256i sum = _mm256_blendv_epi8(s0, s1, c1);
        sum = _mm256_blendv_epi8(sum, s2, c2);
        sum = _mm256_blendv_epi8(sum, s3, c3);
        const __m256i magnitude = _mm256_sub_epi32(_mm256_sub_epi32(_mm256_sub_epi32(zero, c1), c2), c3);
        const __m256i code = _mm256_or_si256(_mm256_slli_epi32(magnitude, kLinkShift), signBit);
        // Code 0 after 15: the pattern goes on to 2.
        const __m256i next = _mm256_and_si256(
            _mm256_and_si256(_mm256_cmpeq_epi32(code, zero), _mm256_cmpeq_epi32(state, _mm256_set1_epi32(1))),
            _mm256_set1_epi32(2 << kPatternShift));
        emit(0, sum, code, next);
    }
    emit(1, load(s.sums[4]), _mm256_or_si256(_mm256_set1_epi32(4 << kLinkShift), signBit), zero);
    emit(2, load(s.sums[5]), _mm256_or_si256(_mm256_set1_epi32(5 << kLinkShift), signBit), zero);
    emit(3, load(s.sums[6]), _mm256_or_si256(_mm256_set1_epi32(6 << kLinkShift), signBit), zero);
    {
        const __m256i code = _mm256_or_si256(_mm256_set1_epi32(7 << kLinkShift), signBit);
        // Code 15: the pattern starts or goes on to 3.
        const __m256i rises =
            _mm256_or_si256(_mm256_cmpeq_epi32(state, zero), _mm256_cmpeq_epi32(state, _mm256_set1_epi32(2)));
        const __m256i up =
            _mm256_add_epi32(_mm256_slli_epi32(state, kPatternShift), _mm256_set1_epi32(1 << kPatternShift));
        const __m256i after = _mm256_blendv_epi8(_mm256_set1_epi32(1 << kPatternShift), up, rises);
        emit(4, load(s.sums[7]), code, _mm256_and_si256(after, negative));
    }
}

// The rare case out of line, so that the common one keeps the registers.
__attribute__((target("avx2"), noinline)) void CheckedStepCandidates(const S_Search& s, int base, int k, __m256i cost,
                                                                     __m256i from, __m256i state, __m256i vTarget,
                                                                     S_Candidates& cand, __m256i& vKey,
                                                                     __m256i* groupCost, __m256i* groupPacked) {
    StepCandidates<true>(s, base, k, cost, from, state, vTarget, cand, vKey, groupCost, groupPacked);
}

// One sample, eight states to a vector (kVectors vectors, two or more; one
// vector runs in RunAvx2One); the same candidates, the same merge and the
// same ties as SamplePortable.
template <int kVectors>
__attribute__((target("avx2"), always_inline)) inline int SampleAvx2(const S_Search& s, S_Window& w,
                                                                     S_Candidates& cand, int32_t target,
                                                                     uint16_t* links) {
    const S_AdpcmBlockTables& t = *s.tables;
    const __m256i vTarget = _mm256_set1_epi32(target);
    const __m256i vLow = _mm256_set1_epi32(t.minimum);
    const __m256i vHigh = _mm256_set1_epi32(t.maximum);
    const __m256i vNoPath = _mm256_set1_epi32(kNoPath);
    const __m256i valueMask = _mm256_set1_epi32((1 << kLinkShift) - 1);
    __m256i vKey = _mm256_set1_epi32(std::numeric_limits<int32_t>::max());
    const int base = w.base;

    for (int k = 0; k < 8 * kVectors; k += 8) {
        const __m256i cost = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.cost + k));
        const __m256i packed = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.packed + k));
        const __m256i from = _mm256_add_epi32(_mm256_and_si256(packed, valueMask), vLow);
        const __m256i state = _mm256_srli_epi32(packed, kPatternShift);
        // Most of the time no code can leave the range from any of these
        // states and none is barred: then the checks are left out.
        const __m256i reach = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.sums[7] + base + k));
        const __m256i risky =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpgt_epi32(_mm256_add_epi32(vLow, reach), from),
                                            _mm256_cmpgt_epi32(from, _mm256_sub_epi32(vHigh, reach))),
                            _mm256_cmpeq_epi32(state, _mm256_set1_epi32(3)));
        if (_mm256_testz_si256(risky, risky)) {
            OpenStepCandidates(s, base, k, cost, packed, from, state, vTarget, cand, vKey, nullptr, nullptr);
        } else {
            CheckedStepCandidates(s, base, k, cost, from, state, vTarget, cand, vKey, nullptr, nullptr);
        }
    }
    const int32_t key = HorizontalMin(vKey);
    const int32_t least = key >> 6;
    const int best = key & 63;
    const int next = NextBase(s, best);
    const int shift = next - base;

    // Merge: for each target of the new window, the candidates that land
    // there exactly, in rising source order (strictly cheaper replaces).
    alignas(32) int32_t mc[kMaxWidth], mp[kMaxWidth];
    for (int k = 0; k < 8 * kVectors; k += 8) {
        __m256i c = vNoPath, p = _mm256_setzero_si256();
#pragma GCC unroll 5
        for (int o = 0; o < kGroups; ++o) {
            const int g = s.order[o];
            const int at = shift + k - s.delta[g];
            const __m256i gc = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cand.cost[g] + kPad + at));
            const __m256i gp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cand.packed[g] + kPad + at));
            const __m256i take = _mm256_cmpgt_epi32(c, gc);
            c = _mm256_blendv_epi8(c, gc, take);
            p = _mm256_blendv_epi8(p, gp, take);
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(mc + k), c);
        _mm256_store_si256(reinterpret_cast<__m256i*>(mp + k), p);
    }
    const bool low = base == 0, high = base + 8 * kVectors + 7 > s.top;
    if (low) SettleEnd(s, cand, base, next, 8 * kVectors, 0, mc, mp);
    if (high) SettleEnd(s, cand, base, next, 8 * kVectors, s.top, mc, mp);

    w.base = next;
    const __m256i vLeast = _mm256_set1_epi32(least);
    const __m256i lastLive = _mm256_set1_epi32(kDead - 1);
    const __m256i linkMask = _mm256_set1_epi32(1023);
    for (int k = 0; k < 8 * kVectors; k += 8) {
        const __m256i c = _mm256_sub_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(mc + k)), vLeast);
        const __m256i drop = _mm256_cmpgt_epi32(c, lastLive);
        const __m256i p = _mm256_andnot_si256(drop, _mm256_load_si256(reinterpret_cast<const __m256i*>(mp + k)));
        _mm256_store_si256(reinterpret_cast<__m256i*>(w.cost + k), _mm256_blendv_epi8(c, vNoPath, drop));
        _mm256_store_si256(reinterpret_cast<__m256i*>(w.packed + k), p);
        const __m256i l = _mm256_and_si256(_mm256_srli_epi32(p, kLinkShift), linkMask);
        const __m256i pair = _mm256_permute4x64_epi64(_mm256_packus_epi32(l, l), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(links + k), _mm256_castsi256_si128(pair));
    }
    return best;
}

// The samples of a block through SampleAvx2 (two or more vectors); returns
// the last cheapest index.
template <int kVectors>
__attribute__((target("avx2"))) int RunAvx2(const S_Search& s, S_Window& w, const int16_t* samples, uint32_t count,
                                            uint16_t (*links)[kMaxWidth], uint8_t* bases) {
    S_Candidates cand;
    for (int g = 0; g < kGroups; ++g) {
        for (int i = 0; i < kSpan; ++i) {
            cand.cost[g][i] = kNoPath;
            cand.packed[g][i] = 0;
        }
    }
    int best = 0;
    for (uint32_t i = 0; i < count; ++i) {
        best = SampleAvx2<kVectors>(s, w, cand, samples[i], links[i]);
        bases[i] = static_cast<uint8_t>(w.base);
    }
    return best;
}

// The samples of a block with a window of one vector: the states stay in
// registers from sample to sample, the cheapest target and the window's move
// are worked out in the vector unit, and the candidates are merged as a tree
// (the first of equal costs still wins). The same results as SampleAvx2<1>.
__attribute__((target("avx2"))) int RunAvx2One(const S_Search& s, S_Window& w, const int16_t* samples, uint32_t count,
                                               uint16_t (*links)[kMaxWidth], uint8_t* bases) {
    const S_AdpcmBlockTables& t = *s.tables;
    S_Candidates cand;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i vLow = _mm256_set1_epi32(t.minimum);
    const __m256i vHigh = _mm256_set1_epi32(t.maximum);
    const __m256i vNoPath = _mm256_set1_epi32(kNoPath);
    const __m256i three = _mm256_set1_epi32(3);
    const __m256i valueMask = _mm256_set1_epi32((1 << kLinkShift) - 1);
    const __m256i linkMask = _mm256_set1_epi32(1023);
    const __m256i lastLive = _mm256_set1_epi32(kDead - 1);
    const __m256i minusOne = _mm256_set1_epi32(-1);
    const __m256i eight = _mm256_set1_epi32(8);
    const __m256i low6 = _mm256_set1_epi32(63);
    const __m256i centre = _mm256_set1_epi32(s.centre);
    const __m256i lastBase = _mm256_set1_epi32(t.stepCount - 8);
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i lanes[kGroups];
    for (int o = 0; o < kGroups; ++o) lanes[o] = _mm256_sub_epi32(iota, _mm256_set1_epi32(s.delta[s.order[o]]));
    __m256i cost = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.cost));
    __m256i packed = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.packed));
    int base = w.base;
    int best = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const __m256i vTarget = _mm256_set1_epi32(samples[i]);
        const __m256i vBase = _mm256_set1_epi32(base);
        const __m256i from = _mm256_add_epi32(_mm256_and_si256(packed, valueMask), vLow);
        const __m256i state = _mm256_srli_epi32(packed, kPatternShift);
        const __m256i reach = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.sums[7] + base));
        const __m256i risky =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpgt_epi32(_mm256_add_epi32(vLow, reach), from),
                                            _mm256_cmpgt_epi32(from, _mm256_sub_epi32(vHigh, reach))),
                            _mm256_cmpeq_epi32(state, three));
        __m256i vKey = _mm256_set1_epi32(std::numeric_limits<int32_t>::max());
        __m256i gc[kGroups], gp[kGroups];
        if (_mm256_testz_si256(risky, risky)) {
            OpenStepCandidates(s, base, 0, cost, packed, from, state, vTarget, cand, vKey, gc, gp);
        } else {
            CheckedStepCandidates(s, base, 0, cost, from, state, vTarget, cand, vKey, gc, gp);
        }
        // The smallest key in every lane.
        __m256i key = _mm256_min_epi32(vKey, _mm256_permute2x128_si256(vKey, vKey, 1));
        key = _mm256_min_epi32(key, _mm256_shuffle_epi32(key, 0x4E));
        key = _mm256_min_epi32(key, _mm256_shuffle_epi32(key, 0xB1));
        const __m256i least = _mm256_srai_epi32(key, 6);
        const __m256i next = _mm256_min_epi32(
            _mm256_max_epi32(_mm256_sub_epi32(_mm256_and_si256(key, low6), centre), zero), lastBase);
        const __m256i shift = _mm256_sub_epi32(next, vBase);
        __m256i mc[kGroups], mp[kGroups];
#pragma GCC unroll 5
        for (int o = 0; o < kGroups; ++o) {
            const int g = s.order[o];
            const __m256i lane = _mm256_add_epi32(shift, lanes[o]);
            const __m256i inside = _mm256_and_si256(_mm256_cmpgt_epi32(lane, minusOne), _mm256_cmpgt_epi32(eight, lane));
            mc[o] = _mm256_blendv_epi8(vNoPath, _mm256_permutevar8x32_epi32(gc[g], lane), inside);
            mp[o] = _mm256_permutevar8x32_epi32(gp[g], lane);
        }
        auto merge = [&](int a, int b) __attribute__((target("avx2"))) {
            const __m256i take = _mm256_cmpgt_epi32(mc[a], mc[b]);
            mc[a] = _mm256_blendv_epi8(mc[a], mc[b], take);
            mp[a] = _mm256_blendv_epi8(mp[a], mp[b], take);
        };
        merge(0, 1);
        merge(2, 3);
        merge(0, 2);
        merge(0, 4);
        const int32_t scalarKey = _mm256_cvtsi256_si32(key);
        best = scalarKey & 63;
        const int nextBase = NextBase(s, best);
        __m256i c = mc[0], p = mp[0];
        const bool lowEnd = base == 0, highEnd = base + 15 > s.top;
        if (lowEnd || highEnd) {
            alignas(32) int32_t mcs[8], mps[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(mcs), c);
            _mm256_store_si256(reinterpret_cast<__m256i*>(mps), p);
            for (int g = 0; g < kGroups; ++g) {
                _mm256_store_si256(reinterpret_cast<__m256i*>(cand.cost[g] + kPad), gc[g]);
                _mm256_store_si256(reinterpret_cast<__m256i*>(cand.packed[g] + kPad), gp[g]);
            }
            if (lowEnd) SettleEnd(s, cand, base, nextBase, 8, 0, mcs, mps);
            if (highEnd) SettleEnd(s, cand, base, nextBase, 8, s.top, mcs, mps);
            c = _mm256_load_si256(reinterpret_cast<const __m256i*>(mcs));
            p = _mm256_load_si256(reinterpret_cast<const __m256i*>(mps));
        }
        c = _mm256_sub_epi32(c, least);
        const __m256i drop = _mm256_cmpgt_epi32(c, lastLive);
        cost = _mm256_blendv_epi8(c, vNoPath, drop);
        packed = _mm256_andnot_si256(drop, p);
        const __m256i l = _mm256_and_si256(_mm256_srli_epi32(packed, kLinkShift), linkMask);
        const __m256i pair = _mm256_permute4x64_epi64(_mm256_packus_epi32(l, l), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(links[i]), _mm256_castsi256_si128(pair));
        base = nextBase;
        bases[i] = static_cast<uint8_t>(base);
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(w.cost), cost);
    _mm256_store_si256(reinterpret_cast<__m256i*>(w.packed), packed);
    w.base = base;
    return best;
}

#endif  // CZ_ADPCM_X86

// The vector loop needs the table shape it merges by: magnitudes 0 ... 3
// sharing one index change, the other four changes distinct from it and from
// each other, none beyond 8, and whole vectors of states.
bool VectorFits(const S_Search& s) {
    for (int m = 1; m < 4; ++m)
        if (s.adjust[m] != s.adjust[0]) return false;
    for (int g = 0; g < kGroups; ++g) {
        if (s.delta[g] < -8 || s.delta[g] > 8) return false;
        for (int h = 0; h < g; ++h)
            if (s.delta[g] == s.delta[h]) return false;
    }
    const S_AdpcmBlockTables& t = *s.tables;
    for (int i = 0; i < t.stepCount; ++i)
        if (s.sums[1][i] <= s.sums[0][i] || s.sums[2][i] <= s.sums[1][i] || s.sums[3][i] <= s.sums[2][i]) return false;
    return s.width % 8 == 0 && t.maximum >= t.minimum && t.maximum - t.minimum < (1 << kLinkShift);
}

}  // namespace

bool AdpcmSearchVectorActive() { return g_vectorAllowed.load(std::memory_order_relaxed) && CpuHasAvx2(); }

void SetAdpcmSearchVectorAllowed(bool allowed) { g_vectorAllowed.store(allowed, std::memory_order_relaxed); }

void EncodeAdpcmBlock(const int16_t* samples, uint32_t count, const S_AdpcmBlockTables& tables,
                      S_AdpcmBlockState& state, uint8_t* codes, uint8_t* stepIndices, int searchWidth) {
    count = std::min(count, kAdpcmBlockSamples);
    if (count == 0 || tables.steps == nullptr || tables.indexAdjust == nullptr || tables.stepCount < 1) return;
    S_Search s;
    s.tables = &tables;
    const int stepCount = std::min<int>(tables.stepCount, kMaxSteps);
    S_AdpcmBlockTables bounded = tables;
    bounded.stepCount = stepCount;
    s.tables = &bounded;
    s.top = stepCount - 1;
    s.width = std::clamp(searchWidth, 1, std::min(kMaxWidth, stepCount));
    s.centre = s.width / 4;
    for (int m = 0; m < 8; ++m) s.adjust[m] = tables.indexAdjust[m];
    s.lowestAdjust = *std::min_element(s.adjust, s.adjust + 8);
    s.highestAdjust = *std::max_element(s.adjust, s.adjust + 8);
    for (int i = 0; i < stepCount; ++i) {
        const int32_t step = tables.steps[i];
        for (int m = 0; m < 8; ++m) {
            int32_t sum = step >> 3;
            if (m & 4) sum += step;
            if (m & 2) sum += step >> 1;
            if (m & 1) sum += step >> 2;
            s.sums[m][i] = sum;
        }
    }
    s.delta[0] = s.adjust[0];
    for (int g = 1; g < kGroups; ++g) s.delta[g] = s.adjust[g + 3];
    for (int g = 0; g < kGroups; ++g) s.order[g] = g;
    std::stable_sort(s.order, s.order + kGroups, [&](int a, int b) { return s.delta[a] > s.delta[b]; });
    for (int g = 0; g < kGroups; ++g)
        for (int i = 0; i < stepCount; ++i) s.targets[g][i] = std::clamp(i + s.delta[g], 0, s.top);
    s.vector = AdpcmSearchVectorActive() && VectorFits(s);

    S_Window w;
    const int start = std::min<int>(state.stepIndex, s.top);
    w.base = NextBase(s, start);
    for (int k = 0; k < kMaxWidth; ++k) {
        w.cost[k] = kNoPath;
        w.prediction[k] = 0;
        w.pattern[k] = 0;
        w.packed[k] = 0;
    }
    const int first = start - w.base;
    w.cost[first] = 0;
    w.prediction[first] = std::clamp(state.prediction, tables.minimum, tables.maximum);
    w.pattern[first] = std::min<int32_t>(state.patternState, 3);
    w.packed[first] = (w.prediction[first] - tables.minimum) | w.pattern[first] << kPatternShift;

    // Links of every sample's window, for the trace back.
    uint16_t links[kAdpcmBlockSamples][kMaxWidth];
    uint8_t bases[kAdpcmBlockSamples];
    int best = start;
#if CZ_ADPCM_X86
    if (s.vector) {
        switch (s.width / 8) {
            case 1: best = RunAvx2One(s, w, samples, count, links, bases); break;
            case 2: best = RunAvx2<2>(s, w, samples, count, links, bases); break;
            case 3: best = RunAvx2<3>(s, w, samples, count, links, bases); break;
            default: best = RunAvx2<4>(s, w, samples, count, links, bases); break;
        }
        const int last = best - w.base;
        w.prediction[last] = (w.packed[last] & ((1 << kLinkShift) - 1)) + tables.minimum;
        w.pattern[last] = w.packed[last] >> kPatternShift;
    }
#endif
    if (!s.vector) {
        for (uint32_t i = 0; i < count; ++i) {
            best = SamplePortable(s, w, samples[i], links[i]);
            bases[i] = static_cast<uint8_t>(w.base);
        }
    }

    // Some code is always in range from an in-range state with the coder's
    // steps (the smallest sums cannot leave the range both ways, and only code
    // 0 can be barred), so the cheapest path is a real one; the trace back
    // stays within the arrays whatever happens.
    const int last = best - w.base;
    state.prediction = w.prediction[last];
    state.stepIndex = static_cast<uint16_t>(best);
    state.patternState = static_cast<uint16_t>(w.pattern[last]);
    int index = best;
    for (uint32_t i = count; i-- > 0;) {
        const int k = std::clamp(index - bases[i], 0, s.width - 1);
        const uint16_t link = links[i][k];
        codes[i] = static_cast<uint8_t>(link & 15);
        stepIndices[i] = static_cast<uint8_t>(index);
        index = std::min<int>(link >> 4, s.top);
    }
}

}  // namespace cz
