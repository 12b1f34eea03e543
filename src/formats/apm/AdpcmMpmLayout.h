// Frame sections of the ADPCM-coded MPM files ("WEAM", "WSAM" and "WE2A"):
// the records between the "MFRM" header and the decoded PCM (the container
// around them is in formats/mpm/MpmLayout.h; docs/mpm-relatives.md draws
// both).
//
// "WEAM" and "WSAM" records, each starting with its record code:
//   00                    end of the section
//   01 u16 n              silence: n samples (1 ... 65535) at mid-scale
//   02 u8 type, u8 param  action event at the position of the next sample
//                         (no samples of its own)
//   03 u32 n, u32 k, k bytes
//                         voice: k bytes of the file's coder stream, which
//                         decode to n samples (n at most 2 k): the block
//                         stream of C_EnhancedADPCMCodec ("WEAM") or the
//                         4-bit codes of C_ADPCMEncDec from mid-scale and
//                         step index 0 ("WSAM", lead-in and tail codes
//                         included)
// "WE2A": the block stream of C_EnhancedADPCM2Codec (silence, short, marker
// and long blocks, then 00 00), the payload of the chip's "WE2A" resource.
//
// The decoded PCM section holds exactly what the records decode to.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "formats/mpm/MpmLayout.h"

namespace cz {

class C_ADPCMEncDec;

enum AdpcmMpmRecord : uint8_t {
    kAdpcmRecordEnd = 0,
    kAdpcmRecordSilence = 1,
    kAdpcmRecordEvent = 2,
    kAdpcmRecordVoice = 3,
};
inline constexpr uint32_t kAdpcmRecordMaxSilence = 65535;
inline constexpr uint32_t kAdpcmVoiceHeaderSize = 9;

// A stretch of the segment table after the cuts at event samples.
struct S_FramePiece {
    bool silence = false;
    uint32_t start = 0;
    uint32_t length = 0;
};
// The segments cut at every sample of cuts (sorted, unique) strictly inside them.
std::vector<S_FramePiece> CutSegmentsAtEvents(const std::vector<S_MpmSegment>& segments,
                                              const std::vector<uint32_t>& cuts);
// The events sorted by sample (stable) and their distinct samples.
void SortEvents(std::vector<S_MpmEventEntry>& events, std::vector<uint32_t>& cuts);

enum class FrameRecordError {
    kNone,
    kPastEnd,    // a record runs past the section
    kBadRecord,  // an unknown record code, a zero length, n above 2 k
    kNoEnd,      // the section ends without its end record
    kBadVoice,   // a voice record that does not decode to its n samples
    kTooLong,    // more samples than the 32-bit count can hold
};

// What a frame section decodes to.
struct S_FrameDecode {
    uint64_t samples = 0;                  // samples the records stand for
    std::vector<uint16_t> decoded;         // the samples, when decoding
    std::vector<S_MpmEventEntry> markers;  // events at their positions
};

// Walks "WEAM"/"WSAM" records, checking each against the bytes. With a
// coder, decodes the voice records with it (silence is silenceValue) into
// out.decoded; without, only counts.
FrameRecordError WalkAdpcmRecords(std::span<const uint8_t> records, C_ADPCMEncDec* coder, uint16_t silenceValue,
                                  S_FrameDecode& out);
// Walks a "WE2A" block stream to its end mark with the chip's decoder;
// decodes into out.decoded when asked.
FrameRecordError WalkWe2aBlocks(std::span<const uint8_t> blocks, bool decode, S_FrameDecode& out);

}  // namespace cz
