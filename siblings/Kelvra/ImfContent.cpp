#include "ImfContent.h"

#include <algorithm>

#include "midi/imf/ImfFormat.h"

namespace kelvra {

bool ImfContentToSmf(int type, std::span<const uint8_t> resource, std::vector<uint8_t>& smf, std::string& error) {
    smf.clear();
    if (type != 1 && type != 3 && type != 8) {
        error = "type " + std::to_string(type) + " holds no melody";
        return false;
    }
    std::span<const uint8_t> imf, lyrics;
    if (!cz::imf::MelodyResourceParts(resource, imf, lyrics, error)) return false;
    cz::imf::ImfSong song;
    if (!cz::imf::ParseImf(imf, song, error)) {
        error = "IMF: " + error;
        return false;
    }
    // The melody tool keeps lyric events in the melody itself; a lyric block
    // from a tool that does not is put back at its ticks.
    const bool hasLyrics = std::any_of(song.records.begin(), song.records.end(), [](const cz::imf::ImfRecord& r) {
        return r.kind == cz::imf::kKindText && r.data1 == cz::imf::kTextLyric;
    });
    if (!hasLyrics && !lyrics.empty()) {
        std::vector<cz::imf::ImfRecord> block;
        if (!cz::imf::ParseLyrics(lyrics, block, error)) return false;
        for (auto& lyric : block) {
            if (lyric.tick > song.length) lyric.tick = song.length;
            auto at = std::upper_bound(song.records.begin(), song.records.end() - 1, lyric.tick,
                                       [](uint32_t tick, const cz::imf::ImfRecord& r) { return tick < r.tick; });
            song.records.insert(at, std::move(lyric));
        }
    }
    smf = cz::imf::ImfToSmf(song);
    return true;
}

}  // namespace kelvra
