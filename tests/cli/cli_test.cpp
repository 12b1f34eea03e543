// The cadenzor tool as a user runs it: exit codes and messages.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

struct Run {
    int status;
    std::string out;
};

Run Cadenzor(const std::string& args, const cz::test::TempDir& dir) {
    std::string out = dir.File("out.txt");
    int status = cz::test::RunCommand("'" + cz::test::BinDir() + "/cadenzor' " + args + " >'" + out + "' 2>&1");
    auto bytes = cz::test::ReadFileBytes(out);
    return {status, std::string(bytes.begin(), bytes.end())};
}

TEST(Cli, HelpVersionAndUsageErrors) {
    cz::test::TempDir dir;
    auto help = Cadenzor("--help", dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("convert IN OUT"), std::string::npos);
    EXPECT_EQ(Cadenzor("--version", dir).status, 0);
    auto none = Cadenzor("", dir);
    EXPECT_EQ(none.status, 1);
    auto unknown = Cadenzor("frobnicate", dir);
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.out.find("unknown command 'frobnicate'"), std::string::npos);
    EXPECT_EQ(Cadenzor("resample a.wav b.wav", dir).status, 1);           // no --rate
    EXPECT_EQ(Cadenzor("convert a.wav b.wav --rate 0", dir).status, 1);   // absurd rate
    EXPECT_EQ(Cadenzor("convert a.wav b.wav --rate 9x", dir).status, 1);
}

TEST(Cli, CheckInfoAndConvert) {
    cz::test::TempDir dir;
    std::string wav = dir.File("in.wav");
    cz::test::WriteFileBytes(wav, cz::test::RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", {1, 0, 2, 0}).Bytes());
    std::string junk = dir.File("junk.wav");
    cz::test::WriteFileBytes(junk, {'R', 'I', 'F', 'F', 1, 2});

    auto check = Cadenzor("check '" + wav + "'", dir);
    EXPECT_EQ(check.status, 0);
    EXPECT_NE(check.out.find("supported, format id 2 (C_WavFile)"), std::string::npos);
    auto bad = Cadenzor("check '" + junk + "'", dir);
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("not supported"), std::string::npos);

    auto info = Cadenzor("info --json '" + wav + "'", dir);
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("\"samples\": 2"), std::string::npos);
    auto missing = Cadenzor("info '" + dir.File("none.wav") + "'", dir);
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("none.wav: the file cannot be opened"), std::string::npos);

    std::string copy = dir.File("copy.wav");
    EXPECT_EQ(Cadenzor("convert '" + wav + "' '" + copy + "'", dir).status, 0);
    EXPECT_EQ(cz::test::ReadFileBytes(copy), cz::test::ReadFileBytes(wav));
    auto exists = Cadenzor("convert '" + wav + "' '" + copy + "'", dir);
    EXPECT_EQ(exists.status, 2);
    EXPECT_NE(exists.out.find("use -y"), std::string::npos);
    EXPECT_EQ(Cadenzor("convert -y '" + wav + "' '" + copy + "'", dir).status, 0);
    auto failed = Cadenzor("convert '" + junk + "' '" + dir.File("x.wav") + "'", dir);
    EXPECT_EQ(failed.status, 2);
    EXPECT_NE(failed.out.find("junk.wav:"), std::string::npos);
    EXPECT_FALSE(cz::test::FileExists(dir.File("x.wav")));
}

// A chip file back to WAV gives the sound the chip plays (its codes decoded,
// or its decoded section), not a copy of the samples it was coded from;
// --source gives those.
TEST(Cli, ChipFilesToWavGiveWhatTheChipPlays) {
    cz::test::TempDir dir;
    std::vector<int16_t> samples(4000);
    uint32_t seed = 1;
    for (size_t i = 0; i < samples.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        samples[i] = static_cast<int16_t>(8000.0 * std::sin(i * 0.3) + static_cast<int>((seed >> 16) % 4000) - 2000);
    }
    const std::string wav = dir.File("in.wav");
    ASSERT_TRUE(cz::test::WriteFileBytes(
        wav, cz::test::RiffBuilder().Fmt(1, 1, 16000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(samples)).Bytes()));
    for (const char* chip : {"c.apm", "c.mdm"}) {
        SCOPED_TRACE(chip);
        const std::string coded = dir.File(chip), played = dir.File("played.wav"), source = dir.File("source.wav");
        ASSERT_EQ(Cadenzor("convert -y -q '" + wav + "' '" + coded + "'", dir).status, 0);
        ASSERT_EQ(Cadenzor("convert -y -q '" + coded + "' '" + played + "'", dir).status, 0);
        ASSERT_EQ(Cadenzor("convert -y -q --source '" + coded + "' '" + source + "'", dir).status, 0);
        const auto a = cz::test::ReadFileBytes(played), b = cz::test::ReadFileBytes(source);
        ASSERT_GT(a.size(), 44u);
        ASSERT_GT(b.size(), 44u);
        EXPECT_NE(a, b);
    }
}

// An output that is the input by another name is refused before anything
// is written; a failed conversion over an existing file (-y) leaves it whole.
TEST(Cli, SameFileAndFailedOverwrite) {
    cz::test::TempDir dir;
    std::string wav = dir.File("in.wav");
    const auto bytes = cz::test::RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", {1, 0, 2, 0, 3, 0, 4, 0}).Bytes();
    ASSERT_TRUE(cz::test::WriteFileBytes(wav, bytes));
    auto bin = Cadenzor("convert -y '" + wav + "' '" + dir.File("o.apm") + "' --bin '" + dir.Path() + "/./in.wav'", dir);
    EXPECT_EQ(bin.status, 2);
    EXPECT_NE(bin.out.find("same file as"), std::string::npos) << bin.out;
    EXPECT_FALSE(cz::test::FileExists(dir.File("o.apm")));
    EXPECT_EQ(cz::test::ReadFileBytes(wav), bytes);
    // In place is allowed where the sound is loaded whole first.
    EXPECT_EQ(Cadenzor("resample -y --rate 16000 '" + wav + "' '" + dir.Path() + "/./in.wav'", dir).status, 0);
    EXPECT_NE(cz::test::ReadFileBytes(wav), bytes);
    // A sound that cannot be written in the chip format: the old file stays.
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("keep.apm"), old));
    std::string junk = dir.File("junk.wav");
    cz::test::WriteFileBytes(junk, {'R', 'I', 'F', 'F', 1, 2});
    EXPECT_EQ(Cadenzor("convert -y '" + junk + "' '" + dir.File("keep.apm") + "'", dir).status, 2);
    EXPECT_EQ(cz::test::ReadFileBytes(dir.File("keep.apm")), old);
    const auto fast = cz::test::RiffBuilder().Fmt(1, 1, 96000, 16).Chunk("data", {1, 0, 2, 0}).Bytes();
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("fast.wav"), fast));
    EXPECT_EQ(Cadenzor("convert -y '" + dir.File("fast.wav") + "' '" + dir.File("keep.apm") + "'", dir).status, 2);
    EXPECT_EQ(cz::test::ReadFileBytes(dir.File("keep.apm")), old);
}

}  // namespace
