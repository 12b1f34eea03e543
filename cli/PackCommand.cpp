// "cadenzor pack": many prompts in one resource image with a table of
// offsets and lengths, and one header for the firmware build (the layout is
// in docs/resource-pack.md).
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "BatchSupport.h"
#include "Commands.h"
#include "ProgressBar.h"
#include "api/planner/PackImage.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatTable.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavFile.h"

namespace cz::cli {

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    auto file = platform::File::Open(path, platform::open_flags::kRead);
    if (!file) return false;
    auto size = file->Size();
    if (!size || *size > 0x7FFFFFFF) return false;
    bytes.resize(static_cast<size_t>(*size));
    return bytes.empty() || file->ReadExact(bytes.data(), bytes.size());
}

}  // namespace

int RunPack(const Options& options) {
    const std::string format = options.formats.front();
    const uint32_t id = FormatIdForExtension(format);
    const bool melodiesOnly = id == kFormatImf;
    if (!melodiesOnly && (id == kFormatNone || id == kFormatWav || !CreateFormatWriter(id))) {
        Fail(format, "not a chip format the tool writes (use " + FormatListText() + ")");
        return kExitUsage;
    }
    const std::string& image = options.output;
    const std::string header = image + ".h";
    for (const auto& path : {image, header}) {
        if (!options.overwrite && platform::FileExists(path)) {
            Fail(path, "the file exists (use -y to overwrite it)");
            return kExitFailed;
        }
    }
    if (options.inputs.size() > 0xFFFF) {
        Fail(image, "a pack holds at most 65535 prompts");
        return kExitUsage;
    }
    for (const auto& input : options.inputs) {
        if (platform::SameFile(input, image) || platform::SameFile(input, header)) {
            Fail(input, "is also an output of the pack; nothing was written");
            return kExitFailed;
        }
    }
    // Names in the enumeration must differ.
    const std::vector<std::string> names = api::planner::PromptNames(options.inputs);

    auto temp = platform::TempFolder::Create();
    if (!temp) {
        Fail(platform::TempDirectory(), "cannot make a temporary folder");
        return kExitFailed;
    }
    ProgressBar bar("packing   ", options.quiet);
    bar.OnBegin();
    std::vector<std::vector<uint8_t>> resources;
    double seconds = 0;
    size_t melodies = 0;
    for (size_t i = 0; i < options.inputs.size(); ++i) {
        // A melody (IMF, or MIDI made IMF) is packed as its IMF bytes.
        if (IsMelodyFile(options.inputs[i]) || melodiesOnly) {
            std::vector<uint8_t> imf;
            std::string why;
            if (!IsMelodyFile(options.inputs[i]))
                why = platform::FileExists(options.inputs[i])
                          ? "not a melody: a pack --to imf holds IMF and MIDI files only (pack sound with "
                            "--to a chip format such as apm; melodies go beside it)"
                          : "cannot be opened";
            if (why.empty()) MelodyResource(options.inputs[i], temp->File("p" + std::to_string(i) + ".imf"), imf, why);
            if (!why.empty()) {
                bar.OnEnd();
                Fail(options.inputs[i], why + "; nothing was written");
                return kExitFailed;
            }
            ++melodies;
            resources.push_back(std::move(imf));
            bar.OnProgress(static_cast<int32_t>((i + 1) * 100 / options.inputs.size()));
            continue;
        }
        Options one = options;
        one.inputs = {options.inputs[i]};
        one.output = temp->File("p" + std::to_string(i) + "." + format);
        one.binary = temp->File("p" + std::to_string(i) + ".bin");
        one.overwrite = true;
        one.quiet = true;
        one.verbose = false;
        std::vector<uint8_t> bytes;
        std::string reason;
        {
            // The capture ends before the failure is told, or it would
            // swallow its own message.
            FailureCapture capture;
            if (ConvertOne(one) != kExitOk || !ReadFile(one.binary, bytes))
                reason = capture.Text().empty() ? "cannot be made a resource" : capture.Text();
        }
        if (!reason.empty()) {
            bar.OnEnd();
            const std::string tail = "; nothing was written";
            const bool said =
                reason.size() >= tail.size() && reason.compare(reason.size() - tail.size(), tail.size(), tail) == 0;
            Fail(options.inputs[i], said ? reason : reason + tail);
            return kExitFailed;
        }
        seconds += MeasureOutput(one.output, std::string(), false).seconds;
        resources.push_back(std::move(bytes));
        bar.OnProgress(static_cast<int32_t>((i + 1) * 100 / options.inputs.size()));
    }
    bar.OnEnd();

    // The image: magic, version, count, the table, the aligned resources;
    // then the header for the firmware build.
    const size_t count = resources.size();
    std::vector<uint8_t> out;
    std::vector<uint32_t> offsets, sizes;
    std::string why;
    if (!api::planner::BuildPackImage(resources, out, offsets, &why)) {
        Fail(image, why);
        return kExitFailed;
    }
    for (const auto& r : resources) sizes.push_back(static_cast<uint32_t>(r.size()));
    const std::string melodyText =
        melodies ? " (" + std::to_string(melodies) + (melodies == 1 ? " melody)" : " melodies)") : std::string();
    const std::string h = api::planner::PackHeaderText(image, out, names, offsets, sizes,
                                                       std::to_string(count) + " prompts" + melodyText + ", " + format);

    std::string failure;
    if (!PublishBytes(image, out.data(), out.size(), &failure)) {
        Fail(image, failure);
        return kExitFailed;
    }
    if (!PublishBytes(header, h.data(), h.size(), &failure)) {
        Fail(header, failure);
        return kExitFailed;
    }
    std::printf("%s: %zu prompts%s, %.1f s of sound, %s (%zu bytes)", image.c_str(), count, melodyText.c_str(), seconds,
                SizeText(out.size()).c_str(), out.size());
    std::printf(", %.2f kbit/s\n", seconds > 0 ? out.size() * 8.0 / seconds / 1000 : 0.0);
    if (options.budget) {
        BudgetVerdict verdict = JudgeBudget(options, format, out.size(), seconds, options.inputs, true);
        PrintBudgetText(verdict);
        if (!verdict.fits) return kExitOverBudget;
    }
    return kExitOk;
}

}  // namespace cz::cli
