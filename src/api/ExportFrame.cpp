#include "api/ExportFrame.h"

namespace cz::api {

bool ValidPath(const char* path) { return path != nullptr && path[0] != '\0'; }

int32_t CheckSupport(const char* path) { return 0; }
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
