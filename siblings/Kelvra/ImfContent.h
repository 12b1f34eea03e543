// IMF content of our own XMF types (1: melody, 3: melody-with-speech bundle,
// 8: melody with lyric block) back to a Standard MIDI File.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvra {

// A format 0 Standard MIDI File with the melody's notes, controllers,
// programs, bends, tempi and texts (see the melody tool's IMF.md); false with
// a reason for a resource that is not one of ours or not a whole IMF.
bool ImfContentToSmf(int type, std::span<const uint8_t> resource, std::vector<uint8_t>& smf, std::string& error);

}  // namespace kelvra
