// The bytes of the APM speech file ("WAPM", "WNAP", "WAP6"): the 76-byte
// header, the sections it describes and the metadata that closes the file.
// Everything little-endian and packed.
//
// File order (K code bytes, N codes, M source samples, S silence entries,
// E event entries):
//   0                  header (76 bytes)
//   76                 codes: K bytes (two 4-bit codes a byte, high nibble
//                      first; one 6-bit code a byte for "WAP6")
//   76 + K             decoded samples: N u16 words (offset-binary 0..4095)
//   76 + K + 2N        step-index trace: N bytes, the index after each code
//   76 + K + 3N        source samples: M u16 words (the samples coded)
//   P = 76 + K + 3N + 2M
//                      end of file, or with the metadata flag set:
//   P                  "WCMD" header (24 bytes)
//   P + 24             "WSIL" silence block header (16 bytes)
//   P + 40             S silence entries of 8 bytes
//   P + 40 + 8S        event block header (28 bytes)
//   P + 68 + 8S        E event entries of 8 bytes
//   P + 68 + 8S + 8E   end of file
//
// Header:
//   0 code           4 u16 0x110      6 u16 76         8 u16 channels (1)
//  10 u8 code width 11 u8 0          12 u16 rate      14 u16 cut-off
//  16 u32 total file size            20 u16 coder id (0 classic, 1 "new")
//  22 u16 initial decoder value (0 with a lead-in, else 0x800)
//  24, 34, 44, 54: section descriptors {u16 bits, u32 offset, u32 count} for
//      codes (code width, 76, N), decoded (12, ., N), trace (6, ., N),
//      source (12, ., M)
//  64 u16 metadata flag              66 u32 metadata offset P
//  70 u16 silence level              72 u16 silence length (ms)
//  74 u16 3
//
// "WCMD" header:
//   0 "WCMD"   4 u16 0x100   6 u16 24   8 u32 0x816
//  12 u32 silence block offset (P + 24)   16 u16 1
//  18 u32 event block offset (P + 40 + 8S)   22 u16 1
// "WSIL" silence block header, then S entries {u32 first, u32 last sample}
// (inclusive):
//   0 "WSIL"   4 u16 16   6 u16 8 (entry size)   8 u32 first entry   12 u32 S
// Event block header, then E entries {u32 sample, u16 type, u16 parameter}:
//   0 16 zero bytes   16 u16 28   18 u16 8 (entry size)   20 u32 first entry
//  24 u32 E
#pragma once

#include <cstdint>
#include <span>

#include "foundation/ByteWriter.h"

namespace cz {

inline constexpr uint32_t kApmHeaderSize = 76;
inline constexpr uint16_t kApmVersion = 0x110;
inline constexpr uint16_t kApmDecodedBits = 12;
inline constexpr uint16_t kApmTraceBits = 6;
inline constexpr uint16_t kApmSourceBits = 12;
// Header offset 74: a constant the chip tools expect.
inline constexpr uint16_t kApmTailValue = 3;

inline constexpr uint32_t kApmWcmdHeaderSize = 24;
inline constexpr uint16_t kApmWcmdVersion = 0x100;
// "WCMD" offset 8: a constant the chip tools expect.
inline constexpr uint32_t kApmWcmdValue = 0x816;
inline constexpr uint32_t kApmSilenceHeaderSize = 16;
inline constexpr uint32_t kApmEventHeaderSize = 28;
inline constexpr uint32_t kApmEntrySize = 8;
// Fixed bytes of the metadata: the three headers.
inline constexpr uint32_t kApmMetadataFixed = kApmWcmdHeaderSize + kApmSilenceHeaderSize + kApmEventHeaderSize;

// One section descriptor of the header.
struct S_ApmSection {
    uint16_t bits = 0;
    uint32_t offset = 0;
    uint32_t count = 0;
};

// The header fields as read or written.
struct S_ApmHeader {
    char code[4] = {};
    uint16_t version = 0;
    uint16_t headerSize = 0;
    uint16_t channels = 0;
    uint8_t codeWidth = 0;
    uint8_t reserved = 0;
    uint16_t rate = 0;
    uint16_t cutOff = 0;
    uint32_t fileSize = 0;
    // Offset 20: tells the search coder's files (1) from the classic ones
    // (0); the class that opens and decodes a file is chosen by it.
    uint16_t coderId = 0;
    uint16_t initialValue = 0;
    S_ApmSection codes, decoded, trace, source;
    uint16_t metadataFlag = 0;
    uint32_t metadataOffset = 0;
    uint16_t silenceLevel = 0;
    uint16_t silenceMs = 0;
    uint16_t tail = 0;
};

// Where the sections of a file with codeBytes code bytes, n codes and m
// source samples lie. In 64 bits, so that sizes read from a file cannot wrap.
struct S_ApmSectionPlaces {
    uint64_t codes = 0;
    uint64_t decoded = 0;
    uint64_t trace = 0;
    uint64_t source = 0;
    uint64_t metadata = 0;  // P: the end of the source samples
};
S_ApmSectionPlaces PlaceApmSections(uint64_t codeBytes, uint64_t n, uint64_t m);

// Where the metadata blocks at p lie with silenceCount silence entries and
// eventCount event entries.
struct S_ApmMetadataPlaces {
    uint64_t wcmd = 0;
    uint64_t silenceBlock = 0;
    uint64_t silenceEntries = 0;
    uint64_t eventBlock = 0;
    uint64_t eventEntries = 0;
    uint64_t end = 0;
};
S_ApmMetadataPlaces PlaceApmMetadata(uint64_t p, uint64_t silenceCount, uint64_t eventCount);

// Header: parses 76 bytes (no checks) / appends 76 bytes.
S_ApmHeader ParseApmHeader(const uint8_t* bytes);
void BuildApmHeader(ByteWriter& w, const S_ApmHeader& header);

// "WCMD" header.
struct S_ApmWcmd {
    char code[4] = {};
    uint16_t version = 0;
    uint16_t headerSize = 0;
    uint32_t value = 0;
    uint32_t silenceOffset = 0;
    uint16_t silenceTag = 0;  // 1 in every file
    uint32_t eventOffset = 0;
    uint16_t eventTag = 0;  // 1 in every file
};
// Parses 24 bytes (no checks) / appends the header of the metadata at p
// with silenceCount silence entries.
S_ApmWcmd ParseApmWcmd(const uint8_t* bytes);
void BuildApmWcmd(ByteWriter& w, uint64_t p, uint64_t silenceCount);

// The header of a silence or event block.
struct S_ApmTableHeader {
    char code[4] = {};  // "WSIL"; the event block has no code
    uint16_t headerSize = 0;
    uint16_t entrySize = 0;
    uint32_t firstEntry = 0;
    uint32_t count = 0;
};

// One silence entry: first and last sample, inclusive.
struct S_ApmSilence {
    uint32_t first = 0;
    uint32_t last = 0;
};

// One event entry.
struct S_ApmEvent {
    uint32_t sample = 0;
    uint16_t type = 0;
    uint16_t param = 0;
};

// Silence block: parses its 16-byte header (no checks) and one 8-byte entry /
// appends the block placed at blockOffset, header and entries.
S_ApmTableHeader ParseApmSilenceHeader(const uint8_t* bytes);
S_ApmSilence ParseApmSilenceEntry(const uint8_t* bytes);
void BuildApmSilenceBlock(ByteWriter& w, uint64_t blockOffset, std::span<const S_ApmSilence> entries);

// Event block: parses its 28-byte header (no checks) and one 8-byte entry /
// appends the block placed at blockOffset, header and entries.
S_ApmTableHeader ParseApmEventHeader(const uint8_t* bytes);
S_ApmEvent ParseApmEventEntry(const uint8_t* bytes);
void BuildApmEventBlock(ByteWriter& w, uint64_t blockOffset, std::span<const S_ApmEvent> entries);

}  // namespace cz
