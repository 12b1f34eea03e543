// The whole chain with the system's own chip classes: a WAV file saved as a
// chip format by ConvertFormat, then made into the resource binary. The
// binary, decoded with the chip's rules, must play the chip file's decoded
// section.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "api/resconv/C_ResourceConverter.h"
#include "formats/registry/C_WavFileFormat.h"
#include "wave/C_SilenceSegment.h"
#include "wave/C_WavData.h"
#include "siblings/ombry/ResourceDecoder.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace cz::test {
namespace {

// Speech-like 16-bit mono: voiced bursts with digital silence between them.
std::vector<uint8_t> SpeechWav(uint32_t rate) {
    std::vector<int16_t> pcm;
    for (int burst = 0; burst < 3; ++burst) {
        for (int i = 0; i < 4000; ++i) {
            const double env = std::sin(3.14159265 * i / 4000.0);
            pcm.push_back(static_cast<int16_t>(env * (9000 * std::sin(i * 0.07) + 3000 * std::sin(i * 0.53))));
        }
        pcm.insert(pcm.end(), 3000, int16_t{0});
    }
    return RiffBuilder().Fmt(1, 1, rate, 16).Chunk("data", WordBytes(pcm)).Bytes();
}

// The decoded section of an APM file, silence segments as mid-scale.
std::vector<uint16_t> ApmPlayback(const std::vector<uint8_t>& apm, size_t* silenceCount) {
    const uint32_t offset = Le32At(apm, 36), count = Le32At(apm, 40);
    std::vector<uint16_t> out(count);
    for (uint32_t i = 0; i < count; ++i) out[i] = Le16At(apm, offset + 2 * size_t{i});
    *silenceCount = 0;
    if (Le16At(apm, 64) != 0) {
        const uint32_t p = Le32At(apm, 66);
        const uint32_t sil = Le32At(apm, p + 12);
        const uint32_t first = Le32At(apm, sil + 8), n = Le32At(apm, sil + 12);
        *silenceCount = n;
        for (uint32_t k = 0; k < n; ++k) {
            const uint32_t a = Le32At(apm, first + 8 * size_t{k}), b = Le32At(apm, first + 8 * size_t{k} + 4);
            for (uint32_t i = a; i <= b && i < count; ++i) out[i] = 2048;
        }
    }
    return out;
}

TEST(ChipChain, WavToApmToBinary) {
    TempDir dir;
    const std::string wav = dir.File("speech.wav");
    const std::string apm = dir.File("speech.apm");
    const std::string bin = dir.File("speech.bin");
    ASSERT_TRUE(WriteFileBytes(wav, SpeechWav(16000)));
    C_ResourceConverter converter;
    ASSERT_EQ(converter.ConvertFormat(wav.c_str(), apm.c_str(), 5), 1);
    const std::vector<uint8_t> apmBytes = ReadFileBytes(apm);
    ASSERT_GE(apmBytes.size(), 76u);
    ASSERT_EQ(std::memcmp(apmBytes.data(), "WAPM", 4), 0);

    ASSERT_NE(converter.ConvertToBinary(apm.c_str(), bin.c_str()), 0u);
    const DecodedResource r = DecodeResource(ReadFileBytes(bin));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rate, 16000);
    size_t silences = 0;
    const std::vector<uint16_t> expected = ApmPlayback(apmBytes, &silences);
    EXPECT_GT(silences, 0u);
    ASSERT_EQ(r.samples.size(), expected.size());
    EXPECT_EQ(r.samples, expected);
    EXPECT_TRUE(FileExists(bin + ".h"));
}

TEST(ChipChain, WavToMdmToBinary) {
    TempDir dir;
    const std::string wav = dir.File("speech.wav");
    const std::string mdm = dir.File("speech.mdm");
    const std::string bin = dir.File("speech.bin");
    ASSERT_TRUE(WriteFileBytes(wav, SpeechWav(12000)));
    C_ResourceConverter converter;
    ASSERT_EQ(converter.ConvertFormat(wav.c_str(), mdm.c_str(), 15), 1);
    const std::vector<uint8_t> mdmBytes = ReadFileBytes(mdm);
    ASSERT_GE(mdmBytes.size(), 76u);
    ASSERT_EQ(std::memcmp(mdmBytes.data(), "WMDM", 4), 0);

    ASSERT_NE(converter.ConvertToBinary(mdm.c_str(), bin.c_str()), 0u);
    const DecodedResource r = DecodeResource(ReadFileBytes(bin));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rate, 12000);
    const uint32_t offset = Le32At(mdmBytes, 48), count = Le32At(mdmBytes, 52);
    ASSERT_LE(offset + 2 * size_t{count}, mdmBytes.size());
    std::vector<uint16_t> expected(count);
    for (uint32_t i = 0; i < count; ++i) expected[i] = Le16At(mdmBytes, offset + 2 * size_t{i});
    ASSERT_EQ(r.samples.size(), expected.size());
    EXPECT_EQ(r.samples, expected);
}

// A 12-bit sound with a silence segment and action events, saved by the
// chip classes; the binary must carry the events as markers.
TEST(ChipChain, SilenceAndEventsReachTheBinary) {
    InstallFormatHooks();
    std::vector<uint16_t> words(9000);
    for (size_t i = 0; i < words.size(); ++i) {
        const bool quiet = i >= 3000 && i < 5500;
        words[i] = quiet ? 2048 : static_cast<uint16_t>(2048 + 800 * std::sin(i * 0.05) + 200 * std::sin(i * 0.31));
    }
    const std::vector<uint8_t> bytes = WordBytes(words);
    C_WavData sound;
    sound.SetFormat(16000, static_cast<uint32_t>(bytes.size()), 1, 12, 16, 0);
    sound.SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    sound.GetActionEventMgr()->SetSampleRate(16000);
    sound.SilenceSegments().Add(std::make_unique<C_SilenceSegment>(3000, 5499));
    sound.GetActionEventMgr()->AddEventAtSample(2, 1000, "a", 40);
    sound.GetActionEventMgr()->AddEventAtSample(3, 4000, "b", 7);
    sound.GetActionEventMgr()->AddEventAtSample(4, 7000, "c", 12);
    const std::vector<ResourceMarker> markers = {{1000, 2, 40}, {4000, 3, 7}, {7000, 4, 12}};

    TempDir dir;
    C_ResourceConverter converter;
    for (uint32_t id : {5u, 15u}) {
        SCOPED_TRACE(id);
        const std::string chip = dir.File(id == 5 ? "s.apm" : "s.mdm");
        const std::string bin = dir.File("s.bin");
        ASSERT_EQ(sound.SaveAs(id, chip.c_str()), 1);
        ASSERT_NE(converter.ConvertToBinary(chip.c_str(), bin.c_str()), 0u);
        const std::vector<uint8_t> file = ReadFileBytes(chip);
        std::vector<uint16_t> expected;
        if (id == 5) {
            size_t silences = 0;
            expected = ApmPlayback(file, &silences);
        } else {
            const uint32_t offset = Le32At(file, 48), count = Le32At(file, 52);
            for (uint32_t i = 0; i < count; ++i) expected.push_back(Le16At(file, offset + 2 * size_t{i}));
        }
        const DecodedResource r = DecodeResource(ReadFileBytes(bin));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.samples, expected);
        if (id == 5) {
            EXPECT_EQ(r.markers, markers);
        } else {
            // MDM positions count the decoded section, which holds the frames'
            // padding: an event moves later by the padding before it.
            ASSERT_EQ(r.markers.size(), markers.size());
            for (size_t i = 0; i < markers.size(); ++i) {
                EXPECT_EQ(r.markers[i].identifier, markers[i].identifier);
                EXPECT_EQ(r.markers[i].type, markers[i].type);
                EXPECT_GE(r.markers[i].position, markers[i].position);
                EXPECT_LT(r.markers[i].position, markers[i].position + 100);
            }
        }
        for (uint32_t i = 3100; i < 5400; i += 100) EXPECT_EQ(r.samples[i], 2048) << i;
    }
}

TEST(ChipChain, ConvertFormatRefusals) {
    TempDir dir;
    const std::string wav = dir.File("speech.wav");
    ASSERT_TRUE(WriteFileBytes(wav, SpeechWav(8000)));
    ASSERT_TRUE(WriteFileBytes(dir.File("junk.wav"), {'j', 'u', 'n', 'k'}));
    C_ResourceConverter converter;
    // A source no class opens, a format id without a writer: 0 and no file.
    EXPECT_EQ(converter.ConvertFormat(dir.File("junk.wav").c_str(), dir.File("a.apm").c_str(), 5), 0);
    EXPECT_FALSE(FileExists(dir.File("a.apm")));
    EXPECT_EQ(converter.ConvertFormat(dir.File("none.wav").c_str(), dir.File("b.apm").c_str(), 5), 0);
    EXPECT_EQ(converter.ConvertFormat(wav.c_str(), dir.File("c.xyz").c_str(), 9999), 0);
    EXPECT_FALSE(FileExists(dir.File("c.xyz")));
    EXPECT_EQ(converter.ConvertFormat(nullptr, dir.File("d.apm").c_str(), 5), 0);
}

}  // namespace
}  // namespace cz::test
