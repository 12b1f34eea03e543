// Operating-system services behind one header. The POSIX implementation is in
// posix/, the Win32 one in win32/; the build picks one.
//
// Error codes everywhere are Win32 error codes: on POSIX the errno values are
// mapped onto the matching Win32 codes so that callers see one set of causes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace cz::platform {

// Win32 error codes the library relies on by name.
enum Win32Error : uint32_t {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorTooManyOpenFiles = 4,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorWriteProtect = 19,
    kErrorSeek = 25,
    kErrorWriteFault = 29,
    kErrorReadFault = 30,
    kErrorSharingViolation = 32,
    kErrorHandleEof = 38,
    kErrorHandleDiskFull = 39,
    kErrorNotSupported = 50,
    kErrorFileExists = 80,
    kErrorInvalidParameter = 87,
    kErrorDiskFull = 112,
    kErrorInvalidName = 123,
    kErrorModNotFound = 126,
    kErrorProcNotFound = 127,
    kErrorNegativeSeek = 131,
    kErrorDirNotEmpty = 145,
    kErrorAlreadyExists = 183,
    kErrorFileTooLarge = 223,
    kErrorBadExeFormat = 193,
    kErrorFilenameExcedRange = 206,
    kErrorDirectory = 267,
};

uint32_t LastError();
void SetLastError(uint32_t code);
// The system's text for an error code, without a trailing line break.
std::string ErrorText(uint32_t code);
// The same condition in the words of the platform a person uses: the C
// library's text of the matching errno on POSIX ("No such file or
// directory"), the system's message text on Windows.
std::string SystemErrorText(uint32_t code);

// Open flags of the file class: access in bits 0-1, sharing in bits 4-6,
// 0x1000 create, 0x2000 with create: keep an existing file, 0x4000 with
// create: a new file only.
namespace open_flags {
constexpr uint32_t kRead = 0x0000;
constexpr uint32_t kWrite = 0x0001;
constexpr uint32_t kReadWrite = 0x0002;
constexpr uint32_t kShareExclusive = 0x0010;
constexpr uint32_t kShareDenyWrite = 0x0020;
constexpr uint32_t kShareDenyRead = 0x0030;
constexpr uint32_t kShareDenyNone = 0x0040;
constexpr uint32_t kCreate = 0x1000;
constexpr uint32_t kNoTruncate = 0x2000;
// With kCreate: create the file only when nothing of that name exists; an
// existing file, folder or link (even one pointing nowhere) is an error
// (kErrorFileExists) and a link is never followed.
constexpr uint32_t kCreateNew = 0x4000;
}  // namespace open_flags

enum class SeekOrigin { kBegin = 0, kCurrent = 1, kEnd = 2 };

// An open file. Every operation reports failure (with LastError set); a write
// either writes everything or fails.
class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens with the flags above. On failure returns an empty optional and
    // stores the Win32 error code in *error when given.
    static std::optional<File> Open(const std::string& path, uint32_t flags, uint32_t* error = nullptr);

    bool IsOpen() const;
    // Reads up to size bytes; *got receives the count (0 at end of file).
    bool Read(void* buffer, size_t size, size_t* got);
    // Reads exactly size bytes or fails.
    bool ReadExact(void* buffer, size_t size);
    bool Write(const void* buffer, size_t size);
    bool Seek(int64_t offset, SeekOrigin origin, uint64_t* position = nullptr);
    std::optional<uint64_t> Position();
    std::optional<uint64_t> Size();
    bool Flush();
    bool SetEnd();
    // Closes and reports whether everything written reached the file.
    bool Close();
    // A second handle on the same open file.
    std::optional<File> Duplicate() const;
    // Gives this file the access rights of the file at path (POSIX mode
    // bits); true when there is nothing to copy (no such file, or Windows,
    // where a new file takes the rights of its folder).
    bool CopyAccessFrom(const std::string& path);

private:
    intptr_t handle_ = -1;
};

bool DeleteFile(const std::string& path);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// The full form of a path; the path itself when that cannot be found.
std::string FullPath(const std::string& path);
// The folder part of a path ("." for a bare name), without a separator.
std::string DirectoryOf(const std::string& path);

// What a path names, links followed.
enum class PathKind { kMissing, kFile, kDirectory, kOther };
PathKind GetPathKind(const std::string& path);
// True when a and b name one file: either both reach the same existing file
// (device and inode on POSIX, volume serial and file index on Windows; links
// and other spellings of the path followed), or neither exists yet and both
// name the same entry of the same folder. False when the files differ or
// cannot be examined.
bool SameFile(const std::string& a, const std::string& b);
// Renames from to to, replacing an existing file at to in one step (a link
// at to is replaced, not followed). Both must be on the same volume.
bool RenameOver(const std::string& from, const std::string& to);
// Creates a new folder with a unique name (prefix + random characters) in
// parent, readable by its owner only where the system allows. Returns its
// path without a trailing separator.
std::optional<std::string> CreateTempDirectory(const std::string& parent, const std::string& prefix);
// Removes a folder with everything in it. Links inside are removed, never
// followed. False when something could not be removed.
bool RemoveTree(const std::string& path);

// 100-ns intervals since 1601-01-01, as Windows file times count.
struct FileTime {
    uint64_t ticks = 0;
};
bool GetFileTimes(const std::string& path, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite);
// -1 when the file cannot be opened.
int64_t GetFileLength(const std::string& path);

// The system temporary folder, with a trailing separator.
std::string TempDirectory();
// Creates a new empty file with a unique, unpredictable name in dir (which
// ends in a separator or not) and returns its path: the placeholder of the
// temporary-name service. Intermediate files of a conversion belong in a
// TempFolder, files to write now come from CreateUniqueFile, and files the
// user names are written through AtomicOutput (platform/SafeFiles.h).
std::optional<std::string> CreateTempFile(const std::string& dir, const std::string& prefix);

char PathSeparator();

// The folder of the file holding this code (the shared library, or the
// program when the code is linked into one), without or with a separator.
std::string ModuleDirectory(bool withSeparator);
// Where sibling libraries are looked up: the library's own folder, or for
// code linked into a program in bin/, the lib/ folder beside bin/.
std::string SiblingDirectory();
// The platform's file name for a library known by its Windows name
// ("Ombry.dll" gives "libOmbry.so" on Linux).
std::string LibraryFileName(const std::string& windowsName);
// Stores the module handle of the shared library (Windows entry point).
void SetModuleHandle(void* module);

// A loaded dynamic library, freed when the object goes away.
class Library {
public:
    Library() = default;
    ~Library();
    Library(Library&& other) noexcept;
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Loads the library by its Windows name from SiblingDirectory() only.
    static std::optional<Library> LoadSibling(const std::string& windowsName, uint32_t* error = nullptr);
    // Loads a library by full path.
    static std::optional<Library> LoadPath(const std::string& path, uint32_t* error = nullptr);

    bool IsLoaded() const { return handle_ != nullptr; }
    void* Entry(const char* name, uint32_t* error = nullptr) const;
    const std::string& FilePath() const { return path_; }
    void Free();

private:
    void* handle_ = nullptr;
    std::string path_;
};

// Stand-in for message boxes: every message the system is specified to show
// goes here. The default writes one line "title: text" to standard error.
using MessageSink = std::function<void(const std::string& title, const std::string& text)>;
void SetMessageSink(MessageSink sink);
void ResetMessageSink();
void ShowMessage(const std::string& title, const std::string& text);

// A thread running one function; joined by Join or by the destructor.
class Thread {
public:
    Thread();
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    bool Start(std::function<void()> body);
    void Join();
    bool Running() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

void SleepMs(uint32_t milliseconds);

}  // namespace cz::platform
