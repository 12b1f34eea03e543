// The conversion chains behind the exports. The chains return 1 (or another
// documented value) for success and 0 for failure; they may throw, and the
// export's ExportGuard turns that into the failure value.
//
// Files the caller names:
// - Before anything is opened for writing, every chain checks its files with
//   DistinctFiles: an output, binary or header (binary + ".h") that is the
//   same file as an input (by another spelling of the path, a hard link or a
//   symbolic link too), or two outputs that are one file, refuse the call
//   with 0 and nothing written.
// - Converting in place (the output is the input file) is allowed only where
//   the input is read completely, and let go, before the output is opened:
//     ConvertWAVToAPM/MDM, their WithResample forms, WAVResample,
//     ConvertMDMToWAV: the sound is loaded whole, the source closed, and the
//     output written;
//     ConvertMP3ToWAVWithResample, ConvertMP3ToAPM/MDMWithResample (and the
//     WMA forms): the input is decoded into a private temporary file first.
//   ConvertMP3ToWAV (and ConvertWMAToWAV) refuse it: the decoder streams the
//   input while the output is written.
//   The binary and the header are never allowed to be an input.
// - Every file the caller names is written under a temporary name in its
//   own folder and renamed into place when complete (platform/SafeFiles.h):
//   a failed conversion leaves no partial file, and an existing file of that
//   name as it was.
// - Intermediate files live in a private temporary folder made for the call
//   (TempFolder), removed with its contents on every path.
// - Stages that completed stay: when the chip file was written and only the
//   binary step fails, the chip file stays and the result is 0; when the
//   binary was written and only its header cannot be, the binary stays, the
//   result is 0 and the message sink says why.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace cz::api {

enum class Compressed { kMp3, kWma };

// A null or empty path is refused before any work starts.
bool ValidPath(const char* path);

enum class InPlace { kRefused, kAllowed };
// True when the files of a call may be used as given: no two outputs are
// one file, and no output is an input, except that with InPlace::kAllowed
// the first output may be an input (converting in place). Null entries are
// skipped. Nothing is opened for writing.
bool DistinctFiles(std::initializer_list<const char*> inputs, std::initializer_list<std::string> outputs,
                   InPlace inPlace);
// The header a binary gets: binary + ".h".
std::string HeaderPath(const char* binary);

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

}  // namespace cz::api
