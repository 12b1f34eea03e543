#include "dsp/resample/CleanResample.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string_view>

#include "dsp/resample/ResampleKernels.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define CZ_CLEAN_X86 1
#include <immintrin.h>
#endif

namespace cz::resample {
namespace {

constexpr double kTwoPi = 6.283185307179586;
// Stop-band attenuation the design aims at (dB), and the Kaiser window's
// shape parameter for it (Kaiser's formula 0.1102 (A - 8.7)).
constexpr double kAttenuation = 98.0;
constexpr double kBeta = 0.1102 * (kAttenuation - 8.7);
// Transition band as fractions of the lower Nyquist frequency.
constexpr double kPassEdge = 0.9;
constexpr double kStopEdge = 1.0;

int16_t RoundSample(double v) {
    if (v >= 32767.0) return 32767;
    if (v <= -32768.0) return -32768;
    return static_cast<int16_t>(std::floor(v + 0.5));
}

}  // namespace

CleanResampler::CleanResampler(uint32_t sourceRate, uint32_t targetRate) {
    const uint64_t g = std::gcd(uint64_t(sourceRate), uint64_t(targetRate));
    up_ = targetRate / g;
    down_ = sourceRate / g;
    exact_ = up_ <= kMaxPhases;
    phases_ = exact_ ? up_ : kMaxPhases + 1;
    const uint64_t grid = exact_ ? up_ : kMaxPhases;  // prototype samples per source sample

    // Edges in cycles per source sample.
    const double lowerNyquist = 0.5 * std::min(1.0, double(targetRate) / double(sourceRate));
    const double pass = kPassEdge * lowerNyquist;
    const double stop = kStopEdge * lowerNyquist;
    const double cutoff = 0.5 * (pass + stop);
    // Kaiser's length estimate, in source samples: (A - 7.95) / (2.285 dw).
    const double length = (kAttenuation - 7.95) / (2.285 * kTwoPi * (stop - pass));
    half_ = size_t(std::ceil(length / 2.0)) + 1;
    taps_ = (2 * half_ + 1 + 7) / 8 * 8;

    // The prototype h(t), t in source samples, |t| <= half_: a sinc of the
    // cut-off under a Kaiser window, scaled so the gain at 0 Hz is 1.
    const double i0Beta = BesselI0(kBeta);
    auto prototype = [&](double t) {
        const double r = t / double(half_);
        if (r <= -1.0 || r >= 1.0) return 0.0;
        const double x = kTwoPi * cutoff * t;
        const double sinc = t == 0.0 ? 2.0 * cutoff : std::sin(x) / (0.5 * kTwoPi * t);
        return sinc * BesselI0(kBeta * std::sqrt(1.0 - r * r)) / i0Beta;
    };
    // Row p serves outputs at fraction p / grid past a source sample n; tap t
    // multiplies x[n - half_ + t], at distance (n - half_ + t) - (n + p / grid).
    rows_.assign(size_t(phases_) * taps_, 0.0);
    double sum = 0.0;
    for (uint64_t p = 0; p < phases_; ++p) {
        double* row = &rows_[size_t(p) * taps_];
        const double fraction = double(p) / double(grid);
        for (size_t t = 0; t < 2 * half_ + 1; ++t) {
            row[t] = prototype(double(t) - double(half_) - fraction);
            if (p < grid) sum += row[t];
        }
    }
    const double scale = double(grid) / sum;
    for (double& v : rows_) v *= scale;
}

// The dot product in its one order: eight interleaved accumulators (tap t
// goes to accumulator t mod 8), added pairwise at the end. The vector forms
// keep the accumulators in lanes and so give the same bits.
double CleanResampler::Dot(const double* x, const double* row, size_t taps) {
    double a[8] = {};
    for (size_t t = 0; t < taps; t += 8) {
        for (size_t k = 0; k < 8; ++k) a[k] += x[t + k] * row[t + k];
    }
    return ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]));
}

namespace {

#if CZ_CLEAN_X86
__attribute__((target("avx2"))) double DotAvx2(const double* x, const double* row, size_t taps) {
    __m256d lo = _mm256_setzero_pd(), hi = _mm256_setzero_pd();
    for (size_t t = 0; t < taps; t += 8) {
        lo = _mm256_add_pd(lo, _mm256_mul_pd(_mm256_loadu_pd(x + t), _mm256_loadu_pd(row + t)));
        hi = _mm256_add_pd(hi, _mm256_mul_pd(_mm256_loadu_pd(x + t + 4), _mm256_loadu_pd(row + t + 4)));
    }
    alignas(32) double a[8];
    _mm256_store_pd(a, lo);
    _mm256_store_pd(a + 4, hi);
    return ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]));
}

__attribute__((target("avx512f,avx2"))) double DotAvx512(const double* x, const double* row, size_t taps) {
    __m512d acc = _mm512_setzero_pd();
    for (size_t t = 0; t < taps; t += 8) {
        acc = _mm512_add_pd(acc, _mm512_mul_pd(_mm512_loadu_pd(x + t), _mm512_loadu_pd(row + t)));
    }
    alignas(64) double a[8];
    _mm512_store_pd(a, acc);
    return ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]));
}
#endif

}  // namespace

CleanResampler::DotFunction CleanResampler::ChooseDot() {
#if CZ_CLEAN_X86
    if (VectorKernelsActive()) return std::string_view(VectorKernelName()) == "AVX-512" ? &DotAvx512 : &DotAvx2;
#endif
    return &CleanResampler::Dot;
}

void CleanResampler::BlendRow(uint64_t phase, double* blend) const {
    // Linear interpolation between the two stored rows around the phase.
    const double where = double(phase) * double(kMaxPhases) / double(up_);
    const size_t low = std::min(size_t(where), size_t(kMaxPhases) - 1);
    const double f = where - double(low);
    const double* r0 = &rows_[low * taps_];
    const double* r1 = r0 + taps_;
    for (size_t t = 0; t < taps_; ++t) blend[t] = r0[t] + f * (r1[t] - r0[t]);
}

void CleanResampler::RunRange(const double* x, uint64_t xFirst, uint64_t jFirst, uint64_t jEnd, int16_t* out,
                              size_t outStride) const {
    if (jEnd <= jFirst) return;
    const DotFunction dot = ChooseDot();
    if (exact_) {
        // Phase by phase, as Run goes, so that each row is read once.
        for (uint64_t r = 0; r < up_ && jFirst + r < jEnd; ++r) {
            const uint64_t position = (jFirst + r) * down_;
            const double* row = &rows_[size_t(position % up_) * taps_];
            uint64_t n = position / up_ - xFirst;
            for (uint64_t j = jFirst + r; j < jEnd; j += up_, n += down_)
                out[size_t(j - jFirst) * outStride] = RoundSample(dot(&x[n], row, taps_));
        }
        return;
    }
    std::vector<double> blend(taps_);
    for (uint64_t j = jFirst; j < jEnd; ++j) {
        const uint64_t position = j * down_;
        BlendRow(position % up_, blend.data());
        out[size_t(j - jFirst) * outStride] = RoundSample(dot(&x[position / up_ - xFirst], blend.data(), taps_));
    }
}

void CleanResampler::Run(const int16_t* in, size_t inCount, int16_t* out, size_t outCount,
                         const std::function<void(size_t)>& progress) const {
    // The source as doubles with half_ zeros in front and enough behind for
    // the last output's window.
    const size_t lastIndex = outCount == 0 ? 0 : size_t((uint64_t(outCount - 1) * down_) / up_);
    const size_t padded = std::max(inCount, lastIndex + 1) + 2 * half_ + taps_;
    std::vector<double> x(padded, 0.0);
    for (size_t i = 0; i < inCount; ++i) x[half_ + i] = double(in[i]);

    std::vector<double> blend(exact_ ? 0 : taps_);
    const DotFunction dot = ChooseDot();
    if (exact_) {
        // Outputs j and j + L share a phase. The outputs go in blocks of
        // L x repeats, phase by phase within a block, so that each row is
        // read from memory once per block and the block's input stays in
        // the cache. Every output is the same sum whatever the order.
        const uint64_t repeats = std::max<uint64_t>(1, 16384 / up_);
        const uint64_t block = up_ * repeats;
        for (uint64_t j0 = 0; j0 < outCount; j0 += block) {
            for (uint64_t r = 0; r < up_ && j0 + r < outCount; ++r) {
                const uint64_t position = (j0 + r) * down_;
                const double* row = &rows_[size_t(position % up_) * taps_];
                size_t n = size_t(position / up_);
                for (uint64_t j = j0 + r; j < outCount && j < j0 + block; j += up_, n += size_t(down_)) {
                    out[j] = RoundSample(dot(&x[n], row, taps_));
                }
            }
            if (progress) progress(size_t(std::min<uint64_t>(j0 + block, outCount)));
        }
    } else {
        for (size_t j = 0; j < outCount; ++j) {
            const uint64_t position = uint64_t(j) * down_;
            const size_t n = size_t(position / up_);
            BlendRow(position % up_, blend.data());
            out[j] = RoundSample(dot(&x[n], blend.data(), taps_));
            if (progress && (j & 4095) == 4095) progress(j + 1);
        }
    }
    if (progress) progress(outCount);
}

}  // namespace cz::resample
