// The older speech files and the Q420 PCM file through the tool: written by
// their extension, described by info, and played back to WAV.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "CliRun.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;

TEST(CliLegacy, ConvertsByExtensionAndShowsTheHeader) {
    cz::test::TempDir dir;
    std::vector<int16_t> samples(1000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(9000.0 * std::sin(i * 0.21));
    const std::string wav = dir.File("in.wav");
    ASSERT_TRUE(cz::test::WriteFileBytes(
        wav, cz::test::RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(samples)).Bytes()));
    const struct {
        const char* name;
        const char* format;  // the class info names
        const char* header;  // the code in the header lines
        uint32_t played;     // samples the chip plays
    } rows[] = {
        {"a.wam", "(C_WamFile, id 3)", "format: WADM", 1040},  // 1000 codes and the flush to silence
        {"a.wmd", "(C_WmdFile, id 4)", "format: WMDM", 1014},  // 13 long and 13 short frames
        {"a.wm5", "(C_Q310WmdFile, id 7)", "format: WMD5", 1014},
        {"a.42p", "(C_Q420PcmFile, id 44)", "format: Q42P", 1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string chip = dir.File(row.name), back = dir.File("back.wav");
        ASSERT_EQ(Cadenzor("convert -y -q '" + wav + "' '" + chip + "'", dir).status, 0);
        const auto info = Cadenzor("info '" + chip + "'", dir);
        EXPECT_EQ(info.status, 0);
        EXPECT_NE(info.out.find(row.format), std::string::npos) << info.out;
        EXPECT_NE(info.out.find(row.header), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("samples:     " + std::to_string(row.played) + " "), std::string::npos) << info.out;
        ASSERT_EQ(Cadenzor("convert -y -q '" + chip + "' '" + back + "'", dir).status, 0);
        const auto bytes = cz::test::ReadFileBytes(back);
        ASSERT_GE(bytes.size(), 44u);
        EXPECT_EQ(bytes.size() - 44, 2u * row.played);
    }
}

// --mode is the WAM coding mode: mode 2 pads the codes to four, no flush.
TEST(CliLegacy, WamTakesTheCodingMode) {
    cz::test::TempDir dir;
    std::vector<int16_t> samples(1001, 3000);
    const std::string wav = dir.File("in.wav"), wam = dir.File("a.wam");
    ASSERT_TRUE(cz::test::WriteFileBytes(
        wav, cz::test::RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(samples)).Bytes()));
    ASSERT_EQ(Cadenzor("convert -y -q --mode 2 '" + wav + "' '" + wam + "'", dir).status, 0);
    EXPECT_EQ(cz::test::ReadFileBytes(wam).size(), 22u + 1004 / 2);
    EXPECT_EQ(Cadenzor("convert -y -q --mode 2 '" + wav + "' '" + dir.File("a.wmd") + "'", dir).status, 1);
}

}  // namespace
