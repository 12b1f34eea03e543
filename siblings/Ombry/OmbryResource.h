// Ombry: the resource converter library. Turns a chip-format file into the
// resource binary the chip plays: a 6-byte header (four-character coding
// code, u16 sample rate) and the coded payload ending in its end mark.
//
//   APM file -> "WADM": 4-bit ADPCM blocks, silence runs and markers
//   MDM file -> "WMdM": the MDM frame records (8-sample delta groups, silence
//               and raw records, command words as markers), ending in FF
//   E2A file -> "WE2A": the file's frame section, which is the chip's block
//               stream (two-tap ADPCM blocks, silence, markers), ending in 00 00
//   PC8, MCP, MVP, WLP, SBD and ESB files, and the PCM relatives of PC8
//               (P16, S16, S08, LP8) -> their resource code ("WPC8",
//               "WMCP", "WMVP", "WLPC", "OSBC", "WESB", "WP16", "WS16",
//               "WS08", "WLP8"), then the frame
//               section after its 14-byte "MFRM" header exactly as the file
//               holds it (voice blocks of coded frames, silence words,
//               the 0xFFFF end mark; 8-bit samples for PC8)
//   Q420 MPM file -> "Q42M": the file's word stream (data words of two
//               5-bit differences, scale, run and marker commands), ending
//               in the end word 0x0208
//   PAM file -> "WPAM", then its frame section after "MFRM" as the file
//               holds it: the period table with the emit counts, the voice
//               records of 4-bit ADPCM codes, silence records, the end
//               record (docs/pam-format.md)
//
// The builders work on the file's bytes in memory and check every offset and
// count against them; they never read outside the span they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/SiblingCommon.h"

namespace ombry {

using cz::sibling::Inside;

enum class ChipFormat { kUnknown, kApm, kMdm, kCodec, kE2a, kQ420Mpm };

// Figures of a built resource.
struct ResourceFigures {
    uint32_t sampleRate = 0;
    uint32_t sampleCount = 0;
    uint32_t markerCount = 0;
};

// The chip format a file's first bytes announce.
ChipFormat DetectChipFormat(std::span<const uint8_t> file);

// Builds the "WADM" resource of an APM file. False (out untouched) when the
// bytes are not a well-formed 4-bit APM file.
bool BuildWadmResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures);

// Builds the "WMdM" resource of an MDM file. False (out untouched) when the
// bytes are not a well-formed MDM file.
bool BuildWmdmResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures);

// Builds the "WE2A" resource of an E2A file. False (out untouched) when the
// bytes are not a well-formed E2A file.
bool BuildWe2aResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures);

// Builds the "Q42M" resource of a Q420 MPM file. False (out untouched) when
// the bytes are not a well-formed Q420 MPM file.
bool BuildQ42mResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures);

// The 6-byte resource header: the coding code and the sample rate (u16).
inline std::vector<uint8_t> ResourceHeader(const char (&code)[5], uint16_t rate) {
    return {static_cast<uint8_t>(code[0]), static_cast<uint8_t>(code[1]), static_cast<uint8_t>(code[2]),
            static_cast<uint8_t>(code[3]), static_cast<uint8_t>(rate),    static_cast<uint8_t>(rate >> 8)};
}

// Builds the resource of a speech-coder file (PC8, MCP, MVP, WLP, SBD, ESB).
bool BuildCodecResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures);

// Either of the above, chosen by the file's format; false for other formats.
bool BuildResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures);

}  // namespace ombry
