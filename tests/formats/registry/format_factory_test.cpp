#include <gtest/gtest.h>

#include <set>
#include <string>

#include "formats/registry/C_WavFileFormat.h"
#include "formats/apm/C_NewApmFile.h"
#include "formats/registry/FormatRegistry.h"
#include "formats/registry/FormatTable.h"
#include "support/RiffBuilder.h"
#include "support/LittleEndian.h"
#include "support/Signals.h"
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
    } cases[] = {{".apm", 5}, {".Wio", 2}, {".WAV", 2}, {".SRC", 1},   {".mid", 9}, {".KAR", 9},
                 {".TXT", 0}, {"APM", 0},  {"", 0},     {".bin", 161}, {".42m", 43}};
    for (const auto& c : cases) EXPECT_EQ(GetFormatIdFromExtension(c.ext), c.id) << c.ext;
    EXPECT_EQ(GetFormatIdFromExtension(nullptr), 0u);
    // The probe table's order of ids.
    const uint32_t order[] = {1,  13, 2,  3,  4,  7,  5,  5,  6,  8,  21, 12, 14, 15, 17, 22, 23,
                              16, 18, 19, 20, 24, 27, 28, 29, 30, 37, 39, 40, 41, 42, 43, 44, 46};
    for (size_t i = 0; i < 34; ++i) EXPECT_EQ(FormatProbes()[i]->id, order[i]) << i;
    EXPECT_STREQ(FormatProbes()[6]->className, "C_NewApmFile");
    EXPECT_STREQ(FormatProbes()[7]->className, "C_ApmFile");
    EXPECT_STREQ(FormatWriterName(kFormatApm), "C_ApmFile");
    EXPECT_STREQ(FormatWriterName(kFormatEnSrc), "C_EnSrcFile");
    EXPECT_EQ(FormatWriterName(kFormatMidi), nullptr);
    EXPECT_EQ(FormatWriterName(kFormatNone), nullptr);
    // The factory's opening order of classes.
    const char* const classes[] = {
        "C_SrcFile",  "C_WavFile",  "C_WamFile",  "C_WmdFile", "C_Q310WmdFile", "C_NewApmFile",  "C_ApmFile",
        "C_MpmFile",  "C_Pc8File",  "C_Lp8File",  "C_P10File", "C_Apm6BitFile", "C_MdmFile",     "C_Mdm6BitFile",
        "C_Clp1File", "C_Clp2File", "C_Clp3File", "C_EamFile", "C_EmmFile",     "C_E2aFile",     "C_PamFile",
        "C_MclpFile", "C_SbdFile",  "C_WlpcFile", "C_P16File", "C_Q420MpmFile", "C_Q420PcmFile", "C_RBFFile",
        "C_EsbFile",  "C_S08File",  "C_S16File",  "C_SamFile", "C_SmmFile",     "C_MvclpFile"};
    for (size_t i = 0; i < 34; ++i) EXPECT_STREQ(FormatOpenOrder()[i]->className, classes[i]) << i;
    // Every class is one row, and each row of the registry's classes names a
    // registered id (or none, for RBF).
    for (const FormatDescriptor* row : FormatRows())
        EXPECT_TRUE(row->id == kFormatNone || GetExtensionOfFormat(row->id)) << row->className;
}

// Which class the factory picks for a file of each built class, made here;
// and the files no class takes.
TEST(FormatFactory, DetectsEveryBuiltClass) {
    test::TempDir dir;
    C_WavFileFormat factory;  // installs the writer table
    C_WavFile tone;
    std::vector<uint8_t> pcm = test::WordBytes(test::Square(1600, 8, 6000));
    tone.SetFormat(8000, static_cast<uint32_t>(pcm.size()), 1, 16, 16, 1);
    tone.SetSampleData(pcm.data(), static_cast<uint32_t>(pcm.size()));

    struct Row {
        FormatId writeAs;  // saved through the writer table, or kFormatNone
        const char* name;
        const char* expectedClass;  // nullptr: no class may take it
        FormatId expectedProbe;
    } rows[] = {
        {kFormatWav, "a.wav", "C_WavFile", kFormatWav},
        {kFormatSrc, "a.src", "C_SrcFile", kFormatSrc},
        // The scrambled source is read by the same class; the probe tells it.
        {kFormatEnSrc, "b.src", "C_SrcFile", kFormatEnSrc},
        {kFormatApm, "a.apm", "C_ApmFile", kFormatApm},
        {kFormatNone, "new.apm", "C_NewApmFile", kFormatApm},
        {kFormatApm6Bit, "a.ap6", "C_Apm6BitFile", kFormatApm6Bit},
        {kFormatMpm, "a.mpm", "C_MpmFile", kFormatMpm},
        {kFormatMdm, "a.mdm", "C_MdmFile", kFormatMdm},
        {kFormatMdm6Bit, "a.md6", "C_Mdm6BitFile", kFormatMdm6Bit},
        {kFormatEmm, "a.md5", "C_EmmFile", kFormatEmm},
        {kFormatSmm, "a.smm", "C_SmmFile", kFormatSmm},
        {kFormatQ420Mpm, "a.42m", "C_Q420MpmFile", kFormatQ420Mpm},
        {kFormatPc8, "a.pc8", "C_Pc8File", kFormatPc8},
        {kFormatMcp, "a.mcp", "C_MclpFile", kFormatMcp},
        {kFormatMvclp, "a.mvc", "C_MvclpFile", kFormatMvclp},
        {kFormatWlp, "a.wlp", "C_WlpcFile", kFormatWlp},
        {kFormatSbd, "a.sbd", "C_SbdFile", kFormatSbd},
        {kFormatEsb, "a.esb", "C_EsbFile", kFormatEsb},
        {kFormatP16, "a.p16", "C_P16File", kFormatP16},
        {kFormatS16, "a.s16", "C_S16File", kFormatS16},
        {kFormatS08, "a.s08", "C_S08File", kFormatS08},
        {kFormatLp8, "a.lp8", "C_Lp8File", kFormatLp8},
        {kFormatP10, "a.p10", "C_P10File", kFormatP10},
        {kFormatWam, "a.wam", "C_WamFile", kFormatWam},
        {kFormatWmd, "a.wmd", "C_WmdFile", kFormatWmd},
        {kFormatQ310Wmd, "a.wm5", "C_Q310WmdFile", kFormatQ310Wmd},
        {kFormatQ420Pcm, "a.42p", "C_Q420PcmFile", kFormatQ420Pcm},
        {kFormatEam, "a.eam", "C_EamFile", kFormatEam},
        {kFormatE2a, "a.ad4", "C_E2aFile", kFormatE2a},
        {kFormatSam, "a.sam", "C_SamFile", kFormatSam},
        {kFormatPam, "a.pam", "C_PamFile", kFormatPam},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.File(row.name);
        if (row.writeAs != kFormatNone) {
            ASSERT_EQ(tone.SaveAs(row.writeAs, path.c_str()), 1);
        } else {
            C_NewApmFile writer;
            writer.AttachWavData(tone.GetWavData());
            ASSERT_EQ(writer.Save(path.c_str()), 1);
            writer.DetachWavData();
        }
        RefPtr<C_WavFile> file = factory.Open(path.c_str());
        ASSERT_TRUE(file);
        EXPECT_STREQ(factory.LastClassName(), row.expectedClass);
        EXPECT_EQ(factory.GetFileFormat(path.c_str()), static_cast<uint32_t>(row.expectedProbe));
    }

    // RBF resources have no id: opened by their class, no probe takes them.
    const std::string rbf = dir.File("a.rbf");
    ASSERT_TRUE(test::WriteFileBytes(rbf, {'W', 'M', 'd', 'M', 0x40, 0x1F, 0x04, 0x10, 0x00, 0xFF}));
    EXPECT_TRUE(factory.Open(rbf.c_str()));
    EXPECT_STREQ(factory.LastClassName(), "C_RBFFile");
    EXPECT_EQ(factory.GetFileFormat(rbf.c_str()), static_cast<uint32_t>(kFormatNone));

    // Not detected: a RIFF file of another form (AVI), an empty file, text.
    // Each says why, and a file that a class knows as its own says what is
    // wrong with it rather than that it is not supported.
    struct Refused {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* reason;
    };
    auto apm = test::ReadFileBytes(dir.File("a.apm"));
    apm.resize(40);  // ends inside the header
    const Refused refused[] = {
        {"x.avi", test::RiffBuilder("AVI ").Chunk("data", {1, 2}).Bytes(), "not a supported sound file"},
        {"empty.wav", {}, "the file is empty"},
        {"text.txt", {'h', 'e', 'l', 'l', 'o', '\n'}, "not a supported sound file"},
        {"nodata.wav", test::RiffBuilder().Fmt(1, 1, 8000, 16).Bytes(), "WAV file: no data chunk"},
        {"cut.apm", apm, "APM file: the file is cut short"},
        {"cut.rbf", {'W', 'A', 'D', 'M', 0x40, 0x1F}, "RBF file: the file is cut short: the resource has no payload"},
        {"block.rbf",
         {'Q', '4', '2', 'M', 0x40, 0x1F, 0x01, 0x02},
         "RBF file: damaged sample data: a block runs past the end of the payload (after 0 of 2 payload bytes)"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.name);
        test::WriteFileBytes(dir.File(r.name), r.bytes);
        EXPECT_FALSE(factory.Open(dir.File(r.name).c_str()));
        EXPECT_EQ(factory.LastFailure(), r.reason);
    }
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
    std::vector<uint8_t> pcm = test::WordBytes(test::Square(800, 8, 6000));
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
