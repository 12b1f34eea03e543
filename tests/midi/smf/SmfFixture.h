// Builds Standard MIDI File bytes in code for the SMF tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace cz::test {

using Bytes = std::vector<uint8_t>;

inline void PutU32BE(Bytes& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

// "MThd" with the given header length, then one "MTrk" chunk per body.
inline Bytes BuildSmf(uint16_t format, uint16_t division, std::initializer_list<Bytes> bodies,
                      uint32_t headerLength = 6) {
    Bytes out = {'M', 'T', 'h', 'd'};
    PutU32BE(out, headerLength);
    out.push_back(static_cast<uint8_t>(format >> 8));
    out.push_back(static_cast<uint8_t>(format));
    out.push_back(static_cast<uint8_t>(bodies.size() >> 8));
    out.push_back(static_cast<uint8_t>(bodies.size()));
    out.push_back(static_cast<uint8_t>(division >> 8));
    out.push_back(static_cast<uint8_t>(division));
    for (const Bytes& body : bodies) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        PutU32BE(out, static_cast<uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

}  // namespace cz::test
