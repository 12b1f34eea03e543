// Real MIDI files that no one here wrote: the files shipped with Debian's
// openttd-openmsx and planetblupi-music-midi packages (installed by
// scripts/deps.sh) and the test file of the shared test data. Each one loads,
// reads the same events as midicsv, saves to the same events and merges to
// format 0 with the same events in time order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "midi/smf/C_MidiEvent.h"
#include "midi/smf/C_MidiFile.h"
#include "support/MidiNotes.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Ants() { return test::TestDataDir() + "/xmf/ants.mid"; }

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> files = test::DebianMidiFiles();
    if (test::FileExists(Ants())) files.push_back(Ants());
    return files;
}

// Channel messages, tempo and End of Track of every track as midicsv writes
// them ("track, time, type, values").
std::vector<std::string> AsCsv(C_MidiFile& midi) {
    static const char* kNames[] = {"Note_off_c",           "Note_on_c",   "Poly_aftertouch_c", "Control_c", "Program_c",
                                   "Channel_aftertouch_c", "Pitch_bend_c"};
    std::vector<std::string> lines;
    for (uint32_t t = 0; t < midi.GetTrackCount(); ++t) {
        I_MidiTrack* track = midi.GetTrack(t);
        uint64_t time = 0;
        for (uint32_t i = 0; i < track->GetEventCount(); ++i) {
            auto* e = dynamic_cast<C_MidiEvent*>(track->GetEvent(i));
            time += e->GetDeltaTime();
            const uint8_t* d = e->GetData();
            std::ostringstream line;
            line << t + 1 << ", " << time << ", ";
            if (e->GetStatus() >= 0x80 && e->GetStatus() < 0xF0) {
                line << kNames[(d[0] >> 4) - 8] << ", " << (d[0] & 15);
                if ((d[0] & 0xF0) == 0xE0)
                    line << ", " << (d[1] | (d[2] << 7));
                else
                    for (int32_t k = 1; k < e->GetDataLength(); ++k) line << ", " << int(d[k]);
            } else if (e->GetTempoValue() != 0) {
                line << "Tempo, " << e->GetTempoValue();
            } else if (e->IsEndOfTrack()) {
                line << "End_track";
            } else {
                continue;
            }
            lines.push_back(line.str());
        }
    }
    return lines;
}

std::vector<std::string> MidicsvLines(const std::string& path, const test::TempDir& dir) {
    const std::string out = dir.File("midicsv.csv");
    if (test::RunCommand("midicsv '" + path + "' '" + out + "' 2>/dev/null") != 0) return {};
    std::vector<std::string> lines;
    std::istringstream in(
        std::string(reinterpret_cast<const char*>(test::ReadFileBytes(out).data()), test::ReadFileBytes(out).size()));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        for (const char* type : {"_c, ", ", Tempo, ", ", End_track"})
            if (line.find(type) != std::string::npos) {
                lines.push_back(line);
                break;
            }
    }
    return lines;
}

// Every event before each track's End of Track with its absolute time.
std::multimap<uint64_t, Bytes> TimedEvents(C_MidiFile& midi) {
    std::multimap<uint64_t, Bytes> out;
    for (uint32_t t = 0; t < midi.GetTrackCount(); ++t) {
        I_MidiTrack* track = midi.GetTrack(t);
        uint64_t time = 0;
        for (uint32_t i = 0; i < track->GetEventCount(); ++i) {
            I_MidiEvent* e = track->GetEvent(i);
            time += e->GetDeltaTime();
            if (e->IsEndOfTrack()) break;
            out.emplace(time, Bytes(e->GetData(), e->GetData() + e->GetDataLength()));
        }
    }
    return out;
}

std::vector<std::pair<uint32_t, Bytes>> TrackEvents(I_MidiTrack* track) {
    std::vector<std::pair<uint32_t, Bytes>> out;
    for (uint32_t i = 0; i < track->GetEventCount(); ++i) {
        I_MidiEvent* e = track->GetEvent(i);
        out.emplace_back(e->GetDeltaTime(), Bytes(e->GetData(), e->GetData() + e->GetDataLength()));
    }
    return out;
}

TEST(SmfCorpus, RealFilesLoadSaveAndMerge) {
    const auto files = CorpusFiles();
    if (files.size() < 2) GTEST_SKIP() << "the MIDI packages of scripts/deps.sh are not installed";
    const bool haveMidicsv = test::HaveTool("midicsv");
    test::TempDir dir;
    size_t byteIdentical = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        C_MidiFile midi(path.c_str());
        ASSERT_EQ(midi.CheckFile(), 1);
        ASSERT_EQ(midi.Load(), 1);
        if (haveMidicsv) EXPECT_EQ(AsCsv(midi), MidicsvLines(path, dir));

        // Saved unchanged: the same events (these files all end their tracks).
        const Bytes original = test::ReadFileBytes(path);
        const std::string saved = dir.File("saved.mid");
        ASSERT_EQ(midi.Save(saved.c_str()), 1);
        C_MidiFile back(saved.c_str());
        ASSERT_EQ(back.Load(), 1);
        ASSERT_EQ(back.GetTrackCount(), midi.GetTrackCount());
        EXPECT_EQ(back.GetDivision(), midi.GetDivision());
        EXPECT_EQ(back.GetTempo(), midi.GetTempo());
        for (uint32_t t = 0; t < midi.GetTrackCount(); ++t)
            EXPECT_EQ(TrackEvents(back.GetTrack(t)), TrackEvents(midi.GetTrack(t))) << "track " << t;
        // Byte-identical, or smaller where the source repeated status bytes
        // that running status leaves out.
        const Bytes written = test::ReadFileBytes(saved);
        if (written == original)
            ++byteIdentical;
        else
            EXPECT_LT(written.size(), original.size());

        // Merged: format 0, the same events, times never going back.
        const auto before = TimedEvents(midi);
        ASSERT_EQ(midi.MergeTracks(), 1);
        ASSERT_EQ(midi.GetFormat(), 0);
        ASSERT_EQ(midi.GetTrackCount(), 1);
        EXPECT_EQ(TimedEvents(midi), before);
        EXPECT_TRUE(midi.GetTrack(0)->HasEndOfTrack());
    }
    std::printf("%zu files, %zu saved byte-identical\n", files.size(), byteIdentical);
    CZ_SKIP_WITHOUT_TESTDATA(Ants());  // the song of the shared test data was not among them
}

}  // namespace
}  // namespace cz
