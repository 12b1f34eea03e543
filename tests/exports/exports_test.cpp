// The shared library seen from outside: its export list and its results.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "cadenzor/cadenzor.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

const char* const kExports[] = {
    "ConvertWAVToAPM", "ConvertWAVToMDM", "ConvertWAVToAPMWithResample", "ConvertWAVToMDMWithResample",
    "ConvertWAVToESB", "ConvertWAVToMCP", "ConvertWAVToWLP", "ConvertWAVToXMF", "ConvertWAVToXMFWithResample",
    "WAVResample", "CheckSupportWavFile", "ConvertMDMToWAV", "ConvertMP3ToWAV", "ConvertMP3ToWAVWithResample",
    "ConvertMP3ToAPMWithResample", "ConvertMP3ToMDMWithResample", "ConvertWMAToWAV", "ConvertWMAToWAVWithResample",
    "ConvertWMAToAPMWithResample", "ConvertWMAToMDMWithResample", "ConvertMIDToIMF", "ConvertMIDToIMFByChipItem",
    "ConvertMIDToXMF", "ConvertXMFToMID", "ConvertXMFToMIDAndDLS", "ConvertXMFToMIDAndDLSForPlay", "ConvertXMFToWAV",
    "GetXMFResourceType", "RbfCutToFitSize"};

TEST(Exports, ExactlyTheTwentyNineNames) {
    if (!cz::test::HaveTool("nm")) GTEST_SKIP() << "nm is needed";
    cz::test::TempDir dir;
    std::string list = dir.File("symbols.txt");
    ASSERT_EQ(cz::test::RunCommand("nm -D --defined-only '" + cz::test::LibDir() +
                                   "/libcadenzor.so' | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sort > '" + list + "'"),
              0);
    auto bytes = cz::test::ReadFileBytes(list);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::set<std::string> found;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) found.insert(line);
    std::set<std::string> expected(std::begin(kExports), std::end(kExports));
    EXPECT_EQ(found, expected);
}

TEST(Exports, CheckSupportWavFile) {
    cz::test::TempDir dir;
    std::string wav = dir.File("a.wav");
    cz::test::WriteFileBytes(wav, cz::test::RiffBuilder().Fmt(1, 2, 22050, 16).Chunk("data", {1, 0, 2, 0}).Bytes());
    std::string notWave = dir.File("b.wav");
    cz::test::WriteFileBytes(notWave, cz::test::RiffBuilder("RMID").Chunk("data", {1, 0}).Bytes());
    std::string floatWav = dir.File("f.wav");
    cz::test::WriteFileBytes(floatWav,
                             cz::test::RiffBuilder().Fmt(3, 1, 8000, 32).Chunk("data", {0, 0, 0, 0}).Bytes());
    EXPECT_EQ(CheckSupportWavFile(wav.c_str()), 1);
    EXPECT_EQ(CheckSupportWavFile(notWave.c_str()), 0);
    EXPECT_EQ(CheckSupportWavFile(floatWav.c_str()), 0);
    EXPECT_EQ(CheckSupportWavFile(dir.File("missing.wav").c_str()), 0);
    EXPECT_EQ(CheckSupportWavFile(""), 0);
    EXPECT_EQ(CheckSupportWavFile(nullptr), 0);
    // A path far longer than the old 260-character limit is neither cut nor refused.
    std::string longDir = dir.Path();
    for (int i = 0; i < 6; ++i) {
        longDir += "/" + std::string(60, static_cast<char>('a' + i));
        ASSERT_EQ(cz::test::RunCommand("mkdir -p '" + longDir + "'"), 0);
    }
    std::string longPath = longDir + "/sound.wav";
    cz::test::WriteFileBytes(longPath, cz::test::ReadFileBytes(wav));
    EXPECT_EQ(CheckSupportWavFile(longPath.c_str()), 1);
}

TEST(Exports, ChainsNotBuiltYetFailCleanly) {
    cz::test::TempDir dir;
    std::string in = dir.File("in.xmf");
    EXPECT_EQ(GetXMFResourceType(in.c_str()), -1);
    EXPECT_EQ(ConvertXMFToMID(in.c_str(), dir.File("o.mid").c_str()), 0);
    EXPECT_EQ(ConvertMIDToIMFByChipItem(0, 0, 0), 0);
    EXPECT_EQ(ConvertWMAToWAV(in.c_str(), dir.File("o.wav").c_str()), 0);
    EXPECT_EQ(RbfCutToFitSize(in.c_str(), dir.File("o.rbf").c_str(), 100), 0);
    EXPECT_EQ(ConvertMDMToWAV(dir.File("x.wav").c_str(), dir.File("o.wav").c_str()), 0);
}

}  // namespace
