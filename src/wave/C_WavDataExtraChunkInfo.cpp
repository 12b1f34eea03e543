#include "wave/C_WavDataExtraChunkInfo.h"

#include "foundation/ByteReader.h"

namespace cz {

I_WavDataExtraChunk* C_WavDataExtraChunkInfo::Add(const char chunkId[4], const uint8_t* bytes, uint32_t size) {
    static const uint8_t kEmpty = 0;
    return C_CUCustomList::Add(
        std::make_unique<C_WavDataExtraChunk>(FourCCValue(chunkId), bytes ? bytes : &kEmpty, bytes ? size : 0));
}

int32_t C_WavDataExtraChunkInfo::Remove(const char chunkId[4]) {
    uint32_t id = FourCCValue(chunkId);
    for (int32_t i = 0; i < GetCount(); ++i)
        if (ItemAt(i)->GetChunkId() == id) return RemoveAt(i) ? 1 : 0;
    return 0;
}

int32_t C_WavDataExtraChunkInfo::AddFromChunk(const char chunkId[4], C_RiffChunk& chunk) {
    const auto* data = chunk.Data();
    if (!data || data->size() != chunk.GetSize()) return 0;
    return Add(chunkId, data->data(), chunk.GetSize()) ? 1 : 0;
}

I_WavDataExtraChunk* C_WavDataExtraChunkInfo::Find(const char chunkId[4]) const {
    uint32_t id = FourCCValue(chunkId);
    for (C_WavDataExtraChunk* c : *this)
        if (c->GetChunkId() == id) return c;
    return nullptr;
}

}  // namespace cz
