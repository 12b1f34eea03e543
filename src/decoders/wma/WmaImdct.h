// Inverse MDCT of one block size, computed through a DCT-IV folded from a
// complex FFT of a quarter of the output length. Single precision, the
// arithmetic fixed so that every build gives the same samples.
#pragma once

#include <vector>

namespace cz::wma {

class Imdct {
public:
    // half: count of coefficients (a power of two, 16 .. 4096); the output
    // has 2 * half samples, each the sum over k of
    // in[k] * cos(pi / half * (i + half / 2 + 1/2) * (k + 1/2)), times scale.
    void Init(int half, double scale);
    int Half() const { return half_; }
    // out must hold 2 * Half() values; in holds Half() values.
    void Run(const float* in, float* out);

private:
    int half_ = 0;
    bool avx2_ = false;  // the eight-wide forms (chosen by the kernel tier)
    std::vector<float> preRe_, preIm_, postRe_, postIm_;
    std::vector<float> twRe_, twIm_;  // FFT twiddles of the stages from size 8 on
    std::vector<int> bitReverse_;
    std::vector<float> re_, im_;
};

}  // namespace cz::wma
