#include "Commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FileFacts.h"
#include "Json.h"
#include "ProgressBar.h"
#include "api/resconv/C_ResourceConverter.h"
#include "formats/binary/ResourceBinary.h"
#include "formats/rbf/C_RBFFile.h"
#include "formats/wpcm/C_SrcFile.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatTable.h"
#include "formats/registry/FormatRegistry.h"
#include "api/chains/Chains.h"
#include "api/pipeline/Pipeline.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "dsp/resample/C_PCMResample.h"
#include "foundation/C_CUString.h"
#include "foundation/C_CUFilePath.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavFile.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define CZ_BINARY_STDIO(stream) _setmode(_fileno(stream), _O_BINARY)
#else
#define CZ_BINARY_STDIO(stream) ((void)0)
#endif

namespace cz::cli {

namespace {

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

}  // namespace

std::string JsonText(const std::string& text) { return JsonQuote(text); }

void PrintJsonError(const std::string& path, const std::string& why) {
    Json().Object().Key("file").String(path).Key("error").String(why).End().Print();
}

long long ResourceBytes(const std::string& chipFile) {
    auto temp = platform::TempFolder::Create();
    if (!temp) return -1;
    const std::string binary = temp->File("resource.bin");
    C_ResourceConverter converter;
    if (!converter.ConvertToBinary(chipFile.c_str(), binary.c_str())) return -1;
    return platform::GetFileLength(binary);
}

namespace {

// The label of a cue point, or "".
std::string LabelOf(const C_WavDataListInfo& labels, uint32_t cueId) {
    for (int32_t i = 0; i < labels.GetLabelCount(); ++i) {
        uint32_t id = 0;
        const char* text = labels.GetLabelAt(i, &id);
        if (id == cueId && text) return text;
    }
    return std::string();
}

std::string PeopleName(C_WavFile& file, const char* className) {
    if (className && std::strncmp(className, "MPEG", 4) == 0) return "MP3, MPEG audio";
    if (dynamic_cast<C_RBFFile*>(&file)) return "RBF, chip resource binary";
    std::string name = FormatNameForPeople(file.GetFormatId(), file.GetCodecType());
    return name.empty() ? std::string(className ? className : "?") : name;
}

void PrintInfo(const std::string& path, C_WavFile& file, const char* className, bool json) {
    const bool mpeg = className && std::strncmp(className, "MPEG", 4) == 0;
    MpegFacts mp3;
    if (mpeg) ReadMpegFacts(path, mp3);
    const std::vector<InfoTag> tags = mpeg ? std::vector<InfoTag>() : ReadRiffInfoTags(path);
    const bool rbf = dynamic_cast<C_RBFFile*>(&file) != nullptr;
    const bool chip = !mpeg && file.GetFormatId() != kFormatWav && file.GetFormatId() != kFormatNone;
    const long long resource = rbf ? platform::GetFileLength(path) : chip ? ResourceBytes(path) : -1;
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
        Json out;
        out.Object().Key("file").String(path).Key("format").String(PeopleName(file, className));
        out.Key("format_id").Unsigned(file.GetFormatId()).Key("class").String(className ? className : "");
        out.Key("codec_type").Unsigned(file.GetCodecType());
        if (mpeg && mp3.found) {
            out.Key("mpeg").Object();
            out.Key("version").String(mp3.version == 25 ? "2.5" : mp3.version == 2 ? "2" : "1");
            out.Key("layer").Int(mp3.layer).Key("sample_rate").Int(mp3.sampleRate).Key("channels").Int(mp3.channels);
            out.Key("kbps").Int(mp3.kbps).Key("title").String(mp3.title).Key("artist").String(mp3.artist);
            out.Key("album").String(mp3.album).End();
        }
        out.Key("tags").Object();
        for (const InfoTag& tag : tags) out.Key(tag.id).String(tag.text);
        out.End().Key("markers").Array();
        for (int32_t i = 0; i < cues.GetCount(); ++i) {
            const I_WavDataCuePoint* c = cues.GetAt(i);
            out.Object().Key("id").Unsigned(c->GetCueId()).Key("sample").Unsigned(c->GetPosition());
            out.Key("label").String(LabelOf(labels, c->GetCueId())).End();
        }
        out.End();
        out.Key("sample_rate").Unsigned(info->GetSampleRate()).Key("channels").Unsigned(info->GetChannels());
        out.Key("valid_bits").Unsigned(info->GetValidBits()).Key("container_bits").Unsigned(info->GetContainerBits());
        out.Key("signed").Bool(info->GetSignedFlag()).Key("samples").Unsigned(info->GetSampleCount());
        out.Key("duration_ms").Unsigned(info->GetDuration()).Key("duration_s").Number(seconds);
        out.Key("events").Array();
        for (const C_ActionEvent* e : events->Events()) {
            out.Object().Key("type").Unsigned(e->GetType()).Key("sample").Unsigned(e->GetSamplePos());
            out.Key("param").Unsigned(e->GetParam()).End();
        }
        out.End().Key("silence_regions").Array();
        for (const C_ActionSilenceRegion* r : events->Regions())
            out.Object().Key("start").Unsigned(r->GetStart()).Key("end").Unsigned(r->GetEnd()).End();
        out.End().Key("silence_segments").Array();
        for (const C_SilenceSegment* g : sound->SilenceSegments())
            out.Object().Key("first").Unsigned(g->GetStart()).Key("last").Unsigned(g->GetEnd()).End();
        out.End().Key("cue_points").Int(cues.GetCount()).Key("labels").Int(labels.GetLabelCount());
        out.Key("labelled_texts").Int(labels.GetTextCount()).Key("sampler_loops").Unsigned(sampler.GetLoopCount());
        out.Key("extra_chunks").Array();
        for (const C_WavDataExtraChunk* c : extra)
            out.Object().Key("id").String(FourCC(c->GetChunkId())).Key("size").Unsigned(c->GetData(nullptr)).End();
        // The chip's share: null for a file that makes no chip binary.
        out.End().Key("chip_bytes").Size(resource).Key("chip_kbps");
        if (resource >= 0 && seconds > 0)
            out.Number(resource * 8.0 / seconds / 1000.0);
        else
            out.Null();
        out.End().Print();
        return;
    }
    std::printf("%s\n", path.c_str());
    std::printf("  format:      %s (%s, id %u)\n", PeopleName(file, className).c_str(), className ? className : "?",
                file.GetFormatId());
    if (mpeg && mp3.found) {
        std::printf("  stream:      MPEG-%s layer %d, %d Hz, %s, %d kbit/s (first frame)\n",
                    mp3.version == 25  ? "2.5"
                    : mp3.version == 2 ? "2"
                                       : "1",
                    mp3.layer, mp3.sampleRate, mp3.channels == 1 ? "mono" : "stereo", mp3.kbps);
        if (!mp3.title.empty()) std::printf("  title:       %s\n", mp3.title.c_str());
        if (!mp3.artist.empty()) std::printf("  artist:      %s\n", mp3.artist.c_str());
        if (!mp3.album.empty()) std::printf("  album:       %s\n", mp3.album.c_str());
    }
    for (const InfoTag& t : tags) std::printf("  tag %s:    %s\n", t.id.c_str(), t.text.c_str());
    if (cues.GetCount()) {
        std::printf("  markers:     %d\n", cues.GetCount());
        for (int32_t i = 0; i < cues.GetCount(); ++i) {
            const I_WavDataCuePoint* c = cues.GetAt(i);
            const std::string label = LabelOf(labels, c->GetCueId());
            std::printf("    sample %u: cue %u%s%s%s\n", c->GetPosition(), c->GetCueId(), label.empty() ? "" : " \"",
                        label.c_str(), label.empty() ? "" : "\"");
        }
    }
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
    if (resource >= 0)
        std::printf("  chip size:   %lld bytes of resource (%.2f kbit/s); this is what the chip stores\n", resource,
                    seconds > 0 ? resource * 8.0 / seconds / 1000.0 : 0.0);
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

namespace {
thread_local FailureCapture* t_capture = nullptr;
}

void Warn(const std::string& file, const std::string& text) {
    if (t_capture) return;  // batch and report run quietly
    std::fprintf(stderr, "cadenzor: %s: warning: %s\n", file.c_str(), text.c_str());
}

FailureCapture::FailureCapture() : outer_(t_capture) { t_capture = this; }
FailureCapture::~FailureCapture() { t_capture = outer_; }

std::string UnreadableReason(const std::string& path) {
    if (path == "-") return std::string();
    if (platform::DirectoryExists(path)) return "is a folder, not a file";
    platform::SetLastError(0);
    auto probe = platform::File::Open(path, platform::open_flags::kRead);
    if (probe) return std::string();
    const uint32_t error = platform::LastError();
    return error ? platform::SystemErrorText(error) : "cannot be opened";
}

void Fail(const std::string& file, const std::string& reason) {
    if (t_capture) {
        if (!t_capture->text_.empty()) t_capture->text_ += "; ";
        t_capture->text_ += reason;
        return;
    }
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
    // A resource binary, decoded as the chip plays it.
    std::string binaryFailure;
    S_ResourceBinary binary;
    const std::string binaryWav = folder.File("binary.wav");
    switch (OpenResourceBinaryAsWav(path.c_str(), binaryWav.c_str(), &binaryFailure, &binary)) {
        case BinaryOpen::kDecoded:
            file = factory.Open(binaryWav.c_str());
            if (file) className = binary.coding + " resource binary, decoded";
            return file;
        case BinaryOpen::kFailed: failure = binaryFailure; return nullptr;
        case BinaryOpen::kNotBinary: break;
    }
    if (IsWmaFile(path)) {
        failure = DecodeWmaQuietly(path, folder.File("decoded.wav"));
        file = failure.empty() ? factory.Open(folder.File("decoded.wav").c_str()) : nullptr;
        if (file) className = "WMA in ASF, decoded";
        return file;
    }
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
        std::string className, failure = UnreadableReason(path);
        RefPtr<C_WavFile> file;
        if (failure.empty()) {
            failure = "cannot make a temporary folder";
            if (temp) file = OpenInput(path, *temp, className, failure);
        }
        if (file) {
            std::printf("%s: supported, format id %u (%s)\n", path.c_str(), file->GetFormatId(), className.c_str());
        } else {
            std::printf("%s: not supported: %s\n", path.c_str(), failure.c_str());
            status = kExitFailed;
        }
    }
    return status;
}

// With --json, info prints one JSON array: an object per file, and for a
// file that fails {"file": ..., "error": ...} (the reason goes to standard
// error as well).
int RunInfo(const Options& options) {
    int status = kExitOk;
    if (options.json) std::printf("[\n");
    bool first = true;
    for (const auto& path : options.inputs) {
        if (options.json && !first) std::printf(",\n");
        first = false;
        std::fflush(stdout);
        std::string failure;
        if (failure = UnreadableReason(path); !failure.empty()) {
        } else if (IsMidiFile(path)) {
            if (RunMidiInfo(path, options.json) != kExitOk) {
                status = kExitFailed;
                if (options.json) PrintJsonError(path, "not a readable Standard MIDI File");
            }
            continue;
        } else if (IsImfFile(path)) {
            if (RunImfInfo(path, options.json) != kExitOk) {
                status = kExitFailed;
                if (options.json) PrintJsonError(path, "not a readable IMF melody");
            }
            continue;
        } else if (IsWmaFile(path)) {
            if (RunWmaInfo(path, options.json) != kExitOk) status = kExitFailed;
            continue;
        } else if (IsXmfFile(path)) {
            if (RunXmfInfo(path, options.json) != kExitOk) {
                status = kExitFailed;
                if (options.json) PrintJsonError(path, "not a readable XMF file");
            }
            continue;
        } else if (int binaryStatus = kExitOk; RunBinaryInfo(path, options.json, &binaryStatus)) {
            if (binaryStatus != kExitOk) status = binaryStatus;
            continue;
        } else {
            auto temp = platform::TempFolder::Create();
            std::string className;
            failure = "cannot make a temporary folder";
            RefPtr<C_WavFile> file = temp ? OpenInput(path, *temp, className, failure) : nullptr;
            if (file && file->Sound()) {
                PrintInfo(path, *file, className.c_str(), options.json);
                continue;
            }
        }
        Fail(path, failure);
        status = kExitFailed;
        if (options.json) PrintJsonError(path, failure);
    }
    if (options.json) std::printf("]\n");
    return status;
}

bool PublishBytes(const std::string& target, const void* data, size_t size, std::string* failure) {
    return api::pipeline::PublishBytes(target, data, size, failure);
}

bool PublishFile(const std::string& source, const std::string& target, std::string* failure) {
    return api::pipeline::PublishFile(source, target, failure);
}

bool WriteFirmwareHeader(const std::string& headerPath, const std::string& arrayName,
                         const std::vector<uint8_t>& bytes) {
    return api::pipeline::WriteFirmwareHeader(headerPath, arrayName, bytes);
}

uint32_t FormatIdForExtension(const std::string& extension) {
    return GetFormatIdFromExtension(("." + extension).c_str());
}

std::string ExtensionOf(const std::string& path) { return Extension(path); }

std::string FormatListText() {
    std::string text;
    for (const FormatDescriptor* row : FormatOpenOrder())
        if (row->facts.output) text += (text.empty() ? "" : ", ") + std::string(row->facts.extension);
    return text + "; xmf from WAV, APM or MIDI; imf from MIDI";
}

std::string BinaryFormatListText() {
    std::string text;
    for (const FormatDescriptor* row : FormatOpenOrder())
        if (row->facts.output && row->facts.binary)
            text += (text.empty() ? "" : ", ") + std::string(row->facts.extension);
    return text;
}

bool CodecParameter(const Options& options, uint32_t formatId, uint32_t* param, std::string* why) {
    auto refuse = [&](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    *param = 0;
    const bool mode = options.mode >= 0, bitrate = options.bitrate >= 0, quality = options.quality >= 0;
    // Which of the coder options the format takes is a fact of its row.
    const FormatDescriptor* row = FindFormat(formatId);
    const uint8_t takes = row && formatId != kFormatRbf ? row->facts.options : 0;
    const struct {
        bool given;
        uint8_t flag;
        const char* name;
    } asked[] = {
        {mode, kOptionMode, "--mode"}, {bitrate, kOptionBitrate, "--bitrate"}, {quality, kOptionQuality, "--quality"}};
    for (const auto& a : asked) {
        if (!a.given || (takes & a.flag)) continue;
        std::string offered;
        for (const auto& b : asked)
            if (takes & b.flag) offered += (offered.empty() ? "" : " and ") + std::string(b.name);
        const std::string name = row ? std::string(FormatShortName(*row)) : std::string("this format");
        return refuse(std::string(a.name) + " does not apply to " + name +
                      (offered.empty() ? " (its coder takes no setting)" : " (it takes " + offered + ")"));
    }
    if (formatId == kFormatEsb) {
        if (bitrate && (options.bitrate < 100 || options.bitrate / 100 > 0xFFFF))
            return refuse("ESB takes --bitrate from 100 to 6553500 bit/s");
        if (quality && options.quality > 0x7FFF) return refuse("ESB takes --quality from 0 to 32767");
        // Bit rate / 100 in bits 0-15, quality in bits 16-30.
        *param = (bitrate ? static_cast<uint32_t>(options.bitrate / 100) : 0) |
                 (quality ? static_cast<uint32_t>(options.quality) << 16 : 0);
        return bitrate || quality;
    }
    if (bitrate) {
        if (options.bitrate < 1 || options.bitrate > 0xFFFF)
            return refuse(std::string(FormatShortName(*row)) + " takes --bitrate from 1 to 65535 bit/s");
        *param = static_cast<uint32_t>(options.bitrate);
        return true;
    }
    if (mode) *param = static_cast<uint32_t>(options.mode);
    return mode;
}

namespace {

// A chip format holds 4000 to 48000 Hz: a rate outside that (asked for, or
// the input's own when none is asked for) is refused with the way out, unless
// --any-rate says to write it anyway.
constexpr unsigned long kChipRateLow = 4000, kChipRateHigh = 48000;

int CheckChipRate(const Options& options, const std::string& output) {
    if (options.haveRate) {
        if (options.rate >= kChipRateLow && options.rate <= kChipRateHigh) return kExitOk;
        Fail(output, "--rate " + std::to_string(options.rate) +
                         " is outside the 4000 to 48000 Hz the chip formats "
                         "hold; no chip plays it (use --any-rate to write it anyway)");
        return kExitUsage;
    }
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(options.inputs.front().c_str(), kOpenHeaderOnly);
    I_WavInfo* info = file ? file->GetWavInfo() : nullptr;
    const unsigned long rate = info ? info->GetSampleRate() : 0;
    if (rate == 0 || (rate >= kChipRateLow && rate <= kChipRateHigh)) return kExitOk;
    Fail(options.inputs.front(),
         "is " + std::to_string(rate) + " Hz; the chip formats hold 4000 to 48000 Hz: use --rate " +
             (rate > kChipRateHigh ? std::string("48000 or lower") : std::string("4000 or higher")) +
             " (or --any-rate to write it as it is)");
    return kExitFailed;  // the command is sound; this file cannot be written so
}

api::pipeline::Job JobFor(const Options& options, uint32_t outId) {
    api::pipeline::Job job;
    job.input = options.inputs.front();
    job.output = options.output;
    job.writeAs = outId;
    job.rate = options.haveRate ? static_cast<uint32_t>(options.rate) : 0;
    job.haveCodecParam = CodecParameter(options, outId, &job.codecParam);
    job.sourceSamples = options.source;
    job.binary = options.binary;
    job.header = options.firmwareHeader ? api::pipeline::HeaderStyle::kFirmware : api::pipeline::HeaderStyle::kPlain;
    job.headerName = options.headerName;
    job.overwrite = options.overwrite;
    job.profile = options.profile;
    job.readBinaries = true;
    return job;
}

}  // namespace

// Runs the conversion of options.inputs[0] to options.output as one job and
// says what happened.
int RunConvertJob(const Options& options, const api::pipeline::Job& prepared, api::pipeline::Result* out) {
    api::pipeline::Job job = prepared;
    ProgressBar bar(options.haveRate ? "resampling" : "converting", options.quiet);
    job.progress = &bar;
    api::pipeline::Result result = api::pipeline::Run(job);
    if (!options.quiet)
        for (const auto& w : result.warnings) Warn(w.file, w.text);
    const auto finish = [&](int status) {
        if (out) *out = std::move(result);
        return status;
    };
    if (!result.ok()) {
        Fail(result.failure.file, result.failure.text);
        return finish(result.outcome == api::pipeline::Outcome::kRefused ? kExitUsage : kExitFailed);
    }
    if (options.verbose && job.publish) {
        std::fprintf(stderr, "cadenzor: wrote %s\n", options.output.c_str());
        if (!options.binary.empty())
            std::fprintf(stderr, "cadenzor: wrote %s (%lld bytes the chip stores) and %s\n", options.binary.c_str(),
                         result.binaryBytes, api::HeaderPath(options.binary.c_str()).c_str());
    }
    return finish(kExitOk);
}

int ConvertOne(const Options& options) {
    const std::string& input = options.inputs.front();
    const std::string& output = options.output;
    if (CompareNoCase(Extension(output), ".xmf") == 0) return RunConvertToXmf(options);
    if (CompareNoCase(Extension(output), ".imf") == 0) return RunConvertToImf(options);
    if (IsXmfFile(input)) return RunConvertFromXmf(options);
    if (IsImfFile(input)) return RunConvertFromImf(options);
    api::pipeline::Job job;
    bool special = false;
    if (const int status = PrepareConvertJob(options, &job, &special); status != kExitOk) return status;
    return RunConvertJob(options, job);
}

int PrepareConvertJob(const Options& options, api::pipeline::Job* job, bool* special) {
    const std::string& input = options.inputs.front();
    const std::string& output = options.output;
    *special = CompareNoCase(Extension(output), ".xmf") == 0 || CompareNoCase(Extension(output), ".imf") == 0 ||
               IsXmfFile(input) || IsImfFile(input);
    if (*special) return kExitOk;
    uint32_t outId = GetFormatIdFromExtension(Extension(output).c_str());
    if (outId == kFormatNone) {
        Fail(output, "unknown output format '" + Extension(output) + "' (use " + FormatListText() + ")");
        return kExitUsage;
    }
    const FormatDescriptor* outRow = FindFormat(outId);
    if (!outRow || !outRow->facts.output || (outId != kFormatWav && !CreateFormatWriter(outId))) {
        Fail(output, std::string(outRow ? outRow->facts.longName : Extension(output).c_str()) +
                         ": files of this format are read, not written (write " + FormatListText() + ")");
        return kExitFailed;
    }
    if (const std::string why = UnreadableReason(input); !why.empty()) {
        Fail(input, why);
        return kExitFailed;
    }
    // Everything that would refuse the job is checked before anything is
    // written: existing outputs, outputs that are the input or each other,
    // options the output format has no use for.
    const bool lastIsWav = outId == kFormatWav;
    const bool wantBinary = !options.binary.empty();
    const std::string header = wantBinary ? api::HeaderPath(options.binary.c_str()) : std::string();
    if (wantBinary && lastIsWav) {
        Fail(options.binary, "a WAV file has no chip resource binary: --bin needs a chip format as output");
        return kExitUsage;
    }
    if (wantBinary && !outRow->facts.binary) {
        Fail(options.binary, std::string(FormatShortName(*outRow)) +
                                 " makes no chip resource binary: --bin needs one of " + BinaryFormatListText());
        return kExitUsage;
    }
    {
        std::string why;
        uint32_t param = 0;
        if (!CodecParameter(options, outId, &param, &why) && !why.empty()) {
            Fail(output, why);
            return kExitUsage;
        }
    }
    if (!lastIsWav && !options.anyRate) {
        if (const int status = CheckChipRate(options, output); status != kExitOk) return status;
    }
    if (!CheckOutput(options, output)) return kExitFailed;
    if (wantBinary && (!CheckOutput(options, options.binary) || !CheckOutput(options, header))) return kExitFailed;
    if (!CheckDistinct(options, input, api::InPlace::kAllowed)) return kExitFailed;

    *job = JobFor(options, outId);
    return kExitOk;
}

namespace {

bool CopyStream(std::FILE* from, std::FILE* to) {
    char buffer[1 << 16];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, from)) > 0)
        if (std::fwrite(buffer, 1, n, to) != n) return false;
    return !std::ferror(from) && std::fflush(to) == 0;
}

}  // namespace

// "-" as the input reads standard input, "-" as the output writes standard
// output (its format named by --to): both go through a file in a private
// folder, so every format streams.
int RunConvert(const Options& options) {
    const bool fromStdin = options.inputs.front() == "-";
    const bool toStdout = options.output == "-";
    if (!fromStdin && !toStdout) {
        if (!options.formats.empty()) {
            Fail(options.output, "--to names the format of standard output ('-'); here the extension does");
            return kExitUsage;
        }
        return ConvertOne(options);
    }
    if (toStdout && options.formats.size() != 1) {
        Fail("-", "standard output needs its format: --to wav, --to apm, ...");
        return kExitUsage;
    }
    auto temp = platform::TempFolder::Create();
    if (!temp) {
        Fail(platform::TempDirectory(), "cannot make a temporary folder");
        return kExitFailed;
    }
    Options one = options;
    if (fromStdin) {
        one.inputs = {temp->File("stdin")};
        std::FILE* f = std::fopen(one.inputs.front().c_str(), "wb");
        CZ_BINARY_STDIO(stdin);
        const bool ok = f && CopyStream(stdin, f);
        if (f) std::fclose(f);
        if (!ok) {
            Fail("-", "cannot read standard input");
            return kExitFailed;
        }
    }
    if (toStdout) {
        one.output = temp->File("stdout." + options.formats.front());
        one.overwrite = true;
    }
    const int status = ConvertOne(one);
    if (status != kExitOk || !toStdout) return status;
    std::FILE* f = std::fopen(one.output.c_str(), "rb");
    CZ_BINARY_STDIO(stdout);
    const bool ok = f && CopyStream(f, stdout);
    if (f) std::fclose(f);
    if (!ok) {
        Fail("-", "cannot write standard output");
        return kExitFailed;
    }
    return kExitOk;
}

int RunCut(const Options& options) {
    const std::string& output = options.output;
    if (const std::string why = UnreadableReason(options.inputs.front()); !why.empty()) {
        Fail(options.inputs.front(), why);
        return kExitFailed;
    }
    if (!CheckOutput(options, output)) return kExitFailed;
    RbfError error = RbfError::kNone;
    RbfCutFigures kept;
    std::string reason;
    if (!CutRbf(options.inputs.front().c_str(), output.c_str(), options.maxBytes, &error, &kept, &reason)) {
        Fail(error == RbfError::kCannotWrite ? output : options.inputs.front(), reason);
        return error == RbfError::kLimitTooSmall ? kExitUsage : kExitFailed;
    }
    if (options.verbose) std::fprintf(stderr, "cadenzor: wrote %s\n", output.c_str());
    // How much sound the copy keeps: whole blocks only, so a limit may keep
    // less than it would allow, or nothing.
    if (!options.quiet) {
        const double rate = kept.sampleRate;
        std::fprintf(stderr, "cadenzor: %s: kept %llu of %llu samples (%.3f of %.3f s), %zu of %zu bytes\n",
                     output.c_str(), static_cast<unsigned long long>(kept.keptSamples),
                     static_cast<unsigned long long>(kept.samples), static_cast<double>(kept.keptSamples) / rate,
                     static_cast<double>(kept.samples) / rate, kept.keptBytes, kept.bytes);
    }
    return kExitOk;
}

int RunResample(const Options& options) {
    const std::string& output = options.output;
    if (const std::string why = UnreadableReason(options.inputs.front()); !why.empty()) {
        Fail(options.inputs.front(), why);
        return kExitFailed;
    }
    if (!CheckOutput(options, output)) return kExitFailed;
    if (CompareNoCase(Extension(output), ".wav") != 0) {
        Fail(output, "resample writes WAV files; use convert --rate for other formats");
        return kExitUsage;
    }
    // The input is let go before the output is put in place: the output may
    // be the input.
    if (!CheckDistinct(options, options.inputs.front(), api::InPlace::kAllowed)) return kExitFailed;
    api::pipeline::Job job = JobFor(options, kFormatWav);
    job.asLoaded = true;
    return RunConvertJob(options, job);
}

}  // namespace cz::cli
