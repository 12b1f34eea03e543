// One resource of the project: its name and the figures the resource
// converter library reported for it.
#pragma once

#include <cstdint>
#include <string>

#include "api/resconv/I_ResourceStatInfo.h"

namespace cz {

class C_ResourceStatInfo : public I_ResourceStatInfo {
public:
    explicit C_ResourceStatInfo(std::string name);
    virtual ~C_ResourceStatInfo();
    C_ResourceStatInfo(const C_ResourceStatInfo&) = delete;
    C_ResourceStatInfo& operator=(const C_ResourceStatInfo&) = delete;

    const char* GetName() const override;
    void SetBinarySize(uint32_t bytes) override;
    void SetSampleRate(uint32_t rate) override;
    void SetSampleCount(uint32_t samples) override;
    void SetDuration(uint32_t milliseconds) override;
    void SetMarkerCount(uint32_t markers) override;

    const std::string& Name() const { return name_; }
    uint32_t BinarySize() const { return binarySize_; }
    uint32_t SampleRate() const { return sampleRate_; }
    uint32_t SampleCount() const { return sampleCount_; }
    uint32_t Duration() const { return duration_; }
    uint32_t MarkerCount() const { return markerCount_; }

private:
    std::string name_;
    uint32_t binarySize_ = 0;
    uint32_t sampleRate_ = 0;
    uint32_t sampleCount_ = 0;
    uint32_t duration_ = 0;
    uint32_t markerCount_ = 0;
};

}  // namespace cz
