#include "api/chains/Chains.h"

#include "api/pipeline/Pipeline.h"
#include "api/resconv/C_ResourceConverter.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/mdm/C_MdmFile.h"
#include "formats/rbf/RbfFile.h"
#include "foundation/C_CUFilePath.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "decoders/wma/C_WmaToWavConverter.h"
#include "dsp/resample/C_PCMResample.h"
#include "foundation/C_CUString.h"
#include "foundation/RefPtr.h"
#include "wave/C_WavFile.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/I_WavFile.h"

namespace cz::api {

bool ValidPath(const char* path) { return path != nullptr && path[0] != '\0'; }

namespace {

// A job of an export: outputs replaced, no messages, no progress. The input
// must be of `kind` when one is given (the MP3 and WMA exports).
pipeline::Job ExportJob(const char* input, const char* output, uint32_t rate, uint32_t formatId) {
    pipeline::Job job;
    job.input = input;
    job.output = output;
    job.writeAs = formatId;
    job.rate = rate;
    job.overwrite = true;
    job.profile = Profile::Compatible();  // the exports' bytes, always
    // What the format factory opens, as the sound exports always took it:
    // compressed input only where an export names it.
    job.forceKind = true;
    job.kind = pipeline::DetectInput(input) == pipeline::InputKind::kPlainWav ? pipeline::InputKind::kPlainWav
                                                                              : pipeline::InputKind::kOther;
    return job;
}

pipeline::InputKind KindOf(Compressed kind) {
    return kind == Compressed::kMp3 ? pipeline::InputKind::kMp3 : pipeline::InputKind::kWma;
}

}  // namespace

bool DistinctFiles(std::initializer_list<const char*> inputs, std::initializer_list<std::string> outputs,
                   InPlace inPlace) {
    size_t i = 0;
    for (auto out = outputs.begin(); out != outputs.end(); ++out, ++i) {
        for (auto other = out + 1; other != outputs.end(); ++other)
            if (platform::SameFile(*out, *other)) return false;
        if (i == 0 && inPlace == InPlace::kAllowed) continue;
        for (const char* in : inputs)
            if (in && platform::SameFile(in, *out)) return false;
    }
    return true;
}

std::string HeaderPath(const char* binary) { return std::string(binary ? binary : "") + ".h"; }

int32_t CheckSupport(const char* path) {
    if (!ValidPath(path)) return 0;
    C_WavFileFormat factory;
    return factory.Open(path) ? 1 : 0;
}
int32_t ConvertWavToChip(const char* source, const char* output, const char* binary, uint32_t formatId) {
    if (!ValidPath(source) || !ValidPath(output) || !ValidPath(binary)) return 0;
    if (!DistinctFiles({source}, {output, binary, HeaderPath(binary)}, InPlace::kAllowed)) return 0;
    C_ResourceConverter converter;
    if (!converter.ConvertFormat(source, output, formatId)) return 0;
    return converter.ConvertToBinary(output, binary) ? 1 : 0;
}

int32_t ConvertWavToChipWithResample(const char* source, const char* output, const char* binary, uint32_t rate,
                                     uint32_t formatId) {
    if (!ValidPath(source) || !ValidPath(output) || !ValidPath(binary)) return 0;
    if (!DistinctFiles({source}, {output, binary, HeaderPath(binary)}, InPlace::kAllowed)) return 0;
    if (!C_PCMResample::ValidRate(rate)) {
        // Refused by the resampler, with its message.
        C_PCMResample resampler;
        auto temp = platform::TempFolder::Create();
        if (!temp) return 0;
        std::string resampled = temp->File(FormatString("resampled_%u.wav", rate));
        resampler.ResampleFile(kResampleSinc2, source, resampled.c_str(), kFormatWav, rate, kResampleSpare, nullptr);
        return 0;
    }
    // The chip file, then its binary: a chip file made stays when only the
    // binary fails.
    if (!pipeline::Run(ExportJob(source, output, rate, formatId)).ok()) return 0;
    C_ResourceConverter converter;
    return converter.ConvertToBinary(output, binary) ? 1 : 0;
}

uint32_t EsbCodecParam(uint32_t coderValue, uint32_t bitRate, uint32_t coderFlag) {
    uint32_t param = (bitRate / 100u) & 0xFFFFu;
    param |= (coderValue & 0x7FFFu) << 16;
    if (coderFlag != 0) param |= 0x80000000u;
    return param;
}

int32_t ConvertWavToCodecFormat(const char* source, const char* output, const char* binary, uint32_t rate,
                                uint32_t formatId, uint32_t codecParam) {
    // The binary is optional here: without one only the chip file is made.
    const bool withBinary = binary && *binary;
    if (!ValidPath(source) || !ValidPath(output)) return 0;
    if (withBinary ? !DistinctFiles({source}, {output, binary, HeaderPath(binary)}, InPlace::kAllowed)
                   : !DistinctFiles({source}, {output}, InPlace::kAllowed))
        return 0;
    auto temp = platform::TempFolder::Create();
    if (!temp) return 0;
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(source);
    if (!file) return 0;
    const uint32_t sourceRate = file->GetWavInfo() ? file->GetWavInfo()->GetSampleRate() : 0;
    if (rate != 0 && rate != sourceRate) {
        file.reset();
        const std::string resampled = temp->File(FormatString("resampled_%u.wav", rate));
        C_PCMResample resampler;
        if (!resampler.ResampleFile(kResampleSinc2, source, resampled.c_str(), kFormatWav, rate, kResampleSpare,
                                    nullptr))
            return 0;
        file = factory.Open(resampled.c_str());
        if (!file) return 0;
    }
    // Loaded whole: the output may replace the source.
    file->ReleaseSource();
    file->GetWavData()->GetWriteParam()->SetCodecParam(codecParam);
    if (!file->SaveAs(formatId, output)) return 0;
    file.reset();
    if (!withBinary) return 1;
    return C_ResourceConverter().ConvertToBinary(output, binary) ? 1 : 0;
}
int32_t ConvertWavToXmf(const char* source, const char* xmf) {
    if (!ValidPath(source) || !ValidPath(xmf)) return 0;
    // The sound is coded through temporary files before the XMF is written.
    if (!DistinctFiles({source}, {xmf}, InPlace::kAllowed)) return 0;
    C_ResourceConverter converter;
    return converter.ConvertToXmf(source, xmf);
}
int32_t ConvertWavToXmfWithResample(const char* source, const char* xmf, uint32_t rate) {
    if (!ValidPath(source) || !ValidPath(xmf)) return 0;
    if (!DistinctFiles({source}, {xmf}, InPlace::kAllowed)) return 0;
    auto temp = platform::TempFolder::Create();
    if (!temp) return 0;
    std::string resampled = temp->File(FormatString("resampled_%u.wav", rate));
    C_PCMResample resampler;
    if (!resampler.ResampleFile(kResampleSinc2, source, resampled.c_str(), kFormatWav, rate, kResampleSpare, nullptr))
        return 0;
    C_ResourceConverter converter;
    return converter.ConvertToXmf(resampled.c_str(), xmf);
}
int32_t ResampleWav(const char* source, const char* output, uint32_t rate) {
    if (!ValidPath(source) || !ValidPath(output)) return 0;
    if (!DistinctFiles({source}, {output}, InPlace::kAllowed)) return 0;
    if (!C_PCMResample::ValidRate(rate)) {
        C_PCMResample resampler;
        return resampler.ResampleFile(kResampleSinc2, source, output, kFormatWav, rate, kResampleSpare, nullptr) ? 1
                                                                                                                 : 0;
    }
    pipeline::Job job = ExportJob(source, output, rate, kFormatWav);
    job.asLoaded = true;
    return pipeline::Run(job).ok() ? 1 : 0;
}
int32_t ConvertMdmToWav(const char* source, const char* output) {
    if (!ValidPath(source) || !ValidPath(output)) return 0;
    if (!DistinctFiles({source}, {output}, InPlace::kAllowed)) return 0;
    C_CUFilePath split(source);
    if (split.GetExtension().EqualsNoCase(".MDM")) {
        C_MdmFile file;
        // The decoded section: the sound the chip plays, as the RBF half of
        // this export gives it.
        if (!file.Load(source, 0) || !file.LoadPlayedSound()) return 0;
        file.ReleaseSource();  // loaded whole: the WAV may replace the MDM file
        return file.SaveAs(kFormatWav, output);
    }
    if (split.GetExtension().EqualsNoCase(".RBF")) return ConvertRbfToWav(source, output);
    return 0;
}
int32_t ConvertCompressedToWav(Compressed kind, const char* input, const char* output) {
    if (!ValidPath(input) || !ValidPath(output)) return 0;
    // The decoder reads the input while it writes the output: never in place.
    if (!DistinctFiles({input}, {output}, InPlace::kRefused)) return 0;
    if (kind == Compressed::kMp3) {
        mp3::C_Mp3ToWavConverter converter;
        return converter.Convert(input, output, nullptr, 0) ? 1 : 0;
    }
    wma::C_WmaToWavConverter converter;
    return converter.Convert(input, output, nullptr) ? 1 : 0;
}

int32_t ConvertCompressedToWavWithResample(Compressed kind, const char* input, const char* output, uint32_t rate) {
    if (!ValidPath(input) || !ValidPath(output)) return 0;
    if (!DistinctFiles({input}, {output}, InPlace::kAllowed)) return 0;
    if (!C_PCMResample::ValidRate(rate)) {
        auto temp = platform::TempFolder::Create();
        if (!temp) return 0;
        std::string decoded = temp->File("decoded.wav");
        if (!ConvertCompressedToWav(kind, input, decoded.c_str())) return 0;
        C_PCMResample resampler;
        return resampler.ResampleFile(kResampleSinc2, decoded.c_str(), output, kFormatWav, rate, kResampleSpare,
                                      nullptr)
                   ? 1
                   : 0;
    }
    pipeline::Job job = ExportJob(input, output, rate, kFormatWav);
    job.asLoaded = true;
    job.forceKind = true;
    job.kind = KindOf(kind);
    return pipeline::Run(job).ok() ? 1 : 0;
}
int32_t ConvertCompressedToChip(Compressed kind, const char* input, const char* output, const char* binary,
                                uint32_t rate, uint32_t formatId) {
    if (!ValidPath(input) || !ValidPath(output) || !ValidPath(binary)) return 0;
    if (!DistinctFiles({input}, {output, binary, HeaderPath(binary)}, InPlace::kAllowed)) return 0;
    if (!C_PCMResample::ValidRate(rate)) {
        auto temp = platform::TempFolder::Create();
        if (!temp) return 0;
        std::string decoded = temp->File("decoded.wav");
        std::string resampled = temp->File(FormatString("resampled_%u.wav", rate));
        if (!ConvertCompressedToWav(kind, input, decoded.c_str())) return 0;
        C_PCMResample resampler;
        resampler.ResampleFile(kResampleSinc2, decoded.c_str(), resampled.c_str(), kFormatWav, rate, kResampleSpare,
                               nullptr);
        return 0;
    }
    // Decoded, resampled and saved as the chip format in one job; then the
    // binary, so that the chip file stays when only the binary fails.
    pipeline::Job job = ExportJob(input, output, rate, formatId);
    job.forceKind = true;
    job.kind = KindOf(kind);
    if (!pipeline::Run(job).ok()) return 0;
    C_ResourceConverter converter;
    return converter.ConvertToBinary(output, binary) ? 1 : 0;
}
int32_t CutRbfToFitSize(const char* source, const char* output, uint32_t limit) {
    if (!ValidPath(source) || !ValidPath(output)) return 0;
    // The resource is read whole before the copy is written: in place is safe.
    if (!DistinctFiles({source}, {output}, InPlace::kAllowed)) return 0;
    return CutRbf(source, output, limit) ? 1 : 0;
}

}  // namespace cz::api
