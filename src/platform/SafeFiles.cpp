// Safe file creation on top of the platform primitives; the same on every
// system.
#include "platform/SafeFiles.h"

#include <atomic>
#include <chrono>
#include <random>

namespace cz::platform {

namespace {

// Random characters for unique names. Exclusive creation makes a clash
// harmless (the next name is tried); randomness only keeps names from being
// guessed ahead.
std::string RandomPart(size_t length) {
    static std::atomic<uint64_t> counter{0};
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
    try {
        std::random_device device;
        seed ^= (static_cast<uint64_t>(device()) << 32) | device();
    } catch (...) {
        // No system source of randomness: the clock and the counter remain.
    }
    std::mt19937_64 generator(seed);
    std::string out;
    for (size_t i = 0; i < length; ++i) out += kDigits[generator() % 36];
    return out;
}

std::string WithSeparator(const std::string& dir) {
    if (dir.empty()) return dir;
    char last = dir.back();
    if (last == '/' || last == PathSeparator() || (PathSeparator() == '\\' && last == ':')) return dir;
    return dir + PathSeparator();
}

std::atomic<const TempPathWatcher*> g_watcher{nullptr};

}  // namespace

void SetTempPathWatcher(const TempPathWatcher* watcher) { g_watcher.store(watcher); }

namespace {

void NoteTempPath(const std::string& path, bool folder) {
    const TempPathWatcher* watcher = g_watcher.load();
    if (watcher && watcher->created && !path.empty()) watcher->created(path.c_str(), folder);
}

// Encloses one creation and its note (TempPathWatcher::creating).
class CreationScope {
public:
    CreationScope() : watcher_(g_watcher.load()) {
        if (watcher_ && watcher_->creating) watcher_->creating();
    }
    ~CreationScope() {
        if (watcher_ && watcher_->creatingEnded) watcher_->creatingEnded();
    }
    CreationScope(const CreationScope&) = delete;
    CreationScope& operator=(const CreationScope&) = delete;

private:
    const TempPathWatcher* watcher_;
};

}  // namespace

std::optional<File> CreateTempFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                                   std::string* path, uint32_t access) {
    CreationScope scope;
    std::string name;
    auto file = CreateUniqueFile(dir, prefix, suffix, &name, access);
    if (!file) return std::nullopt;
    NoteTempPath(name, false);
    if (path) *path = name;
    return file;
}

void NoteTempPathReleased(const std::string& path) {
    const TempPathWatcher* watcher = g_watcher.load();
    if (watcher && watcher->released && !path.empty()) watcher->released(path.c_str());
}

std::optional<File> CreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                                     std::string* path, uint32_t access) {
    const std::string base = WithSeparator(dir.empty() ? TempDirectory() : dir);
    const uint32_t flags = (access & 3u) | open_flags::kCreate | open_flags::kCreateNew | open_flags::kShareExclusive;
    uint32_t error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = base + prefix + RandomPart(10) + suffix;
        auto file = File::Open(name, flags, &error);
        if (file) {
            if (path) *path = name;
            return file;
        }
        if (error != kErrorFileExists && error != kErrorAlreadyExists) return std::nullopt;
    }
    SetLastError(kErrorFileExists);
    return std::nullopt;
}

// ---- TempFolder ----

std::optional<TempFolder> TempFolder::Create(const std::string& prefix) {
    CreationScope scope;
    auto path = CreateTempDirectory(TempDirectory(), prefix);
    if (!path) return std::nullopt;
    TempFolder folder;
    folder.path_ = *path;
    NoteTempPath(folder.path_, true);
    return folder;
}

TempFolder::~TempFolder() { Remove(); }

TempFolder::TempFolder(TempFolder&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }

TempFolder& TempFolder::operator=(TempFolder&& other) noexcept {
    if (this != &other) {
        Remove();
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

std::string TempFolder::File(const std::string& name) const { return WithSeparator(path_) + name; }

bool TempFolder::Remove() {
    if (path_.empty()) return true;
    bool ok = RemoveTree(path_);
    NoteTempPathReleased(path_);
    path_.clear();
    return ok;
}

// ---- AtomicOutput ----

std::optional<AtomicOutput> AtomicOutput::Begin(const std::string& target, uint32_t* error) {
    auto fail = [&](uint32_t code) -> std::optional<AtomicOutput> {
        SetLastError(code);
        if (error) *error = code;
        return std::nullopt;
    };
    if (target.empty()) return fail(kErrorInvalidName);
    switch (GetPathKind(target)) {
        case PathKind::kMissing:
        case PathKind::kFile: break;
        case PathKind::kDirectory: return fail(kErrorAccessDenied);
        case PathKind::kOther: return fail(kErrorAccessDenied);  // a device or pipe: nothing to replace safely
    }
    AtomicOutput out;
    // A short name, so that a long target name still leaves room for it.
    CreationScope scope;
    auto file = CreateUniqueFile(DirectoryOf(target), ".cz", ".tmp", &out.temp_, open_flags::kReadWrite);
    if (!file) {
        uint32_t code = LastError();
        // A folder that does not exist is a missing path, as for a plain create.
        if (code == kErrorFileNotFound) code = kErrorPathNotFound;
        return fail(code);
    }
    NoteTempPath(out.temp_, false);
    out.file_ = std::move(*file);
    out.target_ = target;
    // A replaced file keeps its access rights.
    out.file_.CopyAccessFrom(target);
    if (error) *error = 0;
    return out;
}

AtomicOutput::~AtomicOutput() { Abandon(); }

AtomicOutput::AtomicOutput(AtomicOutput&& other) noexcept
    : file_(std::move(other.file_)), target_(std::move(other.target_)), temp_(std::move(other.temp_)) {
    other.temp_.clear();
    other.target_.clear();
}

AtomicOutput& AtomicOutput::operator=(AtomicOutput&& other) noexcept {
    if (this != &other) {
        Abandon();
        file_ = std::move(other.file_);
        target_ = std::move(other.target_);
        temp_ = std::move(other.temp_);
        other.temp_.clear();
        other.target_.clear();
    }
    return *this;
}

bool AtomicOutput::Commit() {
    if (temp_.empty()) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    bool ok = file_.Close();
    uint32_t error = ok ? 0 : LastError();
    if (ok && !RenameOver(temp_, target_)) {
        ok = false;
        error = LastError();
    }
    if (!ok) DeleteFile(temp_);
    NoteTempPathReleased(temp_);
    if (!ok) SetLastError(error);
    temp_.clear();
    return ok;
}

void AtomicOutput::Abandon() {
    if (temp_.empty()) return;
    uint32_t error = LastError();
    file_.Close();
    DeleteFile(temp_);
    NoteTempPathReleased(temp_);
    temp_.clear();
    SetLastError(error);  // the cause of the failure, not of the clean-up
}

}  // namespace cz::platform
