#include "formats/registry/FormatTable.h"

#include <array>

#include "wave/C_WavFile.h"

namespace cz {

namespace {

// The factory's opening order, by id; where several classes open files of one
// id, they are tried in their family's row order. The first class that
// accepts a file wins, so each class must refuse the files of the classes
// after it, and the loosest readers come last.
constexpr std::array kOpenOrder{
    // A "WPCM" header first: a RIFF/WAVE file has none and falls through to
    // the WAV class in second place.
    kFormatSrc,
    kFormatWav,
    kFormatWam,
    kFormatWmd,
    kFormatQ310Wmd,
    // Two readers: the search coder's APM (header offset 20 is 1) before the
    // classic one, which also takes the files the first refuses.
    kFormatApm,
    kFormatMpm,
    kFormatPc8,
    kFormatLp8,
    kFormatP10,
    // "WAP6" and "WMDM" headers are told apart by their codes; the 6-bit
    // variants follow their 4-bit classes.
    kFormatApm6Bit,
    kFormatMdm,
    kFormatMdm6Bit,
    kFormatClp1,
    kFormatClp2,
    kFormatClp3,
    kFormatEam,
    kFormatEmm,
    kFormatE2a,
    kFormatPam,
    kFormatMcp,
    kFormatSbd,
    kFormatWlp,
    kFormatP16,
    kFormatQ420Mpm,
    kFormatQ420Pcm,
    // RBF resources have no id of the registry; they are opened here, before
    // the headerless formats.
    kFormatNone,
    kFormatEsb,
    kFormatS08,
    kFormatS16,
    kFormatSam,
    kFormatSmm,
    kFormatMvclp,
};

// The probe table's order, by id. Ids 1 and 13 both probe the source class
// and tell plain from scrambled files by its variant flag; the two id 5
// entries probe the search coder's class first.
constexpr std::array kProbeOrder{
    kFormatSrc,  kFormatEnSrc, kFormatWav,     kFormatWam,     kFormatWmd,     kFormatQ310Wmd, kFormatApm,
    kFormatMpm,  kFormatPc8,   kFormatLp8,     kFormatP10,     kFormatApm6Bit, kFormatMdm,     kFormatMdm6Bit,
    kFormatClp1, kFormatClp2,  kFormatClp3,    kFormatEam,     kFormatEmm,     kFormatE2a,     kFormatPam,
    kFormatMcp,  kFormatSbd,   kFormatWlp,     kFormatP16,     kFormatEsb,     kFormatS08,     kFormatS16,
    kFormatSam,  kFormatSmm,   kFormatQ420Mpm, kFormatQ420Pcm, kFormatMvclp,
};

struct Tables {
    std::vector<const FormatDescriptor*> rows, open, probes;

    Tables() {
        for (auto family : {WpcmFormatRows(), WaveFormatRows(), ApmFormatRows(), MpmFormatRows(), MdmFormatRows(),
                            RbfFormatRows(), ExtFormatRows(), LegacyFormatRows()})
            for (const auto& row : family) rows.push_back(&row);
        for (FormatId id : kOpenOrder)
            for (const auto* row : rows)
                if (row->id == id && row->opens) open.push_back(row);
        for (FormatId id : kProbeOrder)
            for (const auto* row : rows)
                if (row->id == id && row->probe != ProbeVariant::kNone) probes.push_back(row);
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The first row that matches, a writing row before the others.
template <typename Match>
const FormatDescriptor* FindRow(Match match) {
    const FormatDescriptor* found = nullptr;
    for (const auto* row : GetTables().rows) {
        if (!match(*row)) continue;
        if (row->writes) return row;
        if (!found) found = row;
    }
    return found;
}

const FormatDescriptor* WriterRow(uint32_t formatId) {
    if (formatId == kFormatNone) return nullptr;
    for (const auto* row : GetTables().rows)
        if (row->id == formatId && row->writes) return row;
    return nullptr;
}

}  // namespace

const std::vector<const FormatDescriptor*>& FormatOpenOrder() { return GetTables().open; }
const std::vector<const FormatDescriptor*>& FormatProbes() { return GetTables().probes; }
const std::vector<const FormatDescriptor*>& FormatRows() { return GetTables().rows; }

std::unique_ptr<C_WavFile> CreateFormatWriter(uint32_t formatId) {
    const FormatDescriptor* row = WriterRow(formatId);
    return row && row->create ? row->create() : nullptr;
}

const char* FormatWriterName(uint32_t formatId) {
    const FormatDescriptor* row = WriterRow(formatId);
    return row ? row->className : nullptr;
}

const FormatDescriptor* FindFormat(uint32_t formatId) {
    return FindRow([&](const FormatDescriptor& row) { return row.id == formatId; });
}

const FormatDescriptor* FindFormatByExtension(std::string_view extension) {
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    if (extension.empty()) return nullptr;
    return FindRow([&](const FormatDescriptor& row) { return SameNoCase(row.facts.extension, extension); });
}

std::string_view FormatShortName(const FormatDescriptor& row) {
    std::string_view name = row.facts.longName;
    return name.substr(0, name.find(','));
}

const FormatDescriptor* FindFormatByName(std::string_view name) {
    if (const FormatDescriptor* row = FindFormatByExtension(name)) return row;
    if (const FormatDescriptor* row =
            FindRow([&](const FormatDescriptor& r) { return SameNoCase(FormatShortName(r), name); }))
        return row;
    return FindRow([&](const FormatDescriptor& r) { return SameNoCase(r.className, name); });
}

}  // namespace cz
