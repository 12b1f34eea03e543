#include "codecs/mdpcm/C_MDPCMEncDec.h"

#include <vector>

#include <typeinfo>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "foundation/I_ProgressCallback.h"

namespace cz {

namespace {

struct ScaleEntry {
    uint16_t threshold;  // largest sample-to-sample change the step follows
    uint16_t step;
};

// Threshold 123 + 124 i, step 8 (i + 1): fifteen steps of a scale reach a
// little less than its threshold, so a frame's steepest slope is followed.
constexpr std::array<ScaleEntry, C_MDPCMEncDec::kScaleCount> kScaleTable = [] {
    std::array<ScaleEntry, C_MDPCMEncDec::kScaleCount> table{};
    for (int i = 0; i < C_MDPCMEncDec::kScaleCount; ++i)
        table[i] = {static_cast<uint16_t>(123 + 124 * i), static_cast<uint16_t>(8 * (i + 1))};
    return table;
}();

constexpr int kMinValue = 0;
constexpr int kMaxValue = 4095;
constexpr int kMidScale = 2048;

// Change applied to the reconstruction v at a padding position.
int PadDelta(int v, int32_t padMode) {
    if (padMode == 0) {  // toward mid-scale
        if (v < 2032) return 16;
        if (v < 2040) return 8;
        if (v < 2048) return 0;
        if (v < 2056) return -8;
        return -16;
    }
    if (padMode == 1) {  // toward zero
        if (v > 16) return -16;
        if (v >= 8) return -8;
        return 0;
    }
    return 0;
}

void ReportBegin(I_ProgressCallback* progress) {
    if (progress) progress->OnBegin();
}

void ReportEnd(I_ProgressCallback* progress) {
    if (progress) progress->OnEnd();
}

}  // namespace

C_MDPCMEncDec::C_MDPCMEncDec(uint32_t headerAlias, uint16_t firstSampleBits)
    : headerAlias_(headerAlias), firstSampleBits_(firstSampleBits) {}

C_MDPCMEncDec::~C_MDPCMEncDec() = default;

uint16_t C_MDPCMEncDec::ScaleStep(int index) { return kScaleTable[static_cast<size_t>(index)].step; }

uint16_t C_MDPCMEncDec::ScaleThreshold(int index) { return kScaleTable[static_cast<size_t>(index)].threshold; }

int C_MDPCMEncDec::NearestDifference(int difference, int step) {
    const int q = difference >= 1 ? (difference + step / 2) / step : (difference - step / 2) / step;
    return std::clamp(q, kMinDifference, kMaxDifference);
}

uint8_t C_MDPCMEncDec::HeaderByte(int index, uint32_t kind) const {
    const int written = (headerAlias_ != 0 && index == 0) ? 14 : index;
    return static_cast<uint8_t>((written << 1) | static_cast<int>(kind & 1));
}

int C_MDPCMEncDec::IndexFromHeader(uint8_t header) const {
    int index = header >> 1;
    if (headerAlias_ != 0 && index == 14) index = 0;
    return index < kScaleCount ? index : -1;
}

int C_MDPCMEncDec::AvoidEndMarker(int index, uint32_t kind) const {
    // A header equal to the end marker would end the stream early (a quiet
    // short frame is header 0, the default marker, unless the alias is on).
    auto usable = [&](int i) { return !(headerAlias_ != 0 && i == 14) && HeaderByte(i, kind) != endMarker_; };
    if (usable(index)) return index;
    for (int i = index + 1; i < kScaleCount; ++i)
        if (usable(i)) return i;
    for (int i = index - 1; i >= 0; --i)
        if (usable(i)) return i;
    return index;
}

int C_MDPCMEncDec::RoundFirstSample(int value) const {
    if (firstSampleBits_ >= 12) return value;
    const int shift = 12 - firstSampleBits_;
    return (((value - kMidScale) >> shift) << shift) + kMidScale;
}

void C_MDPCMEncDec::BeginStream(uint8_t* out, size_t outSize, uint16_t initialValue) {
    output_ = out;
    outputSize_ = outSize;
    outputPos_ = 0;
    // A start outside the 12-bit range would push differences past -15..15.
    current_ = std::min<int>(initialValue, kMaxValue);
}

void C_MDPCMEncDec::BeginDecode(const uint16_t* out, size_t& outCapacity, const uint8_t* in, size_t& inSize,
                                I_ProgressCallback* progress) {
    endMarkerSeen_ = false;
    if (out == nullptr) outCapacity = 0;
    if (in == nullptr) inSize = 0;
    ReportBegin(progress);
}

void C_MDPCMEncDec::ReportDecodeProgress(I_ProgressCallback* progress, size_t pos, size_t inSize) {
    if (progress) progress->OnProgress(static_cast<int32_t>(pos * 100 / inSize));
}

void C_MDPCMEncDec::EndDecode(I_ProgressCallback* progress) {
    if (progress) progress->OnProgress(100);
    ReportEnd(progress);
}

std::optional<C_MDPCMEncDec::S_FrameHeader> C_MDPCMEncDec::ReadFrameHeader(const uint8_t* in, size_t inSize, size_t pos,
                                                                           uint32_t longLength, uint32_t shortLength) {
    if (pos >= inSize) return std::nullopt;
    const uint8_t header = in[pos];
    if (header == endMarker_) {
        endMarkerSeen_ = true;
        return std::nullopt;
    }
    const int index = IndexFromHeader(header);
    if (index < 0) return std::nullopt;
    return S_FrameHeader{index, (header & 1) ? longLength : shortLength};
}

void C_MDPCMEncDec::PlanFrames(uint32_t sampleCount, uint32_t longLength, uint32_t shortLength) {
    longFrames_ = shortFrames_ = padding_ = 0;
    if (longLength == 0 || shortLength == 0) return;
    const uint64_t total = sampleCount;
    const uint64_t L = longLength;
    const uint64_t S = shortLength;
    if (total <= S) {
        shortFrames_ = 1;
        padding_ = static_cast<uint32_t>(S - total);
        return;
    }
    uint64_t a = total / L;
    uint64_t r = total % L;
    uint64_t b = r / S;
    uint64_t bestA = a, bestB = b, bestE = r % S;
    // Trade long frames for short ones while that may shrink the remainder.
    while (a > 0 && bestE != 0 && b < a) {
        r += L;
        --a;
        b = r / S;
        if (r % S < bestE) {
            bestA = a;
            bestB = b;
            bestE = r % S;
        }
    }
    const uint64_t shorts = bestB + (bestE != 0 ? 1 : 0);
    longFrames_ = static_cast<uint32_t>(bestA);
    shortFrames_ = static_cast<uint32_t>(shorts);
    padding_ = static_cast<uint32_t>(bestA * L + shorts * S - total);
}

uint64_t C_MDPCMEncDec::GetMaxEncodedSize(uint32_t sampleCount, uint32_t longLength, uint32_t shortLength) {
    PlanFrames(sampleCount, longLength, shortLength);
    return uint64_t{sampleCount} + 102 + 2 * (uint64_t{padding_} + uint64_t{longFrames_} + uint64_t{shortFrames_});
}

uint32_t C_MDPCMEncDec::Encode(uint8_t* out, size_t outSize, uint32_t sampleCount, const uint16_t* samples,
                               uint16_t initialValue, uint32_t longLength, uint32_t shortLength, int32_t padMode,
                               I_ProgressCallback* progress) {
    if (out == nullptr || (sampleCount != 0 && samples == nullptr) || longLength == 0 || shortLength == 0) return 0;
    const uint64_t needed = GetMaxEncodedSize(sampleCount, longLength, shortLength);
    if (uint64_t{outSize} < needed || needed > UINT32_MAX) return 0;
    BeginStream(out, outSize, initialValue);

    const bool search = effort_ != 0 && typeid(*this) == typeid(C_MDPCMEncDec) && StreamSearchFits();
    const uint8_t effort = effort_;
    if (search) effort_ = 0;  // the classic coding first: the searches must beat it
    struct RestoreEffort {
        uint8_t& effort;
        uint8_t value;
        ~RestoreEffort() { effort = value; }
    } restore{effort_, effort};
    const int start = current_;
    const uint64_t frames = uint64_t{longFrames_} + shortFrames_;
    uint64_t done = 0;
    uint32_t next = 0;
    I_ProgressCallback* const classicProgress = search ? nullptr : progress;
    ReportBegin(classicProgress);
    auto codeFrames = [&](uint32_t count, uint32_t length, uint32_t kind) {
        for (uint32_t i = 0; i < count; ++i) {
            if (EncodeFrame(samples, sampleCount, next, length, kind, padMode) == 0) return false;
            next += length;
            ++done;
            if (classicProgress) classicProgress->OnProgress(static_cast<int32_t>(done * 100 / frames));
        }
        return true;
    };
    const bool coded = codeFrames(longFrames_, longLength, 1) && codeFrames(shortFrames_, shortLength, 0);
    ReportEnd(classicProgress);
    if (!coded) return 0;
    if (search) {
        // Each effort level up to the one set is searched and the least
        // squared error kept, so a higher effort never codes worse than a
        // lower one or than the classic coder.
        effort_ = effort;
        std::vector<uint16_t> decoded(sampleCount);
        const uint32_t got = Decode(decoded.data(), decoded.size(), output_, outputPos_, static_cast<uint16_t>(start),
                                    longLength, shortLength, nullptr);
        int64_t bestError = 0;
        for (uint32_t i = 0; i < got; ++i)
            bestError += int64_t(int(decoded[i]) - samples[i]) * (int(decoded[i]) - samples[i]);
        std::vector<uint8_t> bytes, bestBytes;
        int bestEnd = current_;
        current_ = start;
        for (uint8_t level = 1; level <= effort; ++level) {
            int64_t error = 0;
            int end = 0;
            if (!EncodeStreamSearch(level, samples, sampleCount, longLength, shortLength, padMode,
                                    level == effort ? progress : nullptr, &bytes, &error, &end))
                continue;
            if (error < bestError && bytes.size() == outputPos_) {
                bestError = error;
                bestEnd = end;
                bestBytes.swap(bytes);
            }
        }
        if (!bestBytes.empty()) std::copy(bestBytes.begin(), bestBytes.end(), output_);
        current_ = bestEnd;
    }
    if (!HaveRoom(1)) return 0;
    Put(endMarker_);
    return static_cast<uint32_t>(outputPos_);
}

uint32_t C_MDPCMEncDec::EncodeFrameSearch(const uint16_t* samples, uint32_t sampleCount, uint32_t first,
                                          uint32_t frameLength, uint32_t kind, int32_t padMode) {
    // One way of coding the frame at a scale index: its differences, the
    // squared error over the real samples, and the value it ends on.
    struct Coding {
        int64_t cost = INT64_MAX;
        int index = -1;
        int end = 0;
        std::vector<int8_t> q;
    };
    auto targetAt = [&](uint32_t k, int v) {
        const uint64_t pos = uint64_t{first} + k;
        return pos < sampleCount ? static_cast<int>(samples[pos]) : v + PadDelta(v, padMode);
    };
    auto counts = [&](uint32_t k) { return uint64_t{first} + k < sampleCount; };
    // The difference q from v at step, kept in range as the classic rule
    // does; the value after it (the frame's first value rounded).
    auto apply = [&](int v, int q, int step, uint32_t k) {
        v += q * step;
        if (k == 0) v = std::clamp(RoundFirstSample(v), kMinValue, kMaxValue);
        return v;
    };
    auto greedy = [&](int index) {
        Coding c;
        c.index = index;
        c.cost = 0;
        c.q.resize(frameLength);
        const int step = kScaleTable[index].step;
        int v = current_;
        for (uint32_t k = 0; k < frameLength; ++k) {
            const int t = targetAt(k, v);
            int q = NearestDifference(t - v, step);
            while (v + q * step > kMaxValue) --q;
            while (v + q * step < kMinValue) ++q;
            v = apply(v, q, step, k);
            c.q[k] = static_cast<int8_t>(q);
            if (counts(k)) c.cost += int64_t(t - v) * (t - v);
        }
        c.end = v;
        return c;
    };
    // A trellis over the reconstruction: the `beam` cheapest distinct values
    // after each sample, each extended by the nearest difference and its
    // neighbours.
    auto search = [&](int index, int beam) {
        struct Node {
            int64_t cost;
            int v;
            int parent;
            int8_t q;
        };
        const int step = kScaleTable[index].step;
        std::vector<Node> live{{0, current_, -1, 0}}, next;
        std::vector<std::vector<Node>> history;
        history.reserve(frameLength);
        for (uint32_t k = 0; k < frameLength; ++k) {
            next.clear();
            for (size_t s = 0; s < live.size(); ++s) {
                const int v = live[s].v;
                const int t = targetAt(k, v);
                const int nearest = NearestDifference(t - v, step);
                for (int q = nearest - 1; q <= nearest + 1; ++q) {
                    if (q < kMinDifference || q > kMaxDifference) continue;
                    if (v + q * step > kMaxValue || v + q * step < kMinValue) continue;
                    const int nv = apply(v, q, step, k);
                    const int64_t e = counts(k) ? int64_t(t - nv) * (t - nv) : 0;
                    const Node n{live[s].cost + e, nv, int(s), static_cast<int8_t>(q)};
                    auto same = std::find_if(next.begin(), next.end(), [&](const Node& m) { return m.v == nv; });
                    if (same == next.end())
                        next.push_back(n);
                    else if (n.cost < same->cost)
                        *same = n;
                }
            }
            if (next.empty()) return greedy(index);  // no difference stays in range: keep the classic rule
            std::sort(next.begin(), next.end(),
                      [](const Node& a, const Node& b) { return a.cost != b.cost ? a.cost < b.cost : a.v < b.v; });
            if (next.size() > size_t(beam)) next.resize(size_t(beam));
            history.push_back(next);
            live.swap(next);
        }
        Coding c;
        c.index = index;
        c.cost = live[0].cost;
        c.end = live[0].v;
        c.q.resize(frameLength);
        int at = 0;
        for (uint32_t k = frameLength; k-- > 0;) {
            c.q[k] = history[k][size_t(at)].q;
            at = history[k][size_t(at)].parent;
        }
        return c;
    };

    std::vector<Coding> tried;
    for (int index = 0; index < kScaleCount; ++index) {
        if (headerAlias_ != 0 && index == 14) continue;
        if (AvoidEndMarker(index, kind) != index) continue;
        tried.push_back(greedy(index));
    }
    if (tried.empty()) return 0;
    std::stable_sort(tried.begin(), tried.end(), [](const Coding& a, const Coding& b) { return a.cost < b.cost; });
    Coding best = tried.front();
    if (effort_ >= 2) {
        const size_t candidates = effort_ >= 3 ? std::min<size_t>(3, tried.size()) : 1;
        const int beam = effort_ >= 3 ? 16 : 4;
        for (size_t i = 0; i < candidates; ++i) {
            Coding c = search(tried[i].index, beam);
            if (c.cost < best.cost) best = std::move(c);
        }
    }
    Put(HeaderByte(best.index, kind));
    for (uint32_t k = 0; k < frameLength; ++k) Put(static_cast<uint8_t>(best.q[k]));
    current_ = best.end;
    return frameLength + 1;
}

namespace {

// How wide the stream search looks at each effort: the end values kept from
// frame to frame, the lattice points kept on either side of each target, and
// the scale indices tried below and above the classic coder's choice.
struct StreamSearchSetting {
    size_t survivors;
    int halfWidth;
    int below;
    int above;
};

StreamSearchSetting StreamSearchFor(uint8_t effort) {
    switch (effort) {
        case 1: return {1, 2, 1, 0};
        case 2: return {2, 3, 1, 1};
        default: return {4, 4, 2, 1};
    }
}

// floor(a / b) for b > 0.
int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

bool C_MDPCMEncDec::EncodeStreamSearch(uint8_t level, const uint16_t* samples, uint32_t sampleCount,
                                       uint32_t longLength, uint32_t shortLength, int32_t padMode,
                                       I_ProgressCallback* progress, std::vector<uint8_t>* bytes, int64_t* error,
                                       int* end) const {
    // Within a frame every value the decoder can reach lies on one lattice:
    // the frame-start value rounded as the decoder rounds it (steps are
    // multiples of the rounding unit) plus whole steps. A Viterbi search runs
    // over a window of lattice points around each target, following the
    // reachable range when the signal climbs faster than 15 steps a sample.
    // Across frames the decoder carries only its value, so the end values of
    // all searched codings are merged by value and the cheapest few go on:
    // the error counted is the reconstruction's over the whole stream.
    const StreamSearchSetting setting = StreamSearchFor(level);
    const int width = 2 * setting.halfWidth + 1;

    struct Node {
        int32_t parent;
        uint8_t header;
        size_t at;
        uint32_t length;
    };
    struct Survivor {
        int64_t cost;
        int value;
        int32_t node;
    };
    struct Run {
        size_t survivor;
        int index;
        int base;
        int step;
    };
    std::vector<Node> nodes;
    std::vector<int8_t> pool;
    std::vector<Survivor> live{{0, current_, -1}}, next;
    std::vector<Run> runs;
    std::vector<int32_t> windows;  // per run and sample: first lattice point, points kept
    std::vector<uint8_t> parents;  // per run, sample and point: the point it came from
    std::vector<int64_t> finals;   // per run and point: the cost at the frame's last sample
    std::vector<int64_t> previous(static_cast<size_t>(width)), current(static_cast<size_t>(width));
    std::vector<int64_t> bestAt(kMaxValue + 1);
    std::vector<uint32_t> stamp(kMaxValue + 1, 0);
    std::vector<std::pair<uint32_t, int>> whoAt(kMaxValue + 1);
    std::vector<int> touched, lattice;
    uint32_t epoch = 0;

    const uint64_t frames = uint64_t{longFrames_} + shortFrames_;
    uint32_t first = 0;
    ReportBegin(progress);
    for (uint64_t f = 0; f < frames; ++f) {
        const bool isLong = f < longFrames_;
        const uint32_t kind = isLong ? 1 : 0;
        const uint32_t n = isLong ? longLength : shortLength;
        const uint32_t real = first >= sampleCount ? 0 : std::min(n, sampleCount - first);
        const uint16_t* x = samples + (real != 0 ? first : 0);

        // The classic choice from the best value so far, and the indices
        // around it that this frame kind may announce.
        int peak = 0;
        for (uint32_t k = 0, prev = static_cast<uint32_t>(live[0].value); k < real; prev = x[k], ++k)
            peak = std::max(peak, std::abs(int(x[k]) - int(prev)));
        int classic = kScaleCount - 1;
        for (int i = 0; i < kScaleCount; ++i)
            if (kScaleTable[i].threshold >= peak) {
                classic = i;
                break;
            }
        auto usable = [&](int i) { return !(headerAlias_ != 0 && i == 14) && AvoidEndMarker(i, kind) == i; };
        std::vector<int> indices;
        for (int i = std::max(0, classic - setting.below); i <= std::min(kScaleCount - 1, classic + setting.above); ++i)
            if (usable(i)) indices.push_back(i);
        if (indices.empty())
            for (int i = 0; i < kScaleCount; ++i)
                if (usable(i)) indices.push_back(i);
        if (indices.empty()) return false;

        // The padding after the last real sample follows the classic rule
        // from the value reached; it is not counted.
        auto pad = [&](int v, int step, uint32_t from, std::vector<int8_t>& q) {
            for (uint32_t k = from; k < n; ++k) {
                int d = NearestDifference(PadDelta(v, padMode), step);
                while (v + d * step > kMaxValue) --d;
                while (v + d * step < kMinValue) ++d;
                v += d * step;
                if (k == 0) v = std::clamp(RoundFirstSample(v), kMinValue, kMaxValue);
                q.push_back(static_cast<int8_t>(d));
            }
            return v;
        };

        next.clear();
        std::vector<int8_t> q;
        if (real == 0) {
            const int index = indices.back();
            q.clear();
            const int end = pad(live[0].value, kScaleTable[index].step, 0, q);
            nodes.push_back({live[0].node, HeaderByte(index, kind), pool.size(), n});
            pool.insert(pool.end(), q.begin(), q.end());
            next.push_back({live[0].cost, end, static_cast<int32_t>(nodes.size() - 1)});
        } else {
            runs.clear();
            windows.clear();
            parents.clear();
            finals.clear();
            for (size_t s = 0; s < live.size(); ++s) {
                const int v = live[s].value;
                for (const int index : indices) {
                    const int step = kScaleTable[index].step;
                    const int base = RoundFirstSample(v);
                    const int jMin = -(base / step), jMax = (kMaxValue - base) / step;
                    int reachLo = std::max(kMinDifference, -(v / step));
                    int reachHi = std::min(kMaxDifference, (kMaxValue - v) / step);
                    int prevLo = 0, prevCount = 0;
                    const size_t parentAt = parents.size();
                    parents.resize(parentAt + size_t{real} * size_t(width));
                    for (uint32_t k = 0; k < real; ++k) {
                        const int t = x[k];
                        const int target = FloorDiv(2 * (t - base) + step, 2 * step);
                        int lo =
                            std::clamp(target - setting.halfWidth, reachLo, std::max(reachLo, reachHi - width + 1));
                        const int count = std::min(width, reachHi - lo + 1);
                        uint8_t* from = &parents[parentAt + size_t{k} * size_t(width)];
                        for (int i = 0; i < count; ++i) {
                            const int j = lo + i;
                            const int e = t - (base + j * step);
                            int64_t best = 0;
                            int bestFrom = 0;
                            if (k != 0) {
                                const int a = std::max(0, j - kMaxDifference - prevLo);
                                const int b = std::min(prevCount - 1, j + kMaxDifference - prevLo);
                                best = INT64_MAX;
                                for (int p = a; p <= b; ++p)
                                    if (previous[size_t(p)] < best) {
                                        best = previous[size_t(p)];
                                        bestFrom = p;
                                    }
                            }
                            current[size_t(i)] = best + int64_t(e) * e;
                            from[i] = static_cast<uint8_t>(bestFrom);
                        }
                        windows.push_back(lo);
                        windows.push_back(count);
                        std::swap(previous, current);
                        prevLo = lo;
                        prevCount = count;
                        reachLo = std::max(jMin, lo + kMinDifference);
                        reachHi = std::min(jMax, lo + count - 1 + kMaxDifference);
                    }
                    runs.push_back({s, index, base, step});
                    for (int i = 0; i < prevCount; ++i) finals.push_back(previous[size_t(i)]);
                    for (int i = prevCount; i < width; ++i) finals.push_back(INT64_MAX);
                }
            }
            // Merge the end values of every coding; the cheapest few go on.
            ++epoch;
            touched.clear();
            for (size_t r = 0; r < runs.size(); ++r) {
                const int32_t* last = &windows[(r * real + real - 1) * 2];
                for (int i = 0; i < last[1]; ++i) {
                    const int64_t cost = live[runs[r].survivor].cost + finals[r * size_t(width) + size_t(i)];
                    const int value = runs[r].base + (last[0] + i) * runs[r].step;
                    if (stamp[size_t(value)] != epoch) {
                        stamp[size_t(value)] = epoch;
                        touched.push_back(value);
                    } else if (cost >= bestAt[size_t(value)]) {
                        continue;
                    }
                    bestAt[size_t(value)] = cost;
                    whoAt[size_t(value)] = {static_cast<uint32_t>(r), i};
                }
            }
            const size_t keep = std::min(setting.survivors, touched.size());
            std::partial_sort(
                touched.begin(), touched.begin() + std::ptrdiff_t(keep), touched.end(), [&](int a, int b) {
                    return bestAt[size_t(a)] != bestAt[size_t(b)] ? bestAt[size_t(a)] < bestAt[size_t(b)] : a < b;
                });
            for (size_t c = 0; c < keep; ++c) {
                const int value = touched[c];
                const auto [r, state] = whoAt[size_t(value)];
                const Run& run = runs[r];
                lattice.assign(real, 0);
                int i = state;
                for (uint32_t k = real; k-- > 0;) {
                    const size_t at = size_t{r} * real + k;
                    lattice[k] = windows[at * 2] + i;
                    i = parents[at * size_t(width) + size_t(i)];
                }
                q.clear();
                for (uint32_t k = 0; k < real; ++k)
                    q.push_back(static_cast<int8_t>(k == 0 ? lattice[0] : lattice[k] - lattice[k - 1]));
                const int end = pad(value, run.step, real, q);
                nodes.push_back({live[run.survivor].node, HeaderByte(run.index, kind), pool.size(), n});
                pool.insert(pool.end(), q.begin(), q.end());
                next.push_back({bestAt[size_t(value)], end, static_cast<int32_t>(nodes.size() - 1)});
            }
        }
        live.swap(next);
        first += n;
        if (progress) progress->OnProgress(static_cast<int32_t>((f + 1) * 100 / frames));
    }
    ReportEnd(progress);

    std::vector<int32_t> chain;
    for (int32_t at = live[0].node; at >= 0; at = nodes[size_t(at)].parent) chain.push_back(at);
    bytes->clear();
    for (size_t c = chain.size(); c-- > 0;) {
        const Node& node = nodes[size_t(chain[c])];
        bytes->push_back(node.header);
        for (uint32_t k = 0; k < node.length; ++k) bytes->push_back(static_cast<uint8_t>(pool[node.at + k]));
    }
    *error = live[0].cost;
    *end = live[0].value;
    return true;
}

uint32_t C_MDPCMEncDec::EncodeFrame(const uint16_t* samples, uint32_t sampleCount, uint32_t first, uint32_t frameLength,
                                    uint32_t kind, int32_t padMode) {
    if (!HaveRoom(size_t{1} + frameLength) || (samples == nullptr && sampleCount != 0)) return 0;
    if (effort_ != 0 && typeid(*this) == typeid(C_MDPCMEncDec))
        return EncodeFrameSearch(samples, sampleCount, first, frameLength, kind, padMode);
    auto target = [&](uint64_t pos, int v) {
        return pos < sampleCount ? static_cast<int>(samples[pos]) : v + PadDelta(v, padMode);
    };

    // Steepest change between consecutive targets, from the current value.
    int prev = current_;
    int peak = 0;
    for (uint32_t k = 0; k < frameLength; ++k) {
        const int t = target(uint64_t{first} + k, prev);
        peak = std::max(peak, std::abs(t - prev));
        prev = t;
    }
    int index = kScaleCount - 1;
    for (int i = 0; i < kScaleCount; ++i) {
        if (kScaleTable[i].threshold >= peak) {
            index = i;
            break;
        }
    }
    if (headerAlias_ != 0 && index == 14) index = 15;
    index = AvoidEndMarker(index, kind);
    const int step = kScaleTable[index].step;
    Put(HeaderByte(index, kind));

    int v = current_;
    for (uint32_t k = 0; k < frameLength; ++k) {
        const int d = target(uint64_t{first} + k, v) - v;
        int q = NearestDifference(d, step);
        v += q * step;
        while (v > kMaxValue) {
            v -= step;
            --q;
        }
        while (v < kMinValue) {
            v += step;
            ++q;
        }
        Put(static_cast<uint8_t>(static_cast<int8_t>(q)));
        if (k == 0) v = std::clamp(RoundFirstSample(v), kMinValue, kMaxValue);
    }
    current_ = v;
    return frameLength + 1;
}

uint32_t C_MDPCMEncDec::Decode(uint16_t* out, size_t outCapacity, const uint8_t* in, size_t inSize,
                               uint16_t initialValue, uint32_t longLength, uint32_t shortLength,
                               I_ProgressCallback* progress) {
    int v = std::min<int>(initialValue, kMaxValue);
    return DecodeFrames(out, outCapacity, in, inSize, longLength, shortLength, progress,
                        [&](const S_FrameHeader& frame, const uint8_t* bytes, size_t size, size_t capacity, size_t& pos,
                            size_t& written) {
                            ++pos;
                            const int step = kScaleTable[frame.index].step;
                            for (uint32_t k = 0; k < frame.length; ++k) {
                                if (pos >= size || written >= capacity) return FrameStep::kReportAndStop;
                                v += static_cast<int8_t>(bytes[pos++]) * step;
                                if (k == 0) v = RoundFirstSample(v);
                                v = std::clamp(v, kMinValue, kMaxValue);
                                out[written++] = static_cast<uint16_t>(v);
                            }
                            return FrameStep::kNext;
                        });
}

uint32_t C_MDPCMEncDec::CountDecodedSamples(uint32_t longLength, uint32_t shortLength, const uint8_t* in,
                                            size_t inSize) {
    endMarkerSeen_ = false;
    if (in == nullptr) inSize = 0;
    uint64_t total = 0;
    size_t pos = 0;
    const size_t firstBytes = FirstSampleBytes();
    while (const auto frame = ReadFrameHeader(in, inSize, pos, longLength, shortLength)) {
        const uint64_t n = frame->length;
        if (n == 0) {
            ++pos;
            continue;
        }
        // A frame cut before its first sample yields nothing.
        if (inSize - pos < 1 + firstBytes) break;
        pos += 1 + firstBytes;
        const uint64_t present = std::min<uint64_t>(n - 1, inSize - pos);
        total += 1 + present;
        pos += static_cast<size_t>(present);
    }
    return static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
}

}  // namespace cz
