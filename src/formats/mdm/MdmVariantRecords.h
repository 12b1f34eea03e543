// The frame sections of the MDM variants, read back: the records that the
// 6-bit ("WMD6") and the compact ("WSMM") writers produce, decoded to the
// samples they play. The "WEMM" files hold MDM records (their coder writes
// the MDM frame stream), read by the MDM rules.
//
// Records (code byte c; record type c AND 7; bit 0 of c: a command word
// follows, which plays as a marker):
//
//   "WMD6" frame (types 0, 1 long: 1 + 64 samples; 2, 3 short: 1 + 16)
//     byte 0   bit 7 = bit 3 of the start value, bits 6..3 scale index,
//              bits 2..0 type
//     byte 1   bits 11..4 of the start value (the first sample)
//     [2, 3]   command word (types 1, 3)
//     then     groups of 4 differences in 3 bytes: a 24-bit little-endian
//              value, difference k in bits 6k .. 6k + 5 (bit 5 of the field
//              the sign, bits 4..0 the magnitude); 16 groups (48 bytes) for
//              a long frame, 4 (12 bytes) for a short one. Each adds
//              +-magnitude x 4 (index + 1), clamped to 0..4095.
//     sizes    50, 52 (long), 14, 16 (short)
//
//   "WSMM" frame (types 0, 1 long: 64 samples; 2, 3 short: 16)
//     byte 0   bits 6..3 scale index, bits 2..0 type (bit 7 clear)
//     [1, 2]   command word (types 1, 3)
//     then     the MDM groups of 8 differences (sign byte, then 4 bytes of
//              magnitudes, low nibble first) for every sample: 8 groups for
//              a long frame, 2 for a short one; each adds +-magnitude x
//              8 (index + 1) to the running value, clamped to 0..4095.
//     sizes    41, 43 (long), 11, 13 (short)
//     The running value starts at 2048; silence sets it to 2048 (a silence
//     record of length 0, which only carries a command word, leaves it), a
//     raw record to its last sample.
//
//   both     silence 4: u16 length; 5: command word, u16 length (samples of
//            2048); raw 6: bits 11..4 of the first sample, count - 1, then
//            bits 11..4 of each further sample; 7: the same with the command
//            word after the first sample's byte; end: 255.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace cz {

enum class MdmVariant { kSixBit, kCompact };

struct MdmRecordMarker {
    uint32_t position = 0;   // samples played before the record
    uint8_t type = 0;        // the command word's low byte rotated right by 2
    uint8_t identifier = 0;  // its high byte
    bool operator==(const MdmRecordMarker&) const = default;
};

struct MdmRecordsDecoded {
    std::vector<uint16_t> samples;
    std::vector<MdmRecordMarker> markers;
    bool ended = false;      // stopped at the end record
    bool truncated = false;  // a record ran past the bytes (decoding stopped before it)
    bool tooLong = false;    // more than the sample cap
};

// The most samples a frame section may decode to.
constexpr uint64_t kMdmRecordsMaxSamples = uint64_t{1} << 26;

// Decodes records until the end record or the end of the bytes; a record
// that does not fit stops the decoding before any of it is played.
MdmRecordsDecoded DecodeMdmVariantRecords(MdmVariant variant, std::span<const uint8_t> records);

// Packs four 6-bit differences (-31..31) into three bytes.
void PackSixBitGroup(const int* differences, uint8_t out[3]);

}  // namespace cz
