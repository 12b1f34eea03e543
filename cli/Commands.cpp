#include "Commands.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "ProgressBar.h"
#include "api/resconv/C_ResourceConverter.h"
#include "formats/rbf/C_RBFFile.h"
#include "formats/wpcm/C_SrcFile.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatTable.h"
#include "formats/registry/FormatRegistry.h"
#include "api/chains/Chains.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "dsp/resample/C_PCMResample.h"
#include "foundation/C_CUString.h"
#include "foundation/C_CUFilePath.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
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
    const double seconds =
        info->GetSampleRate() ? static_cast<double>(info->GetSampleCount()) / info->GetSampleRate() : 0.0;
    if (json) {
        std::printf("{\"file\": %s, \"format_id\": %u, \"class\": %s, \"codec_type\": %u, ", JsonString(path).c_str(),
                    file.GetFormatId(), JsonString(className ? className : "").c_str(), file.GetCodecType());
        std::printf(
            "\"sample_rate\": %u, \"channels\": %u, \"valid_bits\": %u, \"container_bits\": %u, "
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
        std::printf(
            "], \"cue_points\": %d, \"labels\": %d, \"labelled_texts\": %d, \"sampler_loops\": %u, "
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
                file.GetCodecType() == 3   ? ", Microsoft ADPCM data"
                : file.GetCodecType() == 6 ? ", IMA ADPCM data"
                                           : "");
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
    if (auto* rbf = dynamic_cast<C_RBFFile*>(&file)) {
        const RbfSummary& r = rbf->Summary();
        std::printf("  resource:    coding \"%s\", %s\n", r.magic.c_str(),
                    r.endMark ? "ends in its end mark" : "no end mark");
        std::printf("  markers:     %zu\n", r.markers.size());
        for (const RbfMarker& m : r.markers)
            std::printf("    sample %u: identifier %u, type %u\n", m.position, m.identifier, m.type);
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
    for (const C_WavDataExtraChunk* c : extra)
        std::printf(", chunk '%s' (%u bytes)", FourCC(c->GetChunkId()).c_str(), c->GetData(nullptr));
    std::printf("\n");
}

// The chip resource binary of a chip-format file, and its ".h" beside it.
bool WriteBinary(const Options& options, const std::string& chipFile) {
    C_ResourceConverter converter;
    if (converter.ConvertToBinary(chipFile.c_str(), options.binary.c_str())) {
        if (options.verbose)
            std::fprintf(stderr, "cadenzor: wrote %s and %s.h\n", options.binary.c_str(), options.binary.c_str());
        return true;
    }
    // The converter writes nothing under the binary's name unless it
    // completes; a binary without its header stays, as the chip file does.
    Fail(options.binary, "the resource converter could not make a binary of " + chipFile + " with its header");
    return false;
}

bool CheckOutput(const Options& options, const std::string& path) {
    if (!options.overwrite && platform::FileExists(path)) {
        Fail(path, "the file exists (use -y to overwrite it)");
        return false;
    }
    return true;
}

// The outputs of a command (output, then binary and header when asked for)
// must be files of their own: never an input (the output may be when the
// input is read whole before the output is written) and never each other.
bool CheckDistinct(const Options& options, const std::string& input, api::InPlace inPlace) {
    const std::string& output = options.output;
    const std::string header = options.binary.empty() ? std::string() : api::HeaderPath(options.binary.c_str());
    bool ok = options.binary.empty() ? api::DistinctFiles({input.c_str()}, {output}, inPlace)
                                     : api::DistinctFiles({input.c_str()}, {output, options.binary, header}, inPlace);
    if (!ok) Fail(output, "an output is the same file as " + input + " or as another output; nothing was written");
    return ok;
}

}  // namespace

void Fail(const std::string& file, const std::string& reason) {
    std::fprintf(stderr, "cadenzor: %s: %s\n", file.c_str(), reason.c_str());
}

namespace {

// Whether a file holds MPEG audio, whatever its name: its first bytes are an
// ID3v2 tag or a frame sync, and its start decodes.
bool IsMp3(const std::string& path) {
    if (CompareNoCase(Extension(path), ".mp3") == 0) return true;
    auto file = platform::File::Open(path, platform::open_flags::kRead);
    uint8_t head[3] = {};
    if (!file || !file->ReadExact(head, sizeof head)) return false;
    const bool tagged = std::memcmp(head, "ID3", 3) == 0;
    const bool synced = head[0] == 0xFF && (head[1] & 0xE0) == 0xE0;
    if (!tagged && !synced) return false;
    auto temp = platform::TempFolder::Create();
    if (!temp) return false;
    mp3::C_Mp3ToWavConverter converter;
    return converter.Convert(path.c_str(), temp->File("probe.wav").c_str(), nullptr, 100) != 0;
}

// Opens any input the tool reads: a sound file the factory knows, or MPEG
// audio, decoded into `folder` first. className names what was found.
RefPtr<C_WavFile> OpenInput(const std::string& path, const platform::TempFolder& folder, std::string& className,
                            std::string& failure) {
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str());
    if (file) {
        className = factory.LastClassName() ? factory.LastClassName() : "";
        return file;
    }
    failure = factory.LastFailure();
    if (!IsMp3(path)) return nullptr;
    const std::string decoded = folder.File("decoded.wav");
    mp3::C_Mp3ToWavConverter converter;
    if (!converter.Convert(path.c_str(), decoded.c_str(), nullptr, 0)) {
        failure = "MPEG audio that does not decode";
        return nullptr;
    }
    file = factory.Open(decoded.c_str());
    if (file) className = "MPEG audio Layer III, decoded";
    return file;
}

}  // namespace

int RunCheck(const Options& options) {
    int status = kExitOk;
    for (const auto& path : options.inputs) {
        auto temp = platform::TempFolder::Create();
        std::string className, failure = "cannot make a temporary folder";
        RefPtr<C_WavFile> file = temp ? OpenInput(path, *temp, className, failure) : nullptr;
        if (file) {
            std::printf("%s: supported, format id %u (%s)\n", path.c_str(), file->GetFormatId(), className.c_str());
        } else {
            std::printf("%s: not supported: %s\n", path.c_str(), failure.c_str());
            status = kExitFailed;
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
        if (IsXmfFile(path)) {
            if (RunXmfInfo(path, options.json) != kExitOk) status = kExitFailed;
            continue;
        }
        auto temp = platform::TempFolder::Create();
        std::string className, failure = "cannot make a temporary folder";
        RefPtr<C_WavFile> file = temp ? OpenInput(path, *temp, className, failure) : nullptr;
        if (!file || !file->Sound()) {
            Fail(path, failure);
            status = kExitFailed;
            continue;
        }
        PrintInfo(path, *file, className.c_str(), options.json);
    }
    return status;
}

namespace {

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
    if (resampler.ResampleFile(kResampleSinc2, input.c_str(), output.c_str(), kFormatWav,
                               static_cast<uint32_t>(options.rate), kResampleSpare, &bar))
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
    if (IsXmfFile(input)) return RunConvertFromXmf(options);
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
    const bool lastIsWav = outId == kFormatWav;
    // Decoding an MP3 straight into the output streams the input: never in place.
    const bool streamed = IsMp3(input) && lastIsWav && !options.haveRate;
    if (!CheckDistinct(options, input, streamed ? api::InPlace::kRefused : api::InPlace::kAllowed)) return kExitFailed;

    // The chain: MP3 decoding, then resampling, then the output format. The
    // writers leave the output's name as it was when they fail; the
    // intermediate files live in a private folder removed on every path.
    auto temp = platform::TempFolder::Create();
    if (!temp) {
        Fail(platform::TempDirectory(),
             "cannot make a temporary folder: " + platform::ErrorText(platform::LastError()));
        return kExitFailed;
    }
    std::string current = input;
    // A chip file converted to WAV gives the sound the chip plays unless
    // --source asks for the samples it was coded from.
    if (!options.source && lastIsWav && !IsMp3(input)) {
        C_WavFileFormat factory;
        RefPtr<C_WavFile> file = factory.Open(input.c_str());
        if (file && file->LoadPlayedSound()) {
            file->ReleaseSource();
            const std::string target = temp->File("played.wav");
            if (!file->SaveAs(kFormatWav, target.c_str())) {
                Fail(input, "cannot write the decoded sound to " + target);
                return kExitFailed;
            }
            current = target;
        }
    }
    if (IsMp3(input)) {
        std::string target = streamed ? output : temp->File("decoded.wav");
        if (!DecodeMp3(options, input, target)) return kExitFailed;
        current = target;
    }
    if (options.haveRate) {
        std::string target = lastIsWav ? output : temp->File("resampled.wav");
        if (!Resample(options, current, target)) return kExitFailed;
        current = target;
    }
    if (current != output) {
        C_WavFileFormat factory;
        RefPtr<C_WavFile> file = factory.Open(current.c_str());
        if (!file) {
            Fail(input, factory.LastFailure());
            return kExitFailed;
        }
        if (options.mode >= 0 && file->GetWriteParam())
            file->GetWriteParam()->SetCodecParam(static_cast<uint32_t>(options.mode));
        file->ReleaseSource();  // loaded whole: the output may replace the input
        platform::SetLastError(0);
        if (!file->SaveAs(outId, output.c_str())) {
            uint32_t error = platform::LastError();
            Fail(output, error ? "cannot write the file: " + platform::ErrorText(error)
                               : "the sound cannot be written in this format");
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

int RunCut(const Options& options) {
    const std::string& output = options.output;
    if (!CheckOutput(options, output)) return kExitFailed;
    RbfError error = RbfError::kNone;
    if (!CutRbf(options.inputs.front().c_str(), output.c_str(), options.maxBytes, &error)) {
        Fail(error == RbfError::kCannotWrite ? output : options.inputs.front(), RbfErrorText(error));
        return error == RbfError::kLimitTooSmall ? kExitUsage : kExitFailed;
    }
    if (options.verbose) std::fprintf(stderr, "cadenzor: wrote %s\n", output.c_str());
    return kExitOk;
}

int RunResample(const Options& options) {
    const std::string& output = options.output;
    if (!CheckOutput(options, output)) return kExitFailed;
    if (CompareNoCase(Extension(output), ".wav") != 0) {
        Fail(output, "resample writes WAV files; use convert --rate for other formats");
        return kExitUsage;
    }
    std::string current = options.inputs.front();
    // Resampling loads the sound whole (an MP3 is decoded into a temporary
    // file first), so the output may be the input.
    if (!CheckDistinct(options, current, api::InPlace::kAllowed)) return kExitFailed;
    auto temp = platform::TempFolder::Create();
    if (!temp) {
        Fail(platform::TempDirectory(),
             "cannot make a temporary folder: " + platform::ErrorText(platform::LastError()));
        return kExitFailed;
    }
    if (IsMp3(current)) {
        std::string decoded = temp->File("decoded.wav");
        if (!DecodeMp3(options, current, decoded)) return kExitFailed;
        current = decoded;
    }
    if (!Resample(options, current, output)) return kExitFailed;
    return kExitOk;
}

}  // namespace cz::cli
