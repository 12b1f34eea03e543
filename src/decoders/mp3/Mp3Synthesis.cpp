// Polyphase synthesis filter bank: 32 subband samples per time slot into 32
// PCM samples.
#include "decoders/mp3/Mp3DecoderState.h"
#include "decoders/mp3/Mp3Simd.h"

namespace cz::mp3 {
namespace {

// Subband samples times the Q28 cosines to the V format (the even half from
// halved sums), and V times the window (2^17 units) to 16-bit samples.
constexpr int kOddShift = kSampleFractionBits + 28 - kSynthesisFractionBits;
constexpr int kEvenShift = kOddShift - 1;
constexpr int kOutputShift = kSynthesisFractionBits + 17 - 15;

inline int32_t ClampV(int64_t v) { return v > 0x7FFFFFFF ? 0x7FFFFFFF : v < -0x7FFFFFFF ? -0x7FFFFFFF : int32_t(v); }

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

}  // namespace

CZ_MP3_HOT void Synthesise(Mp3Decoder& d, int channel, int32_t startIndex, int16_t* out, int channels) {
    const Mp3Tables& t = *d.tables;
    int32_t* v = d.synthesis.v[channel];
    const int32_t* window = t.synthWindow;
    for (int ts = 0; ts < 18; ++ts) {
        const int32_t index = (startIndex - 64 * (ts + 1)) & 1023;
        int32_t x[32];
        Matrix(t, d.hybrid.samples[channel][ts], x);
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
        int16_t* o = out + size_t(ts) * 32 * size_t(channels);
        for (int j = 0; j < 32; ++j) {
            int64_t sample = acc[j] >> kOutputShift;
            sample = sample > 32767 ? 32767 : sample < -32768 ? -32768 : sample;
            o[size_t(j) * size_t(channels)] = int16_t(sample);
        }
    }
}

}  // namespace cz::mp3
