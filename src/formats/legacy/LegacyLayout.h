// The bytes of the two older speech files: WAM ("WADM", 4-bit ADPCM codes
// behind a 22-byte header) and WMD ("WMDM", and "WMD5" for the Q310 chip:
// MDPCM frames packed in 16-bit words behind a 24-byte header). Everything
// little-endian and packed. docs/older-speech-files.md has the same with examples.
//
// WAM header:
//   0 "WADM"        4 u16 101        6 u16 22 (header size)
//   8 u16 channels (1)              10 u16 12 (sample bits)
//  12 u16 4 (code bits)             14 u16 sample rate
//  16 u16 cut-off                   18 u32 number of codes (twice the code bytes)
//  22 codes, two a byte, first code in the high nibble
// The file is exactly 22 + codes / 2 bytes long.
//
// WMD header (the fields marked * are this writer's choice; the reader does
// not look at them):
//   0 code           4 u16 2          6 u16 24 (header size)
//   8 u16 channels (1)*             10 u16 12 (sample bits)*
//  12 u16 5 (difference bits)*      14 u16 sample rate (0 means 6000 Hz)
//  16 u16 cut-off*                  18 u32 size of the frame data
//  22 u16 code of the first frame (low 5 bits; 0: no frames)
//  24 frame data
//
// A frame code is the MDPCM frame header: scale index << 1 | kind (kind 1 =
// long frame of 63 samples, 0 = short frame of 15); the code 0 ends the
// stream. A frame is 4 (long) or 1 (short) groups of five 16-bit words; a
// group carries 16 five-bit values (sign in bit 4, magnitude in bits 3..0):
//   value 3w, 3w + 1, 3w + 2   bits 15..11, 10..6, 5..1 of word w (w = 0..4)
//   value 15                   bit 0 of words 0..4, word 0 holding bit 4
// The values of a frame's groups in order are its differences; the last
// value of its last group is the code of the next frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace cz {

inline constexpr uint32_t kWamHeaderSize = 22;
inline constexpr uint16_t kWamVersion = 101;
inline constexpr uint16_t kWamSampleBits = 12;
inline constexpr uint16_t kWamCodeBits = 4;

struct S_WamHeader {
    char code[4] = {'W', 'A', 'D', 'M'};
    uint16_t version = kWamVersion;
    uint16_t headerSize = kWamHeaderSize;
    uint16_t channels = 1;
    uint16_t sampleBits = kWamSampleBits;
    uint16_t codeBits = kWamCodeBits;
    uint16_t rate = 0;
    uint16_t cutOff = 0;
    uint32_t codeCount = 0;
};

S_WamHeader ParseWamHeader(const uint8_t* bytes22);
std::vector<uint8_t> BuildWamHeader(const S_WamHeader& header);

inline constexpr uint32_t kWmdHeaderSize = 24;
inline constexpr uint16_t kWmdVersion = 2;
inline constexpr uint16_t kWmdSampleBits = 12;
inline constexpr uint16_t kWmdDifferenceBits = 5;
// A rate field of 0 stands for this rate.
inline constexpr uint16_t kWmdDefaultRate = 6000;
inline constexpr uint32_t kWmdLongFrame = 63;
inline constexpr uint32_t kWmdShortFrame = 15;
inline constexpr uint32_t kWmdGroupValues = 16;
inline constexpr uint32_t kWmdGroupBytes = 10;
inline constexpr uint32_t kWmdLongFrameBytes = 4 * kWmdGroupBytes;
inline constexpr uint32_t kWmdShortFrameBytes = kWmdGroupBytes;
// The decoder's start value.
inline constexpr uint16_t kWmdInitialValue = 2047;

struct S_WmdHeader {
    char code[4] = {};
    uint16_t version = kWmdVersion;
    uint16_t headerSize = kWmdHeaderSize;
    uint16_t channels = 1;
    uint16_t sampleBits = kWmdSampleBits;
    uint16_t differenceBits = kWmdDifferenceBits;
    uint16_t rate = 0;
    uint16_t cutOff = 0;
    uint32_t frameBytes = 0;
    uint16_t firstCode = 0;
};

S_WmdHeader ParseWmdHeader(const uint8_t* bytes24);
std::vector<uint8_t> BuildWmdHeader(const S_WmdHeader& header);

// The frame a code announces: its sample count and bytes (0 for the end code).
inline bool WmdIsLong(uint8_t code) { return (code & 1) != 0; }
inline uint32_t WmdFrameSamples(uint8_t code) { return WmdIsLong(code) ? kWmdLongFrame : kWmdShortFrame; }
inline uint32_t WmdFrameBytes(uint8_t code) { return WmdIsLong(code) ? kWmdLongFrameBytes : kWmdShortFrameBytes; }

// A signed difference (-15..15) as its 5-bit field and back (the field 0x10,
// minus zero, reads as 0).
uint8_t WmdField(int value);
int WmdValue(uint8_t field);

// Packs 16 five-bit fields into one group (10 bytes appended to out), and
// unpacks the group at bytes.
void PackWmdGroup(const std::array<uint8_t, kWmdGroupValues>& fields, std::vector<uint8_t>& out);
std::array<uint8_t, kWmdGroupValues> UnpackWmdGroup(const uint8_t* bytes10);

// The walk of a frame data area from its first code: the number of frames and
// samples, and the bytes up to the end code. False when a frame runs past
// size (the data ends before its end code).
struct S_WmdWalk {
    uint64_t frames = 0;
    uint64_t samples = 0;
    uint64_t bytes = 0;
};
bool WalkWmdFrames(const uint8_t* data, size_t size, uint8_t firstCode, S_WmdWalk& walk);

// The frame data as the MDPCM coder's stream: per frame its code as the
// header byte and one signed byte per difference, then the end byte 0. The
// data must have passed WalkWmdFrames.
std::vector<uint8_t> WmdFramesToStream(const uint8_t* data, size_t size, uint8_t firstCode);
// The reverse: the coder's stream (header byte, differences, ..., end byte
// 0) as frame data and the first frame's code. False when the stream holds
// a header or difference the format cannot carry.
bool WmdStreamToFrames(const uint8_t* stream, size_t size, std::vector<uint8_t>& frames, uint8_t& firstCode);

}  // namespace cz
