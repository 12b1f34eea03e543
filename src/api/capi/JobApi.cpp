// The conversion jobs of include/cadenzor/cadenzor_job.h over the pipeline.
//
// A run makes every output in a private temporary folder (the pipeline's own
// publishing is then inside that folder), measures what it made, and only
// when nothing failed and nobody cancelled puts the files in place or hands
// the bytes over. Cancelling from the progress callback stops the pipeline
// by unwinding out of it from the job's own thread; a request that arrives
// on a worker thread is honoured at the next report on the job's thread, or
// at the latest before anything is put in place.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "api/capi/FormatFacts.h"
#include "api/capi/Quality.h"
#include "api/pipeline/Pipeline.h"
#include "cadenzor/cadenzor_job.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatRegistry.h"
#include "foundation/I_ProgressCallback.h"
#include "foundation/RefPtr.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavData.h"
#include "wave/C_WavFile.h"

#ifndef CADENZOR_VERSION
#define CADENZOR_VERSION "0.0.0"
#endif

using namespace cz;
namespace pl = cz::api::pipeline;

struct cz_job {
    // settings
    std::string inputPath;
    bool inputInMemory = false;
    std::vector<uint8_t> inputBytes;
    std::string inputName;
    std::string outputPath;
    bool outputInMemory = false;
    std::string format;
    uint32_t rate = 0;
    api::Profile profile;
    int32_t mode = -1, bitrate = -1, quality = -1;
    std::string binaryPath;
    bool binaryInMemory = false;
    pl::HeaderStyle header = pl::HeaderStyle::kPlain;
    bool overwrite = false;
    bool measure = false;
    cz_progress_fn progress = nullptr;
    void* user = nullptr;

    // the last run
    cz_status status = CZ_ERR_NOT_RUN;
    std::string errorFile, errorReason, errorText;
    std::vector<std::string> warnings;
    int64_t inBytes = -1, outBytes = -1, binBytes = -1;
    double seconds = 0;
    uint32_t outRate = 0, outChannels = 0;
    bool haveQuality = false;
    double snr = 0, segmental = 0;
    std::optional<std::vector<uint8_t>> outData, binData;
};

namespace {

// Thrown from the progress report on the job's thread once the caller asked
// to stop; caught in cz_job_run.
struct JobCancelled {};

class ProgressRelay final : public I_ProgressCallback {
public:
    ProgressRelay(cz_progress_fn fn, void* user) : fn_(fn), user_(user), owner_(std::this_thread::get_id()) {}
    void OnBegin() override {}
    void OnEnd() override {}
    void OnProgress(int32_t percent) override {
        Call(percent);
        if (cancelled_.load() && std::this_thread::get_id() == owner_ && std::uncaught_exceptions() == 0)
            throw JobCancelled{};
    }
    // A report of the job's own (the start and the end, which every run
    // gets whatever its stages report): true when the caller asks to stop.
    bool Report(int32_t percent) {
        Call(percent);
        return cancelled_.load();
    }
    bool Cancelled() const { return cancelled_.load(); }

private:
    cz_progress_fn fn_;
    void* user_;
    std::thread::id owner_;
    std::mutex mutex_;
    std::atomic<bool> cancelled_{false};
    int32_t last_ = -1;

    // The caller sees each percent once, rising, and nothing after asking
    // to stop.
    void Call(int32_t percent) {
        std::lock_guard<std::mutex> lock(mutex_);
        percent = std::clamp<int32_t>(percent, 0, 100);
        if (cancelled_.load() || percent <= last_) return;
        last_ = percent;
        if (fn_(user_, percent) != 0) cancelled_.store(true);
    }
};

std::string BaseName(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ExtensionOf(const std::string& path) {
    const std::string base = BaseName(path);
    const size_t dot = base.find_last_of('.');
    return dot == std::string::npos ? std::string() : base.substr(dot);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes) {
    auto file = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!file) return false;
    const auto size = file->Size();
    if (!size) return false;
    bytes.resize(static_cast<size_t>(*size));
    return bytes.empty() || file->ReadExact(bytes.data(), bytes.size());
}

bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
    using namespace platform::open_flags;
    auto file = platform::File::Open(path, kWrite | kCreate | kCreateNew | kShareExclusive);
    if (!file) return false;
    if (!bytes.empty() && !file->Write(bytes.data(), bytes.size())) return false;
    return file->Close();
}

// The codec parameter of a format from the three settings (-1: unset), as the
// coders take it: false with *why when a setting does not apply.
bool PackCodecParam(uint32_t formatId, int32_t mode, int32_t bitrate, int32_t quality, bool* have, uint32_t* param,
                    std::string* why) {
    *have = false;
    *param = 0;
    const bool m = mode >= 0, b = bitrate >= 0, q = quality >= 0;
    switch (formatId) {
        case kFormatApm:
        case kFormatApm6Bit:
        case kFormatWam:
        case kFormatSam:
        case kFormatMcp:
        case kFormatMvclp:
        case kFormatWlp:
            if (b || q) return *why = "the bit rate and quality settings apply to ESB and SBD only", false;
            *have = m;
            *param = m ? static_cast<uint32_t>(mode) : 0;
            return true;
        case kFormatEsb:
            if (m) return *why = "the mode setting does not apply to ESB (set the bit rate and quality)", false;
            if (b && (bitrate < 100 || bitrate / 100 > 0xFFFF))
                return *why = "ESB takes a bit rate from 100 to 6553500 bit/s", false;
            if (q && quality > 0x7FFF) return *why = "ESB takes a quality from 0 to 32767", false;
            // Bit rate / 100 in bits 0-15, quality in bits 16-30.
            *param = (b ? static_cast<uint32_t>(bitrate / 100) : 0) | (q ? static_cast<uint32_t>(quality) << 16 : 0);
            *have = b || q;
            return true;
        case kFormatSbd:
            if (m || q) return *why = "SBD takes a bit rate only", false;
            if (b && (bitrate < 1 || bitrate > 0xFFFF))
                return *why = "SBD takes a bit rate from 1 to 65535 bit/s", false;
            *have = b;
            *param = b ? static_cast<uint32_t>(bitrate) : 0;
            return true;
        default:
            if (m || b || q)
                return *why = std::string(m   ? "the mode"
                                          : b ? "the bit rate"
                                              : "the quality") +
                              " setting does not apply to this format",
                       false;
            return true;
    }
}

cz_status Fail(cz_job* job, cz_status status, const std::string& file, const std::string& reason) {
    job->status = status;
    job->errorFile = file;
    job->errorReason = reason;
    job->errorText = file.empty() ? reason : file + ": " + reason;
    return status;
}

void ClearResult(cz_job* job) {
    job->status = CZ_ERR_NOT_RUN;
    job->errorFile.clear();
    job->errorReason.clear();
    job->errorText.clear();
    job->warnings.clear();
    job->inBytes = job->outBytes = job->binBytes = -1;
    job->seconds = 0;
    job->outRate = job->outChannels = 0;
    job->haveQuality = false;
    job->snr = job->segmental = 0;
    job->outData.reset();
    job->binData.reset();
}

// Duration, rate and channels of a file the library reads.
void MeasureSound(const std::string& path, cz_job* job) {
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str());
    if (!file || !file->Sound()) return;
    I_WavInfo* info = file->Sound()->GetWavInfo();
    if (!info) return;
    job->outRate = info->GetSampleRate();
    job->outChannels = info->GetChannels();
    job->seconds = info->GetSampleRate() ? static_cast<double>(info->GetSampleCount()) / info->GetSampleRate() : 0.0;
}

// The source at the output's rate and what the chip plays from the output,
// both as WAV files, compared.
bool MeasureQuality(const pl::Job& made, const platform::TempFolder& temp, cz_job* job) {
    pl::Job reference;
    reference.input = made.input;
    reference.output = temp.File("reference.wav");
    reference.writeAs = kFormatWav;
    reference.rate = made.rate ? made.rate : job->outRate;
    reference.profile = made.profile;
    reference.readBinaries = true;
    pl::Job played;
    played.input = made.output;
    played.output = temp.File("played.wav");
    played.writeAs = kFormatWav;
    played.readBinaries = true;
    if (!pl::Run(reference).ok() || !pl::Run(played).ok()) return false;
    std::vector<uint8_t> a, b;
    if (!ReadWhole(reference.output, a) || !ReadWhole(played.output, b)) return false;
    const std::optional<capi::QualityFigures> q = capi::CompareWavBytes(a, b);
    if (!q) return false;
    job->snr = q->snr;
    job->segmental = q->segmental;
    return true;
}

cz_status StatusOfFailure(const pl::Result& r, const std::string& input) {
    if (r.outcome == pl::Outcome::kRefused) return CZ_ERR_REFUSED;
    if (r.failure.file == input) return CZ_ERR_INPUT;
    return CZ_ERR_CONVERSION;
}

// Output targets in order: what the pipeline made and where it goes.
struct Placement {
    std::string made;
    std::string target;
};

cz_status Run(cz_job* job) {
    ClearResult(job);
    if (!job->inputInMemory && job->inputPath.empty()) return Fail(job, CZ_ERR_NO_INPUT, "", "no input is set");
    if (!job->outputInMemory && job->outputPath.empty()) return Fail(job, CZ_ERR_NO_INPUT, "", "no output is set");
    const std::string inputLabel = job->inputInMemory ? job->inputName : job->inputPath;
    const std::string outputLabel = job->outputInMemory ? std::string("the output") : job->outputPath;

    // The output format.
    uint32_t formatId = 0;
    if (!job->format.empty()) {
        const capi::FormatFact* fact = capi::FindWrittenFormat(job->format);
        if (!fact) return Fail(job, CZ_ERR_FORMAT, outputLabel, "unknown output format '" + job->format + "'");
        formatId = fact->id;
    } else if (job->outputInMemory) {
        return Fail(job, CZ_ERR_FORMAT, outputLabel, "an output in memory needs its format named");
    } else {
        const std::string ext = ExtensionOf(job->outputPath);
        const capi::FormatFact* fact = capi::FindWrittenFormat(ext);
        if (!fact)
            return Fail(job, CZ_ERR_FORMAT, outputLabel,
                        ext.empty() ? "the output has no extension to tell its format (name the format)"
                                    : "unknown output format '" + ext + "'");
        formatId = fact->id;
    }
    bool haveParam = false;
    uint32_t param = 0;
    std::string why;
    if (!PackCodecParam(formatId, job->mode, job->bitrate, job->quality, &haveParam, &param, &why))
        return Fail(job, CZ_ERR_OPTION, outputLabel, why);
    const bool wantBinary = job->binaryInMemory || !job->binaryPath.empty();
    if (wantBinary && formatId == kFormatWav)
        return Fail(job, CZ_ERR_REFUSED, job->binaryInMemory ? "the binary" : job->binaryPath,
                    "a WAV file has no chip resource binary: a binary needs a chip format as output");

    // Files in place: refused before anything is made.
    std::vector<std::string> targets;
    if (!job->outputInMemory) targets.push_back(job->outputPath);
    if (!job->binaryInMemory && !job->binaryPath.empty()) {
        targets.push_back(job->binaryPath);
        targets.push_back(job->binaryPath + ".h");
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        for (size_t j = 0; j < i; ++j)
            if (targets[i] == targets[j] || platform::SameFile(targets[i], targets[j]))
                return Fail(job, CZ_ERR_REFUSED, targets[i], "the output and the binary are the same file");
        const platform::PathKind kind = platform::GetPathKind(targets[i]);
        if (kind == platform::PathKind::kDirectory || kind == platform::PathKind::kOther)
            return Fail(job, CZ_ERR_REFUSED, targets[i], "this is not a plain file");
        if (kind == platform::PathKind::kMissing && !platform::DirectoryExists(platform::DirectoryOf(targets[i])))
            return Fail(job, CZ_ERR_WRITE, targets[i], "its folder does not exist");
        if (kind == platform::PathKind::kFile && !job->overwrite)
            return Fail(job, CZ_ERR_OUTPUT_EXISTS, targets[i], "the file exists (ask for overwriting to replace it)");
    }

    auto temp = platform::TempFolder::Create("czjob");
    if (!temp) return Fail(job, CZ_ERR_WRITE, "", "cannot make a temporary folder");
    std::string input = job->inputPath;
    if (job->inputInMemory) {
        input = temp->File("input" + ExtensionOf(job->inputName));
        if (!WriteWhole(input, job->inputBytes))
            return Fail(job, CZ_ERR_WRITE, "", "cannot write the input to a temporary file");
        job->inBytes = static_cast<int64_t>(job->inputBytes.size());
    } else {
        job->inBytes = platform::GetFileLength(input);
    }
    const auto outDir = platform::CreateTempDirectory(temp->Path(), "out");
    const auto binDir = platform::CreateTempDirectory(temp->Path(), "bin");
    if (!outDir || !binDir) return Fail(job, CZ_ERR_WRITE, "", "cannot make a temporary folder");
    const char sep = platform::PathSeparator();
    std::string outName = job->outputInMemory ? "output" : BaseName(job->outputPath);
    if (job->outputInMemory) {
        const char* ext = GetExtensionOfFormat(formatId);
        outName += ext ? ext : "";
    }
    const Placement output{*outDir + sep + outName, job->outputInMemory ? std::string() : job->outputPath};
    const Placement binary{
        wantBinary ? *binDir + sep + (job->binaryInMemory ? "resource.bin" : BaseName(job->binaryPath)) : std::string(),
        job->binaryInMemory ? std::string() : job->binaryPath};

    pl::Job run;
    run.input = input;
    run.output = output.made;
    run.writeAs = formatId;
    run.rate = job->rate;
    run.profile = job->profile;
    run.readBinaries = true;
    run.haveCodecParam = haveParam;
    run.codecParam = param;
    run.binary = binary.made;
    run.header = job->header;
    run.overwrite = true;
    std::optional<ProgressRelay> relay;
    if (job->progress) {
        relay.emplace(job->progress, job->user);
        run.progress = &*relay;
    }

    // Messages speak of the caller's files, never of the private folder.
    auto caller = [&](std::string text) {
        ReplaceAll(text, binary.made + ".h", job->binaryInMemory ? "the binary's header" : job->binaryPath + ".h");
        ReplaceAll(text, binary.made, job->binaryInMemory ? "the binary" : job->binaryPath);
        ReplaceAll(text, output.made, outputLabel);
        ReplaceAll(text, input, inputLabel);
        return text;
    };

    if (relay && relay->Report(0)) return Fail(job, CZ_ERR_CANCELLED, inputLabel, "cancelled");
    pl::Result r;
    try {
        r = pl::Run(run);
    } catch (const JobCancelled&) {
        return Fail(job, CZ_ERR_CANCELLED, inputLabel, "cancelled");
    }
    if (relay && relay->Cancelled()) return Fail(job, CZ_ERR_CANCELLED, inputLabel, "cancelled");
    for (const pl::Message& w : r.warnings) job->warnings.push_back(caller(w.file) + ": " + caller(w.text));
    if (!r.ok()) return Fail(job, StatusOfFailure(r, input), caller(r.failure.file), caller(r.failure.text));

    job->outBytes = platform::GetFileLength(output.made);
    if (wantBinary) job->binBytes = platform::GetFileLength(binary.made);
    MeasureSound(output.made, job);
    if (job->measure) {
        job->haveQuality = MeasureQuality(run, *temp, job);
    }

    // The last word before anything is put in place.
    if (relay && relay->Report(100)) return Fail(job, CZ_ERR_CANCELLED, inputLabel, "cancelled");

    // Hand over or put in place: memory first (nothing to undo), then the
    // files in order; a file put in place that did not exist before is
    // removed again when a later one fails.
    if (job->outputInMemory) {
        job->outData.emplace();
        if (!ReadWhole(output.made, *job->outData)) return Fail(job, CZ_ERR_WRITE, outputLabel, "cannot read it back");
    }
    if (job->binaryInMemory) {
        job->binData.emplace();
        if (!ReadWhole(binary.made, *job->binData)) return Fail(job, CZ_ERR_WRITE, "the binary", "cannot read it back");
    }
    std::vector<Placement> files;
    if (!job->outputInMemory) files.push_back(output);
    if (wantBinary && !job->binaryInMemory) {
        files.push_back(binary);
        files.push_back({binary.made + ".h", binary.target + ".h"});
    }
    std::vector<std::string> placedNew;
    for (const Placement& p : files) {
        const bool existed = platform::FileExists(p.target);
        std::string failure;
        if (!pl::PublishFile(p.made, p.target, &failure)) {
            for (const std::string& done : placedNew) platform::DeleteFile(done);
            job->outData.reset();
            job->binData.reset();
            return Fail(job, CZ_ERR_WRITE, p.target, caller(failure));
        }
        if (!existed) placedNew.push_back(p.target);
    }
    job->status = CZ_OK;
    return CZ_OK;
}

template <typename F>
cz_status Guarded(cz_job* job, F&& body) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(job, CZ_ERR_NO_MEMORY, "", "out of memory");
    } catch (const std::exception& e) {
        return Fail(job, CZ_ERR_INTERNAL, "", std::string("internal fault: ") + e.what());
    } catch (...) {
        return Fail(job, CZ_ERR_INTERNAL, "", "internal fault");
    }
}

cz_status SetText(cz_job* job, std::string* field, const char* text) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    try {
        if (text)
            *field = text;
        else
            field->clear();
    } catch (...) {
        return CZ_ERR_NO_MEMORY;
    }
    return CZ_OK;
}

cz_status Take(std::optional<std::vector<uint8_t>>& from, void** data, size_t* size) {
    if (!data || !size) return CZ_ERR_INVALID_ARGUMENT;
    *data = nullptr;
    *size = 0;
    if (!from) return CZ_ERR_NOT_RUN;
    void* copy = std::malloc(from->empty() ? 1 : from->size());
    if (!copy) return CZ_ERR_NO_MEMORY;
    if (!from->empty()) std::memcpy(copy, from->data(), from->size());
    *data = copy;
    *size = from->size();
    from.reset();
    return CZ_OK;
}

const char* const kStatusTexts[] = {
    "done",
    "invalid argument",
    "no input or output is set",
    "the input cannot be read",
    "unknown or unwritable output format",
    "a setting does not apply to the output format",
    "the output exists",
    "the job cannot be done as asked",
    "the conversion failed",
    "an output cannot be written",
    "cancelled",
    "out of memory",
    "not run",
    "internal fault",
};

}  // namespace

extern "C" {

int cz_job_api_version(void) { return CADENZOR_JOB_API_VERSION; }
const char* cz_library_version(void) { return CADENZOR_VERSION; }

const char* cz_status_text(int status) {
    if (status < 0 || static_cast<size_t>(status) >= sizeof kStatusTexts / sizeof kStatusTexts[0])
        return "unknown result code";
    return kStatusTexts[status];
}

size_t cz_format_count(void) {
    try {
        return capi::FormatFacts().size();
    } catch (...) {
        return 0;
    }
}

#define CZ_FORMAT_FIELD(type, name, expr, none)      \
    type name(size_t index) {                        \
        try {                                        \
            const auto& rows = capi::FormatFacts();  \
            if (index >= rows.size()) return none;   \
            const capi::FormatFact& f = rows[index]; \
            return expr;                             \
        } catch (...) {                              \
            return none;                             \
        }                                            \
    }
CZ_FORMAT_FIELD(const char*, cz_format_name, f.name.c_str(), nullptr)
CZ_FORMAT_FIELD(const char*, cz_format_extension, f.extension.c_str(), nullptr)
CZ_FORMAT_FIELD(const char*, cz_format_long_name, f.longName.c_str(), nullptr)
CZ_FORMAT_FIELD(int32_t, cz_format_id, static_cast<int32_t>(f.id), -1)
CZ_FORMAT_FIELD(int, cz_format_makes_binary, f.makesBinary ? 1 : 0, -1)
CZ_FORMAT_FIELD(int, cz_format_writes, f.writes ? 1 : 0, -1)
#undef CZ_FORMAT_FIELD

cz_job* cz_job_create(void) { return new (std::nothrow) cz_job(); }
void cz_job_destroy(cz_job* job) { delete job; }

cz_status cz_job_set_input_path(cz_job* job, const char* path) {
    if (!job || !path) return CZ_ERR_INVALID_ARGUMENT;
    job->inputInMemory = false;
    job->inputBytes.clear();
    return SetText(job, &job->inputPath, path);
}

cz_status cz_job_set_input_buffer(cz_job* job, const void* data, size_t size, const char* name) {
    if (!job || (!data && size)) return CZ_ERR_INVALID_ARGUMENT;
    try {
        const auto* bytes = static_cast<const uint8_t*>(data);
        job->inputBytes.assign(bytes, bytes + size);
        job->inputName = name && *name ? name : "the input";
    } catch (...) {
        return CZ_ERR_NO_MEMORY;
    }
    job->inputInMemory = true;
    job->inputPath.clear();
    return CZ_OK;
}

cz_status cz_job_set_output_path(cz_job* job, const char* path) {
    if (!job || !path) return CZ_ERR_INVALID_ARGUMENT;
    job->outputInMemory = false;
    return SetText(job, &job->outputPath, path);
}

cz_status cz_job_set_output_buffer(cz_job* job) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    job->outputInMemory = true;
    job->outputPath.clear();
    return CZ_OK;
}

cz_status cz_job_set_format(cz_job* job, const char* name) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    try {
        if (name && !capi::FindWrittenFormat(name)) return CZ_ERR_FORMAT;
    } catch (...) {
        return CZ_ERR_NO_MEMORY;
    }
    return SetText(job, &job->format, name);
}

cz_status cz_job_set_rate(cz_job* job, uint32_t hz) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    job->rate = hz;
    return CZ_OK;
}

cz_status cz_job_set_profile(cz_job* job, cz_profile profile) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    if (profile == CZ_PROFILE_BEST)
        job->profile = api::Profile::Best();
    else if (profile == CZ_PROFILE_COMPATIBLE)
        job->profile = api::Profile::Compatible();
    else
        return CZ_ERR_INVALID_ARGUMENT;
    return CZ_OK;
}

cz_status cz_job_set_codec(cz_job* job, int32_t mode, int32_t bitrate, int32_t quality) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    job->mode = mode < 0 ? -1 : mode;
    job->bitrate = bitrate < 0 ? -1 : bitrate;
    job->quality = quality < 0 ? -1 : quality;
    return CZ_OK;
}

cz_status cz_job_set_binary_path(cz_job* job, const char* path) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    job->binaryInMemory = false;
    return SetText(job, &job->binaryPath, path);
}

cz_status cz_job_set_binary_buffer(cz_job* job, int on) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    job->binaryInMemory = on != 0;
    if (on) job->binaryPath.clear();
    return CZ_OK;
}

cz_status cz_job_set_header_style(cz_job* job, cz_header_style style) {
    if (!job || (style != CZ_HEADER_PLAIN && style != CZ_HEADER_FIRMWARE)) return CZ_ERR_INVALID_ARGUMENT;
    job->header = style == CZ_HEADER_FIRMWARE ? pl::HeaderStyle::kFirmware : pl::HeaderStyle::kPlain;
    return CZ_OK;
}

cz_status cz_job_set_overwrite(cz_job* job, int on) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    job->overwrite = on != 0;
    return CZ_OK;
}

cz_status cz_job_set_measure_quality(cz_job* job, int on) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    job->measure = on != 0;
    return CZ_OK;
}

cz_status cz_job_set_progress(cz_job* job, cz_progress_fn callback, void* user) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    job->progress = callback;
    job->user = user;
    return CZ_OK;
}

cz_status cz_job_run(cz_job* job) {
    return Guarded(job, [job] { return Run(job); });
}

cz_status cz_job_status(const cz_job* job) { return job ? job->status : CZ_ERR_INVALID_ARGUMENT; }
const char* cz_job_error_text(const cz_job* job) { return job ? job->errorText.c_str() : ""; }
const char* cz_job_error_file(const cz_job* job) { return job ? job->errorFile.c_str() : ""; }
const char* cz_job_error_reason(const cz_job* job) { return job ? job->errorReason.c_str() : ""; }

size_t cz_job_warning_count(const cz_job* job) { return job ? job->warnings.size() : 0; }
const char* cz_job_warning(const cz_job* job, size_t index) {
    return job && index < job->warnings.size() ? job->warnings[index].c_str() : nullptr;
}

int64_t cz_job_input_bytes(const cz_job* job) { return job && job->status == CZ_OK ? job->inBytes : -1; }
int64_t cz_job_output_bytes(const cz_job* job) { return job && job->status == CZ_OK ? job->outBytes : -1; }
int64_t cz_job_binary_bytes(const cz_job* job) { return job && job->status == CZ_OK ? job->binBytes : -1; }
double cz_job_duration(const cz_job* job) { return job && job->status == CZ_OK ? job->seconds : 0.0; }
uint32_t cz_job_output_rate(const cz_job* job) { return job && job->status == CZ_OK ? job->outRate : 0; }
uint32_t cz_job_output_channels(const cz_job* job) { return job && job->status == CZ_OK ? job->outChannels : 0; }

cz_status cz_job_snr(const cz_job* job, double* snr_db, double* segmental_snr_db) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    if (job->status != CZ_OK || !job->haveQuality) return CZ_ERR_NOT_RUN;
    if (snr_db) *snr_db = job->snr;
    if (segmental_snr_db) *segmental_snr_db = job->segmental;
    return CZ_OK;
}

cz_status cz_job_take_output(cz_job* job, void** data, size_t* size) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    return Take(job->outData, data, size);
}

cz_status cz_job_take_binary(cz_job* job, void** data, size_t* size) {
    if (!job) return CZ_ERR_INVALID_ARGUMENT;
    return Take(job->binData, data, size);
}

void cz_free(void* data) { std::free(data); }

}  // extern "C"
