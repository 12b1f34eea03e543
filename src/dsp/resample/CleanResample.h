// Clean sample-rate conversion: a rational polyphase filter whose transition
// band lies wholly below the lower of the two Nyquist frequencies, so that
// nothing folds back when the rate goes down and no images remain when it
// goes up.
//
// Figures: flat within 0.001 dB to 0.9 of the lower Nyquist frequency, at
// least 100 dB down from that Nyquist frequency on (a Kaiser-windowed sinc,
// transition band 0.9 .. 1.0 of it). Zero phase: output sample j sits exactly
// at source position j x source rate / target rate; zeros are read before the
// first and after the last sample.
//
// The arithmetic is plain IEEE doubles in a fixed order (eight interleaved
// accumulators added pairwise; the AVX2 and AVX-512 forms chosen at run time
// keep them in lanes), no fused multiply-add, so every machine
// gives the same samples; results are rounded to nearest and saturated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace cz::resample {

class CleanResampler {
public:
    // Designs the filter for the rate pair (both > 0). L / M is target /
    // source reduced; more than kMaxPhases phases are interpolated linearly
    // between kMaxPhases + 1 stored ones.
    CleanResampler(uint32_t sourceRate, uint32_t targetRate);

    static constexpr uint32_t kMaxPhases = 4096;

    // Writes outCount samples of in (inCount samples) at the target rate.
    // progress, when set, is called with the samples done every few thousand.
    void Run(const int16_t* in, size_t inCount, int16_t* out, size_t outCount,
             const std::function<void(size_t)>& progress = {}) const;

    // Taps per output sample.
    size_t Taps() const { return taps_; }
    // Zeros read before the first source sample: source sample i is sample
    // half + i of the padded source.
    size_t Half() const { return half_; }
    // First sample of the padded source that output j reads (it reads Taps()
    // samples from there): j x source rate / target rate, rounded down.
    uint64_t FirstRead(uint64_t j) const { return j * down_ / up_; }
    // The outputs [jFirst, jEnd) as Run gives them, from a stretch of the
    // padded source: x[0] is padded sample xFirst, and x holds every sample
    // these outputs read. Output j goes to out[(j - jFirst) x outStride].
    void RunRange(const double* x, uint64_t xFirst, uint64_t jFirst, uint64_t jEnd, int16_t* out,
                  size_t outStride) const;

private:
    using DotFunction = double (*)(const double*, const double*, size_t);
    // Sum of x[t] * row[t] over taps_ (a multiple of 8) in the fixed order.
    static double Dot(const double* x, const double* row, size_t taps);
    // The dot product's form for this machine (every form gives the same bits).
    static DotFunction ChooseDot();
    // The row of an inexact phase: the linear blend of the two stored rows
    // around it, written to blend (taps_ values).
    void BlendRow(uint64_t phase, double* blend) const;

    uint64_t up_ = 1;    // L
    uint64_t down_ = 1;  // M
    uint64_t phases_ = 1;  // rows stored: L when exact, else kMaxPhases + 1
    bool exact_ = true;
    size_t half_ = 0;   // K: taps reach K source samples either side
    size_t taps_ = 0;   // 2K + 1 rounded up to a multiple of 8
    std::vector<double> rows_;  // phases_ x taps_, each row reversed for a forward dot product
};

}  // namespace cz::resample
