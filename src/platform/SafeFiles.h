// Safe file creation shared by every writer and every conversion chain.
//
// - CreateUniqueFile: a new file under a unique name, created exclusively and
//   never through a link, returned open.
// - TempFolder: a private folder for the intermediate files of one
//   conversion, removed with everything in it when the object goes away.
// - AtomicOutput: a file the user named is written under a temporary name in
//   its own folder and renamed over the name only when everything was
//   written. A failed or abandoned write leaves the name as it was (an
//   existing file stays untouched, a new name stays absent) and removes the
//   temporary file. A link at the name is replaced, never written through.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"

namespace cz::platform {

// Who is told of the temporary paths this process holds: the private folders
// of TempFolder, the temporary files of AtomicOutput and other scratch files
// noted with NoteTempPath. A program that removes them when it is stopped (the
// tool does so on an interrupt) installs one; by default there is none, and
// the library itself never touches the process's signal handling.
// created: the path now exists (folder: a private folder, removed with its
// contents). released: it was removed, or put in place under its final name,
// so it must no longer be removed. creating and creatingEnded (optional)
// enclose each creation and its created call, in the creating thread: the
// watcher can hold its own clean-up off in between, so that no temporary path
// ever exists without its knowing. All may be called from several threads.
struct TempPathWatcher {
    void (*created)(const char* path, bool folder);
    void (*released)(const char* path);
    void (*creating)();
    void (*creatingEnded)();
};
// Installs the watcher (nullptr: none); it must outlive every call.
void SetTempPathWatcher(const TempPathWatcher* watcher);
// A scratch file: CreateUniqueFile, with the watcher told of it. The caller
// removes it and then calls NoteTempPathReleased.
std::optional<File> CreateTempFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                                   std::string* path, uint32_t access = open_flags::kReadWrite);
void NoteTempPathReleased(const std::string& path);

// Creates dir + prefix + random characters + suffix exclusively (never an
// existing name, never through a link) and returns it open with the access
// of flags (open_flags::kWrite or kReadWrite). *path receives the name.
std::optional<File> CreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                                     std::string* path, uint32_t access = open_flags::kReadWrite);

class TempFolder {
public:
    // A new private folder in the system temporary folder (TempDirectory()).
    static std::optional<TempFolder> Create(const std::string& prefix = "cz");
    ~TempFolder();
    TempFolder(TempFolder&& other) noexcept;
    TempFolder& operator=(TempFolder&& other) noexcept;
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, without a trailing separator.
    const std::string& Path() const { return path_; }
    // The path of an entry of the folder.
    std::string File(const std::string& name) const;
    // Removes the folder and its contents now; true when nothing is left.
    bool Remove();

private:
    TempFolder() = default;
    std::string path_;
};

class AtomicOutput {
public:
    // Opens a new temporary file (read-write) beside target. Fails when
    // target names a folder or anything but a plain file, or when its folder
    // cannot take a new file; *error receives the Win32 error code.
    static std::optional<AtomicOutput> Begin(const std::string& target, uint32_t* error = nullptr);
    ~AtomicOutput();
    AtomicOutput(AtomicOutput&& other) noexcept;
    AtomicOutput& operator=(AtomicOutput&& other) noexcept;
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    // The temporary file to write.
    File& Out() { return file_; }
    const std::string& Target() const { return target_; }
    const std::string& TemporaryPath() const { return temp_; }
    // Closes the temporary file and puts it in place under the target name.
    // On any failure the temporary file is removed, the target is left as it
    // was and false is returned (LastError tells why).
    bool Commit();
    // Drops the temporary file; the target is left as it was.
    void Abandon();

private:
    AtomicOutput() = default;
    File file_;
    std::string target_;
    std::string temp_;
};

}  // namespace cz::platform
