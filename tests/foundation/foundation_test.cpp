#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/ByteReader.h"
#include "foundation/C_CUFile.h"
#include "foundation/C_CUFilePath.h"
#include "foundation/C_CUList.h"
#include "foundation/C_CUString.h"
#include "foundation/C_CUStringList.h"
#include "foundation/C_CUTime.h"
#include "foundation/C_UniqueIDGenerator.h"
#include "foundation/LibraryLoader.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

TEST(IdGenerator, ReusesReleasedIdsLastInFirstOut) {
    C_UniqueIDGenerator ids;
    EXPECT_EQ(ids.GetNewId(), 1u);
    EXPECT_EQ(ids.GetNewId(), 2u);
    EXPECT_EQ(ids.GetNewId(), 3u);
    ids.ReleaseId(2);
    EXPECT_EQ(ids.GetNewId(), 2u);
    EXPECT_EQ(ids.GetNewId(), 4u);
    ids.ReleaseId(7);  // never handed out: ignored
    ids.ReleaseId(3);
    ids.ReleaseId(3);  // already back: ignored
    EXPECT_EQ(ids.GetNewId(), 3u);
    EXPECT_EQ(ids.GetNewId(), 5u);
    ids.Reset();
    EXPECT_EQ(ids.GetNewId(), 1u);
}

struct Item : C_CUItem {
    explicit Item(int v) : value(v) {}
    int value;
};

TEST(List, IndexingCursorAndIdentifiers) {
    C_CUList<Item, Item, true> list;
    EXPECT_EQ(list.GetAt(-1), nullptr);
    EXPECT_EQ(list.GetAt(0), nullptr);
    list.Add(std::make_unique<Item>(10));
    list.Add(std::make_unique<Item>(20));
    EXPECT_EQ(list.GetAt(list.GetCount()), nullptr);
    EXPECT_EQ(list.GetAt(1)->value, 20);
    EXPECT_EQ(list.GetAt(1)->GetItemId(), 2u);
    EXPECT_EQ(list.FindById(2)->value, 20);

    list.MoveFirst();
    EXPECT_EQ(list.GetNext()->value, 10);
    // An insertion before the cursor keeps it on the same item.
    list.InsertAt(0, std::make_unique<Item>(5));
    EXPECT_EQ(list.GetNext()->value, 20);
    EXPECT_EQ(list.GetNext(), nullptr);
    EXPECT_EQ(list.GetPrev()->value, 20);
    list.MoveLast();
    EXPECT_EQ(list.GetPrev()->value, 20);

    // Removing returns the identifier to the generator.
    uint32_t removed = list.GetAt(0)->GetItemId();
    EXPECT_TRUE(list.RemoveAt(0));
    EXPECT_EQ(list.Add(std::make_unique<Item>(30))->GetItemId(), removed);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.Add(std::make_unique<Item>(1))->GetItemId(), 1u);
}

TEST(StringList, AddAllCopiesInOrder) {
    C_CUStringList a, b;
    a.Add("x");
    a.Add("y");
    b.Add("w");
    b.AddAll(a);
    ASSERT_EQ(b.GetCount(), 3);
    EXPECT_STREQ(b.GetAt(2), "y");
    EXPECT_EQ(b.GetAt(3), nullptr);
}

TEST(String, FormatTrimAndParts) {
    C_CUString s;
    s.Format("%s_%d.wav", "name", 16000);
    EXPECT_EQ(s, "name_16000.wav");
    C_CUString t("  \tSilence \r\n");
    t.Trim();
    EXPECT_EQ(t, "Silence");
    EXPECT_TRUE(t.EqualsNoCase("SILENCE"));
    EXPECT_EQ(C_CUString("abcdef").Mid(2, 2), "cd");
    EXPECT_EQ(C_CUString("abcdef").Right(10), "abcdef");
    EXPECT_EQ(C_CUString("abc").Mid(7), "");
    // A long format result is never cut.
    std::string longName(5000, 'p');
    s.Format("%s.wav", longName.c_str());
    EXPECT_EQ(s.size(), 5004u);
}

TEST(Time, TextForm) {
    struct Case {
        uint16_t hour, minute;
        const char* text;
    } cases[] = {{0, 5, "2009/01/22 AM 00:05"}, {12, 30, "2009/01/22 PM 12:30"}, {13, 30, "2009/01/22 PM 01:30"}};
    for (const auto& c : cases) {
        C_CUTime t;
        t.Set(2009, 1, 22, c.hour, c.minute);
        EXPECT_STREQ(t.GetText(), c.text);
    }
    C_CUTime t;
    // 2009-01-22 13:30:00 UTC as a file time.
    t.SetFromFileTime(platform::FileTime{(1232631000ull + 11644473600ull) * 10000000ull});
    EXPECT_STREQ(t.GetText(), "2009/01/22 PM 01:30");
    EXPECT_EQ(t.GetDayOfWeek(), 4);  // a Thursday
}

TEST(FilePath, SplitsEveryPart) {
    struct Case {
        const char* path;
        const char* drive;
        const char* dir;
        const char* title;
        const char* ext;
    } cases[] = {
        {"C:\\sounds\\song.mid", "C:", "\\sounds\\", "song", ".mid"},
        {"/tmp/a.b/x.apm.tmp", "", "/tmp/a.b/", "x.apm", ".tmp"},
        {"noext", "", "", "noext", ""},
        {"dir/", "", "dir/", "", ""},
    };
    for (const auto& c : cases) {
        C_CUFilePath p(c.path);
        EXPECT_EQ(p.GetDrive(), c.drive) << c.path;
        EXPECT_EQ(p.GetDirectory(), c.dir) << c.path;
        EXPECT_EQ(p.GetTitle(), c.title) << c.path;
        EXPECT_EQ(p.GetExtension(), c.ext) << c.path;
    }
    std::string longPath = "/" + std::string(400, 'd') + "/" + std::string(300, 'f') + ".wav";
    C_CUFilePath p(longPath.c_str());
    EXPECT_EQ(p.GetPathWithoutExtension() + p.GetExtension(), longPath);
}

TEST(File, OpenFlagsAndCauses) {
    test::TempDir dir;
    std::string path = dir.File("f.bin");
    C_CUFile file;
    EXPECT_EQ(file.Open(path.c_str(), C_CUFile::kRead), 0);  // must exist
    C_CUFileException record;
    EXPECT_THROW(file.Open(path.c_str(), C_CUFile::kRead, &record), C_CUFileException);
    EXPECT_EQ(record.GetCause(), C_CUFileException::kFileNotFound);
    EXPECT_EQ(record.GetWin32Error(), 2u);

    ASSERT_EQ(file.Open(path.c_str(), C_CUFile::kWrite | C_CUFile::kCreate), 1);
    file.Write("hello", 5);
    file.Close();
    // Create with keep-existing does not truncate; create alone does.
    ASSERT_EQ(file.Open(path.c_str(), C_CUFile::kReadWrite | C_CUFile::kCreate | C_CUFile::kNoTruncate), 1);
    EXPECT_EQ(file.GetLength(), 5u);
    EXPECT_EQ(file.GetFileName(), "f.bin");
    file.Close();
    ASSERT_EQ(file.Open(path.c_str(), C_CUFile::kWrite | C_CUFile::kCreate), 1);
    EXPECT_EQ(file.GetLength(), 0u);
    file.Close();

    struct CauseCase {
        uint32_t win32, cause;
    } causes[] = {{0, 0},   {2, 2},   {3, 3},   {4, 4},   {5, 5},    {183, 5}, {193, 6}, {145, 7}, {62, 8},
                  {131, 9}, {21, 10}, {32, 11}, {33, 12}, {112, 13}, {39, 13}, {38, 14}, {9999, 1}};
    for (const auto& c : causes) EXPECT_EQ(C_CUFileException::CauseFromWin32(c.win32), c.cause) << c.win32;
}

TEST(File, ReadPastEndRaisesNothingButSeekBeforeStartDoes) {
    test::TempDir dir;
    std::string path = dir.File("g.bin");
    test::WriteFileBytes(path, {1, 2, 3});
    C_CUFile file;
    ASSERT_EQ(file.Open(path.c_str(), C_CUFile::kRead), 1);
    char buf[8];
    EXPECT_EQ(file.Read(buf, 8), 3u);
    EXPECT_EQ(file.Read(buf, 8), 0u);
    EXPECT_THROW(file.Seek(-10, 0), C_CUFileException);
}

TEST(LibraryLoader, MessagesNameTheLibraryAndEntry) {
    std::vector<std::pair<std::string, std::string>> shown;
    platform::SetMessageSink([&](const std::string& t, const std::string& m) { shown.emplace_back(t, m); });
    EXPECT_EQ(LoadLibraryWithMessage("NoSuchLibrary.dll", "Resource converter", 0, false), nullptr);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(LoadLibraryWithMessage("NoSuchLibrary.dll", "Resource converter", 0, true), nullptr);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, "Resource converter");
    EXPECT_EQ(shown[0].second.rfind("Load 'NoSuchLibrary.dll' failed !\r\nError Code 126: ", 0), 0u) << shown[0].second;
    EXPECT_EQ(LoadLibraryWithMessage("NoSuchLibrary.dll", nullptr, 0, true), nullptr);
    EXPECT_EQ(shown.back().first, "Load Dll Library");
    // A name with a folder in it is never looked up outside our own folder.
    EXPECT_EQ(LoadLibraryWithMessage("../lib/Ombry.dll", nullptr, 0, false), nullptr);
    EXPECT_EQ(GetProcAddressWithMessage(nullptr, "X", "T", 0, true), nullptr);
    platform::ResetMessageSink();
}

TEST(ByteReader, NeverReadsPastTheEnd) {
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    ByteReader r(bytes, sizeof bytes);
    uint32_t v = 0;
    ASSERT_TRUE(r.U32(v));
    EXPECT_EQ(v, 0x04030201u);
    EXPECT_FALSE(r.U32(v));
    EXPECT_EQ(r.Position(), 4u);
    uint16_t w = 0;
    EXPECT_FALSE(r.U16(w));
    uint8_t b = 0;
    EXPECT_TRUE(r.U8(b));
    EXPECT_EQ(b, 5);
    EXPECT_FALSE(r.Skip(1));
    EXPECT_EQ(r.Take(1), nullptr);
}

TEST(Platform, TempFilesAreUniqueAndCreated) {
    auto a = platform::CreateTempFile(platform::TempDirectory(), "");
    auto b = platform::CreateTempFile(platform::TempDirectory(), "tmp");
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    EXPECT_TRUE(platform::FileExists(*a));
    EXPECT_EQ(platform::GetFileLength(*a), 0);
    EXPECT_TRUE(platform::DeleteFile(*a));
    EXPECT_TRUE(platform::DeleteFile(*b));
    EXPECT_EQ(platform::LibraryFileName("Ombry.dll"), "libOmbry.so");
    EXPECT_EQ(platform::LibraryFileName("Kelvra.DLL"), "libKelvra.so");
}

}  // namespace
}  // namespace cz
