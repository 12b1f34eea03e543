#include "formats/mdm/MdmVariantRecords.h"

#include <algorithm>
#include <cstdlib>

namespace cz {

namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

void PackSixBitGroup(const int* differences, uint8_t out[3]) {
    uint32_t bits = 0;
    for (int k = 0; k < 4; ++k) {
        const int d = differences[k];
        const uint32_t magnitude = static_cast<uint32_t>(std::min(std::abs(d), 31));
        const uint32_t field = magnitude | (d < 0 && magnitude != 0 ? 0x20u : 0u);
        bits |= field << (6 * k);
    }
    out[0] = static_cast<uint8_t>(bits);
    out[1] = static_cast<uint8_t>(bits >> 8);
    out[2] = static_cast<uint8_t>(bits >> 16);
}

MdmRecordsDecoded DecodeMdmVariantRecords(MdmVariant variant, std::span<const uint8_t> records) {
    MdmRecordsDecoded d;
    const uint8_t* p = records.data();
    const size_t size = records.size();
    size_t pos = 0;
    int value = 2048;
    auto room = [&](uint64_t n) {
        if (d.samples.size() + n > kMdmRecordsMaxSamples) {
            d.tooLong = true;
            return false;
        }
        return true;
    };
    auto marker = [&](const uint8_t* at) {
        const uint8_t lo = at[0];
        d.markers.push_back(
            {static_cast<uint32_t>(d.samples.size()), static_cast<uint8_t>((lo >> 2) | (lo << 6)), at[1]});
    };
    auto play = [&](int v) {
        value = std::clamp(v, 0, 4095);
        d.samples.push_back(static_cast<uint16_t>(value));
    };
    const bool six = variant == MdmVariant::kSixBit;
    while (pos < size) {
        const uint8_t c = p[pos];
        if (c == 0xFF) {
            d.ended = true;
            return d;
        }
        const size_t left = size - pos;
        const int type = c & 7;
        const bool command = (c & 1) != 0;
        const uint8_t* r = p + pos;
        if (type <= 3) {
            const bool isLong = type <= 1;
            const size_t head = (six ? 2 : 1) + (command ? 2 : 0);
            const size_t body = six ? (isLong ? 48 : 12) : (isLong ? 40 : 10);
            const uint32_t samples = (isLong ? 64 : 16) + (six ? 1 : 0);
            if (left < head + body) {
                d.truncated = true;
                return d;
            }
            if (!room(samples)) return d;
            const int index = (c >> 3) & 15;
            if (command) marker(r + head - 2);
            if (six) play((r[1] << 4) + ((c & 0x80) ? 8 : 0));
            const uint8_t* g = r + head;
            if (six) {
                const int step = 4 * (index + 1);
                for (size_t at = 0; at < body; at += 3) {
                    const uint32_t bits = g[at] | g[at + 1] << 8 | static_cast<uint32_t>(g[at + 2]) << 16;
                    for (int k = 0; k < 4; ++k) {
                        const uint32_t field = (bits >> (6 * k)) & 63;
                        const int magnitude = static_cast<int>(field & 31);
                        play(value + ((field & 32) ? -magnitude : magnitude) * step);
                    }
                }
            } else {
                const int step = 8 * (index + 1);
                for (size_t at = 0; at < body; at += 5) {
                    for (int k = 0; k < 8; ++k) {
                        const uint8_t b = g[at + 1 + k / 2];
                        const int magnitude = (k & 1) ? (b >> 4) : (b & 15);
                        play(value + (((g[at] >> k) & 1) ? -magnitude : magnitude) * step);
                    }
                }
            }
            pos += head + body;
        } else if (type <= 5) {
            const size_t need = command ? 5 : 3;
            if (left < need) {
                d.truncated = true;
                return d;
            }
            const uint16_t length = U16(r + need - 2);
            if (!room(length)) return d;
            if (command) marker(r + 1);
            d.samples.insert(d.samples.end(), length, 2048);
            // An empty record only carries an event: it plays nothing.
            if (length != 0) value = 2048;
            pos += need;
        } else {
            const size_t countAt = command ? 4 : 2;
            if (left <= countAt || left < countAt + 1 + size_t{r[countAt]}) {
                d.truncated = true;
                return d;
            }
            const uint32_t more = r[countAt];
            if (!room(1 + uint64_t{more})) return d;
            if (command) marker(r + 2);
            play(r[1] << 4);
            for (uint32_t i = 0; i < more; ++i) play(r[countAt + 1 + i] << 4);
            pos += countAt + 1 + more;
        }
    }
    return d;
}

}  // namespace cz
