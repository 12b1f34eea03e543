// The portable filter-bank loops and the choice of kernels.
#include "decoders/mp3/Mp3Kernels.h"

#include <atomic>
#include <cstring>

#include "decoders/mp3/Mp3DecoderState.h"
#include "decoders/mp3/Mp3KernelsShared.h"
#include "decoders/mp3/Mp3Simd.h"
#include "platform/CpuFeatures.h"

namespace cz::mp3 {
namespace {

inline int32_t Clamp(int64_t v, int32_t limit) { return v > limit ? limit : v < -limit ? -limit : int32_t(v); }

// 36-point IMDCT: 18 sums give all 36 outputs (x[17 - i] = -x[i] and
// x[35 - i] = x[18 + i] for i < 9), which are then windowed.
CZ_MP3_HOT void ImdctLongPlain(const Mp3Tables& t, int type, const int32_t* in, int32_t* out) {
    int64_t acc[18] = {};
    for (int k = 0; k < 18; ++k) {
        const int64_t x = in[k];
        const int32_t* row = t.imdctLong[k];
        for (int u = 0; u < 18; ++u) {
            acc[u] += x * row[u];
        }
    }
    int32_t y[36];
    for (int u = 0; u < 9; ++u) {
        const int32_t a = Clamp((acc[u] + (int64_t(1) << (kImdctShift - 1))) >> kImdctShift, 0x7FFFFFFF);
        const int32_t b = Clamp((acc[9 + u] + (int64_t(1) << (kImdctShift - 1))) >> kImdctShift, 0x7FFFFFFF);
        y[u] = a;
        y[17 - u] = -a;
        y[18 + u] = b;
        y[35 - u] = b;
    }
    const int32_t* w = t.windowLong[type];
    for (int i = 0; i < 36; ++i) {
        out[i] = Clamp((int64_t(y[i]) * w[i] + (int64_t(1) << 29)) >> 30, kSampleLimit);
    }
}

// X[i] = sum S[k] cos((2k + 1) i pi / 64), i = 0..31, from subband samples
// into the V format. With S[31 - k] the cosine only changes sign for odd i, so
// even outputs take the sums S[k] + S[31 - k] and odd ones the differences;
// the even half splits once more the same way (its sums halved to stay within
// 32 bits). |S| < 2^30 (the subband sample limit) keeps every sum within 64
// bits.
CZ_MP3_HOT void Matrix(const Mp3Tables& t, const int32_t* s, int32_t* x) {
    int32_t sum[16];
    int32_t diff[16];
    for (int k = 0; k < 16; ++k) {
        sum[k] = s[k] + s[31 - k];
        diff[k] = s[k] - s[31 - k];
    }
    int32_t sum2[8];
    int32_t diff2[8];
    for (int k = 0; k < 8; ++k) {
        sum2[k] = int32_t((int64_t(sum[k]) + sum[15 - k]) >> 1);
        diff2[k] = int32_t((int64_t(sum[k]) - sum[15 - k]) >> 1);
    }
    int64_t odd[16] = {};
    for (int k = 0; k < 16; ++k) {
        const int64_t b = diff[k];
        const int32_t* co = t.synthOdd[k];
        for (int m = 0; m < 16; ++m) {
            odd[m] += b * co[m];
        }
    }
    int64_t quarter[8] = {};
    int64_t half[8] = {};
    for (int k = 0; k < 8; ++k) {
        const int64_t a = sum2[k];
        const int64_t b = diff2[k];
        const int32_t* cq = t.synthQuarter[k];
        const int32_t* ch = t.synthHalf[k];
        for (int p = 0; p < 8; ++p) {
            quarter[p] += a * cq[p];
            half[p] += b * ch[p];
        }
    }
    for (int m = 0; m < 16; ++m) {
        x[2 * m + 1] = ClampV((odd[m] + (int64_t(1) << (kOddShift - 1))) >> kOddShift);
    }
    for (int p = 0; p < 8; ++p) {
        x[4 * p] = ClampV((quarter[p] + (int64_t(1) << (kEvenShift - 1))) >> kEvenShift);
        x[4 * p + 2] = ClampV((half[p] + (int64_t(1) << (kEvenShift - 1))) >> kEvenShift);
    }
}

CZ_MP3_HOT void SynthesisePlain(const Mp3Tables& t, const int32_t (*samples)[32], int activeSubbands, int32_t* v,
                                int32_t startIndex, int16_t* out) {
    const int32_t* window = t.synthWindow;
    for (int ts = 0; ts < 18; ++ts) {
        const int32_t index = (startIndex - 64 * (ts + 1)) & 1023;
        int32_t x[32];
        if (activeSubbands > 0) {
            Matrix(t, samples[ts], x);
        } else {
            std::memset(x, 0, sizeof x);
        }
        // The 64 values of V are X[16..31], 0, -X[31..1] and -X[0..15].
        int32_t* vv = v + index;
        int32_t* copy = v + index + 1024;
        for (int i = 0; i < 16; ++i) {
            vv[i] = copy[i] = x[16 + i];
        }
        vv[16] = copy[16] = 0;
        for (int i = 17; i < 48; ++i) {
            vv[i] = copy[i] = -x[48 - i];
        }
        for (int i = 48; i < 64; ++i) {
            vv[i] = copy[i] = -x[i - 48];
        }
        int64_t acc[32];
        for (int j = 0; j < 32; ++j) {
            acc[j] = int64_t(1) << (kOutputShift - 1);
        }
        const int32_t* base = v + index;
        for (int i = 0; i < 8; ++i) {
            const int32_t* w0 = window + 64 * i;
            const int32_t* w1 = w0 + 32;
            const int32_t* v0 = base + 128 * i;
            const int32_t* v1 = v0 + 96;
            for (int j = 0; j < 32; ++j) {
                acc[j] += int64_t(w0[j]) * v0[j] + int64_t(w1[j]) * v1[j];
            }
        }
        int16_t* o = out + ts * 32;
        for (int j = 0; j < 32; ++j) {
            int64_t sample = acc[j] >> kOutputShift;
            sample = sample > 32767 ? 32767 : sample < -32768 ? -32768 : sample;
            o[j] = int16_t(sample);
        }
    }
}

void AliasReducePlain(const Mp3Tables& t, int32_t* lines, int boundaryFrom, int boundaryTo) {
    for (int sb = boundaryFrom; sb < boundaryTo; ++sb) {
        int32_t* lower = lines + sb * 18 - 1;
        int32_t* upper = lines + sb * 18;
        for (int i = 0; i < 8; ++i) {
            const int64_t a = lower[-i];
            const int64_t b = upper[i];
            const int64_t cs = t.alias[2 * i];
            const int64_t ca = t.alias[2 * i + 1];
            lower[-i] = Clamp((a * cs - b * ca + (int64_t(1) << 30)) >> 31, 0x7FFFFFFF);
            upper[i] = Clamp((b * cs + a * ca + (int64_t(1) << 30)) >> 31, 0x7FFFFFFF);
        }
    }
}

void OverlapAddPlain(const int32_t* y, int32_t* overlap, int32_t* column, int odd) {
    for (int ts = 0; ts < 18; ++ts) {
        const int32_t sample = Clamp(int64_t(y[ts]) + overlap[ts], kSampleLimit);
        column[32 * ts] = odd && (ts & 1) ? -sample : sample;
        overlap[ts] = y[ts + 18];
    }
}

// The portable path converts every line where it is called.
int RequantiseSmallPlain(const int32_t*, int32_t*, int begin, int) { return begin; }

void HybridLongPlain(const Mp3Tables& t, int type, const int32_t* in, int32_t* overlap, int32_t* column, int odd) {
    int32_t y[36];
    ImdctLongPlain(t, type, in, y);
    OverlapAddPlain(y, overlap, column, odd);
}

const Mp3Kernels kPlain = {"plain",          HybridLongPlain, SynthesisePlain, RequantiseSmallPlain,
                           AliasReducePlain, OverlapAddPlain};

std::atomic<bool> g_vectorAllowed{true};
std::atomic<const Mp3Kernels*> g_forced{nullptr};

// The widest form the active tier allows (see platform/CpuFeatures.h).
const Mp3Kernels& Widest() {
    if (platform::CpuTierActive(platform::CpuTier::kAvx512)) {
        if (const Mp3Kernels* k = Avx512Mp3Kernels()) {
            return *k;
        }
    }
    if (platform::CpuTierActive(platform::CpuTier::kAvx2)) {
        if (const Mp3Kernels* k = Avx2Mp3Kernels()) {
            return *k;
        }
    }
    return kPlain;
}

}  // namespace

const Mp3Kernels& PlainMp3Kernels() { return kPlain; }

void PrepareMp3Kernels(const Mp3Tables& t) {
    PrepareVectorKernels(t);
    PrepareRequantisation(t);
    Widest();
}

const Mp3Kernels& ActiveMp3Kernels() {
    if (const Mp3Kernels* forced = g_forced.load(std::memory_order_relaxed)) {
        return *forced;
    }
    return g_vectorAllowed.load(std::memory_order_relaxed) ? Widest() : kPlain;
}

void SetMp3VectorKernelsAllowed(bool allowed) { g_vectorAllowed.store(allowed, std::memory_order_relaxed); }

bool ForceMp3Kernels(const char* name) {
    if (name == nullptr || *name == '\0') {
        g_forced.store(nullptr, std::memory_order_relaxed);
        return true;
    }
    const Mp3Kernels* candidates[] = {&kPlain, Avx2Mp3Kernels(), Avx512Mp3Kernels()};
    for (const Mp3Kernels* k : candidates) {
        if (k != nullptr && std::strcmp(k->name, name) == 0) {
            g_forced.store(k, std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

}  // namespace cz::mp3
