// Checks of the Win32 platform layer that the export table cannot see:
// sharing and creation flags, temporary names, the program's own folder,
// sibling loading refusing paths, error texts, file times and full paths,
// the same-file query, exclusive creation, private temporary folders and
// outputs put in place by rename.
// Runs under Wine; prints "N passed, N failed".
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef DeleteFile

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/Platform.h"
#include "platform/SafeFiles.h"

namespace p = cz::platform;
namespace f = cz::platform::open_flags;

namespace {
int g_passed = 0, g_failed = 0;

void Check(bool ok, const char* what, const std::string& detail = std::string()) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAIL %s %s\n", what, detail.c_str());
    }
}

std::string ReadAll(const std::string& path) {
    auto file = p::File::Open(path, f::kRead | f::kShareDenyNone);
    if (!file) return "<unopenable>";
    std::string text(static_cast<size_t>(file->Size().value_or(0)), '\0');
    if (!text.empty() && !file->ReadExact(text.data(), text.size())) return "<unreadable>";
    return text;
}

bool WriteText(const std::string& path, uint32_t flags, const std::string& text) {
    auto file = p::File::Open(path, flags);
    return file && file->Write(text.data(), text.size()) && file->Close();
}
}  // namespace

int main() {
    std::string dir = p::TempDirectory();
    Check(!dir.empty() && dir.back() == '\\', "temp directory ends in a separator", dir);

    // Temporary names: created empty, distinct, in the folder asked for.
    auto t1 = p::CreateTempFile(dir, "cz");
    auto t2 = p::CreateTempFile("", "cz");
    Check(t1 && t2 && *t1 != *t2, "two temporary names differ");
    Check(t1 && p::FileExists(*t1) && p::GetFileLength(*t1) == 0, "temporary file exists and is empty");
    Check(t1 && t1->rfind(dir, 0) == 0, "temporary file in the given folder", t1.value_or(""));
    std::string path = t1.value_or(dir + "czcheck.tmp");

    // Creation: 0x1000 alone truncates, 0x1000|0x2000 keeps, no 0x1000 needs the file.
    Check(WriteText(path, f::kWrite | f::kCreate, "abcdef"), "create always");
    Check(WriteText(path, f::kWrite | f::kCreate | f::kNoTruncate, "XY"), "open or create");
    Check(ReadAll(path) == "XYcdef", "open-or-create keeps the rest", ReadAll(path));
    Check(WriteText(path, f::kWrite | f::kCreate, "Q"), "create always again");
    Check(ReadAll(path) == "Q", "create always truncates", ReadAll(path));
    uint32_t error = 0;
    Check(!p::File::Open(dir + "cz-no-such-file.bin", f::kRead, &error) && error == p::kErrorFileNotFound,
          "open existing of a missing file fails with 2", std::to_string(error));
    Check(
        !p::File::Open(dir + "cz-no-such-dir\\x.bin", f::kWrite | f::kCreate, &error) && error == p::kErrorPathNotFound,
        "create in a missing folder fails with 3", std::to_string(error));

    // Sharing: bits 4-6 of the flags.
    struct Share {
        uint32_t first, second;
        bool secondOpens;
        const char* what;
    };
    const Share shares[] = {
        {f::kRead | f::kShareExclusive, f::kRead | f::kShareDenyNone, false, "exclusive refuses readers"},
        {f::kRead | f::kShareDenyWrite, f::kRead | f::kShareDenyWrite, true, "deny-write admits readers"},
        {f::kRead | f::kShareDenyWrite, f::kWrite | f::kShareDenyNone, false, "deny-write refuses writers"},
        {f::kWrite | f::kShareDenyRead, f::kRead | f::kShareDenyNone, false, "deny-read refuses readers"},
        {f::kRead | f::kShareDenyNone, f::kReadWrite | f::kShareDenyNone, true, "deny-none admits writers"},
        {f::kRead, f::kRead | f::kShareDenyNone, false, "no sharing bits is exclusive"},
        {f::kRead | 0x50, f::kRead | f::kShareDenyNone, false, "unknown sharing value is exclusive"},
    };
    for (const auto& s : shares) {
        auto a = p::File::Open(path, s.first);
        uint32_t err = 0;
        auto b = p::File::Open(path, s.second, &err);
        Check(a.has_value() && b.has_value() == s.secondOpens && (s.secondOpens || err == p::kErrorSharingViolation),
              s.what, std::to_string(err));
    }

    // Reading, seeking, sizes and a duplicate handle sharing the position.
    {
        Check(WriteText(path, f::kWrite | f::kCreate, "0123456789"), "rewrite");
        auto file = p::File::Open(path, f::kReadWrite | f::kShareExclusive);
        char buf[4] = {};
        uint64_t pos = 0;
        Check(file && file->Seek(-3, p::SeekOrigin::kEnd, &pos) && pos == 7, "seek from end");
        Check(file && file->ReadExact(buf, 3) && std::string(buf, 3) == "789", "read after seek");
        size_t got = 9;
        Check(file && file->Read(buf, 4, &got) && got == 0, "read at end gives 0 bytes");
        Check(file && !file->ReadExact(buf, 1) && p::LastError() == p::kErrorHandleEof, "read past end is EOF");
        Check(file && !file->Seek(-1, p::SeekOrigin::kBegin) && p::LastError() == p::kErrorNegativeSeek,
              "negative seek fails with 131", std::to_string(p::LastError()));
        Check(file && file->Seek(4, p::SeekOrigin::kBegin) && file->SetEnd() && file->Size() == 4u, "set end");
        auto dup = file ? file->Duplicate() : std::nullopt;
        Check(dup && dup->Seek(1, p::SeekOrigin::kBegin) && file->Position() == 1u, "duplicate shares position");
    }

    // File times and lengths.
    {
        p::FileTime c, a, w;
        Check(p::GetFileTimes(path, &c, &a, &w) && w.ticks > 116444736000000000ULL, "file times after 1970");
        Check(!p::GetFileTimes(dir + "cz-no-such-file.bin", &c, &a, &w), "file times of a missing file");
        Check(p::GetFileLength(path) == 4, "file length");
        Check(p::GetFileLength(dir + "cz-no-such-file.bin") == -1, "length of a missing file is -1");
    }

    // Deleting.
    Check(p::DeleteFile(path) && !p::FileExists(path), "delete");
    Check(!p::DeleteFile(path) && p::LastError() == p::kErrorFileNotFound, "delete twice fails with 2");
    if (t2) p::DeleteFile(*t2);
    Check(p::DirectoryExists(dir) && !p::FileExists(dir), "temp folder is a folder");

    // Safe files: a private folder, the same-file query, exclusive creation,
    // an output put in place by rename.
    {
        auto folder = p::TempFolder::Create("czc");
        Check(folder.has_value() && p::DirectoryExists(folder->Path()), "private temporary folder");
        std::string root = folder ? folder->Path() : dir;
        const std::string a = folder ? folder->File("a.mp3") : dir + "a.mp3";
        Check(WriteText(a, f::kWrite | f::kCreate, "input"), "write a file in the folder");
        const std::string hard = root + "\\hard.mp3";
        const bool linked = ::CreateHardLinkA(hard.c_str(), a.c_str(), nullptr) != FALSE;
        Check(p::SameFile(a, a) && p::SameFile(a, root + "\\.\\a.mp3") && p::SameFile(a, root + "\\A.MP3"),
              "same file by other spellings");
        Check(!linked || p::SameFile(a, hard), "same file by a hard link");
        Check(!p::SameFile(a, root + "\\b.mp3"), "a missing file is not an existing one");
        Check(p::SameFile(root + "\\new.wav", root + "\\.\\NEW.wav"), "one new name by two spellings");
        Check(!p::SameFile(root + "\\new.wav", root + "\\new.bin"), "two new names");
        uint32_t error = 0;
        Check(!p::File::Open(a, f::kWrite | f::kCreate | f::kCreateNew, &error) && error == p::kErrorFileExists,
              "exclusive creation refuses an existing file", std::to_string(error));
        Check(ReadAll(a) == "input", "exclusive creation left the file alone");
        {
            auto out = p::AtomicOutput::Begin(a);
            Check(out && out->Out().Write("partial", 7), "output started beside the target");
        }
        Check(ReadAll(a) == "input", "an abandoned output leaves the target");
        {
            auto out = p::AtomicOutput::Begin(a);
            Check(out && out->Out().Write("new", 3) && out->Commit(), "output put in place");
        }
        Check(ReadAll(a) == "new", "the target holds the new bytes", ReadAll(a));
        {
            // A file open for reading (deny write, as the loaders open) cannot
            // be replaced; the commit fails and leaves it.
            auto reader = p::File::Open(a, f::kRead | f::kShareDenyWrite);
            auto out = p::AtomicOutput::Begin(a);
            const bool committed = out && out->Out().Write("x", 1) && out->Commit();
            Check(reader && !committed, "an open target is not replaced");
        }
        Check(ReadAll(a) == "new", "the open target kept its bytes", ReadAll(a));
        Check(!p::AtomicOutput::Begin(root).has_value(), "a folder is no output");
        std::string sub = root + "\\sub";
        ::CreateDirectoryA(sub.c_str(), nullptr);
        Check(WriteText(sub + "\\c.wav", f::kWrite | f::kCreate, "c"), "file in a subfolder");
        Check(folder && folder->Remove() && !p::DirectoryExists(root), "folder removed with its contents");
    }

    // Paths: the program's folder, and siblings beside it.
    char exe[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string exeDir(exe);
    exeDir.resize(exeDir.find_last_of('\\'));
    Check(p::ModuleDirectory(false) == exeDir, "module folder of a program is its folder",
          p::ModuleDirectory(false) + " vs " + exeDir);
    Check(p::ModuleDirectory(true) == exeDir + "\\", "module folder with separator");
    Check(p::SiblingDirectory() == exeDir + "\\", "siblings beside the program", p::SiblingDirectory());
    Check(p::LibraryFileName("Ombry.dll") == "Ombry.dll", "library file name unchanged");
    Check(p::FullPath("a\\b.txt").size() > 8 && p::FullPath("a\\b.txt").find(":\\") == 1, "full path",
          p::FullPath("a\\b.txt"));

    // Libraries: a sibling is a bare name in our folder, never a path.
    uint32_t lerr = 0;
    Check(!p::Library::LoadSibling("..\\kernel32.dll", &lerr) && lerr == p::kErrorModNotFound, "sibling path refused");
    Check(!p::Library::LoadSibling("NoSuchSibling.dll", &lerr) && lerr == p::kErrorModNotFound,
          "missing sibling fails with 126", std::to_string(lerr));
    // kernel32 exists in the system folder, not in ours: a sibling load must
    // not find it through the search path.
    Check(!p::Library::LoadSibling("kernel32.dll"), "sibling load ignores the system search path");
    {
        auto k = p::Library::LoadPath("kernel32.dll");
        Check(k && k->Entry("GetTickCount") != nullptr, "entry of a loaded library");
        uint32_t eerr = 0;
        Check(k && !k->Entry("NoSuchEntryPoint", &eerr) && eerr == p::kErrorProcNotFound,
              "missing entry fails with 127", std::to_string(eerr));
    }

    // Error texts come from the system.
    // Windows and Wine word their texts differently; both name the file.
    std::string text2 = p::ErrorText(2);
    Check(text2 == "The system cannot find the file specified." || text2 == "File not found.", "error text 2", text2);
    Check(p::ErrorText(0x2FFFFFFF) == "Unknown error 805306367.", "error text of an unknown code",
          p::ErrorText(0x2FFFFFFF));
    Check(!p::ErrorText(5).empty() && p::ErrorText(5).back() != '\n', "error text without line break");

    // Messages: a sink replaces the default; the default writes to stderr here.
    std::string seen;
    p::SetMessageSink([&](const std::string& t, const std::string& x) { seen = t + "|" + x; });
    p::ShowMessage("Title", "Load 'x' failed !\r\nError Code 126: text");
    Check(seen == "Title|Load 'x' failed !\r\nError Code 126: text", "message sink receives title and text");
    p::ResetMessageSink();
    p::ShowMessage("platform_check", "default sink line (expected on stderr)");

    // Threads and sleeping.
    std::atomic<int> ran{0};
    {
        p::Thread thread;
        Check(thread.Start([&] {
            p::SleepMs(20);
            ran = 1;
        }),
              "thread starts");
        Check(thread.Running(), "thread running before join");
        thread.Join();
        Check(!thread.Running() && ran == 1, "join waits for the body");
        Check(thread.Start([] { throw 1; }), "a throwing body starts");
        thread.Join();
        Check(!thread.Running(), "a throwing body ends quietly");
    }
    // The performance counter, not the tick count: under Wine the tick count
    // is refreshed by the server and can lag behind on a loaded machine.
    LARGE_INTEGER frequency, before, after;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&before);
    p::SleepMs(50);
    ::QueryPerformanceCounter(&after);
    Check((after.QuadPart - before.QuadPart) * 1000 / frequency.QuadPart >= 40, "sleep waits");

    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed ? 1 : 0;
}
