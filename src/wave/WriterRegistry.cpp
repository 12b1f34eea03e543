#include "wave/WriterRegistry.h"

#include <atomic>

#include "formats/registry/FormatId.h"
#include "wave/C_WavFile.h"
#include "wave/SoundFileOpener.h"

namespace cz {

namespace {
std::atomic<WriterCreator> g_writerCreator{nullptr};
std::atomic<SoundFileOpenerFn> g_opener{nullptr};
}  // namespace

void SetWriterCreator(WriterCreator creator) { g_writerCreator.store(creator); }

std::unique_ptr<C_WavFile> CreateWriter(uint32_t formatId) {
    if (WriterCreator creator = g_writerCreator.load()) return creator(formatId);
    if (formatId == kFormatWav) return std::make_unique<C_WavFile>();
    return nullptr;
}

void SetSoundFileOpener(SoundFileOpenerFn opener) { g_opener.store(opener); }

I_WavFile* OpenSoundFile(const std::string& path) {
    if (SoundFileOpenerFn opener = g_opener.load()) return opener(path);
    auto file = std::make_unique<C_WavFile>();
    if (!file->Load(path.c_str(), 1)) return nullptr;
    return file.release();
}

}  // namespace cz
