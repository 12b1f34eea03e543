// floor(d / step) for the beam searches of the MDPCM coders, by a multiply
// in place of an integer division. Exact for |d| < 8192 and 1 <= step < 8192:
// (d + 0.5) / step lies at least 1 / (2 step) >= 2^-14 inside the interval
// [floor(d / step), floor(d / step) + 1), far more than the rounding of one
// multiply and one add of doubles can move it; the bias of 8192 keeps the
// value positive, so that truncation is the floor. The test over every d and
// step of that range pins it.
#pragma once

namespace cz::mdpcm {

class C_FloorDivider {
public:
    explicit C_FloorDivider(int step) : reciprocal_(1.0 / step) {}
    int operator()(int d) const { return static_cast<int>((d + 0.5) * reciprocal_ + 8192.0) - 8192; }

private:
    double reciprocal_;
};

}  // namespace cz::mdpcm
