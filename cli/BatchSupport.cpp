#include "BatchSupport.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatTable.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavFile.h"

namespace cz::cli {

namespace {

// The chip formats a budget line may suggest, in the order they are tried.
const char* const kBudgetFormats[] = {"apm", "mdm", "esb", "wlp", "mcp"};
// Rates a budget line may suggest; only those below the sounds' own rate.
const unsigned long kBudgetRates[] = {16000, 12000, 11025, 8000, 6000};
// Inputs converted to estimate a choice.
constexpr size_t kEstimateFiles = 4;

double SecondsOf(const std::string& path) {
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str(), kOpenHeaderOnly);
    I_WavInfo* info = file ? file->GetWavInfo() : nullptr;
    if (!info || !info->GetSampleRate()) return 0;
    return static_cast<double>(info->GetSampleCount()) / info->GetSampleRate();
}

unsigned SampleRateOf(const std::string& path) {
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str(), kOpenHeaderOnly);
    I_WavInfo* info = file ? file->GetWavInfo() : nullptr;
    return info ? info->GetSampleRate() : 0;
}

// Bytes of resource per second of sound for a format and rate, from a few of
// the inputs converted in a private folder; 0 when they do not convert.
double BytesPerSecond(const Options& options, const std::string& format, unsigned long rate,
                      const std::vector<std::string>& sample, unsigned* soundRate) {
    auto temp = platform::TempFolder::Create();
    if (!temp) return 0;
    double seconds = 0, bytes = 0;
    for (size_t i = 0; i < sample.size(); ++i) {
        Options one = options;
        one.inputs = {sample[i]};
        one.output = temp->File("s" + std::to_string(i) + "." + format);
        one.binary = temp->File("s" + std::to_string(i) + ".bin");
        one.overwrite = true;
        one.quiet = true;
        one.verbose = false;
        one.firmwareHeader = false;
        if (rate) {
            one.rate = rate;
            one.haveRate = true;
        }
        FailureCapture quiet;
        if (ConvertOne(one) != kExitOk) return 0;
        const double s = SecondsOf(one.output);
        const int64_t b = platform::GetFileLength(one.binary);
        if (s <= 0 || b < 0) return 0;
        if (soundRate && !*soundRate) *soundRate = SampleRateOf(one.output);
        seconds += s;
        bytes += static_cast<double>(b);
    }
    return seconds > 0 ? bytes / seconds : 0;
}

}  // namespace

std::string SizeText(unsigned long long bytes) {
    char text[48];
    if (bytes >= 1024ull * 1024)
        std::snprintf(text, sizeof text, "%.2f MiB", bytes / (1024.0 * 1024.0));
    else if (bytes >= 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%llu bytes", bytes);
    return text;
}

SoundFigures MeasureOutput(const std::string& output, const std::string& binary, bool needChip) {
    SoundFigures f;
    f.seconds = SecondsOf(output);
    const int64_t size = platform::GetFileLength(output);
    f.fileBytes = size > 0 ? static_cast<unsigned long long>(size) : 0;
    if (!binary.empty())
        f.chipBytes = platform::GetFileLength(binary);
    else if (needChip)
        f.chipBytes = ResourceBytes(output);
    return f;
}

BudgetVerdict JudgeBudget(const Options& options, const std::string& format, unsigned long long used,
                          double seconds, const std::vector<std::string>& inputs) {
    BudgetVerdict v;
    v.budget = options.budget;
    v.used = used;
    v.fits = used <= options.budget;
    if (v.fits || inputs.empty() || seconds <= 0) return v;

    std::vector<std::string> sample;
    const size_t n = std::min(kEstimateFiles, inputs.size());
    for (size_t i = 0; i < n; ++i) sample.push_back(inputs[i * inputs.size() / n]);
    std::vector<std::string> formats{format};
    for (const char* f : kBudgetFormats)
        if (f != format) formats.push_back(f);
    unsigned soundRate = 0;
    std::vector<BudgetChoice> tried;
    for (const auto& f : formats) {
        const uint32_t id = FormatIdForExtension(f);
        if (id == kFormatNone || !CreateFormatWriter(id)) continue;
        std::vector<unsigned long> rates{0};
        for (unsigned long r : kBudgetRates) rates.push_back(r);
        for (unsigned long r : rates) {
            const unsigned long current = options.haveRate ? options.rate : soundRate;
            if (r && current && r >= current) continue;
            const double bps = BytesPerSecond(options, f, r ? r : (options.haveRate ? options.rate : 0), sample,
                                              &soundRate);
            if (bps <= 0) continue;
            BudgetChoice c{f, r ? r : (options.haveRate ? options.rate : 0),
                           static_cast<unsigned long long>(bps * seconds + 0.5)};
            tried.push_back(c);
        }
    }
    for (const auto& c : tried) {
        if (c.estimate <= options.budget) v.fitting.push_back(c);
        if (v.smallest.format.empty() || c.estimate < v.smallest.estimate) v.smallest = c;
    }
    std::sort(v.fitting.begin(), v.fitting.end(),
              [](const BudgetChoice& a, const BudgetChoice& b) { return a.estimate > b.estimate; });
    if (v.fitting.size() > 3) v.fitting.resize(3);
    return v;
}

namespace {

std::string ChoiceText(const BudgetChoice& c) {
    std::string t = "--to " + c.format;
    if (c.rate) t += " --rate " + std::to_string(c.rate);
    return t + " (about " + SizeText(c.estimate) + ")";
}

}  // namespace

void PrintBudgetText(const BudgetVerdict& v) {
    const double share = v.budget ? v.used * 100.0 / v.budget : 0.0;
    std::printf("budget: %s of %s (%.0f%%): %s\n", SizeText(v.used).c_str(), SizeText(v.budget).c_str(), share,
                v.fits ? "fits" : "does not fit");
    if (v.fits) return;
    if (!v.fitting.empty()) {
        std::printf("would fit (estimated from a sample of the files, best sound first):\n");
        for (const auto& c : v.fitting) std::printf("  %s\n", ChoiceText(c).c_str());
    } else if (!v.smallest.format.empty()) {
        std::printf("no format or rate tried fits; the smallest is %s\n", ChoiceText(v.smallest).c_str());
    }
}

void PrintBudgetJson(const BudgetVerdict& v) {
    std::printf(", \"budget\": {\"bytes\": %llu, \"used\": %llu, \"fits\": %s, \"would_fit\": [", v.budget, v.used,
                v.fits ? "true" : "false");
    bool first = true;
    for (const auto& c : v.fitting) {
        std::printf("%s{\"format\": %s, \"rate\": %lu, \"estimate\": %llu}", first ? "" : ", ",
                    JsonText(c.format).c_str(), c.rate, c.estimate);
        first = false;
    }
    std::printf("]}");
}

}  // namespace cz::cli
