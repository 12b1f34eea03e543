// What the stand-in libraries share: the export macro of their entry points,
// whole-file reads and writes, and the bounds check of their parsers. Built
// as a static helper linked into each stand-in, not a library of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Marks a stand-in's entry point: exported with C linkage and its plain name.
// The calling convention (CZ_CALL) is written at each function.
#if defined(_WIN32)
#define CZ_SIBLING_EXPORT extern "C" __declspec(dllexport)
#else
#define CZ_SIBLING_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace cz::sibling {

// Reads the whole file into bytes (an empty file gives none). False when it
// cannot be opened or read, or is larger than maxSize bytes.
bool ReadWholeFile(const std::string& path, uint64_t maxSize, std::vector<uint8_t>& bytes);

// Creates (or replaces) the file with exactly these bytes: written beside its
// name and put in place when complete, so a failed write leaves an existing
// file of that name as it was and no partial file.
bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes);

// The byte range [offset, offset + size) lies inside the file.
inline bool Inside(std::span<const uint8_t> file, uint64_t offset, uint64_t size) {
    return offset <= file.size() && size <= file.size() - offset;
}

}  // namespace cz::sibling
