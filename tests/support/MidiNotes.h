// The real MIDI corpus, and the notes of a MIDI file as (channel, key, velocity, start tick, end tick):
// note-ons paired with note-offs first in, first out per channel and key, a
// note never ended lasting to the last event. Read by midicsv (the
// independent reader) or from raw events.
#pragma once

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/TestSupport.h"

namespace cz::test {

using MidiNote = std::tuple<int, int, int, uint64_t, uint64_t>;

struct RawMidiEvent {
    uint64_t tick;
    int track;
    int status, d1, d2;
};

// Events of equal tick keep the order they are given in (tracks in order).
inline std::vector<MidiNote> PairNotes(std::vector<RawMidiEvent> events, uint64_t end) {
    std::stable_sort(events.begin(), events.end(),
                     [](const RawMidiEvent& a, const RawMidiEvent& b) { return a.tick < b.tick; });
    std::vector<MidiNote> notes;
    std::map<std::pair<int, int>, std::deque<size_t>> open;
    for (const RawMidiEvent& e : events) {
        const int command = e.status & 0xF0, channel = e.status & 15;
        if (command == 0x90 && e.d2 != 0) {
            open[{channel, e.d1}].push_back(notes.size());
            notes.emplace_back(channel, e.d1, e.d2, e.tick, end);
        } else if (command == 0x80 || command == 0x90) {
            auto& q = open[{channel, e.d1}];
            if (q.empty()) continue;
            std::get<4>(notes[q.front()]) = e.tick;
            q.pop_front();
        }
    }
    std::sort(notes.begin(), notes.end(), [](const MidiNote& a, const MidiNote& b) {
        return std::tie(std::get<3>(a), std::get<0>(a), std::get<1>(a), std::get<4>(a), std::get<2>(a)) <
               std::tie(std::get<3>(b), std::get<0>(b), std::get<1>(b), std::get<4>(b), std::get<2>(b));
    });
    return notes;
}

// The notes midicsv reads from a file; empty when midicsv fails.
inline std::vector<MidiNote> MidicsvNotes(const std::string& path, const std::string& scratchCsv) {
    if (RunCommand("midicsv '" + path + "' '" + scratchCsv + "' 2>/dev/null") != 0) return {};
    const auto bytes = ReadFileBytes(scratchCsv);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::vector<RawMidiEvent> events;
    uint64_t end = 0;
    for (std::string line; std::getline(in, line);) {
        int track = 0, channel = 0, key = 0, velocity = 0;
        unsigned long long tick = 0;
        char type[32] = {};
        if (std::sscanf(line.c_str(), "%d, %llu, %31[^,], %d, %d, %d", &track, &tick, type, &channel, &key,
                        &velocity) < 3)
            continue;
        end = std::max<uint64_t>(end, tick);
        const std::string kind = type;
        if (kind == "Note_on_c") events.push_back({tick, track, 0x90 | channel, key, velocity});
        if (kind == "Note_off_c") events.push_back({tick, track, 0x80 | channel, key, velocity});
    }
    return PairNotes(events, end);
}

// The real MIDI files no one here wrote: those of Debian's openttd-openmsx and
// planetblupi-music-midi packages (installed by scripts/deps.sh), sorted.
inline std::vector<std::string> DebianMidiFiles() {
    std::vector<std::string> files;
    for (const char* dir : {"/usr/share/games/openttd/baseset/openmsx", "/usr/share/planetblupi/music"}) {
        std::error_code ec;
        for (auto& entry : std::filesystem::directory_iterator(dir, ec))
            if (entry.path().extension() == ".mid") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace cz::test
