// What the resource converter library may learn about one resource while it
// builds the resource binary. The library receives a pointer to this
// interface and fills what it knows; the caller owns the record. The
// numbers in the comments are the virtual slots: the library calls through
// them, so their order is part of the contract with it.
#pragma once

#include <cstdint>

namespace cz {

class I_ResourceStatInfo {
public:
    // 1. The record's name: the chip-format file the resource comes from.
    virtual const char* GetName() const = 0;
    // 2. Bytes of the resource binary.
    virtual void SetBinarySize(uint32_t bytes) = 0;
    // 3. Sample rate of the resource in Hz.
    virtual void SetSampleRate(uint32_t rate) = 0;
    // 4. Samples the resource plays.
    virtual void SetSampleCount(uint32_t samples) = 0;
    // 5. Playing time in milliseconds.
    virtual void SetDuration(uint32_t milliseconds) = 0;
    // 6. Markers embedded in the resource.
    virtual void SetMarkerCount(uint32_t markers) = 0;

protected:
    // Records are owned and destroyed by their store, never through this.
    ~I_ResourceStatInfo() = default;
};

}  // namespace cz
