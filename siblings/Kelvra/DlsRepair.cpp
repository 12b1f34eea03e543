#include "DlsRepair.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kelvra {

namespace {

constexpr int kMaxDepth = 16;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
bool IsList(const uint8_t* id) { return std::memcmp(id, "LIST", 4) == 0 || std::memcmp(id, "RIFF", 4) == 0; }

struct Walker {
    std::vector<uint8_t>* out = nullptr;          // rewriting when set
    std::vector<DlsChunkInfo>* chunks = nullptr;  // listing when set
    std::string* error = nullptr;
    uint32_t instruments = 0;
    size_t colhAt = SIZE_MAX;

    bool Fail(const char* why) {
        *error = why;
        return false;
    }

    // The children of a list body.
    bool Children(std::span<const uint8_t> body, int depth, const uint8_t* parentType) {
        if (depth > kMaxDepth) return Fail("chunk tree deeper than the limit");
        size_t pos = 0;
        while (pos < body.size()) {
            if (body.size() - pos < 8) {
                // Trailing bytes too short for a chunk: padding, dropped.
                if (std::all_of(body.begin() + static_cast<ptrdiff_t>(pos), body.end(),
                                [](uint8_t b) { return b == 0; }))
                    return true;
                return Fail("truncated chunk header");
            }
            const uint8_t* id = &body[pos];
            const uint32_t size = Le32(&body[pos + 4]);
            if (size > body.size() - pos - 8) return Fail("chunk runs past its parent");
            if (!Chunk(id, body.subspan(pos + 8, size), depth, parentType)) return false;
            pos += 8 + size;
            if ((size & 1) && pos < body.size()) ++pos;  // the pad byte, when there
        }
        return true;
    }

    bool Chunk(const uint8_t* id, std::span<const uint8_t> body, int depth, const uint8_t* parentType) {
        DlsChunkInfo info{depth, {}, {}, static_cast<uint32_t>(body.size())};
        std::memcpy(info.id, id, 4);
        const bool list = IsList(id);
        if (list) {
            if (body.size() < 4) return Fail("list without a type");
            std::memcpy(info.listType, body.data(), 4);
        }
        if (chunks) chunks->push_back(info);
        if (list && parentType && std::memcmp(body.data(), "ins ", 4) == 0 && std::memcmp(parentType, "lins", 4) == 0)
            ++instruments;
        size_t at = 0;
        if (out) {
            at = out->size();
            out->insert(out->end(), id, id + 4);
            out->insert(out->end(), 4, 0);
        }
        if (list) {
            if (out) out->insert(out->end(), body.begin(), body.begin() + 4);
            if (!Children(body.subspan(4), depth + 1, body.data())) return false;
        } else if (out) {
            if (std::memcmp(id, "colh", 4) == 0 && body.size() >= 4 && depth == 1) colhAt = out->size();
            out->insert(out->end(), body.begin(), body.end());
            if (std::memcmp(id, "ptbl", 4) == 0 && body.size() >= 8) {
                // cbSize, cCues, then one 4-byte offset per cue.
                const uint32_t headerSize = Le32(body.data());
                if (headerSize >= 8 && headerSize <= body.size()) {
                    const uint32_t cues = static_cast<uint32_t>((body.size() - headerSize) / 4);
                    PutLe32(out->data() + at + 8 + 4, cues);
                }
            }
        }
        if (out) {
            const size_t size = out->size() - at - 8;
            PutLe32(out->data() + at + 4, static_cast<uint32_t>(size));
            if (size & 1) out->push_back(0);
        }
        return true;
    }
};

bool Top(std::span<const uint8_t> in, Walker& w, std::string& error) {
    if (in.size() < 12 || std::memcmp(in.data(), "RIFF", 4) != 0 || std::memcmp(in.data() + 8, "DLS ", 4) != 0)
        return error = "not a DLS file", false;
    // A RIFF length past the end of the file is cut back to the file.
    const uint64_t stated = Le32(in.data() + 4);
    const size_t size = static_cast<size_t>(std::min<uint64_t>(stated, in.size() - 8));
    return w.Chunk(in.data(), in.subspan(8, size), 0, nullptr);
}

}  // namespace

bool RepairDls(std::span<const uint8_t> in, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    Walker w;
    w.out = &out;
    w.error = &error;
    if (!Top(in, w, error)) return false;
    if (w.colhAt != SIZE_MAX) PutLe32(out.data() + w.colhAt, w.instruments);
    return true;
}

bool WalkDls(std::span<const uint8_t> in, std::vector<DlsChunkInfo>& chunks, std::string& error) {
    chunks.clear();
    Walker w;
    w.chunks = &chunks;
    w.error = &error;
    return Top(in, w, error);
}

}  // namespace kelvra
