#include "formats/rbf/RbfFile.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "formats/registry/FormatId.h"
#include "foundation/RefPtr.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavData.h"

namespace cz {

namespace {

namespace of = platform::open_flags;

// Writes the decoded samples as 16-bit little-endian words, buffered.
class TempFileSink final : public RbfSampleSink {
public:
    explicit TempFileSink(platform::File& file) : file_(file) {}

    bool Put(uint16_t value, uint32_t count) override {
        for (; count > 0; --count) {
            buffer_[used_++] = static_cast<uint8_t>(value);
            buffer_[used_++] = static_cast<uint8_t>(value >> 8);
            if (used_ == sizeof(buffer_) && !Flush()) return false;
        }
        return true;
    }

    bool Flush() {
        const bool ok = used_ == 0 || file_.Write(buffer_, used_);
        used_ = 0;
        return ok;
    }

private:
    platform::File& file_;
    uint8_t buffer_[16384];
    size_t used_ = 0;
};

// The decoder of a file's magic, with the payload after the header, once
// the header holds a rate a resource may have. Fills the summary's magic,
// rate and payload size as far as they are known.
RbfError OpenPayload(std::span<const uint8_t> file, std::unique_ptr<RbfDecoder>& decoder,
                     std::span<const uint8_t>& payload, RbfSummary& summary) {
    decoder = OpenRbfDecoder(file);
    if (!decoder) return RbfError::kUnknownMagic;
    summary.magic.assign(decoder->GetMagic(), 4);
    summary.bits = decoder->SampleBits();
    if (file.size() <= kRbfHeaderSize) return RbfError::kNoPayload;
    summary.sampleRate = RbfSampleRate(file);
    payload = file.subspan(kRbfHeaderSize);
    summary.payloadBytes = payload.size();
    if (summary.sampleRate < kRbfMinRate) return RbfError::kBadRate;
    return RbfError::kNone;
}

// What a walk of the payload says of the resource: it must end in its end
// mark, and the end mark must end the file.
RbfError CheckWalk(const RbfDecodeResult& r, size_t payloadBytes) {
    if (r.status == RbfStatus::kSinkFailed) return RbfError::kTempFile;
    if (!r.ok()) return RbfError::kBadPayload;
    if (!r.endMark) return RbfError::kNoEndMark;
    if (r.bytes != payloadBytes) return RbfError::kAfterEndMark;
    return RbfError::kNone;
}

void Summarise(const RbfDecodeResult& r, RbfSummary& summary) {
    summary.status = r.status;
    summary.samples = r.samples;
    summary.endMark = r.endMark;
    summary.walkedBytes = r.bytes;
}

class NullSink final : public RbfSampleSink {
public:
    bool Put(uint16_t, uint32_t) override { return true; }
};

}  // namespace

const char* RbfErrorText(RbfError error) {
    switch (error) {
        case RbfError::kNone: return "no error";
        case RbfError::kCannotOpen: return "the file cannot be opened";
        case RbfError::kTooLarge: return "the file is too large to be a resource";
        case RbfError::kUnknownMagic: return "not an RBF resource (unknown coding magic)";
        case RbfError::kNoPayload: return "the resource has no payload";
        case RbfError::kBadRate: return "the sample rate is below 1000 Hz, which no resource has";
        case RbfError::kBadPayload: return "the payload is damaged or cut short";
        case RbfError::kNoEndMark: return "the payload ends without its end mark";
        case RbfError::kAfterEndMark: return "bytes follow the end mark";
        case RbfError::kTempFile: return "the temporary file could not be written or read";
        case RbfError::kLimitTooSmall: return "the size limit is smaller than the header and the end mark";
        case RbfError::kCannotWrite: return "the output cannot be written";
    }
    return "unknown error";
}

RbfError ReadRbfFile(const char* path, std::vector<uint8_t>& bytes) {
    if (path == nullptr || *path == '\0') return RbfError::kCannotOpen;
    auto file = platform::File::Open(path, of::kRead | of::kShareDenyWrite);
    if (!file) return RbfError::kCannotOpen;
    const std::optional<uint64_t> size = file->Size();
    if (!size) return RbfError::kCannotOpen;
    if (*size > kRbfMaxFileSize) return RbfError::kTooLarge;
    std::vector<uint8_t> data(static_cast<size_t>(*size));
    if (!data.empty() && !file->ReadExact(data.data(), data.size())) return RbfError::kCannotOpen;
    bytes = std::move(data);
    return RbfError::kNone;
}

std::string DescribeRbfError(RbfError error, const RbfSummary& summary) {
    switch (error) {
        case RbfError::kBadRate:
            return "sample rate " + std::to_string(summary.sampleRate) + " Hz; a resource has " +
                   std::to_string(kRbfMinRate) + " Hz or more";
        case RbfError::kBadPayload:
            return RbfStatusText(summary.status) + std::string(" (after ") + std::to_string(summary.walkedBytes) +
                   " of " + std::to_string(summary.payloadBytes) + " payload bytes)";
        case RbfError::kNoEndMark:
            return "the " + std::to_string(summary.payloadBytes) + "-byte payload ends without its end mark";
        case RbfError::kAfterEndMark:
            return std::to_string(summary.payloadBytes - summary.walkedBytes) + " bytes follow the end mark";
        default: return RbfErrorText(error);
    }
}

RbfError InspectRbf(std::span<const uint8_t> file, RbfSummary& summary) {
    summary = RbfSummary();
    std::unique_ptr<RbfDecoder> decoder;
    std::span<const uint8_t> payload;
    if (RbfError e = OpenPayload(file, decoder, payload, summary); e != RbfError::kNone) return e;
    NullSink sink;
    RbfDecodeResult r = decoder->Decode(payload, sink);
    Summarise(r, summary);
    if (RbfError e = CheckWalk(r, payload.size()); e != RbfError::kNone) return e;
    summary.markers = std::move(r.markers);
    return RbfError::kNone;
}

RbfError DecodeRbfBytes(std::span<const uint8_t> file, C_WavData& sound, std::vector<RbfMarker>* markers) {
    std::unique_ptr<RbfDecoder> decoder;
    std::span<const uint8_t> payload;
    RbfSummary summary;
    if (RbfError e = OpenPayload(file, decoder, payload, summary); e != RbfError::kNone) return e;

    // The decoded samples go through a file of a private temporary folder,
    // removed with it on every path.
    auto folder = platform::TempFolder::Create();
    if (!folder) return RbfError::kTempFile;
    const std::string tempPath = folder->File("decoded.pcm");
    RbfDecodeResult r;
    {
        auto out = platform::File::Open(tempPath, of::kWrite | of::kCreate | of::kCreateNew);
        if (!out) return RbfError::kTempFile;
        TempFileSink sink(*out);
        r = decoder->Decode(payload, sink);
        if (RbfError e = CheckWalk(r, payload.size()); e != RbfError::kNone) return e;
        if (!sink.Flush() || !out->Close()) return RbfError::kTempFile;
    }

    // Load the temporary file as the sound's samples.
    const uint64_t bytes = r.samples * 2;  // at most 2 x kRbfMaxSamples: fits 32 bits
    auto in = platform::File::Open(tempPath, of::kRead | of::kShareDenyWrite);
    if (!in) return RbfError::kTempFile;
    const std::optional<uint64_t> size = in->Size();
    if (!size || *size != bytes) return RbfError::kTempFile;
    std::vector<uint8_t> samples(static_cast<size_t>(bytes));
    if (bytes != 0 && !in->ReadExact(samples.data(), samples.size())) return RbfError::kTempFile;

    sound.SetFormat(RbfSampleRate(file), static_cast<uint32_t>(bytes), 1, decoder->SampleBits(), 16, 0);
    if (sound.SetSampleData(samples.data(), static_cast<uint32_t>(bytes)) == nullptr && bytes != 0) {
        return RbfError::kTempFile;
    }
    C_WavDataCueInfo& cues = sound.CueInfo();
    cues.Clear();
    for (const RbfMarker& m : r.markers) cues.AppendCuePoint(m.identifier, m.position, "data", 0, m.type, m.position);
    if (markers) *markers = std::move(r.markers);
    return RbfError::kNone;
}

bool DecodeRbf(const char* path, C_WavData& sound, RbfError* error) {
    std::vector<uint8_t> file;
    RbfError e = ReadRbfFile(path, file);
    if (e == RbfError::kNone) e = DecodeRbfBytes(file, sound);
    if (error) *error = e;
    return e == RbfError::kNone;
}

int32_t ConvertRbfToWav(const char* rbfPath, const char* wavPath) {
    if (wavPath == nullptr || *wavPath == '\0') return 0;
    RefPtr<C_WavData> sound(new C_WavData());
    if (!DecodeRbf(rbfPath, *sound)) return 0;
    // A WAV file's 16-bit samples are signed: the 12-bit and the 16-bit
    // offset-binary forms are both converted.
    sound->GetWriteParam()->SetOutputFormat(16, 16, 1);
    return sound->SaveAs(kFormatWav, wavPath) ? 1 : 0;
}

RbfError CutRbfBytes(std::span<const uint8_t> file, uint64_t limit, std::vector<uint8_t>& out, RbfCutFigures* figures,
                     RbfSummary* summaryOut) {
    RbfSummary local;
    RbfSummary& summary = summaryOut ? *summaryOut : local;
    // Only a resource is cut: a damaged one (or a chip file of the same
    // magic) would give a copy that plays noise.
    if (RbfError e = InspectRbf(file, summary); e != RbfError::kNone) return e;
    std::unique_ptr<RbfDecoder> decoder = OpenRbfDecoder(file);
    const std::span<const uint8_t> payload = file.subspan(kRbfHeaderSize);
    std::vector<uint8_t> cut;
    uint64_t keptSamples = summary.samples;
    if (file.size() <= limit) {
        cut.assign(file.begin(), file.end());
    } else {
        const std::span<const uint8_t> end = decoder->EndMark();
        if (limit < kRbfHeaderSize + end.size()) return RbfError::kLimitTooSmall;
        const auto room = static_cast<size_t>(limit - kRbfHeaderSize - end.size());
        const size_t keep = std::min(decoder->CutLength(payload, room), payload.size());
        cut.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(kRbfHeaderSize + keep));
        cut.insert(cut.end(), end.begin(), end.end());
        NullSink sink;
        const RbfDecodeResult part = decoder->Decode(std::span<const uint8_t>(cut).subspan(kRbfHeaderSize), sink);
        // Whole blocks of a sound resource: the copy is one as well.
        if (CheckWalk(part, cut.size() - kRbfHeaderSize) != RbfError::kNone) return RbfError::kBadPayload;
        keptSamples = part.samples;
    }
    if (figures) {
        figures->sampleRate = summary.sampleRate;
        figures->samples = summary.samples;
        figures->keptSamples = keptSamples;
        figures->bytes = file.size();
        figures->keptBytes = cut.size();
    }
    out = std::move(cut);
    return RbfError::kNone;
}

bool CutRbf(const char* input, const char* output, uint64_t limit, RbfError* error, RbfCutFigures* figures,
            std::string* reason) {
    RbfSummary summary;
    auto finish = [&](RbfError e) {
        if (error) *error = e;
        if (reason) *reason = e == RbfError::kNone ? std::string() : DescribeRbfError(e, summary);
        return e == RbfError::kNone;
    };
    if (output == nullptr || *output == '\0') return finish(RbfError::kCannotWrite);
    std::vector<uint8_t> file;
    if (RbfError e = ReadRbfFile(input, file); e != RbfError::kNone) return finish(e);
    std::vector<uint8_t> cut;
    if (RbfError e = CutRbfBytes(file, limit, cut, figures, &summary); e != RbfError::kNone) return finish(e);
    // Written beside its name and put in place when complete.
    auto out = platform::AtomicOutput::Begin(output);
    if (!out) return finish(RbfError::kCannotWrite);
    if (!cut.empty() && !out->Out().Write(cut.data(), cut.size())) return finish(RbfError::kCannotWrite);
    return finish(out->Commit() ? RbfError::kNone : RbfError::kCannotWrite);
}

}  // namespace cz
