// The encode-and-decode round trip shared by the MDPCM tests.
#pragma once

#include <cstdint>
#include <vector>

#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "support/Signals.h"

namespace cz::test {

struct Coded {
    std::vector<uint8_t> bytes;
    std::vector<uint16_t> decoded;
    bool endSeen = false;
};

// Encodes and decodes back with one coder; bytes is empty when Encode failed.
inline Coded RoundTrip(C_MDPCMEncDec& coder, const std::vector<uint16_t>& x, uint16_t initial, uint32_t L, uint32_t S,
                       int32_t padMode) {
    Coded c;
    c.bytes.resize(static_cast<size_t>(coder.GetMaxEncodedSize(static_cast<uint32_t>(x.size()), L, S)));
    const uint32_t n = coder.Encode(c.bytes.data(), c.bytes.size(), static_cast<uint32_t>(x.size()), x.data(), initial,
                                    L, S, padMode, nullptr);
    c.bytes.resize(n);
    if (n == 0) return c;
    c.decoded.resize(coder.CountDecodedSamples(L, S, c.bytes.data(), c.bytes.size()));
    c.decoded.resize(
        coder.Decode(c.decoded.data(), c.decoded.size(), c.bytes.data(), c.bytes.size(), initial, L, S, nullptr));
    c.endSeen = coder.EndMarkerSeen();
    return c;
}

}  // namespace cz::test
