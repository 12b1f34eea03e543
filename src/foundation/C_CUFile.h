// The file class: an open file with exceptions for failures. Open is the
// exception to the rule: it reports failure by its result, and only raises
// when the caller hands it an exception record to fill.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/C_CUString.h"
#include "platform/Platform.h"

namespace cz {

class C_CUException {
public:
    explicit C_CUException(uint32_t cause = 0) : cause_(cause) {}
    virtual ~C_CUException() = default;
    uint32_t GetCause() const { return cause_; }

protected:
    uint32_t cause_;
};

class C_CUFileException : public C_CUException {
public:
    enum Cause : uint32_t {
        kNone = 0,
        kGeneric = 1,
        kFileNotFound = 2,
        kBadPath = 3,
        kTooManyOpenFiles = 4,
        kAccessDenied = 5,
        kInvalidFile = 6,
        kRemoveCurrentDir = 7,
        kDirectoryFull = 8,
        kBadSeek = 9,
        kHardIO = 10,
        kSharingViolation = 11,
        kLockViolation = 12,
        kDiskFull = 13,
        kEndOfFile = 14,
    };

    C_CUFileException() = default;
    C_CUFileException(uint32_t cause, uint32_t win32Error, const std::string& fileName)
        : C_CUException(cause), win32Error_(win32Error), fileName_(fileName) {}

    uint32_t GetWin32Error() const { return win32Error_; }
    const C_CUString& GetFileName() const { return fileName_; }
    void Set(uint32_t cause, uint32_t win32Error, const std::string& fileName) {
        cause_ = cause;
        win32Error_ = win32Error;
        fileName_ = fileName;
    }

    // The cause code for a Win32 error code.
    static uint32_t CauseFromWin32(uint32_t win32Error);
    // Raises an exception for the given error.
    [[noreturn]] static void Throw(uint32_t win32Error, const std::string& fileName);

private:
    uint32_t win32Error_ = 0;
    uint32_t reserved_ = 0;
    C_CUString fileName_;
};

class C_CUFile {
public:
    // Open flags (see platform::open_flags).
    static constexpr uint32_t kRead = platform::open_flags::kRead;
    static constexpr uint32_t kWrite = platform::open_flags::kWrite;
    static constexpr uint32_t kReadWrite = platform::open_flags::kReadWrite;
    static constexpr uint32_t kShareExclusive = platform::open_flags::kShareExclusive;
    static constexpr uint32_t kShareDenyWrite = platform::open_flags::kShareDenyWrite;
    static constexpr uint32_t kShareDenyRead = platform::open_flags::kShareDenyRead;
    static constexpr uint32_t kShareDenyNone = platform::open_flags::kShareDenyNone;
    static constexpr uint32_t kCreate = platform::open_flags::kCreate;
    static constexpr uint32_t kNoTruncate = platform::open_flags::kNoTruncate;

    C_CUFile() = default;
    virtual ~C_CUFile();
    C_CUFile(const C_CUFile&) = delete;
    C_CUFile& operator=(const C_CUFile&) = delete;

    virtual uint64_t GetPosition();
    virtual C_CUString GetFileName() const;
    virtual C_CUString GetFilePath() const;
    virtual void SetFilePath(const char* path);
    // 1 on success. On failure: 0, or with a record, fills it and raises a copy.
    virtual int32_t Open(const char* path, uint32_t flags, C_CUFileException* error = nullptr);
    virtual std::unique_ptr<C_CUFile> Duplicate() const;
    // origin: 0 begin, 1 current, 2 end. Returns the new position.
    virtual uint64_t Seek(int64_t offset, uint32_t origin);
    virtual uint32_t Read(void* buffer, uint32_t count);
    virtual void Write(const void* buffer, uint32_t count);
    virtual uint64_t GetLength();
    virtual void SetLength(uint64_t length);
    virtual void Flush();
    virtual void Close();
    // Closes without raising; for clean-up paths.
    virtual void Abort();

    bool IsOpen() const { return file_.IsOpen(); }

private:
    void Fail() const;

    platform::File file_;
    uint32_t closeOnDestroy_ = 1;
    C_CUString path_;
};

}  // namespace cz
