// cadenzor formats [--json]: every format class the tool opens, with the
// facts of its row (what it is for, bits per sample, whether it is written,
// whether it makes a chip binary, the coder options it takes).
#include <cstdio>
#include <string>

#include "Commands.h"
#include "formats/registry/FormatTable.h"

namespace cz::cli {

namespace {

std::string OptionNames(uint8_t options, const char* separator) {
    std::string text;
    const struct {
        uint8_t flag;
        const char* name;
    } names[] = {{kOptionMode, "mode"}, {kOptionBitrate, "bitrate"}, {kOptionQuality, "quality"}};
    for (const auto& n : names)
        if (options & n.flag) text += (text.empty() ? "" : separator) + std::string(n.name);
    return text;
}

}  // namespace

int RunFormats(const Options& options) {
    const auto& rows = FormatOpenOrder();
    if (options.json) {
        std::printf("[\n");
        for (size_t i = 0; i < rows.size(); ++i) {
            const FormatDescriptor& r = *rows[i];
            const FormatFacts& f = r.facts;
            std::string opts = OptionNames(f.options, "\", \"");
            std::printf(
                "  {\"id\": %u, \"class\": %s, \"extension\": %s, \"name\": %s, \"long_name\": %s, \"magic\": %s, "
                "\"purpose\": %s, \"bits_per_sample\": %u, \"writes\": %s, \"chip_binary\": %s, "
                "\"options\": [%s]}%s\n",
                static_cast<unsigned>(r.id), JsonText(r.className).c_str(), JsonText(f.extension).c_str(),
                JsonText(std::string(FormatShortName(r))).c_str(), JsonText(f.longName).c_str(),
                JsonText(f.magic).c_str(), JsonText(f.purpose).c_str(), static_cast<unsigned>(f.bits),
                f.output ? "true" : "false", f.binary ? "true" : "false",
                opts.empty() ? "" : ("\"" + opts + "\"").c_str(), i + 1 < rows.size() ? "," : "");
        }
        std::printf("]\n");
        return kExitOk;
    }
    std::printf("%-4s %-5s %-15s %-5s %4s %-6s %-3s %-16s %s\n", "id", "ext", "class", "magic", "bits", "writes", "bin",
                "options", "name: what it is for");
    for (const FormatDescriptor* row : rows) {
        const FormatFacts& f = row->facts;
        const std::string opts = OptionNames(f.options, ",");
        std::printf("%-4u %-5s %-15s %-5s %4s %-6s %-3s %-16s %s: %s\n", static_cast<unsigned>(row->id), f.extension,
                    row->className, *f.magic ? f.magic : "-", f.bits ? std::to_string(f.bits).c_str() : "-",
                    f.output ? "yes" : "no", f.binary ? "yes" : "no", opts.empty() ? "-" : opts.c_str(), f.longName,
                    f.purpose);
    }
    std::printf(
        "\n%zu classes. bits: per coded sample ('-': frame-coded, or as the file says). bin: --bin makes the chip\n"
        "resource binary. Also written: xmf (from WAV, APM or MIDI) and imf (from MIDI).\n",
        rows.size());
    return kExitOk;
}

}  // namespace cz::cli