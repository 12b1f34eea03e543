// Win32 implementation of the platform layer (kernel32 and user32 only).
//
// Messages: the default sink writes one line "title: text" to standard error,
// as on POSIX, whenever the process has somewhere to write it. A modal
// MessageBoxA is shown only when the host opts in or cannot see standard
// error:
//   - CZ_NO_MESSAGE_BOX set (any value): never a box;
//   - CZ_MESSAGE_BOX=1: always a box;
//   - otherwise a box only for a process without a standard error handle (a
//     GUI host without a console) whose window station is visible.
// So console programs, tests and headless runs never block on a box, while a
// desktop authoring tool still sees its error boxes.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> maps DeleteFile to DeleteFileA; the platform layer has its own.
#undef DeleteFile

#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Win32ErrorText.h"

namespace cz::platform {

namespace {

thread_local uint32_t t_lastError = 0;

// Module handle stored by the library's entry point; none in a program.
HMODULE g_module = nullptr;

void SetFromSystem() { t_lastError = static_cast<uint32_t>(::GetLastError()); }

void Fail(uint32_t code) {
    t_lastError = code;
    ::SetLastError(code);
}

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
intptr_t FromHandle(HANDLE h) { return reinterpret_cast<intptr_t>(h); }
constexpr intptr_t kNoHandle = -1;  // INVALID_HANDLE_VALUE

// The module holding this code: the library when the entry point ran, else
// the module that contains this function (a program linking the modules).
HMODULE ThisModule() {
    if (g_module) return g_module;
    HMODULE module = nullptr;
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<LPCSTR>(&ThisModule), &module))
        return module;
    return nullptr;
}

std::string ModuleFileName(HMODULE module) {
    std::vector<char> buffer(MAX_PATH + 1);
    for (;;) {
        DWORD n = ::GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::string();
        if (n < buffer.size() - 1) return std::string(buffer.data(), n);
        if (buffer.size() > 32768) return std::string(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

std::string DirName(const std::string& path) {
    auto pos = path.find_last_of("\\/");
    if (pos == std::string::npos) return ".";
    if (pos == 0 || (pos == 2 && path[1] == ':')) return path.substr(0, pos + 1);
    return path.substr(0, pos);
}

std::string WithSeparator(std::string dir) {
    if (dir.empty() || (dir.back() != '\\' && dir.back() != '/')) dir += '\\';
    return dir;
}

uint64_t Ticks(const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr;
}

bool EnvIsOne(const char* name) {
    const char* value = std::getenv(name);
    return value && std::strcmp(value, "1") == 0;
}

bool WantMessageBox() {
    if (EnvSet("CZ_NO_MESSAGE_BOX")) return false;
    if (EnvIsOne("CZ_MESSAGE_BOX")) return true;
    HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE) return false;
    USEROBJECTFLAGS flags{};
    HWINSTA station = ::GetProcessWindowStation();
    if (!station || !::GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

uint32_t LastError() { return t_lastError; }

void SetLastError(uint32_t code) { Fail(code); }

std::string ErrorText(uint32_t code) {
    char* buffer = nullptr;
    DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (n == 0 || !buffer) {
        if (buffer) ::LocalFree(buffer);
        return Win32ErrorText(code);
    }
    std::string text(buffer, n);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string SystemErrorText(uint32_t code) { return ErrorText(code); }

// ---- File ----

File::~File() {
    if (handle_ != kNoHandle) ::CloseHandle(AsHandle(handle_));
}

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoHandle; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (handle_ != kNoHandle) ::CloseHandle(AsHandle(handle_));
        handle_ = other.handle_;
        other.handle_ = kNoHandle;
    }
    return *this;
}

std::optional<File> File::Open(const std::string& path, uint32_t flags, uint32_t* error) {
    DWORD access;
    switch (flags & 3u) {
        case 1: access = GENERIC_WRITE; break;
        case 2: access = GENERIC_READ | GENERIC_WRITE; break;
        default: access = GENERIC_READ; break;
    }
    DWORD share;
    switch (flags & 0x70u) {
        case open_flags::kShareDenyWrite: share = FILE_SHARE_READ; break;
        case open_flags::kShareDenyRead: share = FILE_SHARE_WRITE; break;
        case open_flags::kShareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
        default: share = 0; break;  // 0x10 and every other value: exclusive
    }
    DWORD disposition = OPEN_EXISTING;
    if (flags & open_flags::kCreate) {
        if (flags & open_flags::kCreateNew)
            disposition = CREATE_NEW;  // fails on any existing name, a link included
        else
            disposition = (flags & open_flags::kNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    }

    if (path.empty() || path.find('\0') != std::string::npos) {
        Fail(kErrorInvalidName);
        if (error) *error = t_lastError;
        return std::nullopt;
    }
    HANDLE h = ::CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        SetFromSystem();
        if (error) *error = t_lastError;
        return std::nullopt;
    }
    File file;
    file.handle_ = FromHandle(h);
    t_lastError = 0;
    if (error) *error = 0;
    return file;
}

bool File::IsOpen() const { return handle_ != kNoHandle; }

bool File::Read(void* buffer, size_t size, size_t* got) {
    if (got) *got = 0;
    if (handle_ == kNoHandle) {
        Fail(kErrorInvalidHandle);
        return false;
    }
    size_t total = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (total < size) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - total, 1u << 30));
        DWORD n = 0;
        if (!::ReadFile(AsHandle(handle_), out + total, chunk, &n, nullptr)) {
            SetFromSystem();
            if (got) *got = total;
            return false;
        }
        if (n == 0) break;
        total += n;
    }
    if (got) *got = total;
    return true;
}

bool File::Write(const void* buffer, size_t size) {
    if (handle_ == kNoHandle) {
        Fail(kErrorInvalidHandle);
        return false;
    }
    const auto* in = static_cast<const uint8_t*>(buffer);
    size_t total = 0;
    while (total < size) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - total, 1u << 30));
        DWORD n = 0;
        if (!::WriteFile(AsHandle(handle_), in + total, chunk, &n, nullptr)) {
            SetFromSystem();
            return false;
        }
        if (n == 0) {
            Fail(kErrorDiskFull);
            return false;
        }
        total += n;
    }
    return true;
}

bool File::Seek(int64_t offset, SeekOrigin origin, uint64_t* position) {
    if (handle_ == kNoHandle) {
        Fail(kErrorInvalidHandle);
        return false;
    }
    DWORD method = origin == SeekOrigin::kBegin ? FILE_BEGIN : origin == SeekOrigin::kCurrent ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER result;
    result.QuadPart = 0;
    if (!::SetFilePointerEx(AsHandle(handle_), distance, &result, method)) {
        SetFromSystem();
        return false;
    }
    if (position) *position = static_cast<uint64_t>(result.QuadPart);
    return true;
}

std::optional<uint64_t> File::Size() {
    if (handle_ == kNoHandle) {
        Fail(kErrorInvalidHandle);
        return std::nullopt;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(AsHandle(handle_), &size)) {
        SetFromSystem();
        return std::nullopt;
    }
    return static_cast<uint64_t>(size.QuadPart);
}

bool File::Flush() {
    if (handle_ == kNoHandle) {
        Fail(kErrorInvalidHandle);
        return false;
    }
    // Writes go straight to the system, as on POSIX; a handle opened for
    // reading only cannot be flushed, and that is not a failure.
    return true;
}

bool File::SetEnd() {
    if (handle_ == kNoHandle) {
        Fail(kErrorInvalidHandle);
        return false;
    }
    if (!::SetEndOfFile(AsHandle(handle_))) {
        SetFromSystem();
        return false;
    }
    return true;
}

bool File::Close() {
    if (handle_ == kNoHandle) return true;
    HANDLE h = AsHandle(handle_);
    handle_ = kNoHandle;
    if (!::CloseHandle(h)) {
        SetFromSystem();
        return false;
    }
    return true;
}

std::optional<File> File::Duplicate() const {
    if (handle_ == kNoHandle) {
        Fail(kErrorInvalidHandle);
        return std::nullopt;
    }
    HANDLE process = ::GetCurrentProcess();
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(process, AsHandle(handle_), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        SetFromSystem();
        return std::nullopt;
    }
    File file;
    file.handle_ = FromHandle(copy);
    return file;
}

bool File::CopyAccessFrom(const std::string&) {
    if (handle_ == kNoHandle) {
        Fail(kErrorInvalidHandle);
        return false;
    }
    return true;  // a new file takes the rights of its folder
}

// ---- paths and files ----

bool DeleteFile(const std::string& path) {
    if (!::DeleteFileA(path.c_str())) {
        SetFromSystem();
        return false;
    }
    return true;
}

bool FileExists(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FullPath(const std::string& path) {
    if (path.empty()) return path;
    DWORD need = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (need == 0) return path;
    std::vector<char> buffer(need + 1);
    DWORD n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0 || n >= buffer.size()) return path;
    return std::string(buffer.data(), n);
}

std::string DirectoryOf(const std::string& path) {
    auto pos = path.find_last_of("\\/");
    if (pos == std::string::npos) return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    return DirName(path);
}

PathKind GetPathKind(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kDirectory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::kOther;
    return PathKind::kFile;
}

namespace {

// Volume serial number and file index of an existing file or folder.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
    // No access rights are needed to read the identity; every sharing mode
    // is allowed so that an open file can be examined too.
    HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BOOL ok = ::GetFileInformationByHandle(h, info);
    ::CloseHandle(h);
    return ok != FALSE;
}

std::string Leaf(const std::string& path) {
    auto pos = path.find_last_of("\\/:");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    const bool haveA = FileIdentity(a, &ia);
    const bool haveB = FileIdentity(b, &ib);
    if (haveA && haveB)
        return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
               ia.nFileIndexLow == ib.nFileIndexLow;
    if (haveA || haveB) return false;
    if (::GetFileAttributesA(a.c_str()) != INVALID_FILE_ATTRIBUTES ||
        ::GetFileAttributesA(b.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;  // present but not to be examined (a dangling link): not a new name
    // Neither exists: the same name (without regard to case) in one folder.
    const std::string la = Leaf(a), lb = Leaf(b);
    if (la.empty() || la.size() != lb.size() ||
        ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, la.c_str(), static_cast<int>(la.size()), lb.c_str(),
                         static_cast<int>(lb.size())) != CSTR_EQUAL)
        return false;
    return SameFile(DirectoryOf(a), DirectoryOf(b));
}

bool RenameOver(const std::string& from, const std::string& to) {
    if (!::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        SetFromSystem();
        return false;
    }
    return true;
}

std::optional<std::string> CreateTempDirectory(const std::string& parent, const std::string& prefix) {
    std::string base = WithSeparator(parent.empty() ? TempDirectory() : parent);
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    LARGE_INTEGER counter{};
    for (int attempt = 0; attempt < 100; ++attempt) {
        ::QueryPerformanceCounter(&counter);
        uint64_t seed = static_cast<uint64_t>(counter.QuadPart) * 6364136223846793005ULL +
                        (static_cast<uint64_t>(::GetCurrentProcessId()) << 20) + static_cast<uint64_t>(attempt);
        std::string name = base + prefix;
        for (int i = 0; i < 8; ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            name += kDigits[(seed >> 33) % 36];
        }
        if (::CreateDirectoryA(name.c_str(), nullptr)) return name;
        DWORD code = ::GetLastError();
        if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) {
            Fail(static_cast<uint32_t>(code));
            return std::nullopt;
        }
    }
    Fail(kErrorAlreadyExists);
    return std::nullopt;
}

bool RemoveTree(const std::string& path) {
    if (path.empty()) return false;
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    // A link to a folder is removed as an entry; its target is left alone.
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAA entry{};
        HANDLE find = ::FindFirstFileA((WithSeparator(path) + "*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = entry.cFileName;
                if (name == "." || name == "..") continue;
                const std::string child = WithSeparator(path) + name;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(child);
                } else {
                    if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                        ::SetFileAttributesA(child.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
                    ::DeleteFileA(child.c_str());
                }
            } while (::FindNextFileA(find, &entry));
            ::FindClose(find);
        }
    }
    if (!::RemoveDirectoryA(path.c_str())) {
        SetFromSystem();
        return false;
    }
    return true;
}

bool GetFileTimes(const std::string& path, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        SetFromSystem();
        return false;
    }
    FILETIME c{}, a{}, w{};
    BOOL ok = ::GetFileTime(h, &c, &a, &w);
    if (!ok) SetFromSystem();
    ::CloseHandle(h);
    if (!ok) return false;
    if (creation) creation->ticks = Ticks(c);
    if (lastAccess) lastAccess->ticks = Ticks(a);
    if (lastWrite) lastWrite->ticks = Ticks(w);
    return true;
}

std::string TempDirectory() {
    char buffer[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathA(MAX_PATH, buffer);
    if (n == 0 || n > MAX_PATH) {
        SetFromSystem();
        return WithSeparator(FullPath("."));
    }
    return WithSeparator(std::string(buffer, n));
}

std::optional<std::string> CreateTempFile(const std::string& dir, const std::string& prefix) {
    std::string base = dir.empty() ? TempDirectory() : dir;
    char buffer[MAX_PATH + 1] = {};
    // Unique number 0: the system picks a free name and creates the file.
    if (::GetTempFileNameA(base.c_str(), prefix.c_str(), 0, buffer) == 0) {
        SetFromSystem();
        return std::nullopt;
    }
    return std::string(buffer);
}

char PathSeparator() { return '\\'; }

std::string ModuleDirectory(bool withSeparator) {
    std::string dir = DirName(ModuleFileName(ThisModule()));
    if (withSeparator) dir = WithSeparator(dir);
    return dir;
}

// Siblings sit beside the library, and beside the program for code linked
// into one: the Windows build puts every DLL and program in one folder.
// Siblings are loaded from the library's own folder only, never from the
// search path or the working folder.
std::string SiblingDirectory() { return ModuleDirectory(true); }

std::string LibraryFileName(const std::string& windowsName) { return windowsName; }

void SetModuleHandle(void* module) { g_module = static_cast<HMODULE>(module); }

// ---- libraries ----

namespace detail {

void* OpenLibraryFile(const std::string& path, uint32_t* code) {
    // No system error boxes for a missing or broken file: the caller reports.
    DWORD oldMode = 0;
    BOOL modeSet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    DWORD lastError = module ? 0 : ::GetLastError();
    if (modeSet) ::SetThreadErrorMode(oldMode, nullptr);
    if (!module) *code = lastError ? static_cast<uint32_t>(lastError) : kErrorModNotFound;
    return module;
}

void CloseLibraryFile(void* handle) { ::FreeLibrary(static_cast<HMODULE>(handle)); }

// A bare file name only: never a path, so nothing outside our folder and
// never the current directory.
bool IsBareFileName(const std::string& name) {
    return !name.empty() && name.find_first_of("\\/:") == std::string::npos;
}

bool ShowSystemMessageBox(const std::string& title, const std::string& text) {
    if (!WantMessageBox()) return false;
    ::MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK);
    return true;
}

}  // namespace detail

void* Library::Entry(const char* name, uint32_t* error) const {
    if (!handle_ || !name) {
        Fail(kErrorInvalidHandle);
        if (error) *error = t_lastError;
        return nullptr;
    }
    FARPROC proc = ::GetProcAddress(static_cast<HMODULE>(handle_), name);
    if (!proc) {
        DWORD code = ::GetLastError();
        Fail(code ? static_cast<uint32_t>(code) : kErrorProcNotFound);
        if (error) *error = t_lastError;
        return nullptr;
    }
    if (error) *error = 0;
    void* entry = nullptr;
    static_assert(sizeof entry == sizeof proc);
    std::memcpy(&entry, &proc, sizeof entry);
    return entry;
}

// ---- threads ----

namespace {
DWORD WINAPI ThreadMain(LPVOID parameter) {
    auto* body = static_cast<std::function<void()>*>(parameter);
    try {
        (*body)();
    } catch (...) {
        // A thread body must not end the process; the owner sees Join return.
    }
    return 0;
}
}  // namespace

struct Thread::Impl {
    HANDLE handle = nullptr;
    std::function<void()> body;
};

Thread::Thread() = default;
Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body) {
    Join();
    try {
        impl_ = std::make_unique<Impl>();
        impl_->body = std::move(body);
    } catch (...) {
        impl_.reset();
        return false;
    }
    impl_->handle = ::CreateThread(nullptr, 0, &ThreadMain, &impl_->body, 0, nullptr);
    if (!impl_->handle) {
        SetFromSystem();
        impl_.reset();
        return false;
    }
    return true;
}

void Thread::Join() {
    if (impl_ && impl_->handle) {
        ::WaitForSingleObject(impl_->handle, INFINITE);
        ::CloseHandle(impl_->handle);
    }
    impl_.reset();
}

bool Thread::Running() const { return impl_ && impl_->handle; }

void SleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace cz::platform
