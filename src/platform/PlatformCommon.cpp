// The parts of the platform layer that are the same on every system.
#include <cstdio>
#include <mutex>

#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace cz::platform {

namespace {
std::mutex& SinkMutex() {
    static std::mutex m;
    return m;
}
MessageSink& Sink() {
    static MessageSink sink;
    return sink;
}
}  // namespace

bool File::ReadExact(void* buffer, size_t size) {
    size_t got = 0;
    if (!Read(buffer, size, &got)) return false;
    if (got != size) {
        SetLastError(kErrorHandleEof);
        return false;
    }
    return true;
}

std::optional<uint64_t> File::Position() {
    uint64_t pos = 0;
    if (!Seek(0, SeekOrigin::kCurrent, &pos)) return std::nullopt;
    return pos;
}

int64_t GetFileLength(const std::string& path) {
    auto file = File::Open(path, open_flags::kRead | open_flags::kShareDenyWrite);
    if (!file) return -1;
    auto size = file->Size();
    return size ? static_cast<int64_t>(*size) : -1;
}

Library::~Library() { Free(); }

Library::Library(Library&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
    other.handle_ = nullptr;
}

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        Free();
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = nullptr;
    }
    return *this;
}

std::optional<Library> Library::LoadPath(const std::string& path, uint32_t* error) {
    uint32_t code = 0;
    void* handle = detail::OpenLibraryFile(path, &code);
    if (!handle) {
        SetLastError(code);
        if (error) *error = code;
        return std::nullopt;
    }
    Library lib;
    lib.handle_ = handle;
    lib.path_ = path;
    if (error) *error = 0;
    return lib;
}

std::optional<Library> Library::LoadSibling(const std::string& windowsName, uint32_t* error) {
    if (!detail::IsBareFileName(windowsName)) {
        SetLastError(kErrorModNotFound);
        if (error) *error = kErrorModNotFound;
        return std::nullopt;
    }
    return LoadPath(SiblingDirectory() + LibraryFileName(windowsName), error);
}

void Library::Free() {
    if (handle_) detail::CloseLibraryFile(handle_);
    handle_ = nullptr;
}

void ShowMessage(const std::string& title, const std::string& text) {
    if (MessageSink sink = detail::CurrentMessageSink()) {
        sink(title, text);
        return;
    }
    if (detail::ShowSystemMessageBox(title, text)) return;
    detail::WriteMessageLine(title, text);
}

void SetMessageSink(MessageSink sink) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    Sink() = std::move(sink);
}

void ResetMessageSink() { SetMessageSink(nullptr); }

namespace detail {

MessageSink CurrentMessageSink() {
    std::lock_guard<std::mutex> lock(SinkMutex());
    return Sink();
}

void WriteMessageLine(const std::string& title, const std::string& text) {
    std::string line = text;
    for (auto& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    std::fprintf(stderr, "%s: %s\n", title.c_str(), line.c_str());
    std::fflush(stderr);
}

}  // namespace detail

}  // namespace cz::platform
