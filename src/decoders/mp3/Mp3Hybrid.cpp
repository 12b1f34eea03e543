// Hybrid filter bank of one channel: alias reduction, IMDCT with the window
// of the block type, overlap-add and frequency inversion.
#include <cstring>

#include "decoders/mp3/Mp3DecoderState.h"
#include "decoders/mp3/Mp3Kernels.h"
#include "decoders/mp3/Mp3KernelsShared.h"
#include "decoders/mp3/Mp3Simd.h"

namespace cz::mp3 {
namespace {

inline int32_t Clamp(int64_t v, int32_t limit) { return v > limit ? limit : v < -limit ? -limit : int32_t(v); }

// Three windowed 12-point IMDCTs placed at offsets 6, 12 and 18 of the 36
// outputs.
CZ_MP3_HOT void ImdctShort(const Mp3Tables& t, const int32_t* in, int32_t* out) {
    int64_t sum[36] = {};
    for (int w = 0; w < 3; ++w) {
        const int32_t* x = in + w * 6;
        int64_t acc[6] = {};
        for (int k = 0; k < 6; ++k) {
            for (int u = 0; u < 6; ++u) {
                acc[u] += int64_t(x[k]) * t.imdctShort[k][u];
            }
        }
        int32_t y[12];
        for (int u = 0; u < 3; ++u) {
            const int32_t a = Clamp((acc[u] + (int64_t(1) << (kImdctShift - 1))) >> kImdctShift, 0x7FFFFFFF);
            const int32_t b = Clamp((acc[3 + u] + (int64_t(1) << (kImdctShift - 1))) >> kImdctShift, 0x7FFFFFFF);
            y[u] = a;
            y[5 - u] = -a;
            y[6 + u] = b;
            y[11 - u] = b;
        }
        for (int i = 0; i < 12; ++i) {
            sum[6 + 6 * w + i] += (int64_t(y[i]) * t.windowShort[i] + (int64_t(1) << 29)) >> 30;
        }
    }
    for (int i = 0; i < 36; ++i) {
        out[i] = Clamp(sum[i], kSampleLimit);
    }
}

}  // namespace

int32_t HybridFilter(Mp3Decoder& d, int gr, int ch) {
    const Mp3GranuleInfo& g = d.sideInfo.granules[gr][ch];
    const Mp3Tables& t = *d.tables;
    Mp3HybridState& h = d.hybrid;
    int32_t* lines = d.huffman.lines[ch];
    const int nz = d.huffman.nonZeroBound[ch];
    const bool shortBlock = g.windowSwitching && g.blockType == 2;
    const int longSubbands = shortBlock ? (g.mixedBlock ? 2 : 0) : 32;

    const Mp3Kernels& kernels = ActiveMp3Kernels();
    int active = (nz + 17) / 18;
    if (active > 32) {
        active = 32;
    }
    if (longSubbands > 0 && active > 0) {
        // Butterflies across each boundary between long subbands; the one
        // above the last active subband spreads into the next.
        int to = shortBlock ? 2 : (active + 1 < 32 ? active + 1 : 32);
        kernels.aliasReduce(t, lines, 1, to);
        if (!shortBlock) {
            active = to;
        } else if (active < 2) {
            active = 2;
        }
    }
    const int previous = h.previousActiveSubbands[ch];
    const int limit = active > previous ? active : previous;
    int32_t(*samples)[32] = h.samples[ch];
    int32_t y[40];
    for (int sb = 0; sb < 32; ++sb) {
        int32_t* overlap = h.overlap[ch][sb];
        if (sb >= limit) {
            for (int ts = 0; ts < 18; ++ts) {
                samples[ts][sb] = 0;
            }
            continue;
        }
        if (sb >= active) {
            // Only the overlap of the previous granule is left.
            std::memset(y, 0, sizeof y);
        } else if (sb < longSubbands) {
            // With the mixed flag, whatever the block type, the two lowest
            // subbands take the normal window.
            const int type = shortBlock || (g.mixedBlock && sb < 2) ? 0 : g.blockType;
            kernels.hybridLong(t, type, lines + sb * 18, overlap, &samples[0][sb], sb & 1);
            continue;
        } else {
            ImdctShort(t, lines + sb * 18, y);
        }
        kernels.overlapAdd(y, overlap, &samples[0][sb], sb & 1);
    }
    h.previousActiveSubbands[ch] = active;
    h.samplesActive[ch] = limit;
    h.previousBlockType[ch] = g.blockType;
    h.previousWindowSwitching[ch] = g.windowSwitching;
    return kMp3Ok;
}

}  // namespace cz::mp3
