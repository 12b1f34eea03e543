// IMF content of our own XMF types (1: melody, 3: melody-with-speech bundle,
// 8: melody with lyric block) back to a Standard MIDI File.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvra {

// The one place the IMF reader plugs in. Until it exists this fails with a
// reason and writes nothing.
bool ImfContentToSmf(int type, std::span<const uint8_t> resource, std::vector<uint8_t>& smf, std::string& error);

}  // namespace kelvra
