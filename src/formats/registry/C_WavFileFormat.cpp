#include "formats/registry/C_WavFileFormat.h"

#include <cstring>

#include "formats/registry/FormatRegistry.h"
#include "formats/registry/FormatTable.h"
#include "wave/C_WavFile.h"
#include "wave/SoundFileOpener.h"
#include "wave/WriterRegistry.h"

namespace cz {

namespace {

I_WavFile* OpenForLowerLayers(const std::string& path) {
    C_WavFileFormat factory;
    return factory.OpenWavFile(path.c_str(), kOpenWithSamples, 1);
}

struct HookInstaller {
    HookInstaller() {
        SetWriterCreator(&CreateFormatWriter);
        SetSoundFileOpener(&OpenForLowerLayers);
    }
};

}  // namespace

void InstallFormatHooks() { static HookInstaller installer; }

namespace {
// Installed when the library loads.
const bool g_hooksInstalled = (InstallFormatHooks(), true);
}  // namespace

C_WavFileFormat::C_WavFileFormat() { InstallFormatHooks(); }

namespace {

// Whether a probe row accepts the file, with its variant rule.
bool ProbeAccepts(const FormatDescriptor& row, const char* path) {
    if (!row.create) return false;
    auto file = row.create();
    uint32_t flags = 0;
    if (!file->Probe(path, &flags)) return false;
    if (row.probe == ProbeVariant::kPlain && flags != 0) return false;
    if (row.probe == ProbeVariant::kVariant && flags == 0) return false;
    return true;
}

// A class refused the file after recognising it as its own (its magic
// matched): its reason is the one worth telling.
bool RecognisedButRefused(WavFileError error) {
    return error != WavFileError::kNone && error != WavFileError::kNotRiffWave &&
           error != WavFileError::kNotThisFormat && error != WavFileError::kCannotOpen;
}

std::string FormatName(const FormatDescriptor& row) {
    const char* extension = GetExtensionOfFormat(row.id);
    if (extension && extension[0] == '.') return std::string(extension + 1) + " file";
    // A class outside the registry: "C_RBFFile" gives "RBF file".
    const std::string name = row.className;
    if (name.size() > 6 && name.starts_with("C_") && name.ends_with("File"))
        return name.substr(2, name.size() - 6) + " file";
    return name;
}

}  // namespace

uint32_t C_WavFileFormat::GetFileFormat(const char* path) {
    if (!path) return kFormatNone;
    for (const FormatDescriptor* row : FormatProbes())
        if (ProbeAccepts(*row, path)) return row->id;
    return kFormatNone;
}

int32_t C_WavFileFormat::IsFileFormat(uint32_t formatId, const char* path) {
    if (!path) return 0;
    // Every probe of the id answers: id 5 has two reader classes, and the
    // files its writer makes are accepted by the second one.
    for (const FormatDescriptor* row : FormatProbes())
        if (row->id == formatId && ProbeAccepts(*row, path)) return 1;
    return 0;
}

I_WavFile* C_WavFileFormat::OpenWavFile(const char* path, uint32_t mode, uint32_t loadFlag) {
    return OpenStream(path, nullptr, mode, loadFlag);
}

I_WavFile* C_WavFileFormat::OpenWavFileFromMemory(std::shared_ptr<InputStream> stream, uint32_t mode,
                                                  uint32_t loadFlag) {
    if (!stream) return nullptr;
    return OpenStream(nullptr, std::move(stream), mode, loadFlag);
}

RefPtr<C_WavFile> C_WavFileFormat::Open(const char* path, uint32_t mode) {
    // Every class the factory makes is a C_WavFile.
    return RefPtr<C_WavFile>(static_cast<C_WavFile*>(OpenStream(path, nullptr, mode, 1)));
}

I_WavFile* C_WavFileFormat::OpenStream(const char* path, std::shared_ptr<InputStream> memory, uint32_t mode,
                                       uint32_t loadFlag) {
    lastFailure_.clear();
    lastClass_ = nullptr;
    std::shared_ptr<InputStream> stream = memory;
    if (!stream) {
        if (!path || !*path) {
            lastFailure_ = "no file name";
            return nullptr;
        }
        stream = InputStream::OpenFile(path);
        if (!stream) {
            lastFailure_ = "the file cannot be opened";
            return nullptr;
        }
    }
    for (const FormatDescriptor* row : FormatOpenOrder()) {
        if (!row->create) continue;
        std::unique_ptr<C_WavFile> file;
        try {
            file = row->create();
        } catch (...) {
            continue;  // an object that cannot be made counts as a refusal
        }
        file->SetOwnerWindow(ownerWindow_);
        // Every class reads the same stream from its start.
        int32_t ok = 0;
        try {
            if (mode == kOpenHeaderOnly) {
                uint32_t flags = 0;
                file->SetPath(path ? path : "<memory>");
                ok = file->ReadHeaderStream(stream, 1, &flags);
                if (ok && path) file->RecordPathTimeAndLength(path);
            } else {
                ok = file->LoadFromStream(stream, loadFlag, path ? path : "<memory>", path != nullptr);
            }
        } catch (...) {
            ok = 0;
        }
        if (ok) {
            lastClass_ = row->className;
            return file.release();
        }
        // The first class that knew the file as its own says what is wrong.
        if (lastFailure_.empty() && RecognisedButRefused(file->LastError())) {
            lastFailure_ = FormatName(*row) + ": " + WavFileErrorText(file->LastError());
            if (!file->LastErrorDetail().empty()) lastFailure_ += ": " + file->LastErrorDetail();
        }
    }
    if (lastFailure_.empty()) lastFailure_ = stream->Size() == 0 ? "the file is empty" : "not a supported sound file";
    return nullptr;
}

}  // namespace cz
