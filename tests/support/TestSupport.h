// Shared helpers for the tests: scratch folders, small file I/O, tool lookup.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace cz::test {

// Catches what the library shows through the platform message sink while it
// lives, instead of printing it.
class MessageCapture {
public:
    MessageCapture() {
        platform::SetMessageSink([this](const std::string& title, const std::string& text) {
            titles.push_back(title);
            texts.push_back(text);
        });
    }
    ~MessageCapture() { platform::ResetMessageSink(); }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;
    // True when some message text contains `part`.
    bool Saw(const std::string& part) const {
        for (const std::string& text : texts)
            if (text.find(part) != std::string::npos) return true;
        return false;
    }
    std::vector<std::string> titles, texts;
};

// A fresh folder below the system temporary directory, removed with its
// contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points TMPDIR (where the platform layer and the system put temporary
// files) at a new folder of its own while it lives; then restores the
// previous value and removes the folder with its contents. The test main
// gives every test one, so that nothing outside a test can add to or take
// from the temporary files it sees; a fixture that counts temporary files
// makes its own to know the folder.
class PrivateTmpDir {
public:
    PrivateTmpDir();
    ~PrivateTmpDir();
    PrivateTmpDir(const PrivateTmpDir&) = delete;
    PrivateTmpDir& operator=(const PrivateTmpDir&) = delete;
    const std::string& Path() const { return dir_.Path(); }
    std::string File(const std::string& name) const { return dir_.File(name); }

private:
    TempDir dir_;
    bool hadOld_ = false;
    std::string old_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command);
// Files and folders directly in a folder.
size_t CountEntries(const std::string& folder);
// What `soxi OPTION path` prints, without its line end ("" when it fails);
// `scratch` holds its output file.
std::string Soxi(const std::string& option, const std::string& path, const TempDir& scratch);
// True when an external program is on PATH.
bool HaveTool(const std::string& name);
// Folder of the real files in shared/testdata: files of other projects kept
// beside the repository, not in it, so a clone alone has none of them.
std::string TestDataDir();
// The start of the reason a test gives when it skips for want of them
// (scripts/test.sh counts these).
inline constexpr const char* kNoTestData = "real test file absent (shared/testdata is kept outside the repository): ";
std::string SourceDir();
std::string BinDir();
std::string LibDir();

}  // namespace cz::test

// Skips the running test, saying which file is missing, when a real file of
// shared/testdata is absent. Use at the top of the test (it returns from it).
#define CZ_SKIP_WITHOUT_TESTDATA(path)                                                         \
    do {                                                                                       \
        const std::string cz_real_file_ = (path);                                              \
        if (!cz::test::FileExists(cz_real_file_)) GTEST_SKIP() << cz::test::kNoTestData << cz_real_file_; \
    } while (0)
