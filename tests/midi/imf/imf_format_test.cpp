// The IMF melody format: built from a song, read back, turned back into a
// Standard MIDI File with the same notes; the reader's refusals; the real
// MIDI files of the corpus through the whole round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "midi/imf/ImfFormat.h"
#include "midi/smf/C_MidiFile.h"
#include "midi/smf/SmfFixture.h"
#include "support/MidiNotes.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

using test::Bytes;
using test::BuildSmf;

using Note = test::MidiNote;
using RawEvent = test::RawMidiEvent;
using test::PairNotes;

std::vector<Note> NotesOf(C_MidiData& song) {
    std::vector<RawEvent> events;
    uint64_t end = 0;
    for (uint32_t t = 0; t < song.GetTrackCount(); ++t) {
        I_MidiTrack* track = song.GetTrack(t);
        uint64_t tick = 0;
        for (uint32_t i = 0; i < track->GetEventCount(); ++i) {
            I_MidiEvent* e = track->GetEvent(i);
            tick += e->GetDeltaTime();
            end = std::max(end, tick);
            const uint8_t* d = e->GetData();
            if (e->GetDataLength() == 3 && (d[0] & 0xE0) == 0x80) events.push_back({tick, int(t), d[0], d[1], d[2]});
        }
    }
    return PairNotes(events, end);
}

std::vector<Note> NotesOfImage(const Bytes& smf) {
    C_MidiData song;
    EXPECT_EQ(song.LoadImage(smf.data(), smf.size()), 1);
    return NotesOf(song);
}

Bytes Meta(uint32_t delta, uint8_t type, const std::string& text) {
    Bytes out = {static_cast<uint8_t>(delta), 0xFF, type, static_cast<uint8_t>(text.size())};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Two tracks: repeated overlapping notes on one key, running status,
// velocity-0 note-offs, a kept and a dropped controller, a program, a bend,
// aftertouch, a lyric, a tempo change at 48 (none at 0), a note that never
// ends, and a drum note.
Bytes SampleSong() {
    const Bytes conductor = Cat({Meta(0, 0x03, "name"), {48, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20}, {0, 0xFF, 0x2F, 0}});
    const Bytes melody = Cat({{0, 0xC0, 5},
                              {0, 0xB0, 7, 100},  // volume: kept
                              {0, 74, 3},         // running status: controller 74, dropped
                              {0, 0x90, 60, 90},
                              {24, 60, 80},  // the same key again while it sounds
                              {0, 0xD0, 20},  // channel pressure: dropped
                              {24, 0x80, 60, 0},
                              {0, 0x90, 60, 0},  // velocity 0: ends the second
                              {0, 0xE0, 0x00, 0x50},
                              Meta(0, 0x05, "la"),
                              {0, 0x99, 100, 127},  // drum note, never ended
                              {0, 0x91, 64, 70},
                              {96, 0x81, 64, 64},
                              {0, 0xFF, 0x2F, 0}});
    return BuildSmf(1, 96, {conductor, melody});
}

TEST(ImfFormat, BuildsReadsAndRebuildsTheSameNotes) {
    const Bytes smf = SampleSong();
    C_MidiData song;
    ASSERT_EQ(song.LoadImage(smf.data(), smf.size()), 1);
    imf::ImfBuildResult built;
    std::string error;
    ASSERT_TRUE(imf::BuildImf(song, 0, built, error)) << error;
    EXPECT_EQ(built.notes, 4u);
    EXPECT_EQ(built.dropped, 0u);

    imf::ImfSong read;
    ASSERT_TRUE(imf::ParseImf(built.imf, read, error)) << error;
    EXPECT_EQ(read.division, 96);
    EXPECT_EQ(read.channelMask, (1 << 0) | (1 << 1) | (1 << 9));
    EXPECT_EQ(read.flags, imf::kFlagText);
    EXPECT_EQ(read.length, 144u);
    // The default tempo at 0, the file's own at 48.
    ASSERT_EQ(read.records.front().kind, imf::kKindTempo);
    EXPECT_EQ(read.records.front().value, 500000u);
    size_t controllers = 0, lyrics = 0, tempi = 0;
    for (const auto& r : read.records) {
        controllers += r.kind == imf::kKindControl;
        lyrics += r.kind == imf::kKindText && r.data1 == imf::kTextLyric;
        if (r.kind == imf::kKindTempo && r.tick == 48) tempi += r.value == 0x07A120;
    }
    EXPECT_EQ(controllers, 1u);
    EXPECT_EQ(lyrics, 1u);
    EXPECT_EQ(tempi, 1u);
    EXPECT_EQ(built.lyrics, (Bytes{48, 2, 'l', 'a'}));

    const std::vector<Note> expected = {{0, 60, 90, 0, 48}, {0, 60, 80, 24, 48}, {1, 64, 70, 48, 144},
                                        {9, 100, 127, 48, 144}};
    EXPECT_EQ(NotesOf(song), expected);
    EXPECT_EQ(NotesOfImage(imf::ImfToSmf(read)), expected);
}

TEST(ImfFormat, VoiceLimitDropsNotesThatFindNoFreeVoice) {
    // Three notes start while two sound; one starts on the tick another ends.
    const Bytes body = {0,  0x90, 60, 100, 0,  62, 100, 0,    64,   100, 10, 0x80, 60, 0,
                        0,  0x90, 65, 100, 10, 0x80, 62, 0,   0,    64,  0,  0,    65, 0, 0, 0xFF, 0x2F, 0};
    C_MidiData song;
    const Bytes smf = BuildSmf(0, 48, {body});
    ASSERT_EQ(song.LoadImage(smf.data(), smf.size()), 1);
    imf::ImfBuildResult built;
    std::string error;
    ASSERT_TRUE(imf::BuildImf(song, 2, built, error)) << error;
    EXPECT_EQ(built.notes, 3u);
    EXPECT_EQ(built.dropped, 1u);
    imf::ImfSong read;
    ASSERT_TRUE(imf::ParseImf(built.imf, read, error)) << error;
    EXPECT_EQ(read.voiceLimit, 2);
    EXPECT_EQ(read.flags & imf::kFlagNotesDropped, imf::kFlagNotesDropped);
    const std::vector<Note> kept = {{0, 60, 100, 0, 10}, {0, 62, 100, 0, 20}, {0, 65, 100, 10, 20}};
    EXPECT_EQ(NotesOfImage(imf::ImfToSmf(read)), kept);

    // Without a limit every note stays.
    ASSERT_TRUE(imf::BuildImf(song, 0, built, error));
    EXPECT_EQ(built.notes, 4u);
}

TEST(ImfFormat, RefusesWhatIsNotAPlayableSong) {
    C_MidiData smpte;
    const Bytes smf = BuildSmf(0, 0xE728, {{0, 0xFF, 0x2F, 0}});
    ASSERT_EQ(smpte.LoadImage(smf.data(), smf.size()), 1);
    imf::ImfBuildResult built;
    std::string error;
    EXPECT_FALSE(imf::BuildImf(smpte, 0, built, error));
    EXPECT_NE(error.find("SMPTE"), std::string::npos) << error;
}

TEST(ImfFormat, ReaderRefusesDeparturesAndNeverReadsPastTheEnd) {
    const Bytes smf = SampleSong();
    C_MidiData song;
    ASSERT_EQ(song.LoadImage(smf.data(), smf.size()), 1);
    imf::ImfBuildResult built;
    std::string error;
    ASSERT_TRUE(imf::BuildImf(song, 0, built, error));
    const Bytes good = built.imf;
    imf::ImfSong read;

    // Every shorter image is refused (ASan watches the reads).
    for (size_t n = 0; n < good.size(); ++n) {
        const Bytes cut(good.begin(), good.begin() + n);
        EXPECT_FALSE(imf::ParseImf(cut, read, error)) << n;
    }
    // The same cuts with the stream length told to match.
    for (size_t n = imf::kHeaderSize; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + n);
        const uint32_t length = static_cast<uint32_t>(n - imf::kHeaderSize);
        for (int i = 0; i < 4; ++i) cut[12 + i] = static_cast<uint8_t>(length >> (8 * i));
        EXPECT_FALSE(imf::ParseImf(cut, read, error)) << n;
    }

    auto with = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    Bytes extra = good;
    extra.push_back(0);
    Bytes afterEnd = good;
    afterEnd.push_back(0);
    afterEnd[12]++;
    // Stream: 00 F1 07 A1 20 (default tempo) then 00 C0 05 (program).
    const struct {
        const char* what;
        Bytes image;
    } cases[] = {
        {"magic", with(3, '2')},
        {"division 0", [&] { Bytes b = with(4, 0); b[5] = 0; return b; }()},
        {"SMPTE division", with(5, 0xE7)},
        {"reserved flag", with(9, 0x80)},
        {"reserved byte", with(10, 1)},
        {"length mismatch", extra},
        {"bytes after the end record", afterEnd},
        {"zero tempo", [&] { Bytes b = good; b[18] = b[19] = b[20] = 0; return b; }()},
        {"unknown kind", with(17, 0xA0)},
        {"program above 127", with(23, 0x85)},
    };
    for (const auto& c : cases) EXPECT_FALSE(imf::ParseImf(c.image, read, error)) << c.what;
    EXPECT_TRUE(imf::ParseImf(good, read, error)) << error;
}

TEST(ImfFormat, MelodyResourcesGiveTheirImf) {
    const Bytes smf = SampleSong();
    C_MidiData song;
    ASSERT_EQ(song.LoadImage(smf.data(), smf.size()), 1);
    imf::ImfBuildResult built;
    std::string error;
    ASSERT_TRUE(imf::BuildImf(song, 0, built, error));
    const Bytes& melody = built.imf;
    std::span<const uint8_t> imfPart, lyricPart;

    Bytes wklb = {'W', 'K', 'L', 'B', 0, 1, 16, 0, 0, 0, 1};
    const uint32_t lyricAt = 16 + static_cast<uint32_t>(melody.size());
    for (int i = 0; i < 4; ++i) wklb.push_back(static_cast<uint8_t>(lyricAt >> (8 * i)));
    wklb.push_back(0);
    wklb.insert(wklb.end(), melody.begin(), melody.end());
    wklb.insert(wklb.end(), built.lyrics.begin(), built.lyrics.end());
    ASSERT_TRUE(imf::MelodyResourceParts(wklb, imfPart, lyricPart, error)) << error;
    EXPECT_TRUE(std::equal(imfPart.begin(), imfPart.end(), melody.begin(), melody.end()));
    EXPECT_TRUE(std::equal(lyricPart.begin(), lyricPart.end(), built.lyrics.begin(), built.lyrics.end()));

    Bytes wibn = {'W', 'I', 'B', 'N', 1, 0, 0, 0, 0};
    wibn.insert(wibn.end(), melody.begin(), melody.end());
    wibn.insert(wibn.end(), {1, 2, 3});
    ASSERT_TRUE(imf::MelodyResourceParts(wibn, imfPart, lyricPart, error)) << error;
    EXPECT_EQ(imfPart.size(), melody.size());

    ASSERT_TRUE(imf::MelodyResourceParts(melody, imfPart, lyricPart, error));
    for (const Bytes& bad : {Bytes{'W', 'K', 'L', 'B', 0, 1, 16, 0, 0, 0, 1, 0xFF, 0xFF, 0, 0, 0},
                             Bytes{'W', 'I', 'B', 'N', 9, 0}, Bytes(melody.begin(), melody.end() - 1)})
        EXPECT_FALSE(imf::MelodyResourceParts(bad, imfPart, lyricPart, error));
}

// Every real file: parse, merge and IMF conversion timed; the IMF read back
// and rebuilt gives the notes midicsv reads from the source.
TEST(ImfCorpus, RealFilesKeepTheirNotes) {
    const auto files = test::DebianMidiFiles();
    if (files.size() < 2) GTEST_SKIP() << "the MIDI packages of scripts/deps.sh are not installed";
    const bool haveMidicsv = test::HaveTool("midicsv");
    test::TempDir dir;
    uint64_t midiBytes = 0, imfBytes = 0;
    double seconds = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const auto start = std::chrono::steady_clock::now();
        C_MidiFile song(path.c_str());
        ASSERT_EQ(song.Load(), 1);
        C_MidiFile merged(path.c_str());
        ASSERT_EQ(merged.Load(), 1);
        ASSERT_EQ(merged.MergeTracks(), 1);
        imf::ImfBuildResult built;
        std::string error;
        ASSERT_TRUE(imf::BuildImf(song, 0, built, error)) << error;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        midiBytes += test::ReadFileBytes(path).size();
        imfBytes += built.imf.size();

        imf::ImfSong read;
        ASSERT_TRUE(imf::ParseImf(built.imf, read, error)) << error;
        const auto rebuilt = NotesOfImage(imf::ImfToSmf(read));
        EXPECT_EQ(rebuilt, NotesOf(song));
        EXPECT_EQ(rebuilt, NotesOf(merged));
        if (haveMidicsv) EXPECT_EQ(rebuilt, test::MidicsvNotes(path, dir.File("notes.csv")));
    }
    std::printf("%zu files: parse + merge + IMF %.1f ms; MIDI %llu bytes, IMF %llu bytes (%.1f %%)\n", files.size(),
                seconds * 1000.0, static_cast<unsigned long long>(midiBytes),
                static_cast<unsigned long long>(imfBytes), 100.0 * double(imfBytes) / double(midiBytes));
}

}  // namespace
}  // namespace cz
