// WAV sample formats that load as 16-bit PCM (32- and 64-bit float, A-law,
// mu-law), by hand-made files and beside sox; refused formats are named.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "support/RiffBuilder.h"
#include "support/TestSupport.h"
#include "wave/C_WavFile.h"

namespace cz {
namespace {

using test::RiffBuilder;

std::unique_ptr<C_WavFile> LoadBytes(const std::vector<uint8_t>& bytes) {
    auto file = std::make_unique<C_WavFile>();
    if (!file->LoadFromStream(InputStream::FromMemory(bytes), 1)) return nullptr;
    return file;
}

std::vector<int16_t> Samples(C_WavFile& f) {
    std::vector<int16_t> out;
    C_WavData* s = f.Sound();
    for (uint32_t i = 0; i < s->SampleCount(); ++i)
        for (uint16_t c = 0; c < s->GetWavInfo()->GetChannels(); ++c)
            out.push_back(static_cast<int16_t>(s->Sample(i, c)));
    return out;
}

std::vector<uint8_t> Floats32(const std::vector<double>& values) {
    std::vector<uint8_t> v;
    for (double d : values) {
        const float f = static_cast<float>(d);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        RiffBuilder::U32(v, bits);
    }
    return v;
}

std::vector<uint8_t> Floats64(const std::vector<double>& values) {
    std::vector<uint8_t> v;
    for (double d : values) {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        RiffBuilder::U32(v, static_cast<uint32_t>(bits));
        RiffBuilder::U32(v, static_cast<uint32_t>(bits >> 32));
    }
    return v;
}

// WAVE_FORMAT_EXTENSIBLE with the given subformat tag.
std::vector<uint8_t> ExtensibleFmt(uint16_t subTag, uint16_t channels, uint16_t bits) {
    std::vector<uint8_t> fmt;
    RiffBuilder::U16(fmt, 0xFFFE);
    RiffBuilder::U16(fmt, channels);
    RiffBuilder::U32(fmt, 8000);
    RiffBuilder::U32(fmt, 8000u * channels * bits / 8);
    RiffBuilder::U16(fmt, static_cast<uint16_t>(channels * bits / 8));
    RiffBuilder::U16(fmt, bits);
    RiffBuilder::U16(fmt, 22);
    RiffBuilder::U16(fmt, bits);
    RiffBuilder::U32(fmt, 3);
    RiffBuilder::U16(fmt, subTag);
    const uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), tail, tail + 14);
    return fmt;
}

// Float samples are scaled by 32768, rounded to nearest and clipped; G.711
// codes expand to the values of its tables (the segment ends and the smallest
// steps worked out from ITU-T G.711 tables 1 and 2, scaled to 16 bits).
TEST(WavInputFormats, FloatAndG711LoadAs16BitPcm) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> values = {0.0, 0.5, -0.5, 1.0, -1.0, 2.0, -2.0, nan, 1.0 / 65536, -3.0 / 65536, 0.999};
    const std::vector<int16_t> expected = {0, 16384, -16384, 32767, -32768, 32767, -32768, 0, 1, -2, 32735};
    const std::vector<uint8_t> alaw = {0xD5, 0x55, 0xAA, 0x2A, 0xD4, 0xC5, 0xF5};
    const std::vector<int16_t> alawExpected = {8, -8, 32256, -32256, 24, 264, 528};
    const std::vector<uint8_t> mulaw = {0xFF, 0x7F, 0x80, 0x00, 0xFE, 0xEF, 0xDF};
    const std::vector<int16_t> mulawExpected = {0, 0, 32124, -32124, 8, 132, 396};
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        std::vector<int16_t> want;
    } cases[] = {
        {"float 32", RiffBuilder().Fmt(3, 1, 8000, 32).Chunk("data", Floats32(values)).Bytes(), expected},
        {"float 64", RiffBuilder().Fmt(3, 1, 8000, 64).Chunk("data", Floats64(values)).Bytes(), expected},
        {"extensible float 32, stereo",
         RiffBuilder().Chunk("fmt ", ExtensibleFmt(3, 2, 32)).Chunk("data", Floats32({0.25, -1.5, 0.5, nan})).Bytes(),
         {8192, -32768, 16384, 0}},
        {"A-law", RiffBuilder().Fmt(6, 1, 8000, 8).Chunk("data", alaw).Bytes(), alawExpected},
        {"mu-law", RiffBuilder().Fmt(7, 1, 8000, 8).Chunk("data", mulaw).Bytes(), mulawExpected},
    };
    for (const auto& c : cases) {
        auto f = LoadBytes(c.bytes);
        ASSERT_NE(f, nullptr) << c.what;
        EXPECT_EQ(f->Sound()->GetWavInfo()->GetValidBits(), 16) << c.what;
        EXPECT_EQ(f->Sound()->GetWavInfo()->GetContainerBits(), 16) << c.what;
        EXPECT_EQ(Samples(*f), c.want) << c.what;
    }
    // A file cut inside a float frame keeps the whole frames before it.
    auto cut = RiffBuilder().Fmt(3, 1, 8000, 64).Chunk("data", Floats64(values)).Bytes();
    cut.resize(cut.size() - 3);
    test::MessageCapture messages;
    auto f = LoadBytes(cut);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Samples(*f), std::vector<int16_t>(expected.begin(), expected.end() - 1));
}

// A format that is not read is named, with the ones that are.
TEST(WavInputFormats, RefusedFormatsAreNamed) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* named;
    } cases[] = {
        {"MP3 in WAV", RiffBuilder().Fmt(0x55, 1, 8000, 0, 1).Chunk("data", {0, 0}).Bytes(),
         "MPEG Layer 3 (format tag 0x0055)"},
        {"unknown tag", RiffBuilder().Fmt(0x1234, 1, 8000, 16).Chunk("data", {0, 0}).Bytes(), "format tag 0x1234"},
        {"16-bit float", RiffBuilder().Fmt(3, 1, 8000, 16).Chunk("data", {0, 0}).Bytes(), "16-bit IEEE float"},
        {"16-bit A-law", RiffBuilder().Fmt(6, 1, 8000, 16).Chunk("data", {0, 0}).Bytes(), "16-bit A-law"},
        {"extensible mu-law", RiffBuilder().Chunk("fmt ", ExtensibleFmt(7, 1, 8)).Chunk("data", {0, 0}).Bytes(),
         "WAVE_FORMAT_EXTENSIBLE with subformat mu-law"},
    };
    for (const auto& c : cases) {
        C_WavFile file;
        EXPECT_EQ(file.LoadFromStream(InputStream::FromMemory(c.bytes), 1), 0) << c.what;
        EXPECT_EQ(file.LastError(), WavFileError::kUnsupportedFormat) << c.what;
        EXPECT_NE(file.LastErrorDetail().find(c.named), std::string::npos) << file.LastErrorDetail();
        EXPECT_NE(file.LastErrorDetail().find("accepted are PCM"), std::string::npos) << file.LastErrorDetail();
    }
    // A float record whose block size does not match its samples is damaged.
    EXPECT_EQ(LoadBytes(RiffBuilder().Fmt(3, 1, 8000, 32, 8).Chunk("data", std::vector<uint8_t>(8)).Bytes()), nullptr);
}

// sox is the witness: the same sound written by sox as float, A-law and
// mu-law, and converted by sox to 16-bit PCM without dither, loads as sox's
// 16-bit samples (G.711 exactly; float within the rounding of halves).
TEST(WavInputFormats, MatchSoxConversions) {
    if (!test::HaveTool("sox")) GTEST_SKIP() << "sox is needed";
    test::TempDir dir;
    const std::string base = dir.File("base.wav");
    ASSERT_EQ(test::RunCommand("sox -D -n -r 8000 -c 2 -b 32 -e floating-point '" + base +
                               "' synth 0.5 sine 440 whitenoise vol 0.9 2>/dev/null"),
              0);
    struct Case {
        const char* what;
        const char* encoding;
        int maxDifference;
    } cases[] = {
        {"float 32", "-b 32 -e floating-point", 1},
        {"float 64", "-b 64 -e floating-point", 1},
        {"A-law", "-b 8 -e a-law", 0},
        {"mu-law", "-b 8 -e mu-law", 0},
    };
    for (const auto& c : cases) {
        const std::string coded = dir.File("coded.wav"), pcm = dir.File("pcm.wav");
        ASSERT_EQ(test::RunCommand("sox -D '" + base + "' " + c.encoding + " '" + coded + "' 2>/dev/null"), 0)
            << c.what;
        ASSERT_EQ(test::RunCommand("sox -D '" + coded + "' -b 16 -e signed-integer '" + pcm + "' 2>/dev/null"), 0)
            << c.what;
        C_WavFile mine, theirs;
        ASSERT_EQ(mine.Load(coded.c_str(), 1), 1) << c.what;
        ASSERT_EQ(theirs.Load(pcm.c_str(), 1), 1) << c.what;
        const auto a = Samples(mine), b = Samples(theirs);
        ASSERT_EQ(a.size(), b.size()) << c.what;
        ASSERT_EQ(a.size(), 8000u) << c.what;
        int worst = 0;
        for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
        EXPECT_LE(worst, c.maxDifference) << c.what;
    }
}

}  // namespace
}  // namespace cz
