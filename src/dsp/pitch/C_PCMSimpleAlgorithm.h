// The entries every simple in-place PCM algorithm shares: a file is opened
// through the format registry, processed as its sound and saved; a buffer is
// copied into a sound of its own and processed there. The algorithm itself is
// ProcessWavData.
#pragma once

#include <cstdint>
#include <cstring>

#include "foundation/RefPtr.h"
#include "wave/C_WavData.h"
#include "wave/C_WavFile.h"
#include "wave/SoundFileOpener.h"

namespace cz {

template <typename I>
class C_PCMSimpleAlgorithm : public I {
public:
    int32_t ProcessFile(const char* source, const char* destination, int32_t formatId,
                        I_ProgressCallback* callback) override {
        if (!source || !destination || !*source || !*destination) return 0;
        RefPtr<I_WavFile> file(OpenSoundFile(source));
        if (!file) return 0;
        if (!this->ProcessWavFile(file.get(), callback)) return 0;
        return file->SaveAs(static_cast<uint32_t>(formatId), destination);
    }

    int32_t ProcessWavFile(I_WavFile* file, I_ProgressCallback* callback) override {
        if (!file) return 0;
        return this->ProcessWavData(file->GetWavData(), callback);
    }

    int32_t ProcessBuffer(const uint8_t* buffer, uint32_t size, uint32_t rate, uint16_t channels, uint16_t validBits,
                          uint16_t containerBits, uint32_t signedFlag, I_ProgressCallback* callback,
                          I_WavData** result) override {
        if (result) *result = nullptr;
        if ((!buffer && size) || channels == 0 || containerBits == 0 || containerBits % 8 != 0 || validBits == 0 ||
            validBits > containerBits)
            return 0;
        RefPtr<C_WavData> sound(new C_WavData);
        sound->SetFormat(rate, size, channels, validBits, containerBits, signedFlag);
        if (size % sound->GetWavInfo()->GetBlockAlign() != 0) return 0;
        if (size && !sound->SetSampleData(buffer, size)) return 0;
        if (!this->ProcessWavData(sound.get(), callback)) return 0;
        if (result) {
            sound->AddRef();
            *result = sound.get();
        }
        return 1;
    }
};

}  // namespace cz
