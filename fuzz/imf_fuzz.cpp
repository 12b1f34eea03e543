// Any bytes as a melody resource (a plain IMF, a "WKLB" IMF with lyric block
// or a "WIBN" bundle): the IMF read, rebuilt as a Standard MIDI File, that
// file loaded and turned into IMF again, which must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "midi/imf/ImfFormat.h"
#include "midi/smf/C_MidiData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size), imf, lyrics;
    std::string error;
    if (!cz::imf::MelodyResourceParts(bytes, imf, lyrics, error)) return 0;
    std::vector<cz::imf::ImfRecord> lyricRecords;
    cz::imf::ParseLyrics(lyrics, lyricRecords, error);
    cz::imf::ImfSong song;
    if (!cz::imf::ParseImf(imf, song, error)) return 0;
    const std::vector<uint8_t> smf = cz::imf::ImfToSmf(song);
    cz::C_MidiData midi;
    if (!midi.LoadImage(smf.data(), smf.size())) std::abort();  // what we write must load
    cz::imf::ImfBuildResult again;
    if (!cz::imf::BuildImf(midi, song.voiceLimit, again, error)) std::abort();
    cz::imf::ImfSong reread;
    if (!cz::imf::ParseImf(again.imf, reread, error)) std::abort();
    return 0;
}
