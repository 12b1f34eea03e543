// "cadenzor batch": a folder tree of sounds converted to one chip format in
// parallel, with a summary and a memory budget.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "BatchSupport.h"
#include "Commands.h"
#include "Json.h"
#include "ProgressBar.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatRegistry.h"
#include "formats/registry/FormatTable.h"
#include "foundation/ByteArrayHeader.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavFile.h"

namespace fs = std::filesystem;

namespace cz::cli {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Inputs the batch takes: WAV and MP3 files, and files of the chip formats
// the library reads, by their extension.
bool IsSoundName(const fs::path& path) {
    const std::string ext = Lower(path.extension().string());
    if (ext == ".wav" || ext == ".mp3") return true;
    if (ext.size() < 2) return false;
    const uint32_t id = GetFormatIdFromExtension(ext.c_str());
    return id != kFormatNone && id != kFormatMidi && id != kFormatXmf && id != kFormatImf;
}

bool IsMidiName(const fs::path& path) {
    const std::string ext = Lower(path.extension().string());
    return ext == ".mid" || ext == ".midi";
}

struct Job {
    std::string input;
    std::string output;
    std::string binary;  // empty unless --bin
    std::string symbol;  // the firmware header's array: from the binary's path under the output folder
    std::string key;     // the output's path under the output folder, for the manifest
    std::string made;    // what the manifest says of it: settings \t input stamp
    enum class State { kPending, kConverted, kSkipped, kFailed } state = State::kPending;
    std::string reason;
    SoundFigures figures;
};

// What an output was made with, kept in a small text file in the output
// folder: one line per output, "<output under the folder>\t<settings>\t
// <input bytes>\t<input time>". An output is kept only when it is there, its
// line names the settings of this run and the input is as it was then: a run
// with other settings (or a changed input) makes it again.
constexpr const char* kManifestName = ".cadenzor-batch";

std::string Settings(const Options& options, const std::string& format) {
    std::string text = "to=" + format;
    text += " rate=" + (options.haveRate ? std::to_string(options.rate) : std::string("source"));
    if (options.anyRate) text += " any-rate";
    if (options.mode >= 0) text += " mode=" + std::to_string(options.mode);
    if (options.bitrate >= 0) text += " bitrate=" + std::to_string(options.bitrate);
    if (options.quality >= 0) text += " quality=" + std::to_string(options.quality);
    text += " profile=" + options.profile.Name();
    if (options.binaries) text += options.firmwareHeader ? " bin header=firmware" : " bin header=plain";
    for (char& c : text)
        if (c == '\t' || c == '\n') c = ' ';
    return text;
}

std::string InputStamp(const std::string& input) {
    std::error_code e1, e2;
    const auto size = fs::file_size(input, e1);
    const auto time = fs::last_write_time(input, e2);
    if (e1 || e2) return std::string();
    return std::to_string(size) + "\t" + std::to_string(time.time_since_epoch().count());
}

using Manifest = std::map<std::string, std::string>;  // output under the folder -> settings \t stamp

Manifest ReadManifest(const fs::path& folder) {
    Manifest manifest;
    std::ifstream in(folder / kManifestName, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0) continue;
        manifest[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return manifest;
}

bool Newer(const std::string& output, const std::string& input) {
    std::error_code e1, e2;
    auto out = fs::last_write_time(output, e1);
    auto in = fs::last_write_time(input, e2);
    return !e1 && !e2 && out >= in;
}

std::string Percent(double part, double whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f%%", whole > 0 ? part * 100.0 / whole : 0.0);
    return text;
}

}  // namespace

int RunBatch(const Options& options) {
    const std::string inDir = options.inputs[0];
    const std::string outDir = options.inputs[1];
    const std::string format = Lower(options.formats.front());
    const uint32_t formatId = FormatIdForExtension(format);
    // --to imf: the tree's MIDI files made IMF melodies, as "convert x.mid x.imf".
    const bool melodies = formatId == kFormatImf;
    if (formatId == kFormatNone || (formatId != kFormatWav && !melodies && !CreateFormatWriter(formatId))) {
        Fail(format, "not a format the tool writes (use " + FormatListText() + ")");
        return kExitUsage;
    }
    if (options.binaries && (formatId == kFormatWav || melodies)) {
        Fail(format, std::string(melodies ? "IMF melodies" : "WAV files") +
                         " have no chip resource binary: --bin needs a chip format");
        return kExitUsage;
    }
    std::error_code error;
    if (!fs::is_directory(inDir, error)) {
        const std::string why = UnreadableReason(inDir);
        Fail(inDir, why.empty() ? "is a file, not a folder" : why);
        return kExitFailed;
    }
    if (fs::exists(outDir, error) && !fs::is_directory(outDir, error)) {
        Fail(outDir, "exists and is not a folder");
        return kExitFailed;
    }
    fs::path inRoot = fs::weakly_canonical(inDir, error);
    fs::path outRoot = fs::weakly_canonical(outDir, error);

    // The inputs in a stable order, each with its mirrored output.
    std::vector<Job> jobs;
    std::vector<std::string> seenOutputs;
    for (auto it = fs::recursive_directory_iterator(inRoot, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory() && fs::weakly_canonical(it->path()) == outRoot) {
            it.disable_recursion_pending();  // the output folder inside the input folder
            continue;
        }
        if (!it->is_regular_file() || (melodies ? !IsMidiName(it->path()) : !IsSoundName(it->path()))) continue;
        Job job;
        job.input = it->path().string();
        fs::path rel = fs::relative(it->path(), inRoot);
        fs::path out = outRoot / rel;
        out.replace_extension("." + format);
        job.output = out.string();
        job.key = fs::path(rel).replace_extension("." + format).generic_string();
        if (options.binaries) job.binary = fs::path(out).replace_extension(".bin").string();
        jobs.push_back(job);
    }
    if (error) {
        Fail(inDir, "cannot read the folder: " + error.message());
        return kExitFailed;
    }
    std::sort(jobs.begin(), jobs.end(), [](const Job& a, const Job& b) { return a.input < b.input; });
    for (size_t i = 1; i < jobs.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (jobs[j].output == jobs[i].output && jobs[i].state == Job::State::kPending) {
                jobs[i].state = Job::State::kFailed;
                jobs[i].reason = "gives the same output as " + jobs[j].input + " (" + jobs[i].output + ")";
            }
        }
    }
    if (options.binaries && options.firmwareHeader) {
        // One symbol (and include guard) per binary, however the folders name
        // their files: menu/beep and alerts/beep, a-b/c and a_b/c all differ.
        std::vector<std::string> taken;
        for (Job& job : jobs) {
            std::error_code e;
            const std::string rel = fs::relative(job.binary, outRoot, e).generic_string();
            const std::string name =
                byte_array::Symbol(e || rel.empty() ? fs::path(job.binary).filename().string() : rel);
            // The guard is the symbol in capitals: names that differ only in
            // case would share it.
            std::string unique = name;
            for (int n = 2; std::find(taken.begin(), taken.end(), Lower(unique)) != taken.end(); ++n)
                unique = name + "_" + std::to_string(n);
            taken.push_back(Lower(unique));
            job.symbol = unique;
        }
    }
    if (jobs.empty()) {
        Fail(inDir, melodies ? "holds no MIDI files (.mid, .midi)" : "holds no sound files (WAV, MP3 or chip formats)");
        return kExitFailed;
    }

    const std::string settings = Settings(options, format);
    Manifest manifest = ReadManifest(outRoot);
    for (Job& job : jobs) job.made = settings + "\t" + InputStamp(job.input);

    unsigned workers = options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    workers = std::min<unsigned>(workers, static_cast<unsigned>(jobs.size()));
    if (melodies) workers = 1;  // the melody tool keeps state of its own: one song at a time
    const auto started = std::chrono::steady_clock::now();
    ProgressBar bar("batch     ", options.quiet);
    bar.OnBegin();
    std::atomic<size_t> next{0}, done{0};
    std::mutex mutex;
    auto work = [&]() {
        for (;;) {
            const size_t i = next.fetch_add(1);
            if (i >= jobs.size()) return;
            Job& job = jobs[i];
            if (job.state == Job::State::kPending) {
                const auto entry = manifest.find(job.key);
                const bool fresh = !options.overwrite && entry != manifest.end() && entry->second == job.made &&
                                   Newer(job.output, job.input) && (job.binary.empty() || Newer(job.binary, job.input));
                if (fresh) {
                    job.state = Job::State::kSkipped;
                } else {
                    std::error_code e;
                    fs::create_directories(fs::path(job.output).parent_path(), e);
                    Options one = options;
                    one.inputs = {job.input};
                    one.output = job.output;
                    one.binary = job.binary;
                    one.headerName = job.symbol;
                    one.overwrite = true;  // an older output is made again
                    one.quiet = true;
                    one.verbose = false;
                    FailureCapture capture;
                    const int status = ConvertOne(one);
                    if (status == kExitOk) {
                        job.state = Job::State::kConverted;
                    } else {
                        job.state = Job::State::kFailed;
                        job.reason = capture.Text().empty() ? "the conversion failed" : capture.Text();
                    }
                }
                if (job.state != Job::State::kFailed) {
                    job.figures = MeasureOutput(job.output, job.binary, options.budget != 0);
                }
            }
            const size_t finished = done.fetch_add(1) + 1;
            std::lock_guard<std::mutex> lock(mutex);
            bar.OnProgress(static_cast<int32_t>(finished * 100 / jobs.size()));
            if (options.verbose) std::fprintf(stderr, "cadenzor: %s\n", job.output.c_str());
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
    bar.OnEnd();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    // The manifest: every output this run made or kept, with what it was made
    // with; lines of outputs this run did not touch stay.
    for (const Job& job : jobs) {
        if (job.state == Job::State::kConverted || job.state == Job::State::kSkipped)
            manifest[job.key] = job.made;
        else
            manifest.erase(job.key);
    }
    {
        std::string text;
        for (const auto& [key, made] : manifest) text += key + "\t" + made + "\n";
        std::error_code e;
        fs::create_directories(outRoot, e);
        std::string failure;
        if (!PublishBytes((outRoot / kManifestName).string(), text.data(), text.size(), &failure))
            Warn((outRoot / kManifestName).string(), "cannot record the settings of the outputs: " + failure);
    }

    // The summary.
    size_t converted = 0, skipped = 0, failed = 0;
    double seconds = 0;
    unsigned long long fileBytes = 0, chipBytes = 0;
    bool chipKnown = true;
    for (const Job& job : jobs) {
        switch (job.state) {
            case Job::State::kConverted: ++converted; break;
            case Job::State::kSkipped: ++skipped; break;
            default: ++failed; continue;
        }
        seconds += job.figures.seconds;
        fileBytes += job.figures.fileBytes;
        if (job.figures.chipBytes < 0)
            chipKnown = false;
        else
            chipBytes += static_cast<unsigned long long>(job.figures.chipBytes);
    }
    const bool haveChip = chipKnown && (options.binaries || options.budget) && formatId != kFormatWav;
    for (const Job& job : jobs)
        if (job.state == Job::State::kFailed) Fail(job.input, job.reason);

    BudgetVerdict verdict;
    if (options.budget) {
        std::vector<std::string> sample;
        for (const Job& job : jobs)
            if (job.state != Job::State::kFailed) sample.push_back(job.input);
        verdict = JudgeBudget(options, format, haveChip ? chipBytes : 0, seconds, sample);
    }

    if (options.json) {
        Json json;
        json.Object().Key("files").Unsigned(jobs.size()).Key("converted").Unsigned(converted);
        json.Key("skipped").Unsigned(skipped).Key("failed").Unsigned(failed);
        json.Key("format").String(format).Key("format_id").Unsigned(formatId);
        json.Key("duration_s").Number(seconds).Key("file_bytes").Unsigned(fileBytes);
        json.Key("chip_bytes");
        if (haveChip)
            json.Unsigned(chipBytes);
        else
            json.Null();
        json.Key("chip_kbps");
        if (haveChip && seconds > 0)
            json.Number(chipBytes * 8.0 / seconds / 1000);
        else
            json.Null();
        json.Key("elapsed_s").Number(elapsed).Key("outputs").Array();
        static const char* const kStates[] = {"pending", "converted", "skipped", "failed"};
        for (const Job& job : jobs) {
            json.Object().Key("file").String(job.input).Key("output").String(job.output);
            json.Key("state").String(kStates[static_cast<int>(job.state)]);
            if (job.state == Job::State::kFailed) {
                json.Key("error").String(job.reason).End();
                continue;
            }
            json.Key("duration_s").Number(job.figures.seconds).Key("file_bytes").Unsigned(job.figures.fileBytes);
            json.Key("chip_bytes").Size(haveChip ? job.figures.chipBytes : -1).End();
        }
        json.End().Key("failures").Array();
        for (const Job& job : jobs) {
            if (job.state != Job::State::kFailed) continue;
            json.Object().Key("file").String(job.input).Key("error").String(job.reason).End();
        }
        json.End();
        if (options.budget) BudgetJson(json, verdict);
        json.End().Print();
    } else {
        std::printf("%-10s %7s %12s %12s %12s %8s\n", "", "files", "sound (s)", "file bytes",
                    haveChip ? "chip bytes" : "", haveChip ? "kbit/s" : "");
        double convSeconds = 0;
        unsigned long long convFile = 0, convChip = 0;
        for (const Job& job : jobs) {
            if (job.state != Job::State::kConverted) continue;
            convSeconds += job.figures.seconds;
            convFile += job.figures.fileBytes;
            if (job.figures.chipBytes > 0) convChip += static_cast<unsigned long long>(job.figures.chipBytes);
        }
        auto row = [&](const char* name, size_t n, double s, unsigned long long fb, unsigned long long cb) {
            std::printf("%-10s %7zu %12.1f %12llu", name, n, s, fb);
            if (haveChip) std::printf(" %12llu %8.2f", cb, s > 0 ? cb * 8.0 / s / 1000 : 0.0);
            std::printf("\n");
        };
        row("converted", converted, convSeconds, convFile, convChip);
        row("skipped", skipped, seconds - convSeconds, fileBytes - convFile, chipBytes - convChip);
        std::printf("%-10s %7zu\n", "failed", failed);
        row("total", converted + skipped, seconds, fileBytes, chipBytes);
        std::printf("%zu files in %.1f s with %u workers; outputs in %s\n", jobs.size(), elapsed, workers,
                    outDir.c_str());
        if (options.budget) PrintBudgetText(verdict);
    }
    if (failed) return kExitFailed;
    if (options.budget && !verdict.fits) return kExitOverBudget;
    return kExitOk;
}

}  // namespace cz::cli
