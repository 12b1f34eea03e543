// The tool's two profiles: the best sound by default (gapless MP3, clean
// resampling, the searching coders) and --compatible, which gives exactly the
// exported functions' bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "CliRun.h"
#include "api/chains/Chains.h"
#include "formats/registry/FormatId.h"
#include "support/TestSupport.h"

namespace cz::test {
namespace {

using cz::test::ReadFileBytes;

// 16-bit samples of a WAV file the tool or the library wrote (44-byte header).
std::vector<int16_t> Pcm(const std::string& path) {
    const std::vector<uint8_t> b = ReadFileBytes(path);
    std::vector<int16_t> s;
    for (size_t i = 44; i + 1 < b.size(); i += 2) s.push_back(int16_t(uint16_t(b[i] | b[i + 1] << 8)));
    return s;
}

double Snr(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        signal += double(a[i]) * a[i];
        noise += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-9));
}

class CliProfile : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("sox")) GTEST_SKIP() << "sox is needed";
        ASSERT_EQ(RunCommand("sox -r 16000 -n -r 16000 -b 16 -c 1 '" + wav + "' synth 1 pinknoise vol 0.2 "
                             "synth 1 sine amod 5 2>/dev/null"),
                  0);
    }
    TempDir dir;
    const std::string wav = dir.File("voice.wav");
};

TEST_F(CliProfile, CompatibleApmIsTheExportsAndTheDefaultSearches) {
    const std::string exported = dir.File("export.apm");
    const std::string binary = dir.File("export.bin");
    ASSERT_EQ(api::ConvertWavToChip(wav.c_str(), exported.c_str(), binary.c_str(), kFormatApm), 1);
    ASSERT_EQ(Cadenzor("convert '" + wav + "' '" + dir.File("c.apm") + "' --compatible -q", dir).status, 0);
    EXPECT_EQ(ReadFileBytes(dir.File("c.apm")), ReadFileBytes(exported));

    // The default and every effort on speech: played by the same decoder,
    // better; with padding only (--mode 2) exactly the classic size, with the
    // flush to silence within its few tail codes.
    if (!HaveTool("espeak-ng")) GTEST_SKIP() << "espeak-ng is needed for the speech";
    const std::string speech = dir.File("speech.wav"), voice = dir.File("voice16.wav");
    ASSERT_EQ(RunCommand("espeak-ng -w '" + voice + "' 'Every byte of a speech chip counts, so the coder searches.' && "
                         "sox '" + voice + "' -r 8000 -b 16 -c 1 '" + speech + "' 2>/dev/null"),
              0);
    for (const std::string mode : {"0", "2"}) {
        const std::string c = dir.File("c" + mode + ".apm"), cw = dir.File("c" + mode + ".wav");
        ASSERT_EQ(Cadenzor("convert '" + speech + "' '" + c + "' --compatible -q --mode " + mode, dir).status, 0);
        ASSERT_EQ(Cadenzor("convert '" + c + "' '" + cw + "' -q", dir).status, 0);
        const double classic = Snr(Pcm(speech), Pcm(cw));
        for (const std::string effort : {"", "--effort fast", "--effort high", "--effort=max"}) {
            const std::string apm = dir.File("b.apm"), back = dir.File("b.wav");
            ASSERT_EQ(Cadenzor("convert '" + speech + "' '" + apm + "' -y -q --mode " + mode + " " + effort, dir).status,
                      0)
                << effort;
            const long size = long(ReadFileBytes(apm).size()), classicSize = long(ReadFileBytes(c).size());
            if (mode == "2")
                EXPECT_EQ(size, classicSize) << effort;
            else
                EXPECT_LE(std::labs(size - classicSize), 64) << effort;
            ASSERT_EQ(Cadenzor("convert '" + apm + "' '" + back + "' -y -q", dir).status, 0);
            EXPECT_GT(Snr(Pcm(speech), Pcm(back)), classic + 1.5) << effort << " mode " << mode;
        }
    }
}

TEST_F(CliProfile, OptionsAreCheckedBeforeAnythingIsWritten) {
    auto bad = Cadenzor("convert '" + wav + "' '" + dir.File("x.apm") + "' --effort medium", dir);
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("--effort takes 'fast', 'high' or 'max'"), std::string::npos) << bad.out;
    auto both = Cadenzor("convert '" + wav + "' '" + dir.File("x.apm") + "' --compatible --effort max", dir);
    EXPECT_EQ(both.status, 1);
    EXPECT_FALSE(FileExists(dir.File("x.apm")));
    EXPECT_EQ(Cadenzor("resample '" + wav + "' '" + dir.File("x.wav") + "' --rate 8000 --effort max", dir).status, 1);
}

TEST_F(CliProfile, ResamplingIsCleanUnlessCompatible) {
    const std::string exported = dir.File("export.wav");
    ASSERT_EQ(api::ResampleWav(wav.c_str(), exported.c_str(), 8000), 1);
    ASSERT_EQ(Cadenzor("resample '" + wav + "' '" + dir.File("c.wav") + "' --rate 8000 --compatible -q", dir).status,
              0);
    EXPECT_EQ(ReadFileBytes(dir.File("c.wav")), ReadFileBytes(exported));
    // A 4.4 kHz tone at 16 kHz has nothing to give below 4 kHz.
    const std::string tone = dir.File("tone.wav");
    ASSERT_EQ(RunCommand("sox -r 16000 -n -b 16 -c 1 '" + tone + "' synth 1 sine 4400 vol 0.5 2>/dev/null"), 0);
    ASSERT_EQ(Cadenzor("resample '" + tone + "' '" + dir.File("t.wav") + "' --rate 8000 -q", dir).status, 0);
    double peak = 0;
    const std::vector<int16_t> out = Pcm(dir.File("t.wav"));
    for (size_t i = 200; i + 200 < out.size(); ++i) peak = std::max(peak, std::fabs(double(out[i])));
    EXPECT_LT(peak, 4.0);  // more than 78 dB down from 16384, rounding included
}

TEST_F(CliProfile, Mp3DecodesGaplessUnlessCompatible) {
    if (!HaveTool("lame")) GTEST_SKIP() << "lame is needed";
    const std::string mp3 = dir.File("voice.mp3");
    ASSERT_EQ(RunCommand("lame --quiet -b 64 '" + wav + "' '" + mp3 + "' 2>/dev/null"), 0);
    const std::string exported = dir.File("export.wav");
    ASSERT_EQ(api::ConvertCompressedToWav(api::Compressed::kMp3, mp3.c_str(), exported.c_str()), 1);
    ASSERT_EQ(Cadenzor("convert '" + mp3 + "' '" + dir.File("c.wav") + "' --compatible -q", dir).status, 0);
    EXPECT_EQ(ReadFileBytes(dir.File("c.wav")), ReadFileBytes(exported));
    ASSERT_EQ(Cadenzor("convert '" + mp3 + "' '" + dir.File("g.wav") + "' -q", dir).status, 0);
    EXPECT_EQ(Pcm(dir.File("g.wav")).size(), Pcm(wav).size());
    EXPECT_GT(Snr(Pcm(wav), Pcm(dir.File("g.wav"))), 10.0);  // at lag 0
}

}  // namespace
}  // namespace cz::test
