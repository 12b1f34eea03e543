// The tool on the ADPCM relatives of APM (EAM, SAM, E2A): written by
// extension, described by info, played back to WAV (read back by sox as a
// witness), E2A's resource binary, SAM's coding mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "foundation/ByteReader.h"
#include "support/RiffBuilder.h"

namespace {

using cz::test::Cadenzor;

TEST(CliAdpcmRelatives, ConvertInfoAndPlayBack) {
    cz::test::TempDir dir;
    std::vector<int16_t> samples(6000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(9000.0 * std::sin(i * 0.07) + 2000.0 * std::sin(i * 0.61));
    const std::string wav = dir.File("in.wav");
    ASSERT_TRUE(cz::test::WriteFileBytes(
        wav,
        cz::test::RiffBuilder().Fmt(1, 1, 16000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(samples)).Bytes()));
    const struct {
        const char* name;
        const char* code;
        const char* bits;
    } rows[] = {{"c.eam", "WEAM", "12 valid"}, {"c.sam", "WSAM", "12 valid"}, {"c.ad4", "WE2A", "16 valid"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string coded = dir.File(row.name), played = dir.File("played.wav");
        ASSERT_EQ(Cadenzor("convert -y -q '" + wav + "' '" + coded + "'", dir).status, 0);
        const auto info = Cadenzor("info '" + coded + "'", dir);
        EXPECT_EQ(info.status, 0);
        EXPECT_NE(info.out.find(std::string("format: ") + row.code), std::string::npos) << info.out;
        EXPECT_NE(info.out.find(row.bits), std::string::npos) << info.out;
        ASSERT_EQ(Cadenzor("convert -y -q '" + coded + "' '" + played + "'", dir).status, 0);
        // sox reads the played sound: as many samples as the decoded section.
        const std::vector<uint8_t> file = cz::test::ReadFileBytes(coded);
        ASSERT_GT(file.size(), 62u);
        const std::string soxOut = dir.File("sox.txt");
        if (cz::test::RunCommand("sox --i -s '" + played + "' >'" + soxOut + "' 2>/dev/null") == 0) {
            const auto text = cz::test::ReadFileBytes(soxOut);
            EXPECT_EQ(std::stoul(std::string(text.begin(), text.end())), cz::LoadU32(&file[52]));
        }
    }

    // E2A's resource binary is its frame section after the WE2A header.
    const std::string bin = dir.File("c.bin");
    ASSERT_EQ(Cadenzor("convert -y -q '" + wav + "' '" + dir.File("d.ad4") + "' --bin '" + bin + "'", dir).status, 0);
    const std::vector<uint8_t> file = cz::test::ReadFileBytes(dir.File("d.ad4"));
    const std::vector<uint8_t> resource = cz::test::ReadFileBytes(bin);
    ASSERT_EQ(resource.size(), 6 + cz::LoadU32(&file[32]) - 14);
    EXPECT_EQ(std::memcmp(resource.data(), "WE2A", 4), 0);
    EXPECT_EQ(std::memcmp(&resource[6], &file[76], resource.size() - 6), 0);

    // SAM takes the APM coding mode: mode 1 leads in, header field 60 says so.
    ASSERT_EQ(Cadenzor("convert -y -q --mode 1 '" + wav + "' '" + dir.File("m.sam") + "'", dir).status, 0);
    EXPECT_EQ(cz::LoadU16(&cz::test::ReadFileBytes(dir.File("m.sam"))[60]), 5);
    EXPECT_NE(Cadenzor("convert -y -q --mode 1 '" + wav + "' '" + dir.File("m.eam") + "'", dir).status, 0);
}

}  // namespace
