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
#include "formats/registry/FormatId.h"
#include "foundation/ByteArrayHeader.h"
#include "formats/registry/FormatTable.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavFile.h"

namespace cz::cli {

namespace {

constexpr char kPackMagic[4] = {'C', 'Z', 'P', 'K'};
constexpr uint16_t kPackVersion = 1;
constexpr size_t kPackAlign = 4;

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A prompt's name for C: its file name without folder and extension, in
// capitals, every other character an underscore, a leading digit prefixed.
std::string PromptName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    std::string name;
    for (unsigned char c : base) name += std::isalnum(c) ? static_cast<char>(std::toupper(c)) : '_';
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) name = "P_" + name;
    return name;
}

std::string Identifier(const std::string& path) {
    std::string name = PromptName(path);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

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
    std::vector<std::string> names;
    for (const auto& input : options.inputs) {
        std::string name = PromptName(input), unique = name;
        for (int n = 2;; ++n) {
            bool taken = false;
            for (const auto& other : names) taken = taken || other == unique;
            if (!taken) break;
            unique = name + "_" + std::to_string(n);
        }
        names.push_back(unique);
    }

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

    // The image: magic, version, count, the table, the aligned resources.
    const size_t count = resources.size();
    std::vector<uint8_t> out(8 + 8 * count, 0);
    std::copy(kPackMagic, kPackMagic + 4, out.begin());
    Put16(out, 4, kPackVersion);
    Put16(out, 6, static_cast<uint32_t>(count));
    std::vector<uint32_t> offsets, sizes;
    for (size_t i = 0; i < count; ++i) {
        while (out.size() % kPackAlign) out.push_back(0);
        if (out.size() + resources[i].size() > 0xFFFFFFFFull) {
            Fail(image, "the pack would be larger than 4 GiB");
            return kExitFailed;
        }
        offsets.push_back(static_cast<uint32_t>(out.size()));
        sizes.push_back(static_cast<uint32_t>(resources[i].size()));
        Put32(out, 8 + 8 * i, offsets.back());
        Put32(out, 12 + 8 * i, sizes.back());
        out.insert(out.end(), resources[i].begin(), resources[i].end());
    }

    // The header: the prompts as an enumeration, their offsets and sizes, and
    // the image as a byte array.
    const std::string array = Identifier(image);
    std::string guard = PromptName(image) + "_H";
    const std::string melodyText =
        melodies ? " (" + std::to_string(melodies) + (melodies == 1 ? " melody)" : " melodies)") : std::string();
    std::string h = "/* Resource pack made by cadenzor: " + std::to_string(count) + " prompts" + melodyText + ", " +
                    format + ". Layout: docs/resource-pack.md. */\n#ifndef " + guard + "\n#define " + guard + "\n\n";
    const std::string upper = PromptName(image);
    h += "#define " + upper + "_LENGTH " + std::to_string(out.size()) + "u\n";
    h += "#define " + upper + "_COUNT " + std::to_string(count) + "u\n\nenum " + array + "_prompt {\n";
    for (size_t i = 0; i < count; ++i) h += "    " + upper + "_" + names[i] + " = " + std::to_string(i) + ",\n";
    h += "};\n\nstatic const unsigned long " + array + "_offset[" + std::to_string(count) + "] = {";
    for (size_t i = 0; i < count; ++i) h += (i ? ", " : "") + std::to_string(offsets[i]) + "u";
    h += "};\nstatic const unsigned long " + array + "_size[" + std::to_string(count) + "] = {";
    for (size_t i = 0; i < count; ++i) h += (i ? ", " : "") + std::to_string(sizes[i]) + "u";
    h += "};\n\n" + byte_array::FirmwareArray(array, out);
    h += "\n#endif /* " + guard + " */\n";

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
