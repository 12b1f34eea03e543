// Editing the model: events and tracks inserted and removed, merging to
// format 0 and trimming the silence before the first note.
#include <gtest/gtest.h>

#include <tuple>

#include "midi/smf/C_MidiEvent.h"
#include "midi/smf/C_MidiFile.h"
#include "midi/smf/C_MidiTrack.h"

namespace cz {
namespace {

using Bytes = std::vector<uint8_t>;
using Timed = std::pair<uint32_t, Bytes>;  // delta, message

C_MidiTrack* AddTrack(C_MidiFile& midi, std::initializer_list<Timed> events) {
    auto* track = new C_MidiTrack();
    for (auto& [delta, msg] : events) track->Append(delta, msg.data(), static_cast<int32_t>(msg.size()));
    midi.InsertTrack(midi.GetTrackCount(), track);
    return track;
}

std::vector<Timed> Events(I_MidiTrack* track) {
    std::vector<Timed> out;
    for (uint32_t i = 0; i < track->GetEventCount(); ++i) {
        I_MidiEvent* e = track->GetEvent(i);
        out.emplace_back(e->GetDeltaTime(), Bytes(e->GetData(), e->GetData() + e->GetDataLength()));
    }
    return out;
}

const Bytes kEnd = {0xFF, 0x2F, 0x00};

TEST(SmfEdit, InsertAndRemoveEventsKeepAbsoluteTimes) {
    C_MidiTrack track;
    track.Append(10, Bytes{0x90, 1, 1}.data(), 3);
    track.Append(20, Bytes{0x90, 2, 1}.data(), 3);
    I_MidiEvent* e = track.NewEvent();
    e->SetDeltaTime(5);
    e->SetData(Bytes{0x90, 3, 1}.data(), 3);
    ASSERT_EQ(track.InsertEvent(1, e, 1), 1);  // 10, 5, 15
    EXPECT_EQ(track.GetEvent(2)->GetDeltaTime(), 15u);
    EXPECT_EQ(track.FindEvent(e), 1u);
    I_MidiEvent* late = track.NewEvent();
    late->SetDeltaTime(99);
    late->SetData(Bytes{0x90, 4, 1}.data(), 3);
    ASSERT_EQ(track.InsertEvent(0, late, 1), 1);  // floored at 0
    EXPECT_EQ(track.GetEvent(1)->GetDeltaTime(), 0u);
    ASSERT_EQ(track.InsertEvent(1000, track.NewEvent(), 1), 1);  // appended
    EXPECT_EQ(track.GetEventCount(), 5u);
    EXPECT_EQ(track.GetLastEvent()->GetDataLength(), 0);

    ASSERT_EQ(track.RemoveEvent(2), 1);  // its 5 ticks pass to the next
    EXPECT_EQ(track.GetEvent(2)->GetDeltaTime(), 20u);
    EXPECT_EQ(track.RemoveEvent(4), 0);
    EXPECT_EQ(track.FindEvent(e), 0xFFFFFFFFu);
    EXPECT_EQ(track.RemoveFirstEvent(), 1);
    EXPECT_EQ(track.GetEventCount(), 3u);
    C_MidiTrack empty;
    EXPECT_EQ(empty.GetLastEvent(), nullptr);
    EXPECT_EQ(empty.RemoveFirstEvent(), 0);
    EXPECT_EQ(empty.GetEvent(0), nullptr);
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_FALSE(empty.HasEndOfTrack());
    EXPECT_EQ(empty.InsertEvent(0, nullptr, 0), 0);
}

TEST(SmfEdit, EventAccessors) {
    C_MidiEvent e;
    EXPECT_EQ(e.GetStatus(), 0);
    EXPECT_EQ(e.GetChannel(), 0xFF);
    EXPECT_EQ(e.GetCommand(), 0);
    EXPECT_EQ(e.SetData(Bytes{1}.data(), 0), 0);
    ASSERT_EQ(e.SetData(0x93, Bytes{60, 0}.data(), 3), 1);
    EXPECT_EQ(e.GetChannel(), 3);
    EXPECT_EQ(e.GetCommand(), 0x90);
    EXPECT_FALSE(e.IsNoteOn());  // velocity 0
    e.SetChannel(0x0A);
    EXPECT_EQ(e.GetStatus(), 0x9A);
    ASSERT_EQ(e.SetData(Bytes{0xFF, 0x2F, 0x00}.data(), 3), 1);
    EXPECT_TRUE(e.IsEndOfTrack());
    e.SetChannel(1);
    EXPECT_EQ(e.GetStatus(), 0xFF);
    EXPECT_EQ(e.SetData(0x90, nullptr, 0), 0);
    EXPECT_EQ(e.GetDataLength(), 0);
    EXPECT_EQ(e.GetData(), nullptr);
}

TEST(SmfEdit, TracksInsertedAndRemoved) {
    C_MidiFile midi;
    EXPECT_EQ(midi.GetFormat(), 0);
    EXPECT_EQ(midi.GetDivision(), 120);
    EXPECT_EQ(midi.GetTempo(), 500000u);
    I_MidiTrack* a = AddTrack(midi, {{0, {0x90, 1, 1}}});
    EXPECT_EQ(midi.GetFormat(), 0);
    I_MidiTrack* b = midi.NewTrack();
    ASSERT_EQ(midi.InsertTrack(0, b), 1);
    EXPECT_EQ(midi.GetFormat(), 1);
    EXPECT_EQ(midi.GetTrackCount(), 2);
    EXPECT_EQ(midi.GetTrack(0), b);
    EXPECT_EQ(midi.GetTrack(1), a);
    EXPECT_EQ(midi.GetTrack(2), nullptr);
    EXPECT_EQ(midi.RemoveTrack(5), 0);
    ASSERT_EQ(midi.RemoveTrack(0), 1);
    EXPECT_EQ(midi.GetTrackCount(), 1);
    EXPECT_EQ(midi.InsertTrack(0, nullptr), 0);
    midi.DeleteTrack(midi.NewTrack());
    midi.DeleteTrack(nullptr);
}

TEST(SmfEdit, MergeInterleavesByTimeWithTiesToTheLowerTrack) {
    C_MidiFile midi;
    midi.SetFormat(1);
    AddTrack(midi, {{0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}}, {10, {0x90, 1, 1}}, {0, kEnd}});
    AddTrack(midi, {{10, {0x91, 2, 2}}, {5, {0x81, 2, 0}}, {0, {0x91, 3, 3}}, {100, kEnd}});
    AddTrack(midi, {});                                                 // takes no part
    AddTrack(midi, {{0, {0x92, 4, 4}}, {3, kEnd}, {1, {0x92, 5, 5}}});  // stops at its End of Track
    AddTrack(midi, {{20, {0x93, 6, 6}}});                               // no End of Track
    ASSERT_EQ(midi.ChangeFormat(0), 1);
    EXPECT_EQ(midi.GetFormat(), 0);
    ASSERT_EQ(midi.GetTrackCount(), 1);
    const std::vector<Timed> expected = {{0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}},
                                         {0, {0x92, 4, 4}},
                                         {10, {0x90, 1, 1}},
                                         {0, {0x91, 2, 2}},
                                         {5, {0x81, 2, 0}},
                                         {0, {0x91, 3, 3}},
                                         {5, {0x93, 6, 6}},
                                         {0, kEnd}};
    EXPECT_EQ(Events(midi.GetTrack(0)), expected);
    EXPECT_EQ(midi.MergeTracks(), 1);  // format 0 already: nothing changes
    EXPECT_EQ(Events(midi.GetTrack(0)), expected);

    C_MidiFile none;
    none.SetFormat(1);
    EXPECT_EQ(none.MergeTracks(), 0);
    C_MidiFile format2;
    format2.SetFormat(2);
    AddTrack(format2, {{0, {0x90, 1, 1}}});
    EXPECT_EQ(format2.ChangeFormat(0), 0);
    EXPECT_EQ(format2.ChangeFormat(1), 0);
    EXPECT_EQ(format2.GetFormat(), 2);
}

TEST(SmfEdit, TrimLeadingSilenceUpToTheFirstSoundingNote) {
    C_MidiFile midi;
    midi.SetFormat(1);
    AddTrack(midi, {{50, {0xC0, 1}}, {0, kEnd}});
    AddTrack(midi, {{40, {0x90, 60, 0}}, {30, {0x90, 60, 90}}, {20, {0x80, 60, 0}}, {0, kEnd}});
    ASSERT_EQ(midi.TrimLeadingSilence(), 1);
    ASSERT_EQ(midi.GetTrackCount(), 1);
    // merged: 40 vel-0 note on, 50 program, 70 note on, 90 note off
    const std::vector<Timed> expected = {
        {0, {0x90, 60, 0}}, {0, {0xC0, 1}}, {0, {0x90, 60, 90}}, {20, {0x80, 60, 0}}, {0, kEnd}};
    EXPECT_EQ(Events(midi.GetTrack(0)), expected);

    // A format 0 track without a sounding note loses all its delta times.
    C_MidiFile quiet;
    AddTrack(quiet, {{50, {0xC0, 1}}, {7, kEnd}});
    ASSERT_EQ(quiet.TrimLeadingSilence(), 1);
    EXPECT_EQ(Events(quiet.GetTrack(0)), (std::vector<Timed>{{0, {0xC0, 1}}, {0, kEnd}}));
}

}  // namespace
}  // namespace cz
