// The frame section of the speech-coder formats (PC8, the CLP line, MCP,
// MVP, WLP, SBD, ESB): the MPM container of MpmLayout.h with these header
// fields changed:
//   10 u8   8 for PC8, the level (1..3) for the CLP line
//   36 u16  16 (source bits)      46 u16  16 (decoded bits)
//   60 u16  5 for PC8, 6 for the CLP line
// The source and decoded sections hold 16-bit offset-binary words
// (sample + 32768).
//
// PC8 frame section: one signed byte per sample (s / 256 toward zero, -128
// stored as -127), silence as zero bytes, no end mark. Its PCM relatives
// write silence as 0 at their own width (docs/pcm-variants.md).
//
// CLP line frame section, a sequence of little-endian words and blocks:
//   silence word     u16 (run << 4) | 1, run 1..4095 samples (0 after a
//                    pending record: the record stands for the sample)
//   pending record   0x13, run - 1, command word high byte,
//                    (command word low byte >> 2) & 63
//   voice block      u16 0x0002, u32 n, then n bytes: the codec library's
//                    coded file of the segment as it wrote it (the frames of
//                    one segment, a whole number of frames)
//   end mark         u16 0xFFFF
// An event on a silence starts a run of its own, written as a silence with
// a pending record (an event that the padding of the voice before took goes
// with the silence's moved start). The voice blocks carry no events.
#pragma once

#include <cstdint>

namespace cz {

inline constexpr uint16_t kExtVoiceBlockTag = 0x0002;
inline constexpr uint16_t kExtEndMark = 0xFFFF;
inline constexpr uint8_t kExtPendingRecord = 0x13;
// The run field of a silence word has 12 bits.
inline constexpr uint32_t kExtLongestWordRun = 0xFFF;

// The silence word for a run.
inline uint16_t ExtSilenceWord(uint32_t run) { return static_cast<uint16_t>(((run & 0xFFF) << 4) | 1); }

// 8-bit PCM coding of one 16-bit sample: toward zero, never -128.
inline int8_t Pc8Code(int16_t s) {
    int32_t v = s / 256;
    if (v == -128) v = -127;
    return static_cast<int8_t>(v);
}
inline int16_t Pc8Decode(int8_t c) { return static_cast<int16_t>(c * 256); }

}  // namespace cz
