// A minimal ASF reader for the WMA decoder's tests and benchmark: pulls the
// first audio stream's format record and its coded units out of a file held
// in memory (enough for ffmpeg's files and the Windows Media encoder
// samples: single and multiple payloads, compressed payloads, objects split
// over packets, audio spread descrambling). Standard library only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "decoders/wma/WmaDecoder.h"

namespace cz::wma::test {

struct AsfAudio {
    WmaStreamFormat format;
    std::vector<std::vector<uint8_t>> units;  // blockAlign bytes each
    int audioStreams = 0;
};

namespace asf {

inline uint64_t Le(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

// GUIDs as stored in the file (first three fields little-endian).
inline bool IsGuid(const uint8_t* p, const char* text) {
    uint8_t g[16];
    unsigned a, b, c, d[8];
    std::sscanf(text, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &a, &b, &c, &d[0], &d[1], &d[2], &d[3], &d[4], &d[5],
                &d[6], &d[7]);
    for (int i = 0; i < 4; ++i) g[i] = uint8_t(a >> (8 * i));
    for (int i = 0; i < 2; ++i) g[4 + i] = uint8_t(b >> (8 * i));
    for (int i = 0; i < 2; ++i) g[6 + i] = uint8_t(c >> (8 * i));
    for (int i = 0; i < 8; ++i) g[8 + i] = uint8_t(d[i]);
    return std::memcmp(p, g, 16) == 0;
}

constexpr const char* kHeader = "75B22630-668E-11CF-A6D9-00AA0062CE6C";
constexpr const char* kData = "75B22636-668E-11CF-A6D9-00AA0062CE6C";
constexpr const char* kFileProps = "8CABDCA1-A947-11CF-8EE4-00C00C205365";
constexpr const char* kStreamProps = "B7DC0791-A9B7-11CF-8EE6-00C00C205365";
constexpr const char* kAudioMedia = "F8699E40-5B4D-11CF-A8FD-00805F5C442B";
constexpr const char* kAudioSpread = "BFC3CD50-618F-11CF-8BB2-00AA00B4E220";

inline size_t FieldSize(int type) { return type == 3 ? 4 : size_t(type); }

}  // namespace asf

// Reads the single audio stream of an ASF file; false when the file is not
// one this reader understands.
inline bool ReadAsfAudio(const std::vector<uint8_t>& f, AsfAudio& audio) {
    using namespace asf;
    if (f.size() < 30 || !IsGuid(f.data(), kHeader)) return false;
    const size_t headerSize = size_t(Le(f.data() + 16, 8));
    if (headerSize > f.size()) return false;
    size_t packetSize = 0;
    int audioStream = -1;
    int span = 1, spanPacket = 0, spanChunk = 0;
    for (size_t p = 30; p + 24 <= headerSize;) {
        const size_t size = size_t(Le(f.data() + p + 16, 8));
        if (size < 24 || p + size > headerSize) break;
        const uint8_t* o = f.data() + p + 24;
        if (IsGuid(f.data() + p, kFileProps) && size >= 104) {
            packetSize = size_t(Le(o + 68, 4));
        } else if (IsGuid(f.data() + p, kStreamProps) && size >= 78 && IsGuid(o, kAudioMedia)) {
            ++audio.audioStreams;
            const size_t typeLen = size_t(Le(o + 40, 4));
            const size_t ecLen = size_t(Le(o + 44, 4));
            const uint8_t* t = o + 54;
            if (audioStream < 0 && typeLen >= 18 && 78 + typeLen + ecLen <= size) {
                audioStream = int(Le(o + 48, 2) & 0x7F);
                WmaStreamFormat& fm = audio.format;
                fm.formatTag = uint16_t(Le(t, 2));
                fm.channels = uint16_t(Le(t + 2, 2));
                fm.sampleRate = uint32_t(Le(t + 4, 4));
                fm.avgBytesPerSecond = uint32_t(Le(t + 8, 4));
                fm.blockAlign = uint16_t(Le(t + 12, 2));
                fm.bitsPerSample = uint16_t(Le(t + 14, 2));
                const size_t cb = size_t(Le(t + 16, 2));
                if (18 + cb <= typeLen) fm.extra.assign(t + 18, t + 18 + cb);
                if (IsGuid(o + 16, kAudioSpread) && ecLen >= 5) {
                    const uint8_t* e = t + typeLen;
                    span = e[0];
                    spanPacket = int(Le(e + 1, 2));
                    spanChunk = int(Le(e + 3, 2));
                }
            }
        }
        p += size;
    }
    if (audioStream < 0 || packetSize == 0 || audio.format.blockAlign == 0) return false;
    size_t p = headerSize;
    if (p + 50 > f.size() || !IsGuid(f.data() + p, kData)) return false;
    p += 50;
    std::vector<uint8_t> object;
    size_t objectSize = 0;
    std::vector<uint8_t> stream;
    auto flush = [&]() {
        if (object.empty()) return;
        if (span > 1 && spanChunk > 0 && object.size() == size_t(spanPacket) * size_t(span) &&
            spanPacket % spanChunk == 0) {
            std::vector<uint8_t> fixed(object.size());
            for (size_t off = 0; off + size_t(spanChunk) <= object.size(); off += size_t(spanChunk)) {
                const size_t index = off / size_t(spanChunk);
                const size_t row = index / size_t(span), col = index % size_t(span);
                const size_t from = row + col * size_t(spanPacket / spanChunk);
                std::memcpy(fixed.data() + off, object.data() + from * size_t(spanChunk), size_t(spanChunk));
            }
            object.swap(fixed);
        }
        stream.insert(stream.end(), object.begin(), object.end());
        object.clear();
    };
    for (; p + packetSize <= f.size(); p += packetSize) {
        const uint8_t* k = f.data() + p;
        const uint8_t* end = k + packetSize;
        const uint8_t* q = k;
        if (*q & 0x80) q += 1 + (*q & 0x0F);
        if (q + 2 > end) continue;
        const uint8_t lengthFlags = *q++;
        const uint8_t propertyFlags = *q++;
        const size_t packetLen = size_t(Le(q, int(FieldSize((lengthFlags >> 5) & 3))));
        q += FieldSize((lengthFlags >> 5) & 3);
        q += FieldSize((lengthFlags >> 1) & 3);
        const size_t padding = size_t(Le(q, int(FieldSize((lengthFlags >> 3) & 3))));
        q += FieldSize((lengthFlags >> 3) & 3);
        q += 6;  // send time, duration
        const size_t used = packetLen != 0 && packetLen < packetSize ? packetLen : packetSize;
        const uint8_t* payloadEnd = k + used - std::min(padding, used);
        if (packetLen != 0 && packetLen < packetSize) payloadEnd = k + packetLen - std::min(padding, packetLen);
        const bool multiple = (lengthFlags & 1) != 0;
        int count = 1, lengthType = 0;
        if (multiple) {
            count = *q & 0x3F;
            lengthType = *q >> 6;
            ++q;
        }
        const size_t repType = FieldSize(propertyFlags & 3), offType = FieldSize((propertyFlags >> 2) & 3),
                     objType = FieldSize((propertyFlags >> 4) & 3);
        for (int i = 0; i < count && q < end; ++i) {
            const int stream = *q++ & 0x7F;
            q += objType;
            const size_t offset = size_t(Le(q, int(offType)));
            q += offType;
            const size_t repLen = size_t(Le(q, int(repType)));
            q += repType;
            const uint8_t* rep = q;
            q += repLen;
            size_t len;
            if (multiple) {
                len = size_t(Le(q, int(FieldSize(lengthType))));
                q += FieldSize(lengthType);
            } else {
                len = payloadEnd > q ? size_t(payloadEnd - q) : 0;
            }
            if (q + len > end) break;
            if (stream == audioStream) {
                if (repLen == 1) {  // compressed: sub-payloads of one byte length each
                    for (const uint8_t* s = q; s < q + len;) {
                        const size_t n = *s++;
                        if (s + n > q + len) break;
                        flush();
                        object.assign(s, s + n);
                        objectSize = n;
                        flush();
                        s += n;
                    }
                } else {
                    if (offset == 0) {
                        flush();
                        objectSize = repLen >= 4 ? size_t(Le(rep, 4)) : len;
                    }
                    object.insert(object.end(), q, q + len);
                    if (object.size() >= objectSize) flush();
                }
            }
            q += len;
        }
    }
    flush();
    const size_t unit = audio.format.blockAlign;
    for (size_t u = 0; u + unit <= stream.size(); u += unit) {
        audio.units.emplace_back(stream.begin() + long(u), stream.begin() + long(u + unit));
    }
    return true;
}

}  // namespace cz::wma::test
