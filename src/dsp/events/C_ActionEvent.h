#pragma once

#include "dsp/events/I_ActionEvent.h"
#include "foundation/C_CUItem.h"
#include "foundation/C_CUString.h"

namespace cz {

class C_ActionEvent : public C_CUItem, public I_ActionEvent {
public:
    C_ActionEvent() = default;
    C_ActionEvent(const C_ActionEvent& other);
    C_ActionEvent& operator=(const C_ActionEvent&) = delete;

    uint32_t GetId() const override { return GetItemId(); }
    uint32_t GetType() const override { return type_; }
    void SetType(uint32_t type) override { type_ = type; }
    // Milliseconds: for a sample-placed event, sample x 1000 / rate.
    uint32_t GetTime() const override;
    void SetTime(uint32_t timeMs) override;
    const char* GetName() const override { return name_.Text(); }
    void SetName(const char* name) override { name_ = name ? name : ""; }
    uint32_t GetParam() const override { return param_; }
    void SetParam(uint32_t param) override { param_ = param; }
    // Samples: for a time-placed event, rate x time x 0.001.
    uint32_t GetSamplePos() const override;
    void SetSamplePos(uint32_t sample) override;
    uint32_t GetSampleRate() const override { return sampleRate_; }
    void SetSampleRate(uint32_t rate) override { sampleRate_ = rate; }
    uint32_t GetExtra() const override { return extra_; }
    void SetExtra(uint32_t value) override { extra_ = value; }
    bool IsSamplePlaced() const { return sampleFlag_ != 0; }

private:
    uint32_t type_ = 0;
    uint32_t time_ = 0;
    uint32_t samplePos_ = 0;
    C_CUString name_;
    uint32_t param_ = 0;
    uint32_t sampleRate_ = 0;
    uint32_t extra_ = 0;
    uint32_t sampleFlag_ = 0;
};

class C_ActionSilenceRegion : public C_CUItem, public I_ActionSilenceRegion {
public:
    C_ActionSilenceRegion() = default;
    C_ActionSilenceRegion(uint32_t start, uint32_t end) : start_(start), end_(end) {}

    uint32_t GetId() const override { return GetItemId(); }
    void SetStart(uint32_t start) override { start_ = start; }
    uint32_t GetStart() const override { return start_; }
    void SetEnd(uint32_t end) override { end_ = end; }
    uint32_t GetEnd() const override { return end_; }
    void SetValue(uint32_t value) override { value_ = value; }
    uint32_t GetValue() const override { return value_; }

private:
    uint32_t start_ = 0;
    uint32_t end_ = 0;
    uint32_t value_ = 0;
};

}  // namespace cz
