// Markers on a sound: action events (typed, with a parameter, placed by time
// or by sample) and silence regions.
//
// This folder is the one part of dsp/ that sits below wave/: a sound owns its
// events and regions, so it is built as a module of its own (cz_dsp_events)
// under the wave layer, and includes nothing above the foundation.
#pragma once

#include <cstdint>

namespace cz {

class I_ActionEvent {
public:
    virtual uint32_t GetId() const = 0;
    virtual uint32_t GetType() const = 0;
    virtual void SetType(uint32_t type) = 0;
    virtual uint32_t GetTime() const = 0;
    virtual void SetTime(uint32_t timeMs) = 0;
    virtual const char* GetName() const = 0;
    virtual void SetName(const char* name) = 0;
    virtual uint32_t GetParam() const = 0;
    virtual void SetParam(uint32_t param) = 0;
    virtual uint32_t GetSamplePos() const = 0;
    virtual void SetSamplePos(uint32_t sample) = 0;
    virtual uint32_t GetSampleRate() const = 0;
    virtual void SetSampleRate(uint32_t rate) = 0;
    virtual uint32_t GetExtra() const = 0;
    virtual void SetExtra(uint32_t value) = 0;
    virtual ~I_ActionEvent() = default;
};

class I_ActionSilenceRegion {
public:
    virtual uint32_t GetId() const = 0;
    virtual void SetStart(uint32_t start) = 0;
    virtual uint32_t GetStart() const = 0;
    virtual void SetEnd(uint32_t end) = 0;
    virtual uint32_t GetEnd() const = 0;
    virtual void SetValue(uint32_t value) = 0;
    virtual uint32_t GetValue() const = 0;
    virtual ~I_ActionSilenceRegion() = default;
};

}  // namespace cz
