// The WMA-to-WAV driver on real files and on ffmpeg-made ones, with ffmpeg's
// decoding as the witness: the real files decode or are refused as their
// README says, and the ffmpeg-made matrix (versions 1 and 2, 8 to 48 kHz,
// mono and stereo, low and high bit rates) decodes within 0.5 LSB RMS and
// 2 LSB at most of ffmpeg's samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "decoders/wma/C_WmaToWavConverter.h"
#include "decoders/wma/WmaFileDecoder.h"
#include "support/LittleEndian.h"
#include "support/TestSupport.h"

namespace cz::wma::test {
namespace {

std::string AsfDir() { return cz::test::TestDataDir() + "/asf/"; }

// The samples of a WAV the driver wrote (46-byte header).
std::vector<int16_t> WavSamples(const std::vector<uint8_t>& wav) {
    std::vector<int16_t> s;
    for (size_t i = 46; i + 1 < wav.size(); i += 2) s.push_back(int16_t(cz::test::Le16(&wav[i])));
    return s;
}

// ffmpeg's decoding of the first audio stream, as 16-bit samples.
std::vector<int16_t> FfmpegSamples(const std::string& in, const cz::test::TempDir& dir) {
    const std::string raw = dir.File("ffmpeg.raw");
    if (cz::test::RunCommand("ffmpeg -v quiet -y -i '" + in + "' -map 0:a:0 -f s16le -acodec pcm_s16le '" + raw +
                             "'") != 0)
        return {};
    const std::vector<uint8_t> bytes = cz::test::ReadFileBytes(raw);
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(cz::test::Le16(&bytes[2 * i]));
    return s;
}

// Whether the frame decoder is in this build (the driver is tested alone
// elsewhere; these cases need real decoding).
bool FrameDecoderBuilt() {
    static const bool built = [] {
        auto decoder = MakeWmaUnitDecoder();
        AsfAudioFormat format;
        format.formatTag = kTagWmaV2;
        format.channels = 2;
        format.sampleRate = 44100;
        format.avgBytesPerSecond = 16000;
        format.blockAlign = 743;
        format.bitsPerSample = 16;
        format.extra = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
        return decoder->Open(format);
    }();
    return built;
}

struct Difference {
    double rms = 0;
    int max = 0;
};
Difference Compare(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    Difference d;
    double sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const int e = std::abs(int(a[i]) - int(b[i]));
        sum += double(e) * e;
        d.max = std::max(d.max, e);
    }
    d.rms = a.empty() ? 0 : std::sqrt(sum / double(a.size()));
    return d;
}

TEST(WmaFiles, RealFilesDecodeOrAreRefusedAsTheirReadmeSays) {
    struct Case {
        const char* file;
        const char* refusal;  // nullptr: decodes
    };
    const Case cases[] = {
        {"wma92-32k.wma", nullptr},
        {"wma92-multiple-tags.wma", nullptr},  // cut after its header: no sound
        {"wma-live.wma", nullptr},             // likewise
        {"wma92-vbr.wma", nullptr},
        // The one audio stream of a video file is decoded.
        {"wmv92-with-audio.wmv", nullptr},
        {"wma92-mbr.wma", "more than one audio stream"},
        {"drm.wma", "protected"},
        {"jfif.wma", "not WMA version 1 or 2"},
        {"wma92-48k-pro.wma", "WMA Professional"},
        {"wma92-lossless.wma", "WMA Lossless"},
        {"bug17355-picture-offset.wma", "WMA Lossless"},
        {"wma92-voice.wma", "WMA Voice"},
        {"wmv92.wmv", "no audio stream"},
    };
    for (const Case& c : cases) CZ_SKIP_WITHOUT_TESTDATA(AsfDir() + c.file);
    cz::test::TempDir dir;
    for (const Case& c : cases) {
        const std::string in = AsfDir() + c.file, out = dir.File(std::string(c.file) + ".wav");
        C_WmaToWavConverter converter;
        const int32_t result = converter.Convert(in.c_str(), out.c_str(), nullptr);
        if (c.refusal != nullptr) {
            EXPECT_EQ(result, 0) << c.file;
            EXPECT_NE(converter.LastError().find(c.refusal), std::string::npos)
                << c.file << ": " << converter.LastError();
            EXPECT_FALSE(cz::test::FileExists(out)) << c.file;
            continue;
        }
        if (!FrameDecoderBuilt()) continue;
        ASSERT_EQ(result, 1) << c.file << ": " << converter.LastError();
        const std::vector<int16_t> ours = WavSamples(cz::test::ReadFileBytes(out));
        if (!cz::test::HaveTool("ffmpeg")) continue;
        const std::vector<int16_t> theirs = FfmpegSamples(in, dir);
        EXPECT_EQ(ours.size(), theirs.size()) << c.file;
        const Difference d = Compare(ours, theirs);
        std::printf("%-24s %8zu samples, RMS difference %.3f LSB, max %d LSB\n", c.file, ours.size(), d.rms, d.max);
    }
}

TEST(WmaFiles, FfmpegMadeMatrixMatchesFfmpegDecoding) {
    if (!cz::test::HaveTool("ffmpeg") || !cz::test::HaveTool("sox")) GTEST_SKIP() << "ffmpeg and sox needed";
    if (!FrameDecoderBuilt()) GTEST_SKIP() << "the frame decoder is not in this build";
    struct Case {
        const char* codec;
        uint32_t rate;
        int channels;
        const char* bitrate;
    };
    const Case cases[] = {
        {"wmav1", 8000, 1, "24k"},  {"wmav2", 8000, 1, "24k"},   {"wmav1", 16000, 2, "32k"},
        {"wmav2", 16000, 1, "64k"}, {"wmav1", 22050, 2, "32k"},  {"wmav2", 22050, 2, "32k"},
        {"wmav2", 22050, 1, "96k"}, {"wmav1", 32000, 2, "48k"},  {"wmav2", 32000, 1, "128k"},
        {"wmav1", 44100, 2, "64k"}, {"wmav2", 44100, 2, "128k"}, {"wmav2", 44100, 1, "192k"},
        {"wmav1", 48000, 1, "48k"}, {"wmav2", 48000, 2, "128k"}, {"wmav2", 48000, 2, "256k"},
    };
    cz::test::TempDir dir;
    for (const Case& c : cases) {
        char name[96];
        std::snprintf(name, sizeof name, "%s %u Hz %s %s", c.codec, c.rate, c.channels == 1 ? "mono" : "stereo",
                      c.bitrate);
        const std::string wav = dir.File("in.wav"), wma = dir.File("in.wma"), out = dir.File("out.wav");
        ASSERT_EQ(cz::test::RunCommand("sox -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) +
                                       " -b 16 '" + wav + "' synth 2 pluck C3 pinknoise gain -6 2>/dev/null"),
                  0);
        ASSERT_EQ(cz::test::RunCommand("ffmpeg -v quiet -y -i '" + wav + "' -c:a " + c.codec + " -b:a " + c.bitrate +
                                       " '" + wma + "'"),
                  0)
            << name;
        C_WmaToWavConverter converter;
        ASSERT_EQ(converter.Convert(wma.c_str(), out.c_str(), nullptr), 1) << name << ": " << converter.LastError();
        const std::vector<uint8_t> bytes = cz::test::ReadFileBytes(out);
        ASSERT_GE(bytes.size(), 46u);
        EXPECT_EQ(cz::test::Le16At(bytes, 22), c.channels) << name;
        EXPECT_EQ(cz::test::Le32At(bytes, 24), c.rate) << name;
        const std::vector<int16_t> ours = WavSamples(bytes), theirs = FfmpegSamples(wma, dir);
        EXPECT_EQ(ours.size(), theirs.size()) << name;
        const Difference d = Compare(ours, theirs);
        EXPECT_LE(d.rms, 0.5) << name;
        EXPECT_LE(d.max, 2) << name;
        std::printf("%-28s RMS difference %.3f LSB, max %d LSB\n", name, d.rms, d.max);
    }
}

// The frame decoder's state is per conversion too: two files decoded at
// once give what each gives alone.
TEST(WmaFiles, TwoRealConversionsAtOnce) {
    if (!FrameDecoderBuilt()) GTEST_SKIP() << "the frame decoder is not in this build";
    const std::string a = AsfDir() + "wma92-32k.wma", b = AsfDir() + "wma92-vbr.wma";
    CZ_SKIP_WITHOUT_TESTDATA(a);
    CZ_SKIP_WITHOUT_TESTDATA(b);
    cz::test::TempDir dir;
    auto convert = [&](const std::string& in, const std::string& out) {
        C_WmaToWavConverter converter;
        return converter.Convert(in.c_str(), dir.File(out).c_str(), nullptr);
    };
    ASSERT_EQ(convert(a, "a1.wav"), 1);
    ASSERT_EQ(convert(b, "b1.wav"), 1);
    for (int round = 0; round < 3; ++round) {
        int32_t ra = 0, rb = 0;
        std::thread ta([&] { ra = convert(a, "a2.wav"); }), tb([&] { rb = convert(b, "b2.wav"); });
        ta.join();
        tb.join();
        EXPECT_EQ(ra, 1);
        EXPECT_EQ(rb, 1);
        EXPECT_EQ(cz::test::ReadFileBytes(dir.File("a2.wav")), cz::test::ReadFileBytes(dir.File("a1.wav")));
        EXPECT_EQ(cz::test::ReadFileBytes(dir.File("b2.wav")), cz::test::ReadFileBytes(dir.File("b1.wav")));
    }
}

}  // namespace
}  // namespace cz::wma::test
