#include "decoders/wma/WmaImdct.h"

#include <cmath>

#include "platform/CpuFeatures.h"
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define CZ_WMA_AVX2 1
#else
#define CZ_WMA_AVX2 0
#endif
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define CZ_WMA_SSE 1
#else
#define CZ_WMA_SSE 0
#endif

namespace cz::wma {

namespace {
constexpr double kPi = 3.14159265358979323846;

// One butterfly of a radix-2 stage: p += w q, q = p - w q (the old p).
inline void Butterfly(float& pr, float& pi, float& qr, float& qi, float wr, float wi) {
    const float tr = qr * wr - qi * wi;
    const float ti = qr * wi + qi * wr;
    qr = pr - tr;
    qi = pi - ti;
    pr += tr;
    pi += ti;
}

#if CZ_WMA_SSE
inline void Butterfly4(float* pr, float* pi, float* qr, float* qi, const float* twr, const float* twi) {
    const __m128 wr = _mm_loadu_ps(twr);
    const __m128 wi = _mm_loadu_ps(twi);
    const __m128 xr = _mm_loadu_ps(qr);
    const __m128 xi = _mm_loadu_ps(qi);
    const __m128 tr = _mm_sub_ps(_mm_mul_ps(xr, wr), _mm_mul_ps(xi, wi));
    const __m128 ti = _mm_add_ps(_mm_mul_ps(xr, wi), _mm_mul_ps(xi, wr));
    const __m128 ar = _mm_loadu_ps(pr);
    const __m128 ai = _mm_loadu_ps(pi);
    _mm_storeu_ps(qr, _mm_sub_ps(ar, tr));
    _mm_storeu_ps(qi, _mm_sub_ps(ai, ti));
    _mm_storeu_ps(pr, _mm_add_ps(ar, tr));
    _mm_storeu_ps(pi, _mm_add_ps(ai, ti));
}

// The butterfly on registers, the same operations as Butterfly.
inline void Butterfly4(__m128& pr, __m128& pi, __m128& qr, __m128& qi, __m128 wr, __m128 wi) {
    const __m128 tr = _mm_sub_ps(_mm_mul_ps(qr, wr), _mm_mul_ps(qi, wi));
    const __m128 ti = _mm_add_ps(_mm_mul_ps(qr, wi), _mm_mul_ps(qi, wr));
    qr = _mm_sub_ps(pr, tr);
    qi = _mm_sub_ps(pi, ti);
    pr = _mm_add_ps(pr, tr);
    pi = _mm_add_ps(pi, ti);
}

inline __m128 Reverse(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }
#endif

#if CZ_WMA_AVX2
#define CZ_WMA_TARGET_AVX2 __attribute__((target("avx2")))

CZ_WMA_TARGET_AVX2 inline void Butterfly8(__m256& pr, __m256& pi, __m256& qr, __m256& qi, __m256 wr, __m256 wi) {
    const __m256 tr = _mm256_sub_ps(_mm256_mul_ps(qr, wr), _mm256_mul_ps(qi, wi));
    const __m256 ti = _mm256_add_ps(_mm256_mul_ps(qr, wi), _mm256_mul_ps(qi, wr));
    qr = _mm256_sub_ps(pr, tr);
    qi = _mm256_sub_ps(pi, ti);
    pr = _mm256_add_ps(pr, tr);
    pi = _mm256_add_ps(pi, ti);
}

// A pass of two stages (sizes s and 2s, h = s/2 from 8 on) eight
// butterflies at a time: the same operations per element as the plain pass.
CZ_WMA_TARGET_AVX2 void StagePairAvx2(float* re, float* im, int n, int size, const float* w1r, const float* w1i,
                                      const float* w2r, const float* w2i) {
    const int h = size / 2;
    for (int start = 0; start < n; start += 2 * size) {
        float* xr = re + start;
        float* xi = im + start;
        for (int j = 0; j < h; j += 8) {
            __m256 ar = _mm256_loadu_ps(xr + j), ai = _mm256_loadu_ps(xi + j);
            __m256 br = _mm256_loadu_ps(xr + j + h), bi = _mm256_loadu_ps(xi + j + h);
            __m256 cr = _mm256_loadu_ps(xr + j + size), ci = _mm256_loadu_ps(xi + j + size);
            __m256 dr = _mm256_loadu_ps(xr + j + size + h), di = _mm256_loadu_ps(xi + j + size + h);
            const __m256 wr = _mm256_loadu_ps(w1r + j), wi = _mm256_loadu_ps(w1i + j);
            Butterfly8(ar, ai, br, bi, wr, wi);
            Butterfly8(cr, ci, dr, di, wr, wi);
            Butterfly8(ar, ai, cr, ci, _mm256_loadu_ps(w2r + j), _mm256_loadu_ps(w2i + j));
            Butterfly8(br, bi, dr, di, _mm256_loadu_ps(w2r + j + h), _mm256_loadu_ps(w2i + j + h));
            _mm256_storeu_ps(xr + j, ar);
            _mm256_storeu_ps(xi + j, ai);
            _mm256_storeu_ps(xr + j + h, br);
            _mm256_storeu_ps(xi + j + h, bi);
            _mm256_storeu_ps(xr + j + size, cr);
            _mm256_storeu_ps(xi + j + size, ci);
            _mm256_storeu_ps(xr + j + size + h, dr);
            _mm256_storeu_ps(xi + j + size + h, di);
        }
    }
}

// The turn-back products, eight at a time.
CZ_WMA_TARGET_AVX2 void PostTurnAvx2(float* re, float* im, const float* por, const float* poi, int n) {
    for (int j = 0; j < n; j += 8) {
        const __m256 xr = _mm256_loadu_ps(re + j);
        const __m256 xi = _mm256_loadu_ps(im + j);
        const __m256 wr = _mm256_loadu_ps(por + j);
        const __m256 wi = _mm256_loadu_ps(poi + j);
        _mm256_storeu_ps(re + j, _mm256_sub_ps(_mm256_mul_ps(xr, wr), _mm256_mul_ps(xi, wi)));
        _mm256_storeu_ps(im + j, _mm256_add_ps(_mm256_mul_ps(xr, wi), _mm256_mul_ps(xi, wr)));
    }
}
#endif

// out[2i] = even[i] and out[2i + 1] = odd[-i] for i < count, each negated
// where asked (a sign flip, exact).
void Interleave(float* out, const float* even, bool negateEven, const float* oddEnd, bool negateOdd, int count) {
    int i = 0;
#if CZ_WMA_SSE
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 se = negateEven ? sign : _mm_setzero_ps();
    const __m128 so = negateOdd ? sign : _mm_setzero_ps();
    for (; i + 4 <= count; i += 4) {
        const __m128 e = _mm_xor_ps(_mm_loadu_ps(even + i), se);
        const __m128 o = _mm_xor_ps(Reverse(_mm_loadu_ps(oddEnd - i - 3)), so);
        _mm_storeu_ps(out + 2 * i, _mm_unpacklo_ps(e, o));
        _mm_storeu_ps(out + 2 * i + 4, _mm_unpackhi_ps(e, o));
    }
#endif
    for (; i < count; ++i) {
        out[2 * i] = negateEven ? -even[i] : even[i];
        out[2 * i + 1] = negateOdd ? -oddEnd[-i] : oddEnd[-i];
    }
}

}  // namespace

void Imdct::Init(int half, double scale) {
    half_ = half;
    avx2_ = platform::CpuTierActive(platform::CpuTier::kAvx2);
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
    const float* pre = preRe_.data();
    const float* pim = preIm_.data();
    // Pair the even coefficients with the mirrored odd ones and turn them,
    // z[k] = (in[2k] + i in[m - 1 - 2k]) w[k], and run the first two
    // stages of the decimation-in-time FFT at once: their twiddles are 1
    // and -i, and the four inputs of the group at bitReverse[k] are z[k],
    // z[k + n/2], z[k + n/4] and z[k + 3n/4] (k < n/4).
    const int n4 = n / 4;
    const int offsets[4] = {0, n / 2, n / 4, 3 * n / 4};
    int k = 0;
#if CZ_WMA_SSE
    for (; k + 4 <= n4; k += 4) {
        __m128 zr[4], zi[4];
        for (int t = 0; t < 4; ++t) {
            const int kk = k + offsets[t];
            const __m128 a =
                _mm_shuffle_ps(_mm_loadu_ps(in + 2 * kk), _mm_loadu_ps(in + 2 * kk + 4), _MM_SHUFFLE(2, 0, 2, 0));
            const __m128 b = _mm_shuffle_ps(_mm_loadu_ps(in + m - 4 - 2 * kk), _mm_loadu_ps(in + m - 8 - 2 * kk),
                                            _MM_SHUFFLE(1, 3, 1, 3));
            const __m128 wr = _mm_loadu_ps(pre + kk);
            const __m128 wi = _mm_loadu_ps(pim + kk);
            zr[t] = _mm_sub_ps(_mm_mul_ps(a, wr), _mm_mul_ps(b, wi));
            zi[t] = _mm_add_ps(_mm_mul_ps(a, wi), _mm_mul_ps(b, wr));
        }
        const __m128 a0r = _mm_add_ps(zr[0], zr[1]), a0i = _mm_add_ps(zi[0], zi[1]);
        const __m128 a1r = _mm_sub_ps(zr[0], zr[1]), a1i = _mm_sub_ps(zi[0], zi[1]);
        const __m128 a2r = _mm_add_ps(zr[2], zr[3]), a2i = _mm_add_ps(zi[2], zi[3]);
        const __m128 a3r = _mm_sub_ps(zr[2], zr[3]), a3i = _mm_sub_ps(zi[2], zi[3]);
        __m128 r0 = _mm_add_ps(a0r, a2r), i0 = _mm_add_ps(a0i, a2i);
        __m128 r1 = _mm_add_ps(a1r, a3i), i1 = _mm_sub_ps(a1i, a3r);
        __m128 r2 = _mm_sub_ps(a0r, a2r), i2 = _mm_sub_ps(a0i, a2i);
        __m128 r3 = _mm_sub_ps(a1r, a3i), i3 = _mm_add_ps(a1i, a3r);
        // Lane t holds the group of k + t: turn the rows into groups.
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        _MM_TRANSPOSE4_PS(i0, i1, i2, i3);
        const __m128 rs[4] = {r0, r1, r2, r3};
        const __m128 is[4] = {i0, i1, i2, i3};
        for (int t = 0; t < 4; ++t) {
            const int p = bitReverse_[size_t(k + t)];
            _mm_storeu_ps(re + p, rs[t]);
            _mm_storeu_ps(im + p, is[t]);
        }
    }
#endif
    for (; k < n4; ++k) {
        float zr[4], zi[4];
        for (int t = 0; t < 4; ++t) {
            const int kk = k + offsets[t];
            const float a = in[2 * kk];
            const float b = in[m - 1 - 2 * kk];
            zr[t] = a * pre[kk] - b * pim[kk];
            zi[t] = a * pim[kk] + b * pre[kk];
        }
        const float a0r = zr[0] + zr[1], a0i = zi[0] + zi[1];
        const float a1r = zr[0] - zr[1], a1i = zi[0] - zi[1];
        const float a2r = zr[2] + zr[3], a2i = zi[2] + zi[3];
        const float a3r = zr[2] - zr[3], a3i = zi[2] - zi[3];
        const int p = bitReverse_[size_t(k)];
        re[p] = a0r + a2r;
        im[p] = a0i + a2i;
        re[p + 2] = a0r - a2r;
        im[p + 2] = a0i - a2i;
        re[p + 1] = a1r + a3i;
        im[p + 1] = a1i - a3r;
        re[p + 3] = a1r - a3i;
        im[p + 3] = a1i + a3r;
    }
    // The radix-2 stages from size 8 on, two at a time where two remain:
    // a pass over groups of 2s runs the stage of size s on both halves and
    // the stage of size 2s on the results, each butterfly exactly as a
    // single stage would compute it.
    int size = 8;
    for (; 2 * size <= n; size *= 4) {
        const int h = size / 2;
        const float* w1r = twRe_.data() + (h - 4);
        const float* w1i = twIm_.data() + (h - 4);
        const float* w2r = twRe_.data() + (size - 4);
        const float* w2i = twIm_.data() + (size - 4);
#if CZ_WMA_AVX2
        if (avx2_ && h >= 8) {
            StagePairAvx2(re, im, n, size, w1r, w1i, w2r, w2i);
            continue;
        }
#endif
        for (int start = 0; start < n; start += 2 * size) {
            float* xr = re + start;
            float* xi = im + start;
            int j = 0;
#if CZ_WMA_SSE
            for (; j + 4 <= h; j += 4) {
                __m128 ar = _mm_loadu_ps(xr + j), ai = _mm_loadu_ps(xi + j);
                __m128 br = _mm_loadu_ps(xr + j + h), bi = _mm_loadu_ps(xi + j + h);
                __m128 cr = _mm_loadu_ps(xr + j + size), ci = _mm_loadu_ps(xi + j + size);
                __m128 dr = _mm_loadu_ps(xr + j + size + h), di = _mm_loadu_ps(xi + j + size + h);
                const __m128 wr = _mm_loadu_ps(w1r + j), wi = _mm_loadu_ps(w1i + j);
                Butterfly4(ar, ai, br, bi, wr, wi);
                Butterfly4(cr, ci, dr, di, wr, wi);
                Butterfly4(ar, ai, cr, ci, _mm_loadu_ps(w2r + j), _mm_loadu_ps(w2i + j));
                Butterfly4(br, bi, dr, di, _mm_loadu_ps(w2r + j + h), _mm_loadu_ps(w2i + j + h));
                _mm_storeu_ps(xr + j, ar);
                _mm_storeu_ps(xi + j, ai);
                _mm_storeu_ps(xr + j + h, br);
                _mm_storeu_ps(xi + j + h, bi);
                _mm_storeu_ps(xr + j + size, cr);
                _mm_storeu_ps(xi + j + size, ci);
                _mm_storeu_ps(xr + j + size + h, dr);
                _mm_storeu_ps(xi + j + size + h, di);
            }
#endif
            for (; j < h; ++j) {
                float ar = xr[j], ai = xi[j], br = xr[j + h], bi = xi[j + h];
                float cr = xr[j + size], ci = xi[j + size], dr = xr[j + size + h], di = xi[j + size + h];
                Butterfly(ar, ai, br, bi, w1r[j], w1i[j]);
                Butterfly(cr, ci, dr, di, w1r[j], w1i[j]);
                Butterfly(ar, ai, cr, ci, w2r[j], w2i[j]);
                Butterfly(br, bi, dr, di, w2r[j + h], w2i[j + h]);
                xr[j] = ar;
                xi[j] = ai;
                xr[j + h] = br;
                xi[j + h] = bi;
                xr[j + size] = cr;
                xi[j + size] = ci;
                xr[j + size + h] = dr;
                xi[j + size + h] = di;
            }
        }
    }
    if (size <= n) {
        const int h = size / 2;
        const float* twr = twRe_.data() + (h - 4);
        const float* twi = twIm_.data() + (h - 4);
        for (int start = 0; start < n; start += size) {
            float* pr = re + start;
            float* pi = im + start;
            float* qr = pr + h;
            float* qi = pi + h;
            int j = 0;
#if CZ_WMA_SSE
            for (; j + 4 <= h; j += 4) {
                Butterfly4(pr + j, pi + j, qr + j, qi + j, twr + j, twi + j);
            }
#endif
            for (; j < h; ++j) {
                Butterfly(pr[j], pi[j], qr[j], qi[j], twr[j], twi[j]);
            }
        }
    }
    // Turn back: z[j] = (re + i im) v[j] gives the DCT-IV values u[2j] =
    // Re z and u[m - 1 - 2j] = -Im z. Each lands twice in the output, y[i]
    // = u[i + m/2], with u odd about m - 1/2 and antiperiodic with period
    // 2m. With q = m/2 = n, the output's four quarters interleave a forward
    // and a backward run of z:
    //   [0, q):   even zr[n/2 + i], odd -zi[n/2 - 1 - i]
    //   [q, 3q):  even zi[i],       odd -zr[n - 1 - i]
    //   [3q, 4q): even -zr[i],      odd zi[n - 1 - i]
    const float* por = postRe_.data();
    const float* poi = postIm_.data();
    int j = 0;
#if CZ_WMA_AVX2
    if (avx2_ && n >= 8) {
        PostTurnAvx2(re, im, por, poi, n);
        j = n;
    }
#endif
#if CZ_WMA_SSE
    for (; j + 4 <= n; j += 4) {
        const __m128 xr = _mm_loadu_ps(re + j);
        const __m128 xi = _mm_loadu_ps(im + j);
        const __m128 wr = _mm_loadu_ps(por + j);
        const __m128 wi = _mm_loadu_ps(poi + j);
        _mm_storeu_ps(re + j, _mm_sub_ps(_mm_mul_ps(xr, wr), _mm_mul_ps(xi, wi)));
        _mm_storeu_ps(im + j, _mm_add_ps(_mm_mul_ps(xr, wi), _mm_mul_ps(xi, wr)));
    }
#endif
    for (; j < n; ++j) {
        const float zr = re[j] * por[j] - im[j] * poi[j];
        const float zi = re[j] * poi[j] + im[j] * por[j];
        re[j] = zr;
        im[j] = zi;
    }
    const int q = n;
    Interleave(out, re + n / 2, false, im + n / 2 - 1, true, n / 2);
    Interleave(out + q, im, false, re + n - 1, true, n);
    Interleave(out + 3 * q, re, true, im + n - 1, false, n / 2);
}

}  // namespace cz::wma
