// Any bytes opened through the format factory, samples loaded, then the
// sound's basic operations and a WAV save to memory-backed scratch.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/registry/C_WavFileFormat.h"
#include "wave/C_WavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cz::C_WavFileFormat factory;
    for (uint32_t mode : {0u, 1u}) {
        auto stream = cz::InputStream::FromMemory(data, size);
        cz::I_WavFile* file = factory.OpenWavFileFromMemory(stream, mode, 1);
        if (!file) continue;
        auto* wav = static_cast<cz::C_WavFile*>(file);
        if (mode == 1 && wav->Sound()) {
            cz::C_WavData* sound = wav->Sound();
            sound->DetectSilenceAll(16, 10);
            sound->GetMean();
            if (cz::I_WavData* wide = sound->ConvertFormat(16, 16, 1, nullptr)) wide->Release();
            sound->BuildSilenceSegments();
        }
        file->Release();
    }
    return 0;
}
