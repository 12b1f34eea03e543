// The arithmetic of the resampler on plain 16-bit buffers: the interpolation
// kernel table, the Kaiser-windowed low-pass that runs before a rate goes down,
// and the loops that apply them. No threads, no progress, no sound objects.
//
// Every loop fixes the order of its sums (interleaved accumulators, tap pairs
// of the symmetric filter added first) and never fuses a multiply with an add,
// so the vector forms chosen at run time give exactly the portable forms'
// samples on every machine. Against a plain left-to-right evaluation of the
// same sums they differ on a vanishing share of samples, never by more than 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace cz::resample {

// pi as the kernel and the filter design use it (seven decimals, on purpose:
// the interpolation kernel is then not exactly zero at whole sample distances).
constexpr double kPi = 3.1415926;

// Interpolation kernel: 50 phases of 101 taps of sin(x)/x.
constexpr int kPhases = 50;
constexpr int kTaps = 101;
// Half the window: the output position sits at tap 50.
constexpr int kHalfTaps = 50;
// Rows are stored with a few zero taps so vector loops may read whole rows.
constexpr int kRowStride = 104;

// Kaiser window shape and the transition width that sets the filter order.
constexpr double kKaiserBeta = 5.65326;
constexpr double kOrderConstant = -22.757111;
// The pass band is never taken closer to the source's Nyquist frequency.
constexpr double kMaxPassRatio = 0.97;
constexpr double kTransitionWidth = 0.1;

// Entry [p][i] = sin(x)/x with x = (50 - i + p * 0.02) * kPi, 1.0 where x is 0;
// kPhases rows of kRowStride doubles, taps 101..103 zero.
std::vector<double> BuildSincTable();

// Modified Bessel function of order zero by its power series, stopping after
// the first term below 2e-9 of the sum.
double BesselI0(double x);

// The low-pass used before going down by `ratio` (< 1): order N + 1 taps,
// symmetric, N odd.
std::vector<double> DesignPreFilter(double ratio);

// Saturation shared by all paths: above 32767 gives 32767, below -32767 gives
// -32767, otherwise truncation toward zero.
inline int16_t SaturateSample(double value) {
    if (value > 32767.0) return 32767;
    if (value < -32767.0) return -32767;
    return static_cast<int16_t>(value);
}

// Called with the number of items done so far, every few thousand items.
using ProgressSink = std::function<void(size_t done)>;

// y[m] = sum over k of h[k] * x[m - k] for m in [0, count), x before 0 and
// from `available` on (when fewer than count samples are there) read as
// zero; each y saturated into out.
void ApplyPreFilter(const std::vector<double>& h, const int16_t* in, size_t count, int16_t* out,
                    const ProgressSink& progress, size_t available = SIZE_MAX);

// Band-limited interpolation of `in` (inCount samples) into outCount samples
// spaced `step` input samples apart, starting at input position `offset`
// (>= 0). The window reads zeros before in[0] and after in[inCount - 1].
void ApplySincInterpolation(const std::vector<double>& table, const int16_t* in, size_t inCount, double step,
                            int16_t* out, size_t outCount, const ProgressSink& progress, double offset = 0.0);

// The same for a stretch of a longer run, for resampling block by block:
// output samples [firstOutput, firstOutput + outCount) of the run over inCount
// input samples, into out[0..outCount). in[0..inHeld) holds input samples
// inFirst.. of the run; every window of the stretch (50 samples either side of
// its position) must lie in them or outside [0, inCount). The samples equal
// those of the whole run.
void ApplySincInterpolationPart(const std::vector<double>& table, const int16_t* in, size_t inFirst, size_t inHeld,
                                size_t inCount, double step, int16_t* out, size_t firstOutput, size_t outCount,
                                const ProgressSink& progress, double offset = 0.0);

// The input position and kernel phase of output sample j:
// pos = offset + j * step, whole part `index`, phase = truncate(fraction * 50)
// in 0..49.
struct KernelPosition {
    size_t index;
    int phase;
};
KernelPosition PositionOf(size_t j, double step, double offset = 0.0);

// Linear interpolation in fixed point with seven fraction bits; the sample
// after the last one repeats the last. Returns the number of samples written.
size_t ApplyLinearInterpolation(double ratio, const int16_t* in, size_t inCount, int16_t* out, size_t outCount,
                                const ProgressSink& progress);

// True when the vector loops run (the processor has AVX2 and they are
// allowed).
bool VectorKernelsActive();
// Allows or forbids the vector loops (tests compare both forms).
void SetVectorKernelsAllowed(bool allowed);
// The loops that run: "AVX-512" (eight lanes, where the processor has
// AVX-512F), "AVX2" or "portable". All give the same samples.
const char* VectorKernelName();
// Allows or forbids the eight-lane loops (tests compare them with the
// four-lane ones).
void SetWideVectorKernelsAllowed(bool allowed);

}  // namespace cz::resample
