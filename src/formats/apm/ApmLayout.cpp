#include "formats/apm/ApmLayout.h"

#include "foundation/ByteReader.h"

namespace cz {

namespace {

void PutSection(ByteWriter& w, const S_ApmSection& s) {
    w.U16(s.bits);
    w.U32(s.offset);
    w.U32(s.count);
}

S_ApmSection TakeSection(ByteReader& r) {
    S_ApmSection s;
    r.U16(s.bits);
    r.U32(s.offset);
    r.U32(s.count);
    return s;
}

// The header of a table block after its 4 leading bytes.
void TakeTableFields(ByteReader& r, S_ApmTableHeader& h) {
    r.U16(h.headerSize);
    r.U16(h.entrySize);
    r.U32(h.firstEntry);
    r.U32(h.count);
}

}  // namespace

S_ApmSectionPlaces PlaceApmSections(uint64_t codeBytes, uint64_t n, uint64_t m) {
    S_ApmSectionPlaces at;
    at.codes = kApmHeaderSize;
    at.decoded = at.codes + codeBytes;
    at.trace = at.decoded + 2 * n;
    at.source = at.trace + n;
    at.metadata = at.source + 2 * m;
    return at;
}

S_ApmMetadataPlaces PlaceApmMetadata(uint64_t p, uint64_t silenceCount, uint64_t eventCount) {
    S_ApmMetadataPlaces at;
    at.wcmd = p;
    at.silenceBlock = p + kApmWcmdHeaderSize;
    at.silenceEntries = at.silenceBlock + kApmSilenceHeaderSize;
    at.eventBlock = at.silenceEntries + kApmEntrySize * silenceCount;
    at.eventEntries = at.eventBlock + kApmEventHeaderSize;
    at.end = at.eventEntries + kApmEntrySize * eventCount;
    return at;
}

S_ApmHeader ParseApmHeader(const uint8_t* bytes) {
    ByteReader r(bytes, kApmHeaderSize);
    S_ApmHeader h;
    r.FourCC(h.code);
    r.U16(h.version);
    r.U16(h.headerSize);
    r.U16(h.channels);
    r.U8(h.codeWidth);
    r.U8(h.reserved);
    r.U16(h.rate);
    r.U16(h.cutOff);
    r.U32(h.fileSize);
    r.U16(h.coderId);
    r.U16(h.initialValue);
    h.codes = TakeSection(r);
    h.decoded = TakeSection(r);
    h.trace = TakeSection(r);
    h.source = TakeSection(r);
    r.U16(h.metadataFlag);
    r.U32(h.metadataOffset);
    r.U16(h.silenceLevel);
    r.U16(h.silenceMs);
    r.U16(h.tail);
    return h;
}

void BuildApmHeader(ByteWriter& w, const S_ApmHeader& h) {
    w.Bytes(h.code, 4);
    w.U16(h.version);
    w.U16(h.headerSize);
    w.U16(h.channels);
    w.U8(h.codeWidth);
    w.U8(h.reserved);
    w.U16(h.rate);
    w.U16(h.cutOff);
    w.U32(h.fileSize);
    w.U16(h.coderId);
    w.U16(h.initialValue);
    PutSection(w, h.codes);
    PutSection(w, h.decoded);
    PutSection(w, h.trace);
    PutSection(w, h.source);
    w.U16(h.metadataFlag);
    w.U32(h.metadataOffset);
    w.U16(h.silenceLevel);
    w.U16(h.silenceMs);
    w.U16(h.tail);
}

S_ApmWcmd ParseApmWcmd(const uint8_t* bytes) {
    ByteReader r(bytes, kApmWcmdHeaderSize);
    S_ApmWcmd h;
    r.FourCC(h.code);
    r.U16(h.version);
    r.U16(h.headerSize);
    r.U32(h.value);
    r.U32(h.silenceOffset);
    r.U16(h.silenceTag);
    r.U32(h.eventOffset);
    r.U16(h.eventTag);
    return h;
}

void BuildApmWcmd(ByteWriter& w, uint64_t p, uint64_t silenceCount) {
    const S_ApmMetadataPlaces at = PlaceApmMetadata(p, silenceCount, 0);
    w.FourCC("WCMD");
    w.U16(kApmWcmdVersion);
    w.U16(kApmWcmdHeaderSize);
    w.U32(kApmWcmdValue);
    w.U32(static_cast<uint32_t>(at.silenceBlock));
    w.U16(1);
    w.U32(static_cast<uint32_t>(at.eventBlock));
    w.U16(1);
}

S_ApmTableHeader ParseApmSilenceHeader(const uint8_t* bytes) {
    ByteReader r(bytes, kApmSilenceHeaderSize);
    S_ApmTableHeader h;
    r.FourCC(h.code);
    TakeTableFields(r, h);
    return h;
}

S_ApmSilence ParseApmSilenceEntry(const uint8_t* bytes) { return {LoadU32(bytes), LoadU32(bytes + 4)}; }

void BuildApmSilenceBlock(ByteWriter& w, uint64_t blockOffset, std::span<const S_ApmSilence> entries) {
    w.FourCC("WSIL");
    w.U16(kApmSilenceHeaderSize);
    w.U16(kApmEntrySize);
    w.U32(static_cast<uint32_t>(blockOffset + kApmSilenceHeaderSize));
    w.U32(static_cast<uint32_t>(entries.size()));
    for (const S_ApmSilence& s : entries) {
        w.U32(s.first);
        w.U32(s.last);
    }
}

S_ApmTableHeader ParseApmEventHeader(const uint8_t* bytes) {
    ByteReader r(bytes, kApmEventHeaderSize);
    S_ApmTableHeader h;
    r.Seek(16);
    TakeTableFields(r, h);
    return h;
}

S_ApmEvent ParseApmEventEntry(const uint8_t* bytes) { return {LoadU32(bytes), LoadU16(bytes + 4), LoadU16(bytes + 6)}; }

void BuildApmEventBlock(ByteWriter& w, uint64_t blockOffset, std::span<const S_ApmEvent> entries) {
    w.Zeros(16);
    w.U16(kApmEventHeaderSize);
    w.U16(kApmEntrySize);
    w.U32(static_cast<uint32_t>(blockOffset + kApmEventHeaderSize));
    w.U32(static_cast<uint32_t>(entries.size()));
    for (const S_ApmEvent& e : entries) {
        w.U32(e.sample);
        w.U16(e.type);
        w.U16(e.param);
    }
}

}  // namespace cz
