// Polyphase synthesis filter bank: 32 subband samples per time slot into 32
// PCM samples, for every channel of a granule.
#include "decoders/mp3/Mp3DecoderState.h"
#include "decoders/mp3/Mp3Kernels.h"
#include "decoders/mp3/Mp3Simd.h"

namespace cz::mp3 {

CZ_MP3_HOT void Synthesise(Mp3Decoder& d, int32_t startIndex, int16_t* out) {
    const Mp3Tables& t = *d.tables;
    const SynthesisKernel synthesise = ActiveMp3Kernels().synthesise;
    if (d.channels == 1) {
        synthesise(t, d.hybrid.samples[0], d.hybrid.samplesActive[0], d.synthesis.v[0], startIndex, out);
        return;
    }
    int16_t pcm[2][18 * 32];
    for (int ch = 0; ch < 2; ++ch) {
        synthesise(t, d.hybrid.samples[ch], d.hybrid.samplesActive[ch], d.synthesis.v[ch], startIndex, pcm[ch]);
    }
    for (int i = 0; i < 18 * 32; ++i) {
        out[2 * i] = pcm[0][i];
        out[2 * i + 1] = pcm[1][i];
    }
}

}  // namespace cz::mp3
