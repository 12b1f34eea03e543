// The four WMA exports end to end on ffmpeg-made files, witnessed by sox;
// the intermediate files go to the temporary folder and are removed on every
// path.
#include <gtest/gtest.h>

#include <string>

#include "cadenzor/cadenzor.h"
#include "support/TestSupport.h"

namespace {

class WmaChainTest : public ::testing::Test {
protected:
    size_t ScratchFiles() const { return cz::test::CountEntries(scratch_.Path()); }
    std::string Soxi(const std::string& option, const std::string& path) { return cz::test::Soxi(option, path, dir_); }

    cz::test::TempDir dir_;
    cz::test::PrivateTmpDir scratch_;  // after dir_, which must not be inside it
};

TEST_F(WmaChainTest, WmaToWavApmAndMdm) {
    if (!cz::test::HaveTool("sox") || !cz::test::HaveTool("ffmpeg")) GTEST_SKIP() << "sox and ffmpeg are needed";
    const std::string wav = dir_.File("src.wav"), wma = dir_.File("src.wma");
    ASSERT_EQ(cz::test::RunCommand("sox -n -r 22050 -b 16 -c 2 '" + wav + "' synth 1 sine 440 2>/dev/null"), 0);
    ASSERT_EQ(cz::test::RunCommand("ffmpeg -v quiet -y -i '" + wav + "' -c:a wmav2 -b:a 64k '" + wma + "'"), 0);

    const std::string out = dir_.File("dec.wav");
    ASSERT_EQ(ConvertWMAToWAV(wma.c_str(), out.c_str()), 1);
    EXPECT_EQ(Soxi("-r", out), "22050");
    EXPECT_EQ(Soxi("-c", out), "2");
    const std::string low = dir_.File("low.wav");
    ASSERT_EQ(ConvertWMAToWAVWithResample(wma.c_str(), low.c_str(), 8000), 1);
    EXPECT_EQ(Soxi("-r", low), "8000");
    struct Chip {
        int32_t (*convert)(const char*, const char*, const char*, uint32_t);
        const char* out;
    } chips[] = {{ConvertWMAToAPMWithResample, "wma.apm"}, {ConvertWMAToMDMWithResample, "wma.mdm"}};
    for (const auto& c : chips) {
        const std::string chip = dir_.File(c.out), bin = chip + ".bin";
        ASSERT_EQ(c.convert(wma.c_str(), chip.c_str(), bin.c_str(), 16000), 1) << c.out;
        EXPECT_EQ(CheckSupportWavFile(chip.c_str()), 1) << c.out;
        EXPECT_GT(cz::test::ReadFileBytes(bin).size(), 6u) << c.out;
        EXPECT_TRUE(cz::test::FileExists(bin + ".h")) << c.out;
    }
    const std::string back = dir_.File("back.wav");
    ASSERT_EQ(ConvertMDMToWAV(dir_.File("wma.mdm").c_str(), back.c_str()), 1);
    EXPECT_EQ(Soxi("-r", back), "16000");
    EXPECT_EQ(ScratchFiles(), 0u);
}

TEST_F(WmaChainTest, RefusedInputLeavesNothing) {
    const std::string pro = cz::test::TestDataDir() + "/asf/wma92-48k-pro.wma";
    const std::string notWma = dir_.File("not.wma");
    ASSERT_TRUE(cz::test::WriteFileBytes(notWma, std::vector<uint8_t>(200, 0x30)));
    // The real WMA Professional file comes last: a clone without the shared
    // test data checks the others, then reports the skip.
    for (const std::string& in : {notWma, dir_.File("missing.wma"), pro}) {
        if (in == pro) CZ_SKIP_WITHOUT_TESTDATA(pro);
        EXPECT_EQ(ConvertWMAToWAV(in.c_str(), dir_.File("o.wav").c_str()), 0) << in;
        EXPECT_EQ(ConvertWMAToWAVWithResample(in.c_str(), dir_.File("r.wav").c_str(), 8000), 0) << in;
        EXPECT_EQ(ConvertWMAToAPMWithResample(in.c_str(), dir_.File("o.apm").c_str(), dir_.File("a.bin").c_str(), 8000),
                  0)
            << in;
        EXPECT_EQ(ConvertWMAToMDMWithResample(in.c_str(), dir_.File("o.mdm").c_str(), dir_.File("m.bin").c_str(), 8000),
                  0)
            << in;
        for (const char* name : {"o.wav", "r.wav", "o.apm", "a.bin", "o.mdm", "m.bin"})
            EXPECT_FALSE(cz::test::FileExists(dir_.File(name))) << name << " " << in;
        EXPECT_EQ(ScratchFiles(), 0u) << in;
    }
}

}  // namespace
