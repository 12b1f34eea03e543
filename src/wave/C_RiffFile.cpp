#include "wave/C_RiffFile.h"

#include <cstring>

#include "foundation/ByteReader.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"

namespace cz {

C_RiffChunk::C_RiffChunk(const char id[4], uint32_t size) : size_(size) { std::memcpy(id_, id, 4); }

C_RiffChunk::C_RiffChunk(const char id[4], uint32_t size, std::shared_ptr<InputStream> stream, uint64_t dataOffset)
    : size_(size), dataOffset_(dataOffset), stream_(std::move(stream)) {
    std::memcpy(id_, id, 4);
}

bool C_RiffChunk::IdIs(const char* code) const { return std::memcmp(id_, code, 4) == 0; }

uint32_t C_RiffChunk::GetAvailableSize() const {
    if (loaded_ || !stream_) return static_cast<uint32_t>(data_.size());
    uint64_t total = stream_->Size();
    if (dataOffset_ >= total) return 0;
    uint64_t held = total - dataOffset_;
    return held < size_ ? static_cast<uint32_t>(held) : size_;
}

bool C_RiffChunk::Load() {
    if (loaded_) return true;
    if (!stream_) return false;
    uint32_t available = GetAvailableSize();
    std::vector<uint8_t> bytes;
    if (!stream_->ReadBytes(dataOffset_, available, bytes)) return false;
    data_ = std::move(bytes);
    loaded_ = true;
    return true;
}

const std::vector<uint8_t>* C_RiffChunk::Data() {
    if (!Load()) return nullptr;
    return &data_;
}

int32_t C_RiffChunk::ReadData(void* destination, uint32_t length, uint32_t offset) {
    if (size_ == 0 || !Load()) return 0;
    if (offset > data_.size() || length > data_.size() - offset) return 0;
    if (length) std::memcpy(destination, data_.data() + offset, length);
    return 1;
}

uint32_t C_RiffChunk::SetData(const void* source) {
    const auto* p = static_cast<const uint8_t*>(source);
    data_.assign(p, p + size_);
    loaded_ = true;
    return size_;
}

void C_RiffFile::Close() { stream_.reset(); }

int32_t C_RiffFile::Open(const std::string& path, const char formType[4]) {
    Close();
    chunks_.Clear();
    auto stream = InputStream::OpenFile(path);
    if (!stream) return 0;
    return Open(std::move(stream), formType);
}

int32_t C_RiffFile::Open(std::shared_ptr<InputStream> stream, const char formType[4]) {
    Close();
    chunks_.Clear();
    if (!stream) return 0;
    uint8_t header[12];
    if (!stream->ReadExactAt(0, header, 12)) return 0;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, formType, 4) != 0) return 0;
    stream_ = stream;
    uint32_t remaining = LoadU32(header + 4) - 4u;
    const uint64_t fileSize = stream->Size();
    uint64_t pos = 12;
    if (remaining == 0) return 1;
    for (;;) {
        // Pad bytes and zero filler between chunks.
        uint8_t block[256];
        bool stop = false;
        for (;;) {
            size_t got = 0;
            if (!stream->ReadAt(pos, block, sizeof block, &got) || got == 0) break;
            size_t zeros = 0;
            while (zeros < got && block[zeros] == 0) ++zeros;
            if (zeros >= remaining) {
                stop = true;  // the filler uses up what the RIFF size announced
                break;
            }
            pos += zeros;
            remaining -= static_cast<uint32_t>(zeros);
            if (zeros < got) break;
        }
        if (stop) return 1;
        uint8_t chunkHeader[8];
        if (!stream->ReadExactAt(pos, chunkHeader, 8)) return 1;
        uint32_t size = LoadU32(chunkHeader + 4);
        uint64_t dataOffset = pos + 8;
        if (dataOffset + size > fileSize) {
            // The chunk runs past the end of the file: keep it with what the
            // file holds, and stop the walk there.
            chunks_.Add(
                std::make_unique<C_RiffChunk>(reinterpret_cast<const char*>(chunkHeader), size, stream, dataOffset));
            return 1;
        }
        chunks_.Add(
            std::make_unique<C_RiffChunk>(reinterpret_cast<const char*>(chunkHeader), size, stream, dataOffset));
        pos = dataOffset + size;
        uint64_t consumed = static_cast<uint64_t>(size) + 8;
        if (remaining <= consumed) return 1;
        remaining -= static_cast<uint32_t>(consumed);
    }
}

C_RiffChunk* C_RiffFile::AddChunk(const char id[4], uint32_t size) {
    return chunks_.Add(std::make_unique<C_RiffChunk>(id, size));
}

int32_t C_RiffFile::Save(const std::string& path, const char formType[4]) {
    Close();
    uint64_t total = 4;
    for (C_RiffChunk* chunk : chunks_) total += 8 + static_cast<uint64_t>(chunk->GetSize()) + (chunk->GetSize() & 1u);
    if (total > 0xFFFFFFFFull) return 0;
    // Every chunk's bytes must be at hand before the file is touched.
    for (C_RiffChunk* chunk : chunks_) {
        const auto* data = chunk->Data();
        if (chunk->GetSize() != 0 && (!data || data->size() < chunk->GetSize())) return 0;
    }
    // Written beside the target and put in place only when complete: a failed
    // save leaves whatever the name held before.
    auto output = platform::AtomicOutput::Begin(path);
    if (!output) return 0;
    platform::File* file = &output->Out();
    uint8_t header[12];
    std::memcpy(header, "RIFF", 4);
    StoreU32(header + 4, static_cast<uint32_t>(total));
    std::memcpy(header + 8, formType, 4);
    bool ok = file->Write(header, 12);
    uint64_t pos = 12;
    for (C_RiffChunk* chunk : chunks_) {
        if (!ok) break;
        uint8_t ch[8];
        std::memcpy(ch, chunk->GetId(), 4);
        StoreU32(ch + 4, chunk->GetSize());
        ok = file->Write(ch, 8);
        pos += 8;
        chunk->SetDataOffset(pos);
        if (ok && chunk->GetSize()) ok = file->Write(chunk->Data()->data(), chunk->GetSize());
        pos += chunk->GetSize();
        if (ok && (chunk->GetSize() & 1u)) {
            uint8_t pad = 0;
            ok = file->Write(&pad, 1);
            ++pos;
        }
    }
    if (!ok) return 0;  // the temporary file goes with output
    return output->Commit() ? 1 : 0;
}

}  // namespace cz
