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

bool ParsePamPeriodTable(std::span<const uint8_t> section, uint32_t sourceCount, std::vector<S_PamPeriod>& periods,
                         size_t* tableSize, std::string* why) {
    periods.clear();
    ByteReader r(section);
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
        if (p.length == 0 || p.first < next || uint64_t{p.first} + p.length > sourceCount) {
            periods.clear();
            return Refuse(why, "a period lies outside the samples or before the one it follows");
        }
        next = uint64_t{p.first} + p.length;
        periods.push_back(p);
    }
    if (tableSize) *tableSize = r.Position();
    return true;
}

}  // namespace cz
