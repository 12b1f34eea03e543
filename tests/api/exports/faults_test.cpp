// The exports under faults: an output folder that cannot be written, a full
// disk, a missing input, a missing sibling library or entry. Each gives
// result 0 and the expected message, without a crash and without leaving
// temporary files behind. Each case runs in a child process so that limits,
// user changes and library copies stay there.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cadenzor/cadenzor.h"
#include "decoders/mp3/Mp3FrameBuilder.h"
#include "support/RiffBuilder.h"
#include "support/Signals.h"
#include "support/TestSupport.h"

// Every private temporary folder the library makes comes from mkdtemp: this
// definition in the test program stands in front of the C library's, so a
// test can see each folder as it is made and put things into it.
std::function<void(const std::string&)>* g_onTempFolder = nullptr;

extern "C" __attribute__((visibility("default"))) char* mkdtemp(char* pattern) {
    using Fn = char* (*)(char*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "mkdtemp"));
    char* made = real ? real(pattern) : nullptr;
    if (made && g_onTempFolder) (*g_onTempFolder)(made);
    return made;
}

namespace {

namespace fs = std::filesystem;

// Runs body in a child; its return value is the child's exit status.
int InChild(const std::function<int()>& body, const std::string& stderrFile = "") {
    pid_t pid = fork();
    if (pid == 0) {
        if (!stderrFile.empty() && !freopen(stderrFile.c_str(), "w", stderr)) _exit(99);
        int rc = body();
        fflush(stderr);
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::permissions(scratch_.Path(), fs::perms::all);  // reachable after a change of user
        fs::permissions(dir_.Path(), fs::perms::all);
        input_ = dir_.File("in.wav");
        ASSERT_TRUE(MakeInput(input_));
        fs::permissions(input_, fs::perms::all);
    }

    static bool MakeInput(const std::string& path) {
        // 1 s of a 16 kHz square tone, built in code: the test needs no tool.
        const uint32_t count = 16000;
        const auto pcm = cz::test::Square(count, 8, 8000, false);
        const auto b = cz::test::RiffBuilder().Fmt(1, 1, 16000, 16).Chunk("data", cz::test::WordBytes(pcm)).Bytes();
        return cz::test::WriteFileBytes(path, b);
    }
    // 40 frames of silence: an MP3 file of about a second, built in code.
    static bool MakeMp3(const std::string& path) {
        return cz::test::WriteFileBytes(path, cz::mp3::test::Repeat(cz::mp3::test::BuildFrame(9, true, 0), 40));
    }
    bool ScratchEmpty() const { return fs::is_empty(scratch_.Path()); }
    // Files the library left beside outputs in a folder: temporary names.
    static size_t Leftovers(const std::string& folder) {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(folder)) n += e.path().filename().string().rfind(".cz", 0) == 0;
        return n;
    }
    std::string Text(const std::string& path) const {
        auto bytes = cz::test::ReadFileBytes(path);
        return std::string(bytes.begin(), bytes.end());
    }

    cz::test::TempDir dir_;
    cz::test::PrivateTmpDir scratch_;  // TMPDIR of the case; after dir_, which must not be inside it
    std::string input_;
};

TEST_F(FaultTest, OutputFolderNotWritable) {
    std::string locked = dir_.File("locked");
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    std::string apm = locked + "/out.apm";
    std::string wav = locked + "/out.wav";
    int rc = InChild([&] {
        // Root ignores permissions: the case runs as an unprivileged user.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 98;
        int a = ConvertWAVToAPM(input_.c_str(), apm.c_str(), (locked + "/out.bin").c_str());
        int b = WAVResample(input_.c_str(), wav.c_str(), 8000);
        int c =
            ConvertWAVToMDMWithResample(input_.c_str(), (locked + "/o.mdm").c_str(), (locked + "/o.bin").c_str(), 8000);
        return (a == 0 && b == 0 && c == 0) ? 0 : 1;
    });
    if (rc == 98) GTEST_SKIP() << "cannot change to an unprivileged user here";
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(fs::is_empty(locked));
    EXPECT_TRUE(ScratchEmpty());
}

TEST_F(FaultTest, DiskFullLeavesNoPartialFiles) {
    std::string apm = dir_.File("full.apm");
    std::string mdm = dir_.File("full.mdm");
    std::string wav = dir_.File("full.wav");
    int rc = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            16 * 1024, 16 * 1024
        };
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 98;
        int a = ConvertWAVToAPM(input_.c_str(), apm.c_str(), dir_.File("full_apm.bin").c_str());
        int b = ConvertWAVToMDM(input_.c_str(), mdm.c_str(), dir_.File("full_mdm.bin").c_str());
        int c = WAVResample(input_.c_str(), wav.c_str(), 44100);
        return (a == 0 ? 0 : 1) | (b == 0 ? 0 : 2) | (c == 0 ? 0 : 4);
    });
    ASSERT_NE(rc, 98);
    EXPECT_EQ(rc, 0) << "bit 1 APM, 2 MDM, 4 WAV reported success on a full disk";
    EXPECT_FALSE(cz::test::FileExists(apm));
    EXPECT_FALSE(cz::test::FileExists(mdm));
    EXPECT_FALSE(cz::test::FileExists(dir_.File("full_apm.bin")));
    EXPECT_TRUE(ScratchEmpty());
}

// Writes that fail part way (the file-size limit of the process stands for a
// full disk) at several points: at the first byte, inside the RIFF header,
// inside the samples. Every conversion fails, an existing file of the
// output's name keeps its bytes, a new name stays absent, and no temporary
// file is left beside the outputs or in the temporary folder.
TEST_F(FaultTest, WritesFailingPartWayLeaveTheNamedFilesAsTheyWere) {
    const std::string mdm = dir_.File("in.mdm");
    const std::string mp3 = dir_.File("in.mp3");
    ASSERT_EQ(ConvertWAVToMDM(input_.c_str(), mdm.c_str(), dir_.File("in_mdm.bin").c_str()), 1);
    ASSERT_TRUE(MakeMp3(mp3));
    const std::string out = dir_.File("out");
    fs::create_directory(out);
    struct Call {
        const char* name;
        std::function<int32_t(const std::string& output)> run;
    } calls[] = {
        {"WAVResample", [&](const std::string& o) { return WAVResample(input_.c_str(), o.c_str(), 44100); }},
        {"ConvertMDMToWAV", [&](const std::string& o) { return ConvertMDMToWAV(mdm.c_str(), o.c_str()); }},
        {"ConvertMP3ToWAV", [&](const std::string& o) { return ConvertMP3ToWAV(mp3.c_str(), o.c_str()); }},
        {"ConvertMP3ToWAVWithResample",
         [&](const std::string& o) { return ConvertMP3ToWAVWithResample(mp3.c_str(), o.c_str(), 22050); }},
        {"ConvertWAVToAPMWithResample",
         [&](const std::string& o) {
             return ConvertWAVToAPMWithResample(input_.c_str(), o.c_str(), (o + ".bin").c_str(), 44100);
         }},
        {"ConvertMP3ToMDMWithResample",
         [&](const std::string& o) {
             return ConvertMP3ToMDMWithResample(mp3.c_str(), o.c_str(), (o + ".bin").c_str(), 22050);
         }},
    };
    for (rlim_t limit : {rlim_t{0}, rlim_t{12}, rlim_t{44}, rlim_t{1000}, rlim_t{8000}}) {
        for (const auto& call : calls) {
            SCOPED_TRACE(std::string(call.name) + " with writes cut at " + std::to_string(limit));
            const std::string existing = out + "/" + call.name + "_old.wav";
            const std::string fresh = out + "/" + call.name + "_new.wav";
            const std::vector<uint8_t> old = {'k', 'e', 'e', 'p', ' ', 'm', 'e'};
            ASSERT_TRUE(cz::test::WriteFileBytes(existing, old));
            int rc = InChild([&] {
                signal(SIGXFSZ, SIG_IGN);
                struct rlimit cut {
                    limit, limit
                };
                if (setrlimit(RLIMIT_FSIZE, &cut) != 0) return 98;
                return (call.run(existing) == 0 ? 0 : 1) | (call.run(fresh) == 0 ? 0 : 2);
            });
            EXPECT_EQ(rc, 0) << "bit 1: over an existing file, 2: a new name: reported success";
            EXPECT_EQ(cz::test::ReadFileBytes(existing), old);
            EXPECT_FALSE(cz::test::FileExists(fresh));
            EXPECT_FALSE(cz::test::FileExists(fresh + ".bin"));
            EXPECT_EQ(Leftovers(out), 0u);
            EXPECT_TRUE(ScratchEmpty());
        }
    }
    // Without the limit the same calls succeed.
    for (const auto& call : calls) EXPECT_EQ(call.run(out + "/" + call.name + "_ok.wav"), 1) << call.name;
    EXPECT_EQ(Leftovers(out), 0u);
    EXPECT_TRUE(ScratchEmpty());
}

// The intermediate files of the chains live in a private folder made for
// the call. Links to a file outside, planted in that folder under every
// name the chains use before they write there, are replaced and never
// written through; the folder is gone when the call returns.
TEST_F(FaultTest, LinksPlantedAtTheTemporaryNamesAreNotFollowed) {
    const std::string victim = dir_.File("victim.wav");
    const std::vector<uint8_t> precious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
    ASSERT_TRUE(cz::test::WriteFileBytes(victim, precious));
    const std::string mp3 = dir_.File("in.mp3");
    ASSERT_TRUE(MakeMp3(mp3));
    std::vector<std::string> folders;
    std::function<void(const std::string&)> plant = [&](const std::string& folder) {
        folders.push_back(folder);
        struct stat st {};
        EXPECT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
        EXPECT_EQ(fs::path(folder).parent_path(), fs::path(scratch_.Path()));
        for (const char* name : {"decoded.wav", "resampled_8000.wav"})
            EXPECT_EQ(::symlink(victim.c_str(), (folder + "/" + name).c_str()), 0) << name;
    };
    g_onTempFolder = &plant;
    struct Call {
        const char* name;
        std::function<int32_t()> run;
    } calls[] = {
        {"ConvertWAVToAPMWithResample",
         [&] {
             return ConvertWAVToAPMWithResample(input_.c_str(), dir_.File("a.apm").c_str(), dir_.File("a.bin").c_str(),
                                                8000);
         }},
        {"ConvertWAVToMDMWithResample",
         [&] {
             return ConvertWAVToMDMWithResample(input_.c_str(), dir_.File("m.mdm").c_str(), dir_.File("m.bin").c_str(),
                                                8000);
         }},
        {"ConvertMP3ToWAVWithResample",
         [&] { return ConvertMP3ToWAVWithResample(mp3.c_str(), dir_.File("w.wav").c_str(), 8000); }},
        {"ConvertMP3ToAPMWithResample",
         [&] {
             return ConvertMP3ToAPMWithResample(mp3.c_str(), dir_.File("b.apm").c_str(), dir_.File("b.bin").c_str(),
                                                8000);
         }},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(call.name);
        folders.clear();
        EXPECT_EQ(call.run(), 1);
        EXPECT_EQ(folders.size(), 1u);  // one private folder per call, seen by the hook
        EXPECT_EQ(cz::test::ReadFileBytes(victim), precious);
        EXPECT_TRUE(ScratchEmpty());
    }
    g_onTempFolder = nullptr;
}

TEST_F(FaultTest, MissingInput) {
    std::string gone = dir_.File("gone.wav");
    EXPECT_EQ(ConvertWAVToAPM(gone.c_str(), dir_.File("a.apm").c_str(), dir_.File("a.bin").c_str()), 0);
    EXPECT_EQ(ConvertWAVToAPMWithResample(gone.c_str(), dir_.File("b.apm").c_str(), dir_.File("b.bin").c_str(), 8000),
              0);
    EXPECT_EQ(ConvertMP3ToAPMWithResample(gone.c_str(), dir_.File("c.apm").c_str(), dir_.File("c.bin").c_str(), 8000),
              0);
    EXPECT_FALSE(cz::test::FileExists(dir_.File("a.apm")));
    EXPECT_TRUE(ScratchEmpty());
}

// A copy of the library in a folder of its own, with only the siblings given.
std::string LibraryCopy(const std::string& folder, bool withPemtal, const std::string& fakeOmbryFrom) {
    fs::create_directories(folder);
    fs::copy_file(cz::test::LibDir() + "/libcadenzor.so", folder + "/libcadenzor.so");
    if (withPemtal) fs::copy_file(cz::test::LibDir() + "/libPemtal.so", folder + "/libPemtal.so");
    if (!fakeOmbryFrom.empty()) fs::copy_file(fakeOmbryFrom, folder + "/libOmbry.so");
    return folder + "/libcadenzor.so";
}

using ConvertFn = int32_t (*)(const char*, const char*, const char*);

TEST_F(FaultTest, SiblingMissingOrWithoutItsEntry) {
    struct Case {
        const char* name;
        std::string fake;
        const char* message;
    } cases[] = {
        {"missing", "", "Resource converter: Load 'Ombry.dll' failed !  Error Code 126: "},
        {"no entry", cz::test::LibDir() + "/libPemtal.so",
         "Resource converter: Get 'ConvertResourceToBinary()' address from 'libOmbry.so' failed !  Error Code 127: "},
    };
    for (const auto& c : cases) {
        std::string folder = dir_.File(std::string("lib_") + (c.fake.empty() ? "missing" : "noentry"));
        std::string lib = LibraryCopy(folder, true, c.fake);
        std::string apm = dir_.File("sib.apm");
        std::string bin = dir_.File("sib.bin");
        std::string err = dir_.File("stderr.txt");
        int rc = InChild(
            [&] {
                void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
                if (!handle) return 97;
                auto convert = reinterpret_cast<ConvertFn>(dlsym(handle, "ConvertWAVToAPM"));
                if (!convert) return 96;
                return convert(input_.c_str(), apm.c_str(), bin.c_str()) == 0 ? 0 : 1;
            },
            err);
        EXPECT_EQ(rc, 0) << c.name;
        EXPECT_NE(Text(err).find(c.message), std::string::npos) << c.name << ": " << Text(err);
        EXPECT_TRUE(cz::test::FileExists(apm)) << c.name;  // the chip file of the earlier stage stays
        EXPECT_FALSE(cz::test::FileExists(bin)) << c.name;
        EXPECT_FALSE(cz::test::FileExists(bin + ".h")) << c.name;
        fs::remove(apm);
    }
    EXPECT_TRUE(ScratchEmpty());
}

using EsbFn = int32_t (*)(const char*, const char*, const char*, uint32_t, uint32_t, uint32_t, uint32_t);

// The codec library behind ESB missing, without its entry, or failing part
// way through a save: result 0, the loader's messages (title "WaveFileUtil")
// where it could not be loaded, no ESB file, no binary, nothing left in the
// temporary folder.
TEST_F(FaultTest, CodecLibraryMissingWithoutItsEntryOrFailing) {
    struct Case {
        const char* name;
        std::string fake;
        const char* message;
    } cases[] = {
        {"missing", "", "WaveFileUtil: Load 'Vorrik.dll' failed"},
        {"no entry", cz::test::LibDir() + "/libPemtal.so", "WaveFileUtil: Get 'ESB_Encode()' address from"},
        {"failing", cz::test::LibDir() + "/libfake_vorrik.so", ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir_.File("codec_" + std::to_string(n++));
        const std::string lib = LibraryCopy(folder, true, std::string());
        fs::copy_file(cz::test::LibDir() + "/libOmbry.so", folder + "/libOmbry.so");
        if (!c.fake.empty()) fs::copy_file(c.fake, folder + "/libVorrik.so");
        const std::string esb = dir_.File("codec.esb"), bin = dir_.File("codec.bin"), err = dir_.File("stderr.txt");
        int rc = InChild(
            [&] {
                void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
                if (!handle) return 97;
                auto convert = reinterpret_cast<EsbFn>(dlsym(handle, "ConvertWAVToESB"));
                if (!convert) return 96;
                return convert(input_.c_str(), esb.c_str(), bin.c_str(), 0, 0, 16000, 0) == 0 ? 0 : 1;
            },
            err);
        EXPECT_EQ(rc, 0);
        if (*c.message) EXPECT_NE(Text(err).find(c.message), std::string::npos) << Text(err);
        else EXPECT_EQ(Text(err).find("WaveFileUtil"), std::string::npos) << Text(err);  // the coder itself ran
        EXPECT_FALSE(cz::test::FileExists(esb));
        EXPECT_FALSE(cz::test::FileExists(bin));
        EXPECT_EQ(Leftovers(dir_.Path()), 0u);
        EXPECT_TRUE(ScratchEmpty());
    }
}

}  // namespace
