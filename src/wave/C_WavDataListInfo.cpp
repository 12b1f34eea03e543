#include "wave/C_WavDataListInfo.h"

#include <cstring>
#include <vector>

#include "foundation/ByteReader.h"

namespace cz {

namespace {
uint32_t LabelSubchunkSize(const std::string& text) {
    uint32_t withNul = static_cast<uint32_t>(text.size()) + 1;
    return 4 + ((withNul + 1) & ~1u);
}
}  // namespace

uint32_t C_WavDataListInfo::GetChunkSize() const {
    uint32_t size = 4;
    for (const auto& label : labels_.Items()) size += 8 + LabelSubchunkSize(label.text);
    size += 28u * static_cast<uint32_t>(texts_.GetCount());
    return size;
}

const char* C_WavDataListInfo::GetLabelAt(int32_t index, uint32_t* cueId) const {
    const S_Label* label = labels_.GetAt(index);
    if (!label) return nullptr;
    if (cueId) *cueId = label->cueId;
    return label->text.c_str();
}

void C_WavDataListInfo::SetLabel(uint32_t cueId, const char* text) {
    std::string t = text ? text : "";
    if (t.size() > kLabelField - 1) t.resize(kLabelField - 1);
    labels_.Add(S_Label{cueId, std::move(t)});
}

int32_t C_WavDataListInfo::LoadFromChunk(C_RiffChunk& chunk) {
    const auto* data = chunk.Data();
    if (!data) return 0;
    ByteReader r(data->data(), data->size());
    char form[4];
    if (!r.FourCC(form)) return 0;
    if (std::memcmp(form, "adtl", 4) != 0) return 1;
    ClearLabels();
    ClearTexts();
    // Sub-chunks are walked within what the chunk really holds.
    while (r.Remaining() > 8) {
        char id[4];
        uint32_t size = 0;
        if (!r.FourCC(id) || !r.U32(size)) return 0;
        size_t start = r.Position();
        if (size > r.Remaining()) return 0;
        ByteReader sub(data->data() + start, size);
        if (std::memcmp(id, "labl", 4) == 0) {
            uint32_t cueId = 0;
            if (!sub.U32(cueId)) return 0;
            const char* text = reinterpret_cast<const char*>(sub.Data() + sub.Position());
            size_t n = 0;
            while (n < sub.Remaining() && text[n] != '\0') ++n;
            SetLabel(cueId, std::string(text, n).c_str());
        } else if (std::memcmp(id, "ltxt", 4) == 0) {
            uint32_t cueId = 0, length = 0;
            if (!sub.U32(cueId) || !sub.U32(length)) return 0;
            AddText(cueId, length);
        }
        uint64_t advance = static_cast<uint64_t>(size) + (size & 1u);
        if (advance > r.Remaining()) break;  // a final odd sub-chunk without its pad byte
        r.Skip(static_cast<size_t>(advance));
    }
    return 1;
}

int32_t C_WavDataListInfo::WriteToChunk(C_RiffChunk& chunk) const {
    std::vector<uint8_t> bytes(GetChunkSize(), 0);
    if (chunk.GetSize() != bytes.size()) return 0;
    std::memcpy(bytes.data(), "adtl", 4);
    size_t at = 4;
    for (const auto& label : labels_.Items()) {
        uint32_t size = LabelSubchunkSize(label.text);
        std::memcpy(&bytes[at], "labl", 4);
        StoreU32(&bytes[at + 4], size);
        StoreU32(&bytes[at + 8], label.cueId);
        std::memcpy(&bytes[at + 12], label.text.data(), label.text.size());
        at += 8 + size;
    }
    for (const auto& text : texts_.Items()) {
        std::memcpy(&bytes[at], "ltxt", 4);
        StoreU32(&bytes[at + 4], 20);
        StoreU32(&bytes[at + 8], text.cueId);
        StoreU32(&bytes[at + 12], text.sampleLength);
        at += 28;
    }
    chunk.SetData(bytes.data());
    return 1;
}

uint32_t C_WavDataListInfo::GetTextLength(uint32_t cueId) const {
    for (const auto& text : texts_.Items())
        if (text.cueId == cueId) return text.sampleLength;
    return 0;
}

}  // namespace cz
