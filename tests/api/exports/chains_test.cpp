// Conversion chains through the exported functions, witnessed by sox.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cadenzor/cadenzor.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

// Runs each case with TMPDIR pointing at a fresh folder, so that every
// intermediate file or folder an export leaves behind can be seen.
class ChainTest : public ::testing::Test {
protected:
    size_t ScratchFiles() const { return cz::test::CountEntries(scratch_.Path()); }
    std::string Soxi(const std::string& option, const std::string& path) {
        return cz::test::Soxi(option, path, dir_);
    }

    cz::test::TempDir dir_;
    cz::test::PrivateTmpDir scratch_;  // after dir_, which must not be inside it
};

TEST_F(ChainTest, WavResample) {
    if (!cz::test::HaveTool("sox")) GTEST_SKIP() << "sox is needed";
    std::string in = dir_.File("in.wav");
    ASSERT_EQ(cz::test::RunCommand("sox -n -r 44100 -b 16 -c 2 '" + in + "' synth 0.5 sine 440 2>/dev/null"), 0);
    std::string out = dir_.File("out.wav");
    ASSERT_EQ(WAVResample(in.c_str(), out.c_str(), 16000), 1);
    EXPECT_EQ(Soxi("-r", out), "16000");
    EXPECT_EQ(Soxi("-c", out), "2");
    EXPECT_EQ(Soxi("-s", out), "8000");
    EXPECT_EQ(WAVResample(in.c_str(), dir_.File("zero.wav").c_str(), 0), 0);
    EXPECT_EQ(WAVResample(in.c_str(), dir_.File("huge.wav").c_str(), 384001), 0);
    EXPECT_EQ(WAVResample(dir_.File("missing.wav").c_str(), dir_.File("m.wav").c_str(), 8000), 0);
    EXPECT_EQ(ScratchFiles(), 0u);
}

// A rate field is untrusted: a few kilobytes that say 1 Hz (or a change of
// rate beyond 256 times) are refused at once by every resampling chain,
// instead of sizing an output of billions of samples; nothing is written.
TEST_F(ChainTest, UntrustedRatesAreRefusedByTheResamplingChains) {
    std::vector<int16_t> samples(4000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<int>(i * 37 % 2000) - 1000);
    for (uint32_t rate : {1u, 999u, 400000u}) {
        const std::string in = dir_.File("in" + std::to_string(rate) + ".wav");
        cz::test::RiffBuilder wav;
        wav.Fmt(1, 1, rate, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(samples));
        ASSERT_TRUE(cz::test::WriteFileBytes(in, wav.Bytes()));
        const std::string mdm = dir_.File("o.mdm"), mbin = dir_.File("m.bin");
        const std::string apm = dir_.File("o.apm"), abin = dir_.File("a.bin");
        EXPECT_EQ(WAVResample(in.c_str(), dir_.File("o.wav").c_str(), 16000), 0) << rate;
        EXPECT_EQ(ConvertWAVToMDMWithResample(in.c_str(), mdm.c_str(), mbin.c_str(), 16000), 0) << rate;
        EXPECT_EQ(ConvertWAVToAPMWithResample(in.c_str(), apm.c_str(), abin.c_str(), 16000), 0) << rate;
    }
    // 1000 Hz up to 256000 Hz is the widest change taken.
    const std::string low = dir_.File("low.wav");
    cz::test::RiffBuilder wav;
    wav.Fmt(1, 1, 1000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(samples));
    ASSERT_TRUE(cz::test::WriteFileBytes(low, wav.Bytes()));
    EXPECT_EQ(WAVResample(low.c_str(), dir_.File("wide.wav").c_str(), 256000), 1);
    for (const char* name : {"o.wav", "o.mdm", "m.bin", "o.apm", "a.bin"}) {
        EXPECT_FALSE(cz::test::FileExists(dir_.File(name))) << name;
    }
    EXPECT_EQ(ScratchFiles(), 0u);
}

TEST_F(ChainTest, Mp3ToWavWithAndWithoutResampling) {
    if (!cz::test::HaveTool("sox") || !cz::test::HaveTool("lame")) GTEST_SKIP() << "sox and lame are needed";
    std::string wav = dir_.File("src.wav");
    std::string mp3 = dir_.File("src.mp3");
    ASSERT_EQ(cz::test::RunCommand("sox -n -r 22050 -b 16 -c 1 '" + wav + "' synth 1 sine 440 2>/dev/null"), 0);
    ASSERT_EQ(cz::test::RunCommand("lame --quiet '" + wav + "' '" + mp3 + "'"), 0);
    std::string out = dir_.File("dec.wav");
    ASSERT_EQ(ConvertMP3ToWAV(mp3.c_str(), out.c_str()), 1);
    EXPECT_EQ(Soxi("-r", out), "22050");
    std::string low = dir_.File("low.wav");
    ASSERT_EQ(ConvertMP3ToWAVWithResample(mp3.c_str(), low.c_str(), 8000), 1);
    EXPECT_EQ(Soxi("-r", low), "8000");
    // On into the chip formats: APM and MDM with their binaries and headers.
    struct Chip {
        int32_t (*convert)(const char*, const char*, const char*, uint32_t);
        const char* out;
    } chips[] = {{ConvertMP3ToAPMWithResample, "mp3.apm"}, {ConvertMP3ToMDMWithResample, "mp3.mdm"}};
    for (const auto& c : chips) {
        std::string out = dir_.File(c.out);
        std::string bin = out + ".bin";
        ASSERT_EQ(c.convert(mp3.c_str(), out.c_str(), bin.c_str(), 16000), 1) << c.out;
        EXPECT_EQ(CheckSupportWavFile(out.c_str()), 1) << c.out;
        EXPECT_GT(cz::test::ReadFileBytes(bin).size(), 6u) << c.out;
        EXPECT_TRUE(cz::test::FileExists(bin + ".h")) << c.out;
    }
    std::string back = dir_.File("back.wav");
    ASSERT_EQ(ConvertMDMToWAV(dir_.File("mp3.mdm").c_str(), back.c_str()), 1);
    EXPECT_EQ(Soxi("-r", back), "16000");
    EXPECT_EQ(ConvertMP3ToWAV(wav.c_str(), dir_.File("notmp3.wav").c_str()), 0);
    EXPECT_FALSE(cz::test::FileExists(dir_.File("notmp3.wav")));
    EXPECT_EQ(ConvertMP3ToWAVWithResample(dir_.File("none.mp3").c_str(), dir_.File("x.wav").c_str(), 8000), 0);
    EXPECT_EQ(ScratchFiles(), 0u);
}

}  // namespace
