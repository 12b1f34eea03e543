#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <memory>
#include <string>
#include <vector>

#include "formats/ext/C_PcmVariants.h"
#include "formats/ext/C_SbdFile.h"
#include "formats/ext/ExtLayout.h"
#include "formats/registry/C_WavFileFormat.h"
#include "foundation/ByteReader.h"
#include "foundation/RefPtr.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

// 16-bit signed mono speech-like sound.
std::unique_ptr<C_WavData> Sound(uint32_t count, uint32_t rate = 8000) {
    std::vector<uint8_t> bytes(2ull * count);
    for (uint32_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double env = 0.6 + 0.4 * std::sin(2 * M_PI * 4 * t);
        const double v = env * (9000 * std::sin(2 * M_PI * 170 * t) + 3000 * std::sin(2 * M_PI * 610 * t));
        StoreU16(&bytes[2ull * i], static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
    }
    auto sound = std::make_unique<C_WavData>();
    sound->SetFormat(rate, static_cast<uint32_t>(bytes.size()), 1, 16, 16, 1);
    sound->SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    sound->GetActionEventMgr()->SetSampleRate(rate);
    return sound;
}

struct Saved {
    std::vector<uint8_t> file;
    uint32_t u32(size_t at) const { return LoadU32(&file[at]); }
    uint16_t u16(size_t at) const { return LoadU16(&file[at]); }
    size_t frameStart() const { return u32(28) + 14; }
    size_t frameBytes() const { return u32(32) - 14; }
    std::vector<int32_t> words(uint32_t offset, uint32_t count) const {
        std::vector<int32_t> w(count);
        for (uint32_t i = 0; i < count; ++i) w[i] = static_cast<int32_t>(LoadU16(&file[offset + 2ull * i])) - 32768;
        return w;
    }
    std::vector<int32_t> decoded() const { return words(u32(48), u32(52)); }
    std::vector<int32_t> source() const { return words(u32(38), u32(42)); }
};

template <typename T>
Saved SaveWith(C_WavData& sound, const std::string& path, uint32_t codecParam = 0) {
    T writer;
    sound.GetWriteParam()->SetCodecParam(codecParam);
    writer.AttachWavData(&sound);
    EXPECT_EQ(writer.Save(path.c_str()), 1);
    writer.DetachWavData();
    return {test::ReadFileBytes(path)};
}

double SnrDb(const std::vector<int32_t>& ref, const std::vector<int32_t>& got) {
    double s = 0, n = 0;
    for (size_t i = 0; i < ref.size() && i < got.size(); ++i) {
        s += double(ref[i]) * ref[i];
        n += double(ref[i] - got[i]) * (ref[i] - got[i]);
    }
    return 10 * std::log10(s / std::max(n, 1.0));
}

TEST(ExtFormats, Pc8CodesTowardZeroAndNeverMinus128) {
    const struct {
        int16_t in;
        int8_t code;
    } rows[] = {{0, 0},     {255, 0},     {256, 1},       {-255, 0},      {-256, -1},
                {-257, -1}, {32767, 127}, {-32768, -127}, {-32767, -127}, {-32512, -127}};
    for (const auto& r : rows) {
        EXPECT_EQ(Pc8Code(r.in), r.code) << r.in;
        EXPECT_EQ(Pc8Decode(r.code), r.code * 256);
    }
}

TEST(ExtFormats, Pc8FileHeaderAndFrames) {
    test::TempDir dir;
    auto sound = Sound(300);
    const Saved f = SaveWith<C_Pc8File>(*sound, dir.File("a.pc8"));
    const struct {
        size_t offset, width;
        uint32_t expected;
    } fields[] = {{0, 4, 0x38435057 /* "WPC8" */},
                  {4, 2, 0x110},
                  {10, 1, 8},
                  {12, 2, 8000},
                  {36, 2, 16},
                  {42, 4, 300},
                  {46, 2, 16},
                  {52, 4, 300},
                  {60, 2, 5},
                  {32, 4, 14 + 300}};
    for (const auto& r : fields) {
        const uint32_t v = r.width == 1 ? f.file[r.offset] : r.width == 2 ? f.u16(r.offset) : f.u32(r.offset);
        EXPECT_EQ(v, r.expected) << "offset " << r.offset;
    }
    const std::vector<int32_t> src = f.source(), dec = f.decoded();
    for (uint32_t i = 0; i < 300; ++i) {
        const int8_t c = static_cast<int8_t>(f.file[f.frameStart() + i]);
        ASSERT_EQ(c, Pc8Code(static_cast<int16_t>(src[i])));
        ASSERT_EQ(dec[i], c * 256);
    }
}

TEST(ExtFormats, LevelAndModeRules) {
    const struct {
        uint16_t level;
        uint16_t used;
    } levels[] = {{0, 3}, {1, 1}, {2, 2}, {3, 3}, {4, 3}, {200, 3}};
    for (const auto& r : levels) {
        C_Clp1File f;
        f.SetLevel(r.level);
        EXPECT_EQ(f.Level(), r.used);
    }
    auto sound = Sound(10);
    const struct { uint32_t param, mode; } modes[] = {{0, 0}, {1, 1}, {2, 0}, {7, 0}, {0x101, 0}};
    for (const auto& r : modes) {
        C_MclpFile f;
        sound->GetWriteParam()->SetCodecParam(r.param);
        f.AttachWavData(sound.get());
        EXPECT_EQ(f.CoderMode(), r.mode) << r.param;
        f.DetachWavData();
    }
    const struct {
        uint32_t param, esb, sbd;
    } rates[] = {{0, 16000, 16000}, {123, 12300, 123}, {0x80010050, 8000, 0x50}, {0x10000, 16000, 16000}};
    for (const auto& r : rates) {
        sound->GetWriteParam()->SetCodecParam(r.param);
        C_EsbFile esb;
        C_SbdFile sbd;
        esb.AttachWavData(sound.get());
        sbd.AttachWavData(sound.get());
        EXPECT_EQ(esb.RequestedBitRate(), r.esb);
        EXPECT_EQ(sbd.RequestedBitRate(), r.sbd);
        esb.DetachWavData();
        sbd.DetachWavData();
    }
}

TEST(ExtFormats, SilenceWordsCarryWhatOneWordCannotHold) {
    test::TempDir dir;
    auto a = platform::File::Open(dir.File("f"), platform::open_flags::kReadWrite | platform::open_flags::kCreate);
    auto b = platform::File::Open(dir.File("d"), platform::open_flags::kReadWrite | platform::open_flags::kCreate);
    ASSERT_TRUE(a && b);
    {
        C_MpmFrameOutput out(*a, *b);
        C_MclpFile mcp;
        ASSERT_TRUE(mcp.WriteSilence(1, 10000, 0, out));
        EXPECT_EQ(mcp.PendingCount(), 5905);
        EXPECT_FALSE(mcp.PendingFlag());
        EXPECT_EQ(out.FrameBytes(), 2u);
        // With a command: the pending record, then the rest of the run.
        ASSERT_TRUE(mcp.WriteSilence(2, 100, 0x1234, out));
        EXPECT_TRUE(mcp.PendingFlag());
        EXPECT_EQ(mcp.PendingCount(), 1 + (5905 + 100 - 1 - 4095));
        ASSERT_TRUE(mcp.FlushPendingSilence(out));
        ASSERT_TRUE(out.Flush());
    }
    const std::vector<uint8_t> bytes = test::ReadFileBytes(dir.File("f"));
    ASSERT_GE(bytes.size(), 10u);
    EXPECT_EQ(LoadU16(&bytes[0]), 0xFFF1);  // 4095 samples
    EXPECT_EQ(LoadU16(&bytes[2]), 0xFFF1);  // 5905 + 100 - 1 capped at 4095
    // The pending record: 0x13, count - 1, high byte, low byte >> 2.
    const std::vector<uint8_t> record = {0x13, static_cast<uint8_t>(1 + 1909 - 1), 0x12, 0x34 >> 2};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 8), record);
}

// The frame section of a CLP-line file, split into its items.
struct Item {
    char kind;  // 'v' voice block, 's' silence word, 'r' pending record, 'e' end
    uint32_t value;
};
std::vector<Item> Items(const Saved& f) {
    std::vector<Item> items;
    size_t p = f.frameStart();
    const size_t end = p + f.frameBytes();
    while (p + 2 <= end) {
        const uint16_t w = f.u16(p);
        if (f.file[p] == kExtPendingRecord) {
            items.push_back({'r', f.file[p + 1]});
            p += 4;
        } else if (w == kExtEndMark) {
            items.push_back({'e', 0});
            p += 2;
        } else if (w == kExtVoiceBlockTag) {
            const uint32_t n = f.u32(p + 2);
            items.push_back({'v', n});
            p += 6 + n;
        } else if ((w & 15) == 1) {
            items.push_back({'s', uint32_t{w} >> 4});
            p += 2;
        } else {
            items.push_back({'?', w});
            break;
        }
    }
    EXPECT_EQ(p, end);
    return items;
}

TEST(ExtFormats, PaddingBorrowsFromTheNextSegmentAndCarries) {
    test::TempDir dir;
    // MCP mode 0 codes frames of 240 samples: 500 voice samples take 220
    // from the silence after them; 480 need none.
    const struct { uint32_t voice, silence, expectedRun; } rows[] = {{500, 1000, 780}, {480, 1000, 1000}};
    for (const auto& r : rows) {
        auto sound = Sound(r.voice + r.silence + 480);
        sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(r.voice, r.voice + r.silence - 1));
        const Saved f = SaveWith<C_MclpFile>(*sound, dir.File("p.mcp"));
        const std::vector<Item> items = Items(f);
        ASSERT_EQ(items.size(), 4u);
        EXPECT_EQ(items[0].kind, 'v');
        EXPECT_EQ(items[1].kind, 's');
        EXPECT_EQ(items[1].value, r.expectedRun);
        EXPECT_EQ(items[2].kind, 'v');
        EXPECT_EQ(items[3].kind, 'e');
        // Every sample is accounted for once in the decoded section.
        EXPECT_EQ(f.u32(52), f.u32(42));
    }
}

TEST(ExtFormats, EveryCodecFormatRoundTripsThroughTheFactory) {
    test::TempDir dir;
    C_WavFileFormat factory;
    const struct {
        FormatId id;
        const char* name;
        const char* cls;
        uint32_t param;
        double minSnr;
    } rows[] = {
        {kFormatMcp, "a.mcp", "C_MclpFile", 0, 12},    {kFormatMcp, "b.mcp", "C_MclpFile", 1, 8},
        {kFormatMvclp, "a.mvc", "C_MvclpFile", 0, 12}, {kFormatWlp, "a.wlp", "C_WlpcFile", 4, 12},
        {kFormatSbd, "a.sbd", "C_SbdFile", 16000, 8},  {kFormatEsb, "a.esb", "C_EsbFile", 0, 8},
        {kFormatEsb, "b.esb", "C_EsbFile", 320, 12},   {kFormatPc8, "a.pc8", "C_Pc8File", 0, 30},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto sound = Sound(4000);
        sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(1500, 2499));
        sound->GetWriteParam()->SetCodecParam(r.param);
        const std::string path = dir.File(r.name);
        ASSERT_EQ(sound->SaveAs(r.id, path.c_str()), 1);
        const Saved f{test::ReadFileBytes(path)};
        EXPECT_EQ(f.u16(36), 16);
        EXPECT_EQ(f.u16(46), 16);
        EXPECT_EQ(f.u16(60), r.id == kFormatPc8 ? 5 : 6);
        EXPECT_EQ(f.file[10], r.id == kFormatPc8 ? 8 : 3);
        std::vector<int32_t> src = f.source(), dec = f.decoded();
        ASSERT_GE(dec.size(), src.size());
        // Voice parts only: the silence is written as silence.
        std::vector<int32_t> a(src.begin(), src.begin() + 1500), b(dec.begin(), dec.begin() + 1500);
        EXPECT_GT(SnrDb(a, b), r.minSnr);
        RefPtr<C_WavFile> file = factory.Open(path.c_str());
        ASSERT_TRUE(file);
        EXPECT_EQ(file->GetFormatId(), static_cast<uint32_t>(r.id));
    }
}

TEST(ExtFormats, ClpSavesAreRefusedWithAMessage) {
    test::TempDir dir;
    std::vector<std::string> messages;
    platform::SetMessageSink([&](const std::string&, const std::string& text) { messages.push_back(text); });
    auto sound = Sound(400);
    for (FormatId id : {kFormatClp1, kFormatClp2, kFormatClp3}) {
        const std::string path = dir.File("x.cp");
        EXPECT_EQ(sound->SaveAs(id, path.c_str()), 0);
        EXPECT_FALSE(test::FileExists(path));
    }
    platform::ResetMessageSink();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_NE(messages[0].find("not supported"), std::string::npos);
}

TEST(ExtFormats, TruncatedFilesAreRefused) {
    test::TempDir dir;
    C_WavFileFormat factory;
    for (FormatId id : {kFormatEsb, kFormatP16, kFormatS16, kFormatS08, kFormatLp8, kFormatP10}) {
        SCOPED_TRACE(static_cast<int>(id));
        auto sound = Sound(100);
        const std::string path = dir.File("t.bin");
        ASSERT_EQ(sound->SaveAs(id, path.c_str()), 1);
        const std::vector<uint8_t> whole = test::ReadFileBytes(path);
        const std::string cut = dir.File("cut.bin");
        for (size_t n = 0; n < whole.size(); ++n) {
            ASSERT_TRUE(test::WriteFileBytes(cut, std::vector<uint8_t>(whole.begin(), whole.begin() + n)));
            RefPtr<C_WavFile> file = factory.Open(cut.c_str());
            if (file) ADD_FAILURE() << "opened at " << n;
        }
    }
}

TEST(ExtFormats, NoIntermediateFileIsLeft) {
    test::TempDir dir;
    auto sound = Sound(3000);
    sound->GetWriteParam()->SetCodecParam(0);
    for (FormatId id : {kFormatMcp, kFormatWlp, kFormatSbd, kFormatEsb})
        ASSERT_EQ(sound->SaveAs(id, dir.File("o.x").c_str()), 1);
    // The private TMPDIR of the test holds nothing afterwards.
    const std::string tmp = platform::TempDirectory();
    if (DIR* d = opendir(tmp.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            EXPECT_TRUE(name.rfind("czx", 0) != 0 && name.rfind("xxxx", 0) != 0) << name;
        }
        closedir(d);
    }
}

}  // namespace
}  // namespace cz

namespace cz {
namespace {

// The bit-rate warning goes to the message sink only when an owner window is
// set (the exports set none): a rate the coder cannot reach (100 bit/s) warns
// with an owner window and is silent without one.
TEST(ExtFormats, BitRateWarningOnlyWithAnOwnerWindow) {
    test::TempDir dir;
    for (uintptr_t owner : {uintptr_t(0), uintptr_t(1)}) {
        SCOPED_TRACE(owner);
        std::vector<std::string> titles;
        platform::SetMessageSink([&](const std::string& title, const std::string&) { titles.push_back(title); });
        auto sound = Sound(4000);
        sound->GetWriteParam()->SetCodecParam(1);  // 100 bit/s
        C_EsbFile writer;
        writer.SetOwnerWindowForMessages(owner);
        writer.AttachWavData(sound.get());
        EXPECT_EQ(writer.Save(dir.File("w.esb").c_str()), 1);
        writer.DetachWavData();
        platform::ResetMessageSink();
        const bool warned = std::find(titles.begin(), titles.end(), "Warning") != titles.end();
        EXPECT_EQ(warned, owner != 0);
    }
}

}  // namespace
}  // namespace cz

namespace cz {
namespace {

// The PCM relatives of PC8: companding as tabled (100 codes to 2 and decodes
// to 128; the ends of each segment of the table), the voice data's end mark,
// the doubled count of the S forms, P16 kept exactly.
TEST(ExtFormats, PcmRelativesOfPc8) {
    const struct {
        int16_t sample;
        int8_t code;
        int16_t decoded;
    } lp8[] = {{100, 2, 128},       {-100, -2, -128},    {0, 0, 0},          {2000, 31, 1984},
               {2008, 32, 2048},    {4032, 47, 3968},    {4048, 48, 4160},   {16304, 95, 16192},
               {16320, 96, 16576},  {32767, 127, 32448}, {-32768, -127, -32448}};
    for (const auto& r : lp8) {
        SCOPED_TRACE(r.sample);
        EXPECT_EQ(Lp8Code(r.sample), r.code);
        EXPECT_EQ(Lp8Decode(r.code), r.decoded);
    }
    test::TempDir dir;
    C_WavFileFormat factory;
    const struct {
        FormatId id;
        const char* name;
        size_t bytesPerSample;  // in the frame section
        bool exact;
    } rows[] = {{kFormatP16, "a.p16", 2, true}, {kFormatS16, "a.s16", 4, true}, {kFormatS08, "a.s08", 2, false},
                {kFormatLp8, "a.lp8", 1, false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto sound = Sound(3000);
        const std::string path = dir.File(r.name);
        ASSERT_EQ(sound->SaveAs(r.id, path.c_str()), 1);
        const Saved f{test::ReadFileBytes(path)};
        EXPECT_EQ(f.file[10], r.id == kFormatP16 || r.id == kFormatS16 ? 16 : 8);
        const size_t tail = r.id == kFormatLp8 ? 3 : 0;
        EXPECT_EQ(f.frameBytes(), 3000 * r.bytesPerSample + tail);
        if (r.id == kFormatLp8) {
            const size_t end = f.frameStart() + f.frameBytes();
            EXPECT_EQ(std::vector<uint8_t>(f.file.begin() + end - 3, f.file.begin() + end),
                      (std::vector<uint8_t>{0x80, 0x00, 0x00}));
        }
        const std::vector<int32_t> src = f.source(), dec = f.decoded();
        ASSERT_EQ(dec.size(), src.size());
        if (r.exact)
            EXPECT_EQ(dec, src);
        else
            EXPECT_GT(SnrDb(src, dec), r.id == kFormatLp8 ? 30 : 25);
        RefPtr<C_WavFile> file = factory.Open(path.c_str());
        ASSERT_TRUE(file);
        EXPECT_EQ(file->GetFormatId(), static_cast<uint32_t>(r.id));
    }
}

}  // namespace
}  // namespace cz

namespace cz {
namespace {

std::unique_ptr<C_WavData> SoundOf(const std::vector<int16_t>& values, uint32_t rate = 8000) {
    std::vector<uint8_t> bytes(2 * values.size());
    for (size_t i = 0; i < values.size(); ++i) StoreU16(&bytes[2 * i], static_cast<uint16_t>(values[i]));
    auto sound = std::make_unique<C_WavData>();
    sound->SetFormat(rate, static_cast<uint32_t>(bytes.size()), 1, 16, 16, 1);
    sound->SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    sound->GetActionEventMgr()->SetSampleRate(rate);
    return sound;
}

// P10: four samples in five bytes; a byte 0 of 0x80 goes out as 0xC0 (and the
// decoded section holds what those bits give); a short last group repeats
// its last sample; an action record at its rounded group; the end mark.
TEST(ExtFormats, P10PacksEscapesAndMarks) {
    test::TempDir dir;
    // Group 1: 10-bit values 2, 0, 0, 0 (x 64): byte 0 would be 0x80.
    // Group 2: -1, 511, -512, 5. Group 3: 7, 9 and a repeat of 9.
    std::vector<int16_t> values = {128, 0, 0, 0, -64, 511 * 64, -512 * 64, 5 * 64 + 63, 7 * 64, 9 * 64};
    auto sound = SoundOf(values);
    sound->GetActionEventMgr()->AddEventAtSample(3, 6, "", 5);  // offset 6: remainder 2 rounds up to 8
    const std::string path = dir.File("a.p10");
    ASSERT_EQ(sound->SaveAs(kFormatP10, path.c_str()), 1);
    const Saved f{test::ReadFileBytes(path)};
    std::vector<uint8_t> frames(f.file.begin() + f.frameStart(), f.file.begin() + f.frameStart() + f.frameBytes());
    const std::vector<uint8_t> expected = {
        0xC0, 0x00, 0x00, 0x00, 0x00,              // 2 0 0 0: byte 0 escaped
        0xF1, 0xFF, 0x7F, 0x80, 0x01,              // -1 511 -512 5: low bits 11 11 00 01, then bits 9..2
        0x80, 0x85, 0x03,                          // the record of the event at sample 6, at group 8
        0xD5, 0x01, 0x02, 0x02, 0x02,              // 7 9 9 9: low bits 11 01 01 01
        0x80, 0x00, 0x00};                         // end of the voice data
    EXPECT_EQ(frames, expected);
    const std::vector<int32_t> dec = f.decoded();
    // The last group's repeats are played too, so the decoded section has them.
    const std::vector<int32_t> want = {192, 0, 0, 0, -64, 511 * 64, -512 * 64, 5 * 64, 7 * 64, 9 * 64, 9 * 64, 9 * 64};
    EXPECT_EQ(dec, want);
}

}  // namespace
}  // namespace cz
