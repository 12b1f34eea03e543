#include "api/resconv/C_ResourceStatInfo.h"

#include <utility>

namespace cz {

C_ResourceStatInfo::C_ResourceStatInfo(std::string name) : name_(std::move(name)) {}
C_ResourceStatInfo::~C_ResourceStatInfo() = default;

const char* C_ResourceStatInfo::GetName() const { return name_.c_str(); }
void C_ResourceStatInfo::SetBinarySize(uint32_t bytes) { binarySize_ = bytes; }
void C_ResourceStatInfo::SetSampleRate(uint32_t rate) { sampleRate_ = rate; }
void C_ResourceStatInfo::SetSampleCount(uint32_t samples) { sampleCount_ = samples; }
void C_ResourceStatInfo::SetDuration(uint32_t milliseconds) { duration_ = milliseconds; }
void C_ResourceStatInfo::SetMarkerCount(uint32_t markers) { markerCount_ = markers; }

}  // namespace cz
