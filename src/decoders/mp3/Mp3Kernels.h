// The arithmetic loops of the filter banks, in a portable form and, on x86
// processors with AVX2 or AVX-512, vector forms chosen at run time. All of
// them work on exact 64-bit integer sums, so every form gives the same bits.
#pragma once

#include <cstdint>

#include "decoders/mp3/Mp3Tables.h"

namespace cz::mp3 {

// One long-block subband of the hybrid filter bank: 36-point IMDCT of its 18
// lines with the long window of the block type, overlap-add with the
// previous granule's half into column[32 * ts] (negated at odd time slots of
// an odd subband), the second half kept in overlap.
using HybridLongKernel = void (*)(const Mp3Tables& t, int type, const int32_t* in, int32_t* overlap, int32_t* column,
                                  int odd);

// Polyphase synthesis of one channel's granule: samples[18][32] subband
// samples, of which only the lowest activeSubbands may be other than zero,
// into out[18][32] PCM samples; v is the channel's V ring (2048 values, the
// ring stored twice) and startIndex the ring position of the granule.
using SynthesisKernel = void (*)(const Mp3Tables& t, const int32_t (*samples)[32], int activeSubbands, int32_t* v,
                                 int32_t startIndex, int16_t* out);

// Requantises lines[i] for i from begin in groups of eight as long as a
// whole group lies before end and holds magnitudes below 16 only (small[a]
// is the value of a, the sign kept); returns where it stopped.
using RequantiseSmallKernel = int (*)(const int32_t* small, int32_t* lines, int begin, int end);

// Alias-reduction butterflies across the boundaries below subbands from to
// to - 1 of a granule's lines.
using AliasReduceKernel = void (*)(const Mp3Tables& t, int32_t* lines, int from, int to);

// Overlap-add of one subband: column[32 * ts] = y[ts] + overlap[ts] (within
// the subband sample limit), negated at odd time slots of an odd subband;
// overlap[ts] = y[18 + ts] afterwards.
using OverlapAddKernel = void (*)(const int32_t* y, int32_t* overlap, int32_t* column, int odd);

struct Mp3Kernels {
    const char* name;
    HybridLongKernel hybridLong;
    SynthesisKernel synthesise;
    RequantiseSmallKernel requantiseSmall;
    AliasReduceKernel aliasReduce;
    OverlapAddKernel overlapAdd;
};

// The kernels in use: the widest the active kernel tier allows (see
// platform/CpuFeatures.h), unless vector kernels are forbidden.
const Mp3Kernels& ActiveMp3Kernels();
// Allows or forbids the vector kernels (tests compare every form).
void SetMp3VectorKernelsAllowed(bool allowed);
// Forces one form by name ("plain", "avx2", "avx512"); false when the
// processor or the build lacks it. An empty name returns to the automatic
// choice.
bool ForceMp3Kernels(const char* name);

// Builds the tables of the vector forms and of requantisation (once per
// process; decoder creation calls it, so that decoding allocates nothing).
void PrepareMp3Kernels(const Mp3Tables& t);
void PrepareVectorKernels(const Mp3Tables& t);

// The portable forms, and the vector forms (null when the build or the
// processor lacks them).
const Mp3Kernels& PlainMp3Kernels();
const Mp3Kernels* Avx2Mp3Kernels();
const Mp3Kernels* Avx512Mp3Kernels();

}  // namespace cz::mp3
