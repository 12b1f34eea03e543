#include "Commands.h"

#include <cstdio>
#include <string>

#include "ProgressBar.h"
#include "api/C_ResourceConverter.h"
#include "formats/wpcm/C_SrcFile.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatTable.h"
#include "formats/registry/FormatRegistry.h"
#include "api/TempName.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "dsp/resample/C_PCMResample.h"
#include "foundation/C_CUString.h"
#include "foundation/C_CUFilePath.h"
#include "platform/Platform.h"
#include "wave/C_WavFile.h"

namespace cz::cli {

namespace {


std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string FourCC(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((v >> (8 * i)) & 0xFF);
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

std::string Extension(const std::string& path) {
    C_CUFilePath split(path.c_str());
    return split.GetExtension();
}

void PrintInfo(const std::string& path, C_WavFile& file, const char* className, bool json) {
    C_WavData* sound = file.Sound();
    I_WavInfo* info = sound->GetWavInfo();
    C_ActionEventMgr* events = sound->GetActionEventMgr();
    const auto& cues = sound->CueInfo();
    const auto& labels = sound->ListInfo();
    const auto& sampler = sound->SamplerInfo();
    auto& extra = sound->ExtraChunks();
    const double seconds = info->GetSampleRate() ? static_cast<double>(info->GetSampleCount()) / info->GetSampleRate()
                                                 : 0.0;
    if (json) {
        std::printf("{\"file\": %s, \"format_id\": %u, \"class\": %s, \"codec_type\": %u, ", JsonString(path).c_str(),
                    file.GetFormatId(), JsonString(className ? className : "").c_str(), file.GetCodecType());
        std::printf("\"sample_rate\": %u, \"channels\": %u, \"valid_bits\": %u, \"container_bits\": %u, "
                    "\"signed\": %s, \"samples\": %u, \"duration_ms\": %llu, \"duration_s\": %.3f, ",
                    info->GetSampleRate(), info->GetChannels(), info->GetValidBits(), info->GetContainerBits(),
                    info->GetSignedFlag() ? "true" : "false", info->GetSampleCount(),
                    static_cast<unsigned long long>(info->GetDuration()), seconds);
        std::printf("\"events\": [");
        bool first = true;
        for (const C_ActionEvent* e : events->Events()) {
            std::printf("%s{\"type\": %u, \"sample\": %u, \"param\": %u}", first ? "" : ", ", e->GetType(),
                        e->GetSamplePos(), e->GetParam());
            first = false;
        }
        std::printf("], \"silence_regions\": [");
        first = true;
        for (const C_ActionSilenceRegion* r : events->Regions()) {
            std::printf("%s{\"start\": %u, \"end\": %u}", first ? "" : ", ", r->GetStart(), r->GetEnd());
            first = false;
        }
        std::printf("], \"silence_segments\": [");
        first = true;
        for (const C_SilenceSegment* s : sound->SilenceSegments()) {
            std::printf("%s{\"first\": %u, \"last\": %u}", first ? "" : ", ", s->GetStart(), s->GetEnd());
            first = false;
        }
        std::printf("], \"cue_points\": %d, \"labels\": %d, \"labelled_texts\": %d, \"sampler_loops\": %u, "
                    "\"extra_chunks\": [",
                    cues.GetCount(), labels.GetLabelCount(), labels.GetTextCount(), sampler.GetLoopCount());
        first = true;
        for (const C_WavDataExtraChunk* c : extra) {
            std::printf("%s{\"id\": %s, \"size\": %u}", first ? "" : ", ", JsonString(FourCC(c->GetChunkId())).c_str(),
                        c->GetData(nullptr));
            first = false;
        }
        std::printf("]}\n");
        return;
    }
    std::printf("%s\n", path.c_str());
    std::printf("  format:      id %u (%s)%s\n", file.GetFormatId(), className ? className : "?",
                file.GetCodecType() == 3 ? ", Microsoft ADPCM data" : file.GetCodecType() == 6 ? ", IMA ADPCM data" : "");
    std::printf("  sample rate: %u Hz\n", info->GetSampleRate());
    std::printf("  channels:    %u\n", info->GetChannels());
    std::printf("  bits:        %u valid in %u-bit containers, %s\n", info->GetValidBits(), info->GetContainerBits(),
                info->GetSignedFlag() ? "signed" : "unsigned");
    std::printf("  samples:     %u (%.3f s)\n", info->GetSampleCount(), seconds);
    std::printf("  events:      %d\n", events->GetEventList()->GetCount());
    for (const C_ActionEvent* e : events->Events())
        std::printf("    sample %u: type %u, parameter %u\n", e->GetSamplePos(), e->GetType(), e->GetParam());
    std::printf("  silence:     %d regions\n", events->GetSilenceRegionList()->GetCount());
    for (const C_ActionSilenceRegion* r : events->Regions())
        std::printf("    samples %u to %u\n", r->GetStart(), r->GetEnd());
    if (sound->SilenceSegments().GetCount() > 0) {
        std::printf("  silence segments: %d\n", sound->SilenceSegments().GetCount());
        for (const C_SilenceSegment* s : sound->SilenceSegments())
            std::printf("    samples %u to %u\n", s->GetStart(), s->GetEnd());
    }
    if (auto* chip = dynamic_cast<C_SrcFile*>(&file)) {
        std::string summary = chip->HeaderSummary();
        size_t start = 0;
        std::printf("  header:\n");
        while (start < summary.size()) {
            size_t end = summary.find('\n', start);
            if (end == std::string::npos) end = summary.size();
            if (end > start) std::printf("    %s\n", summary.substr(start, end - start).c_str());
            start = end + 1;
        }
    }
    std::printf("  metadata:    %d cue points, %d labels, %d labelled texts, %u sampler loops", cues.GetCount(),
                labels.GetLabelCount(), labels.GetTextCount(), sampler.GetLoopCount());
    for (const C_WavDataExtraChunk* c : extra) std::printf(", chunk '%s' (%u bytes)", FourCC(c->GetChunkId()).c_str(),
                                                           c->GetData(nullptr));
    std::printf("\n");
}

// The chip resource binary of a chip-format file, and its ".h" beside it.
bool WriteBinary(const Options& options, const std::string& chipFile) {
    C_ResourceConverter converter;
    if (converter.ConvertToBinary(chipFile.c_str(), options.binary.c_str())) {
        if (options.verbose) std::fprintf(stderr, "cadenzor: wrote %s and %s.h\n", options.binary.c_str(),
                                          options.binary.c_str());
        return true;
    }
    Fail(options.binary, "the resource converter could not make a binary of " + chipFile);
    platform::DeleteFile(options.binary);
    return false;
}

bool CheckOutput(const Options& options, const std::string& path) {
    if (!options.overwrite && platform::FileExists(path)) {
        Fail(path, "the file exists (use -y to overwrite it)");
        return false;
    }
    return true;
}

}  // namespace

void Fail(const std::string& file, const std::string& reason) {
    std::fprintf(stderr, "cadenzor: %s: %s\n", file.c_str(), reason.c_str());
}

int RunCheck(const Options& options) {
    int status = kExitOk;
    for (const auto& path : options.inputs) {
        C_WavFileFormat factory;
        RefPtr<C_WavFile> file = factory.Open(path.c_str());
        if (file) {
            std::printf("%s: supported, format id %u (%s)\n", path.c_str(), file->GetFormatId(),
                        factory.LastClassName());
        } else {
            std::printf("%s: not supported: %s\n", path.c_str(), factory.LastFailure().c_str());
            status = kExitUsage;
        }
    }
    return status;
}

int RunInfo(const Options& options) {
    int status = kExitOk;
    for (const auto& path : options.inputs) {
        if (IsMidiFile(path)) {
            if (RunMidiInfo(path, options.json) != kExitOk) status = kExitFailed;
            continue;
        }
        C_WavFileFormat factory;
        RefPtr<C_WavFile> file = factory.Open(path.c_str());
        if (!file || !file->Sound()) {
            Fail(path, factory.LastFailure());
            status = kExitFailed;
            continue;
        }
        PrintInfo(path, *file, factory.LastClassName(), options.json);
    }
    return status;
}

namespace {

bool IsMp3(const std::string& path) { return CompareNoCase(Extension(path), ".mp3") == 0; }

// Decodes an MP3 file to a WAV file, with a progress bar.
bool DecodeMp3(const Options& options, const std::string& input, const std::string& wav) {
    ProgressBar bar("decoding ", options.quiet);
    mp3::C_Mp3ToWavConverter converter;
    if (converter.Convert(input.c_str(), wav.c_str(), &bar, 0)) return true;
    Fail(input, "not a decodable MP3 file, or the output cannot be written");
    return false;
}

bool Resample(const Options& options, const std::string& input, const std::string& output) {
    ProgressBar bar("resampling", options.quiet);
    C_PCMResample resampler;
    if (resampler.ResampleFile(kResampleSinc2, input.c_str(), output.c_str(), kFormatWav, static_cast<uint32_t>(options.rate), kResampleSpare, &bar))
        return true;
    C_WavFileFormat factory;
    RefPtr<C_WavFile> probe = factory.Open(input.c_str());
    Fail(input, probe ? "cannot resample this sound or write " + output : factory.LastFailure());
    return false;
}

}  // namespace

int RunConvert(const Options& options) {
    const std::string& input = options.inputs.front();
    const std::string& output = options.output;
    if (CompareNoCase(Extension(output), ".xmf") == 0) return RunConvertToXmf(options);
    uint32_t outId = GetFormatIdFromExtension(Extension(output).c_str());
    if (outId == kFormatNone) {
        Fail(output, "unknown output format '" + Extension(output) + "' (use .wav, .apm, .mdm, ...)");
        return kExitUsage;
    }
    if (outId != kFormatWav && !CreateFormatWriter(outId)) {
        Fail(output, std::string("writing ") + Extension(output) + " files is not available in this build yet");
        return kExitFailed;
    }
    if (!CheckOutput(options, output)) return kExitFailed;

    // The chain: MP3 decoding, then resampling, then the output format.
    TempNames temp;
    std::string current = input;
    const bool lastIsWav = outId == kFormatWav;
    if (IsMp3(input)) {
        std::string target = (lastIsWav && !options.haveRate) ? output : temp.Derived(temp.Placeholder(), ".wav");
        if (!DecodeMp3(options, input, target)) {
            platform::DeleteFile(target);
            return kExitFailed;
        }
        current = target;
    }
    if (options.haveRate) {
        std::string target = lastIsWav ? output : temp.Derived(temp.Placeholder(), ".wav");
        if (!Resample(options, current, target)) {
            platform::DeleteFile(target);
            return kExitFailed;
        }
        current = target;
    }
    if (current != output) {
        C_WavFileFormat factory;
        RefPtr<C_WavFile> file = factory.Open(current.c_str());
        if (!file) {
            Fail(input, factory.LastFailure());
            return kExitFailed;
        }
        if (options.mode >= 0 && file->GetWriteParam()) file->GetWriteParam()->SetCodecParam(static_cast<uint32_t>(options.mode));
        if (!file->SaveAs(outId, output.c_str())) {
            uint32_t error = platform::LastError();
            Fail(output, error ? "cannot write the file: " + platform::ErrorText(error)
                               : "the sound cannot be written in this format");
            platform::DeleteFile(output);
            return kExitFailed;
        }
    }
    if (options.verbose) std::fprintf(stderr, "cadenzor: wrote %s\n", output.c_str());
    if (!options.binary.empty()) {
        if (!CheckOutput(options, options.binary)) return kExitFailed;
        if (!WriteBinary(options, output)) return kExitFailed;
    }
    return kExitOk;
}

int RunResample(const Options& options) {
    const std::string& output = options.output;
    if (!CheckOutput(options, output)) return kExitFailed;
    if (CompareNoCase(Extension(output), ".wav") != 0) {
        Fail(output, "resample writes WAV files; use convert --rate for other formats");
        return kExitUsage;
    }
    TempNames temp;
    std::string current = options.inputs.front();
    if (IsMp3(current)) {
        std::string decoded = temp.Derived(temp.Placeholder(), ".wav");
        if (!DecodeMp3(options, current, decoded)) return kExitFailed;
        current = decoded;
    }
    if (!Resample(options, current, output)) {
        platform::DeleteFile(output);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace cz::cli
