// The entry points of the speech-codec libraries as this library calls them:
// standard calling convention on 32-bit Windows, ANSI paths, 16-bit samples.
// Each library is loaded right before a call and freed right after it.
#pragma once

#include <cstdint>
#include <memory>

#include "cadenzor/cadenzor.h"
#include "platform/Platform.h"

namespace cz {

// MCP_GetFrameSize / MVP_GetFrameSize: the frame size is the signed low
// half of *second (both zeroed before the call).
using McpGetFrameSizeFn = int32_t(CZ_CALL*)(int32_t mode, int32_t* first, int32_t* second);
// MCP_Encode / MVP_Encode: nonzero on success.
using McpEncodeFn = int32_t(CZ_CALL*)(const int16_t* samples, int32_t count, int32_t mode, const char* codedPath);
// MCP_Decode / MVP_Decode: nonzero on success.
using McpDecodeFn = int32_t(CZ_CALL*)(const char* codedPath, int32_t mode, int16_t* out, int32_t capacity);
// WLP GetFrameSize(0, ...): the frame size is the signed 16-bit value at
// *third.
using WlpGetFrameSizeFn = int32_t(CZ_CALL*)(int32_t zero, int32_t* first, int32_t* second, int32_t* third);
using WlpEncodeFn = int32_t(CZ_CALL*)(const int16_t* samples, int32_t count, int32_t level, const char* codedPath,
                                      int32_t setting);
using WlpDecodeFn = int32_t(CZ_CALL*)(const char* codedPath, int32_t level, int16_t* out, int32_t capacity);
// SBD EncodeByBitRate: negative on failure.
using SbdEncodeFn = int32_t(CZ_CALL*)(const char* wavPath, const char* codedPath, int32_t bitRate, int32_t thirteen,
                                      int32_t flag);
// ESB_Encode: negative on failure. The record is the library's to fill.
using EsbEncodeFn = int32_t(CZ_CALL*)(void* record, const char* wavPath, const char* codedPath, int32_t bitRate,
                                      float quality, float flag);
// SBD Decode / ESB_Decode: nonzero on success.
using RateDecodeFn = int32_t(CZ_CALL*)(const char* codedPath, int16_t* out, int32_t capacity);

// The result record ESB_Encode may fill (its contents are not read).
struct S_EsbEncodeRecord {
    uint8_t bytes[256] = {};
};

// A library and one of its entries, with the loader's messages (title
// "WaveFileUtil") when either is missing. Empty on failure.
struct S_CodecEntry {
    std::unique_ptr<platform::Library> library;
    void* entry = nullptr;
    explicit operator bool() const { return entry != nullptr; }
};
S_CodecEntry LoadCodecEntry(const char* libraryName, const char* entryName, uintptr_t ownerWindow, bool showMessage);

}  // namespace cz
