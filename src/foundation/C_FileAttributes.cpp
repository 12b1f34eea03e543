#include "foundation/C_FileAttributes.h"

#include "cadenzor/cadenzor.h"
#include "foundation/LibraryLoader.h"

namespace cz {

namespace {
using GetFileTimesFn = int32_t(CZ_CALL*)(const char*, uint64_t*, uint64_t*, uint64_t*);
using GetFileLenFn = int32_t(CZ_CALL*)(const char*);
constexpr const char* kTitle = "File Attributes";
}  // namespace

C_FileAttributes::C_FileAttributes() { library_ = LoadLibraryWithMessage("Pemtal.dll", nullptr, 0, false); }

C_FileAttributes::~C_FileAttributes() = default;

C_FileAttributes& C_FileAttributes::Instance() {
    static C_FileAttributes instance;
    return instance;
}

int32_t C_FileAttributes::GetFileTimes(const char* path, platform::FileTime* creation, platform::FileTime* lastAccess,
                                       platform::FileTime* lastWrite) {
    if (!path) return 0;
    if (library_) {
        auto fn = EntryAs<GetFileTimesFn>(GetProcAddressWithMessage(library_.get(), "GetFileTimes", kTitle, 0, true));
        if (!fn) return 0;
        uint64_t c = 0, a = 0, w = 0;
        int32_t result = fn(path, &c, &a, &w);
        if (creation) creation->ticks = c;
        if (lastAccess) lastAccess->ticks = a;
        if (lastWrite) lastWrite->ticks = w;
        return result ? 1 : 0;
    }
    return platform::GetFileTimes(path, creation, lastAccess, lastWrite) ? 1 : 0;
}

int64_t C_FileAttributes::GetFileLength(const char* path) {
    if (!path) return -1;
    if (library_) {
        auto fn = EntryAs<GetFileLenFn>(GetProcAddressWithMessage(library_.get(), "GetFileLen", kTitle, 0, true));
        if (!fn) return -1;
        return fn(path);
    }
    return platform::GetFileLength(path);
}

}  // namespace cz
