#include "foundation/C_CUFile.h"

#include <array>

namespace cz {

namespace {
struct CauseRow {
    uint32_t cause;
    std::array<uint16_t, 20> errors;  // 0-terminated
};

// Win32 error codes by the cause the file exception reports.
constexpr std::array<CauseRow, 13> kCauses{{
    {C_CUFileException::kFileNotFound, {2, 6, 18, 107}},
    {C_CUFileException::kBadPath,
     {3, 15, 17, 34, 52, 53, 55, 67, 70, 85, 111, 123, 124, 125, 144, 154, 161, 206, 208, 267}},
    {C_CUFileException::kTooManyOpenFiles, {4, 36, 68, 113}},
    {C_CUFileException::kAccessDenied, {5, 12, 19, 29, 54, 58, 64, 65, 71, 80, 82, 86, 170, 183, 999}},
    {C_CUFileException::kInvalidFile, {11, 26, 60, 66, 114, 182, 191, 193}},
    {C_CUFileException::kRemoveCurrentDir, {16, 145}},
    {C_CUFileException::kDirectoryFull, {62}},
    {C_CUFileException::kBadSeek, {24, 25, 27, 30, 131, 132}},
    {C_CUFileException::kHardIO, {20, 21, 22, 23, 57, 59, 88, 117, 995, 996, 997}},
    {C_CUFileException::kSharingViolation, {32}},
    {C_CUFileException::kLockViolation, {33, 108, 167}},
    {C_CUFileException::kDiskFull, {39, 112}},
    {C_CUFileException::kEndOfFile, {38}},
}};
}  // namespace

uint32_t C_CUFileException::CauseFromWin32(uint32_t win32Error) {
    if (win32Error == 0) return kNone;
    for (const auto& row : kCauses)
        for (uint16_t e : row.errors) {
            if (e == 0) break;
            if (e == win32Error) return row.cause;
        }
    return kGeneric;
}

void C_CUFileException::Throw(uint32_t win32Error, const std::string& fileName) {
    throw C_CUFileException(CauseFromWin32(win32Error), win32Error, fileName);
}

C_CUFile::~C_CUFile() {
    if (closeOnDestroy_) file_.Close();
}

void C_CUFile::Fail() const { C_CUFileException::Throw(platform::LastError(), path_); }

uint64_t C_CUFile::GetPosition() {
    auto pos = file_.Position();
    if (!pos) Fail();
    return *pos;
}

C_CUString C_CUFile::GetFileName() const {
    auto pos = path_.find_last_of("\\/:");
    return pos == std::string::npos ? path_ : C_CUString(path_.substr(pos + 1));
}

C_CUString C_CUFile::GetFilePath() const { return C_CUString(platform::FullPath(path_)); }

void C_CUFile::SetFilePath(const char* path) { path_ = path ? path : ""; }

int32_t C_CUFile::Open(const char* path, uint32_t flags, C_CUFileException* error) {
    file_.Close();
    path_ = path ? path : "";
    uint32_t code = 0;
    auto opened = platform::File::Open(path_, flags, &code);
    if (!opened) {
        if (error) {
            error->Set(C_CUFileException::CauseFromWin32(code), code, path_);
            throw C_CUFileException(*error);
        }
        return 0;
    }
    file_ = std::move(*opened);
    return 1;
}

std::unique_ptr<C_CUFile> C_CUFile::Duplicate() const {
    auto copy = file_.Duplicate();
    if (!copy) Fail();
    auto out = std::make_unique<C_CUFile>();
    out->file_ = std::move(*copy);
    out->path_ = path_;
    return out;
}

uint64_t C_CUFile::Seek(int64_t offset, uint32_t origin) {
    uint64_t pos = 0;
    auto o = origin == 1   ? platform::SeekOrigin::kCurrent
             : origin == 2 ? platform::SeekOrigin::kEnd
                           : platform::SeekOrigin::kBegin;
    if (!file_.Seek(offset, o, &pos)) Fail();
    return pos;
}

uint32_t C_CUFile::Read(void* buffer, uint32_t count) {
    size_t got = 0;
    if (!file_.Read(buffer, count, &got)) Fail();
    return static_cast<uint32_t>(got);
}

void C_CUFile::Write(const void* buffer, uint32_t count) {
    if (!file_.Write(buffer, count)) Fail();
}

uint64_t C_CUFile::GetLength() {
    auto size = file_.Size();
    if (!size) Fail();
    return *size;
}

void C_CUFile::SetLength(uint64_t length) {
    auto pos = file_.Position();
    if (!pos || !file_.Seek(static_cast<int64_t>(length), platform::SeekOrigin::kBegin) || !file_.SetEnd()) Fail();
    file_.Seek(static_cast<int64_t>(*pos < length ? *pos : length), platform::SeekOrigin::kBegin);
}

void C_CUFile::Flush() {
    if (!file_.Flush()) Fail();
}

void C_CUFile::Close() {
    if (!file_.Close()) Fail();
}

void C_CUFile::Abort() { file_.Close(); }

}  // namespace cz
