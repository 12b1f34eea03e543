// The registry of audio formats: ids, extensions and four-character codes.
#pragma once

#include <cstdint>
#include <span>

namespace cz {

struct S_FormatRecord {
    uint32_t id;
    char extension[8];  // with its dot, upper case, NUL-padded
    uint8_t classFlags;
    uint8_t familyFlags;
};

struct S_FormatCode {
    uint32_t id;
    char code[5];
};

std::span<const S_FormatRecord> FormatRecords();
std::span<const S_FormatCode> FormatCodes();

// The id of the first record whose extension (with its dot) matches, without
// regard to case; 0 when none does.
uint32_t GetFormatIdFromExtension(const char* extension);
// The first extension registered for an id (".WAV" for 2), or none.
const char* GetExtensionOfFormat(uint32_t id);

}  // namespace cz
