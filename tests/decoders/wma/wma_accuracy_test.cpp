// Decoding accuracy against ffmpeg's WMA decoder as witness: on every stream
// the RMS difference must stay within 0.5 LSB and no sample may be off by
// more than 2 LSB, and the sample counts must agree.
#include <gtest/gtest.h>

#include <cstdio>

#include "WmaTestFiles.h"

namespace cz::wma::test {
namespace {

struct MatrixCase {
    const char* codec;
    int rate;
    int channels;
    const char* bitRate;
};

// v1 and v2 at every rate they are used at, mono and stereo, a low and a
// high bit rate (noise coding is on at the low ones, off at most high ones).
constexpr MatrixCase kMatrix[] = {
    {"wmav1", 8000, 1, "24k"},   {"wmav1", 8000, 2, "64k"},   {"wmav1", 16000, 1, "48k"},  {"wmav1", 16000, 2, "32k"},
    {"wmav1", 22050, 1, "24k"},  {"wmav1", 22050, 2, "128k"}, {"wmav1", 32000, 1, "64k"},  {"wmav1", 32000, 2, "32k"},
    {"wmav1", 44100, 1, "24k"},  {"wmav1", 44100, 2, "128k"}, {"wmav1", 48000, 1, "64k"},  {"wmav1", 48000, 2, "32k"},
    {"wmav2", 8000, 1, "48k"},   {"wmav2", 8000, 2, "32k"},   {"wmav2", 16000, 1, "24k"},  {"wmav2", 16000, 2, "64k"},
    {"wmav2", 22050, 1, "64k"},  {"wmav2", 22050, 2, "32k"},  {"wmav2", 32000, 1, "24k"},  {"wmav2", 32000, 2, "128k"},
    {"wmav2", 44100, 1, "64k"},  {"wmav2", 44100, 2, "32k"},  {"wmav2", 44100, 2, "192k"}, {"wmav2", 48000, 1, "24k"},
    {"wmav2", 48000, 2, "128k"},
};

TEST(WmaAccuracy, FfmpegMatrixMatchesFfmpegDecoder) {
    if (!cz::test::HaveTool("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg missing";
    }
    cz::test::TempDir dir;
    std::printf("%-6s %6s %2s %5s %9s %8s %4s\n", "codec", "rate", "ch", "rate", "samples", "rms", "max");
    for (const MatrixCase& c : kMatrix) {
        const std::string name = std::string(c.codec) + "_" + std::to_string(c.rate) + "_" + std::to_string(c.channels);
        SCOPED_TRACE(name + " " + c.bitRate);
        const std::string wma = dir.File(name + ".wma");
        const std::string pcm = dir.File(name + ".pcm");
        // A tone under pink noise, with a click train for transients.
        const std::string make =
            "ffmpeg -v error -y -f lavfi -i 'sine=frequency=440:duration=1.5' -f lavfi -i "
            "'anoisesrc=d=1.5:a=0.1:c=pink' -filter_complex '[0][1]amix=inputs=2' -c:a " +
            std::string(c.codec) + " -ar " + std::to_string(c.rate) + " -ac " + std::to_string(c.channels) + " -b:a " +
            c.bitRate + " '" + wma + "'";
        ASSERT_EQ(cz::test::RunCommand(make), 0);
        ASSERT_EQ(cz::test::RunCommand("ffmpeg -v error -y -i '" + wma + "' -f s16le '" + pcm + "'"), 0);
        AsfAudio audio;
        ASSERT_TRUE(ReadAsfAudio(cz::test::ReadFileBytes(wma), audio));
        int failures = 0;
        const std::vector<int16_t> ours = DecodeAll(audio, &failures);
        const std::vector<int16_t> reference = ReadPcm(pcm);
        const Difference d = Compare(ours, reference);
        std::printf("%-6s %6d %2d %5s %9zu %8.4f %4d\n", c.codec, c.rate, c.channels, c.bitRate, d.compared, d.rms,
                    d.maxAbs);
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(ours.size(), reference.size());
        EXPECT_GT(reference.size(), size_t(c.rate) * size_t(c.channels));
        EXPECT_LE(d.rms, 0.5);
        EXPECT_LE(d.maxAbs, 2);
    }
}

// Streams from the Windows Media encoders: bit reservoir with several frames
// per unit, variable block lengths, noise-coded high bands, LSP envelopes
// (the 8 kHz stream of the multi-rate file).
struct RealCase {
    const char* file;
    const char* map;  // ffmpeg's name of the same stream
};

constexpr RealCase kReal[] = {
    {"wma92-32k.wma", "0:a:0"},
    {"wma92-vbr.wma", "0:a:0"},
    {"wmv92-with-audio.wmv", "0:a:0"},
    {"wma92-mbr.wma", "0:a:1"},
};

TEST(WmaAccuracy, WindowsMediaEncoderFilesMatchFfmpegDecoder) {
    if (!cz::test::HaveTool("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg missing";
    }
    for (const RealCase& c : kReal) CZ_SKIP_WITHOUT_TESTDATA(cz::test::TestDataDir() + "/asf/" + c.file);
    cz::test::TempDir dir;
    std::printf("%-22s %9s %8s %4s %8s %9s\n", "file", "samples", "rms", "max", "snr(dB)", "level(dB)");
    for (const RealCase& c : kReal) {
        SCOPED_TRACE(c.file);
        const std::string path = cz::test::TestDataDir() + "/asf/" + c.file;
        const std::string pcm = dir.File("ref.pcm");
        ASSERT_EQ(
            cz::test::RunCommand("ffmpeg -v error -y -i '" + path + "' -map " + c.map + " -f s16le '" + pcm + "'"), 0);
        AsfAudio audio;
        ASSERT_TRUE(ReadAsfAudio(cz::test::ReadFileBytes(path), audio));
        int failures = 0;
        const std::vector<int16_t> ours = DecodeAll(audio, &failures);
        const std::vector<int16_t> reference = ReadPcm(pcm);
        const Difference d = Compare(ours, reference);
        std::printf("%-22s %9zu %8.4f %4d %8.1f %9.4f\n", c.file, d.compared, d.rms, d.maxAbs, d.snrDb, d.levelDb);
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(ours.size(), reference.size());
        EXPECT_GT(reference.size(), 4096u);
        EXPECT_LE(d.rms, 0.5);
        EXPECT_LE(d.maxAbs, 2);
    }
}

}  // namespace
}  // namespace cz::wma::test
