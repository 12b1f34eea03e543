// Sounds built in code for the format tests, and saving one through a
// format class.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/LittleEndian.h"
#include "wave/C_WavData.h"
#include "wave/C_WavFile.h"

namespace cz::test {

// A sound holding the 16-bit words (channels interleaved) as samples of
// validBits bits; signedFlag 0 for offset binary (the chip form), 1 for
// signed PCM.
inline std::unique_ptr<C_WavData> SoundOfWords(const std::vector<uint16_t>& words, uint32_t rate, uint16_t validBits,
                                               uint32_t signedFlag, uint16_t channels = 1) {
    auto sound = std::make_unique<C_WavData>();
    std::vector<uint8_t> bytes = WordBytes(words);
    sound->SetFormat(rate, static_cast<uint32_t>(bytes.size()), channels, validBits, 16, signedFlag);
    sound->SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return sound;
}

// A mono 12-bit offset-binary sound of the words.
inline std::unique_ptr<C_WavData> ChipSoundOf(const std::vector<uint16_t>& words, uint32_t rate) {
    return SoundOfWords(words, rate, 12, 0);
}

// A 16-bit signed sound from per-frame values (channels interleaved).
inline std::unique_ptr<C_WavData> Sound16(const std::vector<int16_t>& values, uint16_t channels, uint32_t rate) {
    return SoundOfWords(std::vector<uint16_t>(values.begin(), values.end()), rate, 16, 1, channels);
}

// Saves the sound through writer; the writer's result (1 when saved).
inline int32_t SaveWith(C_WavFile& writer, C_WavData& sound, const std::string& path) {
    writer.AttachWavData(&sound);
    const int32_t ok = writer.Save(path.c_str());
    writer.DetachWavData();
    return ok;
}

}  // namespace cz::test
