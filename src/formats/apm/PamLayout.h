// The frame section of the PAM speech file ("WPAM"), the pitch-shiftable
// ADPCM format written in the MPM container (MpmLayout.h). The container's
// header, its decoded and source PCM sections and its "MCMD" and "WSIL"
// blocks are those of every MPM file; this header draws what follows the
// 14-byte "MFRM" header. Everything little-endian and packed.
//
// Frame section, after "MFRM":
//   period table    "WPER" block: header (24 bytes), then P entries
//   records         one per segment of the sound, in sample order, covering
//                   every source sample once; then the end record
//
// "WPER" header:
//   0 "WPER"   4 u16 24 (header size)   6 u16 16 (entry size)
//   8 u32 period count P
//  12 u8 variant count (10)
//  13 10 x u8 the variants' length factors in tenths (5 6 7 8 9 12 14 16 18 20)
//  23 u8 0
// Period entry (16 bytes): u32 first sample, u16 length (the last sample is
// first + length - 1), then one u8 emit count per variant: how many times a
// regeneration by that variant's factor emits the period (0: dropped when
// shrinking; when stretching, emitted once while less than a period behind).
// Periods are in sample order and do not overlap.
//
// Records (first byte: type):
//   voice (1):   u32 first sample, u32 sample count S, u32 code count N,
//                then ceil(N / 2) bytes of 4-bit ADPCM codes (high nibble
//                first); the coder starts at mid-scale and its stream is
//                flushed back to silence, so each voice record decodes on
//                its own to N samples (S of the voice and the tail)
//   silence (2): u32 first sample, u32 length; plays as mid-scale, but
//                a voice record's tail (its N - S samples beyond the voice)
//                plays over the start of the silence record right after it,
//                which is that much shorter (never below 0), so that the
//                sound keeps the timing of the source
//   end (0):     nothing more
// The decoded PCM section holds what the records decode to, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cz {

inline constexpr uint32_t kPamPeriodHeaderSize = 24;
inline constexpr uint32_t kPamPeriodEntrySize = 16;
inline constexpr uint32_t kPamVariantCount = 10;
inline constexpr uint8_t kPamVariantTenths[kPamVariantCount] = {5, 6, 7, 8, 9, 12, 14, 16, 18, 20};
inline constexpr uint32_t kPamVoiceHeaderSize = 13;   // type and three u32
inline constexpr uint32_t kPamSilenceRecordSize = 9;  // type and two u32

enum : uint8_t {
    kPamRecordEnd = 0,
    kPamRecordVoice = 1,
    kPamRecordSilence = 2,
};

struct S_PamPeriod {
    uint32_t first = 0;
    uint16_t length = 0;
    uint8_t counts[kPamVariantCount] = {};
};

struct S_PamRecord {
    uint8_t type = kPamRecordEnd;
    uint32_t first = 0;
    uint32_t count = 0;      // samples of the voice or silence
    uint32_t codeCount = 0;  // voice: codes
    size_t codeOffset = 0;   // voice: where its codes start in the frame data
};

// Samples a silence record of length samples plays after a voice record
// whose tail was tail samples (0 after anything else).
inline uint32_t PamSilencePlayed(uint32_t length, uint32_t tail) { return length > tail ? length - tail : 0; }

// The "WPER" block of the periods.
std::vector<uint8_t> BuildPamPeriodTable(const std::vector<S_PamPeriod>& periods);

// Parses the frame data (the section after "MFRM"): the period table and
// the records up to the end record. Everything is checked against the
// data's size and against sourceCount: periods in order, inside the source
// and not overlapping; records in order, covering [0, sourceCount) exactly,
// their codes inside the data, nothing after the end record. false with
// *why set otherwise.
bool ParsePamFrames(const uint8_t* data, size_t size, uint32_t sourceCount, std::vector<S_PamPeriod>& periods,
                    std::vector<S_PamRecord>& records, std::string* why);

}  // namespace cz
