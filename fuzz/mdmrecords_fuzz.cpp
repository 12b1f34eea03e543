// The record readers of the MDM variants (6-bit and compact) on arbitrary
// bytes. Byte 0 bit 0 picks the compact records; the rest is the section.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "formats/mdm/MdmVariantRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const cz::MdmVariant variant = (data[0] & 1) ? cz::MdmVariant::kCompact : cz::MdmVariant::kSixBit;
    const cz::MdmRecordsDecoded d = cz::DecodeMdmVariantRecords(variant, std::span(data + 1, size - 1));
    for (uint16_t v : d.samples)
        if (v > 4095) std::abort();
    for (const auto& m : d.markers)
        if (m.position > d.samples.size()) std::abort();
    return 0;
}
