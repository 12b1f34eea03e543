// The cadenzor tool as a user runs it: exit codes and messages.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/RiffBuilder.h"
#include "CliRun.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;

TEST(Cli, HelpVersionAndUsageErrors) {
    cz::test::TempDir dir;
    auto help = Cadenzor("--help", dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("convert "), std::string::npos);
    EXPECT_NE(Cadenzor("convert --help", dir).out.find("usage: cadenzor convert IN OUT"), std::string::npos);
    EXPECT_EQ(Cadenzor("--version", dir).status, 0);
    auto none = Cadenzor("", dir);
    EXPECT_EQ(none.status, 1);
    auto unknown = Cadenzor("frobnicate", dir);
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.out.find("unknown command 'frobnicate'"), std::string::npos);
    EXPECT_EQ(Cadenzor("resample a.wav b.wav", dir).status, 1);          // no --rate
    EXPECT_EQ(Cadenzor("convert a.wav b.wav --rate 0", dir).status, 1);  // absurd rate
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
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.out.find("not supported"), std::string::npos);

    auto info = Cadenzor("info --json '" + wav + "'", dir);
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("\"samples\": 2"), std::string::npos);
    auto missing = Cadenzor("info '" + dir.File("none.wav") + "'", dir);
    EXPECT_EQ(missing.status, 2);
#if !defined(_WIN32)
    EXPECT_NE(missing.out.find("none.wav: No such file or directory"), std::string::npos) << missing.out;
#endif
    auto folder = Cadenzor("info '" + dir.Path() + "'", dir);
    EXPECT_EQ(folder.status, 2);
    EXPECT_NE(folder.out.find("is a folder"), std::string::npos);

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
        wav,
        cz::test::RiffBuilder().Fmt(1, 1, 16000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(samples)).Bytes()));
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
    auto bin =
        Cadenzor("convert -y '" + wav + "' '" + dir.File("o.apm") + "' --bin '" + dir.Path() + "/./in.wav'", dir);
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

namespace {

// Started by its bare name from PATH, in a folder of its own, the tool still
// finds the stand-in libraries beside it (../lib from its bin folder).
TEST(Cli, FindsItsSiblingsWhenStartedFromPath) {
    cz::test::TempDir dir;
    cz::test::WriteFileBytes(
        dir.File("in.wav"),
        cz::test::RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", std::vector<uint8_t>(4000, 0x10)).Bytes());
    const std::string out = dir.File("out.txt");
    const int status =
        cz::test::RunCommand("cd '" + dir.Path() + "' && PATH='" + cz::test::BinDir() +
                             "':\"$PATH\" cadenzor convert in.wav out.apm --bin out.bin >'" + out + "' 2>&1");
    auto bytes = cz::test::ReadFileBytes(out);
    EXPECT_EQ(status, 0) << std::string(bytes.begin(), bytes.end());
    EXPECT_TRUE(cz::test::FileExists(dir.File("out.bin")));
}

}  // namespace

namespace {

// MPEG audio is known by its content, whatever its name: check, info and
// convert take an MP3 named .wav.
TEST(Cli, Mp3IsKnownByItsContent) {
    if (!cz::test::HaveTool("sox") || !cz::test::HaveTool("lame")) GTEST_SKIP() << "sox and lame are needed";
    cz::test::TempDir dir;
    ASSERT_EQ(cz::test::RunCommand("sox -n -r 16000 -c 1 -b 16 '" + dir.File("tone.wav") +
                                   "' synth 0.5 sine 440 vol 0.5 2>/dev/null && lame --quiet -b 32 '" +
                                   dir.File("tone.wav") + "' '" + dir.File("song.wav") + "'"),
              0);
    auto check = Cadenzor("check '" + dir.File("song.wav") + "'", dir);
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find("MPEG audio"), std::string::npos) << check.out;
    auto info = Cadenzor("info '" + dir.File("song.wav") + "'", dir);
    EXPECT_EQ(info.status, 0) << info.out;
    EXPECT_NE(info.out.find("16000"), std::string::npos) << info.out;
    auto convert = Cadenzor("convert '" + dir.File("song.wav") + "' '" + dir.File("out.apm") + "'", dir);
    EXPECT_EQ(convert.status, 0) << convert.out;
    EXPECT_TRUE(cz::test::FileExists(dir.File("out.apm")));
}

}  // namespace

namespace {

TEST(Cli, RbfResources) {
    cz::test::TempDir dir;
    // "WE2A" (16-bit offset binary): a marker block with 0x1234, a one-sample
    // block of 0x9000, two samples of silence; then the end mark.
    const std::string rbf = dir.File("e.rbf");
    cz::test::WriteFileBytes(rbf, {'W', 'E', '2', 'A', 0x40, 0x1F, 0x06, 0x01, 0x34, 0x12, 0x01, 0x00, 0x90, 0x00, 0x00,
                                   0x08, 0x00, 0x00, 0x00});
    auto info = Cadenzor("info '" + rbf + "'", dir);
    EXPECT_EQ(info.status, 0) << info.out;
    EXPECT_NE(info.out.find("coding \"WE2A\""), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("sample 0: identifier 1, type 1"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("samples:     4"), std::string::npos) << info.out;

    // To WAV through the factory: signed samples, checked by sox.
    const std::string wav = dir.File("e.wav");
    EXPECT_EQ(Cadenzor("convert '" + rbf + "' '" + wav + "'", dir).status, 0);
    if (cz::test::HaveTool("sox")) {
        const std::string raw = dir.File("e.raw");
        ASSERT_EQ(cz::test::RunCommand("sox '" + wav + "' -t s16 '" + raw + "'"), 0);
        const auto bytes = cz::test::ReadFileBytes(raw);
        ASSERT_EQ(bytes.size(), 8u);
        EXPECT_EQ(static_cast<int16_t>(bytes[0] | (bytes[1] << 8)), 0x1234 - 32768);
        EXPECT_EQ(static_cast<int16_t>(bytes[2] | (bytes[3] << 8)), 0x1000);
    }

    const std::string cut = dir.File("cut.rbf");
    auto ok = Cadenzor("cut '" + rbf + "' '" + cut + "' --max-bytes 10", dir);
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_EQ(cz::test::ReadFileBytes(cut).size(), 8u);  // header and end mark
    auto small = Cadenzor("cut '" + rbf + "' '" + dir.File("s.rbf") + "' --max-bytes 7", dir);
    EXPECT_EQ(small.status, 1);
    EXPECT_NE(small.out.find("smaller than the header and the end mark"), std::string::npos) << small.out;
    EXPECT_EQ(Cadenzor("cut '" + rbf + "' '" + dir.File("n.rbf") + "'", dir).status, 1);    // no --max-bytes
    EXPECT_EQ(Cadenzor("cut '" + rbf + "' '" + cut + "' --max-bytes 100", dir).status, 2);  // exists, no -y
}

}  // namespace
