// AVX2 and AVX-512 forms of the filter-bank loops, chosen at run time. Every
// product is a 32 x 32 -> 64-bit multiply (vpmuldq) summed in 64 bits, in
// exactly the integers of the portable loops, so the output is the same bit
// for bit; the arithmetic right shifts of 64-bit lanes that AVX2 lacks are
// built from logical ones. The 32-bit Windows build compiles them too (GCC
// target attributes) and chooses them on the same processor test.
#include "decoders/mp3/Mp3Kernels.h"

#include <cstring>

#include "decoders/mp3/Mp3KernelsShared.h"
#include "platform/CpuFeatures.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define CZ_MP3_X86 1
#include <immintrin.h>
#endif

namespace cz::mp3 {

#if CZ_MP3_X86

namespace {

#define CZ_AVX2 __attribute__((target("avx2")))

// The tables in the layouts the vector loops read: cosines widened to 64-bit
// lanes (vpmuldq reads the low half of each), windows padded so that a load
// starting one value further stays inside.
struct alignas(64) VectorTables {
    int64_t imdctLong[18][24];
    int64_t synthOdd[16][16];
    int64_t synthQuarter[8][8];
    int64_t synthHalf[8][8];
    int32_t synthWindow[512 + 16];
    // The long windows by output group of the IMDCT (even and odd lanes,
    // the signs of outputs 9..17 included).
    int64_t hybridWindow[4][5][2][4];
    int32_t aliasCs[16];
    int32_t aliasCa[16];
};

VectorTables BuildTables(const Mp3Tables& t) {
    VectorTables table{};
    VectorTables* v = &table;
    for (int k = 0; k < 18; ++k) {
        for (int u = 0; u < 18; ++u) {
            v->imdctLong[k][u] = t.imdctLong[k][u];
        }
    }
    for (int k = 0; k < 16; ++k) {
        for (int m = 0; m < 16; ++m) {
            v->synthOdd[k][m] = t.synthOdd[k][m];
        }
    }
    for (int k = 0; k < 8; ++k) {
        for (int p = 0; p < 8; ++p) {
            v->synthQuarter[k][p] = t.synthQuarter[k][p];
            v->synthHalf[k][p] = t.synthHalf[k][p];
        }
    }
    std::memcpy(v->synthWindow, t.synthWindow, sizeof t.synthWindow);
    static constexpr int kGroups[5][8] = {{0, 1, 2, 3, 4, 5, 6, 7},
                                          {8, 9, 10, 11, 12, 13, 14, 15},
                                          {16, 17, 34, 35, -1, -1, -1, -1},
                                          {18, 19, 20, 21, 22, 23, 24, 25},
                                          {26, 27, 28, 29, 30, 31, 32, 33}};
    for (int type = 0; type < 4; ++type) {
        for (int j = 0; j < 5; ++j) {
            for (int lane = 0; lane < 8; ++lane) {
                const int i = kGroups[j][lane];
                const int64_t w = i < 0              ? 0
                                  : i >= 9 && i < 18 ? -int64_t(t.windowLong[type][i])
                                                     : t.windowLong[type][i];
                v->hybridWindow[type][j][lane & 1][lane >> 1] = w;
            }
        }
    }
    for (int i = 0; i < 8; ++i) {
        v->aliasCs[i] = t.alias[2 * i];
        v->aliasCa[i] = t.alias[2 * i + 1];
    }
    return table;
}

// Built once, in static storage (the decoders allocate nothing after their
// creation, which builds them).
const VectorTables& Tables(const Mp3Tables& t) {
    static const VectorTables tables = BuildTables(t);
    return tables;
}

inline int32_t Clamp32(int64_t v) {
    return v > kSampleLimit ? kSampleLimit : v < -kSampleLimit ? -kSampleLimit : int32_t(v);
}

CZ_AVX2 inline __m256i Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
CZ_AVX2 inline void Store(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }

// Arithmetic right shift of 64-bit lanes: x >> n = ~(~x >>> n) for x < 0.
template <int N>
CZ_AVX2 inline __m256i Sra64(__m256i x) {
    const __m256i sign = _mm256_cmpgt_epi64(_mm256_setzero_si256(), x);
    return _mm256_xor_si256(_mm256_srli_epi64(_mm256_xor_si256(x, sign), N), sign);
}

// Rounded shift (x + 2^(N - 1)) >> N.
template <int N>
CZ_AVX2 inline __m256i RoundShift64(__m256i x) {
    return Sra64<N>(_mm256_add_epi64(x, _mm256_set1_epi64x(int64_t(1) << (N - 1))));
}

// 64-bit lanes limited to [-limit, limit].
CZ_AVX2 inline __m256i Clamp64(__m256i x, int64_t limit) {
    const __m256i hi = _mm256_set1_epi64x(limit);
    const __m256i lo = _mm256_set1_epi64x(-limit);
    x = _mm256_blendv_epi8(x, hi, _mm256_cmpgt_epi64(x, hi));
    return _mm256_blendv_epi8(x, lo, _mm256_cmpgt_epi64(lo, x));
}

// The low halves of the 64-bit lanes of even (values 0, 2, 4, 6) and odd
// (1, 3, 5, 7), interleaved into eight 32-bit values.
CZ_AVX2 inline __m256i Interleave(__m256i even, __m256i odd) {
    return _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
}

// Eight 32-bit values of a and b: the low halves of the 64-bit lanes of a,
// then those of b.
CZ_AVX2 inline __m256i PackLow(__m256i a, __m256i b) {
    const __m256i m = _mm256_blend_epi32(_mm256_shuffle_epi32(a, 0x88), _mm256_shuffle_epi32(b, 0x88), 0xCC);
    return _mm256_permute4x64_epi64(m, 0xD8);
}

// The IMDCT's 18 sums c[0..17] (c[u] and c[9 + u] the two halves) give the
// 36 outputs y[i] = c[i], -c[17 - i], c[i - 9], c[44 - i] for i in 0..8,
// 9..17, 18..26 and 27..35. They are built in five groups of eight: y[0..7],
// y[8..15], y[16, 17, 34, 35], y[18..25] and y[26..33], so that the first
// three groups give the time slots and the other two, with the last two of
// the third, the overlap; the signs of y[9..17] are in the window.
CZ_AVX2 void HybridLongAvx2(const Mp3Tables& t, int type, const int32_t* in, int32_t* overlap, int32_t* column,
                            int odd) {
    const VectorTables& v = Tables(t);
    __m256i acc[5];
    for (__m256i& a : acc) {
        a = _mm256_setzero_si256();
    }
    for (int k = 0; k < 18; ++k) {
        const __m256i x = _mm256_set1_epi32(in[k]);
        const int64_t* row = v.imdctLong[k];
        for (int j = 0; j < 5; ++j) {
            acc[j] = _mm256_add_epi64(acc[j], _mm256_mul_epi32(x, Load(row + 4 * j)));
        }
    }
    __m256i c[5];
    for (int j = 0; j < 5; ++j) {
        c[j] = Clamp64(RoundShift64<kImdctShift>(acc[j]), 0x7FFFFFFF);
    }
    const __m256i c0 = PackLow(c[0], c[1]);  // c[0..7]
    const __m256i c1 = PackLow(c[2], c[3]);  // c[8..15]
    const __m256i c2 = PackLow(c[4], c[4]);  // c[16], c[17]
    __m256i y[5];
    y[0] = c0;
    y[1] = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c0, _mm256_setr_epi32(0, 0, 7, 6, 5, 4, 3, 2)),
                              _mm256_permutevar8x32_epi32(c1, _mm256_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0)), 0x03);
    y[2] = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c0, _mm256_setr_epi32(1, 0, 0, 0, 0, 0, 0, 0)),
                              _mm256_permutevar8x32_epi32(c1, _mm256_setr_epi32(0, 0, 2, 1, 0, 0, 0, 0)), 0x0C);
    y[3] = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c1, _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 0)),
                              _mm256_permutevar8x32_epi32(c2, _mm256_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0)), 0x80);
    y[4] = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c1, _mm256_setr_epi32(0, 0, 0, 7, 6, 5, 4, 3)),
                              _mm256_permutevar8x32_epi32(c2, _mm256_setr_epi32(1, 1, 0, 0, 0, 0, 0, 0)), 0x07);
    const int64_t(*w)[2][4] = v.hybridWindow[type];
    __m256i out[5];
    for (int j = 0; j < 5; ++j) {
        const __m256i even = _mm256_mul_epi32(y[j], Load(w[j][0]));
        const __m256i oddLanes = _mm256_mul_epi32(_mm256_srli_epi64(y[j], 32), Load(w[j][1]));
        out[j] = Interleave(Clamp64(RoundShift64<30>(even), kSampleLimit),
                            Clamp64(RoundShift64<30>(oddLanes), kSampleLimit));
    }
    // |y| and |overlap| stay within the sample limit, so their sums fit 32
    // bits.
    const __m256i hi = _mm256_set1_epi32(kSampleLimit);
    const __m256i lo = _mm256_set1_epi32(-kSampleLimit);
    const __m256i last = _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(overlap + 16)));
    __m256i s0 = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(out[0], Load(overlap)), lo), hi);
    __m256i s1 = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(out[1], Load(overlap + 8)), lo), hi);
    __m256i s2 = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(out[2], last), lo), hi);
    if (odd) {
        const __m256i signs = _mm256_setr_epi32(1, -1, 1, -1, 1, -1, 1, -1);
        s0 = _mm256_sign_epi32(s0, signs);
        s1 = _mm256_sign_epi32(s1, signs);
        s2 = _mm256_sign_epi32(s2, signs);
    }
    Store(overlap, out[3]);
    Store(overlap + 8, out[4]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(overlap + 16),
                     _mm256_castsi256_si128(_mm256_permute4x64_epi64(out[2], 0x01)));
    alignas(32) int32_t s[24];
    Store(s, s0);
    Store(s + 8, s1);
    Store(s + 16, s2);
    for (int ts = 0; ts < 18; ++ts) {
        column[32 * ts] = s[ts];
    }
}

// The 32 matrixed values of one time slot as four vectors of eight (see the
// portable Matrix for the splitting by symmetry).
CZ_AVX2 inline void MatrixAvx2(const VectorTables& v, const int32_t* s, __m256i x[4]) {
    const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    const __m256i s0 = Load(s);
    const __m256i s1 = Load(s + 8);
    const __m256i s2r = _mm256_permutevar8x32_epi32(Load(s + 16), reverse);
    const __m256i s3r = _mm256_permutevar8x32_epi32(Load(s + 24), reverse);
    alignas(32) int32_t diff[16];
    Store(diff, _mm256_sub_epi32(s0, s3r));
    Store(diff + 8, _mm256_sub_epi32(s1, s2r));
    // (a + b) >> 1 and (a - b) >> 1 of the 32-bit sums without a 33rd bit.
    const __m256i a = _mm256_add_epi32(s0, s3r);
    const __m256i b = _mm256_permutevar8x32_epi32(_mm256_add_epi32(s1, s2r), reverse);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i ha = _mm256_srai_epi32(a, 1);
    const __m256i hb = _mm256_srai_epi32(b, 1);
    alignas(32) int32_t sum2[8];
    alignas(32) int32_t diff2[8];
    Store(sum2, _mm256_add_epi32(_mm256_add_epi32(ha, hb), _mm256_and_si256(_mm256_and_si256(a, b), one)));
    Store(diff2, _mm256_sub_epi32(_mm256_sub_epi32(ha, hb), _mm256_and_si256(_mm256_andnot_si256(a, b), one)));

    __m256i odd[4];
    for (__m256i& o : odd) {
        o = _mm256_setzero_si256();
    }
    for (int k = 0; k < 16; ++k) {
        const __m256i d = _mm256_set1_epi32(diff[k]);
        const int64_t* row = v.synthOdd[k];
        for (int j = 0; j < 4; ++j) {
            odd[j] = _mm256_add_epi64(odd[j], _mm256_mul_epi32(d, Load(row + 4 * j)));
        }
    }
    __m256i quarter[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
    __m256i half[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
    for (int k = 0; k < 8; ++k) {
        const __m256i sa = _mm256_set1_epi32(sum2[k]);
        const __m256i sb = _mm256_set1_epi32(diff2[k]);
        for (int j = 0; j < 2; ++j) {
            quarter[j] = _mm256_add_epi64(quarter[j], _mm256_mul_epi32(sa, Load(v.synthQuarter[k] + 4 * j)));
            half[j] = _mm256_add_epi64(half[j], _mm256_mul_epi32(sb, Load(v.synthHalf[k] + 4 * j)));
        }
    }
    // Even outputs: X[4p] from quarter[p], X[4p + 2] from half[p].
    __m256i even[4];
    for (int j = 0; j < 2; ++j) {
        const __m256i q = Clamp64(RoundShift64<kEvenShift>(quarter[j]), 0x7FFFFFFF);
        const __m256i h = Clamp64(RoundShift64<kEvenShift>(half[j]), 0x7FFFFFFF);
        const __m256i lo = _mm256_unpacklo_epi64(q, h);
        const __m256i hi = _mm256_unpackhi_epi64(q, h);
        even[2 * j] = _mm256_permute2x128_si256(lo, hi, 0x20);
        even[2 * j + 1] = _mm256_permute2x128_si256(lo, hi, 0x31);
    }
    for (int j = 0; j < 4; ++j) {
        x[j] = Interleave(even[j], Clamp64(RoundShift64<kOddShift>(odd[j]), 0x7FFFFFFF));
    }
}

CZ_AVX2 void SynthesiseAvx2(const Mp3Tables& t, const int32_t (*samples)[32], int activeSubbands, int32_t* v,
                            int32_t startIndex, int16_t* out) {
    const VectorTables& tables = Tables(t);
    const int32_t* window = tables.synthWindow;
    const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    const __m256i zero = _mm256_setzero_si256();
    for (int ts = 0; ts < 18; ++ts) {
        const int32_t index = (startIndex - 64 * (ts + 1)) & 1023;
        __m256i x[4] = {zero, zero, zero, zero};
        if (activeSubbands > 0) {
            MatrixAvx2(tables, samples[ts], x);
        }
        // The 64 values of V are X[16..31], 0, -X[31..1] and -X[0..15]: the
        // reversed negation of all 32 goes to 17..48, then -X[0..15] to
        // 48..63 (the value at 48 is -X[0] either way).
        const __m256i r0 = _mm256_sub_epi32(zero, _mm256_permutevar8x32_epi32(x[3], reverse));
        const __m256i r1 = _mm256_sub_epi32(zero, _mm256_permutevar8x32_epi32(x[2], reverse));
        const __m256i r2 = _mm256_sub_epi32(zero, _mm256_permutevar8x32_epi32(x[1], reverse));
        const __m256i r3 = _mm256_sub_epi32(zero, _mm256_permutevar8x32_epi32(x[0], reverse));
        const __m256i n0 = _mm256_sub_epi32(zero, x[0]);
        const __m256i n1 = _mm256_sub_epi32(zero, x[1]);
        for (int32_t* vv : {v + index, v + index + 1024}) {
            Store(vv, x[2]);
            Store(vv + 8, x[3]);
            Store(vv + 17, r0);
            Store(vv + 25, r1);
            Store(vv + 33, r2);
            Store(vv + 41, r3);
            vv[16] = 0;
            Store(vv + 48, n0);
            Store(vv + 56, n1);
        }
        // Sums of 16 window products per output, the even outputs of each
        // group of eight in one vector and the odd ones (the values shifted
        // down one place in each 64-bit lane, the window loaded one value
        // further) in another. The first 32 values of V, written just now,
        // are taken from the registers rather than read back.
        const __m256i round = _mm256_set1_epi64x(int64_t(1) << (kOutputShift - 1));
        __m256i even[4] = {round, round, round, round};
        __m256i odd[4] = {round, round, round, round};
        const __m256i rotate = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
        const __m256i rot0 = _mm256_permutevar8x32_epi32(r0, rotate);
        const __m256i rot1 = _mm256_permutevar8x32_epi32(r1, rotate);
        const __m256i fresh[4] = {x[2], x[3], _mm256_blend_epi32(rot0, zero, 0x01),
                                  _mm256_blend_epi32(rot1, rot0, 0x01)};
        const int32_t* base = v + index;
        for (int i = 0; i < 8; ++i) {
            const int32_t* w0 = window + 64 * i;
            const int32_t* w1 = w0 + 32;
            const int32_t* v0 = base + 128 * i;
            const int32_t* v1 = v0 + 96;
            for (int j = 0; j < 4; ++j) {
                const __m256i a = i == 0 ? fresh[j] : Load(v0 + 8 * j);
                const __m256i b = Load(v1 + 8 * j);
                const __m256i e =
                    _mm256_add_epi64(_mm256_mul_epi32(a, Load(w0 + 8 * j)), _mm256_mul_epi32(b, Load(w1 + 8 * j)));
                const __m256i o = _mm256_add_epi64(_mm256_mul_epi32(_mm256_srli_epi64(a, 32), Load(w0 + 8 * j + 1)),
                                                   _mm256_mul_epi32(_mm256_srli_epi64(b, 32), Load(w1 + 8 * j + 1)));
                even[j] = _mm256_add_epi64(even[j], e);
                odd[j] = _mm256_add_epi64(odd[j], o);
            }
        }
        // |sum| < 2^53, so the shifted values fit 32 bits and the saturating
        // pack gives the clamp to 16 bits.
        __m256i pcm[4];
        for (int j = 0; j < 4; ++j) {
            pcm[j] = Interleave(Sra64<kOutputShift>(even[j]), Sra64<kOutputShift>(odd[j]));
        }
        int16_t* o = out + ts * 32;
        Store(o, _mm256_permute4x64_epi64(_mm256_packs_epi32(pcm[0], pcm[1]), 0xD8));
        Store(o + 16, _mm256_permute4x64_epi64(_mm256_packs_epi32(pcm[2], pcm[3]), 0xD8));
    }
}

CZ_AVX2 int RequantiseSmallAvx2(const int32_t* small, int32_t* lines, int begin, int end) {
    const __m256i low = Load(small);
    const __m256i high = Load(small + 8);
    const __m256i fifteen = _mm256_set1_epi32(15);
    const __m256i seven = _mm256_set1_epi32(7);
    int i = begin;
    for (; i + 8 <= end; i += 8) {
        const __m256i v = Load(lines + i);
        const __m256i a = _mm256_abs_epi32(v);
        if (!_mm256_testz_si256(_mm256_cmpgt_epi32(a, fifteen), _mm256_cmpgt_epi32(a, fifteen))) {
            break;
        }
        const __m256i magnitude = _mm256_blendv_epi8(
            _mm256_permutevar8x32_epi32(low, a), _mm256_permutevar8x32_epi32(high, a), _mm256_cmpgt_epi32(a, seven));
        // sign(m, v) is -m, 0 or m as v is negative, zero or positive, and
        // the value of 0 is 0.
        Store(lines + i, _mm256_sign_epi32(magnitude, v));
    }
    return i;
}

// (a * c0 + b * c1 + 2^30) >> 31 within 32 bits, of the 64-bit lanes.
CZ_AVX2 inline __m256i Butterfly(__m256i a, __m256i c0, __m256i b, __m256i c1) {
    const __m256i sum = _mm256_add_epi64(_mm256_mul_epi32(a, c0), _mm256_mul_epi32(b, c1));
    return Clamp64(RoundShift64<31>(sum), 0x7FFFFFFF);
}

CZ_AVX2 void AliasReduceAvx2(const Mp3Tables& t, int32_t* lines, int from, int to) {
    const VectorTables& v = Tables(t);
    const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    const __m256i cs = Load(v.aliasCs);
    const __m256i ca = Load(v.aliasCa);
    const __m256i negCa = _mm256_sub_epi32(_mm256_setzero_si256(), ca);
    const __m256i cs1 = _mm256_srli_epi64(cs, 32);
    const __m256i ca1 = _mm256_srli_epi64(ca, 32);
    const __m256i negCa1 = _mm256_srli_epi64(negCa, 32);
    for (int sb = from; sb < to; ++sb) {
        int32_t* base = lines + sb * 18;
        // lower[i] = base[-1 - i], upper[i] = base[i], i = 0..7.
        const __m256i lower = _mm256_permutevar8x32_epi32(Load(base - 8), reverse);
        const __m256i upper = Load(base);
        const __m256i lower1 = _mm256_srli_epi64(lower, 32);
        const __m256i upper1 = _mm256_srli_epi64(upper, 32);
        const __m256i newLower = Interleave(Butterfly(lower, cs, upper, negCa), Butterfly(lower1, cs1, upper1, negCa1));
        const __m256i newUpper = Interleave(Butterfly(upper, cs, lower, ca), Butterfly(upper1, cs1, lower1, ca1));
        Store(base, newUpper);
        Store(base - 8, _mm256_permutevar8x32_epi32(newLower, reverse));
    }
}

CZ_AVX2 void OverlapAddAvx2(const int32_t* y, int32_t* overlap, int32_t* column, int odd) {
    const __m256i hi = _mm256_set1_epi32(kSampleLimit);
    const __m256i lo = _mm256_set1_epi32(-kSampleLimit);
    // |y| and |overlap| stay within the sample limit, so their sums fit 32 bits.
    __m256i s0 = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(Load(y), Load(overlap)), lo), hi);
    __m256i s1 = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(Load(y + 8), Load(overlap + 8)), lo), hi);
    int32_t s16 = Clamp32(int64_t(y[16]) + overlap[16]);
    int32_t s17 = Clamp32(int64_t(y[17]) + overlap[17]);
    if (odd) {
        const __m256i signs = _mm256_setr_epi32(1, -1, 1, -1, 1, -1, 1, -1);
        s0 = _mm256_sign_epi32(s0, signs);
        s1 = _mm256_sign_epi32(s1, signs);
        s17 = -s17;
    }
    Store(overlap, Load(y + 18));
    Store(overlap + 8, Load(y + 26));
    overlap[16] = y[34];
    overlap[17] = y[35];
    alignas(32) int32_t s[16];
    Store(s, s0);
    Store(s + 8, s1);
    for (int ts = 0; ts < 16; ++ts) {
        column[32 * ts] = s[ts];
    }
    column[32 * 16] = s16;
    column[32 * 17] = s17;
}

#undef CZ_AVX2

// ---- AVX-512 (F, BW, DQ, VL): the same sums eight or sixteen lanes at a time,
// with the 64-bit arithmetic shifts and limits the instruction set has.
// GCC 12's AVX-512 intrinsics start from _mm512_undefined_epi32(), which
// its own uninitialised-value warning then reports.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#define CZ_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2")))

CZ_AVX512 inline __m512i Load512(const void* p) { return _mm512_loadu_si512(p); }

template <int N>
CZ_AVX512 inline __m512i RoundShift512(__m512i x) {
    return _mm512_srai_epi64(_mm512_add_epi64(x, _mm512_set1_epi64(int64_t(1) << (N - 1))), N);
}

CZ_AVX512 inline __m512i Clamp512(__m512i x, int64_t limit) {
    return _mm512_min_epi64(_mm512_max_epi64(x, _mm512_set1_epi64(-limit)), _mm512_set1_epi64(limit));
}

template <int N>
CZ_AVX512 inline __m256i RoundShift256(__m256i x) {
    return _mm256_srai_epi64(_mm256_add_epi64(x, _mm256_set1_epi64x(int64_t(1) << (N - 1))), N);
}

CZ_AVX512 inline __m256i Clamp256(__m256i x, int64_t limit) {
    return _mm256_min_epi64(_mm256_max_epi64(x, _mm256_set1_epi64x(-limit)), _mm256_set1_epi64x(limit));
}

// Sixteen 32-bit values: the low halves of the 64-bit lanes of even (values
// 0, 2, ..., 14) and odd (1, 3, ..., 15).
CZ_AVX512 inline __m512i Interleave512(__m512i even, __m512i odd) {
    return _mm512_mask_blend_epi32(0xAAAA, even, _mm512_slli_epi64(odd, 32));
}

CZ_AVX512 void HybridLongAvx512(const Mp3Tables& t, int type, const int32_t* in, int32_t* overlap, int32_t* column,
                                int odd) {
    const VectorTables& v = Tables(t);
    __m512i acc[3] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
    for (int k = 0; k < 18; ++k) {
        const __m512i x = _mm512_set1_epi32(in[k]);
        const int64_t* row = v.imdctLong[k];
        for (int j = 0; j < 3; ++j) {
            acc[j] = _mm512_add_epi64(acc[j], _mm512_mul_epi32(x, Load512(row + 8 * j)));
        }
    }
    // The 18 sums as 32-bit values: c[0..7], c[8..15] and c[16], c[17].
    __m256i c[3];
    for (int j = 0; j < 3; ++j) {
        c[j] = _mm512_cvtepi64_epi32(Clamp512(RoundShift512<kImdctShift>(acc[j]), 0x7FFFFFFF));
    }
    // As in the AVX2 form: the outputs in the groups y[0..7], y[8..15],
    // y[16, 17, 34, 35], y[18..25], y[26..33].
    const __m256i c0 = c[0];
    const __m256i c1 = c[1];
    const __m256i c2 = c[2];
    __m256i y[5];
    y[0] = c0;
    y[1] = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c0, _mm256_setr_epi32(0, 0, 7, 6, 5, 4, 3, 2)),
                              _mm256_permutevar8x32_epi32(c1, _mm256_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0)), 0x03);
    y[2] = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c0, _mm256_setr_epi32(1, 0, 0, 0, 0, 0, 0, 0)),
                              _mm256_permutevar8x32_epi32(c1, _mm256_setr_epi32(0, 0, 2, 1, 0, 0, 0, 0)), 0x0C);
    y[3] = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c1, _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 0)),
                              _mm256_permutevar8x32_epi32(c2, _mm256_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0)), 0x80);
    y[4] = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c1, _mm256_setr_epi32(0, 0, 0, 7, 6, 5, 4, 3)),
                              _mm256_permutevar8x32_epi32(c2, _mm256_setr_epi32(1, 1, 0, 0, 0, 0, 0, 0)), 0x07);
    const int64_t(*w)[2][4] = v.hybridWindow[type];
    __m256i out[5];
    for (int j = 0; j < 5; ++j) {
        const __m256i even = _mm256_mul_epi32(y[j], Load(w[j][0]));
        const __m256i oddLanes = _mm256_mul_epi32(_mm256_srli_epi64(y[j], 32), Load(w[j][1]));
        out[j] = Interleave(Clamp256(RoundShift256<30>(even), kSampleLimit),
                            Clamp256(RoundShift256<30>(oddLanes), kSampleLimit));
    }
    const __m256i hi = _mm256_set1_epi32(kSampleLimit);
    const __m256i lo = _mm256_set1_epi32(-kSampleLimit);
    const __m256i last = _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(overlap + 16)));
    __m256i s0 = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(out[0], Load(overlap)), lo), hi);
    __m256i s1 = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(out[1], Load(overlap + 8)), lo), hi);
    __m256i s2 = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(out[2], last), lo), hi);
    if (odd) {
        const __m256i signs = _mm256_setr_epi32(1, -1, 1, -1, 1, -1, 1, -1);
        s0 = _mm256_sign_epi32(s0, signs);
        s1 = _mm256_sign_epi32(s1, signs);
        s2 = _mm256_sign_epi32(s2, signs);
    }
    Store(overlap, out[3]);
    Store(overlap + 8, out[4]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(overlap + 16),
                     _mm256_castsi256_si128(_mm256_permute4x64_epi64(out[2], 0x01)));
    alignas(32) int32_t s[24];
    Store(s, s0);
    Store(s + 8, s1);
    Store(s + 16, s2);
    for (int ts = 0; ts < 18; ++ts) {
        column[32 * ts] = s[ts];
    }
}

// The 32 matrixed values of one time slot as two vectors of sixteen.
CZ_AVX512 inline void MatrixAvx512(const VectorTables& v, const int32_t* s, __m512i x[2]) {
    const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    const __m256i s0 = Load(s);
    const __m256i s1 = Load(s + 8);
    const __m256i s2r = _mm256_permutevar8x32_epi32(Load(s + 16), reverse);
    const __m256i s3r = _mm256_permutevar8x32_epi32(Load(s + 24), reverse);
    alignas(32) int32_t diff[16];
    Store(diff, _mm256_sub_epi32(s0, s3r));
    Store(diff + 8, _mm256_sub_epi32(s1, s2r));
    const __m256i a = _mm256_add_epi32(s0, s3r);
    const __m256i b = _mm256_permutevar8x32_epi32(_mm256_add_epi32(s1, s2r), reverse);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i ha = _mm256_srai_epi32(a, 1);
    const __m256i hb = _mm256_srai_epi32(b, 1);
    alignas(32) int32_t sum2[8];
    alignas(32) int32_t diff2[8];
    Store(sum2, _mm256_add_epi32(_mm256_add_epi32(ha, hb), _mm256_and_si256(_mm256_and_si256(a, b), one)));
    Store(diff2, _mm256_sub_epi32(_mm256_sub_epi32(ha, hb), _mm256_and_si256(_mm256_andnot_si256(a, b), one)));

    __m512i odd[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
    for (int k = 0; k < 16; ++k) {
        const __m512i d = _mm512_set1_epi32(diff[k]);
        odd[0] = _mm512_add_epi64(odd[0], _mm512_mul_epi32(d, Load512(v.synthOdd[k])));
        odd[1] = _mm512_add_epi64(odd[1], _mm512_mul_epi32(d, Load512(v.synthOdd[k] + 8)));
    }
    __m512i quarter = _mm512_setzero_si512();
    __m512i half = _mm512_setzero_si512();
    for (int k = 0; k < 8; ++k) {
        quarter = _mm512_add_epi64(quarter, _mm512_mul_epi32(_mm512_set1_epi32(sum2[k]), Load512(v.synthQuarter[k])));
        half = _mm512_add_epi64(half, _mm512_mul_epi32(_mm512_set1_epi32(diff2[k]), Load512(v.synthHalf[k])));
    }
    // Even outputs X[2m]: quarter[p] at m = 2p, half[p] at m = 2p + 1.
    const __m512i q = Clamp512(RoundShift512<kEvenShift>(quarter), 0x7FFFFFFF);
    const __m512i h = Clamp512(RoundShift512<kEvenShift>(half), 0x7FFFFFFF);
    const __m512i even0 = _mm512_permutex2var_epi64(q, _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11), h);
    const __m512i even1 = _mm512_permutex2var_epi64(q, _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15), h);
    x[0] = Interleave512(even0, Clamp512(RoundShift512<kOddShift>(odd[0]), 0x7FFFFFFF));
    x[1] = Interleave512(even1, Clamp512(RoundShift512<kOddShift>(odd[1]), 0x7FFFFFFF));
}

CZ_AVX512 void SynthesiseAvx512(const Mp3Tables& t, const int32_t (*samples)[32], int activeSubbands, int32_t* v,
                                int32_t startIndex, int16_t* out) {
    const VectorTables& tables = Tables(t);
    const int32_t* window = tables.synthWindow;
    const __m512i reverse = _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i shiftUp = _mm512_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i round = _mm512_set1_epi64(int64_t(1) << (kOutputShift - 1));
    for (int ts = 0; ts < 18; ++ts) {
        const int32_t index = (startIndex - 64 * (ts + 1)) & 1023;
        __m512i x[2] = {zero, zero};
        if (activeSubbands > 0) {
            MatrixAvx512(tables, samples[ts], x);
        }
        // V: X[16..31], 0, -X[31..1], -X[0..15] (see the AVX2 form).
        const __m512i r0 = _mm512_sub_epi32(zero, _mm512_permutexvar_epi32(reverse, x[1]));  // -X[31..16]
        const __m512i r1 = _mm512_sub_epi32(zero, _mm512_permutexvar_epi32(reverse, x[0]));  // -X[15..0]
        const __m512i n0 = _mm512_sub_epi32(zero, x[0]);
        for (int32_t* vv : {v + index, v + index + 1024}) {
            _mm512_storeu_si512(vv, x[1]);
            _mm512_storeu_si512(vv + 17, r0);
            _mm512_storeu_si512(vv + 33, r1);
            vv[16] = 0;
            _mm512_storeu_si512(vv + 48, n0);
        }
        // V[16..31] = 0, -X[31..17], from the registers.
        const __m512i fresh[2] = {x[1], _mm512_maskz_permutexvar_epi32(0xFFFE, shiftUp, r0)};
        __m512i even[2] = {round, round};
        __m512i odd[2] = {round, round};
        const int32_t* base = v + index;
        for (int i = 0; i < 8; ++i) {
            const int32_t* w0 = window + 64 * i;
            const int32_t* w1 = w0 + 32;
            const int32_t* v0 = base + 128 * i;
            const int32_t* v1 = v0 + 96;
            for (int j = 0; j < 2; ++j) {
                const __m512i a = i == 0 ? fresh[j] : Load512(v0 + 16 * j);
                const __m512i b = Load512(v1 + 16 * j);
                const __m512i e = _mm512_add_epi64(_mm512_mul_epi32(a, Load512(w0 + 16 * j)),
                                                   _mm512_mul_epi32(b, Load512(w1 + 16 * j)));
                const __m512i o =
                    _mm512_add_epi64(_mm512_mul_epi32(_mm512_srli_epi64(a, 32), Load512(w0 + 16 * j + 1)),
                                     _mm512_mul_epi32(_mm512_srli_epi64(b, 32), Load512(w1 + 16 * j + 1)));
                even[j] = _mm512_add_epi64(even[j], e);
                odd[j] = _mm512_add_epi64(odd[j], o);
            }
        }
        // |sum| < 2^53: the shifted values fit 32 bits, and the saturating
        // narrowing gives the clamp to 16 bits.
        int16_t* o = out + ts * 32;
        for (int j = 0; j < 2; ++j) {
            const __m512i pcm =
                Interleave512(_mm512_srai_epi64(even[j], kOutputShift), _mm512_srai_epi64(odd[j], kOutputShift));
            Store(o + 16 * j, _mm512_cvtsepi32_epi16(pcm));
        }
    }
}

#undef CZ_AVX512
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool HasAvx2() {
    return static_cast<int>(platform::MachineCpuTier()) >= static_cast<int>(platform::CpuTier::kAvx2);
}

const Mp3Kernels kAvx2 = {"avx2", HybridLongAvx2, SynthesiseAvx2, RequantiseSmallAvx2, AliasReduceAvx2, OverlapAddAvx2};

bool HasAvx512() { return platform::MachineCpuTier() == platform::CpuTier::kAvx512; }

// Alias reduction, overlap-add and requantisation gain nothing from wider
// vectors: the AVX2 forms serve.
const Mp3Kernels kAvx512 = {"avx512",        HybridLongAvx512, SynthesiseAvx512, RequantiseSmallAvx2,
                            AliasReduceAvx2, OverlapAddAvx2};

}  // namespace

const Mp3Kernels* Avx2Mp3Kernels() { return HasAvx2() ? &kAvx2 : nullptr; }
const Mp3Kernels* Avx512Mp3Kernels() { return HasAvx512() ? &kAvx512 : nullptr; }

void PrepareVectorKernels(const Mp3Tables& t) {
    if (HasAvx2()) {
        Tables(t);
    }
}

#else

const Mp3Kernels* Avx2Mp3Kernels() { return nullptr; }
const Mp3Kernels* Avx512Mp3Kernels() { return nullptr; }
void PrepareVectorKernels(const Mp3Tables&) {}

#endif

}  // namespace cz::mp3
