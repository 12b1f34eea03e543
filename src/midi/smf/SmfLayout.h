// Standard MIDI File bytes (big-endian throughout).
//
//   header chunk, 14 bytes:
//     0  "MThd"
//     4  u32 header length (written as 6, not read: tracks start at byte 14)
//     8  u16 format (0 single track, 1 parallel tracks, 2 sequential tracks)
//    10  u16 track count
//    12  u16 division (ticks per quarter note, or the SMPTE word as stored)
//   then per track: "MTrk", u32 body length, body
//
//   track body: events, each a delta-time VLQ then the message. A channel
//   message may leave out its status byte when it repeats the previous
//   channel status (running status).
//
// A variable-length quantity (VLQ) holds 7 bits a byte, most significant
// group first, bit 7 set on every byte but the last. The writer emits the low
// 28 bits of a value in 1 to 4 bytes; the reader accepts any number of bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cz::smf {

constexpr size_t kHeaderSize = 14;
constexpr size_t kChunkHeaderSize = 8;
constexpr uint32_t kHeaderLength = 6;
constexpr uint32_t kDeltaMask = 0x0FFFFFFF;
constexpr uint16_t kMaxFormat = 2;
constexpr uint32_t kDefaultTempo = 500000;
constexpr uint16_t kDefaultDivision = 120;

constexpr uint8_t kStatusSysEx = 0xF0;
constexpr uint8_t kStatusSysExEnd = 0xF7;
constexpr uint8_t kStatusMeta = 0xFF;
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaSetTempo = 0x51;
constexpr uint8_t kCommandNoteOn = 0x90;

inline uint16_t LoadU16BE(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t LoadU32BE(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline void StoreU16BE(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void StoreU32BE(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// Reads a VLQ from data[pos] on, never at or past data[size]. Returns the
// number of bytes it took, 0 when the quantity runs to the end. Bits shifted
// out of 32 are lost.
size_t ReadVlq(const uint8_t* data, size_t size, size_t pos, uint32_t& value);
// Bytes the writer uses for the low 28 bits of value (1 to 4).
size_t VlqLength(uint32_t value);
// Writes the low 28 bits of value; returns the byte count (1 to 4).
size_t WriteVlq(uint8_t* out, uint32_t value);

// Length of the message with this status, status byte included, when the
// bytes after the status are after[0 .. available). 0 when the status is a
// data byte or the message would reach past the available bytes (a system
// exclusive message without its F7, a meta event whose length runs past the
// end).
uint32_t MessageLength(uint8_t status, const uint8_t* after, size_t available);

// The running-status rule shared by the reader and the writer. Returns true
// when a message with this status leaves its status byte out after the
// messages before it, and updates the running status: system real-time and
// meta statuses (above F7) leave it, system common and exclusive (F0-F7)
// clear it, a channel status becomes it.
bool ApplyRunningStatus(uint8_t status, uint8_t& running);

struct SmfHeader {
    uint16_t format = 0;
    uint16_t trackCount = 0;
    uint16_t division = kDefaultDivision;
};
// False unless the 14 bytes start with "MThd". The length field is not read.
bool ParseSmfHeader(const uint8_t* bytes, size_t size, SmfHeader& out);
void BuildSmfHeader(const SmfHeader& header, uint8_t out[kHeaderSize]);

}  // namespace cz::smf
