// XMF 1.00 files holding one chip resource in-line in a single file node,
// and the C array header written beside every such file.
//
//   0      "XMF_1.00"
//   8      VLQ(F)            file length F
//   8+n    02 00             empty metadata-types table
//   10+n   2n + 11           tree start offset
//   11+n   VLQ(F)            tree end offset
//   11+2n  VLQ(node length)  node length = L + 31 + N, counting its own L bytes
//          00                contained items (a file node)
//          L + 30            node header length
//          1A                node metadata length (26)
//          00 03 00
//          16                length of the next 22 bytes
//          06 03
//          19 bytes          format identifier of the resource type
//          00
//          01                node unpackers: none
//          01                reference type: in-line resource
//          N bytes           the resource
//
// F = 11 + 2n + node length, with n the length of VLQ(F). Every VLQ length is
// settled by iteration, since a length counts its own VLQ.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cz::xmf {

enum XmfResourceType : uint32_t {
    kXmfMelody = 1,            // IMF without a lyric block
    kXmfMelodyWithSpeech = 3,  // the "WIBN" bundle
    kXmfSpeech = 5,            // a coded speech resource binary
    kXmfMelodyWithLyric = 8,   // IMF with a "WKLB" lyric block
};

// The 19-byte format identifier of a type; none for a type without one.
std::optional<std::span<const uint8_t, 19>> FormatIdentifier(uint32_t type);

// True when the resource starts with a "WKLB" header whose 32-bit
// little-endian field at byte 11 is nonzero (a melody that has lyric data).
bool HasLyricBlock(std::span<const uint8_t> resource);

// The whole XMF file around the resource; none for a type without an
// identifier. A melody with lyric that has no lyric data is written as a
// plain melody.
std::optional<std::vector<uint8_t>> BuildXmf(std::span<const uint8_t> resource, uint32_t type);

// Reads the resource file, writes the XMF file and its C array header.
// False when the resource cannot be read, the type has no identifier, or the
// XMF file cannot be written in full; then nothing is left. When only the
// header cannot be written, the complete XMF file stays, the result is false
// and a message under `caption` says so.
inline constexpr const char* kWriterCaption = "Resource converter";
bool WriteXmf(const char* resourcePath, const char* xmfPath, uint32_t type, const char* caption = kWriterCaption);

// The header of an output file: same folder, the file name without its
// extension and with every "." made "_", then ".h".
std::string CArrayHeaderPath(const std::string& outputPath);
// "const unsigned char g_aby<name>[] = " and the bytes, eight to a line.
std::string CArrayHeaderText(const std::string& name, std::span<const uint8_t> bytes);
// Writes the C array header of an output file; false (and no header left)
// when the output cannot be read or the header cannot be written.
bool WriteCArrayHeader(const char* outputPath);

// The whole of a file (at most 4 GiB - 1 bytes); false when it cannot be read.
bool ReadWholeFile(const char* path, std::vector<uint8_t>& out);
// Writes the bytes as the whole file at path, beside its name first and put
// in place when complete: a failure leaves whatever had that name as it was.
bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace cz::xmf
