// File times and lengths, answered by the file-attribute library when it is
// there and by the system otherwise. One instance for the process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace cz {

class C_FileAttributes {
public:
    C_FileAttributes();
    ~C_FileAttributes();
    C_FileAttributes(const C_FileAttributes&) = delete;
    C_FileAttributes& operator=(const C_FileAttributes&) = delete;

    static C_FileAttributes& Instance();

    // 1 on success, 0 when the path cannot be opened.
    int32_t GetFileTimes(const char* path, platform::FileTime* creation, platform::FileTime* lastAccess,
                         platform::FileTime* lastWrite);
    // -1 when the path cannot be opened.
    int64_t GetFileLength(const char* path);
    bool HasLibrary() const { return library_ != nullptr; }

private:
    std::unique_ptr<platform::Library> library_;
};

}  // namespace cz
