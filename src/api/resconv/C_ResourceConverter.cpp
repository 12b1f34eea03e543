#include "api/resconv/C_ResourceConverter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "api/resconv/C_ModuleStatInfoMgr.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatRegistry.h"
#include "midi/xmf/XmfWriter.h"
#include "platform/SafeFiles.h"
#include "formats/registry/C_WavFileFormat.h"
#include "foundation/LibraryLoader.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavFile.h"
#include "wave/I_WavFile.h"

namespace cz {

namespace {

constexpr const char* kTitle = "Resource converter";
constexpr const char* kLibraryName = "Ombry.dll";
constexpr const char* kEntryName = "ConvertResourceToBinary";

bool Usable(const char* path) { return path != nullptr && path[0] != '\0'; }

void ReleaseSource(I_WavFile* file) {
    if (auto* loaded = dynamic_cast<C_WavFile*>(file)) loaded->ReleaseSource();
}

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

// Hands out a file's bytes eight at a time from reads of a large block.
class GroupReader {
public:
    explicit GroupReader(platform::File& file) : file_(file), block_(64 * 1024) {}
    // Up to buffer.size() bytes (fewer only at the end); false on a read
    // error.
    bool Next(std::array<uint8_t, 8>& buffer, size_t& got) {
        got = 0;
        while (got < buffer.size()) {
            if (at_ == filled_) {
                if (ended_) break;
                size_t n = 0;
                if (!file_.Read(block_.data(), block_.size(), &n)) return false;
                at_ = 0;
                filled_ = n;
                if (n == 0) {
                    ended_ = true;
                    break;
                }
            }
            const size_t n = std::min(buffer.size() - got, filled_ - at_);
            std::memcpy(buffer.data() + got, block_.data() + at_, n);
            at_ += n;
            got += n;
        }
        return true;
    }

private:
    platform::File& file_;
    std::vector<uint8_t> block_;
    size_t at_ = 0, filled_ = 0;
    bool ended_ = false;
};

}  // namespace

C_ResourceConverter::~C_ResourceConverter() = default;

int32_t C_ResourceConverter::ConvertFormat(const char* source, const char* destination, uint32_t formatId) {
    if (!Usable(source) || !Usable(destination)) return 0;
    C_WavFileFormat factory;
    I_WavFile* file = factory.OpenWavFile(source, 1, 1);
    if (!file) return 0;
    int32_t result = 0;
    try {
        // The sound is in memory: the source is let go before the output is
        // written, so that the output may replace it (Windows refuses to
        // replace a file that is open).
        ReleaseSource(file);
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
    // The sound is coded to a temporary APM file first, in a private folder
    // removed on every path.
    auto temp = platform::TempFolder::Create();
    if (!temp) return 0;
    const std::string apm = temp->File("sound.apm");
    if (!ConvertFormat(source, apm.c_str(), kFormatApm)) return 0;
    return ConvertApmToXmf(apm.c_str(), xmfPath);
}

int32_t C_ResourceConverter::ConvertApmToXmf(const char* apmPath, const char* xmfPath) {
    if (!Usable(apmPath) || !Usable(xmfPath)) return 0;
    if (GetFormatIdFromExtension(ExtensionOf(apmPath).c_str()) != kFormatApm) return 0;
    // The binary and the byte-array header written beside it are both
    // temporary: a private folder removed on every path.
    auto temp = platform::TempFolder::Create();
    if (!temp) return 0;
    const std::string binary = temp->File("resource.bin");
    if (!ConvertToBinary(apmPath, binary.c_str())) return 0;
    return xmf::WriteXmf(binary.c_str(), xmfPath, xmf::kXmfSpeech) ? 1 : 0;
}

bool C_ResourceConverter::WriteByteArrayHeader(const char* binaryPath) {
    if (!Usable(binaryPath)) {
        platform::SetLastError(platform::kErrorInvalidName);
        return false;
    }
    const std::string path = binaryPath;
    const std::string headerPath = path + ".h";
    auto binary = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!binary) return false;
    // Written beside its name and put in place only when complete.
    auto output = platform::AtomicOutput::Begin(headerPath);
    if (!output) return false;
    platform::File* header = &output->Out();

    std::string text = "const unsigned char g_aby" + resource_converter::ArrayName(path) + "[] = \r\n{\r\n";
    bool ok = true;
    bool first = true;
    std::array<uint8_t, 8> group{};
    GroupReader reader(*binary);
    for (;;) {
        size_t got = 0;
        if (!reader.Next(group, got)) {
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
    if (!ok) return false;  // the temporary file goes with output
    return output->Commit();
}

namespace resource_converter {

std::string ArrayName(const std::string& binaryPath) {
    size_t slash = binaryPath.find_last_of("\\/");
    std::string name = slash == std::string::npos ? binaryPath : binaryPath.substr(slash + 1);
    // Every character that cannot stand in a C identifier ("." as before, and
    // "-", spaces, other bytes) becomes "_", so that the header compiles;
    // names that were valid stay as they were. No prefix is added for a
    // leading digit: the name always follows "g_aby", which starts the
    // identifier with a letter.
    for (char& c : name) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '_') c = '_';
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

    auto entry =
        EntryAs<ConvertResourceToBinaryFn>(GetProcAddressWithMessage(library.get(), entryName, kTitle, 0, true));
    if (!entry) return 0;

    uint32_t result = entry(0, chipPath, binaryPath, record);
    if (result != 0 && !C_ResourceConverter().WriteByteArrayHeader(binaryPath)) {
        // A conversion without its header has failed. The binary is complete
        // and stays, as the chip file stays when the binary cannot be made.
        const uint32_t error = platform::LastError();
        platform::ShowMessage(kTitle, std::string("The header '") + binaryPath + ".h' could not be written" +
                                          (error ? ": " + platform::ErrorText(error) : std::string(".")) +
                                          " The binary '" + binaryPath + "' was written without it.");
        return 0;
    }
    return result;
}

}  // namespace resource_converter

}  // namespace cz
