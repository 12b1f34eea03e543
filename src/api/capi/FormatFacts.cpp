#include "api/capi/FormatFacts.h"

#include <cctype>
#include <cstring>

#include "formats/binary/ResourceBinary.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatRegistry.h"
#include "formats/registry/FormatTable.h"

namespace cz::capi {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const char* FamilyWords(uint32_t id) {
    for (const S_FormatRecord& r : FormatRecords()) {
        if (r.id != id) continue;
        if (r.familyFlags & kFamilyAdpcm) return "chip ADPCM";
        if (r.familyFlags & kFamilyMdpcm) return "chip MDPCM";
        if (r.familyFlags & kFamilyP10) return "10-bit packed chip PCM";
        if (r.familyFlags & kFamilyPcm) return "PCM";
        return nullptr;
    }
    return nullptr;
}

// A chip resource binary of a format is one whose four-character code the
// binary reader knows: the format's registry code, or for formats without
// one "W" and the name (the binaries' convention, "WESB").
bool MakesBinary(uint32_t id, const std::string& name) {
    std::string code;
    for (const S_FormatCode& c : FormatCodes())
        if (c.id == id) code = c.code;
    if (code.empty()) code = "W" + name;
    if (code.size() != 4) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(code.data());
    return !ResourceBinaryCoding(std::span<const uint8_t>(bytes, 4)).empty();
}

// The one place that reads the registry for the job interface's rows.
std::vector<FormatFact> Build() {
    std::vector<FormatFact> facts;
    for (const FormatDescriptor* row : FormatRows()) {
        FormatFact f;
        f.id = row->id;
        const char* ext = row->id == kFormatNone ? ".RBF" : GetExtensionOfFormat(row->id);
        f.extension = Lower(ext ? ext : "");
        f.name = f.extension.empty() ? row->className : std::string(ext + 1);
        const char* family = FamilyWords(row->id);
        if (row->facts.longName && *row->facts.longName)
            f.longName = row->facts.longName;
        else
            f.longName = f.name + ", " + (family ? family : row->className);
        f.writes = row->writes;
        f.makesBinary = row->writes && row->id != kFormatWav && row->facts.binary && MakesBinary(row->id, f.name);
        facts.push_back(std::move(f));
    }
    return facts;
}

}  // namespace

const std::vector<FormatFact>& FormatFacts() {
    static const std::vector<FormatFact> facts = Build();
    return facts;
}

const FormatFact* FindWrittenFormat(const std::string& text) {
    std::string key = Lower(text);
    if (!key.empty() && key[0] == '.') key.erase(0, 1);
    if (key.empty()) return nullptr;
    for (const FormatFact& f : FormatFacts())
        if (f.writes && (Lower(f.name) == key || f.extension == "." + key)) return &f;
    return nullptr;
}

}  // namespace cz::capi
