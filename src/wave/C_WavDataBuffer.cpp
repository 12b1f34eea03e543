#include "wave/C_WavDataBuffer.h"

#include <cstdlib>
#include <cstring>

namespace cz {

C_WavDataBufferIterator::C_WavDataBufferIterator(C_WavDataBuffer& buffer, uint32_t sample, uint16_t channel)
    : buffer_(buffer), sample_(sample), channel_(channel) {}

void C_WavDataBufferIterator::Seek(uint32_t sample) { sample_ = sample; }

uint32_t C_WavDataBufferIterator::Next() {
    ++sample_;
    return 1;
}

uint32_t C_WavDataBufferIterator::Prev() {
    --sample_;
    return 1;
}

int32_t C_WavDataBufferIterator::Read() const { return buffer_.GetSample(sample_, channel_); }

int32_t C_WavDataBufferIterator::Write(int32_t value) {
    if (value > buffer_.MaxValue()) value = buffer_.MaxValue();
    if (value < buffer_.MinValue()) value = buffer_.MinValue();
    buffer_.SetSample(sample_, value, channel_);
    return value;
}

void C_WavDataBuffer::RefreshMasks() {
    validBits_ = format_ ? format_->GetValidBits() : 0;
    containerBits_ = format_ ? format_->GetContainerBits() : 0;
    signed_ = static_cast<uint16_t>(format_ ? format_->GetSignedFlag() : 1);
    channels_ = format_ ? format_->GetChannels() : 0;
    uint32_t valid = validBits_;
    if (valid > 32) valid = 32;
    if (valid == 0) {
        midpoint_ = 0;
        valueMask_ = 0;
        signExtension_ = 0xFFFFFFFFu;
        return;
    }
    midpoint_ = 1u << (valid - 1);
    valueMask_ = valid == 32 ? 0xFFFFFFFFu : (1u << valid) - 1u;
    signExtension_ = ~valueMask_;
}

int32_t C_WavDataBuffer::MaxValue() const { return validBits_ == 0 ? 0 : static_cast<int32_t>(midpoint_ - 1u); }
int32_t C_WavDataBuffer::MinValue() const {
    return validBits_ == 0 ? 0 : static_cast<int32_t>(static_cast<int64_t>(-static_cast<int64_t>(midpoint_)));
}

bool C_WavDataBuffer::SampleInRange(uint32_t sample, uint16_t channel) const {
    if (channels_ == 0 || channel >= channels_) return false;
    if (containerBits_ != 8 && containerBits_ != 16 && containerBits_ != 32) return false;
    size_t bytes = containerBits_ / 8u;
    size_t offset = (static_cast<size_t>(sample) * channels_ + channel) * bytes;
    return offset + bytes <= Capacity();
}

size_t C_WavDataBuffer::Offset(uint32_t sample, uint16_t channel) const {
    return (static_cast<size_t>(sample) * channels_ + channel) * (containerBits_ / 8u);
}

int32_t C_WavDataBuffer::GetSample(uint32_t sample, uint16_t channel) const {
    if (!SampleInRange(sample, channel)) return 0;
    const uint8_t* p = Data() + Offset(sample, channel);
    uint32_t raw;
    switch (containerBits_) {
        case 8: raw = p[0]; break;
        case 16: raw = static_cast<uint32_t>(p[0] | (p[1] << 8)); break;
        default:
            raw = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                  (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
            break;
    }
    raw &= valueMask_;
    if (!signed_) return static_cast<int32_t>(static_cast<int64_t>(raw) - static_cast<int64_t>(midpoint_));
    if (raw & midpoint_) raw |= signExtension_;
    return static_cast<int32_t>(raw);
}

void C_WavDataBuffer::SetSample(uint32_t sample, int32_t value, uint16_t channel) {
    if (!SampleInRange(sample, channel)) return;
    uint32_t raw = signed_ ? static_cast<uint32_t>(value) : static_cast<uint32_t>(value) + midpoint_;
    raw &= valueMask_;
    uint8_t* p = Data() + Offset(sample, channel);
    switch (containerBits_) {
        case 8: p[0] = static_cast<uint8_t>(raw); break;
        case 16:
            p[0] = static_cast<uint8_t>(raw);
            p[1] = static_cast<uint8_t>(raw >> 8);
            break;
        default:
            for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(raw >> (8 * i));
            break;
    }
}

int32_t C_WavDataBuffer::GetPeak(uint32_t first, uint32_t end, uint16_t firstChannel, uint16_t lastChannel) const {
    uint32_t count = format_ ? format_->GetSampleCount() : 0;
    if (end >= count || lastChannel >= channels_) return -1;
    if (first >= end) return 0;
    int32_t peak = 0;
    for (uint32_t s = first; s < end; ++s)
        for (uint32_t c = firstChannel; c <= lastChannel; ++c) {
            int32_t v = GetSample(s, static_cast<uint16_t>(c));
            int32_t m = v < 0 ? (v == INT32_MIN ? INT32_MAX : -v) : v;
            if (m > peak) peak = m;
        }
    return peak;
}

C_WavDataBufferIterator* C_WavDataBuffer::CreateIterator(uint32_t sample, uint16_t channel) {
    iterator_ = std::make_unique<C_WavDataBufferIterator>(*this, sample, channel);
    return iterator_.get();
}

uint8_t* C_WavDataBuffer::Allocate(uint32_t size) {
    external_ = false;
    externalData_ = nullptr;
    externalSize_ = 0;
    owned_.assign(size, 0);
    RefreshMasks();
    return owned_.data();
}

uint8_t* C_WavDataBuffer::CopyIn(const uint8_t* bytes, uint32_t size) {
    if (external_) return nullptr;
    owned_.assign(bytes, bytes + size);
    RefreshMasks();
    return owned_.data();
}

void C_WavDataBuffer::AttachExternal(uint8_t* bytes, uint32_t size) {
    owned_.clear();
    owned_.shrink_to_fit();
    externalData_ = bytes;
    externalSize_ = size;
    external_ = true;
    RefreshMasks();
}

void C_WavDataBuffer::Release() {
    owned_.clear();
    owned_.shrink_to_fit();
    externalData_ = nullptr;
    externalSize_ = 0;
    external_ = false;
}

}  // namespace cz
