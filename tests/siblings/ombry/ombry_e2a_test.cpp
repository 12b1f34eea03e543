// The converter library on E2A files: the "WE2A" binary, decoded by the
// library's RBF decoder, plays exactly the file's decoded section, with the
// file's events as markers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "ResourceDecoder.h"
#include "api/resconv/C_ResourceStatInfo.h"
#include "codecs/rbf/RbfCoding.h"
#include "formats/apm/C_E2aFile.h"
#include "foundation/ByteReader.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"

namespace cz::test {
namespace {

struct Played : RbfSampleSink {
    std::vector<uint16_t> samples;
    bool Put(uint16_t value, uint32_t count) override {
        samples.insert(samples.end(), count, value);
        return true;
    }
};

// An E2A file of 16-bit voice with silence and events, and its decoded section.
std::vector<uint8_t> E2aFile(const std::string& path, uint32_t count, uint32_t rate) {
    std::vector<int16_t> v(count);
    for (uint32_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        v[i] = static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * 150 * t) * std::sin(2 * M_PI * 2 * t) +
                                                2500 * std::sin(2 * M_PI * 1300 * t)));
    }
    auto sound = Sound16(v, 1, rate);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(count / 3, count / 3 + 5000));
    sound->GetActionEventMgr()->AddEventAtSample(1, 0, "", 9);
    sound->GetActionEventMgr()->AddEventAtSample(6, count / 3 + 100, "", 130);
    sound->GetActionEventMgr()->AddEventAtSample(2, count - 1, "", 63);
    C_E2aFile writer;
    EXPECT_EQ(SaveWith(writer, *sound, path), 1);
    return ReadFileBytes(path);
}

std::vector<uint16_t> DecodedSection(const std::vector<uint8_t>& file) {
    std::vector<uint16_t> w(LoadU32(&file[52]));
    for (size_t i = 0; i < w.size(); ++i) w[i] = LoadU16(&file[LoadU32(&file[48]) + 2 * i]);
    return w;
}

TEST(OmbryE2a, BinaryPlaysTheDecodedSectionWithMarkers) {
    OmbryLibrary ombry;
    ASSERT_TRUE(ombry.Loaded());
    TempDir dir;
    const std::vector<uint8_t> file = E2aFile(dir.File("a.ad4"), 30000, 22050);
    C_ResourceStatInfo record("a.ad4");
    ASSERT_EQ(ombry.Convert(dir.File("a.ad4"), dir.File("a.bin"), &record), 1u);
    const std::vector<uint8_t> bin = ReadFileBytes(dir.File("a.bin"));
    ASSERT_GE(bin.size(), 8u);
    EXPECT_EQ(std::memcmp(bin.data(), "WE2A", 4), 0);
    EXPECT_EQ(RbfSampleRate(bin), 22050);
    EXPECT_EQ(bin[bin.size() - 2], 0);
    EXPECT_EQ(bin.back(), 0);

    std::unique_ptr<RbfDecoder> decoder = OpenRbfDecoder(bin);
    ASSERT_TRUE(decoder);
    EXPECT_EQ(decoder->SampleBits(), 16);
    Played played;
    const RbfDecodeResult result = decoder->Decode(std::span<const uint8_t>(bin).subspan(6), played);
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(result.endMark);
    const std::vector<uint16_t> expected = DecodedSection(file);
    ASSERT_EQ(played.samples.size(), expected.size());
    EXPECT_EQ(played.samples, expected);
    const std::vector<RbfMarker> markers = {{0, 1, 9}, {10000 + 100, 6, 130 & 63}, {29999, 2, 63}};
    EXPECT_EQ(result.markers, markers);

    EXPECT_EQ(record.SampleCount(), expected.size());
    EXPECT_EQ(record.MarkerCount(), 3u);
    EXPECT_EQ(record.BinarySize(), bin.size());
    EXPECT_EQ(record.SampleRate(), 22050u);
    // About half a byte per voice sample: the payload is the coded blocks.
    EXPECT_LT(bin.size(), 6 + 25000 * 6 / 10);
}

TEST(OmbryE2a, RefusesDamagedFilesAndLeavesNoBinary) {
    OmbryLibrary ombry;
    ASSERT_TRUE(ombry.Loaded());
    TempDir dir;
    const std::vector<uint8_t> file = E2aFile(dir.File("a.ad4"), 3000, 8000);
    const uint32_t sectionEnd = LoadU32(&file[28]) + LoadU32(&file[32]);
    auto patched = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> bytes = file;
        bytes[at] = value;
        return bytes;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"header only", std::vector<uint8_t>(file.begin(), file.begin() + 62)},
        {"cut inside the frames", std::vector<uint8_t>(file.begin(), file.begin() + 200)},
        {"no end mark", patched(sectionEnd - 2, 4)},
        {"first block past the section", patched(76, 0xFF)},
        {"8-bit decoded section", patched(46, 8)},
        {"frame section past the file", patched(35, 0x10)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFileBytes(dir.File("bad.ad4"), c.bytes));
        EXPECT_EQ(ombry.Convert(dir.File("bad.ad4"), dir.File("bad.bin")), 0u);
        EXPECT_FALSE(FileExists(dir.File("bad.bin")));
    }
}

}  // namespace
}  // namespace cz::test
