/*
 * Cadenzor: sound material to the resources of speech-and-melody chips.
 *
 * The library's whole public surface: 29 conversion functions. Each one runs
 * a conversion from end to end on files named by the caller and returns a
 * result code: 1 for success and 0 for failure unless its comment says
 * otherwise. Paths are zero-terminated 8-bit strings and are never written to.
 * Sample rates are in Hz. No function throws, and none keeps state between
 * calls.
 *
 * On 32-bit Windows the functions use the standard calling convention and are
 * exported under their undecorated names.
 */
#ifndef CADENZOR_CADENZOR_H
#define CADENZOR_CADENZOR_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define CZ_CALL __stdcall
#else
#define CZ_CALL
#endif

#if defined(_WIN32)
#if defined(CADENZOR_BUILDING)
#define CZ_API __declspec(dllexport)
#else
#define CZ_API __declspec(dllimport)
#endif
#else
#if defined(CADENZOR_BUILDING)
#define CZ_API __attribute__((visibility("default")))
#else
#define CZ_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Sound (any format the library opens) to APM, plus the chip resource binary
 * and its byte-array header (binaryPath + ".h"). */
CZ_API int32_t CZ_CALL ConvertWAVToAPM(const char* source, const char* apmPath, const char* binaryPath);
CZ_API int32_t CZ_CALL ConvertWAVToMDM(const char* source, const char* mdmPath, const char* binaryPath);
CZ_API int32_t CZ_CALL ConvertWAVToAPMWithResample(const char* source, const char* apmPath, const char* binaryPath,
                                                   uint32_t targetRate);
CZ_API int32_t CZ_CALL ConvertWAVToMDMWithResample(const char* source, const char* mdmPath, const char* binaryPath,
                                                   uint32_t targetRate);
/* targetRate 0 keeps the source rate. */
CZ_API int32_t CZ_CALL ConvertWAVToESB(const char* source, const char* esbPath, const char* binaryPath,
                                       uint32_t targetRate, uint32_t coderValue, uint32_t bitRate, uint32_t coderFlag);
CZ_API int32_t CZ_CALL ConvertWAVToMCP(const char* source, const char* mcpPath, const char* binaryPath,
                                       uint32_t targetRate, uint32_t coderSetting);
CZ_API int32_t CZ_CALL ConvertWAVToWLP(const char* source, const char* wlpPath, const char* binaryPath,
                                       uint32_t targetRate, uint32_t coderSetting);
CZ_API int32_t CZ_CALL ConvertWAVToXMF(const char* source, const char* xmfPath);
CZ_API int32_t CZ_CALL ConvertWAVToXMFWithResample(const char* source, const char* xmfPath, uint32_t targetRate);
CZ_API int32_t CZ_CALL WAVResample(const char* source, const char* wavPath, uint32_t targetRate);
/* 1 when the library can open the file, else 0. */
CZ_API int32_t CZ_CALL CheckSupportWavFile(const char* path);
/* MDM or RBF (by extension, any case) to 16-bit WAV. */
CZ_API int32_t CZ_CALL ConvertMDMToWAV(const char* source, const char* wavPath);
CZ_API int32_t CZ_CALL ConvertMP3ToWAV(const char* mp3Path, const char* wavPath);
CZ_API int32_t CZ_CALL ConvertMP3ToWAVWithResample(const char* mp3Path, const char* wavPath, uint32_t targetRate);
CZ_API int32_t CZ_CALL ConvertMP3ToAPMWithResample(const char* mp3Path, const char* apmPath, const char* binaryPath,
                                                   uint32_t targetRate);
CZ_API int32_t CZ_CALL ConvertMP3ToMDMWithResample(const char* mp3Path, const char* mdmPath, const char* binaryPath,
                                                   uint32_t targetRate);
CZ_API int32_t CZ_CALL ConvertWMAToWAV(const char* wmaPath, const char* wavPath);
CZ_API int32_t CZ_CALL ConvertWMAToWAVWithResample(const char* wmaPath, const char* wavPath, uint32_t targetRate);
CZ_API int32_t CZ_CALL ConvertWMAToAPMWithResample(const char* wmaPath, const char* apmPath, const char* binaryPath,
                                                   uint32_t targetRate);
CZ_API int32_t CZ_CALL ConvertWMAToMDMWithResample(const char* wmaPath, const char* mdmPath, const char* binaryPath,
                                                   uint32_t targetRate);
CZ_API int32_t CZ_CALL ConvertMIDToIMF(const char* midiPath, const char* imfPath);
/* The three values go unchanged to the melody tool library. */
CZ_API int32_t CZ_CALL ConvertMIDToIMFByChipItem(uintptr_t first, uintptr_t second, uintptr_t third);
CZ_API int32_t CZ_CALL ConvertMIDToXMF(const char* midiPath, const char* xmfPath);
CZ_API int32_t CZ_CALL ConvertXMFToMID(const char* xmfPath, const char* midiPath);
CZ_API int32_t CZ_CALL ConvertXMFToMIDAndDLS(const char* xmfPath, const char* midiPath, const char* dlsPath);
CZ_API int32_t CZ_CALL ConvertXMFToMIDAndDLSForPlay(const char* xmfPath, const char* midiPath, const char* dlsPath,
                                                    const char* midiForPlayPath, const char* dlsForPlayPath);
CZ_API int32_t CZ_CALL ConvertXMFToWAV(const char* xmfPath, const char* wavPath);
/* The format library's resource type, or -1 when it cannot be asked. */
CZ_API int32_t CZ_CALL GetXMFResourceType(const char* xmfPath);
CZ_API int32_t CZ_CALL RbfCutToFitSize(const char* rbfPath, const char* outPath, uint32_t sizeLimit);

#ifdef __cplusplus
}
#endif

#endif /* CADENZOR_CADENZOR_H */
