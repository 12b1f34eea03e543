#include "wave/C_WavDataSamplerInfo.h"

#include <vector>

#include "foundation/ByteReader.h"

namespace cz {

void C_WavDataSamplerInfo::Clear() {
    for (auto& v : f_) v = 0;
    loopCountField_ = 0;
    dataSize_ = 0;
    ClearLoops();
}

I_WavDataSampleLoop* C_WavDataSamplerInfo::AddLoop(const S_SampleLoopFields& fields) {
    return loops_.Add(std::make_unique<C_SampleLoop>(fields, format_));
}

uint32_t C_WavDataSamplerInfo::GetChunkSize() const {
    uint64_t size = 36u + 24u * static_cast<uint64_t>(loops_.GetCount()) + dataSize_;
    return size > 0xFFFFFFF0u ? 0xFFFFFFF0u : static_cast<uint32_t>(size);
}

int32_t C_WavDataSamplerInfo::LoadFromChunk(C_RiffChunk& chunk) {
    const auto* data = chunk.Data();
    if (!data) return 0;
    ByteReader r(data->data(), data->size());
    uint32_t fields[9];
    for (auto& v : fields)
        if (!r.U32(v)) return 0;
    for (int i = 0; i < 7; ++i) f_[i] = fields[i];
    loopCountField_ = fields[7];
    // The sampler data is not kept, so only its size as far as the chunk holds it.
    ClearLoops();
    for (uint32_t i = 0; i < loopCountField_; ++i) {
        S_SampleLoopFields loop;
        if (!r.U32(loop.cueId) || !r.U32(loop.type) || !r.U32(loop.start) || !r.U32(loop.end) ||
            !r.U32(loop.fraction) || !r.U32(loop.playCount))
            return 0;
        AddLoop(loop);
    }
    dataSize_ = fields[8] <= r.Remaining() ? fields[8] : static_cast<uint32_t>(r.Remaining());
    return 1;
}

int32_t C_WavDataSamplerInfo::WriteToChunk(C_RiffChunk& chunk) const {
    std::vector<uint8_t> bytes(GetChunkSize(), 0);
    if (chunk.GetSize() != bytes.size()) return 0;
    for (int i = 0; i < 7; ++i) StoreU32(&bytes[4 * static_cast<size_t>(i)], f_[i]);
    StoreU32(&bytes[28], static_cast<uint32_t>(loops_.GetCount()));
    StoreU32(&bytes[32], dataSize_);
    size_t at = 36;
    for (const C_SampleLoop* loop : loops_) {
        const auto& l = loop->GetFields();
        const uint32_t v[6] = {l.cueId, l.type, l.start, l.end, l.fraction, l.playCount};
        for (uint32_t x : v) {
            StoreU32(&bytes[at], x);
            at += 4;
        }
    }
    chunk.SetData(bytes.data());
    return 1;
}

}  // namespace cz
