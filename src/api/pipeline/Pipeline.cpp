#include "api/pipeline/Pipeline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "api/chains/Chains.h"
#include "api/pipeline/BlockResampler.h"
#include "api/pipeline/CleanBlockResampler.h"
#include "formats/binary/ResourceBinary.h"
#include "api/resconv/C_ResourceConverter.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "decoders/mp3/C_Mp3WavWriter.h"
#include "decoders/mp3/Mp3Decoder.h"
#include "decoders/wma/AsfReader.h"
#include "decoders/wma/C_WmaToWavConverter.h"
#include "decoders/wma/WmaFileDecoder.h"
#include "dsp/resample/C_PCMResample.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatRegistry.h"
#include "formats/registry/FormatTable.h"
#include "foundation/C_CUFilePath.h"
#include "foundation/C_CUString.h"
#include "foundation/RefPtr.h"
#include "foundation/WaveFormat.h"
#include "foundation/ByteArrayHeader.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavData.h"
#include "wave/C_WavFile.h"

namespace cz::api::pipeline {

namespace {

// Frames moved through the stages at a time.
constexpr size_t kBlockFrames = 16384;
// Bytes of a file read or copied at a time.
constexpr size_t kCopyBytes = 1 << 20;

std::string Extension(const std::string& path) {
    C_CUFilePath split(path.c_str());
    return split.GetExtension();
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

const uint8_t kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// Where the samples of a plain 16-bit PCM WAV file lie.
struct PlainWav {
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint64_t dataOffset = 0;
    uint32_t dataBytes = 0;
};

// A RIFF WAVE file of exactly a 16-byte "fmt " chunk (16-bit PCM, one or two
// channels) and a "data" chunk of whole frames that ends the file: nothing
// the sound model would keep besides the samples.
std::optional<PlainWav> ReadPlainWav(platform::File& file, uint64_t size) {
    uint8_t head[12];
    if (size < 44 || !file.Seek(0, platform::SeekOrigin::kBegin) || !file.ReadExact(head, sizeof head) ||
        std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return std::nullopt;
    PlainWav wav;
    bool haveFormat = false;
    uint64_t at = 12;
    while (at + 8 <= size) {
        uint8_t chunk[8];
        if (!file.Seek(static_cast<int64_t>(at), platform::SeekOrigin::kBegin) || !file.ReadExact(chunk, 8))
            return std::nullopt;
        const uint32_t length = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFormat) {
            uint8_t f[16];
            if (length != 16 || !file.ReadExact(f, sizeof f)) return std::nullopt;
            const uint16_t tag = Le16(f), channels = Le16(f + 2), align = Le16(f + 12), bits = Le16(f + 14);
            wav.rate = Le32(f + 4);
            if (tag != kWaveTagPcm || bits != 16 || (channels != 1 && channels != 2) || align != channels * 2 ||
                wav.rate == 0)
                return std::nullopt;
            wav.channels = channels;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && haveFormat) {
            // The data chunk ends the file and holds whole frames.
            if (at + 8 + length != size || length % (2u * wav.channels) != 0) return std::nullopt;
            wav.dataOffset = at + 8;
            wav.dataBytes = length;
            return wav;
        } else {
            return std::nullopt;  // any other chunk: the sound model decides what it keeps
        }
        at += 8 + static_cast<uint64_t>(length) + (length & 1u);
    }
    return std::nullopt;
}

bool NamedMp3(const std::string& path) { return CompareNoCase(Extension(path), ".mp3") == 0; }

// ---- sources ----------------------------------------------------------------

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Opens the input and learns its format; false with the reason.
    virtual bool Start(std::string* why) = 0;
    // Up to maxFrames interleaved frames; 0 at the end (or on a failure).
    virtual size_t Read(int16_t* out, size_t maxFrames) = 0;
    // True with the reason when the input stopped on an error.
    virtual bool Failed(std::string* /*why*/) const { return false; }
    // Share of the input consumed, 0 to 1.
    virtual double Fraction() = 0;

    uint32_t rate = 0;
    uint16_t channels = 0;
    // The frame count when the header tells it.
    std::optional<uint64_t> knownFrames;
};

class PlainWavSource final : public FrameSource {
public:
    explicit PlainWavSource(std::string path) : path_(std::move(path)) {}
    bool Start(std::string* why) override {
        file_ = platform::File::Open(path_, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
        uint64_t size = 0;
        if (!file_ || !file_->Seek(0, platform::SeekOrigin::kEnd, &size)) {
            *why = "cannot be read";
            return false;
        }
        const std::optional<PlainWav> wav = ReadPlainWav(*file_, size);
        if (!wav || !file_->Seek(static_cast<int64_t>(wav->dataOffset), platform::SeekOrigin::kBegin)) {
            *why = "cannot be read";
            return false;
        }
        rate = wav->rate;
        channels = wav->channels;
        left_ = wav->dataBytes / (2u * channels);
        total_ = left_;
        knownFrames = left_;
        return true;
    }
    size_t Read(int16_t* out, size_t maxFrames) override {
        const size_t frames = static_cast<size_t>(std::min<uint64_t>(maxFrames, left_));
        if (frames == 0) return 0;
        bytes_.resize(frames * channels * 2u);
        if (!file_->ReadExact(bytes_.data(), bytes_.size())) {
            failed_ = true;
            left_ = 0;
            return 0;
        }
        for (size_t i = 0; i < frames * channels; ++i) out[i] = static_cast<int16_t>(Le16(&bytes_[2 * i]));
        left_ -= frames;
        return frames;
    }
    bool Failed(std::string* why) const override {
        if (failed_) *why = "cannot be read";
        return failed_;
    }
    double Fraction() override { return total_ ? 1.0 - static_cast<double>(left_) / static_cast<double>(total_) : 1.0; }

private:
    std::string path_;
    std::optional<platform::File> file_;
    uint64_t left_ = 0;
    uint64_t total_ = 0;
    bool failed_ = false;
    std::vector<uint8_t> bytes_;
};

const char kMp3Failure[] = "not a decodable MP3 file, or the output cannot be written";

class Mp3Source final : public FrameSource {
public:
    Mp3Source(std::string path, bool gapless) : path_(std::move(path)) { decoder_.SetGapless(gapless); }
    bool Start(std::string* why) override {
        *why = kMp3Failure;
        if (!decoder_.OpenStream(path_.c_str())) return false;
        // The first frame fixes the format, as it does the WAV file's.
        pcm_ = decoder_.NextFrame(&left_);
        if (pcm_ == nullptr) return false;
        // What the encoder was given: its delay and the decoder's taken off
        // the front, its padding off the end.
        trimmer_.Start(decoder_.Gapless(), decoder_.FrameFormat().channels, left_);
        Trim();
        const mp3::Mp3FrameFormat& format = decoder_.FrameFormat();
        if (format.channels < 1 || format.channels > 2 || format.bitsPerSample != 16 || format.sampleRate <= 0)
            return false;
        rate = static_cast<uint32_t>(format.sampleRate);
        channels = static_cast<uint16_t>(format.channels);
        return true;
    }
    // The frames are the decoded samples taken channels at a time: a last
    // incomplete frame is dropped, as a WAV reader drops it.
    size_t Read(int16_t* out, size_t maxFrames) override {
        const size_t wanted = maxFrames * channels;
        size_t got = 0;
        while (got < wanted) {
            if (left_ == 0) {
                if (pcm_ == nullptr || (pcm_ = decoder_.NextFrame(&left_)) == nullptr) break;
                Trim();
                continue;
            }
            const size_t n = std::min<size_t>(left_, wanted - got);
            std::memcpy(out + got, pcm_, n * sizeof(int16_t));
            pcm_ += n;
            left_ = static_cast<uint16_t>(left_ - n);
            got += n;
        }
        return got / channels;
    }
    double Fraction() override { return decoder_.InputFraction(); }

private:
    // Cuts the frame just decoded (pcm_, left_) to the part the encoder was
    // given; a tail of the padding's length is held back until more comes.
    void Trim() { trimmer_.Cut(&pcm_, &left_); }

    std::string path_;
    mp3::C_Mp3ToWavConverter decoder_;
    const int16_t* pcm_ = nullptr;
    uint16_t left_ = 0;
    mp3::Mp3GaplessTrimmer trimmer_;
};

class WmaSource final : public FrameSource, private wma::I_AsfSource {
public:
    explicit WmaSource(std::string path) : path_(std::move(path)) {}
    bool Start(std::string* why) override {
        file_ = platform::File::Open(path_, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
        if (!file_ || !file_->Seek(0, platform::SeekOrigin::kEnd, &size_) ||
            !file_->Seek(0, platform::SeekOrigin::kBegin)) {
            *why = "cannot open the input";
            return false;
        }
        cache_.resize(kCacheBytes);
        decoder_ = std::make_unique<wma::WmaFileDecoder>(static_cast<wma::I_AsfSource&>(*this));
        if (!decoder_->Open()) {
            *why = decoder_->LastError().empty() ? "not a decodable WMA file" : decoder_->LastError();
            return false;
        }
        const wma::WmaOutputFormat format = decoder_->Format();
        rate = format.sampleRate;
        channels = format.channels;
        if (channels < 1 || channels > 2 || format.bitsPerSample != 16) {
            *why = "not a decodable WMA file";
            return false;
        }
        Advance();
        return true;
    }
    size_t Read(int16_t* out, size_t maxFrames) override {
        size_t got = 0;
        while (got < maxFrames && !ended_) {
            uint32_t remaining = 0;
            const size_t room = std::min<size_t>(maxFrames - got, 0xFFFFFFFFu);
            got += decoder_->Decode(out + got * channels, static_cast<uint32_t>(room), &remaining);
            if (remaining == 0) Advance();
        }
        return got;
    }
    bool Failed(std::string* why) const override {
        if (failed_) *why = error_.empty() ? "not a decodable WMA file" : error_;
        return failed_;
    }
    double Fraction() override {
        return size_ ? std::min(1.0, static_cast<double>(position_) / static_cast<double>(size_)) : 1.0;
    }

private:
    static constexpr size_t kCacheBytes = 65536;

    void Advance() {
        const wma::WmaPacketStatus status = decoder_->NextPacket();
        if (status == wma::WmaPacketStatus::kOk) return;
        ended_ = true;
        if (status == wma::WmaPacketStatus::kError) {
            failed_ = true;
            error_ = decoder_->LastError();
        }
    }
    const uint8_t* ReadAt(uint64_t offset, size_t count, size_t* available) override {
        *available = 0;
        if (offset < cacheOffset_ || offset >= cacheOffset_ + cacheCount_) {
            cacheOffset_ = offset;
            cacheCount_ = 0;
            if (offset >= size_ || !file_->Seek(static_cast<int64_t>(offset), platform::SeekOrigin::kBegin))
                return nullptr;
            size_t got = 0;
            const size_t want = static_cast<size_t>(std::min<uint64_t>(cache_.size(), size_ - offset));
            if (!file_->Read(cache_.data(), want, &got) || got == 0) return nullptr;
            cacheCount_ = got;
            position_ = offset + got;
        }
        const size_t at = static_cast<size_t>(offset - cacheOffset_);
        *available = std::min(count, cacheCount_ - at);
        return cache_.data() + at;
    }

    std::string path_;
    std::optional<platform::File> file_;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
    std::vector<uint8_t> cache_;
    uint64_t cacheOffset_ = 0;
    size_t cacheCount_ = 0;
    std::unique_ptr<wma::WmaFileDecoder> decoder_;
    bool ended_ = false;
    bool failed_ = false;
    std::string error_;
};

std::unique_ptr<FrameSource> MakeSource(InputKind kind, const std::string& path, bool gaplessMp3) {
    switch (kind) {
        case InputKind::kPlainWav: return std::make_unique<PlainWavSource>(path);
        case InputKind::kMp3: return std::make_unique<Mp3Source>(path, gaplessMp3);
        case InputKind::kWma: return std::make_unique<WmaSource>(path);
        default: return nullptr;
    }
}

// ---- progress ---------------------------------------------------------------

class Progress {
public:
    explicit Progress(I_ProgressCallback* callback) : callback_(callback) {
        if (callback_) {
            callback_->OnBegin();
            callback_->OnProgress(0);
        }
    }
    ~Progress() {
        if (callback_) callback_->OnEnd();
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void Set(double percent) {
        const auto p = static_cast<int32_t>(std::clamp(percent, 0.0, 100.0));
        if (callback_ && p != last_) {
            callback_->OnProgress(p);
            last_ = p;
        }
    }

private:
    I_ProgressCallback* callback_;
    int32_t last_ = 0;
};

// ---- the stages: which ones a job runs --------------------------------------

// The stages a profile selects: the best profile decodes MP3 gaplessly and
// resamples in the clean mode; the searching coders come with the write
// parameters (Profile::ApplyTo).
struct Stages {
    bool gaplessMp3 = false;       // the encoder's delay and padding taken off
    bool cleanResampling = false;  // transition band below the new Nyquist
};

Stages StagesFor(const Profile& profile) { return Stages{profile.GaplessMp3(), profile.CleanResampling()}; }

enum class Streamed { kDone, kFailed, kNotHere };

Result Refuse(Outcome outcome, const std::string& file, const std::string& text) {
    Result r;
    r.outcome = outcome;
    r.failure = {file, text};
    return r;
}

std::string WriteFailure() {
    const uint32_t error = platform::LastError();
    return error ? "cannot write the file: " + platform::SystemErrorText(error)
                 : "the sound cannot be written in this format";
}

// MP3, WMA and plain WAV in blocks: source, resampler, sink. kNotHere leaves
// the job to the whole-sound chain (nothing was written).
Streamed RunStreamed(const Job& job, InputKind kind, uint32_t outId, const std::string& made, Result& r) {
    const Stages stages = StagesFor(job.profile);
    std::unique_ptr<FrameSource> source = MakeSource(kind, job.input, stages.gaplessMp3);
    std::string why;
    if (!source || !source->Start(&why)) {
        // MPEG audio found by its first bytes but not decodable: the format
        // factory may know the file.
        if (kind == InputKind::kMp3 && !NamedMp3(job.input) && !job.forceKind) return Streamed::kNotHere;
        r.failure = {job.input, why};
        return Streamed::kFailed;
    }
    const bool chip = outId != kFormatWav;
    const bool resample = job.rate != 0;
    const uint16_t channels = source->channels;
    std::vector<int16_t> block(kBlockFrames * channels);
    Progress progress(job.progress);

    // The resampler and a chip format need the frame count first: a first
    // pass decodes without keeping anything.
    uint64_t frames = 0;
    const bool counted = source->knownFrames.has_value();
    if (counted) {
        frames = *source->knownFrames;
    } else if (resample || chip) {
        std::unique_ptr<FrameSource> counter = MakeSource(kind, job.input, stages.gaplessMp3);
        if (!counter->Start(&why)) {
            r.failure = {job.input, why};
            return Streamed::kFailed;
        }
        for (size_t n; (n = counter->Read(block.data(), kBlockFrames)) > 0;) {
            frames += n;
            progress.Set(counter->Fraction() * 50.0);
        }
        if (counter->Failed(&why)) {
            r.failure = {job.input, why};
            return Streamed::kFailed;
        }
    }
    const double share = counted || !(resample || chip) ? 100.0 : 50.0;
    const double base = 100.0 - share;

    // The sinc interpolation, or the clean mode of the best profile.
    std::optional<BlockResampler> sinc;
    std::optional<CleanBlockResampler> clean;
    uint32_t outRate = source->rate;
    uint64_t outFrames = frames;
    if (resample) {
        if (frames > 0xFFFFFFFFu) return Streamed::kNotHere;
        const auto count = static_cast<uint32_t>(frames);
        bool valid = false;
        if (stages.cleanResampling) {
            clean.emplace(channels, source->rate, job.rate, count);
            valid = clean->Valid();
            outFrames = clean->DestinationFrames();
        } else {
            sinc.emplace(channels, source->rate, job.rate, count);
            valid = sinc->Valid();
            outFrames = sinc->DestinationFrames();
        }
        // Refused rates and empty sounds: the whole-sound chain says why.
        if (!valid) return Streamed::kNotHere;
        outRate = job.rate;
    }
    if ((resample || chip) && outFrames * channels * 2u > C_PCMResample::kMaxOutputBytes) return Streamed::kNotHere;
    // A sound without frames: the sound model refuses to write it, and says
    // so.
    if ((resample || chip) && outFrames == 0) return Streamed::kNotHere;

    // The sinks: the streaming WAV writer, or the sound held once for a
    // chip format.
    mp3::C_Mp3WavWriter writer;
    std::unique_ptr<C_WavFile> sound;
    // APM and MDM take the mean of the channels, truncated toward zero, as
    // the first step of their save: the sound is held so, mixed already,
    // which halves what a stereo source holds.
    const bool premix = chip && channels == 2 && (outId == kFormatApm || outId == kFormatMdm);
    const uint16_t heldChannels = premix ? 1 : channels;
    uint8_t* held = nullptr;
    size_t heldBytes = 0, heldAt = 0;
    if (!chip) {
        S_WaveFormat format;
        format.formatTag = kWaveTagPcm;
        format.channels = channels;
        format.sampleRate = outRate;
        format.blockAlign = static_cast<uint16_t>(channels * 2u);
        format.bytesPerSecond = outRate * format.blockAlign;
        format.bitsPerSample = 16;
        if (!writer.Open(made) || !writer.WriteFormat(format)) {
            r.failure = {job.output, WriteFailure()};
            return Streamed::kFailed;
        }
    } else {
        sound = std::make_unique<C_WavFile>();
        sound->SetFormat(outRate, 0, heldChannels, 16, 16, 1);
        heldBytes = static_cast<size_t>(outFrames) * heldChannels * 2u;
        // Held so that the chip format's save takes the block over as
        // its words instead of copying it.
        held = sound->Sound() ? sound->Sound()->HoldSamplesForOneSave(static_cast<uint32_t>(heldBytes)) : nullptr;
        if (held == nullptr) {
            r.failure = {job.input, "not enough memory for the sound"};
            return Streamed::kFailed;
        }
    }
    bool writeFailed = false;
    auto emit = [&](const int16_t* samples, size_t count) {
        if (count == 0) return;
        if (!chip) {
            if (!writeFailed && !writer.WriteSamples(samples, static_cast<uint32_t>(count * sizeof(int16_t))))
                writeFailed = true;
            return;
        }
        if (premix) {
            const size_t n = std::min(count / 2 * 2u, heldBytes - heldAt);
            for (size_t i = 0; i < n / 2; ++i) {
                const int32_t sum = int32_t{samples[2 * i]} + int32_t{samples[2 * i + 1]};
                const auto v = static_cast<uint16_t>(static_cast<int16_t>(sum / 2));
                held[heldAt + 2 * i] = static_cast<uint8_t>(v);
                held[heldAt + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
            heldAt += n;
            return;
        }
        const size_t n = std::min(count * 2u, heldBytes - heldAt);
        for (size_t i = 0; i < n / 2; ++i) {
            const auto v = static_cast<uint16_t>(samples[i]);
            held[heldAt + 2 * i] = static_cast<uint8_t>(v);
            held[heldAt + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        heldAt += n;
    };

    std::vector<int16_t> out;
    uint64_t taken = 0;
    for (size_t n; (n = source->Read(block.data(), kBlockFrames)) > 0 && !writeFailed;) {
        if (chip && !resample && taken + n > frames) n = static_cast<size_t>(frames - taken);
        taken += n;
        if (resample) {
            out.clear();
            if (clean)
                clean->Push(block.data(), n, out);
            else
                sinc->Push(block.data(), n, out);
            emit(out.data(), out.size());
        } else {
            emit(block.data(), n * channels);
        }
        progress.Set(base + source->Fraction() * share);
    }
    if (source->Failed(&why)) {
        r.failure = {job.input, why};
        return Streamed::kFailed;
    }
    if (resample) {
        out.clear();
        if (clean)
            clean->Finish(out);
        else
            sinc->Finish(out);
        emit(out.data(), out.size());
    }
    if (taken == 0) return Streamed::kNotHere;  // the writer drops its file
    // The input is let go before anything is put in place: the output may
    // replace it.
    source.reset();
    if (writeFailed || (!chip && !writer.Close())) {
        r.failure = {job.output, WriteFailure()};
        return Streamed::kFailed;
    }
    if (chip) {
        if (job.haveCodecParam && sound->GetWriteParam()) sound->GetWriteParam()->SetCodecParam(job.codecParam);
        if (sound->GetWriteParam()) job.profile.ApplyTo(*sound->GetWriteParam());  // the coders' search
        platform::SetLastError(0);
        if (!sound->SaveAs(outId, made.c_str())) {
            r.failure = {job.output, WriteFailure()};
            return Streamed::kFailed;
        }
        if (channels > 1)
            r.warnings.push_back({job.input, std::to_string(channels) +
                                                 " channels are mixed to mono: the chip formats hold one channel"});
    }
    progress.Set(100.0);
    r.streamed = true;
    return Streamed::kDone;
}

// ---- the whole-sound chain ----------------------------------------------------

bool DecodeToWav(InputKind kind, const std::string& input, const std::string& wav, I_ProgressCallback* progress,
                 const Profile& profile, Result& r) {
    if (kind == InputKind::kMp3) {
        mp3::C_Mp3ToWavConverter converter;
        profile.ApplyTo(converter);  // gapless unless compatible
        if (converter.Convert(input.c_str(), wav.c_str(), progress, 0)) return true;
        r.failure = {input, kMp3Failure};
        return false;
    }
    wma::C_WmaToWavConverter converter;
    if (converter.Convert(input.c_str(), wav.c_str(), progress)) return true;
    r.failure = {input, converter.LastError().empty() ? "not a decodable WMA file" : converter.LastError()};
    return false;
}

bool ResampleToWav(const Job& job, const std::string& input, const std::string& output, Result& r,
                   const std::string& shownOutput) {
    C_PCMResample resampler;
    job.profile.ApplyTo(resampler);  // clean unless compatible
    if (resampler.ResampleFile(kResampleSinc2, input.c_str(), output.c_str(), kFormatWav, job.rate, kResampleSpare,
                               job.progress))
        return true;
    C_WavFileFormat factory;
    RefPtr<C_WavFile> probe = factory.Open(input.c_str());
    r.failure = {input, probe ? "cannot resample this sound or write " + shownOutput : factory.LastFailure()};
    return false;
}

// Files the factory opens, and compressed input the blocks could not take:
// decoded and resampled through files in the private folder, then loaded
// whole and saved by the sound model.
bool RunWhole(const Job& job, InputKind kind, uint32_t outId, const platform::TempFolder& temp, const std::string& made,
              Result& r) {
    const bool compressed = kind == InputKind::kMp3 || kind == InputKind::kWma;
    const bool lastIsWav = outId == kFormatWav;
    std::string current = job.input;
    // A chip file converted to WAV gives the sound the chip plays unless the
    // samples it was coded from are asked for.
    if (!job.sourceSamples && !job.asLoaded && lastIsWav && !compressed) {
        C_WavFileFormat factory;
        RefPtr<C_WavFile> file = factory.Open(job.input.c_str());
        if (file && file->LoadPlayedSound()) {
            file->ReleaseSource();
            const std::string target = temp.File("played.wav");
            if (!file->SaveAs(kFormatWav, target.c_str())) {
                r.failure = {job.input, "cannot write the decoded sound to " + target};
                return false;
            }
            current = target;
        }
    }
    // A resource binary: what the chip plays from it.
    if (job.readBinaries && !compressed && current == job.input) {
        std::string failure;
        const std::string target = temp.File("binary.wav");
        switch (OpenResourceBinaryAsWav(job.input.c_str(), target.c_str(), &failure)) {
            case BinaryOpen::kDecoded: current = target; break;
            case BinaryOpen::kFailed: r.failure = {job.input, failure}; return false;
            case BinaryOpen::kNotBinary: break;
        }
    }
    if (compressed) {
        const std::string target = temp.File("decoded.wav");
        if (!DecodeToWav(kind, job.input, target, job.progress, job.profile, r)) return false;
        current = target;
    }
    if (job.rate != 0) {
        if (job.asLoaded && lastIsWav) return ResampleToWav(job, current, made, r, job.output);
        const std::string target = temp.File("resampled.wav");
        if (!ResampleToWav(job, current, target, r, target)) return false;
        current = target;
    }
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(current.c_str());
    if (!file) {
        r.failure = {job.input, factory.LastFailure()};
        return false;
    }
    if (job.haveCodecParam && file->GetWriteParam()) file->GetWriteParam()->SetCodecParam(job.codecParam);
    if (file->GetWriteParam()) job.profile.ApplyTo(*file->GetWriteParam());  // the coders' search
    file->ReleaseSource();
    platform::SetLastError(0);
    if (!file->SaveAs(outId, made.c_str())) {
        r.failure = {job.output, WriteFailure()};
        return false;
    }
    // Say what the chip format leaves out.
    if (!lastIsWav && file->Sound()) {
        C_WavData* sound = file->Sound();
        if (sound->GetWavInfo()->GetChannels() > 1)
            r.warnings.push_back({job.input, std::to_string(sound->GetWavInfo()->GetChannels()) +
                                                 " channels are mixed to mono: the chip formats hold one channel"});
        const int32_t markers = sound->CueInfo().GetCount();
        C_WavFileFormat reader;
        RefPtr<C_WavFile> written = markers ? reader.Open(made.c_str()) : nullptr;
        if (written && written->Sound()) {
            C_WavData* out = written->Sound();
            const int32_t kept = out->GetActionEventMgr()->GetEventList()->GetCount() +
                                 out->SilenceSegments().GetCount() + out->CueInfo().GetCount();
            if (kept < markers)
                r.warnings.push_back({job.input, std::to_string(markers - kept) + " of " + std::to_string(markers) +
                                                     " markers are not kept in " + Extension(job.output).substr(1) +
                                                     " (only action events \"(type,param)\" and SILENCE markers are)"});
        }
    }
    return true;
}

bool ReadAll(const std::string& path, std::vector<uint8_t>& bytes) {
    auto file = platform::File::Open(path, platform::open_flags::kRead);
    if (!file) return false;
    auto size = file->Size();
    if (!size || *size > (1ull << 31)) return false;
    bytes.resize(static_cast<size_t>(*size));
    return bytes.empty() || file->ReadExact(bytes.data(), bytes.size());
}

// The sound the chip plays from a file the job made: a chip file decoded as
// it plays, or a resource binary decoded as the chip reads it.
}  // namespace

bool RenditionOf(const std::string& path, Rendition& out, Message& failure) {
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str());
    RefPtr<C_WavData> decoded;
    C_WavData* sound = nullptr;
    if (file) {
        file->LoadPlayedSound();
        file->ReleaseSource();
        sound = file->Sound();
    } else {
        S_ResourceBinary binary;
        std::string reason;
        if (!ReadResourceBinaryFile(path.c_str(), binary, &reason)) {
            failure = {path, "the chip rendition cannot be decoded: " + reason};
            return false;
        }
        decoded = RefPtr<C_WavData>(new C_WavData());
        ResourceBinaryToSound(binary, *decoded);
        sound = decoded.get();
    }
    if (!sound || !sound->GetWavInfo()->GetSampleRate() || !sound->GetWavInfo()->GetChannels()) {
        failure = {path, "the chip rendition cannot be decoded"};
        return false;
    }
    // In the sample format a WAV file of it holds: the write parameters'
    // output format, or 16 bits for the 12-bit chip form and for unsigned
    // samples wider than a byte.
    RefPtr<I_WavData> converted;
    {
        I_WavInfo* info = sound->GetWavInfo();
        C_WriteWavParam* param = sound->GetWriteParam();
        uint16_t valid = 16, container = 16;
        uint32_t sign = 1;
        bool convert = info->GetValidBits() == 12 || (info->GetSignedFlag() == 0 && info->GetContainerBits() > 8);
        if (param->HasOutputFormat()) {
            param->GetOutputFormat(&valid, &container, &sign);
            convert =
                valid != info->GetValidBits() || container != info->GetContainerBits() || sign != info->GetSignedFlag();
        }
        if (convert) {
            converted.reset(sound->ConvertFormat(valid, container, sign, nullptr));
            if (!converted) {
                failure = {path, "the chip rendition cannot be decoded"};
                return false;
            }
            sound = static_cast<C_WavData*>(converted.get());
        }
    }
    out.rate = sound->GetWavInfo()->GetSampleRate();
    out.channels = static_cast<uint16_t>(sound->GetWavInfo()->GetChannels());
    const uint32_t frames = sound->SampleCount();
    out.samples.resize(static_cast<size_t>(frames) * out.channels);
    size_t k = 0;
    for (uint32_t i = 0; i < frames; ++i)
        for (uint16_t c = 0; c < out.channels; ++c)
            out.samples[k++] = static_cast<int16_t>(std::clamp<int32_t>(sound->Sample(i, c), -32768, 32767));
    return true;
}

InputKind DetectInput(const std::string& path) {
    auto file = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    uint64_t size = 0;
    if (!file || !file->Seek(0, platform::SeekOrigin::kEnd, &size) || !file->Seek(0, platform::SeekOrigin::kBegin))
        return InputKind::kUnreadable;
    uint8_t head[4096] = {};
    size_t got = 0;
    if (!file->Read(head, sizeof head, &got)) return InputKind::kUnreadable;
    if (got >= 12 && std::memcmp(head, "RIFF", 4) == 0)
        return ReadPlainWav(*file, size) ? InputKind::kPlainWav : InputKind::kOther;
    if (got >= 16 && std::memcmp(head, kAsfHeaderGuid, 16) == 0) return InputKind::kWma;
    if (got >= 3 && std::memcmp(head, "ID3", 3) == 0) return InputKind::kMp3;
    // A frame header the decoder's sync search takes at the very start.
    if (got >= 4 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0 &&
        mp3::Mp3FindSync(head, static_cast<int32_t>(got)) == 0)
        return InputKind::kMp3;
    // Named MPEG audio is taken as such: its decoder says what is wrong.
    return NamedMp3(path) ? InputKind::kMp3 : InputKind::kOther;
}

Result Run(const Job& job) {
    const uint32_t outId = job.writeAs ? job.writeAs : GetFormatIdFromExtension(Extension(job.output).c_str());
    if (outId == kFormatNone)
        return Refuse(Outcome::kRefused, job.output, "unknown output format '" + Extension(job.output) + "'");
    if (outId != kFormatWav && !CreateFormatWriter(outId))
        return Refuse(Outcome::kFailed, job.output,
                      std::string("writing ") + Extension(job.output) + " files is not available in this build yet");
    const bool wantBinary = !job.binary.empty();
    const std::string header = wantBinary ? HeaderPath(job.binary.c_str()) : std::string();
    if (wantBinary && outId == kFormatWav)
        return Refuse(Outcome::kRefused, job.binary,
                      "a WAV file has no chip resource binary: --bin needs a chip format as output");
    // Every output is refused up front: an existing file without overwrite,
    // an output that is the input or another output.
    for (const std::string* path : {&job.output, &job.binary, &header}) {
        if (path->empty() || !job.publish) continue;
        if (!job.overwrite && platform::FileExists(*path))
            return Refuse(Outcome::kFailed, *path, "the file exists (use -y to overwrite it)");
    }
    const bool distinct = wantBinary
                              ? DistinctFiles({job.input.c_str()}, {job.output, job.binary, header}, InPlace::kAllowed)
                              : DistinctFiles({job.input.c_str()}, {job.output}, InPlace::kAllowed);
    if (!distinct && job.publish)
        return Refuse(Outcome::kFailed, job.output,
                      "an output is the same file as " + job.input + " or as another output; nothing was written");

    auto temp = platform::TempFolder::Create();
    if (!temp)
        return Refuse(Outcome::kFailed, platform::TempDirectory(),
                      "cannot make a temporary folder: " + platform::SystemErrorText(platform::LastError()));
    const std::string made = temp->File("out" + Extension(job.output));
    Result r;
    const InputKind kind = job.forceKind ? job.kind : DetectInput(job.input);
    // A plain WAV file saved in a chip format at its own rate is opened whole
    // by the sound model as it stands: nothing to stream.
    const bool stream = kind == InputKind::kMp3 || kind == InputKind::kWma ||
                        (kind == InputKind::kPlainWav && (outId == kFormatWav || job.rate != 0));
    Streamed streamed = stream ? RunStreamed(job, kind, outId, made, r) : Streamed::kNotHere;
    if (streamed == Streamed::kFailed) {
        r.outcome = Outcome::kFailed;
        return r;
    }
    if (streamed == Streamed::kNotHere) {
        r.warnings.clear();
        // MPEG audio by its first bytes that does not decode goes to the
        // factory as any other file.
        const InputKind whole =
            kind == InputKind::kMp3 && !NamedMp3(job.input) && !job.forceKind && stream ? InputKind::kOther : kind;
        if (!RunWhole(job, whole, outId, *temp, made, r)) {
            r.outcome = Outcome::kFailed;
            return r;
        }
    }

    std::string madeBinary;
    if (wantBinary) {
        // The binary gets its final file name inside the folder: the array
        // name of its header comes from it. A folder of its own only when a
        // file of the job already has that name.
        madeBinary = temp->File(BaseName(job.binary));
        if (platform::GetPathKind(madeBinary) != platform::PathKind::kMissing ||
            platform::GetPathKind(madeBinary + ".h") != platform::PathKind::kMissing) {
            auto binFolder = platform::CreateTempDirectory(temp->Path(), "bin");
            if (!binFolder) {
                r.failure = {platform::TempDirectory(), "cannot make a temporary folder"};
                r.outcome = Outcome::kFailed;
                return r;
            }
            madeBinary = *binFolder + platform::PathSeparator() + BaseName(job.binary);
        }
        C_ResourceConverter converter;
        if (!converter.ConvertToBinary(made.c_str(), madeBinary.c_str())) {
            r.failure = {job.binary, "the resource converter could not make a binary of this " +
                                         Extension(job.output).substr(1) + " file; nothing was written"};
            r.outcome = Outcome::kFailed;
            return r;
        }
        r.binaryBytes = platform::GetFileLength(madeBinary);
        if (job.header == HeaderStyle::kFirmware) {
            std::vector<uint8_t> bytes;
            if (!ReadAll(madeBinary, bytes) ||
                !WriteFirmwareHeader(madeBinary + ".h",
                                     job.headerName.empty() ? byte_array::Symbol(byte_array::FileNameOf(job.binary))
                                                            : byte_array::Symbol(job.headerName),
                                     bytes)) {
                r.failure = {header, "cannot write the firmware header"};
                r.outcome = Outcome::kFailed;
                return r;
            }
        }
    }
    if (!job.publish || job.wantRendition) {
        r.fileBytes = static_cast<unsigned long long>(std::max<int64_t>(0, platform::GetFileLength(made)));
        r.seconds = SoundSeconds(made);
    }
    if (job.wantRendition && !RenditionOf(wantBinary ? madeBinary : made, r.rendition, r.failure)) {
        r.outcome = Outcome::kFailed;
        return r;
    }
    if (!job.publish) {
        r.outcome = Outcome::kDone;
        return r;
    }
    std::string failure;
    if (!PublishFile(made, job.output, &failure)) {
        r.failure = {job.output, failure};
        r.outcome = Outcome::kFailed;
        return r;
    }
    r.written.push_back(job.output);
    if (wantBinary) {
        if (!PublishFile(madeBinary, job.binary, &failure)) {
            r.failure = {job.binary, failure};
            r.outcome = Outcome::kFailed;
            return r;
        }
        r.written.push_back(job.binary);
        if (!PublishFile(madeBinary + ".h", header, &failure)) {
            r.failure = {header, failure};
            r.outcome = Outcome::kFailed;
            return r;
        }
        r.written.push_back(header);
    }
    r.outcome = Outcome::kDone;
    return r;
}

bool PublishBytes(const std::string& target, const void* data, size_t size, std::string* failure) {
    uint32_t error = 0;
    auto out = platform::AtomicOutput::Begin(target, &error);
    if (!out) {
        if (failure) *failure = "cannot create the file: " + platform::SystemErrorText(error);
        return false;
    }
    if ((size && !out->Out().Write(data, size)) || !out->Commit()) {
        if (failure) *failure = "cannot write the file: " + platform::SystemErrorText(platform::LastError());
        return false;
    }
    return true;
}

bool PublishFile(const std::string& source, const std::string& target, std::string* failure) {
    // A plain file or a new name is replaced by a rename when both lie on one
    // file system; the file keeps the access rights a replaced file had.
    const platform::PathKind kind = platform::GetPathKind(target);
    if (kind == platform::PathKind::kMissing || kind == platform::PathKind::kFile) {
        auto made = platform::File::Open(source, platform::open_flags::kReadWrite);
        const bool access = made && (kind == platform::PathKind::kMissing || made->CopyAccessFrom(target));
        if (made) made->Close();
        if (access && platform::RenameOver(source, target)) return true;
    }
    // Otherwise a copy through a temporary file beside the target.
    auto in = platform::File::Open(source, platform::open_flags::kRead);
    if (!in) {
        if (failure) *failure = "cannot read the finished file back from the temporary folder";
        return false;
    }
    uint32_t error = 0;
    auto out = platform::AtomicOutput::Begin(target, &error);
    if (!out) {
        if (failure) *failure = "cannot create the file: " + platform::SystemErrorText(error);
        return false;
    }
    std::vector<uint8_t> buffer(kCopyBytes);
    for (;;) {
        size_t got = 0;
        if (!in->Read(buffer.data(), buffer.size(), &got)) {
            if (failure) *failure = "cannot read the finished file back from the temporary folder";
            return false;
        }
        if (got == 0) break;
        if (!out->Out().Write(buffer.data(), got)) {
            if (failure) *failure = "cannot write the file: " + platform::SystemErrorText(platform::LastError());
            return false;
        }
    }
    if (!out->Commit()) {
        if (failure) *failure = "cannot write the file: " + platform::SystemErrorText(platform::LastError());
        return false;
    }
    return true;
}

bool WriteFirmwareHeader(const std::string& headerPath, const std::string& arrayName,
                         const std::vector<uint8_t>& bytes) {
    const std::string text = byte_array::Text(byte_array::Style::kFirmware, arrayName, bytes);
    return PublishBytes(headerPath, text.data(), text.size(), nullptr);
}

double SoundSeconds(const std::string& path) {
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str(), kOpenHeaderOnly);
    I_WavInfo* info = file ? file->GetWavInfo() : nullptr;
    if (!info || !info->GetSampleRate()) return 0;
    return static_cast<double>(info->GetSampleCount()) / info->GetSampleRate();
}

}  // namespace cz::api::pipeline
