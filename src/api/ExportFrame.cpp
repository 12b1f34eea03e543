#include "api/ExportFrame.h"

#include "api/C_ResourceConverter.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/mdm/C_MdmFile.h"
#include "foundation/C_CUFilePath.h"
#include "api/TempName.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "dsp/resample/C_PCMResample.h"
#include "foundation/C_CUString.h"
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
int32_t ConvertWavToChip(const char* source, const char* output, const char* binary, uint32_t formatId) {
    if (!ValidPath(source) || !ValidPath(output) || !ValidPath(binary)) return 0;
    C_ResourceConverter converter;
    if (!converter.ConvertFormat(source, output, formatId)) return 0;
    return converter.ConvertToBinary(output, binary) ? 1 : 0;
}

int32_t ConvertWavToChipWithResample(const char* source, const char* output, const char* binary, uint32_t rate,
                                     uint32_t formatId) {
    if (!ValidPath(source) || !ValidPath(output) || !ValidPath(binary)) return 0;
    C_ResourceConverter converter;
    C_PCMResample resampler;
    TempNames temp;
    std::string placeholder = temp.Placeholder();
    if (placeholder.empty()) return 0;
    std::string resampled = temp.Derived(placeholder, FormatString("_%u.wav", rate));
    if (!resampler.ResampleFile(2, source, resampled.c_str(), 2, rate, 1.0, nullptr)) return 0;
    if (!converter.ConvertFormat(resampled.c_str(), output, formatId)) return 0;
    return converter.ConvertToBinary(output, binary) ? 1 : 0;
}

uint32_t EsbCodecParam(uint32_t coderValue, uint32_t bitRate, uint32_t coderFlag) {
    uint32_t param = (bitRate / 100u) & 0xFFFFu;
    param |= (coderValue & 0x7FFFu) << 16;
    if (coderFlag != 0) param |= 0x80000000u;
    return param;
}

int32_t ConvertWavToCodecFormat(const char*, const char*, const char*, uint32_t, uint32_t, uint32_t) { return 0; }
int32_t ConvertWavToXmf(const char* source, const char* xmf) {
    if (!ValidPath(source) || !ValidPath(xmf)) return 0;
    C_ResourceConverter converter;
    return converter.ConvertToXmf(source, xmf);
}
int32_t ConvertWavToXmfWithResample(const char* source, const char* xmf, uint32_t rate) {
    if (!ValidPath(source) || !ValidPath(xmf)) return 0;
    C_ResourceConverter converter;
    C_PCMResample resampler;
    TempNames temp;  // the resampled sound is removed on every path
    std::string placeholder = temp.Placeholder();
    if (placeholder.empty()) return 0;
    std::string resampled = temp.Derived(placeholder, ".wav");
    if (!resampler.ResampleFile(2, source, resampled.c_str(), 2, rate, 1.0, nullptr)) return 0;
    return converter.ConvertToXmf(resampled.c_str(), xmf);
}
int32_t ResampleWav(const char* source, const char* output, uint32_t rate) {
    if (!ValidPath(source) || !ValidPath(output)) return 0;
    C_PCMResample resampler;
    return resampler.ResampleFile(2, source, output, 2, rate, 1.0, nullptr) ? 1 : 0;
}
int32_t ConvertMdmToWav(const char* source, const char* output) {
    if (!ValidPath(source) || !ValidPath(output)) return 0;
    C_CUFilePath split(source);
    if (split.GetExtension().EqualsNoCase(".MDM")) return ConvertMdmFileToWav(source, output);
    return 0;  // RBF resources are not read yet
}
int32_t ConvertCompressedToWav(Compressed kind, const char* input, const char* output) {
    if (!ValidPath(input) || !ValidPath(output)) return 0;
    if (kind == Compressed::kMp3) {
        mp3::C_Mp3ToWavConverter converter;
        return converter.Convert(input, output, nullptr, 0) ? 1 : 0;
    }
    return 0;  // WMA input is not built yet
}

int32_t ConvertCompressedToWavWithResample(Compressed kind, const char* input, const char* output, uint32_t rate) {
    if (!ValidPath(input) || !ValidPath(output)) return 0;
    TempNames temp;
    std::string placeholder = temp.Placeholder();
    if (placeholder.empty()) return 0;
    std::string decoded = temp.Derived(placeholder, ".wav");
    if (!ConvertCompressedToWav(kind, input, decoded.c_str())) return 0;
    C_PCMResample resampler;
    return resampler.ResampleFile(2, decoded.c_str(), output, 2, rate, 1.0, nullptr) ? 1 : 0;
}
int32_t ConvertCompressedToChip(Compressed kind, const char* input, const char* output, const char* binary,
                                uint32_t rate, uint32_t formatId) {
    if (!ValidPath(input) || !ValidPath(output) || !ValidPath(binary)) return 0;
    TempNames temp;
    std::string first = temp.Placeholder();
    std::string second = temp.Placeholder();
    if (first.empty() || second.empty()) return 0;
    std::string decoded = temp.Derived(first, ".wav");
    std::string resampled = temp.Derived(second, ".wav");
    if (!ConvertCompressedToWav(kind, input, decoded.c_str())) return 0;
    C_PCMResample resampler;
    if (!resampler.ResampleFile(2, decoded.c_str(), resampled.c_str(), 2, rate, 1.0, nullptr)) return 0;
    return ConvertWavToChip(resampled.c_str(), output, binary, formatId);
}
int32_t ConvertMidToImfByChipItem(uintptr_t, uintptr_t, uintptr_t) { return 0; }
int32_t NotAvailable(const char*, const char*) { return 0; }

}  // namespace cz::api
