#include "formats/apm/PamLayout.h"

#include <cstring>

#include "foundation/ByteReader.h"

namespace cz {

std::vector<uint8_t> BuildPamPeriodTable(const std::vector<S_PamPeriod>& periods) {
    std::vector<uint8_t> out(kPamPeriodHeaderSize + size_t{kPamPeriodEntrySize} * periods.size(), 0);
    std::memcpy(out.data(), "WPER", 4);
    StoreU16(&out[4], kPamPeriodHeaderSize);
    StoreU16(&out[6], kPamPeriodEntrySize);
    StoreU32(&out[8], static_cast<uint32_t>(periods.size()));
    out[12] = kPamVariantCount;
    std::memcpy(&out[13], kPamVariantTenths, kPamVariantCount);
    uint8_t* p = out.data() + kPamPeriodHeaderSize;
    for (const S_PamPeriod& period : periods) {
        StoreU32(p, period.first);
        StoreU16(p + 4, period.length);
        std::memcpy(p + 6, period.counts, kPamVariantCount);
        p += kPamPeriodEntrySize;
    }
    return out;
}

namespace {
bool Refuse(std::string* why, const char* text) {
    if (why) *why = text;
    return false;
}
}  // namespace

bool ParsePamFrames(const uint8_t* data, size_t size, uint32_t sourceCount, std::vector<S_PamPeriod>& periods,
                    std::vector<S_PamRecord>& records, std::string* why) {
    periods.clear();
    records.clear();
    ByteReader r(data, size);
    char code[4];
    uint16_t headerSize = 0, entrySize = 0;
    uint32_t count = 0;
    uint8_t variants = 0;
    if (!r.Bytes(code, 4) || !r.U16(headerSize) || !r.U16(entrySize) || !r.U32(count) || !r.U8(variants))
        return Refuse(why, "the period table is cut short");
    if (std::memcmp(code, "WPER", 4) != 0) return Refuse(why, "the frame section does not start with its period table");
    if (headerSize != kPamPeriodHeaderSize || entrySize != kPamPeriodEntrySize || variants != kPamVariantCount)
        return Refuse(why, "the period table's sizes are not those of this format");
    if (!r.Seek(kPamPeriodHeaderSize) || count > r.Remaining() / kPamPeriodEntrySize)
        return Refuse(why, "the period table runs past the frame section");
    periods.reserve(count);
    uint64_t next = 0;
    for (uint32_t i = 0; i < count; ++i) {
        S_PamPeriod p;
        r.U32(p.first);
        r.U16(p.length);
        r.Bytes(p.counts, kPamVariantCount);
        if (p.length == 0 || p.first < next || uint64_t{p.first} + p.length > sourceCount)
            return Refuse(why, "a period lies outside the samples or before the one it follows");
        next = uint64_t{p.first} + p.length;
        periods.push_back(p);
    }
    uint64_t covered = 0;
    for (;;) {
        S_PamRecord rec;
        if (!r.U8(rec.type)) return Refuse(why, "the records end without their end record");
        if (rec.type == kPamRecordEnd) break;
        if (rec.type != kPamRecordVoice && rec.type != kPamRecordSilence)
            return Refuse(why, "a record of an unknown type");
        if (!r.U32(rec.first) || !r.U32(rec.count)) return Refuse(why, "a record is cut short");
        if (rec.first != covered || rec.count == 0 || uint64_t{rec.first} + rec.count > sourceCount)
            return Refuse(why, "the records do not cover the samples in order");
        if (rec.type == kPamRecordVoice) {
            if (!r.U32(rec.codeCount)) return Refuse(why, "a record is cut short");
            const uint64_t bytes = (uint64_t{rec.codeCount} + 1) / 2;
            if (rec.codeCount < rec.count || bytes > r.Remaining())
                return Refuse(why, "a voice record's codes run past the frame section");
            rec.codeOffset = r.Position();
            r.Skip(static_cast<size_t>(bytes));
        }
        covered += rec.count;
        records.push_back(rec);
    }
    if (covered != sourceCount) return Refuse(why, "the records do not cover every sample");
    if (!r.AtEnd()) return Refuse(why, "bytes follow the end record");
    return true;
}

}  // namespace cz
