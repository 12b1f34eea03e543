// Stand-in for the WLP speech codec library: 180-sample frames of the shared
// block-DPCM stream of common/SpeechCoder.h (one block per frame, no
// decimation). The setting (low byte of the caller's codec parameter)
// chooses the bits per sample: 2 to 6, anything else 4. The level is
// accepted and not used. Entry points (standard calling convention on
// 32-bit Windows):
//   GetFrameSize(0, &version, &bytesPerFrame, &frameSize)     -> 1
//   Encode(samples, count, level, codedPath, setting)         -> 1, 0 on
//   failure Decode(codedPath, level, out, capacity)                   -> 1, 0
//   on failure
//     (also when the file holds fewer than capacity samples)
#include <cstdint>
#include <span>

#include "cadenzor/cadenzor.h"
#include "common/SiblingCommon.h"
#include "common/SpeechCoder.h"

namespace {
constexpr uint32_t kFrame = 180;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL GetFrameSize(int32_t, int32_t* version, int32_t* bytesPerFrame, int32_t* frameSize) {
    if (version) *version = 1;
    if (bytesPerFrame) *bytesPerFrame = 1 + (kFrame * 4 + 7) / 8;
    if (frameSize) *frameSize = kFrame;
    return 1;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL Encode(const int16_t* samples, int32_t count, int32_t, const char* codedPath,
                                         int32_t setting) {
    if (!samples || count <= 0 || !codedPath) return 0;
    cz::sibling::S_CoderSettings s;
    s.block = kFrame;
    s.bits = setting >= 2 && setting <= 6 ? static_cast<uint32_t>(setting) : 4;
    const auto bytes = cz::sibling::EncodeSpeech(std::span<const int16_t>(samples, static_cast<size_t>(count)), s);
    return cz::sibling::WriteWholeFile(codedPath, bytes) ? 1 : 0;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL Decode(const char* codedPath, int32_t, int16_t* out, int32_t capacity) {
    return cz::sibling::DecodeFileInto(codedPath, out, capacity) ? 1 : 0;
}
