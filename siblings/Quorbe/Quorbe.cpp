// Stand-in for the MCP speech codec library: frame-based coding in two modes
// (mode 0: 240-sample frames at 4 bits a sample; mode 1, and any other:
// 160-sample frames at 3 bits a sample). The coded file is the shared
// block-DPCM stream of common/SpeechCoder.h with one block per frame and no
// decimation; its header states the bits, so the decoder does not need the
// mode. Entry points (standard calling convention on 32-bit Windows):
//   MCP_GetFrameSize(mode, &bytesPerFrame, &frameSize)  -> 1
//   MCP_Encode(samples, count, mode, codedPath)         -> 1, 0 on failure
//   MCP_Decode(codedPath, mode, out, capacity)          -> 1, 0 on failure
//     (also when the file holds fewer than capacity samples)
#include <cstdint>
#include <span>

#include "cadenzor/cadenzor.h"
#include "common/SiblingCommon.h"
#include "common/SpeechCoder.h"

namespace {
cz::sibling::S_CoderSettings ModeSettings(int32_t mode) {
    cz::sibling::S_CoderSettings s;
    s.block = mode == 0 ? 240 : 160;
    s.bits = mode == 0 ? 4 : 3;
    return s;
}
}  // namespace

CZ_SIBLING_EXPORT int32_t CZ_CALL MCP_GetFrameSize(int32_t mode, int32_t* bytesPerFrame, int32_t* frameSize) {
    const cz::sibling::S_CoderSettings s = ModeSettings(mode);
    if (bytesPerFrame) *bytesPerFrame = static_cast<int32_t>(1 + (s.block * s.bits + 7) / 8);
    if (frameSize) *frameSize = static_cast<int32_t>(s.block);
    return 1;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL MCP_Encode(const int16_t* samples, int32_t count, int32_t mode,
                                             const char* codedPath) {
    if (!samples || count <= 0 || !codedPath) return 0;
    const auto bytes =
        cz::sibling::EncodeSpeech(std::span<const int16_t>(samples, static_cast<size_t>(count)), ModeSettings(mode));
    return cz::sibling::WriteWholeFile(codedPath, bytes) ? 1 : 0;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL MCP_Decode(const char* codedPath, int32_t, int16_t* out, int32_t capacity) {
    return cz::sibling::DecodeFileInto(codedPath, out, capacity) ? 1 : 0;
}
