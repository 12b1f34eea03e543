// The common handle of every sound file class: the factory hands these out
// and the exports work through them.
#pragma once

#include <cstdint>

#include "foundation/C_CUTime.h"
#include "wave/I_WavData.h"

namespace cz {

class I_WavFile {
public:
    virtual uint32_t AddRef() = 0;
    // Above 0: count - 1; otherwise the object deletes itself.
    virtual uint32_t Release() = 0;
    virtual const char* GetPathName() const = 0;
    virtual C_CUTime* GetFileTime() = 0;
    virtual int64_t GetFileLength() const = 0;
    virtual uint32_t GetFormatId() const = 0;
    virtual uint32_t GetCodecType() const = 0;
    virtual I_WavInfo* GetWavInfo() = 0;
    virtual void AttachWavData(I_WavData* sound) = 0;
    virtual I_WavData* DetachWavData() = 0;
    virtual I_WavData* GetWavData() = 0;
    virtual uint8_t* GetSampleBuffer() = 0;
    virtual int32_t CopyWavData(I_WavData* other) = 0;
    virtual void SetWavInfo(const I_WavInfo& format) = 0;
    virtual int32_t SetFormat(uint32_t rate, uint32_t dataSize, uint16_t channels, uint16_t validBits,
                              uint16_t containerBits, uint32_t signedFlag) = 0;
    virtual uint8_t* SetSampleData(const uint8_t* bytes, uint32_t size) = 0;
    virtual C_WriteWavParam* GetWriteParam() = 0;
    virtual int32_t SaveAs(uint32_t formatId, const char* path) = 0;
    virtual int32_t GetInfo(uint32_t kind, void** out) = 0;
    virtual ~I_WavFile() = default;
    virtual uint64_t GetDataOffset() const = 0;
    virtual int32_t ReadHeader(const char* path, uint32_t loadFlag, uint32_t* outFlags) = 0;
    virtual int32_t LoadSamples(uint32_t flag) = 0;
    virtual int32_t Save(const char* path) = 0;
};

}  // namespace cz
