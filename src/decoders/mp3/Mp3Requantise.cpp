// Requantisation, stereo processing and short-block reordering of a granule.
#include <cstring>

#include "decoders/mp3/Mp3DecoderState.h"
#include "decoders/mp3/Mp3Kernels.h"
#include "decoders/mp3/Mp3Simd.h"

namespace cz::mp3 {
namespace {

// Pre-emphasis of the long bands (ISO/IEC 11172-3 Table B.6).
constexpr uint8_t kPretab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

constexpr int32_t kMaxInt = 0x7FFFFFFF;

int32_t Saturate(int64_t v) { return v > kMaxInt ? kMaxInt : v < -kMaxInt ? -kMaxInt : int32_t(v); }

// Requantises the lines [begin, end) with the quarter-power exponent e:
// |x|^(4/3) * 2^(e/4) with kLineFractionBits fraction bits (values up to
// 32 times full scale).
inline uint64_t Scale(uint64_t product, int32_t shift) {
    if (shift >= 64) {
        return 0;
    }
    if (shift <= 0) {
        return product ? uint64_t(kMaxInt) : 0;
    }
    const uint64_t magnitude = (product + (uint64_t(1) << (shift - 1))) >> shift;
    return magnitude > uint64_t(kMaxInt) ? uint64_t(kMaxInt) : magnitude;
}

int32_t BigLine(const Mp3Tables& t, int32_t v, int32_t base, uint64_t quarter) {
    const uint32_t a = uint32_t(v < 0 ? -v : v);
    const int32_t magnitude = int32_t(Scale(uint64_t(t.pow43Mantissa[a]) * quarter, base - t.pow43Exponent[a]));
    return v < 0 ? -magnitude : magnitude;
}

// The values 0..15 requantised with the exponent e: Q25 x Q30 -> the line
// format.
void MakeSmallPowers(const Mp3Tables& t, int32_t e, int32_t* small) {
    const int32_t q = e >> 2;
    const uint64_t quarter = t.quarterPower[e & 3];
    small[0] = 0;
    for (int a = 1; a < 16; ++a) {
        small[a] = int32_t(Scale(uint64_t(t.pow43Small[a]) * quarter, 55 - kLineFractionBits - q));
    }
}

// The values 0..15 of narrow bands, from the full-precision powers.
void MakeNarrowPowers(const Mp3Tables& t, int32_t e, int32_t* small) {
    const int32_t base = 60 - kLineFractionBits - (e >> 2);
    const uint64_t quarter = t.quarterPower[e & 3];
    for (int a = 0; a < 16; ++a) {
        small[a] = BigLine(t, a, base, quarter);
    }
}

// The small values of every exponent a stream can give (global gain less
// scale factors and subblock gains: -210 - 56 - (31 << 2) at the lowest),
// worked out once for wide bands ([0]) and narrow ones ([1]).
constexpr int32_t kSmallMinExponent = -400;
constexpr int32_t kSmallMaxExponent = 45;
constexpr int32_t kSmallExponents = kSmallMaxExponent - kSmallMinExponent + 1;

struct SmallPowers {
    int32_t rows[2][kSmallExponents][16];
};

// Built once, in static storage.
const SmallPowers& SmallPowerTable(const Mp3Tables& t) {
    static const SmallPowers table = [&t] {
        SmallPowers p{};
        for (int32_t e = kSmallMinExponent; e <= kSmallMaxExponent; ++e) {
            MakeSmallPowers(t, e, p.rows[0][e - kSmallMinExponent]);
            MakeNarrowPowers(t, e, p.rows[1][e - kSmallMinExponent]);
        }
        return p;
    }();
    return table;
}

void RequantiseRange(const Mp3Tables& t, int32_t* lines, int begin, int end, int32_t e) {
    const int32_t q = e >> 2;
    const uint64_t quarter = t.quarterPower[e & 3];
    const int32_t base = 60 - kLineFractionBits - q;
    // Values below 16 (nearly all of them) are looked up in the table of the
    // exponent: bands narrower than 16 lines take the full-precision powers,
    // wider ones the Q25 powers. The kernel converts groups of eight made of
    // small values only.
    const bool narrow = end - begin < 16;
    int32_t local[16];
    const int32_t* small = local;
    if (e >= kSmallMinExponent && e <= kSmallMaxExponent) {
        small = SmallPowerTable(t).rows[narrow ? 1 : 0][e - kSmallMinExponent];
    } else if (narrow) {
        MakeNarrowPowers(t, e, local);
    } else {
        MakeSmallPowers(t, e, local);
    }
    const RequantiseSmallKernel convert = ActiveMp3Kernels().requantiseSmall;
    int i = begin;
    while (i < end) {
        i = convert(small, lines, i, end);
        const int stop = i + 8 < end ? i + 8 : end;
        for (; i < stop; ++i) {
            const int32_t v = lines[i];
            const uint32_t a = uint32_t(v < 0 ? -v : v);
            if (a < 16) {
                lines[i] = v < 0 ? -small[a] : small[a];
            } else {
                lines[i] = BigLine(t, v, base, quarter);
            }
        }
    }
}

// Long bands covered by the long part of a mixed block.
int MixedLongBands(const ScaleFactorBands& bands) {
    const int limit = 3 * bands.shortBounds[3];
    int sfb = 0;
    while (sfb < 22 && bands.longBounds[sfb + 1] <= limit) {
        ++sfb;
    }
    return sfb;
}

void RequantiseChannel(Mp3Decoder& d, int gr, int ch) {
    const Mp3GranuleInfo& g = d.sideInfo.granules[gr][ch];
    const ScaleFactorBands& bands = *d.header.bands;
    const Mp3Tables& t = *d.tables;
    int32_t* lines = d.huffman.lines[ch];
    const int nz = d.huffman.nonZeroBound[ch];
    const int32_t gain = int32_t(g.globalGain) - 210;
    const int sfShift = 1 + g.scalefacScale;
    const bool shortBlock = g.windowSwitching && g.blockType == 2;
    int longBands = 22;
    int firstShort = 13;
    if (shortBlock) {
        longBands = g.mixedBlock ? MixedLongBands(bands) : 0;
        firstShort = g.mixedBlock ? 3 : 0;
    }
    for (int sfb = 0; sfb < longBands; ++sfb) {
        const int begin = bands.longBounds[sfb];
        if (begin >= nz) {
            return;
        }
        int end = bands.longBounds[sfb + 1];
        end = end < nz ? end : nz;
        const int32_t factor = d.scaleFactors.longFactors[ch][sfb] + (g.preflag ? kPretab[sfb] : 0);
        RequantiseRange(t, lines, begin, end, gain - (factor << sfShift));
    }
    for (int sfb = firstShort; sfb < 13; ++sfb) {
        const int start = 3 * bands.shortBounds[sfb];
        if (start >= nz) {
            return;
        }
        const int width = bands.shortBounds[sfb + 1] - bands.shortBounds[sfb];
        for (int w = 0; w < 3; ++w) {
            const int begin = start + w * width;
            int end = begin + width;
            end = end < nz ? end : nz;
            if (begin >= end) {
                break;
            }
            const int32_t e = gain - 8 * g.subblockGain[w] - (d.scaleFactors.shortFactors[ch][sfb][w] << sfShift);
            RequantiseRange(t, lines, begin, end, e);
        }
    }
}

class StereoProcessor {
public:
    StereoProcessor(Mp3Decoder& d, int gr)
        : d_(d),
          t_(*d.tables),
          bands_(*d.header.bands),
          left_(d.huffman.lines[0]),
          right_(d.huffman.lines[1]),
          ms_((d.header.modeExtension & 2) != 0),
          mpeg1_(d.version == 0),
          intensityScale_(d.sideInfo.granules[gr][1].scalefacCompress & 1) {}

    void MidSide(int begin, int end) {
        if (!ms_) {
            return;
        }
        for (int i = begin; i < end; ++i) {
            const int64_t m = left_[i];
            const int64_t s = right_[i];
            left_[i] = Saturate(((m + s) * t_.invSqrt2 + (int64_t(1) << 30)) >> 31);
            right_[i] = Saturate(((m - s) * t_.invSqrt2 + (int64_t(1) << 30)) >> 31);
        }
    }

    // Lines [begin, end) of a band whose right-channel scale factor is pos.
    void Intensity(int begin, int end, int pos, int limit) {
        int32_t kl;
        int32_t kr;
        if (mpeg1_) {
            if (pos >= 7) {
                MidSide(begin, end);
                return;
            }
            kl = t_.intensity1[pos][0];
            kr = t_.intensity1[pos][1];
        } else {
            if (pos == limit) {
                MidSide(begin, end);
                return;
            }
            const int32_t one = int32_t(1) << 30;
            if (pos == 0) {
                kl = kr = one;
            } else if (pos & 1) {
                kl = t_.intensity2[intensityScale_][(pos + 1) >> 1];
                kr = one;
            } else {
                kl = one;
                kr = t_.intensity2[intensityScale_][pos >> 1];
            }
        }
        for (int i = begin; i < end; ++i) {
            const int64_t v = left_[i];
            left_[i] = Saturate((v * kl + (int64_t(1) << 29)) >> 30);
            right_[i] = Saturate((v * kr + (int64_t(1) << 29)) >> 30);
        }
    }

    void Run(const Mp3GranuleInfo& g) {
        const Mp3ScaleFactors& sf = d_.scaleFactors;
        const int nzRight = d_.huffman.nonZeroBound[1];
        const bool shortBlock = g.windowSwitching && g.blockType == 2;
        if (!shortBlock) {
            int start = 0;
            if (nzRight > 0) {
                while (start < 22 && bands_.longBounds[start + 1] < nzRight) {
                    ++start;
                }
                ++start;  // first band above the last non-zero right line
            }
            for (int sfb = 0; sfb < 22; ++sfb) {
                const int begin = bands_.longBounds[sfb];
                const int end = bands_.longBounds[sfb + 1];
                if (sfb < start) {
                    MidSide(begin, end);
                } else {
                    const int band = sfb < 21 ? sfb : 20;  // the last band has no factor of its own
                    Intensity(begin, end, sf.longFactors[1][band], sf.intensityLimitLong[band]);
                }
            }
            return;
        }
        const int longBands = g.mixedBlock ? MixedLongBands(bands_) : 0;
        const int firstShort = g.mixedBlock ? 3 : 0;
        int shortStart[3];
        bool anyShort = false;
        for (int w = 0; w < 3; ++w) {
            shortStart[w] = firstShort;
            for (int sfb = 12; sfb >= firstShort; --sfb) {
                const int width = bands_.shortBounds[sfb + 1] - bands_.shortBounds[sfb];
                const int begin = 3 * bands_.shortBounds[sfb] + w * width;
                bool nonZero = false;
                for (int i = begin; i < begin + width && i < nzRight; ++i) {
                    nonZero |= right_[i] != 0;
                }
                if (nonZero) {
                    shortStart[w] = sfb + 1;
                    anyShort = true;
                    break;
                }
            }
        }
        if (longBands > 0) {
            int start = longBands;
            if (!anyShort) {
                start = 0;
                for (int sfb = 0; sfb < longBands; ++sfb) {
                    for (int i = bands_.longBounds[sfb]; i < bands_.longBounds[sfb + 1] && i < nzRight; ++i) {
                        if (right_[i] != 0) {
                            start = sfb + 1;
                        }
                    }
                }
            }
            for (int sfb = 0; sfb < longBands; ++sfb) {
                const int begin = bands_.longBounds[sfb];
                const int end = bands_.longBounds[sfb + 1];
                if (sfb < start) {
                    MidSide(begin, end);
                } else {
                    Intensity(begin, end, sf.longFactors[1][sfb], sf.intensityLimitLong[sfb]);
                }
            }
        }
        for (int sfb = firstShort; sfb < 13; ++sfb) {
            const int width = bands_.shortBounds[sfb + 1] - bands_.shortBounds[sfb];
            for (int w = 0; w < 3; ++w) {
                const int begin = 3 * bands_.shortBounds[sfb] + w * width;
                if (sfb < shortStart[w]) {
                    MidSide(begin, begin + width);
                } else {
                    const int band = sfb < 12 ? sfb : 11;
                    Intensity(begin, begin + width, sf.shortFactors[1][band][w], sf.intensityLimitShort[band]);
                }
            }
        }
    }

private:
    Mp3Decoder& d_;
    const Mp3Tables& t_;
    const ScaleFactorBands& bands_;
    int32_t* left_;
    int32_t* right_;
    bool ms_;
    bool mpeg1_;
    uint32_t intensityScale_;
};

// Reorders the short windows so that each subband holds its three windows of
// six lines one after the other: line sb * 18 + window * 6 + k.
void ReorderShort(Mp3Decoder& d, int gr, int ch) {
    const Mp3GranuleInfo& g = d.sideInfo.granules[gr][ch];
    const ScaleFactorBands& bands = *d.header.bands;
    int32_t* lines = d.huffman.lines[ch];
    const int firstShort = g.mixedBlock ? 3 : 0;
    const int startLine = 3 * bands.shortBounds[firstShort];
    const int nz = d.huffman.nonZeroBound[ch];
    if (nz <= startLine) {
        return;
    }
    int32_t reordered[kGranuleLines];
    int highest = 0;
    for (int sfb = firstShort; sfb < 13; ++sfb) {
        const int lo = bands.shortBounds[sfb];
        const int width = bands.shortBounds[sfb + 1] - lo;
        for (int w = 0; w < 3; ++w) {
            const int src = 3 * lo + w * width;
            for (int j = 0; j < width; ++j) {
                const int f = lo + j;
                reordered[(f / 6) * 18 + w * 6 + f % 6] = lines[src + j];
            }
        }
        if (3 * lo < nz) {
            highest = bands.shortBounds[sfb + 1];
        }
    }
    const int firstOut = (bands.shortBounds[firstShort] / 6) * 18;
    std::memcpy(lines + firstOut, reordered + firstOut, sizeof(int32_t) * size_t(kGranuleLines - firstOut));
    int bound = ((highest + 5) / 6) * 18;
    d.huffman.nonZeroBound[ch] = bound > kGranuleLines ? kGranuleLines : bound;
}

}  // namespace

void PrepareRequantisation(const Mp3Tables& t) { SmallPowerTable(t); }

int32_t RequantiseGranule(Mp3Decoder& d, int gr) {
    for (int ch = 0; ch < d.channels; ++ch) {
        RequantiseChannel(d, gr, ch);
    }
    if (d.channels == 2 && d.header.mode == 1 && d.header.modeExtension != 0) {
        int32_t& nz0 = d.huffman.nonZeroBound[0];
        int32_t& nz1 = d.huffman.nonZeroBound[1];
        const int32_t bound = nz0 > nz1 ? nz0 : nz1;
        if (d.header.modeExtension & 1) {
            StereoProcessor(d, gr).Run(d.sideInfo.granules[gr][1]);
        } else {
            StereoProcessor(d, gr).MidSide(0, bound);
        }
        nz0 = nz1 = bound;
    }
    for (int ch = 0; ch < d.channels; ++ch) {
        const Mp3GranuleInfo& g = d.sideInfo.granules[gr][ch];
        if (g.windowSwitching && g.blockType == 2) {
            ReorderShort(d, gr, ch);
        }
    }
    return kMp3Ok;
}

}  // namespace cz::mp3
