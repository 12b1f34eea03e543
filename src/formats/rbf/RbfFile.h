// RBF resource files: a 6-byte header (four-character magic naming the
// payload coding, u16 sample rate) and the coded payload, which ends in its
// coding's end mark (codecs/rbf/RbfCoding.h).
//
//   offset  size  content
//   0       4     magic: "WMdM", "WADM", "WE2A" or "Q42M"
//   4       2     sample rate in Hz
//   6       rest  payload
//
// Decoding turns the resource into a sound (1 channel, 12 significant bits,
// or 16 for "WE2A", unsigned, in 16-bit containers) and each marker into a
// cue point; cutting shortens a resource to a byte limit keeping whole
// blocks. The same code serves the exports, the CLI and the format class.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codecs/rbf/RbfCoding.h"

namespace cz {

class C_WavData;

// Resources larger than this are not resources.
constexpr uint64_t kRbfMaxFileSize = uint64_t{64} << 20;

enum class RbfError {
    kNone,
    kCannotOpen,
    kTooLarge,
    kUnknownMagic,
    kNoPayload,      // the header alone, or less
    kBadPayload,     // a block past the end, or too many samples
    kTempFile,       // the temporary file could not be made, written or read
    kLimitTooSmall,  // a cut limit below the header plus the end mark
    kCannotWrite,
};
const char* RbfErrorText(RbfError error);

// What a resource holds, read without decoding into memory.
struct RbfSummary {
    std::string magic;
    uint16_t sampleRate = 0;
    uint16_t bits = 12;
    uint64_t samples = 0;
    bool endMark = false;
    std::vector<RbfMarker> markers;
};

// Reads a whole resource file (capped at kRbfMaxFileSize).
RbfError ReadRbfFile(const char* path, std::vector<uint8_t>& bytes);

// Walks a resource in memory.
RbfError InspectRbf(std::span<const uint8_t> file, RbfSummary& summary);

// Decodes a resource in memory into the sound through a temporary file in
// the system temporary folder (prefix "tmp"), which is deleted on every path.
// Replaces the sound's format and samples; one cue point per marker
// (identifier as cue identifier, position, chunk "data", chunk start 0,
// block start = the marker's type, sample offset = position). The markers are
// also returned when asked for.
RbfError DecodeRbfBytes(std::span<const uint8_t> file, C_WavData& sound, std::vector<RbfMarker>* markers = nullptr);
bool DecodeRbf(const char* path, C_WavData& sound, RbfError* error = nullptr);

// Decodes the resource at rbfPath and saves it at wavPath as a 16-bit signed
// PCM WAV file. 1 on success, 0 otherwise.
int32_t ConvertRbfToWav(const char* rbfPath, const char* wavPath);

// Writes to output a copy of input that is at most limit bytes: the file
// unchanged when it fits, else the header, the whole blocks of the payload
// that fit before the end mark, and the end mark. A limit below the header
// plus the end mark is refused. Nothing is written on failure.
RbfError CutRbfBytes(std::span<const uint8_t> file, uint64_t limit, std::vector<uint8_t>& out);
bool CutRbf(const char* input, const char* output, uint64_t limit, RbfError* error = nullptr);

}  // namespace cz
