#include "formats/legacy/LegacyLayout.h"

#include <cstdlib>
#include <cstring>

#include "foundation/ByteReader.h"
#include "foundation/ByteWriter.h"

namespace cz {

S_WamHeader ParseWamHeader(const uint8_t* b) {
    S_WamHeader h;
    std::memcpy(h.code, b, 4);
    h.version = LoadU16(b + 4);
    h.headerSize = LoadU16(b + 6);
    h.channels = LoadU16(b + 8);
    h.sampleBits = LoadU16(b + 10);
    h.codeBits = LoadU16(b + 12);
    h.rate = LoadU16(b + 14);
    h.cutOff = LoadU16(b + 16);
    h.codeCount = LoadU32(b + 18);
    return h;
}

std::vector<uint8_t> BuildWamHeader(const S_WamHeader& h) {
    ByteWriter w;
    w.Bytes(h.code, 4);
    w.U16(h.version);
    w.U16(h.headerSize);
    w.U16(h.channels);
    w.U16(h.sampleBits);
    w.U16(h.codeBits);
    w.U16(h.rate);
    w.U16(h.cutOff);
    w.U32(h.codeCount);
    return std::move(w.Data());
}

S_WmdHeader ParseWmdHeader(const uint8_t* b) {
    S_WmdHeader h;
    std::memcpy(h.code, b, 4);
    h.version = LoadU16(b + 4);
    h.headerSize = LoadU16(b + 6);
    h.channels = LoadU16(b + 8);
    h.sampleBits = LoadU16(b + 10);
    h.differenceBits = LoadU16(b + 12);
    h.rate = LoadU16(b + 14);
    h.cutOff = LoadU16(b + 16);
    h.frameBytes = LoadU32(b + 18);
    h.firstCode = LoadU16(b + 22);
    return h;
}

std::vector<uint8_t> BuildWmdHeader(const S_WmdHeader& h) {
    ByteWriter w;
    w.Bytes(h.code, 4);
    w.U16(h.version);
    w.U16(h.headerSize);
    w.U16(h.channels);
    w.U16(h.sampleBits);
    w.U16(h.differenceBits);
    w.U16(h.rate);
    w.U16(h.cutOff);
    w.U32(h.frameBytes);
    w.U16(h.firstCode);
    return std::move(w.Data());
}

uint8_t WmdField(int value) {
    const int magnitude = std::abs(value) & 15;
    return static_cast<uint8_t>(value < 0 ? 0x10 | magnitude : magnitude);
}

int WmdValue(uint8_t field) {
    const int magnitude = field & 15;
    return (field & 0x10) ? -magnitude : magnitude;
}

void PackWmdGroup(const std::array<uint8_t, kWmdGroupValues>& f, std::vector<uint8_t>& out) {
    for (uint32_t w = 0; w < 5; ++w) {
        const uint32_t word = (uint32_t{f[3 * w] & 31u} << 11) | (uint32_t{f[3 * w + 1] & 31u} << 6) |
                              (uint32_t{f[3 * w + 2] & 31u} << 1) | ((f[15] >> (4 - w)) & 1u);
        out.push_back(static_cast<uint8_t>(word));
        out.push_back(static_cast<uint8_t>(word >> 8));
    }
}

std::array<uint8_t, kWmdGroupValues> UnpackWmdGroup(const uint8_t* bytes) {
    std::array<uint8_t, kWmdGroupValues> f{};
    for (uint32_t w = 0; w < 5; ++w) {
        const uint32_t word = LoadU16(bytes + 2 * w);
        f[3 * w] = static_cast<uint8_t>((word >> 11) & 31u);
        f[3 * w + 1] = static_cast<uint8_t>((word >> 6) & 31u);
        f[3 * w + 2] = static_cast<uint8_t>((word >> 1) & 31u);
        f[15] = static_cast<uint8_t>(f[15] | ((word & 1u) << (4 - w)));
    }
    return f;
}

namespace {

// The code of the frame after the one at data[pos] (code given): the last
// value of its last group.
uint8_t NextCode(const uint8_t* data, size_t pos, uint8_t code) {
    return UnpackWmdGroup(data + pos + WmdFrameBytes(code) - kWmdGroupBytes)[kWmdGroupValues - 1];
}

}  // namespace

bool WalkWmdFrames(const uint8_t* data, size_t size, uint8_t firstCode, S_WmdWalk& walk) {
    walk = S_WmdWalk();
    uint8_t code = firstCode & 31u;
    size_t pos = 0;
    while (code != 0) {
        const uint32_t bytes = WmdFrameBytes(code);
        if (bytes > size - pos) return false;
        const uint8_t next = NextCode(data, pos, code);
        walk.frames += 1;
        walk.samples += WmdFrameSamples(code);
        pos += bytes;
        code = next;
    }
    walk.bytes = pos;
    return true;
}

std::vector<uint8_t> WmdFramesToStream(const uint8_t* data, size_t size, uint8_t firstCode) {
    std::vector<uint8_t> stream;
    uint8_t code = firstCode & 31u;
    size_t pos = 0;
    while (code != 0 && WmdFrameBytes(code) <= size - pos) {
        const uint32_t groups = WmdFrameBytes(code) / kWmdGroupBytes;
        stream.push_back(code);
        uint8_t next = 0;
        for (uint32_t g = 0; g < groups; ++g) {
            const auto f = UnpackWmdGroup(data + pos + g * kWmdGroupBytes);
            const bool last = g + 1 == groups;
            for (uint32_t i = 0; i < kWmdGroupValues; ++i) {
                if (last && i + 1 == kWmdGroupValues)
                    next = f[i];
                else
                    stream.push_back(static_cast<uint8_t>(static_cast<int8_t>(WmdValue(f[i]))));
            }
        }
        pos += WmdFrameBytes(code);
        code = next;
    }
    stream.push_back(0);
    return stream;
}

bool WmdStreamToFrames(const uint8_t* stream, size_t size, std::vector<uint8_t>& frames, uint8_t& firstCode) {
    frames.clear();
    firstCode = 0;
    // The frames of the stream: where each starts.
    std::vector<size_t> starts;
    size_t pos = 0;
    while (pos < size && stream[pos] != 0) {
        if (stream[pos] > 31) return false;
        const uint32_t n = WmdFrameSamples(stream[pos]);
        if (n > size - pos - 1) return false;
        starts.push_back(pos);
        pos += 1 + n;
    }
    if (pos >= size) return false;  // no end byte
    if (!starts.empty()) firstCode = stream[starts[0]];
    for (size_t k = 0; k < starts.size(); ++k) {
        const uint8_t code = stream[starts[k]];
        const uint8_t next = k + 1 < starts.size() ? stream[starts[k + 1]] : 0;
        const uint32_t n = WmdFrameSamples(code);
        std::vector<uint8_t> fields;
        fields.reserve(n + 1);
        for (uint32_t i = 0; i < n; ++i) {
            const int d = static_cast<int8_t>(stream[starts[k] + 1 + i]);
            if (d < -15 || d > 15) return false;
            fields.push_back(WmdField(d));
        }
        fields.push_back(next);
        for (size_t g = 0; g < fields.size(); g += kWmdGroupValues) {
            std::array<uint8_t, kWmdGroupValues> group{};
            for (uint32_t i = 0; i < kWmdGroupValues; ++i) group[i] = fields[g + i];
            PackWmdGroup(group, frames);
        }
    }
    return true;
}

}  // namespace cz
