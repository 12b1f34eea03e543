// The bytes of a sound and single-sample access to them. Samples are read as
// signed integers whatever their storage (unsigned offset or two's
// complement within the valid bits) and written back the same way, masked to
// the container.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "wave/C_WavInfo.h"

namespace cz {

class C_WavDataBuffer;

class C_WavDataBufferIterator {
public:
    C_WavDataBufferIterator(C_WavDataBuffer& buffer, uint32_t sample, uint16_t channel);
    virtual ~C_WavDataBufferIterator() = default;
    virtual void Seek(uint32_t sample);
    virtual uint32_t Next();
    virtual uint32_t Prev();
    virtual int32_t Read() const;
    // Clamps to the storable range, stores, and returns the stored value.
    virtual int32_t Write(int32_t value);

private:
    C_WavDataBuffer& buffer_;
    uint32_t sample_;
    uint16_t channel_;
};

class C_WavDataBuffer {
public:
    explicit C_WavDataBuffer(const I_WavInfo* format) : format_(format) {}
    virtual ~C_WavDataBuffer() = default;
    C_WavDataBuffer(const C_WavDataBuffer&) = delete;
    C_WavDataBuffer& operator=(const C_WavDataBuffer&) = delete;

    virtual int32_t GetSample(uint32_t sample, uint16_t channel) const;
    virtual void SetSample(uint32_t sample, int32_t value, uint16_t channel);
    // Largest magnitude over samples [first, end) and channels
    // [firstChannel, lastChannel]; 0 when first >= end; -1 when end is not
    // below the sample count or lastChannel is not below the channel count.
    virtual int32_t GetPeak(uint32_t first, uint32_t end, uint16_t firstChannel, uint16_t lastChannel) const;
    virtual C_WavDataBufferIterator* CreateIterator(uint32_t sample, uint16_t channel);

    uint8_t* Allocate(uint32_t size);
    uint8_t* CopyIn(const uint8_t* bytes, uint32_t size);
    void AttachExternal(uint8_t* bytes, uint32_t size);
    void Release();
    void RefreshMasks();

    uint8_t* Data() { return external_ ? externalData_ : owned_.data(); }
    const uint8_t* Data() const { return external_ ? externalData_ : owned_.data(); }
    uint32_t Capacity() const { return external_ ? externalSize_ : static_cast<uint32_t>(owned_.size()); }
    bool IsExternal() const { return external_; }
    int32_t MaxValue() const;
    int32_t MinValue() const;
    uint16_t ContainerBits() const { return containerBits_; }
    bool SampleInRange(uint32_t sample, uint16_t channel) const;

private:
    size_t Offset(uint32_t sample, uint16_t channel) const;

    uint32_t midpoint_ = 0;
    uint32_t signExtension_ = 0;
    uint32_t valueMask_ = 0;
    std::vector<uint8_t> owned_;
    uint8_t* externalData_ = nullptr;
    uint32_t externalSize_ = 0;
    bool external_ = false;
    const I_WavInfo* format_;
    uint16_t containerBits_ = 0;
    uint16_t signed_ = 1;
    uint16_t validBits_ = 0;
    uint16_t channels_ = 0;
    std::unique_ptr<C_WavDataBufferIterator> iterator_;
};

}  // namespace cz
