// Reading Standard MIDI Files: the header, the message lengths, running
// status, tempo determination and every kind of damaged input.
#include <gtest/gtest.h>

#include <string>

#include "midi/smf/C_MidiEvent.h"
#include "midi/smf/C_MidiFile.h"
#include "midi/smf/SmfFixture.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

using test::BuildSmf;
using test::Bytes;

Bytes EventBytes(I_MidiEvent* e) { return Bytes(e->GetData(), e->GetData() + e->GetDataLength()); }

struct LoadResult {
    int32_t ok;
    std::string output;
};

LoadResult Load(C_MidiFile& midi, const Bytes& image) {
    testing::internal::CaptureStdout();
    const int32_t ok = midi.LoadImage(image.data(), image.size());
    return {ok, testing::internal::GetCapturedStdout()};
}

TEST(SmfParse, EveryMessageLengthAndRunningStatus) {
    const Bytes body = {
        0x00, 0x90, 60,   100,                    // note on, status given
        0x10, 62,   90,                           // running status: note on
        0x00, 0xC1, 5,                            // program change (2 bytes)
        0x00, 7,                                  // running status: program change
        0x00, 0xFF, 0x01, 0x03, 'a',  'b',  'c',  // meta text keeps running status
        0x00, 9,                                  // still program change
        0x00, 0xF0, 0x03, 0x43, 0x12, 0xF7,       // system exclusive up to F7
        0x00, 0xF2, 0x01, 0x02,                   // song position (3 bytes)
        0x00, 0xF3, 0x04,                         // song select (2 bytes)
        0x00, 0xF8,                               // clock (1 byte)
        0x00, 0xE0, 0x00, 0x40,                   // pitch bend
        0x81, 0x00, 0xFF, 0x2F, 0x00,             // end of track after 128 ticks
    };
    C_MidiFile midi;
    auto r = Load(midi, BuildSmf(0, 96, {body}));
    ASSERT_EQ(r.ok, 1) << r.output;
    EXPECT_EQ(r.output, "");
    I_MidiTrack* track = midi.GetTrack(0);
    ASSERT_NE(track, nullptr);
    const std::vector<Bytes> expected = {{0x90, 60, 100},
                                         {0x90, 62, 90},
                                         {0xC1, 5},
                                         {0xC1, 7},
                                         {0xFF, 0x01, 0x03, 'a', 'b', 'c'},
                                         {0xC1, 9},
                                         {0xF0, 0x03, 0x43, 0x12, 0xF7},
                                         {0xF2, 0x01, 0x02},
                                         {0xF3, 0x04},
                                         {0xF8},
                                         {0xE0, 0x00, 0x40},
                                         {0xFF, 0x2F, 0x00}};
    ASSERT_EQ(track->GetEventCount(), expected.size());
    for (uint32_t i = 0; i < expected.size(); ++i) EXPECT_EQ(EventBytes(track->GetEvent(i)), expected[i]) << i;
    EXPECT_EQ(track->GetEvent(1)->GetDeltaTime(), 0x10u);
    EXPECT_EQ(track->GetLastEvent()->GetDeltaTime(), 128u);
    EXPECT_EQ(track->GetEvent(3)->GetChannel(), 1);
    EXPECT_EQ(track->GetEvent(6)->GetChannel(), 0xFF);
    EXPECT_TRUE(track->HasEndOfTrack());
    EXPECT_EQ(midi.GetFormat(), 0);
    EXPECT_EQ(midi.GetDivision(), 96);
    EXPECT_EQ(midi.GetTrackCount(), 1);
}

TEST(SmfParse, HeaderLengthIsNotReadAndTracksStartAtByte14) {
    Bytes image = BuildSmf(1, 480, {{0x00, 0xFF, 0x2F, 0x00}, {0x00, 0x90, 1, 2, 0x00, 0xFF, 0x2F, 0x00}}, 10);
    C_MidiFile midi;
    auto r = Load(midi, image);
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(midi.GetTrackCount(), 2);
    EXPECT_EQ(midi.GetTrack(1)->GetEventCount(), 2u);
}

TEST(SmfParse, DeltaVlqOfMoreThanFourBytesIsAccepted) {
    // Five bytes, the leading groups zero: 0x80 0x80 0x80 0x81 0x00 = 128.
    C_MidiFile midi;
    auto r = Load(midi, BuildSmf(0, 96, {{0x80, 0x80, 0x80, 0x81, 0x00, 0xFF, 0x2F, 0x00}}));
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(midi.GetTrack(0)->GetEvent(0)->GetDeltaTime(), 128u);
}

struct BadCase {
    const char* name;
    Bytes image;
    const char* output;
    uint16_t tracksKept;
};

TEST(SmfParse, DamagedInputFailsWithItsDiagnostic) {
    const Bytes end = {0x00, 0xFF, 0x2F, 0x00};
    Bytes noMagic = BuildSmf(0, 96, {end});
    noMagic[0] = 'X';
    Bytes badTrackId = BuildSmf(0, 96, {end});
    badTrackId[14] = 'X';
    Bytes format3 = BuildSmf(3, 96, {end});
    Bytes noTracks = BuildSmf(0, 96, {});
    Bytes bodyPastEnd = BuildSmf(0, 96, {end});
    bodyPastEnd[21] = 5;  // body length 5, 4 bytes there
    Bytes missingTrack = BuildSmf(1, 96, {end});
    missingTrack[11] = 2;  // two tracks announced, one there
    const BadCase cases[] = {
        {"not MThd", noMagic, "", 0},
        {"short header", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0}, "", 0},
        {"format above 2", format3, "FormatNo > 2\n", 0},
        {"zero tracks", noTracks, "TrackNo == 0\n", 0},
        {"track id", badTrackId, "Track ID mismatch\n", 0},
        {"second track missing", missingTrack, "Track ID mismatch\n", 1},
        {"body past end of file", bodyPastEnd, "Set Track Data failed\n", 0},
        {"running status at track start", BuildSmf(0, 96, {{0x00, 60, 100, 0x00, 0xFF, 0x2F, 0x00}}),
         "Set Track Data failed\n", 1},
        {"running status after meta at start", BuildSmf(0, 96, {{0x00, 0xFF, 0x01, 0x00, 0x00, 60, 100}}),
         "Set Track Data failed\n", 1},
        {"running status after sysex", BuildSmf(0, 96, {{0x00, 0x90, 60, 100, 0x00, 0xF0, 0x01, 0xF7, 0x00, 61, 100}}),
         "Set Track Data failed\n", 1},
        {"sysex without F7", BuildSmf(0, 96, {{0x00, 0xF0, 0x01, 0x02, 0x03}}), "Set Track Data failed\n", 1},
        {"meta length past end", BuildSmf(0, 96, {{0x00, 0xFF, 0x01, 0x05, 'a', 'b'}}), "Set Track Data failed\n", 1},
        {"meta length VLQ unfinished", BuildSmf(0, 96, {{0x00, 0xFF, 0x01, 0x85}}), "Set Track Data failed\n", 1},
        {"meta without type", BuildSmf(0, 96, {{0x00, 0xFF}}), "Set Track Data failed\n", 1},
        {"delta VLQ unfinished", BuildSmf(0, 96, {{0x00, 0x90, 60, 100, 0x81}}), "Set Track Data failed\n", 1},
        {"delta without message", BuildSmf(0, 96, {{0x00, 0x90, 60, 100, 0x00}}), "Set Track Data failed\n", 1},
        {"note cut short", BuildSmf(0, 96, {{0x00, 0x90, 60}}), "Set Track Data failed\n", 1},
    };
    for (const BadCase& c : cases) {
        C_MidiFile midi;
        auto r = Load(midi, c.image);
        EXPECT_EQ(r.ok, 0) << c.name;
        EXPECT_EQ(r.output, c.output) << c.name;
        EXPECT_EQ(midi.GetTrackCount(), c.tracksKept) << c.name;
    }
    C_MidiFile midi;
    EXPECT_EQ(midi.LoadImage(nullptr, 0), 0);
}

TEST(SmfParse, EventsBeforeAFaultStayInTheTrack) {
    C_MidiFile midi;
    auto r = Load(midi, BuildSmf(0, 96, {{0x00, 0x90, 60, 100, 0x05, 0x80, 60, 0, 0x00, 0xF0, 0x01}}));
    ASSERT_EQ(r.ok, 0);
    ASSERT_EQ(midi.GetTrackCount(), 1);
    EXPECT_EQ(midi.GetTrack(0)->GetEventCount(), 2u);
}

// Every prefix of a valid file is refused or read without touching a byte
// past its end (the sanitizer build checks the reads, each prefix is copied
// to a buffer of exactly its size).
TEST(SmfParse, EveryCutOfAFileIsReadInsideIt) {
    std::vector<Bytes> images = {
        BuildSmf(1, 96,
                 {{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xF0, 0x02, 0x7E, 0xF7, 0x00, 0xFF, 0x2F, 0x00},
                  {0x00, 0x90, 60,   100,  0x60, 60,  0,   0x81, 0x80, 0x00, 0xC0,
                   3,    0x00, 0xFF, 0x03, 0x02, 'h', 'i', 0x00, 0xFF, 0x2F, 0x00}})};
    // A real song too where the shared test data is (checked last, so a
    // clone without it runs the built image, then reports the skip).
    const std::string ants = test::TestDataDir() + "/xmf/ants.mid";
    images.push_back(test::ReadFileBytes(ants));
    for (const Bytes& image : images) {
        if (&image == &images.back()) CZ_SKIP_WITHOUT_TESTDATA(ants);
        for (size_t cut = 0; cut < image.size(); ++cut) {
            auto prefix = std::make_unique<uint8_t[]>(cut ? cut : 1);
            std::copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut), prefix.get());
            C_MidiFile midi;
            testing::internal::CaptureStdout();
            const int32_t ok = midi.LoadImage(prefix.get(), cut);
            testing::internal::GetCapturedStdout();
            EXPECT_EQ(ok, 0) << "cut at " << cut;
        }
        C_MidiFile whole;
        EXPECT_EQ(Load(whole, image).ok, 1);
    }
}

TEST(SmfParse, TempoIsTheSetTempoInForceAtTheFirstSoundingNote) {
    const Bytes tempo600k = {0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0};
    const Bytes tempo400k = {0xFF, 0x51, 0x03, 0x06, 0x1A, 0x80};
    auto track = [](std::initializer_list<std::pair<uint8_t, Bytes>> events) {
        Bytes body;
        for (auto& [delta, msg] : events) {
            body.push_back(delta);
            body.insert(body.end(), msg.begin(), msg.end());
        }
        body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
        return body;
    };
    struct Case {
        const char* name;
        Bytes image;
        uint32_t tempo;
    };
    const Case cases[] = {
        {"no tempo event", BuildSmf(0, 96, {track({{0, {0x90, 60, 100}}})}), 500000},
        {"tempo before the note in another track",
         BuildSmf(1, 96, {track({{10, tempo600k}}), track({{20, {0x90, 60, 100}}})}), 600000},
        {"tempo after the first note is not taken",
         BuildSmf(1, 96, {track({{30, tempo600k}}), track({{20, {0x90, 60, 100}}})}), 500000},
        {"a velocity-0 note on does not sound",
         BuildSmf(1, 96, {track({{30, tempo600k}}), track({{5, {0x90, 60, 0}}, {25, {0x90, 60, 1}}})}), 600000},
        {"first tempo found in track order",
         BuildSmf(1, 96, {track({{10, tempo600k}}), track({{0, tempo400k}, {10, {0x90, 60, 100}}})}), 600000},
        {"no sounding note: the first tempo anywhere", BuildSmf(0, 96, {track({{90, tempo400k}})}), 400000},
        {"a tempo event cut short is passed over",
         BuildSmf(0, 96, {track({{0, {0xFF, 0x51, 0x01, 0x07}}, {0, {0x90, 1, 1}}})}), 500000},
    };
    for (const Case& c : cases) {
        C_MidiFile midi;
        ASSERT_EQ(Load(midi, c.image).ok, 1) << c.name;
        EXPECT_EQ(midi.GetTempo(), c.tempo) << c.name;
    }
}

TEST(SmfParse, LoadsFromAPathAndChecksTheHeader) {
    test::TempDir dir;
    const Bytes image = BuildSmf(0, 96, {{0x00, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00}});
    ASSERT_TRUE(test::WriteFileBytes(dir.File("a.mid"), image));
    C_MidiFile midi(dir.File("a.mid").c_str());
    EXPECT_EQ(midi.CheckFile(), 1);
    ASSERT_EQ(midi.Load(), 1);
    EXPECT_EQ(midi.GetTrack(0)->GetEventCount(), 2u);

    Bytes format3 = image;
    format3[9] = 3;
    ASSERT_TRUE(test::WriteFileBytes(dir.File("b.mid"), format3));
    testing::internal::CaptureStdout();
    EXPECT_EQ(C_MidiFile(dir.File("b.mid").c_str()).CheckFile(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // silent
    EXPECT_EQ(C_MidiFile(dir.File("missing.mid").c_str()).Load(), 0);
    EXPECT_EQ(C_MidiFile().Load(), 0);
    EXPECT_EQ(C_MidiFile().CheckFile(), 0);

    // Header and tracks read from an open file.
    auto file = platform::File::Open(dir.File("a.mid"), platform::open_flags::kRead);
    ASSERT_TRUE(file);
    C_MidiFile fromFile;
    ASSERT_EQ(fromFile.ReadHeader(*file), 1);
    ASSERT_EQ(fromFile.ReadTracks(*file), 1);
    EXPECT_EQ(fromFile.GetTrack(0)->GetEventCount(), 2u);
}

}  // namespace
}  // namespace cz
