#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "formats/legacy/C_WamFile.h"
#include "formats/legacy/C_WmdFile.h"
#include "formats/registry/C_WavFileFormat.h"
#include "foundation/InputStream.h"
#include "foundation/RefPtr.h"
#include "support/HeaderFields.h"
#include "support/LittleEndian.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

// The samples of an opened file as 16-bit words.
std::vector<uint16_t> Words(C_WavFile& file) {
    const uint8_t* p = file.GetSampleBuffer();
    const uint32_t bytes = file.GetWavInfo()->GetDataSize();
    std::vector<uint16_t> w(bytes / 2);
    for (size_t i = 0; i < w.size(); ++i) w[i] = test::Le16(p + 2 * i);
    return w;
}

// Opens bytes from memory with a class; true when it takes them.
template <typename T>
bool Accepts(const std::vector<uint8_t>& bytes) {
    T file;
    return file.LoadFromStream(InputStream::FromMemory(bytes), 0) == 1 && file.Sound() != nullptr;
}

template <typename T>
std::vector<uint8_t> SaveBytes(C_WavData& sound, const test::TempDir& dir, const char* name) {
    T writer;
    const std::string path = dir.File(name);
    EXPECT_EQ(test::SaveWith(writer, sound, path), 1);
    return test::ReadFileBytes(path);
}

// ---- WAM ---------------------------------------------------------------

// The header as the reader checks it, and codes that are exactly the APM
// coder's in the coding mode of the write parameters.
TEST(WamFile, HoldsTheAdpcmCodesOfItsCodingMode) {
    test::TempDir dir;
    const std::vector<uint16_t> words = test::SpeechLike12(1001);
    auto sound = test::ChipSoundOf(words, 8000);
    for (uint32_t mode : {0u, 1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(mode);
        sound->GetWriteParam()->SetCodecParam(mode);
        const std::vector<uint8_t> file = SaveBytes<C_WamFile>(*sound, dir, "a.wam");
        C_ADPCMEncDec coder(12, 64);
        std::vector<uint8_t> codes(coder.GetMaxEncodedSize(1001, mode));
        const uint32_t k =
            coder.Encode(1001, words.data(), codes.data(), static_cast<uint32_t>(codes.size()), mode, nullptr);
        ASSERT_GT(k, 0u);
        codes.resize(k);
        ASSERT_EQ(file.size(), 22u + k);
        test::ExpectFields(file, {{0, 4, test::Le32(reinterpret_cast<const uint8_t*>("WADM"))},
                                  {4, 2, 101},
                                  {6, 2, 22},
                                  {8, 2, 1},
                                  {10, 2, 12},
                                  {12, 2, 4},
                                  {14, 2, 8000},
                                  {16, 2, 3400},
                                  {18, 4, 2ull * k}});
        EXPECT_EQ(std::vector<uint8_t>(file.begin() + 22, file.end()), codes);
    }
}

// Through the factory: format type 3, and the sound is the codes decoded,
// one sample per code, close to what was coded.
TEST(WamFile, OpensAsTheDecodedCodes) {
    test::TempDir dir;
    const std::vector<uint16_t> words = test::SpeechLike12(4000);
    auto sound = test::ChipSoundOf(words, 16000);
    sound->GetWriteParam()->SetCodecParam(kAdpcmPad);
    const std::string path = dir.File("a.wam");
    ASSERT_EQ(sound->SaveAs(kFormatWam, path.c_str()), 1);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str());
    ASSERT_TRUE(file);
    EXPECT_STREQ(factory.LastClassName(), "C_WamFile");
    EXPECT_EQ(file->GetFormatId(), 3u);
    EXPECT_EQ(file->GetWavInfo()->GetSampleRate(), 16000u);
    const std::vector<uint16_t> got = Words(*file);
    const uint32_t codes = test::Le32At(bytes, 18);
    ASSERT_EQ(got.size(), codes);
    C_ADPCMEncDec coder(12, 64);
    std::vector<uint16_t> expected(codes);
    coder.Decode(bytes.data() + 22, static_cast<uint32_t>(bytes.size() - 22), expected.data(), 2 * codes, nullptr);
    EXPECT_EQ(got, expected);
    EXPECT_GT(test::SnrDb(words, got, words.size()), 15.0);
}

// The file is exactly 22 + codes / 2 bytes: a byte more or less is not
// opened, nor is any cut of it; counts 0, odd, huge or just past the end
// and the other checked fields are refused.
TEST(WamFile, MalformedFilesAreRefused) {
    test::TempDir dir;
    auto sound = test::ChipSoundOf(test::SpeechLike12(300), 8000);
    const std::vector<uint8_t> file = SaveBytes<C_WamFile>(*sound, dir, "a.wam");
    ASSERT_TRUE(Accepts<C_WamFile>(file));
    for (size_t n = 0; n < file.size(); ++n)
        ASSERT_FALSE(Accepts<C_WamFile>(std::vector<uint8_t>(file.begin(), file.begin() + n))) << "cut at " << n;
    std::vector<uint8_t> longer = file;
    longer.push_back(0);
    EXPECT_FALSE(Accepts<C_WamFile>(longer));
    const uint32_t codes = test::Le32At(file, 18);
    const struct {
        size_t at;
        int width;
        uint32_t value;
        bool accepted;
    } cases[] = {
        {18, 4, 0, false},         {18, 4, 0xFFFFFFFF, false},
        {18, 4, codes + 2, false},                   // one byte past the end
        {18, 4, codes - 2, false},                   // one byte left over
        {18, 4, codes - 1, false},                   // odd
        {6, 2, 24, false},                           // header size
        {0, 1, 'X', false},                          // code
        {8, 2, 2, false},                            // channels
        {14, 2, 0, false},                           // rate
        {14, 2, 999, false},       {4, 2, 7, true},  // version, bits and code bits are not checked
        {10, 2, 16, true},         {16, 2, 0, true},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = file;
        if (c.width == 4)
            test::Put32At(bytes, c.at, c.value);
        else if (c.width == 2)
            test::Put16At(bytes, c.at, c.value);
        else
            bytes[c.at] = static_cast<uint8_t>(c.value);
        EXPECT_EQ(Accepts<C_WamFile>(bytes), c.accepted) << "field at " << c.at << " = " << c.value;
    }
}

// RBF resources of the ADPCM coding start with "WADM" too, then their rate:
// WAM leaves them, whole or cut, to the RBF reader, and tells a WAM file cut
// inside its header by its version.
TEST(WamFile, LeavesAdpcmResourcesToTheirReader) {
    test::TempDir dir;
    C_WavFileFormat factory;
    const std::string rbf = dir.File("a.rbf");
    ASSERT_TRUE(test::WriteFileBytes(rbf, {'W', 'A', 'D', 'M', 0x40, 0x1F, 0x00, 0x00}));
    EXPECT_TRUE(factory.Open(rbf.c_str()));
    EXPECT_STREQ(factory.LastClassName(), "C_RBFFile");
    C_WamFile wam;
    EXPECT_EQ(wam.LoadFromStream(InputStream::FromMemory(std::vector<uint8_t>{'W', 'A', 'D', 'M', 0x40, 0x1F}), 0), 0);
    EXPECT_EQ(wam.LastError(), WavFileError::kNotThisFormat);
    EXPECT_EQ(wam.LoadFromStream(InputStream::FromMemory(std::vector<uint8_t>{'W', 'A', 'D', 'M', 101, 0, 22}), 0), 0);
    EXPECT_EQ(wam.LastError(), WavFileError::kTruncated);
}

// ---- WMD ---------------------------------------------------------------

// A group of five words from 16 five-bit fields, bit by bit as the layout
// gives them: fields 0..14 three to a word from the top, field 15 spread
// over the words' bit 0, its bit 4 in the first word.
void PutGroup(std::vector<uint8_t>& out, const std::vector<uint8_t>& f) {
    for (int w = 0; w < 5; ++w) {
        uint32_t word = 0;
        for (int k = 0; k < 3; ++k)
            for (int bit = 0; bit < 5; ++bit)
                if (f[3 * w + k] & (1 << bit)) word |= 1u << (11 - 5 * k + bit);
        if (f[15] & (1 << (4 - w))) word |= 1;
        test::Put16(out, word);
    }
}

uint8_t Field(int d) { return static_cast<uint8_t>(d < 0 ? 0x10 | -d : d); }

// A hand-made file: a short frame at step 8 (scale index 0, written as 14),
// then a long frame at step 24 (index 2), then the end code.
struct HandWmd {
    std::vector<uint8_t> bytes;
    std::vector<uint16_t> expected;
};

HandWmd MakeHandWmd(uint16_t rate) {
    const std::vector<int> shortDiffs = {1, 2, 3, -1, -2, -3, 15, -15, 0, 4, 5, -4, 7, -7, 1};
    std::vector<int> longDiffs;
    for (int i = 0; i < 63; ++i) longDiffs.push_back((i * 7) % 31 - 15);
    HandWmd h;
    int v = 2047;
    for (int d : shortDiffs) h.expected.push_back(static_cast<uint16_t>(v = std::clamp(v + 8 * d, 0, 4095)));
    for (int d : longDiffs) h.expected.push_back(static_cast<uint16_t>(v = std::clamp(v + 24 * d, 0, 4095)));

    std::vector<uint8_t> frames;
    std::vector<uint8_t> f;
    for (int d : shortDiffs) f.push_back(Field(d));
    f[8] = 0x10;              // minus zero reads as zero
    f.push_back(2 << 1 | 1);  // next: long frame, index 2
    PutGroup(frames, f);
    f.clear();
    for (int d : longDiffs) f.push_back(Field(d));
    f.push_back(0);  // end
    for (size_t g = 0; g < 4; ++g) PutGroup(frames, std::vector<uint8_t>(f.begin() + 16 * g, f.begin() + 16 * g + 16));

    std::vector<uint8_t>& b = h.bytes;
    test::PutTag(b, "WMDM");
    test::Put16(b, 2);
    test::Put16(b, 24);
    test::Put16(b, 1);
    test::Put16(b, 12);
    test::Put16(b, 5);
    test::Put16(b, rate);
    test::Put16(b, 0);
    test::Put32(b, static_cast<uint32_t>(frames.size()));
    test::Put16(b, 14 << 1);  // first: short frame, index 0 as 14
    b.insert(b.end(), frames.begin(), frames.end());
    return h;
}

// The frame walk counts 15 + 63 samples, and they decode to the running sum
// of the differences times each frame's step; a rate of 0 is 6000 Hz.
TEST(WmdFile, DecodesHandMadeFrames) {
    for (uint16_t rate : {uint16_t(0), uint16_t(8000)}) {
        SCOPED_TRACE(rate);
        const HandWmd h = MakeHandWmd(rate);
        C_WmdFile file;
        ASSERT_EQ(file.LoadFromStream(InputStream::FromMemory(h.bytes), 0), 1);
        EXPECT_EQ(file.GetFormatId(), 4u);
        EXPECT_EQ(file.FrameCount(), 2u);
        EXPECT_EQ(file.GetWavInfo()->GetSampleRate(), rate == 0 ? 6000u : rate);
        EXPECT_EQ(Words(file), h.expected);
        // The Q310 class takes only its own code.
        EXPECT_FALSE(Accepts<C_Q310WmdFile>(h.bytes));
    }
}

// The Q310 form raises decoded values above 2047 by 16, at most to 4095.
TEST(WmdFile, Q310RaisesTheUpperHalf) {
    HandWmd h = MakeHandWmd(8000);
    std::copy_n("WMD5", 4, h.bytes.begin());
    C_Q310WmdFile file;
    ASSERT_EQ(file.LoadFromStream(InputStream::FromMemory(h.bytes), 0), 1);
    EXPECT_EQ(file.GetFormatId(), 7u);
    std::vector<uint16_t> expected = h.expected;
    for (uint16_t& v : expected)
        if (v > 2047) v = static_cast<uint16_t>(std::min(v + 16, 4095));
    EXPECT_EQ(Words(file), expected);
    EXPECT_FALSE(Accepts<C_WmdFile>(h.bytes));
    const struct {
        uint16_t decoded, played;
    } rows[] = {{0, 0}, {2047, 2047}, {2048, 2064}, {4079, 4095}, {4080, 4095}, {4095, 4095}};
    for (const auto& r : rows) EXPECT_EQ(file.PlayedValue(r.decoded), r.played) << r.decoded;
    // The writer codes each sample where the raise brings it back (or, in
    // the gap 2048 ... 2063, to whichever neighbour plays nearer).
    const struct {
        uint16_t sample, coded;
    } writes[] = {{0, 0},       {2047, 2047}, {2048, 2047}, {2055, 2047},
                  {2056, 2048}, {2063, 2048}, {2064, 2048}, {4095, 4079}};
    for (const auto& w : writes) EXPECT_EQ(file.CodedValue(w.sample), w.coded) << w.sample;
}

// Saved and reopened through the factory: the header fields the reader
// checks, frames that are the MDPCM coder's own (63/15, alias, 2047 start),
// every sample of the planned frames, and the sound close to the source. The
// Q310 writer codes so that the chip's raise brings the sound back.
TEST(WmdFile, SavesWhatItsReaderOpens) {
    test::TempDir dir;
    const std::vector<uint16_t> words = test::SpeechLike12(1000);
    auto sound = test::ChipSoundOf(words, 11025);
    C_WavFileFormat factory;
    const struct {
        FormatId id;
        const char* name;
        const char* code;
        const char* cls;
    } rows[] = {{kFormatWmd, "a.wmd", "WMDM", "C_WmdFile"}, {kFormatQ310Wmd, "a.wm5", "WMD5", "C_Q310WmdFile"}};
    double snr[2] = {};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.File(row.name);
        ASSERT_EQ(sound->SaveAs(row.id, path.c_str()), 1);
        const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
        ASSERT_GE(bytes.size(), 24u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), row.code);
        test::ExpectFields(bytes, {{4, 2, 2}, {6, 2, 24}, {14, 2, 11025}, {18, 4, bytes.size() - 24}});

        RefPtr<C_WavFile> file = factory.Open(path.c_str());
        ASSERT_TRUE(file);
        EXPECT_STREQ(factory.LastClassName(), row.cls);
        EXPECT_EQ(file->GetFormatId(), static_cast<uint32_t>(row.id));
        EXPECT_EQ(factory.GetFileFormat(path.c_str()), static_cast<uint32_t>(row.id));
        // 1000 samples: 13 long frames (819) and 13 short ones (195).
        const std::vector<uint16_t> got = Words(*file);
        ASSERT_EQ(got.size(), 13u * 63 + 13 * 15);
        EXPECT_EQ(bytes.size(), 24u + 13 * 40 + 13 * 10);
        snr[row.id == kFormatWmd ? 0 : 1] = test::SnrDb(words, got, words.size());
        EXPECT_GT(snr[row.id == kFormatWmd ? 0 : 1], 20.0);

        if (row.id == kFormatWmd) {
            C_MDPCMEncDec coder(1, 16);
            std::vector<uint8_t> stream(coder.GetMaxEncodedSize(1000, 63, 15));
            const uint32_t n = coder.Encode(stream.data(), stream.size(), 1000, words.data(), 2047, 63, 15, 0, nullptr);
            ASSERT_GT(n, 0u);
            std::vector<uint16_t> expected(got.size());
            ASSERT_EQ(coder.Decode(expected.data(), expected.size(), stream.data(), n, 2047, 63, 15, nullptr),
                      got.size());
            EXPECT_EQ(got, expected);
            EXPECT_EQ(test::Le16At(bytes, 22), stream[0]);
        }
    }
    // Within a dB of WMD (41.2 and 40.4 dB); coded without the compensation,
    // the Q310 sound sits 16 high in its upper half and measures 30.9 dB.
    EXPECT_GT(snr[1], snr[0] - 2.0) << snr[0] << " " << snr[1];
}

// Every cut of a saved file, and frame sizes, codes and header fields that
// point nowhere.
TEST(WmdFile, MalformedFilesAreRefused) {
    test::TempDir dir;
    auto sound = test::ChipSoundOf(test::SpeechLike12(200), 8000);
    const std::vector<uint8_t> file = SaveBytes<C_WmdFile>(*sound, dir, "a.wmd");
    ASSERT_TRUE(Accepts<C_WmdFile>(file));
    for (size_t n = 0; n < file.size(); ++n)
        ASSERT_FALSE(Accepts<C_WmdFile>(std::vector<uint8_t>(file.begin(), file.begin() + n))) << "cut at " << n;
    const uint32_t size = static_cast<uint32_t>(file.size() - 24);
    const struct {
        size_t at;
        int width;
        uint32_t value;
        bool accepted;
    } cases[] = {
        {18, 4, 0, false},  // no frame data for the first frame
        {18, 4, 0xFFFFFFFF, false},
        {18, 4, size + 1, false},                         // just past the end
        {18, 4, size - 1, false},                         // the last frame runs past the data
        {22, 2, 0, false},                                // no frames
        {22, 2, test::Le16At(file, 22) | 0xFFE0u, true},  // only the low five bits are the code
        {6, 2, 22, false},                                // header size
        {0, 1, 'X', false},
        {14, 2, 999, false},  // rate below what is used
        {14, 2, 0, true},     // 6000 Hz
        {4, 2, 9, true},      // fields the reader does not check
        {8, 2, 2, true},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = file;
        if (c.width == 4)
            test::Put32At(bytes, c.at, c.value);
        else if (c.width == 2)
            test::Put16At(bytes, c.at, c.value);
        else
            bytes[c.at] = static_cast<uint8_t>(c.value);
        EXPECT_EQ(Accepts<C_WmdFile>(bytes), c.accepted) << "field at " << c.at << " = " << c.value;
    }
    // Frames that never reach the end code: the last frame names a next one.
    std::vector<uint8_t> endless = file;
    endless[endless.size() - 2] |= 1;  // bit 0 of the last word: bit 0 of the next code
    EXPECT_FALSE(Accepts<C_WmdFile>(endless));
    // Bytes after the frame data are left alone.
    std::vector<uint8_t> trailing = file;
    trailing.push_back(0x55);
    EXPECT_TRUE(Accepts<C_WmdFile>(trailing));
}

// MDM files start with "WMDM" too: WMD leaves them, whole or cut inside
// their header, to the MDM reader.
TEST(WmdFile, LeavesMdmFilesToTheirReader) {
    test::TempDir dir;
    auto sound = test::ChipSoundOf(test::SpeechLike12(500), 8000);
    const std::string path = dir.File("a.mdm");
    ASSERT_EQ(sound->SaveAs(kFormatMdm, path.c_str()), 1);
    const std::vector<uint8_t> mdm = test::ReadFileBytes(path);
    ASSERT_EQ(std::string(mdm.begin(), mdm.begin() + 4), "WMDM");
    C_WavFileFormat factory;
    EXPECT_TRUE(factory.Open(path.c_str()));
    EXPECT_STREQ(factory.LastClassName(), "C_MdmFile");
    for (size_t n : {size_t(30), mdm.size()}) {
        C_WmdFile wmd;
        EXPECT_EQ(wmd.LoadFromStream(InputStream::FromMemory(std::vector<uint8_t>(mdm.begin(), mdm.begin() + n)), 0),
                  0);
        EXPECT_EQ(wmd.LastError(), WavFileError::kNotThisFormat) << n;
    }
    const HandWmd h = MakeHandWmd(8000);
    C_WmdFile cut;
    EXPECT_EQ(
        cut.LoadFromStream(InputStream::FromMemory(std::vector<uint8_t>(h.bytes.begin(), h.bytes.begin() + 20)), 0), 0);
    EXPECT_EQ(cut.LastError(), WavFileError::kTruncated);
}

// A sound the formats cannot hold leaves no file behind.
TEST(LegacyFormats, FailedSavesLeaveNothing) {
    test::TempDir dir;
    auto fast = test::ChipSoundOf(test::SpeechLike12(100), 70000);  // the rate field has 16 bits
    auto empty = test::ChipSoundOf({}, 8000);
    for (FormatId id : {kFormatWam, kFormatWmd, kFormatQ310Wmd}) {
        for (C_WavData* sound : {fast.get(), empty.get()}) {
            const std::string path = dir.File("x.out");
            EXPECT_EQ(sound->SaveAs(id, path.c_str()), 0) << id;
            EXPECT_FALSE(test::FileExists(path)) << id;
        }
    }
}

}  // namespace
}  // namespace cz
