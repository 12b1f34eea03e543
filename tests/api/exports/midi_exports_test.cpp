// MIDI in through the exports: ConvertMIDToIMF with its header,
// ConvertMIDToIMFByChipItem, and ConvertMIDToXMF for songs without samples
// (type 1, type 8 with lyrics) and with samples found beside the song (the
// WIBN bundle, samples coded by the resource converter). The XMF goes back
// to MIDI through the format helper with the same notes as the source.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "cadenzor/cadenzor.h"
#include "midi/smf/SmfFixture.h"
#include "support/MidiNotes.h"
#include "support/RiffBuilder.h"
#include "support/Signals.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using cz::test::BuildSmf;
using cz::test::Bytes;

const Bytes kMelodyId = {0x80, 0x83, 0x82, 0x83, 0xBC, 0x96, 0xEB, 0xC2, 0x95, 0xB5,
                         0xBB, 0xA6, 0xD8, 0x9A, 0x99, 0xF7, 0xB0, 0x80, 0x9D};
const Bytes kBundleId = {0x83, 0xA0, 0xDA, 0xB2, 0xFC, 0xF3, 0xDB, 0xA2, 0xA9, 0x99,
                         0x98, 0xCC, 0xD6, 0x93, 0xD2, 0xA1, 0xA2, 0x98, 0xF5};
const Bytes kLyricId = {0xF6, 0xFF, 0xC5, 0xF7, 0xAA, 0xBE, 0xC6, 0xD2, 0xA1, 0x82,
                        0x98, 0xFD, 0x8C, 0xF8, 0x8A, 0xEE, 0x98, 0xCA, 0x82};

std::string Text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int InChild(const std::function<int()>& body, const std::string& outFile, const std::string& errFile) {
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(outFile.c_str(), "w", stdout) || !freopen(errFile.c_str(), "w", stderr)) _exit(99);
        const int rc = body();
        fflush(stdout);
        fflush(stderr);
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

uint32_t U32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// The resource of a single-node XMF: after the 19-byte identifier and 00 01 01.
Bytes XmfResource(const Bytes& xmf, const Bytes& id) {
    auto at = std::search(xmf.begin(), xmf.end(), id.begin(), id.end());
    if (at == xmf.end()) return {};
    return Bytes(at + 22, xmf.end());
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

class MidiExports : public ::testing::Test {
protected:
    void SetUp() override {
        // A melody on channel 1 and, with drums, the drum notes given.
        song_ = dir_.File("song.mid");
        ASSERT_TRUE(cz::test::WriteFileBytes(song_, Song({})));
    }
    static Bytes Song(std::initializer_list<uint8_t> drumKeys, bool lyric = false) {
        Bytes body = {0, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20, 0, 0xC0, 3, 0, 0x90, 60, 100, 48, 62, 90, 48, 0x80, 60, 0};
        if (lyric) body.insert(body.end(), {0, 0xFF, 0x05, 2, 'l', 'a'});
        body.insert(body.end(), {48, 0x80, 62, 0});
        for (uint8_t key : drumKeys) body.insert(body.end(), {0, 0x99, key, 100, 24, 0x89, key, 0});
        body.insert(body.end(), {0, 0xFF, 0x2F, 0});
        return BuildSmf(0, 96, {body});
    }
    static Bytes Wav(uint32_t count) {
        return cz::test::RiffBuilder()
            .Fmt(1, 1, 16000, 16)
            .Chunk("data", cz::test::WordBytes(cz::test::Square(count, 40, 6000, false)))
            .Bytes();
    }
    size_t ScratchEntries() const {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(scratch_.Path())) n += !e.path().empty();
        return n;
    }
    // The notes of the MIDI file the format helper makes of an XMF.
    std::vector<cz::test::MidiNote> NotesBack(const std::string& xmf) {
        const std::string mid = dir_.File("back.mid");
        if (ConvertXMFToMID(xmf.c_str(), mid.c_str()) != 1) return {};
        return cz::test::MidicsvNotes(mid, dir_.File("back.csv"));
    }

    cz::test::TempDir dir_;
    cz::test::PrivateTmpDir scratch_;
    std::string song_;
};

TEST_F(MidiExports, MidiToImfWithItsHeaderAndForAChip) {
    const std::string imf = dir_.File("song.v2.imf");
    ASSERT_EQ(ConvertMIDToIMF(song_.c_str(), imf.c_str()), 1);
    const Bytes bytes = cz::test::ReadFileBytes(imf);
    ASSERT_GE(bytes.size(), 16u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "IMF1");
    EXPECT_EQ(bytes[4] | (bytes[5] << 8), 96);
    EXPECT_EQ(U32(bytes, 12), bytes.size() - 16);
    const std::string header = Text(dir_.File("song_v2.h"));
    EXPECT_EQ(header.rfind("const unsigned char g_abysong_v2[] = \r\n{\r\n0x49, 0x4D, 0x46, 0x31,", 0), 0u) << header;
    EXPECT_EQ(ScratchEntries(), 0u);

    // For a chip of one voice: the overlapping second note is dropped.
    const std::string chip = dir_.File("chip.imf");
    ASSERT_EQ(ConvertMIDToIMFByChipItem(reinterpret_cast<uintptr_t>(song_.c_str()),
                                        reinterpret_cast<uintptr_t>(chip.c_str()), 1),
              1);
    const Bytes one = cz::test::ReadFileBytes(chip);
    ASSERT_GE(one.size(), 16u);
    EXPECT_EQ(one[8], 1);
    EXPECT_EQ(one[9] & 2, 2);
    EXPECT_LT(one.size(), bytes.size());

    // A song that is not MIDI: 0, nothing written.
    const std::string bad = dir_.File("bad.mid");
    const Bytes whole = Song({});
    ASSERT_TRUE(cz::test::WriteFileBytes(bad, Bytes(whole.begin(), whole.end() - 5)));
    EXPECT_EQ(ConvertMIDToIMF(bad.c_str(), dir_.File("bad.imf").c_str()), 0);
    EXPECT_FALSE(cz::test::FileExists(dir_.File("bad.imf")));
    EXPECT_FALSE(cz::test::FileExists(dir_.File("bad.h")));
    EXPECT_EQ(ConvertMIDToIMF(song_.c_str(), song_.c_str()), 0);
    EXPECT_EQ(ScratchEntries(), 0u);
}

TEST_F(MidiExports, SongsWithoutSamplesGiveTypeOneOrWithLyricsTypeEight) {
    const auto source = cz::test::MidicsvNotes(song_, dir_.File("src.csv"));
    const std::string plain = dir_.File("plain.xmf");
    ASSERT_EQ(ConvertMIDToXMF(song_.c_str(), plain.c_str()), 1);
    const Bytes xmf = cz::test::ReadFileBytes(plain);
    const Bytes resource = XmfResource(xmf, kMelodyId);
    ASSERT_FALSE(resource.empty());
    EXPECT_EQ(std::string(resource.begin(), resource.begin() + 4), "IMF1");
    EXPECT_TRUE(cz::test::FileExists(dir_.File("plain.h")));
    EXPECT_EQ(GetXMFResourceType(plain.c_str()), 1);
    if (cz::test::HaveTool("midicsv")) {
        ASSERT_EQ(source.size(), 2u);
        EXPECT_EQ(NotesBack(plain), source);
    }

    const std::string sung = dir_.File("sung.mid");
    ASSERT_TRUE(cz::test::WriteFileBytes(sung, Song({}, true)));
    const std::string lyric = dir_.File("sung.xmf");
    ASSERT_EQ(ConvertMIDToXMF(sung.c_str(), lyric.c_str()), 1);
    const Bytes wklb = XmfResource(cz::test::ReadFileBytes(lyric), kLyricId);
    ASSERT_GE(wklb.size(), 16u);
    EXPECT_EQ(std::string(wklb.begin(), wklb.begin() + 4), "WKLB");
    EXPECT_EQ(U32(wklb, 6), 16u);
    const uint32_t lyricAt = U32(wklb, 11);
    ASSERT_LE(lyricAt, wklb.size());
    EXPECT_EQ(lyricAt, 16 + U32(wklb, 16 + 12) + 16);  // the IMF's own length
    EXPECT_EQ(Bytes(wklb.begin() + lyricAt, wklb.end()), (Bytes{96, 2, 'l', 'a'}));
    EXPECT_EQ(GetXMFResourceType(lyric.c_str()), 8);
    // The export takes melodies of types 1 to 4 only; the format helper
    // itself gives the lyric melody back.
    EXPECT_EQ(ConvertXMFToMID(lyric.c_str(), dir_.File("refused.mid").c_str()), 0);
    if (cz::test::HaveTool("midicsv")) {
        void* kelvra = dlopen((cz::test::LibDir() + "/libKelvra.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(kelvra, nullptr);
        using TwoFn = int32_t (*)(const char*, const char*);
        auto toSmf = reinterpret_cast<TwoFn>(dlsym(kelvra, "ConvertToSMF"));
        ASSERT_NE(toSmf, nullptr);
        const std::string back = dir_.File("sung_back.mid");
        ASSERT_EQ(toSmf(lyric.c_str(), back.c_str()), 1);
        EXPECT_EQ(cz::test::MidicsvNotes(back, dir_.File("back.csv")), source);
        dlclose(kelvra);
    }
    EXPECT_EQ(ScratchEntries(), 0u);
}

TEST_F(MidiExports, SamplesBesideTheSongMakeABundle) {
    // Keys 96 and 127 use samples 1 and 32; key 100 uses sample 5, which has
    // no file; song_0 and song_33 are never looked at.
    ASSERT_TRUE(cz::test::WriteFileBytes(song_, Song({96, 100, 127})));
    for (const char* name : {"song_1.wav", "song_32.wav", "song_0.wav", "song_33.wav"})
        ASSERT_TRUE(cz::test::WriteFileBytes(dir_.File(name), Wav(name[5] == '1' ? 1600 : 2400)));
    const fs::path before = dir_.Path();
    const size_t filesBefore = std::distance(fs::directory_iterator(before), fs::directory_iterator());

    const std::string xmf = dir_.File("bundle.xmf");
    const std::string out = dir_.File("stdout.txt"), err = dir_.File("stderr.txt");
    const int rc = InChild([&] { return ConvertMIDToXMF(song_.c_str(), xmf.c_str()) == 1 ? 0 : 1; }, out, err);
    ASSERT_EQ(rc, 0) << Text(err);
    EXPECT_NE(Text(out).find("Warning: '" + song_ + "' - Speech file of index 5 is not specified !!\n"),
              std::string::npos)
        << Text(out);

    const Bytes bundle = XmfResource(cz::test::ReadFileBytes(xmf), kBundleId);
    ASSERT_GE(bundle.size(), 17u + 16u);
    EXPECT_EQ(std::string(bundle.begin(), bundle.begin() + 4), "WIBN");
    ASSERT_EQ(bundle[4], 3);
    const uint32_t first = U32(bundle, 5), missing = U32(bundle, 9), last = U32(bundle, 13);
    EXPECT_EQ(missing, 0u);
    EXPECT_EQ(first >> 24, 0u);
    EXPECT_EQ(last >> 24, 31u);
    const size_t imfAt = 17, imfSize = 16 + U32(bundle, imfAt + 12);
    EXPECT_EQ(std::string(bundle.begin() + imfAt, bundle.begin() + imfAt + 4), "IMF1");
    EXPECT_EQ(first & 0xFFFFFF, imfAt + imfSize);
    ASSERT_LT(last & 0xFFFFFF, bundle.size());

    // Each sample's data is the binary the resource converter makes of it,
    // and the melody's speech track carries it too.
    for (const auto& [name, begin, end] : {std::tuple{"song_1.wav", size_t(first & 0xFFFFFF), size_t(last & 0xFFFFFF)},
                                           std::tuple{"song_32.wav", size_t(last & 0xFFFFFF), bundle.size()}}) {
        const std::string apm = dir_.File(std::string(name) + ".apm"), bin = dir_.File(std::string(name) + ".bin");
        ASSERT_EQ(ConvertWAVToAPM(dir_.File(name).c_str(), apm.c_str(), bin.c_str()), 1);
        const Bytes binary = cz::test::ReadFileBytes(bin);
        EXPECT_EQ(Bytes(bundle.begin() + begin, bundle.begin() + end), binary) << name;
        EXPECT_TRUE(Contains(Bytes(bundle.begin() + imfAt, bundle.begin() + imfAt + imfSize), binary)) << name;
        fs::remove(apm);
        fs::remove(bin);
        fs::remove(bin + ".h");
    }
    // Only the XMF and its header were added beside the song.
    EXPECT_EQ(size_t(std::distance(fs::directory_iterator(before), fs::directory_iterator())), filesBefore + 4)
        << "xmf, header, stdout, stderr";
    EXPECT_EQ(ScratchEntries(), 0u);
    EXPECT_EQ(GetXMFResourceType(xmf.c_str()), 3);
    if (cz::test::HaveTool("midicsv")) {
        const auto back = NotesBack(xmf);
        EXPECT_EQ(back, cz::test::MidicsvNotes(song_, dir_.File("src.csv")));
    }
}

// The melody tool's IMF is what counts, not what it returns: a tool that
// returns 0 with a good IMF converts; no IMF, or an empty one, fails with a
// message whatever the tool returns.
TEST_F(MidiExports, TheMelodyToolsImfCountsNotItsResult) {
    const std::string good = dir_.File("good.imf"), empty = dir_.File("empty.imf");
    ASSERT_EQ(ConvertMIDToIMF(song_.c_str(), good.c_str()), 1);
    ASSERT_TRUE(cz::test::WriteFileBytes(empty, {}));
    const std::string folder = dir_.File("lib_fake");
    fs::create_directories(folder);
    fs::copy_file(cz::test::LibDir() + "/libcadenzor.so", folder + "/libcadenzor.so");
    fs::copy_file(cz::test::LibDir() + "/libfake_halvern.so", folder + "/libHalvern.so");
    const std::string lib = folder + "/libcadenzor.so";
    struct Case {
        const char* result;
        std::string imf;  // what the tool writes; "" for nothing
        int expected;
        std::string message;
    } cases[] = {
        {"0", good, 1, ""},
        {"1", good, 1, ""},
        {"0", "", 0, "Midi Tool: Can't open file "},
        {"1", "", 0, "Midi Tool: Can't open file "},
        {"0", empty, 0, "Midi Tool: The melody tool made an empty IMF file of " + song_},
        {"1", empty, 0, "Midi Tool: The melody tool made an empty IMF file of " + song_},
    };
    using TwoFn = int32_t (*)(const char*, const char*);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.result) + " " + c.imf);
        const std::string imf = dir_.File("made.imf"), header = dir_.File("made.h");
        fs::remove(imf);
        fs::remove(header);
        const std::string out = dir_.File("stdout.txt"), err = dir_.File("stderr.txt");
        const int rc = InChild(
            [&] {
                setenv("FAKE_HALVERN_RESULT", c.result, 1);
                if (c.imf.empty())
                    unsetenv("FAKE_HALVERN_IMF");
                else
                    setenv("FAKE_HALVERN_IMF", c.imf.c_str(), 1);
                void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
                if (!handle) return 97;
                return reinterpret_cast<TwoFn>(dlsym(handle, "ConvertMIDToIMF"))(song_.c_str(), imf.c_str());
            },
            out, err);
        EXPECT_EQ(rc, c.expected) << Text(err);
        EXPECT_EQ(cz::test::FileExists(imf), c.expected == 1);
        EXPECT_EQ(cz::test::FileExists(header), c.expected == 1);
        if (c.expected == 1) EXPECT_TRUE(cz::test::ReadFileBytes(imf) == cz::test::ReadFileBytes(good));
        EXPECT_NE(Text(err).find(c.message), std::string::npos) << Text(err);
    }
    EXPECT_EQ(ScratchEntries(), 0u);
}

// A sample found beside the song is read by the call: an XMF (or its header)
// that would land on it, by any spelling or link, is refused with a message
// and the sample stays as it was.
TEST_F(MidiExports, AnOutputOnASampleFoundBesideTheSongIsRefused) {
    ASSERT_TRUE(cz::test::WriteFileBytes(song_, Song({96, 97, 127})));
    for (const char* name : {"song_1.wav", "song_2.wav", "song_32.wav"})
        ASSERT_TRUE(cz::test::WriteFileBytes(dir_.File(name), Wav(1600)));
    fs::create_directory(dir_.File("sub"));
    fs::create_hard_link(dir_.File("song_2.wav"), dir_.File("linked.xmf"));
    fs::create_symlink(dir_.File("song_32.wav"), dir_.File("soft.h"));
    const Bytes sample = cz::test::ReadFileBytes(dir_.File("song_1.wav"));
    const std::string outputs[] = {dir_.File("song_1.wav"), dir_.File("sub") + "/../song_32.wav",
                                   dir_.File("linked.xmf"), dir_.File("soft.xmf")};
    for (const std::string& xmf : outputs) {
        SCOPED_TRACE(xmf);
        const size_t files = std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator());
        const std::string out = dir_.File("sub/stdout.txt"), err = dir_.File("sub/stderr.txt");
        EXPECT_EQ(InChild([&] { return ConvertMIDToXMF(song_.c_str(), xmf.c_str()); }, out, err), 0);
        EXPECT_NE(Text(err).find(" is the speech sample "), std::string::npos) << Text(err);
        for (const char* name : {"song_1.wav", "song_2.wav", "song_32.wav"})
            EXPECT_TRUE(cz::test::ReadFileBytes(dir_.File(name)) == sample) << name;
        EXPECT_EQ(size_t(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator())), files);
    }
    EXPECT_EQ(ScratchEntries(), 0u);
}

TEST_F(MidiExports, WithoutTheMelodyToolNothingIsWritten) {
    const std::string folder = dir_.File("lib_alone");
    fs::create_directories(folder);
    fs::copy_file(cz::test::LibDir() + "/libcadenzor.so", folder + "/libcadenzor.so");
    const std::string imf = dir_.File("alone.imf"), xmf = dir_.File("alone.xmf");
    const std::string out = dir_.File("stdout.txt"), err = dir_.File("stderr.txt");
    const std::string lib = folder + "/libcadenzor.so";
    using TwoFn = int32_t (*)(const char*, const char*);
    const int rc = InChild(
        [&] {
            void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) return 97;
            auto toImf = reinterpret_cast<TwoFn>(dlsym(handle, "ConvertMIDToIMF"));
            auto toXmf = reinterpret_cast<TwoFn>(dlsym(handle, "ConvertMIDToXMF"));
            return toImf(song_.c_str(), imf.c_str()) == 0 && toXmf(song_.c_str(), xmf.c_str()) == 0 ? 0 : 1;
        },
        out, err);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(Text(err).find("Midi Tool: LoadLibrary Halvern.dll failed"), std::string::npos) << Text(err);
    for (const std::string& path : {imf, xmf, dir_.File("alone.h")}) EXPECT_FALSE(cz::test::FileExists(path)) << path;
    EXPECT_EQ(ScratchEntries(), 0u);
}

}  // namespace
