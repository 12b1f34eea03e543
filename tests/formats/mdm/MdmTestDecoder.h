// An MDM frame-section decoder written for the tests from the chip's
// "WMdM" block rules, independent of the writer: block type = code AND 7,
// bit 0 = marker; audio blocks 0-3, silence 4-5, raw 6-7, FF ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace cz::test {

struct MdmMarker {
    uint32_t position = 0;
    uint8_t type = 0;        // the low byte of the command word rotated right by 2
    uint8_t identifier = 0;  // its high byte
    uint8_t code = 0;        // the block's code byte
};

struct MdmDecoded {
    std::vector<uint16_t> samples;
    std::vector<MdmMarker> markers;
    std::vector<uint8_t> codes;  // code byte of every block, in order
    bool ended = false;          // stopped at FF
    bool truncated = false;      // a block ran past the end of the bytes
};

inline MdmDecoded DecodeMdmFrames(const uint8_t* p, size_t size) {
    MdmDecoded d;
    size_t pos = 0;
    auto marker = [&](size_t at, uint8_t code) {
        const uint8_t lo = p[at];
        d.markers.push_back(
            {static_cast<uint32_t>(d.samples.size()), static_cast<uint8_t>((lo >> 2) | (lo << 6)), p[at + 1], code});
    };
    while (pos < size) {
        const uint8_t c = p[pos];
        if (c == 0xFF) {
            d.ended = true;
            return d;
        }
        const int type = c & 7;
        const bool withMarker = (c & 1) != 0;
        d.codes.push_back(c);
        if (type <= 3) {
            const size_t need = (type <= 1 ? 42 : 12) + (withMarker ? 2 : 0);
            if (pos + need > size) break;
            int value = (p[pos + 1] << 4) + ((c & 0x80) ? 8 : 0);
            d.samples.push_back(static_cast<uint16_t>(value));
            size_t at = pos + 2;
            if (withMarker) {
                marker(at, c);
                at += 2;
            }
            const int step = 8 * (((c >> 3) & 15) + 1);
            const int groups = type <= 1 ? 8 : 2;
            for (int g = 0; g < groups; ++g, at += 5) {
                const uint8_t sign = p[at];
                for (int k = 0; k < 8; ++k) {
                    const uint8_t b = p[at + 1 + k / 2];
                    const int magnitude = (k & 1) ? (b >> 4) : (b & 15);
                    value += ((sign >> k) & 1) ? -magnitude * step : magnitude * step;
                    value = std::clamp(value, 0, 4095);
                    d.samples.push_back(static_cast<uint16_t>(value));
                }
            }
            pos += need;
        } else if (type <= 5) {
            const size_t need = withMarker ? 5 : 3;
            if (pos + need > size) break;
            size_t at = pos + 1;
            if (withMarker) {
                marker(at, c);
                at += 2;
            }
            const uint32_t count = p[at] | (p[at + 1] << 8);
            d.samples.insert(d.samples.end(), count, 2048);
            pos += need;
        } else {
            const size_t head = withMarker ? 5 : 3;
            if (pos + head > size) break;
            d.samples.push_back(static_cast<uint16_t>(p[pos + 1] << 4));
            size_t at = pos + 2;
            if (withMarker) {
                marker(at, c);
                at += 2;
            }
            const size_t n = p[at];
            if (pos + head + n > size) break;
            for (size_t i = 0; i < n; ++i) d.samples.push_back(static_cast<uint16_t>(p[at + 1 + i] << 4));
            pos += head + n;
        }
    }
    d.truncated = true;
    return d;
}

}  // namespace cz::test
