// Resource binaries and pack images in the tool: info (a binary's coding,
// rate, samples, duration, markers and bytes; a pack image's entries),
// unpack, and the entry that play --entry plays.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <string>
#include <vector>

#include "Commands.h"
#include "Json.h"
#include "formats/binary/ResourceBinary.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavData.h"
#include "wave/C_WavFile.h"

namespace cz::cli {

namespace {

constexpr uint64_t kMaxImageSize = uint64_t{256} << 20;

bool ReadBytes(const std::string& path, uint64_t limit, std::vector<uint8_t>& bytes, std::string& why) {
    auto f = platform::File::Open(path, platform::open_flags::kRead);
    if (!f) return why = "cannot be opened", false;
    const auto size = f->Size();
    if (!size) return why = "cannot be read", false;
    if (*size > limit) return why = "too large", false;
    bytes.resize(static_cast<size_t>(*size));
    if (!bytes.empty() && !f->ReadExact(bytes.data(), bytes.size())) return why = "cannot be read", false;
    return true;
}

double Seconds(const S_ResourceBinary& b) {
    return b.sampleRate ? static_cast<double>(b.samples.size()) / b.sampleRate : 0.0;
}

void PrintBinary(const std::string& path, const S_ResourceBinary& b, bool json) {
    if (json) {
        Json out;
        out.Object().Key("file").String(path).Key("format").String(b.coding + " resource binary");
        out.Key("format_id").Unsigned(kFormatBin).Key("coding").String(b.coding).Key("code").String(b.code);
        out.Key("sample_rate").Unsigned(b.sampleRate).Key("samples").Unsigned(b.samples.size());
        out.Key("duration_s").Number(Seconds(b)).Key("chip_bytes").Unsigned(b.bytes).Key("markers").Array();
        for (const S_BinaryMarker& m : b.markers) {
            out.Object().Key("sample").Unsigned(m.position).Key("type").Unsigned(m.type);
            out.Key("param").Unsigned(m.param).End();
        }
        out.End().End().Print();
        return;
    }
    std::printf("%s\n", path.c_str());
    std::printf("  format:      %s resource binary (code %s)\n", b.coding.c_str(), b.code.c_str());
    std::printf("  sample rate: %u Hz\n", b.sampleRate);
    std::printf("  samples:     %zu (%.3f s) as the chip plays them\n", b.samples.size(), Seconds(b));
    std::printf("  markers:     %zu\n", b.markers.size());
    for (const S_BinaryMarker& m : b.markers)
        std::printf("    at sample %u: type %u, parameter %u\n", m.position, m.type, m.param);
    std::printf("  bytes:       %llu\n", static_cast<unsigned long long>(b.bytes));
}

void PrintError(const std::string& path, const std::string& why, bool json) {
    Fail(path, why);
    if (json) PrintJsonError(path, why);
}

// The entries of the image at path with their names; false with the reason told.
bool OpenPack(const std::string& path, std::vector<uint8_t>& image, std::vector<S_PackEntry>& entries,
              std::vector<std::string>& names, std::string& why) {
    if (!ReadBytes(path, kMaxImageSize, image, why) || !ReadPackImage(image, entries, &why)) {
        why = "pack image that cannot be read: " + why;
        return false;
    }
    names = ReadPackHeaderNames(path, entries.size());
    if (names.empty()) names.resize(entries.size());
    return true;
}

std::span<const uint8_t> EntryBytes(const std::vector<uint8_t>& image, const S_PackEntry& e) {
    return std::span<const uint8_t>(image).subspan(e.offset, e.size);
}

// A melody entry holds an IMF image rather than a resource binary.
bool IsMelodyEntry(std::span<const uint8_t> e) { return e.size() >= 4 && std::memcmp(e.data(), "IMF1", 4) == 0; }

}  // namespace

bool RunBinaryInfo(const std::string& path, bool json, int* status) {
    uint8_t head[4] = {};
    {
        auto f = platform::File::Open(path, platform::open_flags::kRead);
        if (!f || !f->ReadExact(head, sizeof head)) return false;
    }
    if (std::memcmp(head, "CZPK", 4) == 0) {
        std::vector<uint8_t> image;
        std::vector<S_PackEntry> entries;
        std::vector<std::string> names;
        std::string why;
        if (!OpenPack(path, image, entries, names, why)) {
            PrintError(path, why, json);
            *status = kExitFailed;
            return true;
        }
        Json out;
        if (json) {
            out.Object().Key("file").String(path).Key("format").String("resource pack image");
            out.Key("format_id").Unsigned(kFormatBin).Key("file_bytes").Unsigned(image.size()).Key("entries").Array();
        } else
            std::printf(
                "%s\n  format:      resource pack image, %zu entries, %zu bytes\n"
                "  index  name                  coding     rate   duration     offset      bytes\n",
                path.c_str(), entries.size(), image.size());
        for (size_t k = 0; k < entries.size(); ++k) {
            S_ResourceBinary b;
            std::string reason;
            const std::span<const uint8_t> e = EntryBytes(image, entries[k]);
            if (IsMelodyEntry(e)) {
                double seconds = 0;
                const bool ok = MelodySeconds(e, seconds, reason);
                if (!ok) *status = kExitFailed;
                if (json) {
                    out.Object().Key("index").Unsigned(k).Key("name").String(names[k]).Key("coding").String("IMF");
                    out.Key("melody").Bool(true).Key("duration_s").Number(seconds);
                    out.Key("sample_rate").Null().Key("samples").Null().Key("offset").Unsigned(entries[k].offset);
                    out.Key("chip_bytes").Unsigned(entries[k].size);
                    if (!ok) out.Key("error").String(reason);
                    out.End();
                } else
                    std::printf("  %5zu  %-20s  %-9s  %5s  %7.3f s  %9u  %9u%s%s\n", k,
                                names[k].empty() ? "-" : names[k].c_str(), "melody", "-", seconds, entries[k].offset,
                                entries[k].size,
                                ok ? "  IMF" : "  IMF that cannot be read: ", ok ? "" : reason.c_str());
                continue;
            }
            const bool ok = ReadResourceBinary(e, b, &reason);
            if (!ok) *status = kExitFailed;
            if (json) {
                out.Object().Key("index").Unsigned(k).Key("name").String(names[k]).Key("coding").String(b.coding);
                out.Key("sample_rate").Unsigned(b.sampleRate).Key("samples").Unsigned(b.samples.size());
                out.Key("duration_s").Number(Seconds(b)).Key("offset").Unsigned(entries[k].offset);
                out.Key("chip_bytes").Unsigned(entries[k].size);
                if (!ok) out.Key("error").String(reason);
                out.End();
            } else {
                std::printf("  %5zu  %-20s  %-9s  %5u  %7.3f s  %9u  %9u%s%s\n", k,
                            names[k].empty() ? "-" : names[k].c_str(), b.coding.empty() ? "?" : b.coding.c_str(),
                            b.sampleRate, Seconds(b), entries[k].offset, entries[k].size, ok ? "" : "  ",
                            ok ? "" : reason.c_str());
            }
        }
        if (json) out.End().End().Print();
        return true;
    }
    if (ResourceBinaryCoding(head).empty()) return false;
    {
        C_WavFileFormat factory;  // a chip file of the same code is the chip class's
        if (RefPtr<C_WavFile> chip = factory.Open(path.c_str(), kOpenHeaderOnly)) return false;
    }
    S_ResourceBinary b;
    std::string reason;
    if (!ReadResourceBinaryFile(path.c_str(), b, &reason)) {
        PrintError(path, b.coding + " resource binary that cannot be read: " + reason, json);
        *status = kExitFailed;
        return true;
    }
    PrintBinary(path, b, json);
    return true;
}

bool ExtractPackEntry(const std::string& image, long entry, const std::string& path) {
    std::vector<uint8_t> bytes;
    std::vector<S_PackEntry> entries;
    std::vector<std::string> names;
    std::string why;
    if (!OpenPack(image, bytes, entries, names, why)) {
        Fail(image, why);
        return false;
    }
    if (entry < 0 || static_cast<size_t>(entry) >= entries.size()) {
        Fail(image, "has no entry " + std::to_string(entry) + " (it has " + std::to_string(entries.size()) + ")");
        return false;
    }
    const std::span<const uint8_t> e = EntryBytes(bytes, entries[static_cast<size_t>(entry)]);
    auto out = platform::AtomicOutput::Begin(path);
    if (!out || (!e.empty() && !out->Out().Write(e.data(), e.size())) || !out->Commit()) {
        Fail(path, "cannot be written");
        return false;
    }
    return true;
}

int RunUnpack(const Options& options) {
    const std::string& imagePath = options.inputs[0];
    const std::string& dir = options.inputs[1];
    std::vector<uint8_t> image;
    std::vector<S_PackEntry> entries;
    std::vector<std::string> names;
    std::string why;
    if (!OpenPack(imagePath, image, entries, names, why)) {
        Fail(imagePath, why);
        return kExitFailed;
    }
    std::error_code ec;
    if (!platform::DirectoryExists(dir) && (!std::filesystem::create_directories(dir, ec) || ec)) {
        Fail(dir, "cannot make the folder");
        return kExitFailed;
    }
    int status = kExitOk;
    for (size_t k = 0; k < entries.size(); ++k) {
        char number[16];
        std::snprintf(number, sizeof number, "%02zu", k);
        const std::string stem = dir + platform::PathSeparator() + number + (names[k].empty() ? "" : "-" + names[k]);
        const std::span<const uint8_t> e = EntryBytes(image, entries[k]);
        // A melody is written as the IMF file it was; it has no sound to decode.
        const bool melody = IsMelodyEntry(e);
        const std::string bin = stem + (melody ? ".imf" : ".bin"), wav = stem + ".wav";
        const bool writesWav = options.wav && !melody;
        if (!options.overwrite && (platform::FileExists(bin) || (writesWav && platform::FileExists(wav)))) {
            Fail(bin, "the file exists (use -y to overwrite it)");
            status = kExitFailed;
            continue;
        }
        auto out = platform::AtomicOutput::Begin(bin);
        if (!out || (!e.empty() && !out->Out().Write(e.data(), e.size())) || !out->Commit()) {
            Fail(bin, "cannot be written");
            status = kExitFailed;
            continue;
        }
        if (options.wav && melody && !options.quiet)
            std::fprintf(stderr, "cadenzor: %s: a melody, written as IMF only (no WAV)\n", bin.c_str());
        if (writesWav) {
            S_ResourceBinary b;
            std::string reason;
            if (!ReadResourceBinary(e, b, &reason)) {
                Fail(bin, b.coding + " resource binary that cannot be read: " + reason);
                status = kExitFailed;
                continue;
            }
            RefPtr<C_WavData> sound(new C_WavData());
            ResourceBinaryToSound(b, *sound);
            if (!sound->SaveAs(kFormatWav, wav.c_str())) {
                Fail(wav, "cannot be written");
                status = kExitFailed;
                continue;
            }
        }
        if (options.verbose) std::fprintf(stderr, "cadenzor: %s\n", bin.c_str());
    }
    return status;
}

}  // namespace cz::cli
