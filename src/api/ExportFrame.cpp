#include "api/ExportFrame.h"

#include "api/C_WavFileFormat.h"
#include "wave/I_WavFile.h"

namespace cz::api {

bool ValidPath(const char* path) { return path != nullptr && path[0] != '\0'; }

int32_t CheckSupport(const char* path) {
    if (!ValidPath(path)) return 0;
    C_WavFileFormat factory;
    I_WavFile* file = factory.OpenWavFile(path, 1, 1);
    if (!file) return 0;
    file->Release();
    return 1;
}
int32_t ConvertWavToChip(const char*, const char*, const char*, uint32_t) { return 0; }
int32_t ConvertWavToChipWithResample(const char*, const char*, const char*, uint32_t, uint32_t) { return 0; }

uint32_t EsbCodecParam(uint32_t coderValue, uint32_t bitRate, uint32_t coderFlag) {
    uint32_t param = (bitRate / 100u) & 0xFFFFu;
    param |= (coderValue & 0x7FFFu) << 16;
    if (coderFlag != 0) param |= 0x80000000u;
    return param;
}

int32_t ConvertWavToCodecFormat(const char*, const char*, const char*, uint32_t, uint32_t, uint32_t) { return 0; }
int32_t ConvertWavToXmf(const char*, const char*) { return 0; }
int32_t ConvertWavToXmfWithResample(const char*, const char*, uint32_t) { return 0; }
int32_t ResampleWav(const char*, const char*, uint32_t) { return 0; }
int32_t ConvertMdmToWav(const char*, const char*) { return 0; }
int32_t ConvertCompressedToWav(Compressed, const char*, const char*) { return 0; }
int32_t ConvertCompressedToWavWithResample(Compressed, const char*, const char*, uint32_t) { return 0; }
int32_t ConvertCompressedToChip(Compressed, const char*, const char*, const char*, uint32_t, uint32_t) { return 0; }
int32_t ConvertMidToImfByChipItem(uintptr_t, uintptr_t, uintptr_t) { return 0; }
int32_t NotAvailable(const char*, const char*) { return 0; }

}  // namespace cz::api
