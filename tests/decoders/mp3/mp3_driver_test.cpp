// MP3-to-WAV driver: WAV layout and size patching, ID3v2 skipping, duration
// limit, progress and the failure results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Mp3FrameBuilder.h"
#include "Mp3TestFiles.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"

namespace cz::mp3::test {
namespace {

std::vector<uint8_t> Convert(const std::vector<uint8_t>& mp3, int32_t* result, uint32_t limit = 0,
                             I_ProgressCallback* progress = nullptr) {
    std::vector<uint8_t> wav;
    C_Mp3ToWavConverter converter;
    *result = converter.ConvertMemory(mp3.data(), mp3.size(), &wav, progress, limit);
    return wav;
}

std::vector<uint8_t> Id3Tag(uint8_t major, const std::vector<uint8_t>& body) {
    const uint32_t size = uint32_t(body.size());
    std::vector<uint8_t> tag = {'I',
                                'D',
                                '3',
                                major,
                                0,
                                0,
                                uint8_t((size >> 21) & 0x7F),
                                uint8_t((size >> 14) & 0x7F),
                                uint8_t((size >> 7) & 0x7F),
                                uint8_t(size & 0x7F)};
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

// One text frame of the given payload size, then zero padding.
std::vector<uint8_t> Id3Body(bool version4, uint32_t payload, uint32_t padding) {
    const uint32_t size = version4 ? (((payload >> 21) & 0x7F) << 24) | (((payload >> 14) & 0x7F) << 16) |
                                         (((payload >> 7) & 0x7F) << 8) | (payload & 0x7F)
                                   : payload;
    std::vector<uint8_t> body = {
        'T', 'X', 'X', 'X', uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size), 0, 0};
    // The payload is full of sync-like bytes: skipping it must not resync in it.
    body.resize(body.size() + payload, 0xFF);
    body.resize(body.size() + padding, 0);
    return body;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Mp3Driver, WritesPlainPcmWavWithPatchedSizes) {
    struct Case {
        bool mono;
        uint16_t channels;
    };
    for (const Case c : {Case{false, 2}, Case{true, 1}}) {
        int32_t result = 0;
        const std::vector<uint8_t> wav = Convert(Repeat(BuildFrame(9, c.mono, 0), 20), &result);
        ASSERT_EQ(result, 1);
        const uint32_t dataBytes = 20u * 1152u * c.channels * 2u;
        ASSERT_EQ(wav.size(), 44u + dataBytes);
        EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
        EXPECT_EQ(Le32At(wav, 4), 36u + dataBytes);
        EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(Le32At(wav, 16), 16u);
        EXPECT_EQ(Le16At(wav, 20), 1u);
        EXPECT_EQ(Le16At(wav, 22), c.channels);
        EXPECT_EQ(Le32At(wav, 24), 44100u);
        EXPECT_EQ(Le32At(wav, 28), 44100u * 2u * c.channels);
        EXPECT_EQ(Le16At(wav, 32), 2u * c.channels);
        EXPECT_EQ(Le16At(wav, 34), 16u);
        EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
        EXPECT_EQ(Le32At(wav, 40), dataBytes);
    }
}

TEST(Mp3Driver, SkipsId3v2Tags) {
    const std::vector<uint8_t> frames = Repeat(BuildFrame(9, false, 0), 10);
    struct Case {
        const char* name;
        std::vector<uint8_t> tag;
    };
    const Case cases[] = {
        // Larger than the 16 KB window: skipped across refills.
        {"2.3 frame walk", Id3Tag(3, Id3Body(false, 40000, 100))},
        {"2.4 frame walk", Id3Tag(4, Id3Body(true, 20000, 3000))},
        {"2.2 skipped whole", Id3Tag(2, Id3Body(false, 30000, 0))},
        {"frame size past the tag", Id3Tag(3, Id3Body(false, 500, 0))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> tag = c.tag;
        if (std::string(c.name) == "frame size past the tag") {
            tag[9] = uint8_t(tag[9] - 100);  // the frame claims 100 bytes beyond the tag's end
            tag.resize(tag.size() - 100);
        }
        int32_t result = 0;
        const std::vector<uint8_t> wav = Convert(Concat(tag, frames), &result);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(wav.size(), 44u + 10u * 4608u);
    }
}

TEST(Mp3Driver, TagWithBit7SizeSkipsOnlyItsLetters) {
    std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0, 0x80, 0, 0, 0};
    tag.resize(64, 0);
    int32_t result = 0;
    const std::vector<uint8_t> wav = Convert(Concat(tag, Repeat(BuildFrame(9, false, 0), 3)), &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(wav.size(), 44u + 3u * 4608u);
}

TEST(Mp3Driver, AbsurdTagSizeEndsCleanly) {
    // The tag claims 256 MB; the input ends inside it.
    std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    tag.resize(3000, 0);
    int32_t result = 0;
    Convert(Concat(tag, Repeat(BuildFrame(9, false, 0), 3)), &result);
    EXPECT_EQ(result, 0);  // nothing but the tag: no frame to decode
}

TEST(Mp3Driver, DurationLimitCutsTheLastFrame) {
    struct Case {
        uint32_t limitMs;
        uint32_t samples;
    };
    const Case cases[] = {{100, 4410 * 2}, {1, 44 * 2}, {1000, 15 * 2304}};  // the file holds 15 frames
    for (const Case& c : cases) {
        int32_t result = 0;
        const std::vector<uint8_t> wav = Convert(Repeat(BuildFrame(9, false, 0), 15), &result, c.limitMs);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(Le32At(wav, 40), c.samples * 2) << c.limitMs;
        EXPECT_EQ(wav.size(), 44u + c.samples * 2);
    }
}

TEST(Mp3Driver, TruncatedLastFrameIsDropped) {
    std::vector<uint8_t> mp3 = Repeat(BuildFrame(9, false, 0), 5);
    const std::vector<uint8_t> half = BuildFrame(9, false, 0);
    mp3.insert(mp3.end(), half.begin(), half.begin() + 200);
    int32_t result = 0;
    const std::vector<uint8_t> wav = Convert(mp3, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(wav.size(), 44u + 5u * 4608u);
}

TEST(Mp3Driver, NoDecodableFrameIsAFailure) {
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = uint8_t(i * 37 + 11);
    }
    garbage[100] = 0xFF;
    garbage[101] = 0xFF;  // a sync word with an invalid header after it
    // A file with no audio is not reported as converted.
    int32_t result = 1;
    Convert(garbage, &result);
    EXPECT_EQ(result, 0);
    result = 1;
    Convert({}, &result);
    EXPECT_EQ(result, 0);
}

class RecordingProgress : public I_ProgressCallback {
public:
    void OnBegin() override { calls.push_back(-1); }
    void OnProgress(int32_t percent) override { calls.push_back(percent); }
    void OnEnd() override { calls.push_back(-2); }
    std::vector<int32_t> calls;
};

TEST(Mp3Driver, ProgressRisesOnlyWhenItChangesAndEnds) {
    for (uint32_t limit : {0u, 200u}) {
        RecordingProgress progress;
        int32_t result = 0;
        Convert(Repeat(BuildFrame(9, false, 0), 30), &result, limit, &progress);
        ASSERT_EQ(result, 1);
        ASSERT_GE(progress.calls.size(), 5u);
        EXPECT_EQ(progress.calls[0], -1);
        EXPECT_EQ(progress.calls[1], 0);
        EXPECT_EQ(progress.calls[progress.calls.size() - 2], 100);
        EXPECT_EQ(progress.calls.back(), -2);
        for (size_t i = 2; i + 2 < progress.calls.size(); ++i) {
            EXPECT_GT(progress.calls[i], progress.calls[i - 1]);
            EXPECT_LE(progress.calls[i], 100);
        }
    }
}

TEST(Mp3Driver, FilesOnDiskAndFailures) {
    cz::test::TempDir dir;
    const std::string in = dir.File("in.mp3");
    const std::string out = dir.File("out.wav");
    const std::vector<uint8_t> mp3 = Repeat(BuildFrame(9, true, 0), 7);
    ASSERT_TRUE(cz::test::WriteFileBytes(in, mp3));
    C_Mp3ToWavConverter converter;
    ASSERT_EQ(converter.Convert(in.c_str(), out.c_str(), nullptr, 0), 1);
    int32_t result = 0;
    EXPECT_EQ(cz::test::ReadFileBytes(out), Convert(mp3, &result));

    const std::string missingOut = dir.File("none.wav");
    EXPECT_EQ(converter.Convert(dir.File("missing.mp3").c_str(), missingOut.c_str(), nullptr, 0), 0);
    EXPECT_FALSE(cz::test::FileExists(missingOut));
    EXPECT_EQ(converter.Convert(in.c_str(), dir.File("no/such/dir/out.wav").c_str(), nullptr, 0), 0);
}

TEST(Mp3Driver, RealStreamDecodesLikeMpg123) {
    if (!HaveEncoders() || !cz::test::HaveTool("mpg123")) {
        GTEST_SKIP() << "sox, lame or mpg123 missing";
    }
    cz::test::TempDir dir;
    const std::string mp3 = dir.File("a.mp3");
    ASSERT_TRUE(MakeMp3(dir.File("a.wav"), mp3, "-r 44100 -c 2 -b 16", "synth 1 pluck C3 pinknoise gain -3",
                        "--id3v2-only --tt title -b 112"));
    ASSERT_EQ(cz::test::RunCommand("mpg123 -q --no-gapless -w '" + dir.File("ref.wav") + "' '" + mp3 + "' 2>/dev/null"),
              0);
    C_Mp3ToWavConverter converter;
    ASSERT_EQ(converter.Convert(mp3.c_str(), dir.File("ours.wav").c_str(), nullptr, 0), 1);
    const std::vector<uint8_t> ours = cz::test::ReadFileBytes(dir.File("ours.wav"));
    const std::vector<uint8_t> ref = cz::test::ReadFileBytes(dir.File("ref.wav"));
    ASSERT_GT(ref.size(), 44u);
    EXPECT_EQ(std::vector<uint8_t>(ours.begin() + 20, ours.begin() + 36),
              std::vector<uint8_t>(ref.begin() + 20, ref.begin() + 36));
    const Difference diff = Compare(WavSamples(ours), WavSamples(ref), {0, 2304});
    EXPECT_LT(diff.rms, 0.289);
    EXPECT_LE(diff.maxAbs, 2);
}

}  // namespace
}  // namespace cz::mp3::test
