// Stand-in for the melody tool library: turns Standard MIDI Files into the
// chip's IMF melody format (IMF.md). Entry points (standard calling
// convention on 32-bit Windows), each 1 on success and 0 on failure:
//   ConvertSMFToIMF(mid, imf)
//   ConvertSMFToIMFWithLyric(mid, imf, lyr)   the lyric file only when the
//                                             song has lyric events
//   ConvertMelodyToIMFByChip(mid, imf, voices) the three values of the
//                                             by-chip export: MIDI path, IMF
//                                             path, the chip's voice count
//                                             (1 to 255; 0 keeps every note)
// Outputs are written whole and put in place, never half-written; on
// failure nothing is left at the output paths and the reason goes to the
// standard error stream.
#include <cstdio>
#include <string>
#include <vector>

#include "cadenzor/cadenzor.h"
#include "common/SiblingCommon.h"
#include "midi/imf/ImfFormat.h"
#include "midi/smf/C_MidiFile.h"

namespace {

bool Usable(const char* path) { return path != nullptr && path[0] != '\0'; }

bool Build(const char* midi, uint8_t voices, cz::imf::ImfBuildResult& result) {
    cz::C_MidiFile song(midi);
    if (!song.Load()) {
        std::fprintf(stderr, "Halvern: %s: not a readable Standard MIDI File\n", midi);
        return false;
    }
    std::string error;
    if (!cz::imf::BuildImf(song, voices, result, error)) {
        std::fprintf(stderr, "Halvern: %s: %s\n", midi, error.c_str());
        return false;
    }
    return true;
}

int32_t Convert(const char* midi, const char* imf, const char* lyr, uintptr_t voices) try {
    if (!Usable(midi) || !Usable(imf) || voices > 255) return 0;
    cz::imf::ImfBuildResult result;
    if (!Build(midi, static_cast<uint8_t>(voices), result)) return 0;
    if (!cz::sibling::WriteWholeFile(imf, result.imf)) return 0;
    if (lyr && !result.lyrics.empty() && !cz::sibling::WriteWholeFile(lyr, result.lyrics)) {
        std::remove(imf);  // both parts or neither
        return 0;
    }
    return 1;
} catch (...) {
    // Nothing crosses the entry points: running out of memory is a failure.
    return 0;
}

}  // namespace

CZ_SIBLING_EXPORT int32_t CZ_CALL ConvertSMFToIMF(const char* midi, const char* imf) {
    return Convert(midi, imf, nullptr, 0);
}

CZ_SIBLING_EXPORT int32_t CZ_CALL ConvertSMFToIMFWithLyric(const char* midi, const char* imf, const char* lyr) {
    if (!Usable(lyr)) return 0;
    return Convert(midi, imf, lyr, 0);
}

CZ_SIBLING_EXPORT int32_t CZ_CALL ConvertMelodyToIMFByChip(uintptr_t midi, uintptr_t imf, uintptr_t voices) {
    return Convert(reinterpret_cast<const char*>(midi), reinterpret_cast<const char*>(imf), nullptr, voices);
}
