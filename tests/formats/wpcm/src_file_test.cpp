// WPCM source files: header layout, exact-length check, scrambling, the
// factory's ids 1 and 13, and a sound that is never changed by a save.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "formats/registry/C_WavFileFormat.h"
#include "foundation/ByteReader.h"
#include "foundation/InputStream.h"
#include "foundation/RefPtr.h"
#include "formats/wpcm/C_EnSrcFile.h"
#include "formats/wpcm/C_SrcFile.h"
#include "support/HeaderFields.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

// A mono 12-bit offset-binary sound holding the given words.
std::unique_ptr<C_WavData> ChipSound(const std::vector<uint16_t>& words, uint32_t rate = 8000) {
    return test::ChipSoundOf(words, rate);
}

std::vector<uint8_t> ValidFile(uint32_t count, uint16_t format = C_SrcFile::kFormatPlain) {
    std::vector<uint8_t> bytes = C_SrcFile::BuildSourceHeader(1, 8000, count, format == C_SrcFile::kFormatScrambled);
    bytes.resize(22 + 2 * count, 0x10);
    return bytes;
}

int32_t Probe(const std::vector<uint8_t>& bytes, uint32_t* flags = nullptr) {
    C_SrcFile file;
    return file.ProbeStream(InputStream::FromMemory(bytes), flags);
}

TEST(SrcFile, HeaderFieldsAndWordsAsWritten) {
    test::TempDir dir;
    auto sound = ChipSound({0, 1, 2048, 4095, 300}, 22050);
    C_SrcFile writer;
    ASSERT_EQ(test::SaveWith(writer, *sound, dir.File("a.src")), 1);
    auto bytes = test::ReadFileBytes(dir.File("a.src"));
    ASSERT_EQ(bytes.size(), 22u + 10u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), "WPCM", 4));
    test::ExpectFields(bytes, {
                                  {4, 2, 1},
                                  {6, 2, 22},
                                  {8, 2, 1},
                                  {10, 2, 12},
                                  {12, 2, 4},
                                  {14, 2, 22050},
                                  {16, 2, 9371},  // 11025 x 0.85 = 9371.25, truncated
                                  {18, 4, 5},
                                  {22, 2, 0},
                                  {28, 2, 4095},
                                  {30, 2, 300},
                              });

    C_SrcFile reader;
    ASSERT_EQ(reader.Load(dir.File("a.src").c_str(), 1), 1);
    EXPECT_EQ(reader.GetFormatId(), 1u);
    C_WavData* loaded = reader.Sound();
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->GetWavInfo()->GetSampleRate(), 22050u);
    ASSERT_EQ(loaded->SampleCount(), 5u);
    EXPECT_EQ(loaded->Sample(3, 0), 4095 - 2048);
    EXPECT_EQ(loaded->Sample(0, 0), -2048);
}

// The header's cut-off frequency is (rate / 2) x 0.85 truncated, as 64-bit
// doubles compute it, for every rate a header can hold: the integer form used
// in the file classes may not drift from it on any unit (an 80-bit x87 unit
// gives 6799 for 16000 Hz).
TEST(SrcFile, CutOffFrequencyEqualsTheDoubleFormulaAtEveryRate) {
    for (uint32_t rate = 4000; rate <= 65535; ++rate) {
        volatile double half = static_cast<double>(rate / 2);
        volatile double product = half * 0.85;
        ASSERT_EQ(C_SrcFile::CutOffFrequency(rate), static_cast<uint16_t>(product)) << rate;
    }
    EXPECT_EQ(C_SrcFile::CutOffFrequency(16000), 6800);
    EXPECT_EQ(C_SrcFile::CutOffFrequency(8000), 3400);
}

TEST(SrcFile, ScrambledRoundTripAndByteMap) {
    // The byte map is a bijection and its inverse follows the reading rule.
    for (int b = 0; b < 256; ++b) {
        uint8_t s = C_SrcFile::ScrambleByte(static_cast<uint8_t>(b));
        int v = s - 3;
        if (v < 0) v += 256;
        while (v % 7) v += 256;
        EXPECT_EQ(v / 7, b);
        EXPECT_EQ(C_SrcFile::UnscrambleByte(s), b);
    }
    EXPECT_EQ(C_SrcFile::ScrambleByte(0), 3);
    EXPECT_EQ(C_SrcFile::ScrambleByte(255), 252);

    test::TempDir dir;
    std::vector<uint16_t> words = {0x0000, 0x0FFF, 0x0800, 0x01FF, 0x0A55};
    auto sound = ChipSound(words);
    C_EnSrcFile writer;
    ASSERT_EQ(test::SaveWith(writer, *sound, dir.File("s.src")), 1);
    // The caller's samples are not scrambled by the save.
    for (size_t i = 0; i < words.size(); ++i) EXPECT_EQ(sound->Sample(static_cast<uint32_t>(i), 0) + 2048, words[i]);
    auto bytes = test::ReadFileBytes(dir.File("s.src"));
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(LoadU16(&bytes[12]), 0x84);
    EXPECT_EQ(bytes[22], 3);    // low byte 0x00
    EXPECT_EQ(bytes[24], 252);  // low byte 0xFF
    EXPECT_EQ(bytes[25], static_cast<uint8_t>(7 * 0x0F + 3));

    uint32_t flags = 99;
    EXPECT_EQ(Probe(bytes, &flags), 1);
    EXPECT_EQ(flags, 1u);
    C_SrcFile reader;
    ASSERT_EQ(reader.Load(dir.File("s.src").c_str(), 1), 1);
    EXPECT_EQ(reader.GetFormatId(), 13u);
    for (size_t i = 0; i < words.size(); ++i)
        EXPECT_EQ(reader.Sound()->Sample(static_cast<uint32_t>(i), 0) + 2048, words[i]) << i;
}

TEST(SrcFile, FactoryTellsPlainFromScrambled) {
    test::TempDir dir;
    auto sound = ChipSound({1, 2, 3, 4});
    C_SrcFile plain;
    C_EnSrcFile scrambled;
    ASSERT_EQ(test::SaveWith(plain, *sound, dir.File("p.src")), 1);
    ASSERT_EQ(test::SaveWith(scrambled, *sound, dir.File("e.src")), 1);
    C_WavFileFormat factory;
    EXPECT_EQ(factory.GetFileFormat(dir.File("p.src").c_str()), 1u);
    EXPECT_EQ(factory.GetFileFormat(dir.File("e.src").c_str()), 13u);
    EXPECT_EQ(factory.IsFileFormat(13, dir.File("p.src").c_str()), 0);
    EXPECT_EQ(factory.IsFileFormat(1, dir.File("e.src").c_str()), 0);
    // The sound's save by id picks the writers.
    ASSERT_EQ(sound->SaveAs(13, dir.File("e2.src").c_str()), 1);
    EXPECT_EQ(test::ReadFileBytes(dir.File("e2.src")), test::ReadFileBytes(dir.File("e.src")));
    I_WavFile* opened = factory.OpenWavFile(dir.File("e.src").c_str(), 1, 1);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->GetFormatId(), 13u);
    EXPECT_EQ(opened->GetWavInfo()->GetSampleCount(), 4u);
    opened->Release();
}

TEST(SrcFile, LengthMustMatchCountExactly) {
    auto good = ValidFile(6);
    EXPECT_EQ(Probe(good), 1);
    auto longer = good;
    longer.push_back(0);
    EXPECT_EQ(Probe(longer), 0);
    // Cut at every byte.
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_EQ(Probe(cut), 0) << n;
    }
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        bool wide;
    };
    const Case cases[] = {
        {"count 0", 18, 0, true},
        {"count 5", 18, 5, true},
        {"count 7", 18, 7, true},
        {"count max", 18, 0xFFFFFFFFu, true},
        {"count wraps 2x", 18, 0x80000006u, true},
        {"header size 24", 6, 24, false},
        {"header size 0", 6, 0, false},
        {"no channels", 8, 0, false},
        {"no rate", 14, 0, false},
    };
    for (const Case& c : cases) {
        auto bytes = good;
        if (c.wide)
            StoreU32(&bytes[c.at], c.value);
        else
            StoreU16(&bytes[c.at], static_cast<uint16_t>(c.value));
        EXPECT_EQ(Probe(bytes), 0) << c.what;
    }
    auto magic = good;
    magic[3] = 'X';
    EXPECT_EQ(Probe(magic), 0);
    // An empty file with a count of 0 is a valid, empty source.
    EXPECT_EQ(Probe(ValidFile(0)), 1);
}

TEST(SrcFile, StereoSixteenBitIsMixedAndConvertedOnACopy) {
    // Left +16384, right -16384 average to 0 -> 2048; both +8192 -> 512 + 2048.
    auto sound = std::make_unique<C_WavData>();
    std::vector<uint8_t> bytes(8);
    StoreU16(&bytes[0], 16384);
    StoreU16(&bytes[2], static_cast<uint16_t>(-16384));
    StoreU16(&bytes[4], 8192);
    StoreU16(&bytes[6], 8192);
    sound->SetFormat(16000, 8, 2, 16, 16, 1);
    sound->SetSampleData(bytes.data(), 8);
    test::TempDir dir;
    C_SrcFile writer;
    ASSERT_EQ(test::SaveWith(writer, *sound, dir.File("m.src")), 1);
    auto out = test::ReadFileBytes(dir.File("m.src"));
    ASSERT_EQ(out.size(), 26u);
    EXPECT_EQ(LoadU16(&out[22]), 2048);
    EXPECT_EQ(LoadU16(&out[24]), 2048 + 512);
    EXPECT_EQ(sound->GetWavInfo()->GetChannels(), 2);
    EXPECT_EQ(sound->GetWavInfo()->GetValidBits(), 16);
    EXPECT_EQ(sound->Sample(0, 1), -16384);
}

TEST(SrcFile, SaveRefusesWhatItCannotStore) {
    test::TempDir dir;
    C_SrcFile writer;
    EXPECT_EQ(writer.Save(dir.File("none.src").c_str()), 0);  // no sound
    auto fast = ChipSound({1, 2}, 96000);                     // rate beyond the 16-bit field
    EXPECT_EQ(test::SaveWith(writer, *fast, dir.File("fast.src")), 0);
    EXPECT_FALSE(test::FileExists(dir.File("fast.src")));
    C_WavData empty;
    EXPECT_EQ(test::SaveWith(writer, empty, dir.File("empty.src")), 0);
    EXPECT_FALSE(test::FileExists(dir.File("empty.src")));
}

// The words are made sample by sample; the sound model's own route (a mono
// copy, then a format conversion) is the witness, over storages, channel
// counts, a buffer shorter than the data size says, and target widths.
TEST(SrcFile, ChipWordsEqualTheSoundModelsCopyRoute) {
    struct Case {
        const char* name;
        uint16_t channels, valid, container;
        uint32_t signedFlag;
        uint32_t cutBytes;  // taken off the buffer (the data size stays)
    };
    const Case cases[] = {
        {"16-bit mono", 1, 16, 16, 1, 0},          {"16-bit stereo", 2, 16, 16, 1, 0},
        {"8-bit unsigned", 1, 8, 8, 0, 0},         {"8-bit stereo", 2, 8, 8, 0, 0},
        {"24 in 32 bits", 1, 24, 32, 1, 0},        {"12-bit offset", 1, 12, 16, 0, 0},
        {"three channels", 3, 16, 16, 1, 0},       {"short mono buffer", 1, 16, 16, 1, 10},
        {"short stereo buffer", 2, 16, 16, 1, 12},
    };
    for (const Case& c : cases) {
        for (uint16_t width : {12, 14, 16}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(width) + " bits");
            const uint32_t frames = 97, bytesPerFrame = c.channels * c.container / 8u;
            std::vector<uint8_t> bytes(frames * bytesPerFrame);
            uint32_t x = 12345;
            for (uint8_t& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
            auto sound = std::make_unique<C_WavData>();
            sound->SetFormat(8000, static_cast<uint32_t>(bytes.size()), c.channels, c.valid, c.container, c.signedFlag);
            sound->SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size()));
            // The buffer shortened; the data size stays.
            if (c.cutBytes) sound->GetBuffer()->CopyIn(bytes.data(), static_cast<uint32_t>(bytes.size() - c.cutBytes));
            ASSERT_EQ(sound->GetDataSize(), bytes.size());
            RefPtr<I_WavData> mono(sound->Clone());
            if (c.channels > 1) {
                ASSERT_EQ(mono->ToMono(), 1);
            }
            RefPtr<I_WavData> converted(mono->ConvertFormat(width, 16, 0, nullptr));
            ASSERT_TRUE(converted);
            auto* witness = static_cast<C_WavData*>(converted.get());
            const uint32_t count = std::min<uint32_t>(witness->SampleCount(), witness->GetBuffer()->Capacity() / 2);
            std::vector<uint16_t> expected(count);
            for (uint32_t s = 0; s < count; ++s)
                expected[s] = static_cast<uint16_t>(witness->Sample(s, 0) + (1 << (width - 1)));

            std::vector<uint16_t> words;
            ASSERT_TRUE(C_SrcFile::ChipSampleWords(*sound, words, width));
            EXPECT_EQ(words, expected);
            EXPECT_EQ(sound->GetBuffer()->Capacity(), bytes.size() - c.cutBytes);  // the sound is not changed
        }
    }
}

// A sound held only for its save gives its block as the words: the same file
// as from an ordinary sound, and the sound holds no samples afterwards.
TEST(SrcFile, HeldSoundIsTakenOverBySave) {
    const std::vector<int16_t> values = {0, 16, -16, 32767, -32768, 1234, -4321, 8};
    auto plain = test::Sound16(values, 1, 8000);
    C_WavData held;
    held.SetFormat(8000, 0, 1, 16, 16, 1);
    uint8_t* block = held.HoldSamplesForOneSave(static_cast<uint32_t>(values.size() * 2));
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < values.size(); ++i) StoreU16(block + 2 * i, static_cast<uint16_t>(values[i]));
    ASSERT_NE(held.HeldSamples(), nullptr);
    EXPECT_EQ(held.Sample(3, 0), 32767);

    test::TempDir dir;
    C_SrcFile a, b;
    ASSERT_EQ(test::SaveWith(a, *plain, dir.File("plain.src")), 1);
    ASSERT_EQ(test::SaveWith(b, held, dir.File("held.src")), 1);
    EXPECT_EQ(test::ReadFileBytes(dir.File("held.src")), test::ReadFileBytes(dir.File("plain.src")));
    EXPECT_EQ(held.HeldSamples(), nullptr);
    EXPECT_EQ(held.GetBuffer()->Capacity(), 0u);
    EXPECT_EQ(held.GetDataSize(), 0u);
    EXPECT_EQ(plain->GetBuffer()->Capacity(), values.size() * 2);  // an ordinary sound keeps its samples

    C_WavData eight;
    eight.SetFormat(8000, 0, 1, 8, 8, 0);
    EXPECT_EQ(eight.HoldSamplesForOneSave(8), nullptr);  // only 16-bit samples are held so
}

}  // namespace
}  // namespace cz
