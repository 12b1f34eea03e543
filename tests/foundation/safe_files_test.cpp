// The platform's safe-file pieces: the same-file query, exclusive creation
// that never follows a link, the private temporary folder and the output
// that is put in place by rename.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "support/TestSupport.h"

namespace cz::test {
namespace {

namespace fs = std::filesystem;
namespace of = platform::open_flags;

std::string Text(const std::string& path) {
    auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool WriteText(const std::string& path, const std::string& text) {
    return WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

size_t Entries(const std::string& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        (void)e;
        ++n;
    }
    return n;
}

TEST(SafeFiles, SameFileSeesThroughSpellingsAndLinks) {
    TempDir dir;
    const std::string file = dir.File("in.mp3");
    ASSERT_TRUE(WriteText(file, "input"));
    ASSERT_TRUE(WriteText(dir.File("other.mp3"), "input"));  // equal bytes, another file
    fs::create_directory(dir.File("sub"));
    fs::create_hard_link(file, dir.File("hard.mp3"));
    fs::create_symlink(file, dir.File("soft.mp3"));
    fs::create_symlink(dir.File("nowhere"), dir.File("dangling"));
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {file, file, true},
        {file, dir.Path() + "/./in.mp3", true},
        {file, dir.File("sub") + "/../in.mp3", true},
        {file, dir.File("hard.mp3"), true},
        {dir.File("soft.mp3"), file, true},
        {dir.File("soft.mp3"), dir.File("hard.mp3"), true},
        {file, dir.File("other.mp3"), false},
        {file, dir.File("new.wav"), false},
        // Names that do not exist yet: the same entry of the same folder.
        {dir.File("new.wav"), dir.File("sub") + "/../new.wav", true},
        {dir.File("new.wav"), dir.File("new.bin"), false},
        {dir.File("new.wav"), dir.File("sub/new.wav"), false},
        // A dangling link is not a new name.
        {dir.File("dangling"), dir.File("dangling"), false},
        {"", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::SameFile(c.a, c.b), c.same) << c.a << " / " << c.b;
        EXPECT_EQ(platform::SameFile(c.b, c.a), c.same) << c.b << " / " << c.a;
    }
    // A relative spelling from the current folder.
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.Path());
    EXPECT_TRUE(platform::SameFile("./in.mp3", file));
    EXPECT_TRUE(platform::SameFile("new.wav", dir.File("new.wav")));
    fs::current_path(cwd);
}

TEST(SafeFiles, CreateNewRefusesExistingNamesAndNeverFollowsALink) {
    TempDir dir;
    const std::string victim = dir.File("victim");
    ASSERT_TRUE(WriteText(victim, "precious"));
    fs::create_symlink(victim, dir.File("link"));
    fs::create_symlink(dir.File("made-through-link"), dir.File("dangling"));
    fs::create_directory(dir.File("folder"));
    for (const char* name : {"victim", "link", "dangling", "folder"}) {
        uint32_t error = 0;
        auto file = platform::File::Open(dir.File(name), of::kWrite | of::kCreate | of::kCreateNew, &error);
        EXPECT_FALSE(file.has_value()) << name;
        EXPECT_EQ(error, platform::kErrorFileExists) << name;
    }
    EXPECT_EQ(Text(victim), "precious");
    EXPECT_FALSE(FileExists(dir.File("made-through-link")));
    auto fresh = platform::File::Open(dir.File("fresh"), of::kWrite | of::kCreate | of::kCreateNew);
    ASSERT_TRUE(fresh.has_value());
    EXPECT_TRUE(fresh->Write("x", 1));
    EXPECT_TRUE(fresh->Close());

    // Unique files: each name new, created open.
    std::string a, b;
    auto fa = platform::CreateUniqueFile(dir.Path(), "p", ".s", &a);
    auto fb = platform::CreateUniqueFile(dir.Path(), "p", ".s", &b);
    ASSERT_TRUE(fa && fb);
    EXPECT_NE(a, b);
    EXPECT_EQ(fs::path(a).filename().string().rfind("p", 0), 0u);
    EXPECT_EQ(fs::path(a).extension(), ".s");
    EXPECT_FALSE(platform::CreateUniqueFile(dir.File("missing"), "p", "", &a).has_value());
}

TEST(SafeFiles, TempFolderIsPrivateFollowsTmpdirAndGoesWithItsContents) {
    TempDir outside;
    PrivateTmpDir first;
    const std::string victim = outside.File("victim");
    ASSERT_TRUE(WriteText(victim, "precious"));
    std::string path;
    {
        auto folder = platform::TempFolder::Create("czt");
        ASSERT_TRUE(folder.has_value());
        path = folder->Path();
        EXPECT_EQ(fs::path(path).parent_path(), fs::path(first.Path()));
        EXPECT_EQ(fs::path(path).filename().string().rfind("czt", 0), 0u);
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        ASSERT_TRUE(WriteText(folder->File("a.wav"), "a"));
        fs::create_directory(folder->File("sub"));
        ASSERT_TRUE(WriteText(folder->File("sub/b.wav"), "b"));
        fs::create_symlink(victim, folder->File("link.wav"));
        fs::create_symlink(outside.Path(), folder->File("dirlink"));
        // TMPDIR is read at every call.
        PrivateTmpDir second;
        auto other = platform::TempFolder::Create("czt");
        ASSERT_TRUE(other.has_value());
        EXPECT_EQ(fs::path(other->Path()).parent_path(), fs::path(second.Path()));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_EQ(Text(victim), "precious");
    EXPECT_EQ(Entries(outside.Path()), 1u);
    EXPECT_EQ(Entries(first.Path()), 0u);
}

TEST(SafeFiles, AtomicOutputReplacesTheNameOnlyOnCommit) {
    TempDir dir;
    const std::string target = dir.File("out.wav");
    ASSERT_TRUE(WriteText(target, "old"));
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    {
        // Abandoned (a failed write): the old file stays, no temporary file.
        auto out = platform::AtomicOutput::Begin(target);
        ASSERT_TRUE(out.has_value());
        EXPECT_EQ(fs::path(out->TemporaryPath()).parent_path(), fs::path(dir.Path()));
        EXPECT_TRUE(out->Out().Write("partial", 7));
        EXPECT_EQ(Text(target), "old");
    }
    EXPECT_EQ(Text(target), "old");
    EXPECT_EQ(Entries(dir.Path()), 1u);
    {
        auto out = platform::AtomicOutput::Begin(target);
        ASSERT_TRUE(out.has_value());
        EXPECT_TRUE(out->Out().Write("new", 3));
        EXPECT_TRUE(out->Commit());
    }
    EXPECT_EQ(Text(target), "new");
    EXPECT_EQ(Entries(dir.Path()), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // the replaced file's rights are kept

    // A link at the name is replaced, not written through.
    const std::string victim = dir.File("victim");
    ASSERT_TRUE(WriteText(victim, "precious"));
    const std::string link = dir.File("link.wav");
    fs::create_symlink(victim, link);
    {
        auto out = platform::AtomicOutput::Begin(link);
        ASSERT_TRUE(out.has_value());
        EXPECT_TRUE(out->Out().Write("data", 4));
        EXPECT_TRUE(out->Commit());
    }
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(Text(link), "data");
    EXPECT_EQ(Text(victim), "precious");

    // Nothing to put in place: a folder, a missing folder.
    fs::create_directory(dir.File("folder"));
    uint32_t error = 0;
    EXPECT_FALSE(platform::AtomicOutput::Begin(dir.File("folder"), &error).has_value());
    EXPECT_EQ(error, platform::kErrorAccessDenied);
    EXPECT_FALSE(platform::AtomicOutput::Begin(dir.File("missing/out.wav"), &error).has_value());
    EXPECT_EQ(error, platform::kErrorPathNotFound);
    EXPECT_FALSE(platform::AtomicOutput::Begin("", &error).has_value());

    // A name the system cannot take fails at the rename; the temporary file goes.
    std::string deep = dir.File("deep");
    while (deep.size() < 3850) deep += "/" + std::string(200, 'd');
    fs::create_directories(deep);
    const std::string tooLong = deep + "/" + std::string(4096 - deep.size(), 'n');
    {
        auto out = platform::AtomicOutput::Begin(tooLong);
        ASSERT_TRUE(out.has_value());
        EXPECT_TRUE(out->Out().Write("x", 1));
        EXPECT_FALSE(out->Commit());
        EXPECT_EQ(platform::LastError(), platform::kErrorFilenameExcedRange);
    }
    EXPECT_EQ(Entries(deep), 0u);
}

}  // namespace
}  // namespace cz::test
