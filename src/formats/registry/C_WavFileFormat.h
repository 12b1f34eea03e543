// The format factory: turns a file into an opened file object of the right
// class by trying the format classes in their fixed order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/InputStream.h"
#include "foundation/RefPtr.h"

namespace cz {

class C_WavFile;
class I_WavFile;

// OpenWavFile's modes.
enum : uint32_t {
    kOpenHeaderOnly = 0,   // format and metadata
    kOpenWithSamples = 1,  // format, metadata and samples
};

class I_WavFileFormat {
public:
    virtual uint32_t GetFileFormat(const char* path) = 0;
    virtual int32_t IsFileFormat(uint32_t formatId, const char* path) = 0;
    virtual I_WavFile* OpenWavFile(const char* path, uint32_t mode, uint32_t loadFlag) = 0;
    virtual I_WavFile* OpenWavFileNoData(const char* path) = 0;
    virtual ~I_WavFileFormat() = default;
};

class C_WavFileFormat : public I_WavFileFormat {
public:
    C_WavFileFormat();

    // The id of the first probe that accepts the file, or 0.
    uint32_t GetFileFormat(const char* path) override;
    // The probe of the first entry with that id; 0 for an id without one.
    int32_t IsFileFormat(uint32_t formatId, const char* path) override;
    // A new file object (reference count 0: one Release deletes it), or none.
    // Mode 0 reads format and metadata only; mode 1 loads the samples too.
    I_WavFile* OpenWavFile(const char* path, uint32_t mode, uint32_t loadFlag) override;
    I_WavFile* OpenWavFileNoData(const char* path) override { return OpenWavFile(path, kOpenHeaderOnly, 1); }

    // The same over bytes in memory.
    I_WavFile* OpenWavFileFromMemory(std::shared_ptr<InputStream> stream, uint32_t mode, uint32_t loadFlag);
    // OpenWavFile with the object owned by the result.
    RefPtr<C_WavFile> Open(const char* path, uint32_t mode = kOpenWithSamples);
    // Why the last open found no class, in words for a person.
    const std::string& LastFailure() const { return lastFailure_; }
    // The class that accepted the last opened file.
    const char* LastClassName() const { return lastClass_; }

    void SetOwnerWindow(uintptr_t window) { ownerWindow_ = window; }

private:
    I_WavFile* OpenStream(const char* path, std::shared_ptr<InputStream> memory, uint32_t mode, uint32_t loadFlag);

    uintptr_t ownerWindow_ = 0;
    std::string lastFailure_;
    const char* lastClass_ = nullptr;
};

// Installs the factory and the writer table into the lower layers (the
// sound's save and OpenSoundFile). Safe to call any number of times.
void InstallFormatHooks();

}  // namespace cz
