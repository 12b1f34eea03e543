// MDM files: the records of the frame section, command words, silence and
// raw records, the decoded section against an independent decoder, loading,
// the factory, refusing malformed headers, and the WAV export.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <vector>

#include "formats/registry/C_WavFileFormat.h"
#include "formats/mdm/C_MdmFile.h"
#include "formats/mdm/MdmTestDecoder.h"
#include "formats/mpm/C_MpmFile.h"
#include "foundation/ByteReader.h"
#include "foundation/InputStream.h"
#include "platform/Platform.h"
#include "support/HeaderFields.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

using test::DecodeMdmFrames;
using test::MdmDecoded;

std::unique_ptr<C_WavData> ChipSound(const std::vector<uint16_t>& words, uint32_t rate = 16000) {
    auto sound = test::ChipSoundOf(words, rate);
    sound->GetActionEventMgr()->SetSampleRate(rate);
    return sound;
}

struct Sections {
    std::vector<uint8_t> file;
    uint32_t u32(size_t at) const { return LoadU32(&file[at]); }
    uint16_t u16(size_t at) const { return LoadU16(&file[at]); }
    const uint8_t* frames() const { return &file[u32(28) + 14]; }
    size_t frameBytes() const { return u32(32) - 14; }
    std::vector<uint16_t> words(uint32_t offset, uint32_t count) const {
        std::vector<uint16_t> w(count);
        for (uint32_t i = 0; i < count; ++i) w[i] = LoadU16(&file[offset + 2ull * i]);
        return w;
    }
    std::vector<uint16_t> decoded() const { return words(u32(48), u32(52)); }
    std::vector<uint16_t> source() const { return words(u32(38), u32(42)); }
};

Sections SaveMdm(C_WavData& sound, const std::string& path, bool alternative = false) {
    C_MdmFile writer;
    writer.SetAlternativeCoder(alternative);
    EXPECT_EQ(test::SaveWith(writer, sound, path), 1);
    return {test::ReadFileBytes(path)};
}

// Temporary files of the container left in the system temporary folder.
int CountContainerTempFiles() {
    int n = 0;
    std::string dir = platform::TempDirectory();
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strncmp(e->d_name, "xxxx", 4) == 0) ++n;
        closedir(d);
    }
    return n;
}

TEST(MdmFile, CommandWordPacksTypeAndParameter) {
    EXPECT_EQ(MpmCommandWord(2, 100), 0x291);
    EXPECT_EQ(MpmCommandWord(0, 0), 0);
    EXPECT_EQ(MpmCommandWord(255, 255), 0xFFFF);
    EXPECT_EQ(MpmCommandWord(1, 63), (1 << 8) | (63 << 2));
}

// Records written one by one, read back byte for byte.
TEST(MdmFile, RecordLayouts) {
    test::TempDir dir;
    auto a = platform::File::Open(dir.File("frames"), platform::open_flags::kReadWrite | platform::open_flags::kCreate);
    auto b =
        platform::File::Open(dir.File("decoded"), platform::open_flags::kReadWrite | platform::open_flags::kCreate);
    ASSERT_TRUE(a && b);
    C_MdmFile mdm;
    {
        C_MpmFrameOutput out(*a, *b);
        const uint16_t raw[3] = {0x800, 0x810, 0x7F0};
        ASSERT_TRUE(mdm.WriteRawRecord(out, C_MpmFile::kRecordRaw, raw, 3, 0));
        ASSERT_TRUE(mdm.WriteRawRecord(out, C_MpmFile::kRecordRawCommand, raw, 2, 0x291));
        ASSERT_TRUE(mdm.WriteSilenceRecord(out, C_MpmFile::kRecordSilence, 1000, 0));
        ASSERT_TRUE(mdm.WriteSilenceRecord(out, C_MpmFile::kRecordSilenceCommand, 2, 0x1234));
        // A short frame starting at 2048 with differences +15, -15, then 0s.
        uint8_t frame[18] = {};
        frame[0] = 3 << 1;  // scale index 3, short
        frame[2] = 15;
        frame[3] = static_cast<uint8_t>(-15);
        uint16_t decoded[18] = {2048, 2048};
        decoded[2] = 2048 + 15 * 32;
        for (int k = 3; k < 18; ++k) decoded[k] = 2048;
        ASSERT_TRUE(mdm.WriteFrameRecord(out, C_MpmFile::kRecordShortFrame, frame, decoded, 0, 17, 0));
        // Start value 2056: bit 3 goes to bit 7 of the code byte.
        decoded[1] = 2056;
        ASSERT_TRUE(mdm.WriteFrameRecord(out, C_MpmFile::kRecordShortFrameCommand, frame, decoded, 0, 17, 0xBEEF));
        ASSERT_TRUE(out.Flush());
    }
    ASSERT_TRUE(a->Close() && b->Close());
    const std::vector<uint8_t> got = test::ReadFileBytes(dir.File("frames"));
    const std::vector<uint8_t> want = {
        6,
        0x80,
        2,
        0x81,
        0x7F,  // raw, three samples
        7,
        0x80,
        0x91,
        0x02,
        1,
        0x81,  // raw with command word
        4,
        0xE8,
        0x03,  // silence 1000
        5,
        0x34,
        0x12,
        2,
        0,  // silence with command word
        (3 << 3) | 2,
        0x80,
        0x02,
        0xFF,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,  // short frame
        0x80 | (3 << 3) | 3,
        0x80,
        0xEF,
        0xBE,
        0x02,
        0xFF,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
    };
    EXPECT_EQ(got, want);
    // The decoded section holds what a chip plays: the raw samples' top
    // 8 bits, silence at mid-scale.
    const std::vector<uint8_t> dec = test::ReadFileBytes(dir.File("decoded"));
    ASSERT_EQ(dec.size(), 2u * (3 + 2 + 1000 + 2 + 17 + 17));
    EXPECT_EQ(LoadU16(&dec[0]), 0x800);
    EXPECT_EQ(LoadU16(&dec[4]), 0x7F0);
    EXPECT_EQ(LoadU16(&dec[2 * 5]), 2048);
    MdmDecoded d = DecodeMdmFrames(got.data(), got.size());
    EXPECT_TRUE(d.truncated);  // no end record in this piece
    ASSERT_EQ(d.samples.size(), 3u + 2 + 1000 + 2 + 17 + 17);
    EXPECT_EQ(d.samples[1007 + 1], 2048 + 15 * 32);
    EXPECT_EQ(d.samples[1007 + 2], 2048);
    EXPECT_EQ(d.samples[1024], 2056);
}

// A sound with silence, events in voice and silence, a long silence and a
// short voice chunk: the file's sections and records follow the layout, and
// the decoded section is what the frame section decodes to.
TEST(MdmFile, SavedFileMatchesIndependentDecoder) {
    for (bool alternative : {false, true}) {
        SCOPED_TRACE(alternative ? "alternative coder" : "MDPCM coder");
        test::TempDir dir;
        std::vector<uint16_t> words = test::TwoPartialVoice12(4000);
        words.resize(4000 + 70001, 2048);  // a silence longer than one record
        std::vector<uint16_t> tail = test::TwoPartialVoice12(1000, 240);
        words.insert(words.end(), tail.begin(), tail.end());
        auto sound = ChipSound(words);
        sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(4000, 4000 + 70000));
        C_ActionEventMgr* ev = sound->GetActionEventMgr();
        ev->AddEventAtSample(2, 1000, "a", 100);   // inside voice
        ev->AddEventAtSample(3, 1010, "b", 7);     // 10 samples later: a raw chunk
        ev->AddEventAtSample(4, 20000, "c", 200);  // inside the silence
        ev->AddEventAtSample(5, 20000, "d", 1);    // same sample
        ev->AddEventAtSample(6, 999999, "e", 2);   // past the end
        const Sections s = SaveMdm(*sound, dir.File("a.mdm"), alternative);

        // Header and section chain.
        EXPECT_EQ(std::memcmp(s.file.data(), "WMDM", 4), 0);
        EXPECT_EQ(std::memcmp(&s.file[62], "MFRM", 4), 0);
        ASSERT_GE(s.file.size(), 76u);
        test::ExpectFields(s.file, {
                                       {4, 2, 0x110},
                                       {6, 2, 62},
                                       {12, 2, 16000},
                                       {14, 2, 6800},
                                       {28, 4, 62},
                                       {62 + 6, 4, 76},  // "MFRM"
                                       {62 + 10, 4, s.u32(32) - 14},
                                       {48, 4, 62 + s.u32(32)},
                                       {38, 4, s.u32(48) + 2 * s.u32(52)},
                                       {20, 4, s.u32(38) + 2 * s.u32(42)},
                                       {24, 4, 14 + 6 * 5},
                                       {16, 4, s.u32(20) + s.u32(24)},
                                   });
        EXPECT_EQ(s.file.size(), s.u32(16) + 16 + 8u);
        EXPECT_EQ(s.source(), words);

        // "MCMD": every event in list order, type and parameter as bytes.
        const uint32_t mc = s.u32(20);
        EXPECT_EQ(std::memcmp(&s.file[mc], "MCMD", 4), 0);
        EXPECT_EQ(s.u32(mc + 6), mc + 14);
        EXPECT_EQ(s.u32(mc + 10), 5u);
        EXPECT_EQ(s.u32(mc + 14), 1000u);
        EXPECT_EQ(s.file[mc + 18], 2);
        EXPECT_EQ(s.file[mc + 19], 100);
        EXPECT_EQ(s.u32(mc + 14 + 4 * 6), 999999u);
        // "WSIL": the sound's silence segment.
        const uint32_t ws = s.u32(16);
        EXPECT_EQ(std::memcmp(&s.file[ws], "WSIL", 4), 0);
        test::ExpectFields(s.file,
                           {
                               {4, 2, 16},
                               {6, 2, 8},
                               {8, 4, ws + 16},
                               {12, 4, 1},
                               {16, 4, 4000},
                               {20, 4, 74000},
                           },
                           ws);

        // The frame section decodes to the decoded section, end record last.
        const MdmDecoded d = DecodeMdmFrames(s.frames(), s.frameBytes());
        EXPECT_TRUE(d.ended);
        EXPECT_FALSE(d.truncated);
        EXPECT_EQ(s.frames()[s.frameBytes() - 1], 0xFF);
        EXPECT_EQ(d.samples, s.decoded());

        // Markers: identifier = event type, type = parameter, at the event's
        // sample (the frame padding before them shifts later positions).
        ASSERT_EQ(d.markers.size(), 5u);
        EXPECT_EQ(d.markers[0].identifier, 2);
        EXPECT_EQ(d.markers[0].type, 100);
        EXPECT_EQ(d.markers[0].code, 7);  // a 10-sample chunk is raw
        EXPECT_EQ(d.markers[1].identifier, 3);
        EXPECT_EQ(d.markers[1].code & 7, 1);  // long frame with command
        EXPECT_EQ(d.markers[2].identifier, 4);
        EXPECT_EQ(d.markers[2].code, 5);  // silence with command
        EXPECT_EQ(d.markers[3].identifier, 5);
        EXPECT_EQ(d.markers[3].code, 5);
        EXPECT_EQ(d.markers[4].identifier, 6);
        EXPECT_EQ(d.markers[4].position, d.samples.size());
        // Before the silence, only the padding of the first chunk (at most
        // one short frame) moves the markers.
        EXPECT_GE(d.markers[0].position, 1000u);
        EXPECT_LT(d.markers[0].position, 1000u + 17);
        EXPECT_EQ(d.markers[1].position, d.markers[0].position + 10);

        // Silence records: even lengths, at most 65534 each, the 70001-sample
        // silence cut at the event and widened by one sample.
        uint64_t silence = 0;
        size_t pos = 0;
        const uint8_t* f = s.frames();
        std::vector<uint32_t> lengths;
        while (f[pos] != 0xFF) {
            const uint8_t c = f[pos];
            const int t = c & 7;
            if (t <= 3) {
                pos += (t <= 1 ? 42 : 12) + (c & 1 ? 2 : 0);
            } else if (t <= 5) {
                const uint32_t n = LoadU16(&f[pos + (c & 1 ? 3 : 1)]);
                lengths.push_back(n);
                silence += n;
                pos += c & 1 ? 5 : 3;
            } else {
                pos += (c & 1 ? 5 : 3) + f[pos + (c & 1 ? 4 : 2)];
            }
        }
        for (uint32_t n : lengths) {
            EXPECT_EQ(n % 2, 0u);
            EXPECT_LE(n, 65534u);
        }
        EXPECT_EQ(silence, 70002u);
    }
}

TEST(MdmFile, DecodedSectionFollowsTheSource) {
    test::TempDir dir;
    const std::vector<uint16_t> words = test::TwoPartialVoice12(16000);
    auto sound = ChipSound(words);
    const Sections s = SaveMdm(*sound, dir.File("a.mdm"));
    const std::vector<uint16_t> dec = s.decoded();
    ASSERT_GE(dec.size(), words.size());
    double signal = 0, noise = 0;
    for (size_t i = 0; i < words.size(); ++i) {
        const double x = words[i] - 2048.0;
        signal += x * x;
        noise += (dec[i] - words[i]) * (dec[i] - words[i]);
    }
    EXPECT_GT(10 * std::log10(signal / noise), 15.0);
    // Every frame start is 8-aligned around mid-scale (9-bit first samples).
    const MdmDecoded d = DecodeMdmFrames(s.frames(), s.frameBytes());
    EXPECT_EQ(d.samples, dec);
}

TEST(MdmFile, CodingModeOneWritesRawRecords) {
    test::TempDir dir;
    auto sound = ChipSound(test::TwoPartialVoice12(600));
    sound->GetWriteParam()->SetCodecParam(1);
    const Sections s = SaveMdm(*sound, dir.File("a.mdm"));
    EXPECT_EQ(s.u16(60), 5);
    const MdmDecoded d = DecodeMdmFrames(s.frames(), s.frameBytes());
    ASSERT_TRUE(d.ended);
    EXPECT_EQ(d.codes, (std::vector<uint8_t>{6, 6, 6}));  // 256 + 256 + 88
    EXPECT_EQ(d.samples, s.decoded());
    EXPECT_EQ(d.samples.size(), 600u);
}

TEST(MdmFile, SingleSampleChunkIsWidened) {
    test::TempDir dir;
    std::vector<uint16_t> words = test::TwoPartialVoice12(200);
    words[199] = 0x9A0;
    auto sound = ChipSound(words);
    sound->GetActionEventMgr()->AddEventAtSample(1, 199, "", 0);  // last sample alone
    const Sections s = SaveMdm(*sound, dir.File("a.mdm"));
    const MdmDecoded d = DecodeMdmFrames(s.frames(), s.frameBytes());
    ASSERT_TRUE(d.ended);
    EXPECT_EQ(d.codes.back(), 7);
    EXPECT_EQ(d.samples.back(), 2047 & 0xFF0);  // past the end: the fill value
    EXPECT_EQ(d.samples[d.samples.size() - 2], 0x9A0);
    EXPECT_EQ(d.samples, s.decoded());
}

TEST(MdmFile, LoadYieldsSourceEventsAndSilence) {
    test::TempDir dir;
    const std::vector<uint16_t> words = test::TwoPartialVoice12(3000);
    auto sound = ChipSound(words);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(1000, 1999));
    sound->GetActionEventMgr()->AddEventAtSample(7, 500, "", 33);
    SaveMdm(*sound, dir.File("a.mdm"));

    C_WavFileFormat factory;
    I_WavFile* opened = factory.OpenWavFile(dir.File("a.mdm").c_str(), 1, 0);
    ASSERT_NE(opened, nullptr);
    auto* file = dynamic_cast<C_MdmFile*>(opened);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetFormatId(), 15u);
    C_WavData* loaded = file->Sound();
    EXPECT_EQ(loaded->GetWavInfo()->GetSampleRate(), 16000u);
    EXPECT_EQ(loaded->GetWavInfo()->GetValidBits(), 12);
    ASSERT_EQ(loaded->SampleCount(), 3000u);
    for (uint32_t i = 0; i < 3000; i += 97) EXPECT_EQ(loaded->Sample(i, 0) + 2048, words[i]);
    ASSERT_EQ(loaded->GetActionEventMgr()->Events().GetCount(), 1);
    EXPECT_EQ(loaded->GetActionEventMgr()->Events().ItemAt(0)->GetSamplePos(), 500u);
    EXPECT_EQ(loaded->GetActionEventMgr()->Events().ItemAt(0)->GetParam(), 33u);
    ASSERT_EQ(loaded->SilenceSegments().GetCount(), 1);
    EXPECT_EQ(factory.GetFileFormat(dir.File("a.mdm").c_str()), 15u);
    opened->Release();
}

// Every byte count short of the whole file, and fields pointing nowhere.
TEST(MdmFile, MalformedHeadersAreRefused) {
    test::TempDir dir;
    auto sound = ChipSound(test::TwoPartialVoice12(300));
    sound->GetActionEventMgr()->AddEventAtSample(1, 10, "", 1);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(100, 149));
    const Sections s = SaveMdm(*sound, dir.File("a.mdm"));
    auto accepts = [](const std::vector<uint8_t>& bytes) {
        C_MdmFile f;
        if (!f.LoadFromStream(InputStream::FromMemory(bytes), 0)) return false;
        return f.Sound() != nullptr;
    };
    ASSERT_TRUE(accepts(s.file));
    for (size_t n = 0; n < s.file.size(); ++n) {
        std::vector<uint8_t> cut(s.file.begin(), s.file.begin() + static_cast<long>(n));
        ASSERT_FALSE(accepts(cut)) << "cut at " << n;
    }
    const uint32_t size = static_cast<uint32_t>(s.file.size());
    struct Case {
        size_t at;
        int width;
        uint32_t value;
        bool accepted;
    };
    const Case cases[] = {
        {42, 4, 0, true},                            // no source samples
        {42, 4, 0xFFFFFFFF, false},                  // source count
        {42, 4, (size - s.u32(38)) / 2 + 1, false},  // one word past the end
        {52, 4, 0xFFFFFFFF, false},                  // decoded count
        {52, 4, 0, true},
        {38, 4, 0, false},  // source inside the header
        {38, 4, 61, false},
        {38, 4, size, false},
        {48, 4, 0xFFFFFFF0, false},
        {28, 4, 10, false},          // frame section inside the header
        {32, 4, 0xFFFFFFFF, false},  // frame section size
        {32, 4, 13, false},
        {20, 4, 0, false},                       // "MCMD" offset into the header
        {20, 4, s.u32(20) - 2, false},           // backwards: no "MCMD" there
        {24, 4, 0xFFFFFFFF, false},              // "MCMD" size
        {24, 4, 14, false},                      // size too small for its entry
        {s.u32(20) + 10, 4, 0xFFFFFFFF, false},  // "MCMD" entry count
        {s.u32(20) + 10, 4, 0, true},
        {16, 4, 30, false},                      // "WSIL" into the header
        {16, 4, size - 15, false},               // "WSIL" header past the end
        {s.u32(16) + 12, 4, 0xFFFFFFFF, false},  // "WSIL" entry count
        {s.u32(16) + 12, 4, 2, false},           // just past the end
        {s.u32(16) + 12, 4, 0, true},
        {s.u32(16) + 8, 4, 0, false},  // entries inside the header
        {6, 2, 60, false},             // header size
        {8, 2, 0, false},              // channels
        {12, 2, 0, false},             // rate
        {46, 2, 0, false},             // bits
        {46, 2, 17, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = s.file;
        if (c.width == 4)
            StoreU32(&bytes[c.at], c.value);
        else
            StoreU16(&bytes[c.at], static_cast<uint16_t>(c.value));
        EXPECT_EQ(accepts(bytes), c.accepted) << "field at " << c.at << " = " << c.value;
    }
}

TEST(MdmFile, FactoryTellsMdmFromMpm) {
    test::TempDir dir;
    auto sound = ChipSound(test::TwoPartialVoice12(500));
    ASSERT_EQ(sound->SaveAs(15, dir.File("a.mdm").c_str()), 1);
    ASSERT_EQ(sound->SaveAs(6, dir.File("a.mpm").c_str()), 1);
    C_WavFileFormat factory;
    EXPECT_EQ(factory.GetFileFormat(dir.File("a.mdm").c_str()), 15u);
    EXPECT_EQ(factory.GetFileFormat(dir.File("a.mpm").c_str()), 6u);
    // A file whose header carries the resource code is an MDM file too.
    std::vector<uint8_t> bytes = test::ReadFileBytes(dir.File("a.mdm"));
    std::memcpy(bytes.data(), "WMdM", 4);
    ASSERT_TRUE(test::WriteFileBytes(dir.File("b.mdm"), bytes));
    EXPECT_EQ(factory.GetFileFormat(dir.File("b.mdm").c_str()), 15u);
}

TEST(MdmFile, TemporaryFileIsRemovedOnEveryPath) {
    test::TempDir dir;
    auto sound = ChipSound(test::TwoPartialVoice12(500));
    const int before = CountContainerTempFiles();
    EXPECT_EQ(sound->SaveAs(15, dir.File("a.mdm").c_str()), 1);
    EXPECT_EQ(CountContainerTempFiles(), before);
    // The output cannot be created.
    EXPECT_EQ(sound->SaveAs(15, dir.File("missing/a.mdm").c_str()), 0);
    EXPECT_EQ(CountContainerTempFiles(), before);
    // The rate does not fit its field.
    auto fast = ChipSound(test::TwoPartialVoice12(500), 96000);
    EXPECT_EQ(fast->SaveAs(15, dir.File("b.mdm").c_str()), 0);
    EXPECT_FALSE(test::FileExists(dir.File("b.mdm")));
    EXPECT_EQ(CountContainerTempFiles(), before);
}

TEST(MdmFile, ConvertsToWav) {
    test::TempDir dir;
    const std::vector<uint16_t> words = test::TwoPartialVoice12(1234);
    auto sound = ChipSound(words);
    ASSERT_EQ(sound->SaveAs(15, dir.File("a.mdm").c_str()), 1);
    auto toWav = [&](const char* in, const char* out) {
        C_MdmFile file;
        return file.Load(dir.File(in).c_str(), 0) && file.SaveAs(kFormatWav, dir.File(out).c_str());
    };
    ASSERT_TRUE(toWav("a.mdm", "a.wav"));
    C_WavFile wav;
    ASSERT_EQ(wav.Load(dir.File("a.wav").c_str(), 0), 1);
    ASSERT_EQ(wav.Sound()->GetWavInfo()->GetValidBits(), 16);
    ASSERT_EQ(wav.Sound()->SampleCount(), 1234u);
    for (uint32_t i = 0; i < 1234; ++i) ASSERT_EQ(wav.Sound()->Sample(i, 0), (words[i] - 2048) * 16);
    EXPECT_FALSE(toWav("a.wav", "b.wav"));
    EXPECT_FALSE(toWav("none.mdm", "c.wav"));
}

// Speech from espeak-ng through sox, with cue markers added and saved by the
// library, converted to MDM: commands sit where the markers are.
TEST(MdmFile, SoxWavWithCueMarkers) {
    if (!test::HaveTool("sox") || !test::HaveTool("espeak-ng")) GTEST_SKIP() << "sox or espeak-ng missing";
    test::TempDir dir;
    const std::string raw = dir.File("speech.wav"), wav = dir.File("cued.wav");
    ASSERT_EQ(test::RunCommand("espeak-ng -w '" + raw + ".tmp.wav' 'markers on a speaking voice' && sox '" + raw +
                               ".tmp.wav' -r 16000 -c 1 -b 16 '" + raw + "'"),
              0);
    {
        C_WavFile file;
        ASSERT_EQ(file.Load(raw.c_str(), 0), 1);
        C_ActionEventMgr* ev = file.Sound()->GetActionEventMgr();
        ev->AddEventAtSample(1, 4000, "", 10);
        ev->AddEventAtSample(2, 9000, "", 100);
        ASSERT_EQ(file.SaveAs(2, wav.c_str()), 1);
    }
    C_WavFileFormat factory;
    I_WavFile* opened = factory.OpenWavFile(wav.c_str(), 1, 0);
    ASSERT_NE(opened, nullptr);
    ASSERT_EQ(opened->GetWavData()->GetActionEventMgr()->GetEventList()->GetCount(), 2);
    ASSERT_EQ(opened->SaveAs(15, dir.File("cued.mdm").c_str()), 1);
    const uint32_t count = opened->GetWavInfo()->GetSampleCount();
    opened->Release();
    const Sections s{test::ReadFileBytes(dir.File("cued.mdm"))};
    EXPECT_EQ(s.u32(42), count);
    EXPECT_EQ(s.u32(s.u32(20) + 10), 2u);
    EXPECT_EQ(s.u32(s.u32(20) + 14), 4000u);
    EXPECT_EQ(s.u32(s.u32(20) + 20), 9000u);
    const MdmDecoded d = DecodeMdmFrames(s.frames(), s.frameBytes());
    ASSERT_TRUE(d.ended);
    EXPECT_EQ(d.samples, s.decoded());
    ASSERT_EQ(d.markers.size(), 2u);
    EXPECT_EQ(d.markers[0].identifier, 1);
    EXPECT_EQ(d.markers[0].type, 10);
    EXPECT_EQ(d.markers[1].identifier, 2);
    EXPECT_EQ(d.markers[1].type, 100);
    // Before the first marker only the first chunk's padding can shift it.
    EXPECT_GE(d.markers[0].position, 4000u);
    EXPECT_LT(d.markers[0].position, 4000u + 17);
    // Each marker starts a chunk: its frame is the first of the chunk.
    EXPECT_EQ(d.markers[1].code & 1, 1);
}

// A voiced stretch far longer than what the writer decodes at a time: the
// decoded section still follows the frames across every run, for both coders.
TEST(MdmFile, LongVoiceDecodesAcrossRuns) {
    for (bool alternative : {false, true}) {
        SCOPED_TRACE(alternative ? "alternative coder" : "MDPCM coder");
        test::TempDir dir;
        const std::vector<uint16_t> words = test::TwoPartialVoice12(200003);
        auto sound = ChipSound(words);
        const Sections s = SaveMdm(*sound, dir.File("long.mdm"), alternative);
        const MdmDecoded d = DecodeMdmFrames(s.frames(), s.frameBytes());
        EXPECT_TRUE(d.ended);
        EXPECT_FALSE(d.truncated);
        EXPECT_GE(d.samples.size(), words.size());
        EXPECT_EQ(d.samples, s.decoded());
        EXPECT_EQ(s.source(), words);
    }
}

}  // namespace
}  // namespace cz
