#include "ImfContent.h"

namespace kelvra {

bool ImfContentToSmf(int type, std::span<const uint8_t>, std::vector<uint8_t>& smf, std::string& error) {
    smf.clear();
    error = "turning IMF content (type " + std::to_string(type) + ") back into MIDI is not available yet";
    return false;
}

}  // namespace kelvra
