// Sampler data of a sound ("smpl" chunk): nine fixed fields and the loops.
#pragma once

#include <cstdint>

#include "foundation/C_CUList.h"
#include "wave/C_RiffFile.h"
#include "wave/C_WavInfo.h"

namespace cz {

struct S_SampleLoopFields {
    uint32_t cueId = 0, type = 0, start = 0, end = 0, fraction = 0, playCount = 0;
};

class I_WavDataSampleLoop {
public:
    virtual const S_SampleLoopFields& GetFields() const = 0;
    virtual void SetFields(const S_SampleLoopFields& fields) = 0;
    virtual ~I_WavDataSampleLoop() = default;
};

class I_WavDataSamplerInfo {
public:
    virtual int32_t HasLoops() const = 0;
    virtual void Clear() = 0;
    virtual void ClearLoops() = 0;
    virtual uint32_t GetManufacturer() const = 0;
    virtual uint32_t GetProduct() const = 0;
    virtual uint32_t GetSamplePeriod() const = 0;
    virtual uint32_t GetUnityNote() const = 0;
    virtual uint32_t GetPitchFraction() const = 0;
    virtual uint32_t GetSmpteFormat() const = 0;
    virtual uint32_t GetSmpteOffset() const = 0;
    virtual uint32_t GetLoopCount() const = 0;
    virtual void SetSamplerDataSize(uint32_t size) = 0;
    virtual uint32_t GetSamplerDataSize() const = 0;
    virtual void SetManufacturer(uint32_t v) = 0;
    virtual void SetProduct(uint32_t v) = 0;
    virtual void SetSamplePeriod(uint32_t v) = 0;
    virtual void SetUnityNote(uint32_t v) = 0;
    virtual void SetPitchFraction(uint32_t v) = 0;
    virtual void SetSmpteFormat(uint32_t v) = 0;
    virtual void SetSmpteOffset(uint32_t v) = 0;
    virtual I_WavDataSampleLoop* GetLoopAt(int32_t index) const = 0;
    virtual I_WavDataSampleLoop* AddLoop(const S_SampleLoopFields& fields) = 0;
    virtual int32_t RemoveLoop(int32_t index) = 0;
    virtual uint32_t GetChunkSize() const = 0;
    virtual int32_t LoadFromChunk(C_RiffChunk& chunk) = 0;
    virtual int32_t WriteToChunk(C_RiffChunk& chunk) const = 0;
    virtual ~I_WavDataSamplerInfo() = default;
};

class C_WavDataSamplerInfo : public I_WavDataSamplerInfo {
public:
    class C_SampleLoop : public C_CUItem, public I_WavDataSampleLoop {
    public:
        C_SampleLoop(const S_SampleLoopFields& fields, const I_WavInfo* format) : format_(format), fields_(fields) {}
        const S_SampleLoopFields& GetFields() const override { return fields_; }
        void SetFields(const S_SampleLoopFields& fields) override { fields_ = fields; }

    private:
        const I_WavInfo* format_;
        S_SampleLoopFields fields_;
    };

    explicit C_WavDataSamplerInfo(const I_WavInfo* format) : format_(format) {}

    int32_t HasLoops() const override { return loops_.GetCount() > 0 ? 1 : 0; }
    void Clear() override;
    void ClearLoops() override { loops_.Clear(); }
    uint32_t GetManufacturer() const override { return f_[0]; }
    uint32_t GetProduct() const override { return f_[1]; }
    uint32_t GetSamplePeriod() const override { return f_[2]; }
    uint32_t GetUnityNote() const override { return f_[3]; }
    uint32_t GetPitchFraction() const override { return f_[4]; }
    uint32_t GetSmpteFormat() const override { return f_[5]; }
    uint32_t GetSmpteOffset() const override { return f_[6]; }
    uint32_t GetLoopCount() const override { return static_cast<uint32_t>(loops_.GetCount()); }
    void SetSamplerDataSize(uint32_t size) override { dataSize_ = size; }
    uint32_t GetSamplerDataSize() const override { return dataSize_; }
    void SetManufacturer(uint32_t v) override { f_[0] = v; }
    void SetProduct(uint32_t v) override { f_[1] = v; }
    void SetSamplePeriod(uint32_t v) override { f_[2] = v; }
    void SetUnityNote(uint32_t v) override { f_[3] = v; }
    void SetPitchFraction(uint32_t v) override { f_[4] = v; }
    void SetSmpteFormat(uint32_t v) override { f_[5] = v; }
    void SetSmpteOffset(uint32_t v) override { f_[6] = v; }
    I_WavDataSampleLoop* GetLoopAt(int32_t index) const override { return loops_.GetAt(index); }
    I_WavDataSampleLoop* AddLoop(const S_SampleLoopFields& fields) override;
    int32_t RemoveLoop(int32_t index) override { return loops_.RemoveAt(index) ? 1 : 0; }
    uint32_t GetChunkSize() const override;
    int32_t LoadFromChunk(C_RiffChunk& chunk) override;
    // The sampler data bytes after the loops are not kept; they are written as zeros.
    int32_t WriteToChunk(C_RiffChunk& chunk) const override;

private:
    const I_WavInfo* format_;
    uint32_t f_[7] = {};
    uint32_t loopCountField_ = 0;
    uint32_t dataSize_ = 0;
    C_CUList<C_SampleLoop, I_WavDataSampleLoop, true> loops_;
};

}  // namespace cz
