#include "wave/C_WavInfo.h"

namespace cz {

uint64_t C_WavInfo::GetDuration() const {
    if (sampleRate_ == 0) return 0;
    return static_cast<uint64_t>(static_cast<double>(GetSampleCount()) / static_cast<double>(sampleRate_) * 1000.0);
}

uint32_t C_WavInfo::GetSampleCount() const {
    if (channels_ == 0 || containerBits_ == 0) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(dataSize_) * 8u / containerBits_ / channels_);
}

void C_WavInfo::CopyFrom(const I_WavInfo& other) {
    SetFormat(other.GetSampleRate(), other.GetDataSize(), other.GetChannels(), other.GetValidBits(),
              other.GetContainerBits(), other.GetSignedFlag());
}

void C_WavInfo::SetFormat(uint32_t rate, uint32_t dataSize, uint16_t channels, uint16_t validBits,
                          uint16_t containerBits, uint32_t signedFlag) {
    sampleRate_ = rate;
    dataSize_ = dataSize;
    channels_ = channels;
    validBits_ = validBits;
    containerBits_ = containerBits;
    signed_ = signedFlag;
}

void C_WavInfo::ToWaveFormat(S_WaveFormat& record) const {
    record.formatTag = 1;
    record.channels = channels_;
    record.sampleRate = sampleRate_;
    record.bytesPerSecond = GetBytesPerSecond();
    record.blockAlign = static_cast<uint16_t>(GetBlockAlign());
    record.bitsPerSample = validBits_;
}

}  // namespace cz
