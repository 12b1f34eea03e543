// RIFF files: the flat list of top-level chunks, read lazily from the file
// and written back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/C_CUList.h"
#include "foundation/InputStream.h"

namespace cz {

class I_RiffChunk {
public:
    virtual uint32_t GetSize() const = 0;
    virtual int32_t ReadData(void* destination, uint32_t length, uint32_t offset) = 0;
    virtual uint32_t SetData(const void* source) = 0;
    virtual ~I_RiffChunk() = default;
};

class C_RiffChunk : public C_CUItem, public I_RiffChunk {
public:
    C_RiffChunk(const char id[4], uint32_t size);
    C_RiffChunk(const char id[4], uint32_t size, std::shared_ptr<InputStream> stream, uint64_t dataOffset);

    uint32_t GetSize() const override { return size_; }
    // Copies length bytes from offset within the chunk; 1, or 0 when the chunk
    // is empty or the bytes are not all there (a chunk cut short by the end of
    // its file holds only what the file holds).
    int32_t ReadData(void* destination, uint32_t length, uint32_t offset) override;
    // Copies exactly GetSize() bytes in; returns the size.
    uint32_t SetData(const void* source) override;

    const char* GetId() const { return id_; }
    bool IdIs(const char* code) const;
    uint64_t GetDataOffset() const { return dataOffset_; }
    void SetDataOffset(uint64_t offset) { dataOffset_ = offset; }
    // Bytes of the chunk that the file really holds.
    uint32_t GetAvailableSize() const;
    // The whole chunk data (loaded on first use); none when it cannot be read.
    const std::vector<uint8_t>* Data();

private:
    bool Load();

    char id_[4];
    uint32_t size_;
    uint64_t dataOffset_ = 0;
    std::shared_ptr<InputStream> stream_;
    std::vector<uint8_t> data_;
    bool loaded_ = false;
};

using C_RiffChunkList = C_CUList<C_RiffChunk, I_RiffChunk, true>;

class C_RiffFile {
public:
    // 1 when the file starts with "RIFF" and the form type; the chunk list
    // holds what could be read (a truncated file opens with the chunks so far).
    int32_t Open(const std::string& path, const char formType[4]);
    int32_t Open(std::shared_ptr<InputStream> stream, const char formType[4]);
    // Writes every chunk in list order; odd-sized chunks get a pad byte.
    int32_t Save(const std::string& path, const char formType[4]);
    C_RiffChunk* AddChunk(const char id[4], uint32_t size);
    C_RiffChunkList& GetChunks() { return chunks_; }
    void Close();
    std::shared_ptr<InputStream> Stream() const { return stream_; }

private:
    std::shared_ptr<InputStream> stream_;
    C_RiffChunkList chunks_;
};

}  // namespace cz
