// One silent span of a sound: first and last sample, inclusive.
#pragma once

#include <cstdint>

#include "foundation/C_CUList.h"

namespace cz {

class I_SilenceSegment {
public:
    virtual uint32_t GetStart() const = 0;
    virtual uint32_t GetEnd() const = 0;
    virtual uint32_t GetLength() const = 0;
    virtual void Set(uint32_t start, uint32_t end) = 0;
    virtual ~I_SilenceSegment() = default;
};

class C_SilenceSegment : public C_CUItem, public I_SilenceSegment {
public:
    C_SilenceSegment() = default;
    C_SilenceSegment(uint32_t start, uint32_t end) : start_(start), end_(end) {}
    uint32_t GetStart() const override { return start_; }
    uint32_t GetEnd() const override { return end_; }
    uint32_t GetLength() const override { return end_ - start_ + 1; }
    void Set(uint32_t start, uint32_t end) override {
        start_ = start;
        end_ = end;
    }

private:
    uint32_t start_ = 0;
    uint32_t end_ = 0;
};

using C_SilenceSegmentList = C_CUList<C_SilenceSegment, I_SilenceSegment, true>;

}  // namespace cz
