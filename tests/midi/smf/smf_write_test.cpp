// Writing Standard MIDI Files: running-status compression, delta times,
// byte-exact round trips and what Save refuses.
#include <gtest/gtest.h>

#include "midi/smf/C_MidiEvent.h"
#include "midi/smf/C_MidiFile.h"
#include "midi/smf/C_MidiTrack.h"
#include "midi/smf/SmfFixture.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

using test::BuildSmf;
using test::Bytes;

Bytes TrackBody(I_MidiTrack* track) {
    Bytes out(track->GetDataSize());
    EXPECT_EQ(track->GetData(out.data()), 1);
    return out;
}

C_MidiTrack* AddTrack(C_MidiFile& midi, std::initializer_list<std::pair<uint32_t, Bytes>> events) {
    auto* track = new C_MidiTrack();
    for (auto& [delta, msg] : events) track->Append(delta, msg.data(), static_cast<int32_t>(msg.size()));
    midi.InsertTrack(midi.GetTrackCount(), track);
    return track;
}

TEST(SmfWrite, RunningStatusKeptByMetaClearedBySysEx) {
    struct Case {
        const char* name;
        std::vector<Bytes> messages;  // all at delta 0
        Bytes body;
    };
    const Bytes on1 = {0x90, 60, 100}, on2 = {0x90, 62, 100}, meta = {0xFF, 0x01, 0x01, 'x'},
                sysex = {0xF0, 0x01, 0xF7}, on2ch = {0x91, 62, 100}, clock = {0xF8};
    const Case cases[] = {
        {"two note ons", {on1, on2}, {0, 0x90, 60, 100, 0, 62, 100}},
        {"meta between", {on1, meta, on2}, {0, 0x90, 60, 100, 0, 0xFF, 0x01, 0x01, 'x', 0, 62, 100}},
        {"real-time between", {on1, clock, on2}, {0, 0x90, 60, 100, 0, 0xF8, 0, 62, 100}},
        {"sysex between", {on1, sysex, on2}, {0, 0x90, 60, 100, 0, 0xF0, 0x01, 0xF7, 0, 0x90, 62, 100}},
        {"other channel", {on1, on2ch}, {0, 0x90, 60, 100, 0, 0x91, 62, 100}},
    };
    for (const Case& c : cases) {
        C_MidiTrack track;
        for (const Bytes& m : c.messages) track.Append(0, m.data(), static_cast<int32_t>(m.size()));
        EXPECT_EQ(track.GetDataSize(), c.body.size()) << c.name;
        EXPECT_EQ(TrackBody(&track), c.body) << c.name;
    }
}

TEST(SmfWrite, DeltaTimesUseTheirLow28Bits) {
    struct Case {
        uint32_t delta;
        Bytes vlq;
    };
    const Case cases[] = {
        {0, {0x00}},
        {0x7F, {0x7F}},
        {0x80, {0x81, 0x00}},
        {0x3FFF, {0xFF, 0x7F}},
        {0x4000, {0x81, 0x80, 0x00}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
        {0x10000000, {0x00}},
        {0x10000081, {0x81, 0x01}},
        {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const Case& c : cases) {
        C_MidiEvent event;
        event.SetDeltaTime(c.delta);
        ASSERT_TRUE(event.SetData(0xF8, nullptr, 1));
        EXPECT_EQ(event.GetDeltaTimeLength(), c.vlq.size()) << c.delta;
        uint8_t out[8] = {};
        uint32_t size = 0;
        ASSERT_EQ(event.Write(out, &size, 0), 1);
        ASSERT_EQ(size, c.vlq.size() + 1) << c.delta;
        EXPECT_EQ(Bytes(out, out + c.vlq.size()), c.vlq) << c.delta;
        C_MidiEvent back;
        EXPECT_EQ(back.ReadDeltaTime(out), c.vlq.size());
        EXPECT_EQ(back.GetDeltaTime(), c.delta & 0x0FFFFFFF);
    }
}

TEST(SmfWrite, SavingAnUnchangedFileGivesTheSameBytes) {
    test::TempDir dir;
    const Bytes image = BuildSmf(1, 480,
                                 {{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00},
                                  {0x00, 0xC0, 5,    0x00, 0x90, 60,   100, 0x83, 0x60, 60,   0,    0x00,
                                   0xF0, 0x02, 0x7E, 0xF7, 0x00, 0x80, 60,  0,    0x00, 0xFF, 0x2F, 0x00}});
    C_MidiFile midi;
    ASSERT_EQ(midi.LoadImage(image.data(), image.size()), 1);
    ASSERT_EQ(midi.Save(dir.File("out.mid").c_str()), 1);
    EXPECT_EQ(test::ReadFileBytes(dir.File("out.mid")), image);
}

TEST(SmfWrite, SaveNormalisesAndRefusesAFileWithoutTracks) {
    test::TempDir dir;
    {
        // Every track empty: nothing is written.
        C_MidiFile midi;
        AddTrack(midi, {});
        AddTrack(midi, {{0, {0xFF, 0x2F, 0x00}}, {0, {0x90, 1, 1}}});
        EXPECT_EQ(midi.Save(dir.File("empty.mid").c_str()), 0);
        EXPECT_FALSE(test::FileExists(dir.File("empty.mid")));
        EXPECT_EQ(midi.GetTrackCount(), 0);
    }
    {
        // One non-empty track of two: format 0, End of Track added.
        C_MidiFile midi;
        midi.SetFormat(1);
        AddTrack(midi, {});
        AddTrack(midi, {{7, {0x90, 60, 100}}});
        ASSERT_EQ(midi.Save(dir.File("one.mid").c_str()), 1);
        EXPECT_EQ(test::ReadFileBytes(dir.File("one.mid")),
                  BuildSmf(0, 120, {{0x07, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00}}));
    }
    {
        // Format 0 (or above 2) with two tracks becomes format 1.
        C_MidiFile midi;
        AddTrack(midi, {{0, {0x90, 60, 100}}});
        AddTrack(midi, {{0, {0x90, 61, 100}}});
        midi.SetFormat(7);
        ASSERT_EQ(midi.Normalize(), 1);
        EXPECT_EQ(midi.GetFormat(), 1);
        midi.SetFormat(2);
        ASSERT_EQ(midi.Normalize(), 1);
        EXPECT_EQ(midi.GetFormat(), 2);
        EXPECT_EQ(midi.GetTrack(0)->GetEventCount(), 2u);  // End of Track added once
    }
    {
        // An unwritable path fails and leaves nothing.
        C_MidiFile midi;
        AddTrack(midi, {{0, {0x90, 60, 100}}});
        EXPECT_EQ(midi.Save(dir.File("no/such/dir.mid").c_str()), 0);
        EXPECT_EQ(midi.Save(nullptr), 0);
    }
}

}  // namespace
}  // namespace cz
