// Ombry's "Q42M" resource of a Q420 MPM file: the binary, decoded by the
// library's resource decoder, plays the file's decoded section and carries
// its events as markers; damaged files give no binary.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ResourceDecoder.h"
#include "api/resconv/C_ResourceStatInfo.h"
#include "codecs/rbf/RbfCoding.h"
#include "formats/mdm/C_Q420MpmFile.h"
#include "foundation/ByteReader.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"

namespace cz::test {
namespace {

class Samples final : public RbfSampleSink {
public:
    bool Put(uint16_t value, uint32_t count) override {
        values.insert(values.end(), count, value);
        return true;
    }
    std::vector<uint16_t> values;
};

std::vector<uint8_t> SaveQ420(uint32_t rate) {
    std::vector<uint16_t> words = SwellingVoice12(3001);
    words.resize(3001 + 5001, 2048);
    const std::vector<uint16_t> tail = SwellingVoice12(777, 900.0, 30.0);
    words.insert(words.end(), tail.begin(), tail.end());
    auto sound = ChipSoundOf(words, rate);
    sound->GetActionEventMgr()->SetSampleRate(rate);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(3001, 3001 + 5000));
    sound->GetActionEventMgr()->AddEventAtSample(4, 0, "", 17);
    sound->GetActionEventMgr()->AddEventAtSample(15, 1500, "", 255);
    sound->GetActionEventMgr()->AddEventAtSample(1, 4000, "", 0);
    TempDir dir;
    C_Q420MpmFile writer;
    EXPECT_EQ(SaveWith(writer, *sound, dir.File("a.42m")), 1);
    return ReadFileBytes(dir.File("a.42m"));
}

TEST(OmbryQ42m, BinaryPlaysTheDecodedSectionWithMarkers) {
    OmbryLibrary ombry;
    ASSERT_TRUE(ombry.Loaded());
    TempDir dir;
    const std::vector<uint8_t> file = SaveQ420(11025);
    ASSERT_TRUE(WriteFileBytes(dir.File("a.42m"), file));
    C_ResourceStatInfo record("a.42m");
    ASSERT_NE(ombry.Convert(dir.File("a.42m"), dir.File("a.bin"), &record), 0u);
    const std::vector<uint8_t> binary = ReadFileBytes(dir.File("a.bin"));

    // Header, then the frame section's words as they are.
    ASSERT_GE(binary.size(), 8u);
    EXPECT_EQ(std::memcmp(binary.data(), "Q42M", 4), 0);
    EXPECT_EQ(LoadU16(&binary[4]), 11025);
    const uint32_t frameAt = LoadU32(&file[28]) + 14, frameBytes = LoadU32(&file[32]) - 14;
    EXPECT_TRUE(
        std::equal(binary.begin() + 6, binary.end(), file.begin() + frameAt, file.begin() + frameAt + frameBytes));
    EXPECT_EQ(binary.size(), 6u + frameBytes);

    auto decoder = OpenRbfDecoder(binary);
    ASSERT_TRUE(decoder);
    EXPECT_STREQ(decoder->GetMagic(), "Q42M");
    Samples played;
    const RbfDecodeResult r = decoder->Decode(std::span(binary).subspan(kRbfHeaderSize), played);
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.endMark);
    const uint32_t decodedAt = LoadU32(&file[48]), decodedCount = LoadU32(&file[52]);
    std::vector<uint16_t> decoded(decodedCount);
    for (uint32_t i = 0; i < decodedCount; ++i) decoded[i] = LoadU16(&file[decodedAt + 2ull * i]);
    EXPECT_EQ(played.values, decoded);
    EXPECT_GT(SnrDb(SwellingVoice12(3000), decoded, 3000), 20.0);

    // Identifier = event type, type = parameter, at the event's sample (the
    // odd voice stretch before the silence takes one of its samples).
    ASSERT_EQ(r.markers.size(), 3u);
    EXPECT_EQ(r.markers[0], (RbfMarker{0, 4, 17}));
    EXPECT_EQ(r.markers[1], (RbfMarker{1500, 15, 255}));
    EXPECT_EQ(r.markers[2].identifier, 1);
    EXPECT_EQ(r.markers[2].type, 0);
    EXPECT_LE(r.markers[2].position - 4000u, 1u);

    EXPECT_EQ(record.SampleCount(), decodedCount);
    EXPECT_EQ(record.MarkerCount(), 3u);
    EXPECT_EQ(record.SampleRate(), 11025u);
    EXPECT_EQ(record.BinarySize(), binary.size());
}

TEST(OmbryQ42m, DamagedFilesGiveNoBinary) {
    OmbryLibrary ombry;
    ASSERT_TRUE(ombry.Loaded());
    TempDir dir;
    const std::vector<uint8_t> file = SaveQ420(8000);
    const uint32_t frameAt = LoadU32(&file[28]) + 14, frameBytes = LoadU32(&file[32]) - 14;
    auto patched = [&](size_t at, uint16_t value) {
        std::vector<uint8_t> bytes = file;
        StoreU16(&bytes[at], value);
        return bytes;
    };
    std::vector<uint8_t> cut = file;
    cut.resize(frameAt + 10);
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"no end word", patched(frameAt + frameBytes - 2, 0x0001)},
        {"run command without its count", patched(frameAt + frameBytes - 2, 0x0201)},
        {"cut inside the frames", cut},
        {"frame section past the file", patched(34, 0x7FFF)},
        {"a resource, not a chip file", {'Q', '4', '2', 'M', 0x40, 0x1F, 0x08, 0x02}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFileBytes(dir.File("bad.42m"), c.bytes));
        EXPECT_EQ(ombry.Convert(dir.File("bad.42m"), dir.File("bad.bin")), 0u);
        EXPECT_FALSE(FileExists(dir.File("bad.bin")));
    }
}

}  // namespace
}  // namespace cz::test
