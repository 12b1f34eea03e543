// Kernel table, pre-filter design and the two filter loops, each in a portable
// form and, on x86 processors with AVX2, a vector form chosen at run time that
// gives the same bits as the portable one.
#include "dsp/resample/ResampleKernels.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/CpuFeatures.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define CZ_RESAMPLE_X86 1
#include <immintrin.h>
#endif

namespace cz::resample {

namespace {

// Output samples per block of the pre-filter; its history is carried over.
constexpr size_t kFilterBlock = 4096;
// Input samples held as doubles at a time by the interpolation.
constexpr size_t kInterpolationChunk = 8192;
// How often the loops report what they have done.
constexpr size_t kProgressEvery = 4096;

std::atomic<bool> g_vectorAllowed{true};
std::atomic<bool> g_wideAllowed{true};

bool CpuHasVectorKernels() {
#if CZ_RESAMPLE_X86
    return platform::CpuTierActive(platform::CpuTier::kAvx2);
#else
    return false;
#endif
}

bool CpuHasWideKernels() {
#if CZ_RESAMPLE_X86
    return platform::CpuTierActive(platform::CpuTier::kAvx512);
#else
    return false;
#endif
}

// Input sample k of the window's coordinates: the window of output j starts at
// index_j, and coordinate 50 is in[0].
inline double WindowSample(const int16_t* in, size_t inCount, size_t k) {
    if (k < static_cast<size_t>(kHalfTaps)) return 0.0;
    const size_t n = k - kHalfTaps;
    return n < inCount ? static_cast<double>(in[n]) : 0.0;
}

// ---- portable loops ----------------------------------------------------------

// One output of the interpolation: the 104 stored taps (the last three zero)
// summed in eight interleaved accumulators, accumulator L taking taps L,
// L + 8, L + 16, ...; then (a0 + a4) + (a1 + a5) and (a2 + a6) + (a3 + a7),
// and those two. The vector loops compute exactly these sums in exactly this
// order (two 4-lane chains, no fused multiply-adds), so every path gives the
// same bits.
double DotPortable(const double* row, const double* window) {
    double a[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    for (int i = 0; i < kRowStride; i += 8) {
        for (int lane = 0; lane < 8; ++lane) a[lane] += row[i + lane] * window[i + lane];
    }
    const double b0 = a[0] + a[4], b1 = a[1] + a[5], b2 = a[2] + a[6], b3 = a[3] + a[7];
    return (b0 + b1) + (b2 + b3);
}

// Filters history[N + u] for u in [0, count) where history[0..N) holds the N
// samples before the block. A symmetric filter of even length (h[k] ==
// h[N - k], N odd) adds the two samples of a tap pair first and multiplies
// once, as the vector loop does, so both give the same bits.
void FilterBlockPortable(const double* h, size_t order, const double* history, size_t count, int16_t* out,
                         bool folded) {
    const size_t pairs = (order + 1) / 2;
    for (size_t u = 0; u < count; ++u) {
        const double* x = history + u + order;
        double acc = 0.0;
        if (folded) {
            for (size_t k = 0; k < pairs; ++k)
                acc += h[k] * (x[-static_cast<ptrdiff_t>(k)] + x[-static_cast<ptrdiff_t>(order - k)]);
        } else {
            for (size_t k = 0; k <= order; ++k) acc += h[k] * x[-static_cast<ptrdiff_t>(k)];
        }
        out[u] = SaturateSample(acc);
    }
}

#if CZ_RESAMPLE_X86

// ---- AVX2 loops (multiply, then add: never fused) --------------------------------------------------------

__attribute__((target("avx2"))) inline double HorizontalSum(__m256d v) {
    const __m128d lo = _mm256_castpd256_pd128(v);
    const __m128d hi = _mm256_extractf128_pd(v, 1);
    const __m128d pair = _mm_add_pd(lo, hi);
    return _mm_cvtsd_f64(_mm_add_sd(pair, _mm_unpackhi_pd(pair, pair)));
}

// Accumulates one output's 104 taps into two 4-lane chains: lanes 0..3 of
// `lo` and `hi` are the portable loop's accumulators 0..3 and 4..7.
__attribute__((target("avx2"))) inline void AccumulateRow(const double* row, const double* window, __m256d& lo,
                                                          __m256d& hi) {
    for (int i = 0; i < kRowStride; i += 8) {
        lo = _mm256_add_pd(lo, _mm256_mul_pd(_mm256_loadu_pd(row + i), _mm256_loadu_pd(window + i)));
        hi = _mm256_add_pd(hi, _mm256_mul_pd(_mm256_loadu_pd(row + i + 4), _mm256_loadu_pd(window + i + 4)));
    }
}

// One output, summed as DotPortable sums it.
__attribute__((target("avx2"))) double DotAvx2(const double* row, const double* window) {
    __m256d lo = _mm256_setzero_pd(), hi = _mm256_setzero_pd();
    AccumulateRow(row, window, lo, hi);
    alignas(32) double b[4];
    _mm256_store_pd(b, _mm256_add_pd(lo, hi));
    return (b[0] + b[1]) + (b[2] + b[3]);
}

// Saturates four sums and stores them as 16-bit samples.
__attribute__((target("avx2"))) inline void StoreSaturated4(__m256d v, int16_t* out) {
    v = _mm256_min_pd(v, _mm256_set1_pd(32767.0));
    v = _mm256_max_pd(v, _mm256_set1_pd(-32767.0));
    const __m128i ints = _mm256_cvttpd_epi32(v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(ints, ints));
}

// Four outputs at once, each summed as DotPortable sums it, stored saturated.
__attribute__((target("avx2"))) void InterpolateQuadAvx2(const double* const rows[4], const double* const windows[4],
                                                         int16_t* out) {
    __m256d lo[4], hi[4];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) lo[k] = hi[k] = _mm256_setzero_pd();
#pragma GCC unroll 13
    for (int i = 0; i < kRowStride; i += 8) {
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            lo[k] = _mm256_add_pd(lo[k], _mm256_mul_pd(_mm256_loadu_pd(rows[k] + i), _mm256_loadu_pd(windows[k] + i)));
            hi[k] = _mm256_add_pd(hi[k],
                                  _mm256_mul_pd(_mm256_loadu_pd(rows[k] + i + 4), _mm256_loadu_pd(windows[k] + i + 4)));
        }
    }
    const __m256d a = _mm256_add_pd(lo[0], hi[0]), b = _mm256_add_pd(lo[1], hi[1]);
    const __m256d c = _mm256_add_pd(lo[2], hi[2]), d = _mm256_add_pd(lo[3], hi[3]);
    // [a0+a1, b0+b1, a2+a3, b2+b3] and the same for c, d.
    const __m256d ab = _mm256_hadd_pd(a, b);
    const __m256d cd = _mm256_hadd_pd(c, d);
    const __m256d low = _mm256_permute2f128_pd(ab, cd, 0x20);
    const __m256d high = _mm256_permute2f128_pd(ab, cd, 0x31);
    StoreSaturated4(_mm256_add_pd(low, high), out);
}

// The pre-filter block with eight vectors (32 outputs) per pass over the taps,
// each lane one output summed as the folded portable loop sums it.
__attribute__((target("avx2"))) void FilterBlockAvx2(const double* h, size_t order, const double* history, size_t count,
                                                     int16_t* out) {
    const size_t pairs = (order + 1) / 2;
    size_t u = 0;
    for (; u + 32 <= count; u += 32) {
        const double* x = history + u + order;
        __m256d a0 = _mm256_setzero_pd(), a1 = _mm256_setzero_pd(), a2 = _mm256_setzero_pd();
        __m256d a3 = _mm256_setzero_pd(), a4 = _mm256_setzero_pd(), a5 = _mm256_setzero_pd();
        __m256d a6 = _mm256_setzero_pd(), a7 = _mm256_setzero_pd();
        for (size_t k = 0; k < pairs; ++k) {
            const __m256d hk = _mm256_broadcast_sd(h + k);
            const double* p = x - k;
            const double* q = x - (order - k);
            a0 = _mm256_add_pd(a0, _mm256_mul_pd(hk, _mm256_add_pd(_mm256_loadu_pd(p), _mm256_loadu_pd(q))));
            a1 = _mm256_add_pd(a1, _mm256_mul_pd(hk, _mm256_add_pd(_mm256_loadu_pd(p + 4), _mm256_loadu_pd(q + 4))));
            a2 = _mm256_add_pd(a2, _mm256_mul_pd(hk, _mm256_add_pd(_mm256_loadu_pd(p + 8), _mm256_loadu_pd(q + 8))));
            a3 = _mm256_add_pd(a3, _mm256_mul_pd(hk, _mm256_add_pd(_mm256_loadu_pd(p + 12), _mm256_loadu_pd(q + 12))));
            a4 = _mm256_add_pd(a4, _mm256_mul_pd(hk, _mm256_add_pd(_mm256_loadu_pd(p + 16), _mm256_loadu_pd(q + 16))));
            a5 = _mm256_add_pd(a5, _mm256_mul_pd(hk, _mm256_add_pd(_mm256_loadu_pd(p + 20), _mm256_loadu_pd(q + 20))));
            a6 = _mm256_add_pd(a6, _mm256_mul_pd(hk, _mm256_add_pd(_mm256_loadu_pd(p + 24), _mm256_loadu_pd(q + 24))));
            a7 = _mm256_add_pd(a7, _mm256_mul_pd(hk, _mm256_add_pd(_mm256_loadu_pd(p + 28), _mm256_loadu_pd(q + 28))));
        }
        StoreSaturated4(a0, out + u);
        StoreSaturated4(a1, out + u + 4);
        StoreSaturated4(a2, out + u + 8);
        StoreSaturated4(a3, out + u + 12);
        StoreSaturated4(a4, out + u + 16);
        StoreSaturated4(a5, out + u + 20);
        StoreSaturated4(a6, out + u + 24);
        StoreSaturated4(a7, out + u + 28);
    }
    for (; u + 4 <= count; u += 4) {
        const double* x = history + u + order;
        __m256d a = _mm256_setzero_pd();
        for (size_t k = 0; k < pairs; ++k) {
            const __m256d sum = _mm256_add_pd(_mm256_loadu_pd(x - k), _mm256_loadu_pd(x - (order - k)));
            a = _mm256_add_pd(a, _mm256_mul_pd(_mm256_broadcast_sd(h + k), sum));
        }
        StoreSaturated4(a, out + u);
    }
    if (u < count) FilterBlockPortable(h, order, history + u, count - u, out + u, true);
}

// ---- AVX-512 loops: eight lanes, the same sums in the same order ----------------------------------------

// Saturates eight sums and stores them as 16-bit samples.
__attribute__((target("avx512f,avx2"))) inline void StoreSaturated8(__m512d v, int16_t* out) {
    // The zero-masked forms (all lanes kept) spare some compilers' headers a
    // read of an undefined register.
    v = _mm512_maskz_min_pd(0xFF, v, _mm512_set1_pd(32767.0));
    v = _mm512_maskz_max_pd(0xFF, v, _mm512_set1_pd(-32767.0));
    const __m256i ints = _mm512_maskz_cvttpd_epi32(0xFF, v);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(ints, ints), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
}

// Four outputs at once: one 8-lane chain per output holds the portable
// loop's accumulators 0 ... 7; then (a0 + a4) + (a1 + a5) and (a2 + a6) +
// (a3 + a7), and those two, as there.
__attribute__((target("avx512f,avx2"))) void InterpolateQuadAvx512(const double* const rows[4],
                                                                   const double* const windows[4], int16_t* out) {
    __m512d a[4];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) a[k] = _mm512_setzero_pd();
#pragma GCC unroll 13
    for (int i = 0; i < kRowStride; i += 8) {
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k)
            a[k] = _mm512_add_pd(a[k], _mm512_mul_pd(_mm512_load_pd(rows[k] + i), _mm512_loadu_pd(windows[k] + i)));
    }
    __m256d b[4];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) b[k] = _mm256_add_pd(_mm512_maskz_extractf64x4_pd(0xFF, a[k], 0),
                                                               _mm512_maskz_extractf64x4_pd(0xFF, a[k], 1));
    const __m256d ab = _mm256_hadd_pd(b[0], b[1]);
    const __m256d cd = _mm256_hadd_pd(b[2], b[3]);
    const __m256d low = _mm256_permute2f128_pd(ab, cd, 0x20);
    const __m256d high = _mm256_permute2f128_pd(ab, cd, 0x31);
    StoreSaturated4(_mm256_add_pd(low, high), out);
}

// Eight outputs at once, each summed as InterpolateQuadAvx512 sums it.
__attribute__((target("avx512f,avx2"))) void InterpolateOctAvx512(const double* const rows[8],
                                                                  const double* const windows[8], int16_t* out) {
    __m512d a[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) a[k] = _mm512_setzero_pd();
#pragma GCC unroll 13
    for (int i = 0; i < kRowStride; i += 8) {
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k)
            a[k] = _mm512_add_pd(a[k], _mm512_mul_pd(_mm512_load_pd(rows[k] + i), _mm512_loadu_pd(windows[k] + i)));
    }
#pragma GCC unroll 2
    for (int half = 0; half < 8; half += 4) {
        __m256d b[4];
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k)
            b[k] = _mm256_add_pd(_mm512_maskz_extractf64x4_pd(0xFF, a[half + k], 0),
                                 _mm512_maskz_extractf64x4_pd(0xFF, a[half + k], 1));
        const __m256d ab = _mm256_hadd_pd(b[0], b[1]);
        const __m256d cd = _mm256_hadd_pd(b[2], b[3]);
        const __m256d low = _mm256_permute2f128_pd(ab, cd, 0x20);
        const __m256d high = _mm256_permute2f128_pd(ab, cd, 0x31);
        StoreSaturated4(_mm256_add_pd(low, high), out + half);
    }
}

// The pre-filter block with eight 8-lane vectors (64 outputs) per pass over
// the taps, each lane one output summed as the folded portable loop sums it.
__attribute__((target("avx512f,avx2"))) void FilterBlockAvx512(const double* h, size_t order, const double* history,
                                                               size_t count, int16_t* out) {
    const size_t pairs = (order + 1) / 2;
    size_t u = 0;
    for (; u + 64 <= count; u += 64) {
        const double* x = history + u + order;
        __m512d a[8];
#pragma GCC unroll 8
        for (int v = 0; v < 8; ++v) a[v] = _mm512_setzero_pd();
        for (size_t k = 0; k < pairs; ++k) {
            const __m512d hk = _mm512_set1_pd(h[k]);
            const double* p = x - k;
            const double* q = x - (order - k);
#pragma GCC unroll 8
            for (int v = 0; v < 8; ++v) {
                const __m512d sum = _mm512_add_pd(_mm512_loadu_pd(p + 8 * v), _mm512_loadu_pd(q + 8 * v));
                a[v] = _mm512_add_pd(a[v], _mm512_mul_pd(hk, sum));
            }
        }
#pragma GCC unroll 8
        for (int v = 0; v < 8; ++v) StoreSaturated8(a[v], out + u + 8 * v);
    }
    for (; u + 8 <= count; u += 8) {
        const double* x = history + u + order;
        __m512d a = _mm512_setzero_pd();
        for (size_t k = 0; k < pairs; ++k) {
            const __m512d sum = _mm512_add_pd(_mm512_loadu_pd(x - k), _mm512_loadu_pd(x - (order - k)));
            a = _mm512_add_pd(a, _mm512_mul_pd(_mm512_set1_pd(h[k]), sum));
        }
        StoreSaturated8(a, out + u);
    }
    if (u < count) FilterBlockAvx2(h, order, history + u, count - u, out + u);
}

#endif  // CZ_RESAMPLE_X86

// Doubles on a 64-byte boundary.
struct AlignedDoubles {
    explicit AlignedDoubles(size_t count) : storage(count + 8, 0.0) {
        const auto address = reinterpret_cast<uintptr_t>(storage.data());
        data = storage.data() + ((64 - address % 64) % 64) / sizeof(double);
    }
    std::vector<double> storage;
    double* data;
};

bool UseVector() { return g_vectorAllowed.load(std::memory_order_relaxed) && CpuHasVectorKernels(); }
bool UseWide() { return UseVector() && g_wideAllowed.load(std::memory_order_relaxed) && CpuHasWideKernels(); }

}  // namespace

bool VectorKernelsActive() { return UseVector(); }

void SetVectorKernelsAllowed(bool allowed) { g_vectorAllowed.store(allowed, std::memory_order_relaxed); }

const char* VectorKernelName() { return UseWide() ? "AVX-512" : UseVector() ? "AVX2" : "portable"; }

void SetWideVectorKernelsAllowed(bool allowed) { g_wideAllowed.store(allowed, std::memory_order_relaxed); }

std::vector<double> BuildSincTable() {
    std::vector<double> table(static_cast<size_t>(kPhases) * kRowStride, 0.0);
    for (int p = 0; p < kPhases; ++p) {
        for (int i = 0; i < kTaps; ++i) {
            const double x = (kHalfTaps - i + p * 0.02) * kPi;
            table[static_cast<size_t>(p) * kRowStride + i] = x == 0.0 ? 1.0 : std::sin(x) / x;
        }
    }
    return table;
}

double BesselI0(double x) {
    const double half = x / 2.0;
    double sum = 1.0;
    double power = 1.0;  // (x/2)^k / k!
    for (int k = 1; k < 1000; ++k) {
        power = power * half / k;
        const double term = power * power;
        sum += term;
        if (term / sum < 2e-9) break;
    }
    return sum;
}

std::vector<double> DesignPreFilter(double ratio) {
    const double r = std::min(ratio, kMaxPassRatio);
    const double a = r * kPi;
    const double b = (r + kTransitionWidth) * kPi;
    const int order = 1 - 2 * static_cast<int>(std::trunc(std::trunc(kOrderConstant / (b - a)) / 2.0));
    const double centre = order / 2.0;
    const double gain = BesselI0(kKaiserBeta) * kPi;
    std::vector<double> h(static_cast<size_t>(order) + 1);
    for (int n = 0; n <= order; ++n) {
        const double t = n - centre;  // never 0: the order is odd
        const double shape = std::sqrt(std::max(0.0, 1.0 - t * t / (centre * centre)));
        h[static_cast<size_t>(n)] = std::sin(t * (a + b) / 2.0) / t * BesselI0(kKaiserBeta * shape) / gain;
    }
    return h;
}

void ApplyPreFilter(const std::vector<double>& h, const int16_t* in, size_t count, int16_t* out,
                    const ProgressSink& progress, size_t available) {
    if (h.empty() || count == 0) return;
    available = std::min(available, count);
    auto sample = [&](size_t i) { return i < available ? static_cast<double>(in[i]) : 0.0; };
    const size_t order = h.size() - 1;
    bool foldable = order % 2 == 1;
    for (size_t k = 0; foldable && k <= order; ++k) foldable = h[k] == h[order - k];
    const bool vector = foldable && UseVector();
    const bool wide = foldable && UseWide();
    // history[0..order) = the samples before the block, then the block itself.
    std::vector<double> history(order + kFilterBlock, 0.0);
    for (size_t start = 0; start < count; start += kFilterBlock) {
        const size_t n = std::min(kFilterBlock, count - start);
        for (size_t k = 0; k < order; ++k) history[k] = start + k >= order ? sample(start + k - order) : 0.0;
        if (start + n <= available) {
            for (size_t u = 0; u < n; ++u) history[order + u] = in[start + u];
        } else {
            for (size_t u = 0; u < n; ++u) history[order + u] = sample(start + u);
        }
#if CZ_RESAMPLE_X86
        if (vector && wide) {
            FilterBlockAvx512(h.data(), order, history.data(), n, out + start);
        } else if (vector) {
            FilterBlockAvx2(h.data(), order, history.data(), n, out + start);
        } else {
            FilterBlockPortable(h.data(), order, history.data(), n, out + start, foldable);
        }
#else
        (void)vector;
        (void)wide;
        FilterBlockPortable(h.data(), order, history.data(), n, out + start, foldable);
#endif
        if (progress) progress(start + n);
    }
}

KernelPosition PositionOf(size_t j, double step, double offset) {
    const double pos = offset + static_cast<double>(j) * step;
    // pos is never negative, so truncation is the floor (and cheaper).
    const auto index = static_cast<int64_t>(pos);
    const double fraction = pos - static_cast<double>(index);
    const double scaled = fraction * 50.0;
    int phase = static_cast<int>(scaled);
    if (phase > kPhases - 1) phase = kPhases - 1;
    if (phase < 0) phase = 0;
    return {static_cast<size_t>(index), phase};
}

void ApplySincInterpolation(const std::vector<double>& table, const int16_t* in, size_t inCount, double step,
                            int16_t* out, size_t outCount, const ProgressSink& progress, double offset) {
    ApplySincInterpolationPart(table, in, 0, inCount, inCount, step, out, 0, outCount, progress, offset);
}

void ApplySincInterpolationPart(const std::vector<double>& table, const int16_t* in, size_t inFirst, size_t inHeld,
                                size_t inCount, double step, int16_t* out, size_t firstOutput, size_t outCount,
                                const ProgressSink& progress, double offset) {
    if (!(step >= 0.0)) step = 0.0;
    if (!(offset >= 0.0)) offset = 0.0;
    const bool vector = UseVector();
    const bool wide = UseWide();
    // The kernel rows on a 64-byte boundary (a row is 13 lines long).
    AlignedDoubles rows(table.size());
    std::copy(table.begin(), table.end(), rows.data);
    auto row = [&](int phase) { return rows.data + static_cast<size_t>(phase) * kRowStride; };

    // The input as doubles, a chunk at a time, in four copies shifted by one
    // sample each, so that every window starts on a 32-byte boundary in one
    // of them: copy s holds window coordinates origin + s + t.
    const size_t chunkLength = kInterpolationChunk + kRowStride;
    AlignedDoubles chunk(4 * (chunkLength + 4));
    double* copies[4];
    for (size_t s = 0; s < 4; ++s) copies[s] = chunk.data + s * (chunkLength + 4);
    size_t origin = 0;
    bool filled = false;
    auto covers = [&](size_t index) { return filled && index >= origin && index + kRowStride <= origin + chunkLength; };
    auto refill = [&](size_t index) {
        origin = index;
        // Copy 0 from the input (zeros outside it), the others shifted from it.
        const size_t length = chunkLength + 3;
        double* first = copies[0];
        size_t t = 0;
        for (; t < length && origin + t < static_cast<size_t>(kHalfTaps); ++t) first[t] = 0.0;
        // Input positions before inFirst are not held: only windows the
        // caller's range never reads start there, so zeros do.
        for (; t < length && origin + t - kHalfTaps < inFirst; ++t) first[t] = 0.0;
        const size_t inside = origin + t - kHalfTaps;
        const size_t end = std::min(inCount, inFirst + inHeld);
        const size_t run = inside < end ? std::min(length - t, end - inside) : 0;
        if (run > 0) {
            const int16_t* from = in + (inside - inFirst);
            for (size_t u = 0; u < run; ++u) first[t + u] = static_cast<double>(from[u]);
        }
        t += run;
        for (; t < length; ++t) first[t] = 0.0;
        for (size_t s = 1; s < 4; ++s) std::copy(first + s, first + length, copies[s]);
        filled = true;
    };
    auto window = [&](size_t index) {
        const size_t d = index - origin;
        return copies[d & 3] + (d & ~size_t{3});
    };

    size_t nextReport = kProgressEvery;
    size_t j = 0;
    while (j < outCount) {
        const KernelPosition p0 = PositionOf(firstOutput + j, step, offset);
        if (!covers(p0.index)) refill(p0.index);
#if CZ_RESAMPLE_X86
        if (wide && j + 7 < outCount) {
            const KernelPosition last = PositionOf(firstOutput + j + 7, step, offset);
            if (covers(last.index)) {
                const double* rowPointers[8];
                const double* windows[8];
                for (int k = 0; k < 8; ++k) {
                    const KernelPosition p = k == 0 ? p0 : k == 7 ? last : PositionOf(firstOutput + j + k, step, offset);
                    rowPointers[k] = row(p.phase);
                    windows[k] = window(p.index);
                }
                InterpolateOctAvx512(rowPointers, windows, out + j);
                j += 8;
                if (progress && j >= nextReport) {
                    progress(j);
                    nextReport = j + kProgressEvery;
                }
                continue;
            }
        }
        if (vector && j + 3 < outCount) {
            const KernelPosition p[4] = {p0, PositionOf(firstOutput + j + 1, step, offset), PositionOf(firstOutput + j + 2, step, offset),
                                         PositionOf(firstOutput + j + 3, step, offset)};
            if (covers(p[3].index)) {
                const double* rowPointers[4];
                const double* windows[4];
                for (int k = 0; k < 4; ++k) {
                    rowPointers[k] = row(p[k].phase);
                    windows[k] = window(p[k].index);
                }
                if (wide) {
                    InterpolateQuadAvx512(rowPointers, windows, out + j);
                } else {
                    InterpolateQuadAvx2(rowPointers, windows, out + j);
                }
                j += 4;
                if (progress && j >= nextReport) {
                    progress(j);
                    nextReport = j + kProgressEvery;
                }
                continue;
            }
        }
        const double* w0 = window(p0.index);
        out[j] = SaturateSample(vector ? DotAvx2(row(p0.phase), w0) : DotPortable(row(p0.phase), w0));
#else
        (void)vector;
        (void)wide;
        out[j] = SaturateSample(DotPortable(row(p0.phase), window(p0.index)));
#endif
        ++j;
        if (progress && j >= nextReport) {
            progress(j);
            nextReport = j + kProgressEvery;
        }
    }
    if (progress) progress(outCount);
}

size_t ApplyLinearInterpolation(double ratio, const int16_t* in, size_t inCount, int16_t* out, size_t outCount,
                                const ProgressSink& progress) {
    if (inCount == 0 || outCount == 0 || !(ratio > 0.0)) return 0;
    const double fixedStep = 1.0 / ratio * 128.0;
    uint64_t q = 0;
    double accumulator = fixedStep;
    size_t written = 0;
    size_t nextReport = kProgressEvery;
    while (written < outCount) {
        const uint64_t i = q >> 7;
        if (i >= inCount) break;
        const int32_t f = static_cast<int32_t>(q & 127);
        const int32_t current = in[i];
        const int32_t next = i + 1 < inCount ? in[i + 1] : current;
        out[written++] = static_cast<int16_t>((next * f + current * (128 - f)) / 128);
        q = accumulator < 1.8e19 ? static_cast<uint64_t>(accumulator) : UINT64_MAX;
        accumulator += fixedStep;
        if (progress && written >= nextReport) {
            progress(written);
            nextReport = written + kProgressEvery;
        }
    }
    // The end of the output holds the last input sample.
    for (size_t k = written; k < outCount; ++k) out[k] = in[inCount - 1];
    out[outCount - 1] = in[inCount - 1];
    if (progress) progress(written);
    return written;
}

}  // namespace cz::resample
