// A sample format: rate, data size, channels, valid and container bits, and
// whether samples are signed.
#pragma once

#include <cstdint>

#include "foundation/WaveFormat.h"

namespace cz {

class I_WavInfo {
public:
    virtual uint64_t GetDuration() const = 0;
    virtual uint32_t GetDataSize() const = 0;
    virtual uint32_t GetSampleRate() const = 0;
    virtual uint32_t GetSampleCount() const = 0;
    virtual uint16_t GetValidBits() const = 0;
    virtual uint16_t GetContainerBits() const = 0;
    virtual uint16_t GetChannels() const = 0;
    virtual uint16_t GetBytesPerSample() const = 0;
    virtual uint32_t GetBlockAlign() const = 0;
    virtual uint32_t GetBytesPerSecond() const = 0;
    virtual uint32_t GetSignedFlag() const = 0;
    virtual void SetSampleRate(uint32_t rate) = 0;
    virtual void CopyFrom(const I_WavInfo& other) = 0;
    virtual void SetFormat(uint32_t rate, uint32_t dataSize, uint16_t channels, uint16_t validBits,
                           uint16_t containerBits, uint32_t signedFlag) = 0;
    virtual void ToWaveFormat(S_WaveFormat& record) const = 0;
    virtual ~I_WavInfo() = default;
};

class C_WavInfo : public I_WavInfo {
public:
    // Milliseconds; 0 when the rate is 0.
    uint64_t GetDuration() const override;
    uint32_t GetDataSize() const override { return dataSize_; }
    uint32_t GetSampleRate() const override { return sampleRate_; }
    // Samples per channel; 0 when channels or container width are 0.
    uint32_t GetSampleCount() const override;
    uint16_t GetValidBits() const override { return validBits_; }
    uint16_t GetContainerBits() const override { return containerBits_; }
    uint16_t GetChannels() const override { return channels_; }
    uint16_t GetBytesPerSample() const override { return static_cast<uint16_t>((containerBits_ + 7) / 8); }
    uint32_t GetBlockAlign() const override { return static_cast<uint32_t>(GetBytesPerSample()) * channels_; }
    uint32_t GetBytesPerSecond() const override { return GetBlockAlign() * sampleRate_; }
    uint32_t GetSignedFlag() const override { return signed_; }
    void SetSampleRate(uint32_t rate) override { sampleRate_ = rate; }
    void CopyFrom(const I_WavInfo& other) override;
    void SetFormat(uint32_t rate, uint32_t dataSize, uint16_t channels, uint16_t validBits, uint16_t containerBits,
                   uint32_t signedFlag) override;
    void ToWaveFormat(S_WaveFormat& record) const override;
    void SetDataSize(uint32_t size) { dataSize_ = size; }

private:
    uint32_t signed_ = 1;
    uint32_t sampleRate_ = 0;
    uint32_t dataSize_ = 0;
    uint16_t channels_ = 0;
    uint16_t validBits_ = 0;
    uint16_t containerBits_ = 0;
};

}  // namespace cz
