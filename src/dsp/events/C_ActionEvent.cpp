#include "dsp/events/C_ActionEvent.h"

#include <cmath>
#include <limits>

namespace cz {

namespace {
// Truncation toward zero into 32 bits; non-finite and out-of-range values
// (a rate of 0) give 0 instead of undefined behaviour.
uint32_t ToU32(double value) {
    if (!std::isfinite(value) || value <= 0.0) return 0;
    if (value >= 4294967295.0) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(value);
}
}  // namespace

C_ActionEvent::C_ActionEvent(const C_ActionEvent& other)
    : C_CUItem(other),
      I_ActionEvent(),
      type_(other.type_),
      time_(other.time_),
      samplePos_(other.samplePos_),
      name_(other.name_),
      param_(other.param_),
      sampleRate_(other.sampleRate_),
      extra_(other.extra_),
      sampleFlag_(other.sampleFlag_) {}

uint32_t C_ActionEvent::GetTime() const {
    if (sampleFlag_) return ToU32(static_cast<double>(samplePos_) * 1000.0 / static_cast<double>(sampleRate_));
    return time_;
}

void C_ActionEvent::SetTime(uint32_t timeMs) {
    time_ = timeMs;
    sampleFlag_ = 0;
}

uint32_t C_ActionEvent::GetSamplePos() const {
    if (!sampleFlag_) return ToU32(static_cast<double>(sampleRate_) * static_cast<double>(time_) * 0.001);
    return samplePos_;
}

void C_ActionEvent::SetSamplePos(uint32_t sample) {
    samplePos_ = sample;
    sampleFlag_ = 1;
}

}  // namespace cz
