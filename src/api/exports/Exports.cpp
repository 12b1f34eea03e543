// The 29 exported functions. Each is a thin driver over the library's
// classes; every body runs inside ExportGuard so no exception crosses the
// C boundary.
#include "cadenzor/cadenzor.h"

#include "api/chains/Chains.h"
#include "api/chains/MidiBridge.h"
#include "api/chains/XmfReading.h"
#include "api/exports/ExportGuard.h"
#include "formats/registry/FormatId.h"

using cz::api::ExportGuard;

extern "C" {

CZ_API int32_t CZ_CALL ConvertWAVToAPM(const char* source, const char* apmPath, const char* binaryPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertWavToChip(source, apmPath, binaryPath, cz::kFormatApm); });
}
CZ_API int32_t CZ_CALL ConvertWAVToMDM(const char* source, const char* mdmPath, const char* binaryPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertWavToChip(source, mdmPath, binaryPath, cz::kFormatMdm); });
}
CZ_API int32_t CZ_CALL ConvertWAVToAPMWithResample(const char* source, const char* apmPath, const char* binaryPath,
                                                   uint32_t targetRate) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertWavToChipWithResample(source, apmPath, binaryPath, targetRate, cz::kFormatApm);
    });
}
CZ_API int32_t CZ_CALL ConvertWAVToMDMWithResample(const char* source, const char* mdmPath, const char* binaryPath,
                                                   uint32_t targetRate) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertWavToChipWithResample(source, mdmPath, binaryPath, targetRate, cz::kFormatMdm);
    });
}
CZ_API int32_t CZ_CALL ConvertWAVToESB(const char* source, const char* esbPath, const char* binaryPath,
                                       uint32_t targetRate, uint32_t coderValue, uint32_t bitRate, uint32_t coderFlag) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertWavToCodecFormat(source, esbPath, binaryPath, targetRate, cz::kFormatEsb,
                                                cz::api::EsbCodecParam(coderValue, bitRate, coderFlag));
    });
}
CZ_API int32_t CZ_CALL ConvertWAVToMCP(const char* source, const char* mcpPath, const char* binaryPath,
                                       uint32_t targetRate, uint32_t coderSetting) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertWavToCodecFormat(source, mcpPath, binaryPath, targetRate, cz::kFormatMcp,
                                                coderSetting & 0xFFu);
    });
}
CZ_API int32_t CZ_CALL ConvertWAVToWLP(const char* source, const char* wlpPath, const char* binaryPath,
                                       uint32_t targetRate, uint32_t coderSetting) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertWavToCodecFormat(source, wlpPath, binaryPath, targetRate, cz::kFormatWlp,
                                                coderSetting & 0xFFu);
    });
}
CZ_API int32_t CZ_CALL ConvertWAVToXMF(const char* source, const char* xmfPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertWavToXmf(source, xmfPath); });
}
CZ_API int32_t CZ_CALL ConvertWAVToXMFWithResample(const char* source, const char* xmfPath, uint32_t targetRate) {
    return ExportGuard(0, [&] { return cz::api::ConvertWavToXmfWithResample(source, xmfPath, targetRate); });
}
CZ_API int32_t CZ_CALL WAVResample(const char* source, const char* wavPath, uint32_t targetRate) {
    return ExportGuard(0, [&] { return cz::api::ResampleWav(source, wavPath, targetRate); });
}
CZ_API int32_t CZ_CALL CheckSupportWavFile(const char* path) {
    return ExportGuard(0, [&] { return cz::api::CheckSupport(path); });
}
CZ_API int32_t CZ_CALL ConvertMDMToWAV(const char* source, const char* wavPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertMdmToWav(source, wavPath); });
}
CZ_API int32_t CZ_CALL ConvertMP3ToWAV(const char* mp3Path, const char* wavPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertCompressedToWav(cz::api::Compressed::kMp3, mp3Path, wavPath); });
}
CZ_API int32_t CZ_CALL ConvertMP3ToWAVWithResample(const char* mp3Path, const char* wavPath, uint32_t targetRate) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertCompressedToWavWithResample(cz::api::Compressed::kMp3, mp3Path, wavPath, targetRate);
    });
}
CZ_API int32_t CZ_CALL ConvertMP3ToAPMWithResample(const char* mp3Path, const char* apmPath, const char* binaryPath,
                                                   uint32_t targetRate) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertCompressedToChip(cz::api::Compressed::kMp3, mp3Path, apmPath, binaryPath, targetRate,
                                                cz::kFormatApm);
    });
}
CZ_API int32_t CZ_CALL ConvertMP3ToMDMWithResample(const char* mp3Path, const char* mdmPath, const char* binaryPath,
                                                   uint32_t targetRate) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertCompressedToChip(cz::api::Compressed::kMp3, mp3Path, mdmPath, binaryPath, targetRate,
                                                cz::kFormatMdm);
    });
}
CZ_API int32_t CZ_CALL ConvertWMAToWAV(const char* wmaPath, const char* wavPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertCompressedToWav(cz::api::Compressed::kWma, wmaPath, wavPath); });
}
CZ_API int32_t CZ_CALL ConvertWMAToWAVWithResample(const char* wmaPath, const char* wavPath, uint32_t targetRate) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertCompressedToWavWithResample(cz::api::Compressed::kWma, wmaPath, wavPath, targetRate);
    });
}
CZ_API int32_t CZ_CALL ConvertWMAToAPMWithResample(const char* wmaPath, const char* apmPath, const char* binaryPath,
                                                   uint32_t targetRate) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertCompressedToChip(cz::api::Compressed::kWma, wmaPath, apmPath, binaryPath, targetRate,
                                                cz::kFormatApm);
    });
}
CZ_API int32_t CZ_CALL ConvertWMAToMDMWithResample(const char* wmaPath, const char* mdmPath, const char* binaryPath,
                                                   uint32_t targetRate) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertCompressedToChip(cz::api::Compressed::kWma, wmaPath, mdmPath, binaryPath, targetRate,
                                                cz::kFormatMdm);
    });
}
CZ_API int32_t CZ_CALL ConvertMIDToIMF(const char* midiPath, const char* imfPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertMidToImf(midiPath, imfPath); });
}
CZ_API int32_t CZ_CALL ConvertMIDToIMFByChipItem(uintptr_t first, uintptr_t second, uintptr_t third) {
    return ExportGuard(0, [&] { return cz::api::ConvertMidToImfByChipItem(first, second, third); });
}
CZ_API int32_t CZ_CALL ConvertMIDToXMF(const char* midiPath, const char* xmfPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertMidToXmf(midiPath, xmfPath); });
}
CZ_API int32_t CZ_CALL ConvertXMFToMID(const char* xmfPath, const char* midiPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertXmfToMid(xmfPath, midiPath); });
}
CZ_API int32_t CZ_CALL ConvertXMFToMIDAndDLS(const char* xmfPath, const char* midiPath, const char* dlsPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertXmfToMidAndDls(xmfPath, midiPath, dlsPath); });
}
CZ_API int32_t CZ_CALL ConvertXMFToMIDAndDLSForPlay(const char* xmfPath, const char* midiPath, const char* dlsPath,
                                                    const char* midiForPlayPath, const char* dlsForPlayPath) {
    return ExportGuard(0, [&] {
        return cz::api::ConvertXmfToMidAndDlsForPlay(xmfPath, midiPath, dlsPath, midiForPlayPath, dlsForPlayPath);
    });
}
CZ_API int32_t CZ_CALL ConvertXMFToWAV(const char* xmfPath, const char* wavPath) {
    return ExportGuard(0, [&] { return cz::api::ConvertXmfToWav(xmfPath, wavPath); });
}
CZ_API int32_t CZ_CALL GetXMFResourceType(const char* xmfPath) {
    return ExportGuard(-1, [&] { return cz::api::XmfResourceType(xmfPath); });
}
CZ_API int32_t CZ_CALL RbfCutToFitSize(const char* rbfPath, const char* outPath, uint32_t sizeLimit) {
    return ExportGuard(0, [&] { return cz::api::CutRbfToFitSize(rbfPath, outPath, sizeLimit); });
}

}  // extern "C"
