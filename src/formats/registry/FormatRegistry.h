// The registry of audio formats: ids, extensions and four-character codes.
#pragma once

#include <cstdint>
#include <span>

#include "formats/registry/FormatId.h"

namespace cz {

struct S_FormatRecord {
    FormatId id;
    char extension[8];    // with its dot, upper case, NUL-padded
    uint8_t classFlags;   // FormatClassFlag
    uint8_t familyFlags;  // FormatFamilyFlag
};

struct S_FormatCode {
    FormatId id;
    char code[5];
};

std::span<const S_FormatRecord> FormatRecords();
std::span<const S_FormatCode> FormatCodes();

// The id of the first record whose extension (with its dot) matches, without
// regard to case; 0 when none does.
FormatId GetFormatIdFromExtension(const char* extension);
// The first extension registered for an id (".WAV" for 2), or none.
const char* GetExtensionOfFormat(uint32_t id);

}  // namespace cz
