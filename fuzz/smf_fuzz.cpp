// Any bytes loaded as a Standard MIDI File from memory, then written back,
// read again, normalised, merged to format 0 and trimmed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "midi/imf/ImfFormat.h"
#include "midi/smf/C_MidiFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    cz::C_MidiFile midi;
    midi.LoadImage(data, size);
    midi.GetTempo();
    {
        // The melody tool's conversion, with a voice limit from the last byte.
        cz::imf::ImfBuildResult built;
        std::string error;
        if (cz::imf::BuildImf(midi, size ? data[size - 1] : 0, built, error)) {
            cz::imf::ImfSong song;
            if (!cz::imf::ParseImf(built.imf, song, error)) __builtin_trap();
        }
    }
    if (auto image = midi.WriteImage()) {
        cz::C_MidiFile again;
        again.LoadImage(image->data(), image->size());
    }
    for (uint32_t t = 0; t < midi.GetTrackCount(); ++t) {
        cz::I_MidiTrack* track = midi.GetTrack(t);
        if (!track) continue;
        track->IsEmpty();
        track->HasEndOfTrack();
    }
    if (midi.Normalize()) {
        cz::C_MidiFile copy;
        if (auto image = midi.WriteImage()) copy.LoadImage(image->data(), image->size());
        copy.TrimLeadingSilence();
        midi.ChangeFormat(0);
        midi.WriteImage();
    }
    return 0;
}
