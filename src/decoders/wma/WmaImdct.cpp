#include "decoders/wma/WmaImdct.h"

#include <cmath>

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
    twRe_.resize(size_t(n / 2 > 0 ? n / 2 : 1));
    twIm_.resize(twRe_.size());
    for (int k = 0; k < n / 2; ++k) {
        const double a = -2.0 * kPi * k / n;
        twRe_[size_t(k)] = float(std::cos(a));
        twIm_[size_t(k)] = float(std::sin(a));
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
    fold_.assign(size_t(m), 0.0f);
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
    // Radix-2 decimation in time.
    for (int size = 2; size <= n; size *= 2) {
        const int halfSize = size / 2;
        const int step = n / size;
        for (int start = 0; start < n; start += size) {
            for (int j = 0; j < halfSize; ++j) {
                const float wr = twRe_[size_t(j * step)];
                const float wi = twIm_[size_t(j * step)];
                const int p = start + j;
                const int q = p + halfSize;
                const float tr = re[q] * wr - im[q] * wi;
                const float ti = re[q] * wi + im[q] * wr;
                re[q] = re[p] - tr;
                im[q] = im[p] - ti;
                re[p] += tr;
                im[p] += ti;
            }
        }
    }
    // Turn back: the DCT-IV values u[2j] and u[m - 1 - 2j].
    float* u = fold_.data();
    for (int j = 0; j < n; ++j) {
        const float zr = re[j] * postRe_[size_t(j)] - im[j] * postIm_[size_t(j)];
        const float zi = re[j] * postIm_[size_t(j)] + im[j] * postRe_[size_t(j)];
        u[2 * j] = zr;
        u[m - 1 - 2 * j] = -zi;
    }
    // Unfold the DCT-IV into the 2m output samples: y[i] = u[i + m/2],
    // with u odd-symmetric about m - 1/2 and antiperiodic with period 2m.
    const int q = m / 2;
    for (int i = 0; i < q; ++i) {
        out[i] = u[i + q];
    }
    for (int i = q; i < q + m; ++i) {
        out[i] = -u[2 * m - 1 - (i + q)];
    }
    for (int i = q + m; i < 2 * m; ++i) {
        out[i] = -u[i + q - 2 * m];
    }
}

}  // namespace cz::wma
