#include "decoders/wma/WmaImdct.h"

#include <cmath>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace cz::wma {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

void Imdct::Init(int half, double scale) {
    half_ = half;
    const int m = half;      // DCT-IV length
    const int n = half / 2;  // complex FFT length
    preRe_.resize(size_t(n));
    preIm_.resize(size_t(n));
    postRe_.resize(size_t(n));
    postIm_.resize(size_t(n));
    for (int k = 0; k < n; ++k) {
        const double a = -kPi * k / m;
        preRe_[size_t(k)] = float(std::cos(a));
        preIm_[size_t(k)] = float(std::sin(a));
        const double b = -kPi * (k + 0.25) / m;
        postRe_[size_t(k)] = float(std::cos(b) * scale);
        postIm_[size_t(k)] = float(std::sin(b) * scale);
    }
    // Twiddles of the stages from size 8 on, each stage's run contiguous:
    // the stage of size s holds e^(-2 pi i j / s) for j < s / 2.
    twRe_.clear();
    twIm_.clear();
    for (int size = 8; size <= n; size *= 2) {
        for (int j = 0; j < size / 2; ++j) {
            const double a = -2.0 * kPi * j / size;
            twRe_.push_back(float(std::cos(a)));
            twIm_.push_back(float(std::sin(a)));
        }
    }
    int bits = 0;
    while ((1 << bits) < n) {
        ++bits;
    }
    bitReverse_.resize(size_t(n));
    for (int k = 0; k < n; ++k) {
        int r = 0;
        for (int b = 0; b < bits; ++b) {
            r |= ((k >> b) & 1) << (bits - 1 - b);
        }
        bitReverse_[size_t(k)] = r;
    }
    re_.assign(size_t(n), 0.0f);
    im_.assign(size_t(n), 0.0f);
}

void Imdct::Run(const float* in, float* out) {
    const int m = half_;
    const int n = m / 2;
    float* re = re_.data();
    float* im = im_.data();
    // Pair the even coefficients with the mirrored odd ones and turn them.
    for (int k = 0; k < n; ++k) {
        const float a = in[2 * k];
        const float b = in[m - 1 - 2 * k];
        const int r = bitReverse_[size_t(k)];
        re[r] = a * preRe_[size_t(k)] - b * preIm_[size_t(k)];
        im[r] = a * preIm_[size_t(k)] + b * preRe_[size_t(k)];
    }
    // Decimation in time: the first two stages as one pass of four-point
    // transforms (their twiddles are 1 and -i), then radix-2 stages.
    for (int p = 0; p < n; p += 4) {
        const float a0r = re[p] + re[p + 1], a0i = im[p] + im[p + 1];
        const float a1r = re[p] - re[p + 1], a1i = im[p] - im[p + 1];
        const float a2r = re[p + 2] + re[p + 3], a2i = im[p + 2] + im[p + 3];
        const float a3r = re[p + 2] - re[p + 3], a3i = im[p + 2] - im[p + 3];
        re[p] = a0r + a2r;
        im[p] = a0i + a2i;
        re[p + 2] = a0r - a2r;
        im[p + 2] = a0i - a2i;
        re[p + 1] = a1r + a3i;
        im[p + 1] = a1i - a3r;
        re[p + 3] = a1r - a3i;
        im[p + 3] = a1i + a3r;
    }
    const float* twr = twRe_.data();
    const float* twi = twIm_.data();
    for (int size = 8; size <= n; size *= 2) {
        const int halfSize = size / 2;
        for (int start = 0; start < n; start += size) {
            float* pr = re + start;
            float* pi = im + start;
            float* qr = pr + halfSize;
            float* qi = pi + halfSize;
            int j = 0;
#if defined(__SSE2__) || defined(_M_X64)
            // Four butterflies at a time: the same operations in the same
            // order per element as the loop below.
            for (; j + 4 <= halfSize; j += 4) {
                const __m128 wr = _mm_loadu_ps(twr + j);
                const __m128 wi = _mm_loadu_ps(twi + j);
                const __m128 xr = _mm_loadu_ps(qr + j);
                const __m128 xi = _mm_loadu_ps(qi + j);
                const __m128 tr = _mm_sub_ps(_mm_mul_ps(xr, wr), _mm_mul_ps(xi, wi));
                const __m128 ti = _mm_add_ps(_mm_mul_ps(xr, wi), _mm_mul_ps(xi, wr));
                const __m128 ar = _mm_loadu_ps(pr + j);
                const __m128 ai = _mm_loadu_ps(pi + j);
                _mm_storeu_ps(qr + j, _mm_sub_ps(ar, tr));
                _mm_storeu_ps(qi + j, _mm_sub_ps(ai, ti));
                _mm_storeu_ps(pr + j, _mm_add_ps(ar, tr));
                _mm_storeu_ps(pi + j, _mm_add_ps(ai, ti));
            }
#endif
            for (; j < halfSize; ++j) {
                const float tr = qr[j] * twr[j] - qi[j] * twi[j];
                const float ti = qr[j] * twi[j] + qi[j] * twr[j];
                qr[j] = pr[j] - tr;
                qi[j] = pi[j] - ti;
                pr[j] += tr;
                pi[j] += ti;
            }
        }
        twr += halfSize;
        twi += halfSize;
    }
    // Turn back to the DCT-IV values u[2j] = Re z and u[m - 1 - 2j] = -Im z,
    // and place each twice in the output: y[i] = u[i + m/2], with u odd
    // about m - 1/2 and antiperiodic with period 2m, so that u[k] lands at
    // k - m/2 (k >= m/2) or at k + 3m/2 negated (k < m/2), and negated at
    // 3m/2 - 1 - k.
    const int q = m / 2;
    const int outer = 2 * m - 1 - q;
    for (int j = 0; j < n; ++j) {
        const float zr = re[j] * postRe_[size_t(j)] - im[j] * postIm_[size_t(j)];
        const float zi = re[j] * postIm_[size_t(j)] + im[j] * postRe_[size_t(j)];
        const int k1 = 2 * j;
        const int k2 = m - 1 - 2 * j;
        if (k1 >= q) {
            out[k1 - q] = zr;
            out[k2 + 2 * m - q] = zi;
        } else {
            out[k1 + 2 * m - q] = -zr;
            out[k2 - q] = -zi;
        }
        out[outer - k1] = -zr;
        out[outer - k2] = zi;
    }
}

}  // namespace cz::wma
