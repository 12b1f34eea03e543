// ADPCM WAV files written by sox and ffmpeg decode to the very samples that
// sox's and ffmpeg's own decoders give: sox's with the reference arithmetic,
// ffmpeg's with the exact-product arithmetic (the two tools round
// differently; see WavAdpcmArithmetic).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/RiffBuilder.h"
#include "support/TestSupport.h"
#include "codecs/wavadpcm/WavAdpcmDecode.h"

namespace cz {
namespace {

using test::BuildWav;
using test::Le16;
using test::Put16At;
using test::ReadFileBytes;
using test::RunCommand;
using test::Samples16;
using test::SplitWav;
using test::TempDir;
using test::WavChunks;
using test::WriteFileBytes;

bool HaveTools() { return test::HaveTool("sox") && test::HaveTool("ffmpeg"); }

// A chirp per channel with pink noise on top: every code and step size gets
// used, and the channels differ.
std::string MakeSource(const TempDir& dir, int rate, int channels) {
    const std::string path = dir.File("src_" + std::to_string(rate) + "_" + std::to_string(channels) + ".wav");
    if (test::FileExists(path)) return path;
    const std::string cmd = "sox -q -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 " +
                            path + " synth 0.8 sine 220-4400 sine 330-990 synth 0.8 pinknoise mix gain -3";
    EXPECT_EQ(RunCommand(cmd), 0) << cmd;
    return path;
}

struct DecodeResult {
    bool ok = false;
    std::vector<int16_t> samples;
    WavAdpcmStreamInfo info;
};

DecodeResult DecodeOurs(const WavChunks& chunks, WavAdpcmArithmetic arithmetic) {
    DecodeResult r;
    r.ok = DecodeWavAdpcm(chunks.fmt.data(), chunks.fmt.size(), chunks.data.data(), chunks.data.size(), r.samples,
                          &r.info, arithmetic);
    return r;
}

std::vector<int16_t> DecodeWithSox(const TempDir& dir, const std::string& wav) {
    const std::string raw = dir.File("sox.raw");
    const std::string cmd = "sox -q " + wav + " -t raw -e signed -b 16 " + raw + " 2>/dev/null";
    EXPECT_EQ(RunCommand(cmd), 0) << cmd;
    return Samples16(ReadFileBytes(raw));
}

std::vector<int16_t> DecodeWithFfmpeg(const TempDir& dir, const std::string& wav) {
    const std::string raw = dir.File("ff.raw");
    const std::string cmd = "ffmpeg -nostdin -v quiet -y -i " + wav + " -f s16le " + raw;
    EXPECT_EQ(RunCommand(cmd), 0) << cmd;
    return Samples16(ReadFileBytes(raw));
}

size_t CountDifferences(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    size_t n = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) n += a[i] != b[i];
    return n;
}

enum class Encoder { kSox, kFfmpeg };
enum class Kind { kIma, kMs };

struct Case {
    const char* name;
    Encoder encoder;
    Kind kind;
    int rate;
    int channels;
    int blockSize;   // ffmpeg -block_size; 0 = the encoder's default
    int cutFromEnd;  // bytes removed from the data chunk: a last partial block
};

constexpr Case kCases[] = {
    {"sox ima mono 8k", Encoder::kSox, Kind::kIma, 8000, 1, 0, 0},
    {"sox ima stereo 22k", Encoder::kSox, Kind::kIma, 22050, 2, 0, 0},
    {"sox ima mono 44k", Encoder::kSox, Kind::kIma, 44100, 1, 0, 0},
    {"sox ms mono 8k", Encoder::kSox, Kind::kMs, 8000, 1, 0, 0},
    {"sox ms stereo 22k", Encoder::kSox, Kind::kMs, 22050, 2, 0, 0},
    {"sox ms stereo 44k", Encoder::kSox, Kind::kMs, 44100, 2, 0, 0},
    {"ffmpeg ima mono 256", Encoder::kFfmpeg, Kind::kIma, 16000, 1, 256, 0},
    {"ffmpeg ima mono 4096", Encoder::kFfmpeg, Kind::kIma, 16000, 1, 4096, 0},
    {"ffmpeg ima stereo 512", Encoder::kFfmpeg, Kind::kIma, 22050, 2, 512, 0},
    {"ffmpeg ima stereo 2048", Encoder::kFfmpeg, Kind::kIma, 44100, 2, 2048, 0},
    {"ffmpeg ms mono 256", Encoder::kFfmpeg, Kind::kMs, 16000, 1, 256, 0},
    {"ffmpeg ms mono 2048", Encoder::kFfmpeg, Kind::kMs, 16000, 1, 2048, 0},
    {"ffmpeg ms stereo 512", Encoder::kFfmpeg, Kind::kMs, 22050, 2, 512, 0},
    {"ffmpeg ms stereo 4096", Encoder::kFfmpeg, Kind::kMs, 44100, 2, 4096, 0},
    // Data chunks that end inside a block.
    {"sox ima stereo cut", Encoder::kSox, Kind::kIma, 22050, 2, 0, 333},
    {"sox ms mono cut", Encoder::kSox, Kind::kMs, 8000, 1, 0, 101},
    {"ffmpeg ima mono cut", Encoder::kFfmpeg, Kind::kIma, 16000, 1, 1024, 517},
    {"ffmpeg ima stereo cut", Encoder::kFfmpeg, Kind::kIma, 22050, 2, 512, 250},
    {"ffmpeg ms mono cut", Encoder::kFfmpeg, Kind::kMs, 16000, 1, 1024, 333},
    {"ffmpeg ms stereo cut", Encoder::kFfmpeg, Kind::kMs, 22050, 2, 512, 123},
    // A last fragment shorter than the block header: dropped by everyone.
    {"ffmpeg ima stereo header cut", Encoder::kFfmpeg, Kind::kIma, 22050, 2, 512, 512 - 5},
    {"ffmpeg ms stereo header cut", Encoder::kFfmpeg, Kind::kMs, 22050, 2, 512, 512 - 9},
};

std::string Encode(const TempDir& dir, const Case& c) {
    const std::string src = MakeSource(dir, c.rate, c.channels);
    const std::string out = dir.File("enc.wav");
    std::string cmd;
    if (c.encoder == Encoder::kSox) {
        cmd = "sox -q " + src + " -e " + (c.kind == Kind::kIma ? "ima-adpcm " : "ms-adpcm ") + out;
    } else {
        cmd = "ffmpeg -nostdin -v error -y -i " + src + " -c:a " +
              (c.kind == Kind::kIma ? "adpcm_ima_wav" : "adpcm_ms") + " -block_size " + std::to_string(c.blockSize) +
              " " + out;
    }
    EXPECT_EQ(RunCommand(cmd), 0) << cmd;
    return out;
}

TEST(WavAdpcmCrossCheck, MatchesSoxAndFfmpegDecoders) {
    if (!HaveTools()) GTEST_SKIP() << "sox and ffmpeg needed";
    TempDir dir;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string encoded = Encode(dir, c);
        WavChunks chunks;
        ASSERT_TRUE(SplitWav(ReadFileBytes(encoded), chunks));
        const uint16_t blockAlign = static_cast<uint16_t>(chunks.fmt[12] | (chunks.fmt[13] << 8));
        if (c.blockSize) {
            ASSERT_EQ(blockAlign, c.blockSize);
        }
        std::string wav = encoded;
        if (c.cutFromEnd) {
            ASSERT_GT(chunks.data.size(), static_cast<size_t>(c.cutFromEnd));
            chunks.data.resize(chunks.data.size() - c.cutFromEnd);
            ASSERT_NE(chunks.data.size() % blockAlign, 0u);
            wav = dir.File("cut.wav");
            ASSERT_TRUE(WriteFileBytes(wav, BuildWav(chunks.fmt, chunks.data)));
        }

        const DecodeResult reference = DecodeOurs(chunks, WavAdpcmArithmetic::kReference);
        const DecodeResult exact = DecodeOurs(chunks, WavAdpcmArithmetic::kExactProduct);
        ASSERT_TRUE(reference.ok) << WavAdpcmErrorText(reference.info.error);
        ASSERT_TRUE(exact.ok);
        EXPECT_EQ(reference.info.channels, c.channels);
        EXPECT_EQ(reference.samples.size(), reference.info.frames * c.channels);

        const std::vector<int16_t> sox = DecodeWithSox(dir, wav);
        const std::vector<int16_t> ffmpeg = DecodeWithFfmpeg(dir, wav);
        ASSERT_FALSE(sox.empty());
        EXPECT_EQ(reference.samples.size(), sox.size());
        EXPECT_TRUE(reference.samples == sox) << CountDifferences(reference.samples, sox) << " samples differ from sox";
        EXPECT_EQ(exact.samples.size(), ffmpeg.size());
        EXPECT_TRUE(exact.samples == ffmpeg)
            << CountDifferences(exact.samples, ffmpeg) << " samples differ from ffmpeg";
        if (c.cutFromEnd > blockAlign - static_cast<int>(reference.info.channels) * (c.kind == Kind::kIma ? 4 : 7)) {
            EXPECT_GT(reference.info.ignoredTailBytes, 0u);
        }
        std::printf("  %-30s block %5u spb %5u frames %7zu  sox vs ffmpeg: %zu samples differ\n", c.name, blockAlign,
                    reference.info.samplesPerBlock, reference.info.frames, CountDifferences(sox, ffmpeg));
    }
}

TEST(WavAdpcmCrossCheck, StandardImaMonoBlockHolds505Samples) {
    if (!HaveTools()) GTEST_SKIP() << "sox and ffmpeg needed";
    TempDir dir;
    const std::string encoded = Encode(dir, kCases[0]);
    WavChunks chunks;
    ASSERT_TRUE(SplitWav(ReadFileBytes(encoded), chunks));
    const DecodeResult r = DecodeOurs(chunks, WavAdpcmArithmetic::kReference);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.info.blockAlign, 256);
    EXPECT_EQ(r.info.samplesPerBlock, 505);
    ASSERT_EQ(chunks.data.size() % 256, 0u);
    EXPECT_EQ(r.info.frames, chunks.data.size() / 256 * 505);
}

// Patched format records that only sox honours: it reads the coefficient
// pairs from the file and stops each block after the stated samples per
// block, where ffmpeg uses the seven standard pairs and fills every block.
TEST(WavAdpcmCrossCheck, HonoursFormatRecordLikeSox) {
    if (!HaveTools()) GTEST_SKIP() << "sox and ffmpeg needed";
    TempDir dir;
    struct Patch {
        const char* name;
        Kind kind;
        int channels;
        void (*apply)(std::vector<uint8_t>& fmt);
    };
    const Patch patches[] = {
        {"ms custom coefficient pairs", Kind::kMs, 2,
         [](std::vector<uint8_t>& fmt) {
             // Every pair nudged off the standard values (coefficients not
             // multiples of 4, so no divided-by-4 table can hold them).
             const int count = Le16(&fmt[20]);
             for (int i = 0; i < count; ++i) {
                 for (int k = 0; k < 2; ++k) {
                     const size_t at = 22 + 4 * i + 2 * k;
                     const auto v = static_cast<int16_t>(Le16(&fmt[at]));
                     Put16At(fmt, at, static_cast<uint16_t>(v - 7 + 3 * i));
                 }
             }
         }},
        {"ms fewer samples per block", Kind::kMs, 1,
         [](std::vector<uint8_t>& fmt) { Put16At(fmt, 18, static_cast<uint16_t>(Le16(&fmt[18]) - 13)); }},
        // sox takes only 1 + 8k samples per IMA block; values in between
        // are covered by the in-code fixtures.
        {"ima fewer samples per block", Kind::kIma, 1,
         [](std::vector<uint8_t>& fmt) { Put16At(fmt, 18, static_cast<uint16_t>(Le16(&fmt[18]) - 8)); }},
        {"ima stereo fewer samples per block", Kind::kIma, 2,
         [](std::vector<uint8_t>& fmt) { Put16At(fmt, 18, static_cast<uint16_t>(Le16(&fmt[18]) - 40)); }},
    };
    for (const Patch& p : patches) {
        SCOPED_TRACE(p.name);
        const Case c{p.name, Encoder::kSox, p.kind, 8000, p.channels, 0, 0};
        WavChunks chunks;
        ASSERT_TRUE(SplitWav(ReadFileBytes(Encode(dir, c)), chunks));
        p.apply(chunks.fmt);
        const std::string wav = dir.File("patched.wav");
        ASSERT_TRUE(WriteFileBytes(wav, BuildWav(chunks.fmt, chunks.data)));
        const DecodeResult r = DecodeOurs(chunks, WavAdpcmArithmetic::kReference);
        ASSERT_TRUE(r.ok) << WavAdpcmErrorText(r.info.error);
        const std::vector<int16_t> sox = DecodeWithSox(dir, wav);
        EXPECT_EQ(r.samples.size(), sox.size());
        EXPECT_TRUE(r.samples == sox) << CountDifferences(r.samples, sox) << " samples differ from sox";
    }
}

}  // namespace
}  // namespace cz
