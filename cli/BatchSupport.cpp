#include "BatchSupport.h"

#include "api/pipeline/Pipeline.h"

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
const char* const kBudgetFormats[] = {"apm", "mdm", "esb", "sbd", "wlp", "mcp"};
// Rates a budget line may suggest; only those below the sounds' own rate.
const unsigned long kBudgetRates[] = {16000, 12000, 11025, 8000, 6000};
// Bit rates tried for the coders that take one (ESB and SBD), at the sounds'
// own rate.
const unsigned long kBudgetBitrates[] = {16000, 12000, 8000, 6000, 4000};
// Inputs converted to rank the choices before the best ones are measured on
// every file.
constexpr size_t kEstimateFiles = 4;
// Choices measured on every file before giving up on finding more that fit.
constexpr size_t kMeasuredChoices = 4;
constexpr size_t kShownChoices = 3;

unsigned SampleRateOf(const std::string& path) {
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str(), kOpenHeaderOnly);
    I_WavInfo* info = file ? file->GetWavInfo() : nullptr;
    return info ? info->GetSampleRate() : 0;
}

// The options of one choice: another format drops the coder settings that
// were given for the asked one.
Options ChoiceOptions(const Options& options, const std::string& asked, const BudgetChoice& c) {
    Options one = options;
    if (c.format != asked) {
        one.mode = -1;
        one.bitrate = -1;
        one.quality = -1;
    }
    if (c.rate) {
        one.rate = c.rate;
        one.haveRate = true;
    }
    if (c.bitrate) one.bitrate = static_cast<long>(c.bitrate);
    one.overwrite = true;
    one.quiet = true;
    one.verbose = false;
    one.firmwareHeader = false;
    one.headerName.clear();
    return one;
}

// The resource bytes of each of files converted with a choice in a private
// folder, and their seconds; false when one does not convert.
bool ConvertAll(const Options& options, const std::string& asked, const BudgetChoice& c,
                const std::vector<std::string>& files, std::vector<unsigned long long>& bytes, double& seconds) {
    auto temp = platform::TempFolder::Create();
    if (!temp) return false;
    bytes.clear();
    seconds = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        Options one = ChoiceOptions(options, asked, c);
        one.inputs = {files[i]};
        one.output = temp->File("s." + c.format);
        one.binary = temp->File("s.bin");
        FailureCapture quiet;
        if (ConvertOne(one) != kExitOk) return false;
        const int64_t b = platform::GetFileLength(one.binary);
        if (b < 0) return false;
        seconds += api::pipeline::SoundSeconds(one.output);
        bytes.push_back(static_cast<unsigned long long>(b));
    }
    return true;
}

}  // namespace

unsigned long long BudgetTotal(const std::vector<unsigned long long>& sizes, bool packed) {
    if (!packed) {
        unsigned long long total = 0;
        for (unsigned long long b : sizes) total += b;
        return total;
    }
    // The pack image: 8 bytes of head, 8 per entry, each entry on 4 bytes.
    unsigned long long total = 8 + 8 * static_cast<unsigned long long>(sizes.size());
    for (unsigned long long b : sizes) total = (total + 3) / 4 * 4 + b;
    return total;
}

BudgetVerdict JudgeBudget(const Options& options, const std::string& format, unsigned long long used, double seconds,
                          const std::vector<std::string>& inputs, bool packed) {
    BudgetVerdict v;
    v.budget = options.budget;
    v.used = used;
    v.fits = used <= options.budget;
    if (v.fits || inputs.empty() || seconds <= 0) return v;

    // No choice goes above the highest rate of the sounds themselves.
    unsigned long top = options.haveRate ? options.rate : 0;
    if (!options.haveRate)
        for (const auto& input : inputs) top = std::max<unsigned long>(top, SampleRateOf(input));
    std::vector<std::string> sample;
    const size_t n = std::min(kEstimateFiles, inputs.size());
    for (size_t i = 0; i < n; ++i) sample.push_back(inputs[i * inputs.size() / n]);
    std::vector<std::string> formats{format};
    for (const char* f : kBudgetFormats)
        if (f != format) formats.push_back(f);

    // Every choice ranked by its size on a few of the files.
    std::vector<BudgetChoice> ranked;
    for (const auto& f : formats) {
        const uint32_t id = FormatIdForExtension(f);
        if (id == kFormatNone || !CreateFormatWriter(id)) continue;
        std::vector<BudgetChoice> choices;
        const unsigned long own = options.haveRate ? options.rate : 0;
        choices.push_back({f, own, 0, 0, false});
        for (unsigned long r : kBudgetRates)
            if (top && r < top) choices.push_back({f, r, 0, 0, false});
        if (id == kFormatEsb || id == kFormatSbd)
            for (unsigned long b : kBudgetBitrates) choices.push_back({f, own, b, 0, false});
        for (auto& c : choices) {
            if (c.format == format && c.rate == own && !c.bitrate) continue;  // what was just measured
            std::vector<unsigned long long> bytes;
            double s = 0;
            if (!ConvertAll(options, format, c, sample, bytes, s) || s <= 0) continue;
            unsigned long long b = 0;
            for (unsigned long long x : bytes) b += x;
            c.bytes = static_cast<unsigned long long>(static_cast<double>(b) / s * seconds + 0.5);
            ranked.push_back(c);
        }
    }
    // The largest (best sound) first; those likely to fit are measured on
    // every file, and only measured sizes are told.
    std::sort(ranked.begin(), ranked.end(),
              [](const BudgetChoice& a, const BudgetChoice& b) { return a.bytes > b.bytes; });
    size_t measured = 0;
    for (BudgetChoice c : ranked) {
        if (v.fitting.size() >= kShownChoices || measured >= kMeasuredChoices + kShownChoices) break;
        // A choice estimated well over the budget is not worth measuring.
        if (c.bytes > options.budget + options.budget / 8) continue;
        std::vector<unsigned long long> bytes;
        double s = 0;
        ++measured;
        if (!ConvertAll(options, format, c, inputs, bytes, s)) continue;
        c.bytes = BudgetTotal(bytes, packed);
        c.measured = true;
        if (c.bytes <= options.budget) v.fitting.push_back(c);
    }
    if (v.fitting.empty() && !ranked.empty()) {
        // Nothing fits: the smallest choice, measured.
        BudgetChoice c = ranked.back();
        std::vector<unsigned long long> bytes;
        double s = 0;
        if (ConvertAll(options, format, c, inputs, bytes, s)) {
            c.bytes = BudgetTotal(bytes, packed);
            c.measured = true;
            if (c.bytes <= options.budget)
                v.fitting.push_back(c);
            else
                v.smallest = c;
        }
    }
    return v;
}

std::string ChoiceOption(const BudgetChoice& c) {
    std::string t = "--to " + c.format;
    if (c.rate) t += " --rate " + std::to_string(c.rate);
    if (c.bitrate) t += " --bitrate " + std::to_string(c.bitrate);
    return t;
}

namespace {

std::string ChoiceText(const BudgetChoice& c) {
    return ChoiceOption(c) + " (" + SizeText(c.bytes) + ", measured on every file)";
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
    f.seconds = api::pipeline::SoundSeconds(output);
    const int64_t size = platform::GetFileLength(output);
    f.fileBytes = size > 0 ? static_cast<unsigned long long>(size) : 0;
    if (!binary.empty())
        f.chipBytes = platform::GetFileLength(binary);
    else if (needChip)
        f.chipBytes = ResourceBytes(output);
    return f;
}

void PrintBudgetText(const BudgetVerdict& v) {
    const double share = v.budget ? v.used * 100.0 / v.budget : 0.0;
    std::printf("budget: %s of %s (%.0f%%): %s\n", SizeText(v.used).c_str(), SizeText(v.budget).c_str(), share,
                v.fits ? "fits" : "does not fit");
    if (v.fits) return;
    if (!v.fitting.empty()) {
        std::printf("would fit (best sound first):\n");
        for (const auto& c : v.fitting) std::printf("  %s\n", ChoiceText(c).c_str());
    } else if (!v.smallest.format.empty()) {
        std::printf("no format, rate or bit rate tried fits; the smallest is %s\n", ChoiceText(v.smallest).c_str());
    }
}

void BudgetJson(Json& json, const BudgetVerdict& v) {
    auto choice = [&](const BudgetChoice& c) {
        json.Object().Key("choice").String(ChoiceOption(c)).Key("format").String(c.format);
        json.Key("rate");
        if (c.rate)
            json.Unsigned(c.rate);
        else
            json.Null();
        json.Key("bitrate");
        if (c.bitrate)
            json.Unsigned(c.bitrate);
        else
            json.Null();
        json.Key("bytes").Unsigned(c.bytes).End();
    };
    json.Key("budget").Object().Key("bytes").Unsigned(v.budget).Key("used").Unsigned(v.used);
    json.Key("fits").Bool(v.fits).Key("would_fit").Array();
    for (const auto& c : v.fitting) choice(c);
    json.End().Key("smallest");
    if (v.smallest.format.empty())
        json.Null();
    else
        choice(v.smallest);
    json.End();
}

}  // namespace cz::cli
