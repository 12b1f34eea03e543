// Builds small ASF files in memory: a header with the objects a test asks
// for and data packets of fixed size holding the payloads it lists.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/LittleEndian.h"

namespace cz::wma::test {

using cz::test::Put16;
using cz::test::Put16At;
using cz::test::Put32;
using cz::test::Put32At;

inline void Put64(std::vector<uint8_t>& v, uint64_t x) {
    Put32(v, uint32_t(x));
    Put32(v, uint32_t(x >> 32));
}
inline void Put64At(std::vector<uint8_t>& v, size_t at, uint64_t x) {
    Put32At(v, at, uint32_t(x));
    Put32At(v, at + 4, uint32_t(x >> 32));
}

using GuidBytes = std::array<uint8_t, 16>;
inline GuidBytes Guid(uint32_t a, uint16_t b, uint16_t c, uint64_t d) {
    GuidBytes g{};
    for (int i = 0; i < 4; ++i) g[i] = uint8_t(a >> (8 * i));
    for (int i = 0; i < 2; ++i) g[4 + i] = uint8_t(b >> (8 * i));
    for (int i = 0; i < 2; ++i) g[6 + i] = uint8_t(c >> (8 * i));
    for (int i = 0; i < 8; ++i) g[8 + i] = uint8_t(d >> (56 - 8 * i));
    return g;
}
inline const GuidBytes kHeaderGuid = Guid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
inline const GuidBytes kDataGuid = Guid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
inline const GuidBytes kFilePropertiesGuid = Guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ull);
inline const GuidBytes kStreamPropertiesGuid = Guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ull);
inline const GuidBytes kHeaderExtensionGuid = Guid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365ull);
inline const GuidBytes kReserved1Guid = Guid(0xABD3D211, 0xA9BA, 0x11CF, 0x8EE600C00C205365ull);
inline const GuidBytes kExtendedStreamGuid = Guid(0x14E6A5CB, 0xC672, 0x4332, 0x8399A96952065B5Aull);
inline const GuidBytes kContentDescriptionGuid = Guid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
inline const GuidBytes kContentEncryptionGuid = Guid(0x2211B3FB, 0xBD23, 0x11D2, 0xB4B700A0C955FC6Eull);
inline const GuidBytes kAudioMediaGuid = Guid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
inline const GuidBytes kVideoMediaGuid = Guid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
inline const GuidBytes kNoCorrectionGuid = Guid(0x20FB5700, 0x5B55, 0x11CF, 0xA8FD00805F5C442Bull);
inline const GuidBytes kAudioSpreadGuid = Guid(0xBFC3CD50, 0x618F, 0x11CF, 0x8BB200AA00B4E220ull);

inline void PutGuid(std::vector<uint8_t>& v, const GuidBytes& g) { v.insert(v.end(), g.begin(), g.end()); }

inline std::vector<uint8_t> Object(const GuidBytes& g, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> o;
    PutGuid(o, g);
    Put64(o, body.size() + 24);
    o.insert(o.end(), body.begin(), body.end());
    return o;
}

struct StreamSpec {
    uint16_t number = 1;
    bool audio = true;
    uint16_t tag = 0x0161;
    uint16_t channels = 2;
    uint32_t rate = 44100;
    uint16_t blockAlign = 64;
    uint16_t bits = 16;
    std::vector<uint8_t> extra = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    uint8_t span = 1;
    uint16_t virtualPacket = 0;
    uint16_t virtualChunk = 0;
    bool encrypted = false;
    bool insideExtended = false;  // only inside the extended stream properties
};

inline std::vector<uint8_t> StreamProperties(const StreamSpec& s) {
    std::vector<uint8_t> typeData;
    Put16(typeData, s.tag);
    Put16(typeData, s.channels);
    Put32(typeData, s.rate);
    Put32(typeData, s.rate / 8);
    Put16(typeData, s.blockAlign);
    Put16(typeData, s.bits);
    Put16(typeData, uint32_t(s.extra.size()));
    typeData.insert(typeData.end(), s.extra.begin(), s.extra.end());
    std::vector<uint8_t> correction;
    if (s.span > 0 && s.audio) {
        correction.push_back(s.span);
        Put16(correction, s.virtualPacket ? s.virtualPacket : s.blockAlign);
        Put16(correction, s.virtualChunk ? s.virtualChunk : s.blockAlign);
        Put16(correction, 1);
        correction.push_back(0);
    }
    std::vector<uint8_t> b;
    PutGuid(b, s.audio ? kAudioMediaGuid : kVideoMediaGuid);
    PutGuid(b, correction.empty() ? kNoCorrectionGuid : kAudioSpreadGuid);
    Put64(b, 0);
    Put32(b, uint32_t(typeData.size()));
    Put32(b, uint32_t(correction.size()));
    Put16(b, (s.number & 0x7F) | (s.encrypted ? 0x8000 : 0));
    Put32(b, 0);
    b.insert(b.end(), typeData.begin(), typeData.end());
    b.insert(b.end(), correction.begin(), correction.end());
    return Object(kStreamPropertiesGuid, b);
}

inline std::vector<uint8_t> ExtendedStreamProperties(const StreamSpec& s) {
    std::vector<uint8_t> b(64, 0);
    Put16At(b, 48, s.number);
    Put16At(b, 60, 1);  // one stream name
    Put16(b, 0);
    Put16(b, 4);
    b.insert(b.end(), {'a', 0, 'b', 0});
    const std::vector<uint8_t> inner = StreamProperties(s);
    b.insert(b.end(), inner.begin(), inner.end());
    return Object(kExtendedStreamGuid, b);
}

inline std::vector<uint8_t> Utf16(const std::string& text) {
    std::vector<uint8_t> v;
    for (char c : text) Put16(v, uint8_t(c));
    Put16(v, 0);
    return v;
}

// One payload of a packet. objectSize 0 with compressed set: data is the run
// of length-prefixed sub-payloads.
struct Payload {
    uint8_t stream = 1;
    uint8_t object = 0;
    uint32_t offset = 0;
    uint32_t objectSize = 0;
    std::vector<uint8_t> data;
    bool compressed = false;
};

struct PacketSpec {
    std::vector<Payload> payloads;
    bool multiple = false;  // several payloads (forced when more than one)
    bool errorCorrection = true;
};

struct FileSpec {
    std::vector<StreamSpec> streams = {StreamSpec{}};
    std::vector<PacketSpec> packets;
    uint32_t packetSize = 256;
    std::string title, author;
    bool encryptionObject = false;
    int64_t statedPackets = -1;  // the data object's packet count; -1: the real one
    size_t extensionFiller = 0;  // bytes of an unknown object in the header extension
};

inline std::vector<uint8_t> BuildPacket(const PacketSpec& spec, uint32_t packetSize) {
    std::vector<uint8_t> p;
    if (spec.errorCorrection) p.insert(p.end(), {0x82, 0, 0});
    const bool multiple = spec.multiple || spec.payloads.size() > 1;
    // Padding length a word; replicated length a byte, offset a dword,
    // object number a byte, stream number a byte.
    p.push_back(uint8_t(0x10 | (multiple ? 1 : 0)));
    p.push_back(0x5D);
    const size_t paddingAt = p.size();
    Put16(p, 0);
    Put32(p, 0);  // send time
    Put16(p, 0);  // duration
    if (multiple) p.push_back(uint8_t(0x80 | spec.payloads.size()));
    for (const Payload& pl : spec.payloads) {
        p.push_back(pl.stream);
        p.push_back(pl.object);
        Put32(p, pl.offset);
        if (pl.compressed) {
            p.push_back(1);
            p.push_back(0);
        } else {
            p.push_back(8);
            Put32(p, pl.objectSize);
            Put32(p, 0);
        }
        if (multiple) Put16(p, uint32_t(pl.data.size()));
        p.insert(p.end(), pl.data.begin(), pl.data.end());
    }
    if (p.size() <= packetSize) {
        Put16At(p, paddingAt, packetSize - uint32_t(p.size()));
        p.resize(packetSize, 0);
    }
    return p;
}

inline std::vector<uint8_t> BuildAsf(const FileSpec& spec) {
    std::vector<uint8_t> objects;
    uint32_t count = 0;
    auto add = [&](const std::vector<uint8_t>& o) {
        objects.insert(objects.end(), o.begin(), o.end());
        ++count;
    };
    std::vector<uint8_t> fp(80, 0);
    Put64At(fp, 32, spec.packets.size());
    Put64At(fp, 40, 10000000);
    Put32At(fp, 68, spec.packetSize);
    Put32At(fp, 72, spec.packetSize);
    Put32At(fp, 76, 128000);
    add(Object(kFilePropertiesGuid, fp));
    if (!spec.title.empty() || !spec.author.empty()) {
        const std::vector<uint8_t> t = Utf16(spec.title), a = Utf16(spec.author);
        std::vector<uint8_t> cd;
        Put16(cd, uint32_t(t.size()));
        Put16(cd, uint32_t(a.size()));
        Put16(cd, 0);
        Put16(cd, 0);
        Put16(cd, 0);
        cd.insert(cd.end(), t.begin(), t.end());
        cd.insert(cd.end(), a.begin(), a.end());
        add(Object(kContentDescriptionGuid, cd));
    }
    if (spec.encryptionObject) add(Object(kContentEncryptionGuid, std::vector<uint8_t>(16, 0)));
    std::vector<uint8_t> extension;
    for (const StreamSpec& s : spec.streams) {
        if (s.insideExtended) {
            const std::vector<uint8_t> e = ExtendedStreamProperties(s);
            extension.insert(extension.end(), e.begin(), e.end());
        } else {
            add(StreamProperties(s));
        }
    }
    if (spec.extensionFiller > 0) {
        const std::vector<uint8_t> filler =
            Object(Guid(0x12345678, 1, 2, 3), std::vector<uint8_t>(spec.extensionFiller));
        extension.insert(extension.end(), filler.begin(), filler.end());
    }
    std::vector<uint8_t> he;
    PutGuid(he, kReserved1Guid);
    Put16(he, 6);
    Put32(he, uint32_t(extension.size()));
    he.insert(he.end(), extension.begin(), extension.end());
    add(Object(kHeaderExtensionGuid, he));

    std::vector<uint8_t> file;
    PutGuid(file, kHeaderGuid);
    Put64(file, 30 + objects.size());
    Put32(file, count);
    file.push_back(1);
    file.push_back(2);
    file.insert(file.end(), objects.begin(), objects.end());
    PutGuid(file, kDataGuid);
    Put64(file, 50 + uint64_t(spec.packets.size()) * spec.packetSize);
    file.insert(file.end(), 16, 0);
    Put64(file, spec.statedPackets >= 0 ? uint64_t(spec.statedPackets) : spec.packets.size());
    Put16(file, 0x0101);
    for (const PacketSpec& p : spec.packets) {
        const std::vector<uint8_t> bytes = BuildPacket(p, spec.packetSize);
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    return file;
}

// Bytes 0, 1, 2, ... from a start value, for recognisable object contents.
inline std::vector<uint8_t> Ramp(size_t n, uint8_t start) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(start + i);
    return v;
}

}  // namespace cz::wma::test
