// The frame section of the PAM speech file ("WPAM"): the ADPCM MPM
// relative (C_AdpcmMpmFile, records in AdpcmMpmLayout.h) whose records are
// preceded by the table of the sound's pitch periods. Everything
// little-endian and packed; docs/pam-format.md draws the whole file.
//
// Frame section, after "MFRM":
//   period table    "WPER" block: header (24 bytes), then P entries
//   records         those of "WSAM" (silence, event, voice, end), coded by
//                   C_ADPCMEncDec(12, 63)
//
// "WPER" header:
//   0 "WPER"   4 u16 24 (header size)   6 u16 16 (entry size)
//   8 u32 period count P
//  12 u8 variant count (10)
//  13 10 x u8 the variants' length factors in tenths (5 6 7 8 9 12 14 16 18 20)
//  23 u8 0
// Period entry (16 bytes): u32 first source sample, u16 length (the last
// sample is first + length - 1), then one u8 emit count per variant: how
// many times a regeneration by that variant's factor emits the period (0:
// dropped when shrinking; when stretching, emitted once while less than a
// period behind). Periods are in sample order and do not overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cz {

inline constexpr uint32_t kPamPeriodHeaderSize = 24;
inline constexpr uint32_t kPamPeriodEntrySize = 16;
inline constexpr uint32_t kPamVariantCount = 10;
inline constexpr uint8_t kPamVariantTenths[kPamVariantCount] = {5, 6, 7, 8, 9, 12, 14, 16, 18, 20};

struct S_PamPeriod {
    uint32_t first = 0;
    uint16_t length = 0;
    uint8_t counts[kPamVariantCount] = {};
};

// The "WPER" block of the periods.
std::vector<uint8_t> BuildPamPeriodTable(const std::vector<S_PamPeriod>& periods);

// Parses the "WPER" block at the start of the frame section's bytes,
// checked against them and against sourceCount: periods in order, inside
// the source and not overlapping. *tableSize receives the block's size
// (where the records start). false with *why set otherwise.
bool ParsePamPeriodTable(std::span<const uint8_t> section, uint32_t sourceCount, std::vector<S_PamPeriod>& periods,
                         size_t* tableSize, std::string* why);

}  // namespace cz
