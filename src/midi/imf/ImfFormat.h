// IMF, the chip's compact melody format (the layout is documented in
// siblings/Halvern/IMF.md): a 16-byte header and one tick-ordered stream of
// records, where a note is a single record with its duration.
//
//   0   "IMF1"
//   4   u16 division (ticks per quarter note, 1..0x7FFF)
//   6   u16 channel mask (bit n: MIDI channel n + 1 has an event)
//   8   u8  voice limit the file was made for (0: none)
//   9   u8  flags (bit 0: text or lyric records, bit 1: notes dropped)
//   10  u16 reserved, 0
//   12  u32 stream length (the file length - 16)
//   16  records: VLQ delta, kind byte, body
//
// Built from a Standard MIDI File here, read back by the format helper and
// the tool, and turned back into a Standard MIDI File with the same notes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cz {
class C_MidiData;
}

namespace cz::imf {

inline constexpr uint32_t kHeaderSize = 16;
inline constexpr uint32_t kMaxTicks = 0x0FFFFFFF;  // the largest VLQ
inline constexpr uint32_t kDefaultTempo = 500000;

enum ImfFlags : uint8_t {
    kFlagText = 0x01,
    kFlagNotesDropped = 0x02,
};

enum ImfKind : uint8_t {
    kKindNote = 0x90,     // low nibble: channel; key, velocity, VLQ duration
    kKindControl = 0xB0,  // low nibble: channel; controller, value
    kKindProgram = 0xC0,  // low nibble: channel; program
    kKindBend = 0xE0,     // low nibble: channel; u16 bend
    kKindTempo = 0xF1,    // 3 bytes, big-endian microseconds per quarter note
    kKindText = 0xF2,     // text type, VLQ length, bytes
    kKindEnd = 0xFF,      // end of song, always the last record
};

enum ImfTextType : uint8_t {
    kTextPlain = 1,
    kTextLyric = 5,
    kTextMarker = 6,
};

struct ImfRecord {
    uint32_t tick = 0;
    uint8_t kind = 0;     // an ImfKind with the channel nibble cleared
    uint8_t channel = 0;  // for notes, controllers, programs and bends
    uint8_t data1 = 0;    // key, controller, program or text type
    uint8_t data2 = 0;    // velocity or controller value
    uint32_t value = 0;   // duration, bend or tempo
    std::vector<uint8_t> text;
};

struct ImfSong {
    uint16_t division = 0;
    uint16_t channelMask = 0;
    uint8_t voiceLimit = 0;
    uint8_t flags = 0;
    std::vector<ImfRecord> records;  // the end record last
    uint32_t length = 0;             // the end record's tick
};

// The controllers a chip keeps (bank select, modulation, data entry, volume,
// pan, expression, sustain, RPN select, sound off / reset / all notes off).
bool IsKeptController(uint8_t controller);

struct ImfBuildResult {
    std::vector<uint8_t> imf;
    // The song's lyric events in the lyric file layout (empty without any).
    std::vector<uint8_t> lyrics;
    uint32_t notes = 0;    // notes written
    uint32_t dropped = 0;  // notes dropped for the voice limit
};

// Builds the IMF of a loaded song. A voice limit of 0 keeps every note;
// otherwise a note that starts while that many notes sound is dropped.
// False with a reason for SMPTE time, a song longer than kMaxTicks ticks or
// a song without any track.
bool BuildImf(C_MidiData& song, uint8_t voiceLimit, ImfBuildResult& result, std::string& error);

// Reads an IMF image; nothing past its bytes is read. False with a reason on
// any departure from the layout.
bool ParseImf(std::span<const uint8_t> image, ImfSong& song, std::string& error);

// The length of the IMF image at the start of bytes (header plus stream), or
// none when the header is not an IMF header or the stream runs past the end.
std::optional<size_t> ImfImageLength(std::span<const uint8_t> bytes);

// A format 0 Standard MIDI File with the song's notes, controllers, programs,
// bends, tempi and texts at their ticks; every note ends with a note-off of
// velocity 0x40, placed before what starts on the same tick.
std::vector<uint8_t> ImfToSmf(const ImfSong& song);

// Lyric file: for each lyric event in time order, VLQ delta ticks (from the
// previous lyric, the first from 0), VLQ length, the bytes.
bool ParseLyrics(std::span<const uint8_t> lyrics, std::vector<ImfRecord>& out, std::string& error);

// What is inside one of our melody resources: a plain IMF, a "WKLB" IMF with
// lyric block, or a "WIBN" melody-with-speech bundle. Gives the IMF image and,
// for "WKLB", the lyric data; false with a reason when neither is found.
bool MelodyResourceParts(std::span<const uint8_t> resource, std::span<const uint8_t>& imf,
                         std::span<const uint8_t>& lyrics, std::string& error);

}  // namespace cz::imf
