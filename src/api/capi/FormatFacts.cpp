#include "api/capi/FormatFacts.h"

#include <cctype>
#include <cstring>

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

bool HasResourceCode(uint32_t id) {
    for (const S_FormatCode& c : FormatCodes())
        if (c.id == id) return true;
    return false;
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
        f.longName = f.name + ", " + (family ? family : row->className);
        f.writes = row->writes;
        f.makesBinary = row->writes && row->id != kFormatWav && HasResourceCode(row->id);
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
