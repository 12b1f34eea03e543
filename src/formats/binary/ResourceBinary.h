// Resource binaries read back: the bytes a chip plays (a 6-byte header of a
// four-character code and the u16 sample rate, then the coded payload), for
// every coding the resource converter writes, decoded the way the chip
// reads them into 16-bit samples with the markers the stream carries.
//
//   code   coding   payload (docs/)
//   WADM   APM      4-bit ADPCM blocks            (codecs/rbf/RbfCoding.h)
//   WE2A   E2A      two-tap ADPCM blocks          (codecs/rbf/RbfCoding.h)
//   WMdM   MDM      delta blocks                  (codecs/rbf/RbfCoding.h)
//   Q42M   Q420 MPM words of two 5-bit deltas     (codecs/rbf/RbfCoding.h)
//   WPC8   PC8      signed bytes                  (pcm-variants.md)
//   WP16   P16      16-bit samples
//   WS16   S16      16-bit samples, each twice
//   WS08   S08      PC8 bytes, each twice
//   WLP8   LP8      companded bytes, end 80 00 00
//   WP10   P10      10-bit groups, action records, end 80 00 00
//   WPAM   PAM      period table, then ADPCM records (pam-format.md)
//   WMCP   MCP      silence words, pending records, voice blocks of the
//   WMVP   MVC      codec library's coded files, end FF FF
//   WLPC   WLP      (formats/ext/ExtLayout.h); the voice blocks are decoded
//   WESB   ESB      by the coding's codec library, as its chip file class
//   OSBC   SBD      decodes them
//
// Silence decodes to 0. Nothing here trusts a count: every record is checked
// against the bytes left, and the output is capped at kRbfMaxSamples.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cz {

class C_WavData;

struct S_BinaryMarker {
    uint32_t position = 0;  // samples played before the marker
    uint32_t type = 0;
    uint32_t param = 0;     // as the stream holds it (6 bits for P10 and the MCP line)
    bool operator==(const S_BinaryMarker&) const = default;
};

// A decoded resource binary.
struct S_ResourceBinary {
    std::string code;     // the four characters of the header
    std::string coding;   // the coding's name: "PC8", "APM", ...
    uint16_t sampleRate = 0;
    uint16_t bits = 16;   // significant bits of the coding's samples
    uint64_t bytes = 0;   // size of the binary
    std::vector<int16_t> samples;
    std::vector<S_BinaryMarker> markers;
};

// The coding a binary's first four bytes name ("PC8" for "WPC8", ...);
// empty for anything else.
std::string ResourceBinaryCoding(std::span<const uint8_t> file);

// Reads a binary in memory. On failure false, with *reason saying why in
// words a person can act on ("truncated: a P10 group is cut short", ...); the
// coding is in out.coding whenever the magic named one.
bool ReadResourceBinary(std::span<const uint8_t> file, S_ResourceBinary& out, std::string* reason);

// Reads the binary at path (at most 64 MiB).
bool ReadResourceBinaryFile(const char* path, S_ResourceBinary& out, std::string* reason);

// The sound of a decoded binary: 16-bit signed mono at its rate, a cue point
// per marker (identifier = its index + 1, block start = its type).
void ResourceBinaryToSound(const S_ResourceBinary& binary, C_WavData& sound);

// What the tool's opening path calls for a file that no sound format takes:
// decodes the binary at path into a 16-bit WAV file at wavPath. False, with
// *reason, when the file is no binary or a damaged one; *coding gets the
// coding its magic names (empty when none).
bool DecodeResourceBinaryToWav(const char* path, const char* wavPath, std::string* coding, std::string* reason);

// The opening path of the tool and the pipeline for a file that may be a
// resource binary. A file a sound format opens is left to it (kNotBinary);
// a file whose code is a binary's (also one that a chip class with the same
// code refuses) is decoded into a 16-bit WAV file at wavPath (kDecoded, with
// the decoded binary in *binary when asked); one that is neither gets
// kFailed and a *failure naming what it looks like and why it fails.
enum class BinaryOpen { kNotBinary, kDecoded, kFailed };
BinaryOpen OpenResourceBinaryAsWav(const char* path, const char* wavPath, std::string* failure,
                                   S_ResourceBinary* binary = nullptr);

// Resource pack images ("CZPK", docs/resource-pack.md).
struct S_PackEntry {
    uint32_t offset = 0;
    uint32_t size = 0;
};
// The entries of an image; false with *reason when the bytes are not one or
// an entry lies outside it.
bool ReadPackImage(std::span<const uint8_t> image, std::vector<S_PackEntry>& entries, std::string* reason);
// The prompt names of the header beside an image (IMAGE.h), in entry order;
// empty when there is none or it does not match the image.
std::vector<std::string> ReadPackHeaderNames(const std::string& imagePath, size_t count);

}  // namespace cz
