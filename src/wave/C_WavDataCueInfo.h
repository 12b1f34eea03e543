// Cue points of a sound ("cue " chunk).
#pragma once

#include <cstdint>

#include "foundation/C_CUList.h"
#include "wave/C_RiffFile.h"
#include "wave/C_WavInfo.h"

namespace cz {

class I_WavDataCuePoint {
public:
    virtual uint32_t GetCueId() const = 0;
    virtual uint32_t GetPosition() const = 0;
    virtual const char* GetChunkIdText() const = 0;
    virtual uint32_t GetChunkStart() const = 0;
    virtual uint32_t GetBlockStart() const = 0;
    virtual uint32_t GetSampleOffset() const = 0;
    virtual ~I_WavDataCuePoint() = default;
};

class I_WavDataCueInfo {
public:
    virtual int32_t HasPoints() const = 0;
    virtual void Clear() = 0;
    virtual int32_t GetCount() const = 0;
    virtual I_WavDataCuePoint* GetAt(int32_t index) const = 0;
    virtual I_WavDataCuePoint* FindByCueId(uint32_t cueId) const = 0;
    virtual uint32_t AddCuePoint(uint32_t cueId, uint32_t position, const char* chunkId, uint32_t chunkStart,
                                 uint32_t blockStart, uint32_t sampleOffset) = 0;
    virtual int32_t RemoveAt(int32_t index) = 0;
    virtual int32_t RemoveByCueId(uint32_t cueId) = 0;
    virtual uint32_t GetChunkSize() const = 0;
    virtual int32_t LoadFromChunk(C_RiffChunk& chunk) = 0;
    virtual int32_t WriteToChunk(C_RiffChunk& chunk) const = 0;
    virtual ~I_WavDataCueInfo() = default;
};

class C_WavDataCueInfo : public I_WavDataCueInfo {
public:
    class C_CuePoint : public C_CUItem, public I_WavDataCuePoint {
    public:
        C_CuePoint(uint32_t cueId, uint32_t position, const char chunkId[4], uint32_t chunkStart, uint32_t blockStart,
                   uint32_t sampleOffset, const I_WavInfo* format);
        void Set(uint32_t position, const char chunkId[4], uint32_t chunkStart, uint32_t blockStart,
                 uint32_t sampleOffset);
        uint32_t GetCueId() const override { return cueId_; }
        uint32_t GetPosition() const override { return position_; }
        const char* GetChunkIdText() const override { return chunkIdText_; }
        uint32_t GetChunkStart() const override { return chunkStart_; }
        uint32_t GetBlockStart() const override { return blockStart_; }
        uint32_t GetSampleOffset() const override { return sampleOffset_; }
        const char* ChunkId() const { return chunkId_; }

    private:
        uint32_t cueId_;
        uint32_t position_ = 0;
        char chunkId_[4] = {};
        uint32_t chunkStart_ = 0;
        uint32_t blockStart_ = 0;
        uint32_t sampleOffset_ = 0;
        const I_WavInfo* format_;
        char chunkIdText_[5] = {};
    };

    explicit C_WavDataCueInfo(const I_WavInfo* format) : format_(format) {}

    int32_t HasPoints() const override { return points_.GetCount() > 0 ? 1 : 0; }
    void Clear() override { points_.Clear(); }
    int32_t GetCount() const override { return points_.GetCount(); }
    I_WavDataCuePoint* GetAt(int32_t index) const override { return points_.GetAt(index); }
    I_WavDataCuePoint* FindByCueId(uint32_t cueId) const override;
    uint32_t AddCuePoint(uint32_t cueId, uint32_t position, const char* chunkId, uint32_t chunkStart,
                         uint32_t blockStart, uint32_t sampleOffset) override;
    // Appends a point even when one with that cue identifier exists (as a
    // file's cue chunk may hold them); returns its list identifier.
    uint32_t AppendCuePoint(uint32_t cueId, uint32_t position, const char* chunkId, uint32_t chunkStart,
                            uint32_t blockStart, uint32_t sampleOffset);
    int32_t RemoveAt(int32_t index) override { return points_.RemoveAt(index) ? 1 : 0; }
    int32_t RemoveByCueId(uint32_t cueId) override;
    uint32_t GetChunkSize() const override { return 4u + 24u * static_cast<uint32_t>(points_.GetCount()); }
    // Fails (keeping the points read so far) when the count runs past the chunk.
    int32_t LoadFromChunk(C_RiffChunk& chunk) override;
    int32_t WriteToChunk(C_RiffChunk& chunk) const override;

private:
    const I_WavInfo* format_;
    C_CUList<C_CuePoint, I_WavDataCuePoint, true> points_;
};

}  // namespace cz
