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

// The decoder of a file's magic, with the payload after the header.
RbfError OpenPayload(std::span<const uint8_t> file, std::unique_ptr<RbfDecoder>& decoder,
                     std::span<const uint8_t>& payload) {
    decoder = OpenRbfDecoder(file);
    if (!decoder) return RbfError::kUnknownMagic;
    if (file.size() <= kRbfHeaderSize) return RbfError::kNoPayload;
    payload = file.subspan(kRbfHeaderSize);
    return RbfError::kNone;
}

}  // namespace

const char* RbfErrorText(RbfError error) {
    switch (error) {
        case RbfError::kNone: return "no error";
        case RbfError::kCannotOpen: return "the file cannot be opened";
        case RbfError::kTooLarge: return "the file is too large to be a resource";
        case RbfError::kUnknownMagic: return "not an RBF resource (unknown coding magic)";
        case RbfError::kNoPayload: return "the resource has no payload";
        case RbfError::kBadPayload: return "the payload is damaged or cut short";
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

RbfError InspectRbf(std::span<const uint8_t> file, RbfSummary& summary) {
    std::unique_ptr<RbfDecoder> decoder;
    std::span<const uint8_t> payload;
    if (RbfError e = OpenPayload(file, decoder, payload); e != RbfError::kNone) return e;
    class Null final : public RbfSampleSink {
    public:
        bool Put(uint16_t, uint32_t) override { return true; }
    } sink;
    RbfDecodeResult r = decoder->Decode(payload, sink);
    if (!r.ok()) return RbfError::kBadPayload;
    summary.magic.assign(decoder->GetMagic(), 4);
    summary.sampleRate = RbfSampleRate(file);
    summary.bits = decoder->SampleBits();
    summary.samples = r.samples;
    summary.endMark = r.endMark;
    summary.markers = std::move(r.markers);
    return RbfError::kNone;
}

RbfError DecodeRbfBytes(std::span<const uint8_t> file, C_WavData& sound, std::vector<RbfMarker>* markers) {
    std::unique_ptr<RbfDecoder> decoder;
    std::span<const uint8_t> payload;
    if (RbfError e = OpenPayload(file, decoder, payload); e != RbfError::kNone) return e;

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
        if (r.status == RbfStatus::kSinkFailed) return RbfError::kTempFile;
        if (!r.ok()) return RbfError::kBadPayload;
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

RbfError CutRbfBytes(std::span<const uint8_t> file, uint64_t limit, std::vector<uint8_t>& out) {
    std::unique_ptr<RbfDecoder> decoder;
    std::span<const uint8_t> payload;
    if (RbfError e = OpenPayload(file, decoder, payload); e != RbfError::kNone) return e;
    if (file.size() <= limit) {
        out.assign(file.begin(), file.end());
        return RbfError::kNone;
    }
    const std::span<const uint8_t> end = decoder->EndMark();
    if (limit < kRbfHeaderSize + end.size()) return RbfError::kLimitTooSmall;
    const auto room = static_cast<size_t>(limit - kRbfHeaderSize - end.size());
    const size_t keep = std::min(decoder->CutLength(payload, room), payload.size());
    out.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(kRbfHeaderSize + keep));
    out.insert(out.end(), end.begin(), end.end());
    return RbfError::kNone;
}

bool CutRbf(const char* input, const char* output, uint64_t limit, RbfError* error) {
    auto finish = [&](RbfError e) {
        if (error) *error = e;
        return e == RbfError::kNone;
    };
    if (output == nullptr || *output == '\0') return finish(RbfError::kCannotWrite);
    std::vector<uint8_t> file;
    if (RbfError e = ReadRbfFile(input, file); e != RbfError::kNone) return finish(e);
    std::vector<uint8_t> cut;
    if (RbfError e = CutRbfBytes(file, limit, cut); e != RbfError::kNone) return finish(e);
    // Written beside its name and put in place when complete.
    auto out = platform::AtomicOutput::Begin(output);
    if (!out) return finish(RbfError::kCannotWrite);
    if (!cut.empty() && !out->Out().Write(cut.data(), cut.size())) return finish(RbfError::kCannotWrite);
    return finish(out->Commit() ? RbfError::kNone : RbfError::kCannotWrite);
}

}  // namespace cz
