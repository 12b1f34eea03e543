// One pitch period found in a recording, and the list that holds them in
// the order of the recording.
#pragma once

#include <array>
#include <cstdint>

#include "foundation/C_CUItem.h"
#include "foundation/C_CUList.h"

namespace cz {

class I_PitchShiftPeriod {
public:
    // First and last sample of the period (both inclusive).
    virtual uint32_t Start() const = 0;
    virtual uint32_t End() const = 0;
    virtual ~I_PitchShiftPeriod() = default;
};

class C_PitchShiftPeriod : public C_CUItem, public I_PitchShiftPeriod {
public:
    // The generation variants a period keeps an emit count for.
    static constexpr int kVariantCount = 10;

    C_PitchShiftPeriod(uint32_t start, uint32_t end) : start_(start), end_(end) { counts_.fill(1); }
    uint32_t Start() const override { return start_; }
    uint32_t End() const override { return end_; }
    uint32_t Length() const { return end_ - start_ + 1; }
    // How many times variant (0 ... 9) emits the period; 1 until a
    // generation records another count. Variants out of range read 0 and
    // are not stored.
    uint8_t EmitCount(int variant) const {
        return variant >= 0 && variant < kVariantCount ? counts_[static_cast<size_t>(variant)] : 0;
    }
    void SetEmitCount(int variant, uint8_t count) {
        if (variant >= 0 && variant < kVariantCount) counts_[static_cast<size_t>(variant)] = count;
    }

private:
    uint32_t start_;
    uint32_t end_;
    std::array<uint8_t, kVariantCount> counts_{};
};

// Owns its periods.
class C_PitchShiftPeriodList : public C_CUList<C_PitchShiftPeriod, I_PitchShiftPeriod, true> {};

}  // namespace cz
