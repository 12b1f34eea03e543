// Polyphase synthesis filter bank: 32 subband samples per time slot into 32
// PCM samples.
#include "decoders/mp3/Mp3DecoderState.h"

namespace cz::mp3 {
namespace {

inline int32_t ClampV(int64_t v) {
    return v > 0x7FFFFFFF ? 0x7FFFFFFF : v < -0x7FFFFFFF ? -0x7FFFFFFF : int32_t(v);
}

}  // namespace

void Synthesise(Mp3Decoder& d, int channel, int32_t startIndex, int16_t* out, int channels) {
    const Mp3Tables& t = *d.tables;
    int32_t* v = d.synthesis.v[channel];
    const int32_t* window = t.synthWindow;
    for (int ts = 0; ts < 18; ++ts) {
        const int32_t index = (startIndex - 64 * (ts + 1)) & 1023;
        const int32_t* s = d.hybrid.samples[channel][ts];
        // Matrixing: X[i] = sum S[k] cos((2k + 1) i pi / 64); the 64 values
        // of V are X[16..31], 0, -X[31..1] and -X[0..15].
        int32_t x[32];
        for (int i = 0; i < 32; ++i) {
            int64_t acc = 0;
            for (int k = 0; k < 32; ++k) {
                acc += int64_t(s[k]) * t.synthCos[i][k];
            }
            x[i] = ClampV((acc + (int64_t(1) << 31)) >> 32);  // Q56 -> Q24
        }
        int32_t* vv = v + index;
        for (int i = 0; i < 16; ++i) {
            vv[i] = x[16 + i];
        }
        vv[16] = 0;
        for (int i = 17; i < 48; ++i) {
            vv[i] = -x[48 - i];
        }
        for (int i = 48; i < 64; ++i) {
            vv[i] = -x[i - 48];
        }
        int16_t* o = out + size_t(ts) * 32 * size_t(channels);
        for (int j = 0; j < 32; ++j) {
            int64_t acc = int64_t(1) << 25;
            for (int i = 0; i < 8; ++i) {
                acc += int64_t(window[64 * i + j]) * v[(index + 128 * i + j) & 1023];
                acc += int64_t(window[64 * i + 32 + j]) * v[(index + 128 * i + 96 + j) & 1023];
            }
            int64_t sample = acc >> 26;
            sample = sample > 32767 ? 32767 : sample < -32768 ? -32768 : sample;
            o[size_t(j) * size_t(channels)] = int16_t(sample);
        }
    }
}

}  // namespace cz::mp3
