#include "api/C_WavFileFormat.h"

#include <cstring>

#include "api/FormatClasses.h"
#include "wave/C_WavFile.h"
#include "wave/SoundFileOpener.h"
#include "wave/WriterRegistry.h"

namespace cz {

namespace {

I_WavFile* OpenForLowerLayers(const std::string& path) {
    C_WavFileFormat factory;
    return factory.OpenWavFile(path.c_str(), 1, 1);
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

uint32_t C_WavFileFormat::GetFileFormat(const char* path) {
    if (!path) return 0;
    for (const auto& probe : FormatProbes()) {
        if (!probe.create) continue;
        auto file = probe.create();
        uint32_t flags = 0;
        if (!file->Probe(path, &flags)) continue;
        if (probe.variant == ProbeVariant::kPlain && flags != 0) continue;
        if (probe.variant == ProbeVariant::kVariant && flags == 0) continue;
        return probe.id;
    }
    return 0;
}

int32_t C_WavFileFormat::IsFileFormat(uint32_t formatId, const char* path) {
    if (!path) return 0;
    // Every probe of the id answers: id 5 has two reader classes, and the
    // files its writer makes are accepted by the second one.
    for (const auto& probe : FormatProbes()) {
        if (probe.id != formatId || !probe.create) continue;
        auto file = probe.create();
        uint32_t flags = 0;
        if (!file->Probe(path, &flags)) continue;
        if (probe.variant == ProbeVariant::kPlain && flags != 0) continue;
        if (probe.variant == ProbeVariant::kVariant && flags == 0) continue;
        return 1;
    }
    return 0;
}

I_WavFile* C_WavFileFormat::OpenWavFile(const char* path, uint32_t mode, uint32_t loadFlag) {
    return Open(path, nullptr, mode, loadFlag);
}

I_WavFile* C_WavFileFormat::OpenWavFileFromMemory(std::shared_ptr<InputStream> stream, uint32_t mode,
                                                  uint32_t loadFlag) {
    if (!stream) return nullptr;
    return Open(nullptr, std::move(stream), mode, loadFlag);
}

I_WavFile* C_WavFileFormat::Open(const char* path, std::shared_ptr<InputStream> memory, uint32_t mode,
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
    for (const auto& row : FormatOpenOrder()) {
        if (!row.create) continue;
        std::unique_ptr<C_WavFile> file;
        try {
            file = row.create();
        } catch (...) {
            continue;  // an object that cannot be made counts as a refusal
        }
        file->SetOwnerWindow(ownerWindow_);
        // Every class reads the same stream from its start.
        int32_t ok = 0;
        try {
            if (mode == 0) {
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
            lastClass_ = row.className;
            return file.release();
        }
        if (row.id == 2 && file->LastError() != WavFileError::kNotRiffWave)
            lastFailure_ = WavFileErrorText(file->LastError());
    }
    if (lastFailure_.empty()) lastFailure_ = stream->Size() == 0 ? "the file is empty" : "not a supported sound file";
    return nullptr;
}

}  // namespace cz
