#include "formats/mpm/MpmLayout.h"

#include <algorithm>
#include <cstring>

#include "foundation/ByteReader.h"
#include "foundation/ByteWriter.h"

namespace cz {

std::vector<uint8_t> SerializeMpmHeader(const S_MpmHeader& h) {
    ByteWriter w;
    w.Bytes(h.code, 4);
    w.U16(h.version);
    w.U16(h.headerSize);
    w.U16(h.channels);
    w.U8(h.byte10);
    w.U8(h.byte11);
    w.U16(h.rate);
    w.U16(h.cutOff);
    w.U32(h.wsilOffset);
    w.U32(h.mcmdOffset);
    w.U32(h.mcmdSize);
    w.U32(h.frameOffset);
    w.U32(h.frameSize);
    w.U16(h.sourceBits);
    w.U32(h.sourceOffset);
    w.U32(h.sourceCount);
    w.U16(h.decodedBits);
    w.U32(h.decodedOffset);
    w.U32(h.decodedCount);
    w.U16(h.silenceLevel);
    w.U16(h.minimumSilence);
    w.U16(h.codingField);
    return std::move(w.Data());
}

std::vector<uint8_t> SerializeMpmFrameHeader(uint32_t frameSectionOffset, uint32_t frameSectionSize) {
    ByteWriter w;
    w.FourCC("MFRM");
    w.U16(static_cast<uint16_t>(kMpmFrameHeaderSize));
    w.U32(frameSectionOffset + kMpmFrameHeaderSize);
    w.U32(frameSectionSize >= kMpmFrameHeaderSize ? frameSectionSize - kMpmFrameHeaderSize : 0);
    return std::move(w.Data());
}

std::vector<uint8_t> BuildMcmdBlock(uint32_t blockOffset, const std::vector<S_MpmEventEntry>& events) {
    ByteWriter w;
    w.FourCC("MCMD");
    w.U16(static_cast<uint16_t>(kMpmMcmdHeaderSize));
    w.U32(blockOffset + kMpmMcmdHeaderSize);
    w.U32(static_cast<uint32_t>(events.size()));
    for (const S_MpmEventEntry& e : events) {
        w.U32(e.sample);
        w.U8(e.type);
        w.U8(e.param);
    }
    return std::move(w.Data());
}

std::vector<uint8_t> BuildWsilBlock(uint32_t blockOffset, const std::vector<S_MpmSilence>& silences) {
    ByteWriter w;
    w.FourCC("WSIL");
    w.U16(static_cast<uint16_t>(kMpmWsilHeaderSize));
    w.U16(static_cast<uint16_t>(kMpmWsilEntrySize));
    w.U32(blockOffset + kMpmWsilHeaderSize);
    w.U32(static_cast<uint32_t>(silences.size()));
    for (const S_MpmSilence& s : silences) {
        w.U32(s.first);
        w.U32(s.last);
    }
    return std::move(w.Data());
}

namespace {

// [offset, offset + bytes) lies after the main header and inside the file.
bool SectionInFile(uint64_t offset, uint64_t bytes, uint64_t fileSize) {
    return offset >= kMpmHeaderSize && offset <= fileSize && bytes <= fileSize - offset;
}

}  // namespace

MpmHeaderError CheckMpmHeader(const uint8_t* bytes, size_t size, uint64_t fileSize, const char* code,
                              const char* altCode, S_MpmHeader& out) {
    if (!bytes || size < kMpmHeaderSize || fileSize < kMpmHeaderSize) return MpmHeaderError::kTooShort;
    ByteReader r(bytes, kMpmHeaderSize);
    S_MpmHeader h;
    r.FourCC(h.code);
    if (std::memcmp(h.code, code, 4) != 0 && !(altCode && std::memcmp(h.code, altCode, 4) == 0))
        return MpmHeaderError::kWrongCode;
    r.U16(h.version);
    r.U16(h.headerSize);
    r.U16(h.channels);
    r.U8(h.byte10);
    r.U8(h.byte11);
    r.U16(h.rate);
    r.U16(h.cutOff);
    r.U32(h.wsilOffset);
    r.U32(h.mcmdOffset);
    r.U32(h.mcmdSize);
    r.U32(h.frameOffset);
    r.U32(h.frameSize);
    r.U16(h.sourceBits);
    r.U32(h.sourceOffset);
    r.U32(h.sourceCount);
    r.U16(h.decodedBits);
    r.U32(h.decodedOffset);
    r.U32(h.decodedCount);
    r.U16(h.silenceLevel);
    r.U16(h.minimumSilence);
    r.U16(h.codingField);
    // The sound is described by the channels, the rate and the bits of the
    // decoded section; nothing else could be played.
    if (h.headerSize != kMpmHeaderSize || h.channels == 0 || h.channels > 2 || h.rate == 0 || h.decodedBits == 0 ||
        h.decodedBits > 16)
        return MpmHeaderError::kBadFields;
    if (h.frameSize < kMpmFrameHeaderSize || !SectionInFile(h.frameOffset, h.frameSize, fileSize) ||
        !SectionInFile(h.sourceOffset, 2ull * h.sourceCount, fileSize) ||
        !SectionInFile(h.decodedOffset, 2ull * h.decodedCount, fileSize) || h.mcmdSize < kMpmMcmdHeaderSize ||
        !SectionInFile(h.mcmdOffset, h.mcmdSize, fileSize) ||
        !SectionInFile(h.wsilOffset, kMpmWsilHeaderSize, fileSize))
        return MpmHeaderError::kOutsideFile;
    out = h;
    return MpmHeaderError::kNone;
}

MpmHeaderError CheckMpmBlocks(const S_MpmHeader& h, uint64_t fileSize, const uint8_t* mcmd14, const uint8_t* wsil16,
                              uint32_t* mcmdCount, uint32_t* wsilCount) {
    ByteReader m(mcmd14, kMpmMcmdHeaderSize);
    char magic[4];
    uint16_t headerSize = 0;
    uint32_t first = 0, count = 0;
    m.FourCC(magic);
    m.U16(headerSize);
    m.U32(first);
    m.U32(count);
    if (std::memcmp(magic, "MCMD", 4) != 0 || headerSize != kMpmMcmdHeaderSize) return MpmHeaderError::kBadBlock;
    // The entries sit right after the block header and inside the block.
    if (first != static_cast<uint64_t>(h.mcmdOffset) + kMpmMcmdHeaderSize ||
        count > (h.mcmdSize - kMpmMcmdHeaderSize) / kMpmMcmdEntrySize)
        return MpmHeaderError::kBadBlock;
    if (mcmdCount) *mcmdCount = count;

    ByteReader w(wsil16, kMpmWsilHeaderSize);
    uint16_t entrySize = 0;
    w.FourCC(magic);
    w.U16(headerSize);
    w.U16(entrySize);
    w.U32(first);
    w.U32(count);
    if (std::memcmp(magic, "WSIL", 4) != 0 || headerSize != kMpmWsilHeaderSize || entrySize != kMpmWsilEntrySize)
        return MpmHeaderError::kBadBlock;
    if (first < static_cast<uint64_t>(h.wsilOffset) + kMpmWsilHeaderSize ||
        !SectionInFile(first, static_cast<uint64_t>(count) * kMpmWsilEntrySize, fileSize))
        return MpmHeaderError::kBadBlock;
    if (wsilCount) *wsilCount = count;
    return MpmHeaderError::kNone;
}

std::vector<S_MpmSegment> BuildMpmSegmentTable(uint32_t total, const std::vector<S_MpmSilence>& silences,
                                               const std::vector<S_MpmEventEntry>& events, uint8_t voiceType) {
    std::vector<S_MpmSegment> table;
    if (total == 0) return table;
    uint32_t cursor = 0;
    for (const S_MpmSilence& s : silences) {
        if (s.first >= total || s.last < s.first) continue;
        uint32_t start = s.first;
        uint32_t end = std::min(s.last, total - 1);
        // An event on the last sample of a silence starts the voice after it.
        const bool eventAtEnd =
            std::any_of(events.begin(), events.end(), [&](const S_MpmEventEntry& e) { return e.sample == end; });
        if (eventAtEnd) {
            if (end == start) continue;
            --end;
        }
        if (start < cursor) start = cursor;
        if (start > end) continue;
        if (start > cursor + 1) {
            table.push_back({voiceType, cursor, start - cursor});
        } else if (start == cursor + 1) {
            // A lone sample between the cursor and the silence would belong to
            // no segment: the silence takes it.
            start = cursor;
        }
        table.push_back({kMpmSegmentSilence, start, end - start + 1});
        cursor = end + 1;
    }
    if (cursor < total) table.push_back({voiceType, cursor, total - cursor});
    return table;
}

}  // namespace cz
