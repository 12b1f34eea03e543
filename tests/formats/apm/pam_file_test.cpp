// The PAM file: the MPM container with a period table and ADPCM voice
// records; saved, reopened with its periods and counts, decoded, and refused
// when damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/apm/C_PamFile.h"
#include "formats/registry/C_WavFileFormat.h"
#include "foundation/ByteReader.h"
#include "support/LittleEndian.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

// 16000 samples of steady voice at 180 Hz with digital silence from 6000
// to 8999 marked as a silence segment.
std::unique_ptr<C_WavData> VoiceWithPause(std::vector<uint16_t>* words) {
    *words = test::TwoPartialVoice12(16000, 180.0, 16000);
    for (uint32_t i = 6000; i < 9000; ++i) (*words)[i] = 2048;
    auto sound = test::ChipSoundOf(*words, 16000);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(6000, 8999));
    return sound;
}

std::vector<uint16_t> Section(const std::vector<uint8_t>& f, size_t offsetField, size_t countField) {
    std::vector<uint16_t> out(LoadU32(&f[countField]));
    for (size_t i = 0; i < out.size(); ++i) out[i] = LoadU16(&f[LoadU32(&f[offsetField]) + 2 * i]);
    return out;
}

TEST(PamFile, ReopensWithItsPeriodsCountsAndFrames) {
    test::TempDir dir;
    std::vector<uint16_t> words;
    auto sound = VoiceWithPause(&words);
    const std::string path = dir.File("a.pam");
    ASSERT_EQ(sound->SaveAs(kFormatPam, path.c_str()), 1);
    const std::vector<uint8_t> f = test::ReadFileBytes(path);
    ASSERT_GT(f.size(), 100u);
    EXPECT_EQ(std::memcmp(f.data(), "WPAM", 4), 0);
    EXPECT_EQ(std::memcmp(&f[LoadU32(&f[28])], "MFRM", 4), 0);
    EXPECT_EQ(std::memcmp(&f[LoadU32(&f[28]) + 14], "WPER", 4), 0);

    C_WavFileFormat factory;
    I_WavFile* opened = factory.OpenWavFile(path.c_str(), 1, 1);
    ASSERT_NE(opened, nullptr);
    auto* pam = dynamic_cast<C_PamFile*>(opened);
    ASSERT_NE(pam, nullptr);
    EXPECT_EQ(opened->GetFormatId(), static_cast<uint32_t>(kFormatPam));
    EXPECT_EQ(opened->GetWavInfo()->GetSampleCount(), 16000u);

    // The periods read back are those of the samples, with their counts.
    const std::vector<S_PamPeriod> expected = C_PamFile::FindPeriods(words);
    const std::vector<S_PamPeriod>& periods = pam->Periods();
    ASSERT_EQ(periods.size(), expected.size());
    ASSERT_GT(periods.size(), 100u);
    for (size_t i = 0; i < periods.size(); ++i) {
        EXPECT_EQ(periods[i].first, expected[i].first) << i;
        EXPECT_EQ(periods[i].length, expected[i].length) << i;
        EXPECT_EQ(std::memcmp(periods[i].counts, expected[i].counts, kPamVariantCount), 0) << i;
    }
    // Voice at 180 Hz (88.9 samples) is cut a little short, at the first
    // length that matches well enough; the pause gives periods of 40.
    int voiced = 0, silent = 0;
    for (const S_PamPeriod& p : periods) {
        voiced += p.length >= 78 && p.length <= 89;
        silent += p.first >= 6000 && p.first + p.length <= 9000 && p.length == 40;
    }
    EXPECT_GT(voiced, 80);
    EXPECT_GT(silent, 60);

    // Each variant's counts regenerate the recording to about its factor:
    // the emitted periods plus the samples outside them.
    const double factors[kPamVariantCount] = {0.5, 0.6, 0.7, 0.8, 0.9, 1.2, 1.4, 1.6, 1.8, 2.0};
    for (uint32_t v = 0; v < kPamVariantCount; ++v) {
        uint64_t out = 16000;
        int run = 0;
        for (const S_PamPeriod& p : periods) {
            const int c = p.counts[v];
            EXPECT_LE(c, factors[v] < 1 ? 1 : 3) << v;
            run = c == 0 ? run + 1 : 0;
            if (factors[v] < 1) EXPECT_LE(run, 3) << v;
            out -= p.length;
            out += uint64_t(factors[v] < 1 ? c : std::max(c, 1)) * p.length;
        }
        EXPECT_NEAR(double(out), factors[v] * 16000, 300 * std::abs(factors[v] - 1) + 2 * 150) << v;
    }

    // The records decode to the decoded section, which follows the source.
    S_FrameDecode frames;
    ASSERT_TRUE(pam->DecodeFrames(frames));
    const std::vector<uint16_t> decoded = Section(f, 48, 52);
    EXPECT_EQ(frames.decoded, decoded);
    EXPECT_GT(test::SnrDb(words, decoded, 6000), 15.0);
    EXPECT_EQ(Section(f, 38, 42), words);
    opened->Release();
}

TEST(PamFile, EveryCodingModeDecodesToItsDecodedSection) {
    test::TempDir dir;
    for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 200u}) {
        std::vector<uint16_t> words;
        auto sound = VoiceWithPause(&words);
        sound->GetWriteParam()->SetCodecParam(mode);
        const std::string path = dir.File("m.pam");
        ASSERT_EQ(sound->SaveAs(kFormatPam, path.c_str()), 1) << mode;
        const std::vector<uint8_t> f = test::ReadFileBytes(path);
        EXPECT_EQ(LoadU16(&f[60]), mode == 1 ? 5 : 4) << mode;
        C_PamFile reader;
        ASSERT_EQ(reader.ReadHeader(path.c_str(), 1, nullptr), 1) << mode;
        S_FrameDecode frames;
        ASSERT_TRUE(reader.DecodeFrames(frames)) << mode;
        EXPECT_EQ(frames.decoded, Section(f, 48, 52)) << mode;
    }
}

TEST(PamFile, ShortSoundHasAnEmptyPeriodTable) {
    test::TempDir dir;
    const std::vector<uint16_t> words = test::TwoPartialVoice12(250);
    auto sound = test::ChipSoundOf(words, 8000);
    C_PamFile writer;
    ASSERT_EQ(test::SaveWith(writer, *sound, dir.File("s.pam")), 1);
    C_PamFile reader;
    ASSERT_EQ(reader.ReadHeader(dir.File("s.pam").c_str(), 1, nullptr), 1);
    EXPECT_TRUE(reader.Periods().empty());
    S_FrameDecode frames;
    ASSERT_TRUE(reader.DecodeFrames(frames));
    EXPECT_GE(frames.decoded.size(), words.size());
}

TEST(PamFile, RefusesDamagedFrameSections) {
    test::TempDir dir;
    std::vector<uint16_t> words;
    auto sound = VoiceWithPause(&words);
    const std::string good = dir.File("good.pam");
    ASSERT_EQ(sound->SaveAs(kFormatPam, good.c_str()), 1);
    const std::vector<uint8_t> f = test::ReadFileBytes(good);
    const size_t d = LoadU32(&f[28]) + 14;  // the frame data
    const size_t end = LoadU32(&f[28]) + LoadU32(&f[32]);
    const uint32_t periods = LoadU32(&f[d + 8]);
    const size_t records = d + 24 + 16 * size_t{periods};

    struct Patch {
        const char* what;
        size_t at;
        std::vector<uint8_t> bytes;
    };
    const Patch patches[] = {
        {"period table code", d, {'X'}},
        {"period entry size", d + 6, {15, 0}},
        {"variant count", d + 12, {9}},
        {"period count beyond the section", d + 8, {0xFF, 0xFF, 0xFF, 0x0F}},
        {"period of no samples", d + 24 + 4, {0, 0}},
        {"period beyond the samples", d + 24, {0x00, 0xFF, 0xFF, 0x00}},
        {"periods out of order", d + 24 + 16, {0, 0, 0, 0}},
        {"record of unknown type", records, {9}},
        {"voice longer than its codes", records + 1, {0xFF, 0xFF, 0xFF, 0x7F}},
        {"voice codes beyond the section", records + 5, {0xFF, 0xFF, 0xFF, 0x7F}},
        {"end record replaced", end - 1, {2}},
    };
    for (const Patch& p : patches) {
        std::vector<uint8_t> bad = f;
        ASSERT_LE(p.at + p.bytes.size(), bad.size()) << p.what;
        std::memcpy(&bad[p.at], p.bytes.data(), p.bytes.size());
        const std::string path = dir.File("bad.pam");
        ASSERT_TRUE(test::WriteFileBytes(path, bad));
        C_PamFile reader;
        EXPECT_EQ(reader.ReadHeader(path.c_str(), 1, nullptr), 0) << p.what;
        EXPECT_TRUE(reader.Periods().empty()) << p.what;
    }
    // Cut short anywhere: refused.
    for (size_t size = 0; size < f.size(); size += 1 + f.size() / 97) {
        const std::string path = dir.File("cut.pam");
        ASSERT_TRUE(test::WriteFileBytes(path, std::vector<uint8_t>(f.begin(), f.begin() + size)));
        C_PamFile reader;
        EXPECT_EQ(reader.ReadHeader(path.c_str(), 1, nullptr), 0) << size;
    }
    // The untouched file still opens.
    C_PamFile reader;
    EXPECT_EQ(reader.ReadHeader(good.c_str(), 1, nullptr), 1);
}

}  // namespace
}  // namespace cz
