// Stand-in for the file-attribute library: file times and lengths.
#include <cstdint>

#include "cadenzor/cadenzor.h"
#include "common/SiblingCommon.h"
#include "platform/Platform.h"

// Creation, last access and last write time as file times (100-ns ticks
// since 1601). Nonzero on success.
CZ_SIBLING_EXPORT int32_t CZ_CALL GetFileTimes(const char* path, uint64_t* creation, uint64_t* lastAccess,
                                               uint64_t* lastWrite) {
    if (!path) return 0;
    cz::platform::FileTime c, a, w;
    if (!cz::platform::GetFileTimes(path, &c, &a, &w)) return 0;
    if (creation) *creation = c.ticks;
    if (lastAccess) *lastAccess = a.ticks;
    if (lastWrite) *lastWrite = w.ticks;
    return 1;
}

// The length in bytes, or -1 when the file cannot be opened.
CZ_SIBLING_EXPORT int32_t CZ_CALL GetFileLen(const char* path) {
    if (!path) return -1;
    int64_t length = cz::platform::GetFileLength(path);
    if (length < 0 || length > INT32_MAX) return -1;
    return static_cast<int32_t>(length);
}
