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
//
// The magics are shared with chip files (WAM files start "WADM", E2A files
// "WE2A", Q420 MPM files "Q42M", MDM files may carry "WMdM"), whose headers
// put a version where a resource has its rate (101 for WAM, 0x110 = 272 for
// the MPM family). So every reader checks what it reads before it trusts
// it: a rate a chip file may carry (kRbfMinRate and up), a payload that
// walks block by block to its end mark, and the end mark as the last bytes
// of the file. A damaged chip file is then refused here too, and the factory
// tells the reason its own class gave.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codecs/rbf/RbfCoding.h"
#include "foundation/SoundRate.h"

namespace cz {

class C_WavData;

// Resources larger than this are not resources.
constexpr uint64_t kRbfMaxFileSize = uint64_t{64} << 20;
// The lowest rate of a resource: every chip file the resources are made
// from is refused below it, so no resource carries less.
constexpr uint32_t kRbfMinRate = kMinSoundRate;

enum class RbfError {
    kNone,
    kCannotOpen,
    kTooLarge,
    kUnknownMagic,
    kNoPayload,      // the header alone, or less
    kBadRate,        // a rate below kRbfMinRate
    kBadPayload,     // a block past the end, or too many samples
    kNoEndMark,      // the payload ends between blocks without its end mark
    kAfterEndMark,   // bytes follow the end mark
    kTempFile,       // the temporary file could not be made, written or read
    kLimitTooSmall,  // a cut limit below the header plus the end mark
    kCannotWrite,
};
const char* RbfErrorText(RbfError error);

// What a resource holds, read without decoding into memory. A refused
// resource leaves what was read before the refusal: the magic and the rate
// once the magic is known, the walk's figures once the payload was walked.
struct RbfSummary {
    std::string magic;
    uint16_t sampleRate = 0;
    uint16_t bits = 12;
    uint64_t samples = 0;
    bool endMark = false;
    size_t payloadBytes = 0;  // the payload after the header
    size_t walkedBytes = 0;   // of it, up to and with the end mark
    RbfStatus status = RbfStatus::kOk;
    std::vector<RbfMarker> markers;
};

// The reason of a refusal in words, with the figures of the summary (the
// rate, the bytes after the end mark, the walk's stop).
std::string DescribeRbfError(RbfError error, const RbfSummary& summary);

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

// How much of a resource a cut kept.
struct RbfCutFigures {
    uint32_t sampleRate = 0;
    uint64_t samples = 0;      // the whole resource's
    uint64_t keptSamples = 0;  // the cut copy's, a prefix of them
    size_t bytes = 0;          // the whole file
    size_t keptBytes = 0;      // the cut copy, header and end mark included
};

// Writes to output a copy of input that is at most limit bytes: the file
// unchanged when it fits, else the header, the whole blocks of the payload
// from its start while they fit before the end mark, and the end mark. The
// input must be a sound resource (checked as for decoding); a limit below
// the header plus the end mark is refused. Nothing is written on failure.
RbfError CutRbfBytes(std::span<const uint8_t> file, uint64_t limit, std::vector<uint8_t>& out,
                     RbfCutFigures* figures = nullptr, RbfSummary* summary = nullptr);
bool CutRbf(const char* input, const char* output, uint64_t limit, RbfError* error = nullptr,
            RbfCutFigures* figures = nullptr, std::string* reason = nullptr);

}  // namespace cz
