#include <gtest/gtest.h>

#include <set>
#include <string>

#include "api/C_WavFileFormat.h"
#include "api/FormatClasses.h"
#include "api/FormatRegistry.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"
#include "wave/C_WavFile.h"

namespace cz {
namespace {

TEST(FormatRegistry, Tables) {
    EXPECT_EQ(FormatRecords().size(), 50u);
    EXPECT_EQ(FormatCodes().size(), 27u);
    EXPECT_EQ(FormatOpenOrder().size(), 34u);
    EXPECT_EQ(FormatProbes().size(), 34u);
    struct Case {
        const char* ext;
        uint32_t id;
    } cases[] = {{".apm", 5}, {".Wio", 2}, {".WAV", 2}, {".SRC", 1}, {".mid", 9}, {".KAR", 9},
                 {".TXT", 0}, {"APM", 0},  {"", 0},      {".bin", 161}, {".42m", 43}};
    for (const auto& c : cases) EXPECT_EQ(GetFormatIdFromExtension(c.ext), c.id) << c.ext;
    EXPECT_EQ(GetFormatIdFromExtension(nullptr), 0u);
    // The probe table's order of ids.
    const uint32_t order[] = {1, 13, 2, 3, 4, 7, 5, 5, 6, 8, 21, 12, 14, 15, 17, 22, 23,
                              16, 18, 19, 20, 24, 27, 28, 29, 30, 37, 39, 40, 41, 42, 43, 44, 46};
    for (size_t i = 0; i < 34; ++i) EXPECT_EQ(FormatProbes()[i].id, order[i]) << i;
    EXPECT_STREQ(FormatProbes()[6].className, "C_NewApmFile");
    EXPECT_STREQ(FormatWriterName(5), "C_ApmFile");
    EXPECT_EQ(FormatWriterName(9), nullptr);
}

TEST(FormatFactory, OpensWavAndRefusesTheRest) {
    test::TempDir dir;
    std::string wav = dir.File("a.wav");
    test::WriteFileBytes(wav, test::RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", {1, 0, 2, 0}).Bytes());
    std::string empty = dir.File("empty.wav");
    test::WriteFileBytes(empty, {});
    std::string avi = dir.File("x.avi");
    test::WriteFileBytes(avi, test::RiffBuilder("AVI ").Chunk("data", {1, 2}).Bytes());

    C_WavFileFormat factory;
    EXPECT_EQ(factory.GetFileFormat(wav.c_str()), 2u);
    EXPECT_EQ(factory.IsFileFormat(2, wav.c_str()), 1);
    EXPECT_EQ(factory.IsFileFormat(9, wav.c_str()), 0);
    EXPECT_EQ(factory.GetFileFormat(empty.c_str()), 0u);

    I_WavFile* file = factory.OpenWavFile(wav.c_str(), 1, 1);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetFormatId(), 2u);
    EXPECT_STREQ(file->GetPathName(), wav.c_str());
    EXPECT_EQ(file->GetFileLength(), 48);
    EXPECT_EQ(file->GetWavInfo()->GetSampleCount(), 2u);
    file->Release();  // a fresh object goes with one Release

    I_WavFile* header = factory.OpenWavFileNoData(wav.c_str());
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->GetWavInfo()->GetSampleRate(), 8000u);
    header->Release();

    EXPECT_EQ(factory.OpenWavFile(empty.c_str(), 1, 1), nullptr);
    EXPECT_EQ(factory.LastFailure(), "the file is empty");
    EXPECT_EQ(factory.OpenWavFile(avi.c_str(), 1, 1), nullptr);
    EXPECT_EQ(factory.OpenWavFile(dir.File("missing.wav").c_str(), 1, 1), nullptr);
    EXPECT_EQ(factory.LastFailure(), "the file cannot be opened");
    EXPECT_EQ(factory.OpenWavFile(nullptr, 1, 1), nullptr);
}

TEST(FormatFactory, SaveAsUsesTheWriterTable) {
    test::TempDir dir;
    C_WavFile f;
    f.SetFormat(8000, 2, 1, 16, 16, 1);
    const uint8_t s[] = {1, 0};
    f.SetSampleData(s, 2);
    C_WavFileFormat factory;  // installs the writer table
    EXPECT_EQ(f.SaveAs(2, dir.File("ok.wav").c_str()), 1);
    EXPECT_EQ(f.SaveAs(9, dir.File("x.mid").c_str()), 0);
    EXPECT_FALSE(test::FileExists(dir.File("x.mid")));
    C_WavFile none;
    EXPECT_EQ(none.SaveAs(2, dir.File("none.wav").c_str()), 0);
    // An empty sound is not saved.
    C_WavFile empty;
    empty.SetFormat(8000, 0, 1, 16, 16, 1);
    EXPECT_EQ(empty.SaveAs(2, dir.File("empty.wav").c_str()), 0);
    // Id 5 is written by the classic APM class, and every id-5 probe answers.
    std::string apm = dir.File("tone.apm");
    C_WavFile tone;
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 800; ++i) {
        int16_t v = static_cast<int16_t>((i % 16 < 8 ? 1 : -1) * 6000);
        pcm.push_back(static_cast<uint8_t>(v));
        pcm.push_back(static_cast<uint8_t>(v >> 8));
    }
    tone.SetFormat(8000, static_cast<uint32_t>(pcm.size()), 1, 16, 16, 1);
    tone.SetSampleData(pcm.data(), static_cast<uint32_t>(pcm.size()));
    ASSERT_EQ(tone.SaveAs(5, apm.c_str()), 1);
    EXPECT_EQ(factory.GetFileFormat(apm.c_str()), 5u);
    EXPECT_EQ(factory.IsFileFormat(5, apm.c_str()), 1);
    EXPECT_EQ(factory.IsFileFormat(2, apm.c_str()), 0);
    // A folder that does not exist fails cleanly.
    EXPECT_EQ(f.SaveAs(2, dir.File("no/such/folder.wav").c_str()), 0);
}

}  // namespace
}  // namespace cz
