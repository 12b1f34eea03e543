// POSIX implementation of the platform layer.
#include "platform/Platform.h"

#include <dlfcn.h>
#include <link.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/PlatformInternal.h"
#include "platform/Win32ErrorText.h"

namespace cz::platform {

namespace {

thread_local uint32_t t_lastError = 0;

// errno values onto the Win32 codes that name the same condition.
uint32_t FromErrno(int err) {
    switch (err) {
        case 0: return kErrorSuccess;
        case ENOENT: return kErrorFileNotFound;
        case ENOTDIR:
        case ELOOP: return kErrorPathNotFound;
        case EMFILE:
        case ENFILE: return kErrorTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EISDIR: return kErrorAccessDenied;
        case EROFS: return kErrorWriteProtect;
        case EBADF: return kErrorInvalidHandle;
        case ENOMEM: return kErrorNotEnoughMemory;
        case EEXIST: return kErrorFileExists;
        case ENOSPC:
        case EDQUOT: return kErrorDiskFull;
        // Past the process's file-size limit: the disk may have room.
        case EFBIG: return kErrorFileTooLarge;
        case ENAMETOOLONG: return kErrorFilenameExcedRange;
        case ESPIPE: return kErrorSeek;
        case EINVAL: return kErrorInvalidParameter;
        case EBUSY:
        case ETXTBSY: return kErrorSharingViolation;
        case ENOTEMPTY: return kErrorDirNotEmpty;
        case EIO: return 21;    // ERROR_NOT_READY: a device fault
        case EXDEV: return 17;  // ERROR_NOT_SAME_DEVICE
        default: return 31;     // ERROR_GEN_FAILURE
    }
}

void SetFromErrno() { t_lastError = FromErrno(errno); }

std::string DirName(const std::string& path) {
    auto pos = path.find_last_of('/');
    if (pos == std::string::npos) return ".";
    if (pos == 0) return "/";
    return path.substr(0, pos);
}

std::string RealPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return path;
    std::string out(resolved);
    std::free(resolved);
    return out;
}

std::string ExecutablePath() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

// The loaded object (program or shared library) whose segments hold an
// address: its name as the loader knows it, empty for the main program.
struct LoadedObject {
    uintptr_t address = 0;
    bool found = false;
    std::string name;
};

int FindLoadedObject(struct dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<LoadedObject*>(data);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD) continue;
        const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        if (search->address >= start && search->address - start < segment.p_memsz) {
            search->found = true;
            search->name = info->dlpi_name ? info->dlpi_name : "";
            return 1;
        }
    }
    return 0;
}

// Path of the file holding this code, and whether that file is the program.
// The loader's list tells the main program apart (it has no name there) however
// the program was started: by a path, or by a bare name found on PATH, which
// dladdr would hand back as given.
std::string ThisModulePath(bool* isProgram) {
    LoadedObject search;
    search.address = reinterpret_cast<uintptr_t>(&ThisModulePath);
    ::dl_iterate_phdr(&FindLoadedObject, &search);
    if (search.found && !search.name.empty()) {
        if (isProgram) *isProgram = false;
        return RealPath(search.name);
    }
    if (isProgram) *isProgram = true;
    return RealPath(ExecutablePath());
}

uint64_t ToFileTime(const struct timespec& ts) {
    // Seconds between 1601-01-01 and 1970-01-01.
    constexpr uint64_t kEpochDelta = 11644473600ULL;
    return (static_cast<uint64_t>(ts.tv_sec) + kEpochDelta) * 10000000ULL + static_cast<uint64_t>(ts.tv_nsec) / 100;
}

}  // namespace

uint32_t LastError() { return t_lastError; }
void SetLastError(uint32_t code) { t_lastError = code; }
std::string ErrorText(uint32_t code) { return Win32ErrorText(code); }

std::string SystemErrorText(uint32_t code) {
    int err = 0;
    switch (code) {
        case kErrorFileNotFound:
        case kErrorPathNotFound: err = ENOENT; break;
        case kErrorTooManyOpenFiles: err = EMFILE; break;
        case kErrorAccessDenied: err = EACCES; break;
        case kErrorWriteProtect: err = EROFS; break;
        case kErrorInvalidHandle: err = EBADF; break;
        case kErrorNotEnoughMemory: err = ENOMEM; break;
        case kErrorFileExists: err = EEXIST; break;
        case kErrorDiskFull: err = ENOSPC; break;
        case kErrorFileTooLarge: err = EFBIG; break;
        case kErrorFilenameExcedRange: err = ENAMETOOLONG; break;
        case kErrorSeek: err = ESPIPE; break;
        case kErrorInvalidParameter: err = EINVAL; break;
        case kErrorSharingViolation: err = EBUSY; break;
        case kErrorDirNotEmpty: err = ENOTEMPTY; break;
        case 21: err = EIO; break;
        case 17: err = EXDEV; break;
        default: return Win32ErrorText(code);
    }
    return std::strerror(err);
}

// ---- File ----

File::~File() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (handle_ >= 0) ::close(static_cast<int>(handle_));
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

std::optional<File> File::Open(const std::string& path, uint32_t flags, uint32_t* error) {
    int oflags = O_CLOEXEC;
    switch (flags & 3u) {
        case 1: oflags |= O_WRONLY; break;
        case 2: oflags |= O_RDWR; break;
        default: oflags |= O_RDONLY; break;
    }
    if (flags & open_flags::kCreate) {
        oflags |= O_CREAT;
        if (flags & open_flags::kCreateNew)
            oflags |= O_EXCL | O_NOFOLLOW;
        else if (!(flags & open_flags::kNoTruncate))
            oflags |= O_TRUNC;
    }
    if (path.empty() || path.find('\0') != std::string::npos) {
        t_lastError = kErrorInvalidName;
        if (error) *error = t_lastError;
        return std::nullopt;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), oflags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // Creating a file fails with ENOENT only when its folder is missing.
        t_lastError = (errno == ENOENT && (flags & open_flags::kCreate)) ? kErrorPathNotFound : FromErrno(errno);
        if (error) *error = t_lastError;
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        t_lastError = kErrorAccessDenied;
        if (error) *error = t_lastError;
        return std::nullopt;
    }
    File file;
    file.handle_ = fd;
    t_lastError = 0;
    if (error) *error = 0;
    return file;
}

bool File::IsOpen() const { return handle_ >= 0; }

bool File::Read(void* buffer, size_t size, size_t* got) {
    if (got) *got = 0;
    if (handle_ < 0) {
        t_lastError = kErrorInvalidHandle;
        return false;
    }
    size_t total = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (total < size) {
        ssize_t n = ::read(static_cast<int>(handle_), out + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetFromErrno();
            if (got) *got = total;
            return false;
        }
        if (n == 0) break;
        total += static_cast<size_t>(n);
    }
    if (got) *got = total;
    return true;
}

bool File::Write(const void* buffer, size_t size) {
    if (handle_ < 0) {
        t_lastError = kErrorInvalidHandle;
        return false;
    }
    const auto* in = static_cast<const uint8_t*>(buffer);
    size_t total = 0;
    while (total < size) {
        ssize_t n = ::write(static_cast<int>(handle_), in + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetFromErrno();
            return false;
        }
        if (n == 0) {
            t_lastError = kErrorDiskFull;
            return false;
        }
        total += static_cast<size_t>(n);
    }
    return true;
}

bool File::Seek(int64_t offset, SeekOrigin origin, uint64_t* position) {
    if (handle_ < 0) {
        t_lastError = kErrorInvalidHandle;
        return false;
    }
    int whence = origin == SeekOrigin::kBegin ? SEEK_SET : origin == SeekOrigin::kCurrent ? SEEK_CUR : SEEK_END;
    off_t result = ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), whence);
    if (result < 0) {
        t_lastError = errno == EINVAL ? kErrorNegativeSeek : FromErrno(errno);
        return false;
    }
    if (position) *position = static_cast<uint64_t>(result);
    return true;
}

std::optional<uint64_t> File::Size() {
    if (handle_ < 0) {
        t_lastError = kErrorInvalidHandle;
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        SetFromErrno();
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.st_size);
}

bool File::Flush() {
    if (handle_ < 0) {
        t_lastError = kErrorInvalidHandle;
        return false;
    }
    return true;  // writes go straight to the system; nothing is buffered here
}

bool File::SetEnd() {
    auto pos = Position();
    if (!pos) return false;
    if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(*pos)) != 0) {
        SetFromErrno();
        return false;
    }
    return true;
}

bool File::Close() {
    if (handle_ < 0) return true;
    int fd = static_cast<int>(handle_);
    handle_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        SetFromErrno();
        return false;
    }
    return true;
}

std::optional<File> File::Duplicate() const {
    if (handle_ < 0) {
        t_lastError = kErrorInvalidHandle;
        return std::nullopt;
    }
    int fd = ::fcntl(static_cast<int>(handle_), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        SetFromErrno();
        return std::nullopt;
    }
    File copy;
    copy.handle_ = fd;
    return copy;
}

bool File::CopyAccessFrom(const std::string& path) {
    if (handle_ < 0) {
        t_lastError = kErrorInvalidHandle;
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return true;
    if (::fchmod(static_cast<int>(handle_), st.st_mode & 07777) != 0) {
        SetFromErrno();
        return false;
    }
    return true;
}

// ---- paths and files ----

bool DeleteFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0) {
        SetFromErrno();
        return false;
    }
    return true;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FullPath(const std::string& path) {
    if (path.empty()) return path;
    if (path[0] == '/') return path;
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd) return path;
    std::string out(cwd);
    std::free(cwd);
    if (out.empty() || out.back() != '/') out += '/';
    return out + path;
}

std::string DirectoryOf(const std::string& path) { return DirName(path); }

PathKind GetPathKind(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return PathKind::kMissing;
    if (S_ISREG(st.st_mode)) return PathKind::kFile;
    if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
    return PathKind::kOther;
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa {
    }, sb{};
    const bool haveA = ::stat(a.c_str(), &sa) == 0;
    const bool haveB = ::stat(b.c_str(), &sb) == 0;
    if (haveA && haveB) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    // A name that exists only as a link pointing nowhere is not new: the
    // file would be created at the link's target.
    struct stat la {
    }, lb{};
    if (haveA || haveB || ::lstat(a.c_str(), &la) == 0 || ::lstat(b.c_str(), &lb) == 0) return false;
    auto leaf = [](const std::string& p) {
        auto pos = p.find_last_of('/');
        return pos == std::string::npos ? p : p.substr(pos + 1);
    };
    return leaf(a) == leaf(b) && SameFile(DirName(a), DirName(b));
}

bool RenameOver(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        SetFromErrno();
        return false;
    }
    return true;
}

std::optional<std::string> CreateTempDirectory(const std::string& parent, const std::string& prefix) {
    std::string base = parent.empty() ? TempDirectory() : parent;
    if (base.back() != '/') base += '/';
    std::string pattern = base + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {  // mode 0700
        SetFromErrno();
        return std::nullopt;
    }
    return std::string(buffer.data());
}

namespace {
int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
    int rc = (type == FTW_DP) ? ::rmdir(path) : ::unlink(path);
    if (rc != 0) SetFromErrno();
    return 0;  // go on with the rest; the caller checks what is left
}
}  // namespace

bool RemoveTree(const std::string& path) {
    if (path.empty()) return false;
    ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0;
}

bool GetFileTimes(const std::string& path, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        SetFromErrno();
        return false;
    }
    if (creation) creation->ticks = ToFileTime(st.st_ctim);
    if (lastAccess) lastAccess->ticks = ToFileTime(st.st_atim);
    if (lastWrite) lastWrite->ticks = ToFileTime(st.st_mtim);
    return true;
}

std::string TempDirectory() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env && *env && DirectoryExists(env)) ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::optional<std::string> CreateTempFile(const std::string& dir, const std::string& prefix) {
    std::string base = dir.empty() ? TempDirectory() : dir;
    if (base.back() != '/') base += '/';
    std::string pattern = base + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = ::mkstemp(buffer.data());
    if (fd < 0) {
        SetFromErrno();
        return std::nullopt;
    }
    ::close(fd);
    return std::string(buffer.data());
}

char PathSeparator() { return '/'; }

std::string ModuleDirectory(bool withSeparator) {
    std::string dir = DirName(ThisModulePath(nullptr));
    if (withSeparator && (dir.empty() || dir.back() != '/')) dir += '/';
    return dir;
}

// Siblings are loaded from the library's own folder only (or the lib folder
// beside a program), never from the search path or the working folder.
std::string SiblingDirectory() {
    bool program = false;
    std::string dir = DirName(ThisModulePath(&program));
    if (program) {
        std::string lib = DirName(dir) + "/lib";
        if (DirectoryExists(lib)) dir = lib;
    }
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string LibraryFileName(const std::string& windowsName) {
    std::string stem = windowsName;
    if (stem.size() > 4) {
        std::string ext = stem.substr(stem.size() - 4);
        for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".dll") stem.resize(stem.size() - 4);
    }
    return "lib" + stem + ".so";
}

void SetModuleHandle(void*) {}

// ---- libraries ----

namespace detail {

void* OpenLibraryFile(const std::string& path, uint32_t* code) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) *code = FileExists(path) ? kErrorBadExeFormat : kErrorModNotFound;
    return handle;
}

void CloseLibraryFile(void* handle) { ::dlclose(handle); }

bool IsBareFileName(const std::string& name) { return !name.empty() && name.find('/') == std::string::npos; }

bool ShowSystemMessageBox(const std::string&, const std::string&) { return false; }

}  // namespace detail

void* Library::Entry(const char* name, uint32_t* error) const {
    if (!handle_ || !name) {
        t_lastError = kErrorInvalidHandle;
        if (error) *error = t_lastError;
        return nullptr;
    }
    void* entry = ::dlsym(handle_, name);
    if (!entry) {
        t_lastError = kErrorProcNotFound;
        if (error) *error = t_lastError;
    }
    return entry;
}

// ---- threads ----

struct Thread::Impl {
    std::thread thread;
};

Thread::Thread() = default;
Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body) {
    Join();
    try {
        impl_ = std::make_unique<Impl>();
        impl_->thread = std::thread(std::move(body));
        return true;
    } catch (...) {
        impl_.reset();
        return false;
    }
}

void Thread::Join() {
    if (impl_ && impl_->thread.joinable()) impl_->thread.join();
    impl_.reset();
}

bool Thread::Running() const { return impl_ && impl_->thread.joinable(); }

void SleepMs(uint32_t milliseconds) {
    struct timespec ts {
        static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L
    };
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

}  // namespace cz::platform
