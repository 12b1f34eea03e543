#include "wave/C_WavDataCueInfo.h"

#include <cstring>
#include <vector>

#include "foundation/ByteReader.h"

namespace cz {

C_WavDataCueInfo::C_CuePoint::C_CuePoint(uint32_t cueId, uint32_t position, const char chunkId[4], uint32_t chunkStart,
                                         uint32_t blockStart, uint32_t sampleOffset, const I_WavInfo* format)
    : cueId_(cueId), format_(format) {
    Set(position, chunkId, chunkStart, blockStart, sampleOffset);
}

void C_WavDataCueInfo::C_CuePoint::Set(uint32_t position, const char chunkId[4], uint32_t chunkStart,
                                       uint32_t blockStart, uint32_t sampleOffset) {
    position_ = position;
    std::memcpy(chunkId_, chunkId, 4);
    std::memcpy(chunkIdText_, chunkId, 4);
    chunkIdText_[4] = '\0';
    chunkStart_ = chunkStart;
    blockStart_ = blockStart;
    sampleOffset_ = sampleOffset;
}

I_WavDataCuePoint* C_WavDataCueInfo::FindByCueId(uint32_t cueId) const {
    for (C_CuePoint* p : points_)
        if (p->GetCueId() == cueId) return p;
    return nullptr;
}

namespace {
void ChunkIdBytes(const char* chunkId, char (&id)[4]) {
    if (chunkId) {
        size_t n = std::strlen(chunkId);
        std::memcpy(id, chunkId, n < 4 ? n : 4);
    }
}
}  // namespace

uint32_t C_WavDataCueInfo::AddCuePoint(uint32_t cueId, uint32_t position, const char* chunkId, uint32_t chunkStart,
                                       uint32_t blockStart, uint32_t sampleOffset) {
    char id[4] = {' ', ' ', ' ', ' '};
    ChunkIdBytes(chunkId, id);
    for (C_CuePoint* p : points_)
        if (p->GetCueId() == cueId) {
            p->Set(position, id, chunkStart, blockStart, sampleOffset);
            return p->GetItemId();
        }
    return AppendCuePoint(cueId, position, chunkId, chunkStart, blockStart, sampleOffset);
}

uint32_t C_WavDataCueInfo::AppendCuePoint(uint32_t cueId, uint32_t position, const char* chunkId, uint32_t chunkStart,
                                          uint32_t blockStart, uint32_t sampleOffset) {
    char id[4] = {' ', ' ', ' ', ' '};
    ChunkIdBytes(chunkId, id);
    C_CuePoint* p =
        points_.Add(std::make_unique<C_CuePoint>(cueId, position, id, chunkStart, blockStart, sampleOffset, format_));
    return p->GetItemId();
}

int32_t C_WavDataCueInfo::RemoveByCueId(uint32_t cueId) {
    for (int32_t i = 0; i < points_.GetCount(); ++i)
        if (points_.ItemAt(i)->GetCueId() == cueId) return points_.RemoveAt(i) ? 1 : 0;
    return 0;
}

int32_t C_WavDataCueInfo::LoadFromChunk(C_RiffChunk& chunk) {
    const auto* data = chunk.Data();
    if (!data) return 0;
    ByteReader r(data->data(), data->size());
    uint32_t count = 0;
    if (!r.U32(count)) return 0;
    Clear();
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t f[6];
        char id[4];
        if (!r.U32(f[0]) || !r.U32(f[1]) || !r.FourCC(id) || !r.U32(f[3]) || !r.U32(f[4]) || !r.U32(f[5])) return 0;
        points_.Add(std::make_unique<C_CuePoint>(f[0], f[1], id, f[3], f[4], f[5], format_));
    }
    return 1;
}

int32_t C_WavDataCueInfo::WriteToChunk(C_RiffChunk& chunk) const {
    std::vector<uint8_t> bytes(GetChunkSize());
    StoreU32(bytes.data(), static_cast<uint32_t>(points_.GetCount()));
    size_t at = 4;
    for (const C_CuePoint* p : points_) {
        StoreU32(&bytes[at], p->GetCueId());
        StoreU32(&bytes[at + 4], p->GetPosition());
        std::memcpy(&bytes[at + 8], p->ChunkId(), 4);
        StoreU32(&bytes[at + 12], p->GetChunkStart());
        StoreU32(&bytes[at + 16], p->GetBlockStart());
        StoreU32(&bytes[at + 20], p->GetSampleOffset());
        at += 24;
    }
    if (chunk.GetSize() != bytes.size()) return 0;
    chunk.SetData(bytes.data());
    return 1;
}

}  // namespace cz
