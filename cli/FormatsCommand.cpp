// cadenzor formats [--json]: every format class the tool opens, with the
// facts of its row (what it is for, bits per sample, whether it is written,
// whether it makes a chip binary, the coder options it takes).
#include <cstdio>
#include <string>

#include "Commands.h"
#include "Json.h"
#include "formats/registry/FormatTable.h"

namespace cz::cli {

namespace {

constexpr struct {
    uint8_t flag;
    const char* name;
} kOptionNames[] = {{kOptionMode, "mode"}, {kOptionBitrate, "bitrate"}, {kOptionQuality, "quality"}};

std::string OptionNames(uint8_t options, const char* separator) {
    std::string text;
    for (const auto& n : kOptionNames)
        if (options & n.flag) text += (text.empty() ? "" : separator) + std::string(n.name);
    return text;
}

}  // namespace

int RunFormats(const Options& options) {
    const auto& rows = FormatOpenOrder();
    if (options.json) {
        // "format" is the name info gives a file of the class; "name" the short one.
        Json out;
        out.Array();
        for (const FormatDescriptor* row : rows) {
            const FormatFacts& f = row->facts;
            out.Object().Key("format_id").Unsigned(row->id).Key("class").String(row->className);
            out.Key("extension").String(f.extension).Key("name").String(std::string(FormatShortName(*row)));
            out.Key("format").String(f.longName).Key("magic");
            if (*f.magic)
                out.String(f.magic);
            else
                out.Null();
            out.Key("purpose").String(f.purpose).Key("bits_per_sample");
            if (f.bits)
                out.Unsigned(f.bits);
            else
                out.Null();
            out.Key("writes").Bool(f.output).Key("chip_binary").Bool(f.binary).Key("options").Array();
            for (const auto& n : kOptionNames)
                if (f.options & n.flag) out.String(n.name);
            out.End().End();
        }
        out.End().Print();
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