// The converter library Ombry: chip files in, resource binaries out, checked
// by decoding the binaries with the chip's rules.
#include <gtest/gtest.h>

#include "ChipFixtures.h"
#include "ResourceDecoder.h"
#include "support/TestSupport.h"
#include "api/resconv/C_ResourceStatInfo.h"
#include "formats/apm/C_PamFile.h"
#include "foundation/ByteReader.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"

namespace cz::test {
namespace {

class OmbryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ombry_.Loaded()) << "libOmbry not found in " << LibDir(); }

    // Writes the chip file, converts it and decodes the binary.
    DecodedResource Convert(const std::vector<uint8_t>& chip, std::vector<uint8_t>* binary = nullptr,
                            C_ResourceStatInfo* record = nullptr) {
        const std::string chipPath = dir_.File("in.chip");
        const std::string binPath = dir_.File("out.bin");
        EXPECT_TRUE(WriteFileBytes(chipPath, chip));
        EXPECT_NE(ombry_.Convert(chipPath, binPath, record), 0u);
        std::vector<uint8_t> bytes = ReadFileBytes(binPath);
        if (binary) *binary = bytes;
        return DecodeResource(bytes);
    }

    OmbryLibrary ombry_;
    TempDir dir_;
};

TEST_F(OmbryTest, ApmPlaysDecodedSamplesWithSilenceAndMarkers) {
    // Voice, a silence segment whose length is not a multiple of 16, a marker
    // inside the silence and two on voice (one on the very first sample).
    auto samples = SwellingVoice12(5000);
    const std::vector<ApmSilence> silences = {{1203, 1203 + 16 * 70 + 6}, {4990, 5100}};
    const std::vector<ApmEvent> events = {{0, 1, 5}, {1500, 2, 100}, {2600, 0x1FF, 63}};
    ChipFixture apm = BuildApm(samples, 0, 16000, silences, events);
    std::vector<uint8_t> binary;
    C_ResourceStatInfo record("in.chip");
    DecodedResource r = Convert(apm.file, &binary, &record);

    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rate, 16000);
    ASSERT_EQ(r.samples.size(), apm.expected.size());
    EXPECT_EQ(r.samples, apm.expected);
    EXPECT_EQ(r.markers, apm.markers);
    // Mostly long blocks: about half a byte per sample, far from one block per sample.
    EXPECT_LT(binary.size(), 6 + apm.expected.size() * 6 / 10);

    EXPECT_EQ(record.SampleRate(), 16000u);
    EXPECT_EQ(record.SampleCount(), apm.expected.size());
    EXPECT_EQ(record.BinarySize(), binary.size());
    EXPECT_EQ(record.Duration(), apm.expected.size() * 1000 / 16000);
    EXPECT_EQ(record.MarkerCount(), 3u);
}

TEST_F(OmbryTest, ApmEveryCodingModeRoundTrips) {
    // Lead-in and tail codes are part of the decoded samples and must play too.
    for (uint32_t mode : {0u, 1u, 2u, 3u}) {
        SCOPED_TRACE(mode);
        ChipFixture apm = BuildApm(SwellingVoice12(1777, 1900.0, mode * 100.0), mode, 8000, {}, {});
        DecodedResource r = Convert(apm.file);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.samples, apm.expected);
        EXPECT_TRUE(r.markers.empty());
    }
}

TEST_F(OmbryTest, ApmWithDamagedTraceStillPlaysExactly) {
    // Trace entries that do not match the codes force new blocks, never wrong samples.
    ChipFixture apm = BuildApm(SwellingVoice12(3000), 0, 11025, {}, {}, 37);
    DecodedResource r = Convert(apm.file);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.samples, apm.expected);
}

TEST_F(OmbryTest, ApmEdgeLayouts) {
    // Full-scale swings (clamping in the decoder), silence longer than one
    // silence block holds, two events at one sample, an event past the end.
    std::vector<uint16_t> loud(2000);
    for (size_t i = 0; i < loud.size(); ++i) loud[i] = (i / 40) % 2 ? 4095 : 0;
    ChipFixture apm = BuildApm(loud, 0, 8000, {{10, 10}}, {{700, 3, 1}, {700, 4, 2}, {5000, 5, 3}});
    // The second marker at sample 700 moves to 701; the one past the end is dropped.
    apm.markers = {{700, 3, 1}, {701, 4, 2}};
    DecodedResource r = Convert(apm.file);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.samples, apm.expected);
    EXPECT_EQ(r.markers, apm.markers);

    auto quiet = SwellingVoice12(70000, 30.0);
    ChipFixture longSilence = BuildApm(quiet, 0, 8000, {{100, 69000}}, {});
    r = Convert(longSilence.file);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.samples, longSilence.expected);
}

TEST_F(OmbryTest, MdmPlaysDecodedPcmWithCommandWordsAsMarkers) {
    std::vector<MdmPiece> pieces;
    pieces.push_back({MdmPiece::kVoice, SwellingVoice12(1000), 0, false});
    pieces.push_back({MdmPiece::kVoice, SwellingVoice12(300, 1200.0, 1000.0), 0, true, 2, 100});
    pieces.push_back({MdmPiece::kSilence, {}, 400, false});
    pieces.push_back({MdmPiece::kSilence, {}, 66, true, 7, 255});
    pieces.push_back({MdmPiece::kRaw, {0x800, 0x810, 0x7F0}, 0, false});
    pieces.push_back({MdmPiece::kRaw, {0x123, 0x456, 0x789, 0xABC, 0xFFF}, 0, true, 1, 0});
    pieces.push_back({MdmPiece::kVoice, SwellingVoice12(17, 600.0, 50.0), 0, false});
    ChipFixture mdm = BuildMdm(pieces, 12000);
    std::vector<uint8_t> binary;
    C_ResourceStatInfo record("in.chip");
    DecodedResource r = Convert(mdm.file, &binary, &record);

    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rate, 12000);
    ASSERT_EQ(r.samples.size(), mdm.expected.size());
    EXPECT_EQ(r.samples, mdm.expected);
    EXPECT_EQ(r.markers, mdm.markers);
    EXPECT_EQ(binary.back(), 0xFF);
    EXPECT_EQ(record.SampleCount(), mdm.expected.size());
    EXPECT_EQ(record.MarkerCount(), 3u);
    EXPECT_EQ(record.BinarySize(), binary.size());
}

TEST_F(OmbryTest, MdmWithOnlyTheEndRecord) {
    std::vector<uint8_t> binary;
    DecodedResource r = Convert(BuildMdm({}, 8000).file, &binary);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.samples.empty());
    EXPECT_EQ(binary, (std::vector<uint8_t>{'W', 'M', 'd', 'M', 0x40, 0x1F, 0xFF}));
}

TEST_F(OmbryTest, RefusesWhatItCannotConvertAndLeavesNoFile) {
    const ChipFixture apm = BuildApm(SwellingVoice12(600), 0, 8000, {{100, 200}}, {{50, 1, 1}});
    const ChipFixture mdm = BuildMdm({{MdmPiece::kVoice, SwellingVoice12(200), 0, false}}, 8000);
    auto cut = [](std::vector<uint8_t> bytes, size_t size) {
        bytes.resize(size);
        return bytes;
    };
    auto patched = [](std::vector<uint8_t> bytes, size_t at, uint8_t value) {
        bytes[at] = value;
        return bytes;
    };
    std::vector<uint8_t> wpcm = {'W', 'P', 'C', 'M', 1, 0, 22, 0, 1, 0, 12, 0, 4, 0, 0x40, 0x1F, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> noEnd = mdm.file;
    // The frame section ends at its FF: turn that into a silence record cut short.
    const uint32_t frameLength = static_cast<uint32_t>(noEnd[72] | (noEnd[73] << 8));
    noEnd[76 + frameLength - 1] = 4;

    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"other chip format", wpcm},
        {"empty file", {}},
        {"APM header only", cut(apm.file, 76)},
        {"APM cut inside the decoded samples", cut(apm.file, 76 + 300)},
        {"APM cut inside its metadata", cut(apm.file, apm.file.size() - 3)},
        {"APM with 6-bit codes", patched(apm.file, 10, 6)},
        {"APM code count past the file", patched(apm.file, 32, 0x7F)},
        {"MDM cut inside its frames", cut(mdm.file, 100)},
        {"MDM frame section past the file", patched(mdm.file, 35, 0x10)},
        {"MDM without its end record", noEnd},
        {"MDM of another variant", patched(mdm.file, 3, '6')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string chip = dir_.File("bad.chip");
        const std::string bin = dir_.File("bad.bin");
        ASSERT_TRUE(WriteFileBytes(chip, c.bytes));
        EXPECT_EQ(ombry_.Convert(chip, bin), 0u);
        EXPECT_FALSE(FileExists(bin));
    }
    EXPECT_EQ(ombry_.Convert(dir_.File("missing.apm"), dir_.File("x.bin")), 0u);
    EXPECT_FALSE(FileExists(dir_.File("x.bin")));
}

// A PAM file's resource is its code and rate, then its frame section after
// "MFRM" as the file holds it (period table, voice and silence records, end).
TEST_F(OmbryTest, PamGivesItsFrameSection) {
    auto sound = ChipSoundOf(TwoPartialVoice12(3000), 16000);
    C_PamFile pam;
    const std::string chipPath = dir_.File("a.pam"), binPath = dir_.File("a.bin");
    ASSERT_EQ(SaveWith(pam, *sound, chipPath), 1);
    const std::vector<uint8_t> file = ReadFileBytes(chipPath);
    ASSERT_NE(ombry_.Convert(chipPath, binPath, nullptr), 0u);
    const std::vector<uint8_t> binary = ReadFileBytes(binPath);
    const size_t frames = LoadU32(&file[28]), frameSize = LoadU32(&file[32]);
    std::vector<uint8_t> expected = {'W', 'P', 'A', 'M', 0x80, 0x3E};
    expected.insert(expected.end(), file.begin() + frames + 14, file.begin() + frames + frameSize);
    EXPECT_EQ(binary, expected);
}

}  // namespace
}  // namespace cz::test
