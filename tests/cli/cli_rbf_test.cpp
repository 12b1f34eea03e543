// Resource binaries in the tool: chip files that share a resource's magic are
// refused with their own reason when damaged, and `cut` keeps whole blocks of
// every coding and says how much sound it kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "CliRun.h"
#include "support/RiffBuilder.h"
#include "support/Signals.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// Two seconds of a voice-like tone at 8 kHz, with a pause.
std::string VoiceWav(const cz::test::TempDir& dir) {
    std::vector<int16_t> pcm = cz::test::Tone(8000, 8000, 220.0, 9000.0);
    pcm.insert(pcm.end(), 2000, 0);
    const std::vector<int16_t> more = cz::test::Tone(6000, 8000, 330.0, 7000.0);
    pcm.insert(pcm.end(), more.begin(), more.end());
    const std::string path = dir.File("voice.wav");
    cz::test::WriteFileBytes(
        path, cz::test::RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", cz::test::WordBytes(pcm)).Bytes());
    return path;
}

std::vector<uint8_t> WavData(const std::string& path) {
    cz::test::WavChunks chunks;
    EXPECT_TRUE(cz::test::SplitWav(cz::test::ReadFileBytes(path), chunks)) << path;
    return chunks.data;
}

// Before: a truncated E2A or WAM file went to the resource reader, which
// decoded its header as a rate of 272 or 101 Hz and its bytes as noise, exit 0.
TEST(CliRbf, DamagedChipFilesAreRefusedWithTheirOwnReason) {
    cz::test::TempDir dir;
    const std::string wav = VoiceWav(dir);
    const struct {
        const char* extension;
        const char* reason;
    } formats[] = {{".ad4", "AD4 file: "}, {".wam", "WAM file: "}};
    for (const auto& f : formats) {
        SCOPED_TRACE(f.extension);
        const std::string chip = dir.File(std::string("voice") + f.extension);
        ASSERT_EQ(Cadenzor("-q convert " + Quote(wav) + " " + Quote(chip), dir).status, 0);
        const std::vector<uint8_t> bytes = cz::test::ReadFileBytes(chip);
        ASSERT_GT(bytes.size(), 2000u);
        const std::string cut = dir.File(std::string("cut") + f.extension), out = dir.File("out.wav");
        for (size_t n : {size_t{20}, size_t{21}, size_t{22}, size_t{40}, size_t{61}, size_t{62}, size_t{100},
                         size_t{1000}, bytes.size() / 2, bytes.size() - 1}) {
            cz::test::WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
            const auto run = Cadenzor("-q -y convert " + Quote(cut) + " " + Quote(out), dir);
            EXPECT_EQ(run.status, 2) << n << ": " << run.out;
            EXPECT_NE(run.out.find(cut + ": " + f.reason), std::string::npos) << n << ": " << run.out;
            EXPECT_FALSE(cz::test::FileExists(out)) << n;
        }
    }
}

// Before: "WADM" and "WE2A" resources cut to any size below their own kept
// no block (8 bytes, no sound) and the tool said nothing. (A "WE2A" long
// block holds up to 64 sub-blocks, 2179 bytes: a limit below the first block
// keeps no sound, so the limits here are at least half the resource.)
TEST(CliRbf, CutKeepsWholeBlocksOfEveryCodingAndSaysHowMuch) {
    cz::test::TempDir dir;
    const std::string wav = VoiceWav(dir);
    for (const char* extension : {".apm", ".ad4", ".mdm", ".42m"}) {
        SCOPED_TRACE(extension);
        const std::string chip = dir.File(std::string("voice") + extension), bin = dir.File("voice.bin");
        ASSERT_EQ(Cadenzor("-q -y convert " + Quote(wav) + " " + Quote(chip) + " --bin " + Quote(bin), dir).status, 0);
        const std::string full = dir.File("full.wav");
        ASSERT_EQ(Cadenzor("-q -y convert " + Quote(bin) + " " + Quote(full), dir).status, 0);
        const std::vector<uint8_t> whole = WavData(full);
        const size_t size = cz::test::ReadFileBytes(bin).size();
        size_t previous = 0;
        for (size_t limit : {size / 2, size * 3 / 4, size - 1, size}) {
            const std::string cut = dir.File("cut.bin"), cutWav = dir.File("cut.wav");
            const auto run =
                Cadenzor("-y cut " + Quote(bin) + " " + Quote(cut) + " --max-bytes " + std::to_string(limit), dir);
            ASSERT_EQ(run.status, 0) << run.out;
            const size_t kept = cz::test::ReadFileBytes(cut).size();
            EXPECT_LE(kept, limit);
            ASSERT_EQ(Cadenzor("-q -y convert " + Quote(cut) + " " + Quote(cutWav), dir).status, 0) << limit;
            const std::vector<uint8_t> part = WavData(cutWav);
            ASSERT_LE(part.size(), whole.size());
            EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin())) << limit;
            EXPECT_GE(part.size(), previous) << limit;
            EXPECT_GT(part.size(), limit == size ? whole.size() - 1 : whole.size() / 8) << limit;
            previous = part.size();
            // The tool's account agrees with what was written.
            char said[200];
            std::snprintf(said, sizeof said, "kept %zu of %zu samples (%.3f of %.3f s), %zu of %zu bytes",
                          part.size() / 2, whole.size() / 2, static_cast<double>(part.size() / 2) / 8000.0,
                          static_cast<double>(whole.size() / 2) / 8000.0, kept, size);
            EXPECT_NE(run.out.find(said), std::string::npos) << said << "\n" << run.out;
        }
        EXPECT_EQ(Cadenzor("-q -y cut " + Quote(bin) + " " + Quote(dir.File("q.bin")) + " --max-bytes 100", dir).out,
                  "");
        // A damaged resource is not cut: the copy would play noise.
        std::vector<uint8_t> damaged = cz::test::ReadFileBytes(bin);
        damaged.resize(damaged.size() - (std::string(extension) == ".mdm" ? 1 : 2));  // the end mark
        cz::test::WriteFileBytes(dir.File("damaged.bin"), damaged);
        const auto bad = Cadenzor(
            "-y cut " + Quote(dir.File("damaged.bin")) + " " + Quote(dir.File("d.bin")) + " --max-bytes 100", dir);
        EXPECT_EQ(bad.status, 2) << bad.out;
        EXPECT_NE(bad.out.find("without its end mark"), std::string::npos) << bad.out;
        EXPECT_FALSE(cz::test::FileExists(dir.File("d.bin")));
    }
}

}  // namespace
