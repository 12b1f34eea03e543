// The frame every export runs in, and the conversion chains behind the
// exports. The chains return 1 (or another documented value) for success and
// 0 for failure; they may throw, ExportGuard turns that into the failure value.
#pragma once

#include <cstdint>
#include <exception>
#include <new>

namespace cz::api {

template <typename Body>
int32_t ExportGuard(int32_t failure, Body&& body) noexcept {
    try {
        return static_cast<int32_t>(body());
    } catch (...) {
        return failure;
    }
}

enum class Compressed { kMp3, kWma };

// A null or empty path is refused before any work starts.
bool ValidPath(const char* path);

int32_t CheckSupport(const char* path);
int32_t ConvertWavToChip(const char* source, const char* output, const char* binary, uint32_t formatId);
int32_t ConvertWavToChipWithResample(const char* source, const char* output, const char* binary, uint32_t rate,
                                     uint32_t formatId);
uint32_t EsbCodecParam(uint32_t coderValue, uint32_t bitRate, uint32_t coderFlag);
int32_t ConvertWavToCodecFormat(const char* source, const char* output, const char* binary, uint32_t rate,
                                uint32_t formatId, uint32_t codecParam);
int32_t ConvertWavToXmf(const char* source, const char* xmf);
int32_t ConvertWavToXmfWithResample(const char* source, const char* xmf, uint32_t rate);
int32_t ResampleWav(const char* source, const char* output, uint32_t rate);
int32_t ConvertMdmToWav(const char* source, const char* output);
// RbfCutToFitSize: a copy of the resource that fits the limit (whole blocks
// and the end mark).
int32_t CutRbfToFitSize(const char* source, const char* output, uint32_t limit);
int32_t ConvertCompressedToWav(Compressed kind, const char* input, const char* output);
int32_t ConvertCompressedToWavWithResample(Compressed kind, const char* input, const char* output, uint32_t rate);
int32_t ConvertCompressedToChip(Compressed kind, const char* input, const char* output, const char* binary,
                                uint32_t rate, uint32_t formatId);
int32_t ConvertMidToImfByChipItem(uintptr_t first, uintptr_t second, uintptr_t third);
// Chains that have not landed yet: always failure.
int32_t NotAvailable(const char* input, const char* output);

}  // namespace cz::api
