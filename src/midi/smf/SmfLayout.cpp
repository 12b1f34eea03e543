#include "midi/smf/SmfLayout.h"

#include <cstring>
#include <limits>

namespace cz::smf {

size_t ReadVlq(const uint8_t* data, size_t size, size_t pos, uint32_t& value) {
    uint32_t v = 0;
    for (size_t i = pos; i < size; ++i) {
        v = (v << 7) | (data[i] & 0x7F);
        if (!(data[i] & 0x80)) {
            value = v;
            return i - pos + 1;
        }
    }
    return 0;
}

size_t VlqLength(uint32_t value) {
    value &= kDeltaMask;
    if (value & 0x0FE00000) return 4;
    if (value & 0x001FC000) return 3;
    if (value & 0x00003F80) return 2;
    return 1;
}

size_t WriteVlq(uint8_t* out, uint32_t value) {
    value &= kDeltaMask;
    const size_t n = VlqLength(value);
    for (size_t i = 0; i < n; ++i) {
        const unsigned shift = static_cast<unsigned>(7 * (n - 1 - i));
        uint8_t b = static_cast<uint8_t>((value >> shift) & 0x7F);
        if (i + 1 < n) b |= 0x80;
        out[i] = b;
    }
    return n;
}

uint32_t MessageLength(uint8_t status, const uint8_t* after, size_t available) {
    uint64_t length = 0;
    if (status < 0x80) {
        return 0;
    } else if (status < 0xC0 || (status >= 0xE0 && status < 0xF0)) {
        length = 3;
    } else if (status < 0xE0) {
        length = 2;
    } else if (status == kStatusSysEx) {
        const void* end = available ? std::memchr(after, kStatusSysExEnd, available) : nullptr;
        if (!end) return 0;
        length = 1 + static_cast<uint64_t>(static_cast<const uint8_t*>(end) - after) + 1;
    } else if (status == 0xF1 || status == 0xF3) {
        length = 2;
    } else if (status == 0xF2) {
        length = 3;
    } else if (status == kStatusMeta) {
        // type byte, VLQ length, that many bytes
        if (available < 1) return 0;
        uint32_t count = 0;
        const size_t vlq = ReadVlq(after, available, 1, count);
        if (vlq == 0) return 0;
        length = 2 + static_cast<uint64_t>(vlq) + count;
    } else {
        length = 1;
    }
    if (length - 1 > available || length > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return 0;
    return static_cast<uint32_t>(length);
}

bool ApplyRunningStatus(uint8_t status, uint8_t& running) {
    if (status > kStatusSysExEnd) return false;
    if (status >= kStatusSysEx) {
        running = 0;
        return false;
    }
    if (status == running) return true;
    running = status;
    return false;
}

bool ParseSmfHeader(const uint8_t* bytes, size_t size, SmfHeader& out) {
    if (!bytes || size < kHeaderSize || std::memcmp(bytes, "MThd", 4) != 0) return false;
    out.format = LoadU16BE(bytes + 8);
    out.trackCount = LoadU16BE(bytes + 10);
    out.division = LoadU16BE(bytes + 12);
    return true;
}

void BuildSmfHeader(const SmfHeader& header, uint8_t out[kHeaderSize]) {
    std::memcpy(out, "MThd", 4);
    StoreU32BE(out + 4, kHeaderLength);
    StoreU16BE(out + 8, header.format);
    StoreU16BE(out + 10, header.trackCount);
    StoreU16BE(out + 12, header.division);
}

}  // namespace cz::smf
