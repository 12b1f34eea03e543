#include "api/C_ResourceConverter.h"

#include <array>
#include <string>

#include "api/C_ModuleStatInfoMgr.h"
#include "api/TempName.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatRegistry.h"
#include "midi/xmf/XmfWriter.h"
#include "formats/registry/C_WavFileFormat.h"
#include "foundation/LibraryLoader.h"
#include "platform/Platform.h"
#include "wave/I_WavFile.h"

namespace cz {

namespace {

constexpr const char* kTitle = "Resource converter";
constexpr const char* kLibraryName = "Ombry.dll";
constexpr const char* kEntryName = "ConvertResourceToBinary";

bool Usable(const char* path) { return path != nullptr && path[0] != '\0'; }

// The extension of a path's file name, with its dot; empty when it has none.
std::string ExtensionOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/:");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    return path.substr(dot);
}

// Header text; line ends are written as CR LF on every platform.
constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& text, uint8_t value) {
    text += "0x";
    text += kHexDigits[value >> 4];
    text += kHexDigits[value & 15];
}

// Reads up to buffer.size() bytes, more than one read when the system hands
// out less; false on a read error.
bool ReadGroup(platform::File& file, std::array<uint8_t, 8>& buffer, size_t& got) {
    got = 0;
    while (got < buffer.size()) {
        size_t n = 0;
        if (!file.Read(buffer.data() + got, buffer.size() - got, &n)) return false;
        if (n == 0) break;
        got += n;
    }
    return true;
}

}  // namespace

C_ResourceConverter::~C_ResourceConverter() = default;

int32_t C_ResourceConverter::ConvertFormat(const char* source, const char* destination, uint32_t formatId) {
    if (!Usable(source) || !Usable(destination)) return 0;
    C_WavFileFormat factory;
    I_WavFile* file = factory.OpenWavFile(source, 1, 1);
    if (!file) return 0;
    int32_t result = 0;
    try {
        result = file->SaveAs(formatId, destination) ? 1 : 0;
    } catch (...) {
        file->Release();
        throw;
    }
    file->Release();
    return result;
}

uint32_t C_ResourceConverter::ConvertToBinary(const char* chipPath, const char* binaryPath) {
    return resource_converter::ConvertWithLibrary(kLibraryName, kEntryName, chipPath, binaryPath);
}

int32_t C_ResourceConverter::ConvertToXmf(const char* source, const char* xmfPath) {
    if (!Usable(source) || !Usable(xmfPath)) return 0;
    const FormatId id = GetFormatIdFromExtension(ExtensionOf(source).c_str());
    if (id == kFormatApm) return ConvertApmToXmf(source, xmfPath);
    if (id != kFormatWav) return 0;
    // The sound is coded to a temporary APM file first; every temporary name
    // goes with the TempNames object, the placeholder included.
    TempNames temp;
    const std::string placeholder = temp.Placeholder("tmp");
    if (placeholder.empty()) return 0;
    const std::string apm = temp.Derived(placeholder, ".apm");
    if (!ConvertFormat(source, apm.c_str(), kFormatApm)) return 0;
    return ConvertApmToXmf(apm.c_str(), xmfPath);
}

int32_t C_ResourceConverter::ConvertApmToXmf(const char* apmPath, const char* xmfPath) {
    if (!Usable(apmPath) || !Usable(xmfPath)) return 0;
    if (GetFormatIdFromExtension(ExtensionOf(apmPath).c_str()) != kFormatApm) return 0;
    // The binary and the byte-array header written beside it are both
    // temporary.
    TempNames temp;
    const std::string binary = temp.Placeholder("tmp");
    if (binary.empty()) return 0;
    temp.Derived(binary, ".h");
    if (!ConvertToBinary(apmPath, binary.c_str())) return 0;
    return xmf::WriteXmf(binary.c_str(), xmfPath, xmf::kXmfSpeech) ? 1 : 0;
}

void C_ResourceConverter::WriteByteArrayHeader(const char* binaryPath) {
    if (!Usable(binaryPath)) return;
    const std::string path = binaryPath;
    const std::string headerPath = path + ".h";
    auto binary = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!binary) return;
    auto header = platform::File::Open(headerPath, platform::open_flags::kWrite | platform::open_flags::kCreate |
                                                       platform::open_flags::kShareExclusive);
    if (!header) return;

    std::string text = "const unsigned char g_aby" + resource_converter::ArrayName(path) + "[] = \r\n{\r\n";
    bool ok = true;
    bool first = true;
    std::array<uint8_t, 8> group{};
    for (;;) {
        size_t got = 0;
        if (!ReadGroup(*binary, group, got)) {
            ok = false;
            break;
        }
        for (size_t i = 0; i < got; ++i) {
            if (i > 0) {
                text += ", ";
            } else if (!first) {
                text += ",\r\n";
            }
            AppendHex(text, group[i]);
            first = false;
        }
        if (got < group.size()) break;
        // Written in slices so that a large binary never sits in memory as text.
        if (text.size() >= 64 * 1024) {
            ok = header->Write(text.data(), text.size());
            text.clear();
            if (!ok) break;
        }
    }
    if (ok) {
        text += "\r\n};\r\n";
        ok = header->Write(text.data(), text.size());
    }
    binary->Close();
    ok = header->Close() && ok;
    if (!ok) platform::DeleteFile(headerPath);
}

namespace resource_converter {

std::string ArrayName(const std::string& binaryPath) {
    size_t slash = binaryPath.find_last_of("\\/");
    std::string name = slash == std::string::npos ? binaryPath : binaryPath.substr(slash + 1);
    for (char& c : name) {
        if (c == '.') c = '_';
    }
    return name;
}

uint32_t ConvertWithLibrary(const char* libraryName, const char* entryName, const char* chipPath,
                            const char* binaryPath) {
    if (!Usable(chipPath) || !Usable(binaryPath)) return 0;
    auto library = LoadLibraryWithMessage(libraryName, kTitle, 0, true);
    if (!library) return 0;

    // The record the library may fill; the caller never reads it back.
    C_ModuleStatInfoMgr store;
    I_ResourceStatInfo* record = store.FindOrAddResourceInfo(chipPath);

    auto entry = EntryAs<ConvertResourceToBinaryFn>(
        GetProcAddressWithMessage(library.get(), entryName, kTitle, 0, true));
    if (!entry) return 0;

    uint32_t result = entry(0, chipPath, binaryPath, record);
    if (result != 0) C_ResourceConverter().WriteByteArrayHeader(binaryPath);
    return result;
}

}  // namespace resource_converter

}  // namespace cz
