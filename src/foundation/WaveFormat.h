// The WAVE format record of a RIFF/WAVE "fmt " chunk and the format tags the
// library knows, shared by the WAV files, the ADPCM decoders and the writers
// that make WAV files of their own (MP3 decoding).
#pragma once

#include <cstdint>

namespace cz {

enum WaveFormatTag : uint16_t {
    kWaveTagPcm = 0x0001,
    kWaveTagMsAdpcm = 0x0002,
    kWaveTagFloat = 0x0003,
    kWaveTagALaw = 0x0006,
    kWaveTagMuLaw = 0x0007,
    kWaveTagImaAdpcm = 0x0011,
    kWaveTagExtensible = 0xFFFE,
};

// The 16-byte WAVE format record.
struct S_WaveFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t bytesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

}  // namespace cz
