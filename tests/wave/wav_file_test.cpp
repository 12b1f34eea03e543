#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/RiffBuilder.h"
#include "support/TestSupport.h"
#include "wave/C_RiffFile.h"
#include "wave/C_WavFile.h"

namespace cz {
namespace {

using test::RiffBuilder;

std::unique_ptr<C_WavFile> LoadBytes(const std::vector<uint8_t>& bytes) {
    auto file = std::make_unique<C_WavFile>();
    if (!file->LoadFromStream(InputStream::FromMemory(bytes), 1)) return nullptr;
    return file;
}

std::vector<uint8_t> SimpleWav(const std::vector<int16_t>& samples) {
    return RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", RiffBuilder::Pcm16(samples)).Bytes();
}

TEST(RiffFile, SkipsZeroFillerAndPadBytes) {
    auto bytes = RiffBuilder()
                     .Fmt(1, 1, 8000, 8)
                     .Raw({0, 0, 0})
                     .Chunk("data", {1, 2, 3})  // odd: followed by a pad byte
                     .Chunk("abcd", {9, 9})
                     .Bytes();
    C_RiffFile riff;
    ASSERT_EQ(riff.Open(InputStream::FromMemory(bytes), "WAVE"), 1);
    ASSERT_EQ(riff.GetChunks().GetCount(), 3);
    EXPECT_TRUE(riff.GetChunks().ItemAt(2)->IdIs("abcd"));
}

TEST(RiffFile, SizeFieldSmallerThanContentStopsTheWalk) {
    RiffBuilder b;
    b.Fmt(1, 1, 8000, 8).Chunk("data", {1, 2}).Chunk("late", {1, 2});
    // 4 + (8 + 16) + (8 + 2): the walk stops after the data chunk.
    C_RiffFile riff;
    ASSERT_EQ(riff.Open(InputStream::FromMemory(b.Bytes(4 + 24 + 10)), "WAVE"), 1);
    EXPECT_EQ(riff.GetChunks().GetCount(), 2);
    EXPECT_EQ(riff.Open(InputStream::FromMemory(b.Bytes()), "AVI "), 0);
}

TEST(RiffFile, ChunkPastTheEndHoldsOnlyWhatTheFileHolds) {
    auto bytes = RiffBuilder().Fmt(1, 1, 8000, 8).Raw({'d', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0x7F, 1, 2}).Bytes();
    C_RiffFile riff;
    ASSERT_EQ(riff.Open(InputStream::FromMemory(bytes), "WAVE"), 1);
    C_RiffChunk* data = riff.GetChunks().ItemAt(1);
    EXPECT_EQ(data->GetAvailableSize(), 2u);
    uint8_t out[4];
    EXPECT_EQ(data->ReadData(out, 2, 0), 1);
    EXPECT_EQ(data->ReadData(out, 4, 0), 0);
}

TEST(WavFile, RefusesWhatItCannotHold) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"24-bit float", RiffBuilder().Fmt(3, 1, 8000, 24).Chunk("data", {0, 0, 0}).Bytes()},
        {"tag 85", RiffBuilder().Fmt(85, 1, 8000, 16).Chunk("data", {0, 0}).Bytes()},
        {"0 channels", RiffBuilder().Fmt(1, 0, 8000, 16, 2).Chunk("data", {0, 0}).Bytes()},
        {"0 rate", RiffBuilder().Fmt(1, 1, 0, 16).Chunk("data", {0, 0}).Bytes()},
        {"0 bits", RiffBuilder().Fmt(1, 1, 8000, 0, 2).Chunk("data", {0, 0}).Bytes()},
        {"block align 0", RiffBuilder().Fmt(1, 1, 8000, 16, 0xFFFF).Chunk("data", {0, 0}).Bytes()},
        {"short fmt", RiffBuilder().Chunk("fmt ", {1, 0, 1, 0}).Chunk("data", {0, 0}).Bytes()},
        {"no fmt", RiffBuilder().Chunk("data", {0, 0}).Bytes()},
        {"no data", RiffBuilder().Fmt(1, 1, 8000, 16).Bytes()},
        {"not WAVE", RiffBuilder("AVI ").Fmt(1, 1, 8000, 16).Chunk("data", {0, 0}).Bytes()},
        {"empty", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(LoadBytes(c.bytes), nullptr) << c.what;
    // Every truncation of a valid file loads safely: refused while the format
    // or the data chunk's header is incomplete, then with the whole samples
    // present and a message that the file is shorter than its header says.
    const std::vector<int16_t> samples = {1, 2, 3, 4};
    auto valid = SimpleWav(samples);
    const size_t dataStart = valid.size() - 2 * samples.size();
    for (size_t n = 0; n < valid.size(); ++n) {
        std::vector<uint8_t> cut(valid.begin(), valid.begin() + static_cast<long>(n));
        test::MessageCapture messages;
        auto f = LoadBytes(cut);
        if (n < dataStart) {
            EXPECT_EQ(f, nullptr) << "cut at " << n;
            continue;
        }
        ASSERT_NE(f, nullptr) << "cut at " << n;
        const uint32_t whole = static_cast<uint32_t>((n - dataStart) / 2);
        ASSERT_EQ(f->Sound()->SampleCount(), whole) << "cut at " << n;
        for (uint32_t i = 0; i < whole; ++i) EXPECT_EQ(f->Sound()->Sample(i, 0), samples[i]) << n;
        EXPECT_TRUE(messages.Saw("shorter than its header says")) << "cut at " << n;
    }
    test::MessageCapture none;
    EXPECT_NE(LoadBytes(valid), nullptr);
    EXPECT_TRUE(none.texts.empty());
}

// Damaged metadata costs the metadata, not the sound: a chunk whose counts run
// past its end is dropped with a message, the samples and other chunks load.
TEST(WavFile, DamagedMetadataChunksAreDropped) {
    std::vector<uint8_t> label = {'l', 'a', 'b', 'l', 6, 0, 0, 0, 1, 0, 0, 0, 'h', 0};
    std::vector<uint8_t> adtl = {'a', 'd', 't', 'l'};
    adtl.insert(adtl.end(), label.begin(), label.end());
    std::vector<uint8_t> cue;
    RiffBuilder::U32(cue, 1);
    for (uint32_t v : {1u, 2u}) RiffBuilder::U32(cue, v);
    cue.insert(cue.end(), {'d', 'a', 't', 'a'});
    for (uint32_t v : {0u, 0u, 2u}) RiffBuilder::U32(cue, v);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* chunk;
    } cases[] = {
        {"cue count past the chunk",
         RiffBuilder()
             .Fmt(1, 1, 8000, 16)
             .Chunk("data", RiffBuilder::Pcm16({5, 6, 7}))
             .Chunk("cue ", {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0})
             .Chunk("LIST", adtl)
             .Bytes(),
         "cue"},
        {"smpl loops past the chunk",
         RiffBuilder()
             .Fmt(1, 1, 8000, 16)
             .Chunk("data", RiffBuilder::Pcm16({5, 6, 7}))
             .Chunk("smpl", std::vector<uint8_t>(36, 0xFF))
             .Chunk("cue ", cue)
             .Bytes(),
         "smpl"},
        {"label size past the LIST",
         RiffBuilder()
             .Fmt(1, 1, 8000, 16)
             .Chunk("data", RiffBuilder::Pcm16({5, 6, 7}))
             .Chunk("cue ", cue)
             .Chunk("LIST", {'a', 'd', 't', 'l', 'l', 'a', 'b', 'l', 0xFF, 0, 0, 0, 1, 0})
             .Bytes(),
         "LIST"},
    };
    for (const auto& c : cases) {
        test::MessageCapture messages;
        auto f = LoadBytes(c.bytes);
        ASSERT_NE(f, nullptr) << c.what;
        ASSERT_EQ(f->Sound()->SampleCount(), 3u) << c.what;
        EXPECT_EQ(f->Sound()->Sample(2, 0), 7) << c.what;
        EXPECT_TRUE(messages.Saw(std::string("damaged ") + c.chunk + " chunk")) << c.what;
    }
    // The cue of the smpl case, after the dropped chunk, is kept.
    test::MessageCapture messages;
    auto f = LoadBytes(cases[1].bytes);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Sound()->CueInfo().GetCount(), 1);

    // A LIST chunk that is not "adtl" after an "adtl" one leaves the labels.
    auto info = LoadBytes(RiffBuilder()
                              .Fmt(1, 1, 8000, 16)
                              .Chunk("data", RiffBuilder::Pcm16({5, 6, 7}))
                              .Chunk("cue ", cue)
                              .Chunk("LIST", adtl)
                              .Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 2, 0, 0, 0, 'x', 0})
                              .Bytes());
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->Sound()->ListInfo().GetLabelCount(), 1);
    uint32_t cueId = 0;
    EXPECT_STREQ(info->Sound()->ListInfo().GetLabelAt(0, &cueId), "h");
    EXPECT_EQ(cueId, 1u);
}

TEST(WavFile, LoadsPcmWidthsAndExtensible) {
    // 24-bit samples are widened into 32-bit containers.
    auto w24 = RiffBuilder().Fmt(1, 1, 48000, 24).Chunk("data", {0x01, 0x02, 0x83, 0xFF, 0xFF, 0x7F}).Bytes();
    auto f = LoadBytes(w24);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Sound()->GetWavInfo()->GetContainerBits(), 32);
    EXPECT_EQ(f->Sound()->GetWavInfo()->GetValidBits(), 24);
    EXPECT_EQ(f->Sound()->Sample(0, 0), static_cast<int32_t>(0xFF830201u));
    EXPECT_EQ(f->Sound()->Sample(1, 0), 0x7FFFFF);

    // WAVE_FORMAT_EXTENSIBLE with a PCM subformat.
    std::vector<uint8_t> fmt;
    RiffBuilder::U16(fmt, 0xFFFE);
    RiffBuilder::U16(fmt, 2);
    RiffBuilder::U32(fmt, 44100);
    RiffBuilder::U32(fmt, 44100 * 4);
    RiffBuilder::U16(fmt, 4);
    RiffBuilder::U16(fmt, 16);
    RiffBuilder::U16(fmt, 22);
    RiffBuilder::U16(fmt, 16);
    RiffBuilder::U32(fmt, 3);
    const uint8_t pcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), pcmGuid, pcmGuid + 16);
    auto ext = RiffBuilder().Chunk("fmt ", fmt).Chunk("data", RiffBuilder::Pcm16({1, -1, 2, -2})).Bytes();
    f = LoadBytes(ext);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Sound()->GetWavInfo()->GetChannels(), 2);
    EXPECT_EQ(f->Sound()->Sample(1, 1), -2);
    fmt[24] = 3;  // IEEE float subformat
    EXPECT_EQ(LoadBytes(RiffBuilder().Chunk("fmt ", fmt).Chunk("data", {0, 0, 0, 0}).Bytes()), nullptr);
}

TEST(WavFile, MarkersRoundTripThroughCueAndLabels) {
    test::TempDir dir;
    auto f = LoadBytes(SimpleWav(std::vector<int16_t>(1000, 7)));
    ASSERT_TRUE(f);
    C_ActionEventMgr* events = f->Sound()->GetActionEventMgr();
    events->AddEventAtSample(3, 100, nullptr, 7);
    events->AddEventAtSample(1, 150, nullptr, 0);
    events->AddSilenceRegion(200, 400);
    std::string path = dir.File("markers.wav");
    ASSERT_EQ(f->SaveAs(2, path.c_str()), 1);

    C_WavFile back;
    ASSERT_EQ(back.Load(path.c_str(), 0), 1);
    auto& cues = back.Sound()->CueInfo();
    auto& labels = back.Sound()->ListInfo();
    ASSERT_EQ(cues.GetCount(), 3);
    const uint32_t positions[] = {100, 150, 200};
    const char* texts[] = {"(3,7)", "(1,0)", "SILENCE"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cues.GetAt(i)->GetCueId(), static_cast<uint32_t>(i + 1));
        EXPECT_EQ(cues.GetAt(i)->GetPosition(), positions[i]);
        EXPECT_STREQ(cues.GetAt(i)->GetChunkIdText(), "data");
        uint32_t id = 0;
        EXPECT_STREQ(labels.GetLabelAt(i, &id), texts[i]);
    }
    EXPECT_EQ(labels.GetTextLength(3), 400u);
    C_ActionEventMgr* restored = back.Sound()->GetActionEventMgr();
    ASSERT_EQ(restored->GetEventList()->GetCount(), 2);
    EXPECT_EQ(restored->GetEventList()->GetAt(0)->GetType(), 3u);
    EXPECT_EQ(restored->GetEventList()->GetAt(0)->GetParam(), 7u);
    ASSERT_EQ(restored->GetSilenceRegionList()->GetCount(), 1);
    EXPECT_EQ(restored->GetSilenceRegionList()->GetAt(0)->GetEnd(), 400u);

    // Saved again: the markers are not doubled.
    std::string again = dir.File("again.wav");
    ASSERT_EQ(back.SaveAs(2, again.c_str()), 1);
    C_WavFile third;
    ASSERT_EQ(third.Load(again.c_str(), 0), 1);
    EXPECT_EQ(third.Sound()->CueInfo().GetCount(), 3);
    EXPECT_EQ(third.Sound()->GetActionEventMgr()->GetEventList()->GetCount(), 2);
}

TEST(WavFile, ForeignCuesLabelsSamplerAndExtraChunksSurvive) {
    std::vector<uint8_t> cue;
    RiffBuilder::U32(cue, 2);
    for (uint32_t id : {1u, 1u}) {  // two points with one identifier are both kept
        RiffBuilder::U32(cue, id);
        RiffBuilder::U32(cue, 40 * id);
        cue.insert(cue.end(), {'d', 'a', 't', 'a'});
        for (int k = 0; k < 3; ++k) RiffBuilder::U32(cue, 0);
    }
    std::vector<uint8_t> list = {'a', 'd', 't', 'l', 'l', 'a', 'b', 'l', 8, 0, 0, 0, 1, 0, 0, 0, 'a', 'b', 'c', 0};
    std::vector<uint8_t> smpl(36 + 2 * 24 + 4, 0);
    smpl[28] = 2;  // two loops
    smpl[32] = 4;  // four bytes of sampler data
    auto bytes = RiffBuilder()
                     .Fmt(1, 1, 8000, 16)
                     .Chunk("data", RiffBuilder::Pcm16(std::vector<int16_t>(100, 1)))
                     .Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 2, 0, 0, 0, 'h', 0})
                     .Chunk("cue ", cue)
                     .Chunk("LIST", list)
                     .Chunk("smpl", smpl)
                     .Chunk("WIOD", {1, 2, 3})
                     .Bytes();
    auto f = LoadBytes(bytes);
    ASSERT_TRUE(f);
    C_WavData* s = f->Sound();
    EXPECT_EQ(s->CueInfo().GetCount(), 2);
    EXPECT_EQ(s->ListInfo().GetLabelCount(), 1);
    EXPECT_EQ(s->SamplerInfo().GetChunkSize(), 88u);
    EXPECT_EQ(s->ExtraChunks().GetCount(), 1);
    s->CueInfo().AddCuePoint(1, 77, "data", 0, 0, 0);  // updates the first of the two
    EXPECT_EQ(s->CueInfo().GetAt(0)->GetPosition(), 77u);
    EXPECT_EQ(s->CueInfo().GetAt(1)->GetPosition(), 40u);

    test::TempDir dir;
    std::string path = dir.File("kept.wav");
    ASSERT_EQ(f->SaveAs(2, path.c_str()), 1);
    C_WavFile back;
    ASSERT_EQ(back.Load(path.c_str(), 0), 1);
    EXPECT_EQ(back.Sound()->SamplerInfo().GetLoopCount(), 2u);
    uint32_t id = 0;
    EXPECT_STREQ(back.Sound()->ListInfo().GetLabelAt(0, &id), "abc");
    EXPECT_EQ(id, 1u);
    ASSERT_EQ(back.Sound()->ExtraChunks().GetCount(), 1);
    const uint8_t* extra = nullptr;
    EXPECT_EQ(back.Sound()->ExtraChunks().ItemAt(0)->GetData(&extra), 3u);
    EXPECT_EQ(extra[2], 3);
}

TEST(WavFile, LabelSubchunkSizesAndLongLabels) {
    C_WavDataListInfo list;
    list.SetLabel(1, "abc");
    list.SetLabel(2, "abcd");
    list.SetLabel(3, std::string(200, 'x').c_str());
    EXPECT_EQ(std::strlen(list.GetLabelAt(2, nullptr)), 63u);
    C_RiffChunk chunk("LIST", list.GetChunkSize());
    ASSERT_EQ(list.WriteToChunk(chunk), 1);
    const auto& d = *chunk.Data();
    EXPECT_EQ(d[8], 8);        // "abc" + NUL after the identifier
    EXPECT_EQ(d[8 + 16], 10);  // "abcd" + NUL + pad
    // An empty label (size 5) and a label longer than the field.
    std::vector<uint8_t> bytes = {'a', 'd', 't', 'l', 'l', 'a', 'b', 'l', 5, 0, 0, 0, 9, 0, 0, 0, 0, 0};
    std::vector<uint8_t> longLabel = {'l', 'a', 'b', 'l', 104, 0, 0, 0, 4, 0, 0, 0};
    longLabel.insert(longLabel.end(), 100, 'y');
    bytes.insert(bytes.end(), longLabel.begin(), longLabel.end());
    C_RiffChunk in("LIST", static_cast<uint32_t>(bytes.size()));
    in.SetData(bytes.data());
    C_WavDataListInfo read;
    ASSERT_EQ(read.LoadFromChunk(in), 1);
    ASSERT_EQ(read.GetLabelCount(), 2);
    EXPECT_STREQ(read.GetLabelAt(0, nullptr), "");
    EXPECT_EQ(std::strlen(read.GetLabelAt(1, nullptr)), 63u);
}

TEST(WavFile, TwelveBitSavesAsSixteenAndOddDataIsPadded) {
    test::TempDir dir;
    C_WavFile f;
    f.SetFormat(8000, 4, 1, 12, 16, 1);
    const uint8_t twelve[] = {0xFF, 0x07, 0x00, 0xF8};  // 2047 and -2048
    f.SetSampleData(twelve, 4);
    std::string path = dir.File("twelve.wav");
    ASSERT_EQ(f.Save(path.c_str()), 1);
    C_WavFile back;
    ASSERT_EQ(back.Load(path.c_str(), 0), 1);
    EXPECT_EQ(back.Sound()->GetWavInfo()->GetValidBits(), 16);
    EXPECT_EQ(back.Sound()->Sample(0, 0), 2047 * 16);
    EXPECT_EQ(back.Sound()->Sample(1, 0), -2048 * 16);

    C_WavFile odd;
    odd.SetFormat(8000, 3, 1, 8, 8, 0);
    const uint8_t three[] = {1, 2, 3};
    odd.SetSampleData(three, 3);
    odd.GetWavData()->GetActionEventMgr()->AddEventAtSample(1, 1, nullptr, 2);
    std::string oddPath = dir.File("odd.wav");
    ASSERT_EQ(odd.Save(oddPath.c_str()), 1);
    auto bytes = test::ReadFileBytes(oddPath);
    EXPECT_EQ(bytes.size() % 2, 0u);
    EXPECT_EQ(bytes[44 + 3], 0);                       // the pad byte
    EXPECT_EQ(std::memcmp(&bytes[48], "cue ", 4), 0);  // the next chunk after it
}

}  // namespace
}  // namespace cz
