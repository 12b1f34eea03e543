// The fixed parts of the MPM container: the 62-byte main header, the
// "MFRM" frame section header, the "MCMD" event block, the "WSIL" silence
// block and the segment table that the frame writers walk.
//
// File order: main header, frame section (14-byte header, then the records
// of the derived format), decoded PCM (16-bit words), source PCM (16-bit
// words), "MCMD" block, "WSIL" block. Everything little-endian and packed.
//
// Main header:
//   0 code         4 u16 0x110      6 u16 62        8 u16 channels
//  10 u8 5        11 u8 0          12 u16 rate     14 u16 cut-off
//  16 u32 "WSIL" offset            20 u32 "MCMD" offset
//  24 u32 "MCMD" size (14 + 6 x entries)
//  28 u32 frame section offset (62)                32 u32 frame section size
//  36 u16 source bits (12)  38 u32 source offset   42 u32 source count
//  46 u16 decoded bits (12) 48 u32 decoded offset  52 u32 decoded count
//  56 u16 silence level     58 u16 minimum silence (samples)
//  60 u16 5 for coding mode 1, else 4
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cz {

inline constexpr uint32_t kMpmHeaderSize = 62;
inline constexpr uint32_t kMpmFrameHeaderSize = 14;
inline constexpr uint32_t kMpmMcmdHeaderSize = 14;
inline constexpr uint32_t kMpmMcmdEntrySize = 6;
inline constexpr uint32_t kMpmWsilHeaderSize = 16;
inline constexpr uint32_t kMpmWsilEntrySize = 8;
inline constexpr uint16_t kMpmVersion = 0x110;

// Segment types of the table.
enum : uint8_t {
    kMpmSegmentVoice = 1,
    kMpmSegmentVoiceRaw = 2,  // voice under coding mode 1
    kMpmSegmentSilence = 3,
};

// One row of the segment table (9 bytes in its stored form).
struct S_MpmSegment {
    uint8_t type = 0;
    uint32_t first = 0;
    uint32_t length = 0;
};

// One "MCMD" entry: an action event with its type and parameter cut to a byte.
struct S_MpmEventEntry {
    uint32_t sample = 0;
    uint8_t type = 0;
    uint8_t param = 0;
};

// A silence segment of the sound: first and last sample, inclusive.
struct S_MpmSilence {
    uint32_t first = 0;
    uint32_t last = 0;
};

struct S_MpmHeader {
    char code[4] = {};
    uint16_t version = kMpmVersion;
    uint16_t headerSize = kMpmHeaderSize;
    uint16_t channels = 1;
    uint8_t byte10 = 5;
    uint8_t byte11 = 0;
    uint16_t rate = 0;
    uint16_t cutOff = 0;
    uint32_t wsilOffset = 0;
    uint32_t mcmdOffset = 0;
    uint32_t mcmdSize = 0;
    uint32_t frameOffset = kMpmHeaderSize;
    uint32_t frameSize = kMpmFrameHeaderSize;
    uint16_t sourceBits = 12;
    uint32_t sourceOffset = 0;
    uint32_t sourceCount = 0;
    uint16_t decodedBits = 12;
    uint32_t decodedOffset = 0;
    uint32_t decodedCount = 0;
    uint16_t silenceLevel = 0;
    uint16_t minimumSilence = 0;
    uint16_t codingField = 4;
};

// The 16-bit command word of an event as the frame records carry it.
inline uint16_t MpmCommandWord(uint8_t type, uint8_t param) {
    return static_cast<uint16_t>(((static_cast<uint32_t>(type) << 6 | (param & 63u)) << 2) | (param >> 6));
}

std::vector<uint8_t> SerializeMpmHeader(const S_MpmHeader& header);
// "MFRM", 14, offset of the first frame, length of the frame data.
std::vector<uint8_t> SerializeMpmFrameHeader(uint32_t frameSectionOffset, uint32_t frameSectionSize);
std::vector<uint8_t> BuildMcmdBlock(uint32_t blockOffset, const std::vector<S_MpmEventEntry>& events);
std::vector<uint8_t> BuildWsilBlock(uint32_t blockOffset, const std::vector<S_MpmSilence>& silences);

// Why a header was refused.
enum class MpmHeaderError {
    kNone,
    kTooShort,
    kWrongCode,
    kBadFields,
    kOutsideFile,
    kBadBlock,
};

// The segment table for total samples: voice (voiceType) and silence rows
// in order, covering [0, total). Silence segments that overlap what came
// before are trimmed, and one that ends at an event's sample is shortened by
// a sample so that the event starts the voice after it.
std::vector<S_MpmSegment> BuildMpmSegmentTable(uint32_t total, const std::vector<S_MpmSilence>& silences,
                                               const std::vector<S_MpmEventEntry>& events, uint8_t voiceType);

// Parses the 62 header bytes and checks every offset and count against the
// file size: each section must lie after the header and inside the file.
// The code must be code or altCode (when given).
MpmHeaderError CheckMpmHeader(const uint8_t* bytes, size_t size, uint64_t fileSize, const char* code,
                              const char* altCode, S_MpmHeader& out);
// Checks the "MCMD" header (14 bytes read at its offset) and the "WSIL"
// header (16 bytes) against the main header and the file size, and gives
// their entry counts. Entries are only read after this check, so no count
// from the file sizes anything beyond the file.
MpmHeaderError CheckMpmBlocks(const S_MpmHeader& header, uint64_t fileSize, const uint8_t* mcmd14,
                              const uint8_t* wsil16, uint32_t* mcmdCount, uint32_t* wsilCount);

}  // namespace cz
