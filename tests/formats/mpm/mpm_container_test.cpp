// The MPM container: header, frame section header, segment table, "MCMD"
// and "WSIL" blocks, decoded and source sections, through a frame writer of
// the test's own and through the generic MPM file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/registry/C_WavFileFormat.h"
#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "formats/mpm/C_MpmFile.h"
#include "formats/mpm/T_MpmFormatBase.h"
#include "formats/wpcm/C_SrcFile.h"
#include "foundation/ByteReader.h"
#include "support/HeaderFields.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"

namespace cz {

bool operator==(const S_MpmSegment& a, const S_MpmSegment& b) {
    return a.type == b.type && a.first == b.first && a.length == b.length;
}

namespace {

// Writes each segment as its 9-byte row and the source samples, doubled,
// as the "reconstruction".
class SegmentDumpFile : public T_MpmFormatBase<C_SrcFile> {
public:
    SegmentDumpFile() : T_MpmFormatBase<C_SrcFile>("TEST", "TST2") {}
    int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                        const std::vector<S_MpmSegment>& segments,
                        const std::vector<S_MpmEventEntry>& events) override {
        for (const S_MpmSegment& s : segments) {
            out.U8(s.type);
            out.U16(static_cast<uint16_t>(s.first));
            out.U16(static_cast<uint16_t>(s.first >> 16));
            out.U16(static_cast<uint16_t>(s.length));
            out.U16(static_cast<uint16_t>(s.length >> 16));
        }
        for (uint16_t v : samples) {
            out.Decoded(v);
            out.Decoded(v);
        }
        seenEvents = events;
        return fail ? 0 : 1;
    }
    std::vector<S_MpmEventEntry> seenEvents;
    bool fail = false;
};

std::unique_ptr<C_WavData> ChipSound(uint32_t count, uint32_t rate = 8000) {
    std::vector<uint16_t> words(count);
    for (uint32_t i = 0; i < count; ++i)
        words[i] = static_cast<uint16_t>(2048 + 700 * std::sin(i * 0.07) + 200 * std::sin(i * 0.9));
    auto sound = test::ChipSoundOf(words, rate);
    sound->GetActionEventMgr()->SetSampleRate(rate);
    return sound;
}

std::vector<uint8_t> Save(T_MpmFormatBase<C_SrcFile>& writer, C_WavData& sound, const std::string& path) {
    return test::SaveWith(writer, sound, path) ? test::ReadFileBytes(path) : std::vector<uint8_t>{};
}

std::vector<S_MpmSegment> Rows(const std::vector<uint8_t>& f) {
    std::vector<S_MpmSegment> rows;
    const uint32_t end = 62 + LoadU32(&f[32]);
    for (uint32_t at = 76; at + 9 <= end; at += 9) rows.push_back({f[at], LoadU32(&f[at + 1]), LoadU32(&f[at + 5])});
    return rows;
}

TEST(MpmContainer, LayoutWithoutSilence) {
    test::TempDir dir;
    auto sound = ChipSound(100);
    SegmentDumpFile writer;
    const std::vector<uint8_t> f = Save(writer, *sound, dir.File("a.tst"));
    ASSERT_FALSE(f.empty());
    const std::vector<uint8_t> head(f.begin(), f.begin() + 14);
    const uint8_t want[14] = {'T', 'E', 'S', 'T', 0x10, 0x01, 62, 0, 1, 0, 5, 0, 0x40, 0x1F};
    EXPECT_EQ(std::memcmp(head.data(), want, 14), 0);
    EXPECT_EQ(std::memcmp(&f[62], "MFRM", 4), 0);
    test::ExpectFields(f, {
                              {14, 2, 3400},  // (8000 / 2) x 0.85
                              {28, 4, 62},
                              {32, 4, 14 + 9},
                              {66, 2, 14},  // "MFRM"
                              {68, 4, 76},
                              {72, 4, 9},
                              {36, 2, 12},
                              {46, 2, 12},
                              {48, 4, 62 + 23},  // decoded right after the frames
                              {52, 4, 200},
                              {38, 4, 85 + 400},
                              {42, 4, 100},
                              {56, 2, 0},
                              {58, 2, 0},
                              {60, 2, 4},
                          });
    EXPECT_EQ(Rows(f), (std::vector<S_MpmSegment>{{1, 0, 100}}));
    // Blocks with their headers only.
    const uint32_t mc = LoadU32(&f[20]);
    EXPECT_EQ(mc, 485u + 200);
    EXPECT_EQ(LoadU32(&f[24]), 14u);
    const uint8_t mcmd[14] = {'M', 'C', 'M', 'D', 14, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> wantMcmd(mcmd, mcmd + 14);
    StoreU32(&wantMcmd[6], mc + 14);
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + mc, f.begin() + mc + 14), wantMcmd);
    EXPECT_EQ(LoadU32(&f[16]), mc + 14);
    const uint8_t wsil[16] = {'W', 'S', 'I', 'L', 16, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> wantWsil(wsil, wsil + 16);
    StoreU32(&wantWsil[8], mc + 14 + 16);
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + mc + 14, f.end()), wantWsil);
    // The decoded section is what the frame writer produced.
    for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(LoadU16(&f[85 + 4 * i]), LoadU16(&f[485 + 2 * i]));
}

TEST(MpmContainer, SegmentTable) {
    struct Case {
        const char* name;
        uint32_t total;
        std::vector<S_MpmSilence> silences;
        std::vector<S_MpmEventEntry> events;
        uint8_t voice;
        std::vector<S_MpmSegment> want;
    };
    const Case cases[] = {
        {"no silence", 50, {}, {}, 1, {{1, 0, 50}}},
        {"coding mode 1", 50, {}, {}, 2, {{2, 0, 50}}},
        {"silence in the middle", 100, {{20, 39}}, {}, 1, {{1, 0, 20}, {3, 20, 20}, {1, 40, 60}}},
        {"silence at both ends", 100, {{0, 9}, {90, 99}}, {}, 1, {{3, 0, 10}, {1, 10, 80}, {3, 90, 10}}},
        // One sample between the cursor and a silence: no voice segment, the
        // silence covers it.
        {"one sample gap", 100, {{0, 9}, {11, 20}}, {}, 1, {{3, 0, 10}, {3, 10, 11}, {1, 21, 79}}},
        {"starting at 1", 30, {{1, 9}}, {}, 1, {{3, 0, 10}, {1, 10, 20}}},
        {"overlap trimmed", 100, {{10, 29}, {20, 39}}, {}, 1, {{1, 0, 10}, {3, 10, 20}, {3, 30, 10}, {1, 40, 60}}},
        {"inside earlier silence", 100, {{10, 49}, {20, 29}}, {}, 1, {{1, 0, 10}, {3, 10, 40}, {1, 50, 50}}},
        {"event on the last silent sample", 100, {{20, 39}}, {{39, 1, 1}}, 1, {{1, 0, 20}, {3, 20, 19}, {1, 39, 61}}},
        {"silence past the end", 50, {{40, 80}}, {}, 1, {{1, 0, 40}, {3, 40, 10}}},
        {"silence beyond the end", 50, {{60, 80}}, {}, 1, {{1, 0, 50}}},
        {"empty", 0, {{0, 5}}, {}, 1, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildMpmSegmentTable(c.total, c.silences, c.events, c.voice), c.want) << c.name;
}

TEST(MpmContainer, BlocksAndHeaderFieldsFromTheSound) {
    test::TempDir dir;
    auto sound = ChipSound(1000, 16000);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(100, 199));
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(500, 599));
    C_ActionEventMgr* ev = sound->GetActionEventMgr();
    ev->AddEventAtSample(300, 50, "", 0x1C5);   // type and parameter cut to a byte
    ev->AddEventAtSample(2, 199, "", 9);        // shortens the first silence
    sound->GetWriteParam()->SetRange(20, 300);  // 20 ms minimum, level 300
    sound->GetWriteParam()->SetCodecParam(1);
    SegmentDumpFile writer;
    const std::vector<uint8_t> f = Save(writer, *sound, dir.File("a.tst"));
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(LoadU16(&f[56]), 300);
    EXPECT_EQ(LoadU16(&f[58]), 320);
    EXPECT_EQ(LoadU16(&f[60]), 5);
    EXPECT_EQ(Rows(f),
              (std::vector<S_MpmSegment>{{2, 0, 100}, {3, 100, 99}, {2, 199, 301}, {3, 500, 100}, {2, 600, 400}}));
    const uint32_t mc = LoadU32(&f[20]);
    EXPECT_EQ(LoadU32(&f[24]), 14u + 12);
    EXPECT_EQ(LoadU32(&f[mc + 10]), 2u);
    const uint8_t entries[12] = {50, 0, 0, 0, 300 & 0xFF, 0xC5, 199, 0, 0, 0, 2, 9};
    EXPECT_EQ(std::memcmp(&f[mc + 14], entries, 12), 0);
    const uint32_t ws = LoadU32(&f[16]);
    EXPECT_EQ(ws, mc + 26);
    EXPECT_EQ(LoadU32(&f[ws + 12]), 2u);
    EXPECT_EQ(LoadU32(&f[ws + 16]), 100u);
    EXPECT_EQ(LoadU32(&f[ws + 20]), 199u);  // the segment as the sound has it
    EXPECT_EQ(LoadU32(&f[ws + 24]), 500u);
    EXPECT_EQ(f.size(), ws + 32u);
    ASSERT_EQ(writer.seenEvents.size(), 2u);
}

TEST(MpmContainer, FailedFrameWriterLeavesNothing) {
    test::TempDir dir;
    auto sound = ChipSound(100);
    SegmentDumpFile writer;
    writer.fail = true;
    EXPECT_TRUE(Save(writer, *sound, dir.File("a.tst")).empty());
    EXPECT_FALSE(test::FileExists(dir.File("a.tst")));
    // A stereo sound is mixed down; the saved source is one channel.
    auto stereo = std::make_unique<C_WavData>();
    std::vector<uint8_t> bytes(4 * 10, 0);
    stereo->SetFormat(8000, 40, 2, 16, 16, 1);
    stereo->SetSampleData(bytes.data(), 40);
    SegmentDumpFile ok;
    const std::vector<uint8_t> f = Save(ok, *stereo, dir.File("b.tst"));
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(LoadU32(&f[42]), 10u);
    EXPECT_EQ(LoadU16(&f[LoadU32(&f[38])]), 2048);
}

// The generic MPM stream, decoded by its own rules: frames continue from
// the last value, silence keeps it, raw records set it.
std::vector<uint16_t> DecodeGenericMpm(const uint8_t* p, size_t size, bool* ended) {
    std::vector<uint16_t> out;
    int v = 2048;
    size_t pos = 0;
    *ended = false;
    while (pos < size) {
        const uint8_t t = p[pos++];
        if (t == 0) {
            *ended = true;
            break;
        }
        if (t >= 5 && t <= 8) {
            if (t == 6 || t == 8) pos += 2;
            if (pos >= size) break;
            const uint8_t h = p[pos++];
            const uint32_t n = (h & 1) ? 64 : 16;
            const int step = 8 * ((h >> 1) + 1);
            if (pos + n > size) break;
            for (uint32_t k = 0; k < n; ++k) {
                v = std::clamp(v + static_cast<int8_t>(p[pos + k]) * step, 0, 4095);
                out.push_back(static_cast<uint16_t>(v));
            }
            pos += n;
        } else if (t == 1 || t == 2) {
            if (pos + (t == 2 ? 4 : 2) > size) break;
            out.insert(out.end(), LoadU16(&p[pos]), static_cast<uint16_t>(v));
            pos += t == 2 ? 4 : 2;
        } else if (t == 3 || t == 4) {
            if (pos + (t == 4 ? 4 : 2) > size) break;
            v = p[pos] << 4;
            out.push_back(static_cast<uint16_t>(v));
            pos += t == 4 ? 3 : 1;
            const uint32_t n = p[pos++];
            if (pos + n > size) break;
            for (uint32_t i = 0; i < n; ++i) out.push_back(static_cast<uint16_t>(v = p[pos + i] << 4));
            pos += n;
        } else {
            break;
        }
    }
    return out;
}

TEST(MpmFile, GenericStreamDecodesToItsDecodedSection) {
    test::TempDir dir;
    auto sound = ChipSound(5000);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(2000, 2999));
    sound->GetActionEventMgr()->AddEventAtSample(4, 1000, "", 3);
    sound->GetActionEventMgr()->AddEventAtSample(5, 1005, "", 3);
    ASSERT_EQ(sound->SaveAs(6, dir.File("a.mpm").c_str()), 1);
    const std::vector<uint8_t> f = test::ReadFileBytes(dir.File("a.mpm"));
    EXPECT_EQ(std::memcmp(f.data(), "WMPM", 4), 0);
    bool ended = false;
    const std::vector<uint16_t> d = DecodeGenericMpm(&f[76], LoadU32(&f[32]) - 14, &ended);
    EXPECT_TRUE(ended);
    std::vector<uint16_t> section(LoadU32(&f[52]));
    for (size_t i = 0; i < section.size(); ++i) section[i] = LoadU16(&f[LoadU32(&f[48]) + 2 * i]);
    EXPECT_EQ(d, section);
    // Commands sit on the last frame of the chunk that starts at the event.
    EXPECT_NE(std::find(f.begin() + 76, f.begin() + 62 + LoadU32(&f[32]), 4), f.end());

    C_WavFileFormat factory;
    I_WavFile* opened = factory.OpenWavFile(dir.File("a.mpm").c_str(), 1, 0);
    ASSERT_NE(opened, nullptr);
    EXPECT_NE(dynamic_cast<C_MpmFile*>(opened), nullptr);
    EXPECT_EQ(opened->GetFormatId(), 6u);
    EXPECT_EQ(opened->GetWavInfo()->GetSampleCount(), 5000u);
    opened->Release();
}

}  // namespace
}  // namespace cz
