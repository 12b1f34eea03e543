// Decoding accuracy against mpg123 as witness: ISO/IEC 11172-4 asks for an RMS
// difference below 2^-15 / sqrt(12) of full scale (0.289 LSB at 16 bits) and
// no sample off by more than 2^-14 (2 LSB).
#include <gtest/gtest.h>

#include <cstdio>

#include "Mp3TestFiles.h"

namespace cz::mp3::test {
namespace {

struct AccuracyCase {
    const char* name;
    const char* format;   // sox output format
    const char* effects;  // sox synth and effects
    const char* lame;     // lame arguments
};

// Short clips: noise and tones stress the Huffman tables and requantisation,
// the clicks force short blocks.
constexpr AccuracyCase kCases[] = {
    {"cbr32", "-r 44100 -c 2 -b 16", "synth 2 pinknoise pinknoise gain -6", "-b 32"},
    {"cbr64", "-r 44100 -c 2 -b 16", "synth 2 pinknoise pinknoise gain -6", "-b 64"},
    {"cbr128", "-r 44100 -c 2 -b 16", "synth 2 pinknoise pinknoise gain -6", "-b 128"},
    {"cbr192", "-r 48000 -c 2 -b 16", "synth 2 pinknoise sine 1000 gain -6", "-b 192"},
    {"cbr320", "-r 44100 -c 2 -b 16", "synth 2 pinknoise pinknoise gain -6", "-b 320"},
    {"cbr256_32k", "-r 32000 -c 2 -b 16", "synth 2 pinknoise pinknoise gain -6", "-b 256"},
    {"vbr", "-r 44100 -c 2 -b 16", "synth 2 pluck C3 pinknoise gain -3", "-V 2"},
    {"joint", "-r 44100 -c 2 -b 16", "synth 2 sine 440 sine 445 gain -3", "-m j -b 96"},
    {"stereo", "-r 44100 -c 2 -b 16", "synth 2 pinknoise sine 300 gain -6", "-m s -b 128"},
    {"dual", "-r 44100 -c 2 -b 16", "synth 2 pinknoise sine 300 gain -6", "-m d -b 128"},
    {"mono", "-r 44100 -c 1 -b 16", "synth 2 pinknoise gain -6", "-m m -b 64"},
    {"mpeg2_16k", "-r 16000 -c 2 -b 16", "synth 2 pinknoise pinknoise gain -6", "-b 48"},
    {"mpeg2_22k", "-r 22050 -c 2 -b 16", "synth 2 pinknoise pinknoise gain -6", "-b 64"},
    {"mpeg2_24k", "-r 24000 -c 1 -b 16", "synth 2 pinknoise gain -6", "-b 32"},
    {"mpeg25_8k", "-r 8000 -c 1 -b 16", "synth 2 pinknoise gain -6", "-b 16"},
    {"mpeg25_11k", "-r 11025 -c 2 -b 16", "synth 2 pinknoise pinknoise gain -6", "-b 24"},
    {"mpeg25_12k", "-r 12000 -c 1 -b 16", "synth 2 pinknoise gain -6", "-b 24"},
    {"freeformat", "-r 44100 -c 2 -b 16", "synth 2 pinknoise pinknoise gain -6", "--freeformat -b 200"},
    {"crc", "-r 44100 -c 2 -b 16", "synth 2 pinknoise pinknoise gain -6", "-p -b 128"},
    {"clicks", "-r 44100 -c 2 -b 16", "synth 2 square 4 square 5 gain -25 highpass 3000 gain 15", "-b 128"},
    {"clicks_mpeg2", "-r 22050 -c 1 -b 16", "synth 2 square 6 gain -25 highpass 2000 gain 15", "-b 40"},
    {"fullscale", "-r 44100 -c 2 -b 16", "synth 2 square 200 square 301", "-b 192"},
};

TEST(Mp3Accuracy, MatchesMpg123WithinIsoLimits) {
    if (!HaveEncoders() || !cz::test::HaveTool("mpg123")) {
        GTEST_SKIP() << "sox, lame or mpg123 missing";
    }
    cz::test::TempDir dir;
    std::printf("%-14s %10s %5s %9s\n", "file", "rms(LSB)", "max", "samples");
    for (const AccuracyCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string wav = dir.File(std::string(c.name) + ".wav");
        const std::string mp3 = dir.File(std::string(c.name) + ".mp3");
        const std::string ref = dir.File(std::string(c.name) + ".pcm");
        ASSERT_TRUE(MakeMp3(wav, mp3, c.format, c.effects, c.lame));
        ASSERT_EQ(cz::test::RunCommand("mpg123 -q --no-gapless -s '" + mp3 + "' > '" + ref + "' 2>/dev/null"), 0);
        const std::vector<uint8_t> bytes = cz::test::ReadFileBytes(mp3);
        std::vector<uint8_t> out;
        C_Mp3ToWavConverter converter;
        ASSERT_EQ(converter.ConvertMemory(bytes.data(), bytes.size(), &out, nullptr, 0), 1);
        const std::vector<int16_t> ours = WavSamples(out);
        const std::vector<int16_t> reference = Samples(cz::test::ReadFileBytes(ref), 0);
        const size_t channels = Le16At(out, 22);
        const size_t frame = (Le32At(out, 24) >= 32000 ? 1152 : 576) * channels;
        // mpg123 leaves out lame's Info frame, which this decoder plays as a
        // silent frame: align on the first audio frame.
        const Difference diff = Compare(ours, reference, {0, frame});
        std::printf("%-14s %10.4f %5d %9zu\n", c.name, diff.rms, diff.maxAbs, diff.compared);
        EXPECT_GT(diff.compared, reference.size() * 9 / 10);
        EXPECT_LT(diff.rms, 0.289);
        EXPECT_LE(diff.maxAbs, 2);
    }
}

}  // namespace
}  // namespace cz::mp3::test
