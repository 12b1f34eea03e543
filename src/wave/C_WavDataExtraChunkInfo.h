// Raw chunks kept with a sound and written back as they were ("WIOD", "UIOW").
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/C_CUList.h"
#include "wave/C_RiffFile.h"

namespace cz {

class I_WavDataExtraChunk {
public:
    virtual uint32_t GetChunkId() const = 0;
    virtual uint32_t GetData(const uint8_t** bytes) const = 0;
    virtual ~I_WavDataExtraChunk() = default;
};

class C_WavDataExtraChunk : public C_CUItem, public I_WavDataExtraChunk {
public:
    C_WavDataExtraChunk(uint32_t chunkId, const uint8_t* bytes, uint32_t size)
        : chunkId_(chunkId), data_(bytes, bytes + size) {}
    uint32_t GetChunkId() const override { return chunkId_; }
    uint32_t GetData(const uint8_t** bytes) const override {
        if (bytes) *bytes = data_.data();
        return static_cast<uint32_t>(data_.size());
    }

private:
    uint32_t chunkId_;
    std::vector<uint8_t> data_;
};

class I_WavDataExtraChunkInfo
    : public C_CUCustomList<I_CUList<I_WavDataExtraChunk>, C_WavDataExtraChunk, I_WavDataExtraChunk, true> {
public:
    virtual I_WavDataExtraChunk* Add(const char chunkId[4], const uint8_t* bytes, uint32_t size) = 0;
    virtual int32_t Remove(const char chunkId[4]) = 0;
    virtual int32_t AddFromChunk(const char chunkId[4], C_RiffChunk& chunk) = 0;
    virtual I_WavDataExtraChunk* Find(const char chunkId[4]) const = 0;
};

class C_WavDataExtraChunkInfo : public I_WavDataExtraChunkInfo {
public:
    I_WavDataExtraChunk* Add(const char chunkId[4], const uint8_t* bytes, uint32_t size) override;
    int32_t Remove(const char chunkId[4]) override;
    // Takes the chunk's whole data; fails when the file does not hold it all.
    int32_t AddFromChunk(const char chunkId[4], C_RiffChunk& chunk) override;
    I_WavDataExtraChunk* Find(const char chunkId[4]) const override;
};

// Kind 2 of a sound's metadata: a placeholder that takes part in no chunk.
class C_WavDataTextInfo {
public:
    uint32_t GetValue() const { return value_; }
    void SetValue(uint32_t value) { value_ = value; }

private:
    uint32_t value_ = 0;
};

}  // namespace cz
