// MP3-to-WAV driver on bytes in memory, with a duration limit picked by the
// first byte and gapless decoding (the Info frame read) by its bit 1.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoders/mp3/C_Mp3ToWavConverter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t limit = 0;
    if (size > 0 && (data[0] & 1)) {
        limit = data[0] * 7u;
    }
    std::vector<uint8_t> wav;
    cz::mp3::C_Mp3ToWavConverter converter;
    converter.SetGapless(size > 0 && (data[0] & 2));
    converter.ConvertMemory(data, size, &wav, nullptr, limit);
    if (wav.size() >= 12 && wav.size() > 44) {
        // The patched RIFF size always matches what was written.
        const uint32_t riff =
            uint32_t(wav[4]) | (uint32_t(wav[5]) << 8) | (uint32_t(wav[6]) << 16) | (uint32_t(wav[7]) << 24);
        if (riff != wav.size() - 8) {
            __builtin_trap();
        }
    }
    return 0;
}
