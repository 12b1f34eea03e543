// ASF header objects and data packets.
#include "decoders/wma/AsfReader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "foundation/ByteReader.h"

namespace cz::wma {

namespace {

using Guid = std::array<uint8_t, 16>;

// A GUID as written in its textual form, stored as ASF stores it: the first
// three groups little-endian, the last eight bytes as they are.
constexpr Guid MakeGuid(uint32_t a, uint16_t b, uint16_t c, uint64_t d) {
    Guid g{};
    for (int i = 0; i < 4; ++i) g[i] = uint8_t(a >> (8 * i));
    for (int i = 0; i < 2; ++i) g[4 + i] = uint8_t(b >> (8 * i));
    for (int i = 0; i < 2; ++i) g[6 + i] = uint8_t(c >> (8 * i));
    for (int i = 0; i < 8; ++i) g[8 + i] = uint8_t(d >> (56 - 8 * i));
    return g;
}

// The object and type identifiers of the published ASF layout (section 10).
constexpr Guid kHeaderObject = MakeGuid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
constexpr Guid kDataObject = MakeGuid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
constexpr Guid kFileProperties = MakeGuid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ull);
constexpr Guid kStreamProperties = MakeGuid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ull);
constexpr Guid kHeaderExtension = MakeGuid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365ull);
constexpr Guid kContentDescription = MakeGuid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
constexpr Guid kExtendedContentDescription = MakeGuid(0xD2D0A440, 0xE307, 0x11D2, 0x97F000A0C95EA850ull);
constexpr Guid kContentEncryption = MakeGuid(0x2211B3FB, 0xBD23, 0x11D2, 0xB4B700A0C955FC6Eull);
constexpr Guid kExtendedContentEncryption = MakeGuid(0x298AE614, 0x2622, 0x4C17, 0xB935DAE07EE9289Cull);
constexpr Guid kAdvancedContentEncryption = MakeGuid(0x43058533, 0x6981, 0x49E6, 0x9B74AD12CB86D58Cull);
constexpr Guid kExtendedStreamProperties = MakeGuid(0x14E6A5CB, 0xC672, 0x4332, 0x8399A96952065B5Aull);
constexpr Guid kAudioMedia = MakeGuid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
constexpr Guid kAudioSpread = MakeGuid(0xBFC3CD50, 0x618F, 0x11CF, 0x8BB200AA00B4E220ull);

constexpr size_t kObjectHeader = 24;      // GUID + 64-bit size
constexpr size_t kHeaderObjectSize = 30;  // + object count + two reserved bytes
constexpr size_t kDataObjectHeader = 50;  // + file id + packet count + reserved
constexpr size_t kHeaderExtensionFixed = 46;
constexpr size_t kExtendedStreamFixed = 88;
constexpr size_t kStreamPropertiesFixed = 78;
constexpr size_t kMaxParsedObject = 1u << 20;  // bodies read whole; bigger ones are skipped
constexpr int kMaxNesting = 2;

bool Is(const uint8_t* p, const Guid& g) { return std::memcmp(p, g.data(), 16) == 0; }

uint64_t Load64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint32_t Load32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// UTF-16LE (possibly zero-terminated) to UTF-8; unpaired surrogates become
// U+FFFD.
std::string Utf8FromUtf16(const uint8_t* p, size_t bytes) {
    std::string out;
    const size_t units = bytes / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = LoadU16(p + 2 * i);
        if (c == 0) break;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
            const uint32_t low = LoadU16(p + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// A field whose width a 2-bit length type gives: none, byte, word, dword.
bool ReadSized(ByteReader& r, unsigned type, uint32_t& value) {
    switch (type & 3) {
        case 0: value = 0; return true;
        case 1: {
            uint8_t v = 0;
            if (!r.U8(v)) return false;
            value = v;
            return true;
        }
        case 2: {
            uint16_t v = 0;
            if (!r.U16(v)) return false;
            value = v;
            return true;
        }
        default: return r.U32(value);
    }
}

}  // namespace

const char* AsfErrorText(AsfError error) {
    switch (error) {
        case AsfError::kNone: return "no error";
        case AsfError::kTruncated: return "the file ends inside its ASF header";
        case AsfError::kNotAsf: return "not an ASF file (no ASF header object)";
        case AsfError::kBadHeader: return "damaged ASF header (an object size or field out of range)";
        case AsfError::kNoFileProperties: return "the ASF header has no file properties";
        case AsfError::kNoDataObject: return "no ASF data object after the header";
        case AsfError::kBadPacketSize: return "the ASF data packet size is zero, not fixed or too large";
        case AsfError::kNoAudioStream: return "no audio stream";
        case AsfError::kSeveralAudioStreams: return "more than one audio stream";
        case AsfError::kProtected: return "protected (DRM-encrypted) content cannot be decoded";
    }
    return "unknown error";
}

bool AsfReader::ReadExact(uint64_t offset, size_t count, uint8_t* out) {
    while (count > 0) {
        size_t available = 0;
        const uint8_t* p = source_.ReadAt(offset, count, &available);
        if (p == nullptr || available == 0) return false;
        available = std::min(available, count);
        std::memcpy(out, p, available);
        out += available;
        offset += available;
        count -= available;
    }
    return true;
}

AsfError AsfReader::ReadHeader() {
    info_ = AsfFileInfo{};
    uint8_t head[kHeaderObjectSize];
    size_t got = 0;
    const uint8_t* first = source_.ReadAt(0, 16, &got);
    if (first == nullptr || got < 16 || !Is(first, kHeaderObject)) return AsfError::kNotAsf;
    if (!ReadExact(0, sizeof head, head)) return AsfError::kTruncated;
    const uint64_t headerSize = Load64(head + 16);
    if (headerSize < kHeaderObjectSize) return AsfError::kBadHeader;

    bool haveFileProperties = false;
    uint32_t minPacket = 0, maxPacket = 0;
    // The objects of the header, then the data object right after it.
    std::vector<uint8_t> body;
    uint64_t pos = kHeaderObjectSize;
    while (pos < headerSize) {
        if (headerSize - pos < kObjectHeader) return AsfError::kBadHeader;
        uint8_t oh[kObjectHeader];
        if (!ReadExact(pos, kObjectHeader, oh)) return AsfError::kTruncated;
        const uint64_t size = Load64(oh + 16);
        if (size < kObjectHeader || size > headerSize - pos) return AsfError::kBadHeader;
        const bool fileProperties = Is(oh, kFileProperties);
        const bool parsed = fileProperties || Is(oh, kStreamProperties) || Is(oh, kHeaderExtension) ||
                            Is(oh, kContentDescription) || Is(oh, kExtendedContentDescription);
        if (Is(oh, kContentEncryption) || Is(oh, kExtendedContentEncryption)) info_.protectedContent = true;
        if (parsed) {
            uint64_t bodySize = size - kObjectHeader;
            // Only the fixed part of the file properties and the header
            // extension is needed; the extension's children are read one by
            // one (a large picture may sit among them).
            if (fileProperties) bodySize = std::min<uint64_t>(bodySize, 80);
            if (Is(oh, kHeaderExtension)) bodySize = std::min<uint64_t>(bodySize, 22);
            if (bodySize > kMaxParsedObject) {
                // Only descriptions may be this large (pictures); the others
                // cannot be.
                if (!Is(oh, kExtendedContentDescription) && !Is(oh, kContentDescription)) return AsfError::kBadHeader;
            } else {
                body.resize(size_t(bodySize));
                if (!ReadExact(pos + kObjectHeader, body.size(), body.data())) return AsfError::kTruncated;
                if (fileProperties) {
                    // File id, file size, creation date, packet count, play
                    // and send duration, preroll, flags, min/max packet
                    // size, max bitrate.
                    if (body.size() < 80) return AsfError::kBadHeader;
                    info_.fileSize = Load64(body.data() + 16);
                    info_.packetCount = Load64(body.data() + 32);
                    info_.playDuration = Load64(body.data() + 40);
                    info_.preroll = Load64(body.data() + 56);
                    minPacket = Load32(body.data() + 68);
                    maxPacket = Load32(body.data() + 72);
                    info_.maxBitrate = Load32(body.data() + 76);
                    haveFileProperties = true;
                } else if (Is(oh, kStreamProperties)) {
                    if (AsfError e = ReadStreamProperties(body.data(), body.size()); e != AsfError::kNone) return e;
                } else if (Is(oh, kHeaderExtension)) {
                    // Reserved GUID, reserved word, size of the objects that follow.
                    if (body.size() < kHeaderExtensionFixed - kObjectHeader) return AsfError::kBadHeader;
                    const uint32_t inner = Load32(body.data() + 18);
                    if (inner > size - kHeaderExtensionFixed) return AsfError::kBadHeader;
                    const uint64_t begin = pos + kHeaderExtensionFixed;
                    if (AsfError e = ReadHeaderObjects(begin, begin + inner, 1); e != AsfError::kNone) return e;
                } else if (Is(oh, kContentDescription)) {
                    ReadContentDescription(body.data(), body.size());
                } else {
                    ReadExtendedContentDescription(body.data(), body.size());
                }
            }
        }
        pos += size;
    }
    if (!haveFileProperties) return AsfError::kNoFileProperties;

    uint8_t data[kDataObjectHeader];
    if (!ReadExact(headerSize, kDataObjectHeader, data)) {
        return AsfError::kTruncated;
    }
    if (!Is(data, kDataObject)) return AsfError::kNoDataObject;
    if (minPacket == 0 || minPacket != maxPacket || minPacket > kMaxPacketSize) return AsfError::kBadPacketSize;
    info_.packetSize = minPacket;
    info_.firstPacket = headerSize + kDataObjectHeader;
    const uint64_t dataSize = Load64(data + 16);
    // A live stream may leave the size 0 (or unset); the packets then run
    // to the end of the input.
    if (dataSize >= kDataObjectHeader && dataSize != ~0ull) info_.dataEnd = headerSize + dataSize;
    const uint64_t dataPackets = Load64(data + 40);
    info_.packetCount = dataPackets != 0 ? dataPackets : info_.packetCount;
    if (info_.audioStreams.empty()) return AsfError::kNoAudioStream;
    SelectAudioStream(0);
    return AsfError::kNone;
}

// The children of the header extension.
AsfError AsfReader::ReadHeaderObjects(uint64_t begin, uint64_t end, int depth) {
    if (depth > kMaxNesting) return AsfError::kBadHeader;
    std::vector<uint8_t> body;
    uint64_t pos = begin;
    while (pos < end) {
        if (end - pos < kObjectHeader) return AsfError::kBadHeader;
        uint8_t oh[kObjectHeader];
        if (!ReadExact(pos, kObjectHeader, oh)) return AsfError::kTruncated;
        const uint64_t size = Load64(oh + 16);
        if (size < kObjectHeader || size > end - pos) return AsfError::kBadHeader;
        if (Is(oh, kAdvancedContentEncryption)) info_.protectedContent = true;
        if (Is(oh, kExtendedStreamProperties)) {
            if (size - kObjectHeader > kMaxParsedObject) return AsfError::kBadHeader;
            body.resize(size_t(size - kObjectHeader));
            if (!ReadExact(pos + kObjectHeader, body.size(), body.data())) return AsfError::kTruncated;
            if (AsfError e = ReadExtendedStreamProperties(body.data(), body.size()); e != AsfError::kNone) return e;
        }
        pos += size;
    }
    return AsfError::kNone;
}

// Stream type, error correction type, time offset, type-specific and error
// correction data lengths, flags, reserved, then the two data blocks.
AsfError AsfReader::ReadStreamProperties(const uint8_t* body, size_t size) {
    constexpr size_t fixed = kStreamPropertiesFixed - kObjectHeader;
    if (size < fixed) return AsfError::kBadHeader;
    const uint32_t typeLength = Load32(body + 40);
    const uint32_t correctionLength = Load32(body + 44);
    const uint16_t flags = LoadU16(body + 48);
    if (typeLength > size - fixed || correctionLength > size - fixed - typeLength) return AsfError::kBadHeader;
    const uint16_t number = flags & 0x7F;
    if (!Is(body, kAudioMedia)) {
        ++info_.otherStreams;
        return AsfError::kNone;
    }
    // A stream described twice (on its own and inside its extended
    // properties) counts once.
    for (const AsfAudioStream& s : info_.audioStreams)
        if (s.number == number) return AsfError::kNone;
    AsfAudioStream stream;
    stream.number = number;
    stream.encrypted = (flags & 0x8000) != 0;
    ByteReader r(body + fixed, typeLength);
    AsfAudioFormat& f = stream.format;
    if (!r.U16(f.formatTag) || !r.U16(f.channels) || !r.U32(f.sampleRate) || !r.U32(f.avgBytesPerSecond) ||
        !r.U16(f.blockAlign) || !r.U16(f.bitsPerSample))
        return AsfError::kBadHeader;
    uint16_t extraSize = 0;
    if (r.U16(extraSize)) {
        // Some writers state more extra bytes than they stored: keep what is there.
        const size_t n = std::min<size_t>(extraSize, r.Remaining());
        f.extra.assign(body + fixed + r.Position(), body + fixed + r.Position() + n);
    }
    const uint8_t* correction = body + fixed + typeLength;
    if (Is(body + 16, kAudioSpread) && correctionLength >= 5) {
        const uint8_t span = correction[0];
        const uint16_t packetLength = LoadU16(correction + 1);
        const uint16_t chunkLength = LoadU16(correction + 3);
        // Spread is undone only when the chunks tile the virtual packet;
        // otherwise the objects are taken as they are.
        if (span > 1 && chunkLength > 0 && packetLength % chunkLength == 0 && packetLength / chunkLength > 1) {
            stream.span = span;
            stream.virtualPacketLength = packetLength;
            stream.virtualChunkLength = chunkLength;
        }
    }
    info_.audioStreams.push_back(std::move(stream));
    return AsfError::kNone;
}

// The fixed part, stream names, payload extension systems, then an optional
// stream properties object of the stream it describes.
AsfError AsfReader::ReadExtendedStreamProperties(const uint8_t* body, size_t size) {
    constexpr size_t fixed = kExtendedStreamFixed - kObjectHeader;
    if (size < fixed) return AsfError::kBadHeader;
    const uint16_t nameCount = LoadU16(body + 60);
    const uint16_t extensionCount = LoadU16(body + 62);
    ByteReader r(body, size);
    r.Skip(fixed);
    for (uint32_t i = 0; i < nameCount; ++i) {
        uint16_t language = 0, length = 0;
        if (!r.U16(language) || !r.U16(length) || !r.Skip(length)) return AsfError::kBadHeader;
    }
    for (uint32_t i = 0; i < extensionCount; ++i) {
        uint16_t dataSize = 0;
        uint32_t infoLength = 0;
        if (!r.Skip(16) || !r.U16(dataSize) || !r.U32(infoLength) || !r.Skip(infoLength)) return AsfError::kBadHeader;
    }
    if (r.Remaining() < kObjectHeader) return AsfError::kNone;
    const uint8_t* inner = body + r.Position();
    const uint64_t innerSize = Load64(inner + 16);
    if (!Is(inner, kStreamProperties)) return AsfError::kNone;
    if (innerSize < kObjectHeader || innerSize > r.Remaining()) return AsfError::kBadHeader;
    return ReadStreamProperties(inner + kObjectHeader, size_t(innerSize - kObjectHeader));
}

// Five lengths (title, author, copyright, description, rating), then the
// UTF-16 texts.
void AsfReader::ReadContentDescription(const uint8_t* body, size_t size) {
    ByteReader r(body, size);
    uint16_t lengths[5] = {};
    for (uint16_t& length : lengths)
        if (!r.U16(length)) return;
    const uint8_t* title = r.Take(lengths[0]);
    const uint8_t* author = r.Take(lengths[1]);
    if (title) info_.title = Utf8FromUtf16(title, lengths[0]);
    if (author) info_.author = Utf8FromUtf16(author, lengths[1]);
}

// Descriptor count, then name length, name, value type, value length, value.
// Only text values are kept.
void AsfReader::ReadExtendedContentDescription(const uint8_t* body, size_t size) {
    constexpr size_t kMaxTags = 64;
    ByteReader r(body, size);
    uint16_t count = 0;
    if (!r.U16(count)) return;
    for (uint32_t i = 0; i < count; ++i) {
        uint16_t nameLength = 0, type = 0, valueLength = 0;
        const uint8_t* name = nullptr;
        const uint8_t* value = nullptr;
        if (!r.U16(nameLength) || !(name = r.Take(nameLength)) || !r.U16(type) || !r.U16(valueLength) ||
            !(value = r.Take(valueLength)))
            return;
        if (type == 0 && info_.tags.size() < kMaxTags) {
            AsfTag tag{Utf8FromUtf16(name, nameLength), Utf8FromUtf16(value, valueLength)};
            if (!tag.value.empty()) info_.tags.push_back(std::move(tag));
        }
    }
}

void AsfReader::SelectAudioStream(size_t index) {
    if (index >= info_.audioStreams.size()) return;
    const AsfAudioStream& s = info_.audioStreams[index];
    streamNumber_ = s.number;
    span_ = s.span;
    virtualPacketLength_ = s.virtualPacketLength;
    virtualChunkLength_ = s.virtualChunkLength;
    DropPartial();
    lost_ = false;
}

AsfPacketResult AsfReader::NextPacket(std::vector<AsfMediaObject>& completed) {
    if (info_.packetSize == 0) return AsfPacketResult::kEndOfData;
    if (info_.packetCount != 0 && packetsRead_ >= info_.packetCount) return AsfPacketResult::kEndOfData;
    const uint64_t offset = NextPacketOffset();
    if (info_.dataEnd != 0 && offset + info_.packetSize > info_.dataEnd) return AsfPacketResult::kEndOfData;
    packet_.resize(info_.packetSize);
    if (!ReadExact(offset, packet_.size(), packet_.data())) return AsfPacketResult::kEndOfFile;
    ++packetsRead_;
    if (!ParsePacket(packet_.data(), packet_.size(), completed)) {
        // Objects this packet completed before its damage stay; what it
        // began is dropped.
        ++damagedPackets_;
        DropPartial();
    }
    return AsfPacketResult::kOk;
}

// Error correction data, payload parsing information, then one payload or
// several, then padding.
bool AsfReader::ParsePacket(const uint8_t* packet, size_t size, std::vector<AsfMediaObject>& completed) {
    ByteReader r(packet, size);
    uint8_t flags = 0;
    if (!r.U8(flags)) return false;
    if (flags & 0x80) {
        // Error correction flags: data length in bits 0-3, length type in
        // bits 5-6 (only 0 is defined).
        if (((flags >> 5) & 3) != 0) return false;
        if (!r.Skip(flags & 0x0F) || !r.U8(flags)) return false;
    }
    const uint8_t lengthTypes = flags;
    uint8_t properties = 0;
    if ((lengthTypes & 0x80) || !r.U8(properties)) return false;
    uint32_t packetLength = 0, sequence = 0, padding = 0, sendTime = 0;
    uint16_t duration = 0;
    if (!ReadSized(r, lengthTypes >> 5, packetLength) || !ReadSized(r, lengthTypes >> 1, sequence) ||
        !ReadSized(r, lengthTypes >> 3, padding) || !r.U32(sendTime) || !r.U16(duration))
        return false;
    // A stated length shorter than the fixed packet size leaves the rest as
    // padding; a longer one cannot be.
    size_t end = size;
    if ((lengthTypes >> 5) & 3) {
        if (packetLength > size || packetLength < r.Position()) return false;
        end = packetLength;
    }
    if (padding > end - r.Position()) return false;
    end -= padding;
    ByteReader p(packet, end);
    p.Seek(r.Position());

    const unsigned replicatedType = properties & 3;
    const unsigned offsetType = (properties >> 2) & 3;
    const unsigned objectType = (properties >> 4) & 3;
    const unsigned streamType = (properties >> 6) & 3;
    uint32_t payloads = 1;
    unsigned payloadLengthType = 0;
    const bool multiple = (lengthTypes & 1) != 0;
    if (multiple) {
        uint8_t payloadFlags = 0;
        if (!p.U8(payloadFlags)) return false;
        payloads = payloadFlags & 0x3F;
        payloadLengthType = payloadFlags >> 6;
        if (payloadLengthType == 0) return false;
    }
    for (uint32_t i = 0; i < payloads; ++i) {
        uint32_t stream = 0, objectNumber = 0, objectOffset = 0, replicatedLength = 0, length = 0;
        if (!ReadSized(p, streamType, stream) || !ReadSized(p, objectType, objectNumber) ||
            !ReadSized(p, offsetType, objectOffset) || !ReadSized(p, replicatedType, replicatedLength))
            return false;
        const uint8_t* replicated = p.Take(replicatedLength);
        if (replicated == nullptr && replicatedLength > 0) return false;
        if (multiple) {
            if (!ReadSized(p, payloadLengthType, length)) return false;
        } else {
            length = uint32_t(p.Remaining());
        }
        const uint8_t* data = p.Take(length);
        if (data == nullptr && length > 0) return false;
        if ((stream & 0x7F) != streamNumber_) continue;
        if (!TakePayload(objectNumber, objectOffset, replicated, replicatedLength, data, length, completed))
            return false;
    }
    return true;
}

// One payload of the chosen stream: a fragment of a media object, a whole
// one, or (replicated data of one byte) a run of whole small objects.
bool AsfReader::TakePayload(uint32_t objectNumber, uint32_t offset, const uint8_t* replicated,
                            uint32_t replicatedLength, const uint8_t* data, uint32_t length,
                            std::vector<AsfMediaObject>& completed) {
    if (replicatedLength == 1) {
        // Compressed payload: sub-payloads of a length byte and an object.
        if (gathering_) DropPartial();
        ByteReader sub(data, length);
        while (!sub.AtEnd()) {
            uint8_t n = 0;
            const uint8_t* bytes = nullptr;
            if (!sub.U8(n) || (bytes = sub.Take(n)) == nullptr) return false;
            if (n > 0) Deliver(std::vector<uint8_t>(bytes, bytes + n), completed);
        }
        return true;
    }
    if (replicatedLength == 0) {
        // No object size: the payload is the object.
        if (offset != 0) return false;
        if (gathering_) DropPartial();
        if (length > 0) Deliver(std::vector<uint8_t>(data, data + length), completed);
        return true;
    }
    if (replicatedLength < 8) return false;
    const uint32_t objectSize = Load32(replicated);
    if (objectSize == 0 || objectSize > kMaxMediaObject) return false;
    if (offset == 0) {
        if (gathering_) DropPartial();
        gathering_ = true;
        objectNumber_ = objectNumber;
        objectSize_ = objectSize;
        object_.clear();
    } else if (!gathering_ || objectNumber != objectNumber_ || objectSize != objectSize_ || offset != object_.size()) {
        // A fragment of an object whose start was lost (or another object's
        // middle): nothing to join it to.
        if (gathering_) DropPartial();
        lost_ = true;
        return true;
    }
    if (length > objectSize_ - object_.size()) return false;
    object_.insert(object_.end(), data, data + length);
    if (object_.size() == objectSize_) {
        gathering_ = false;
        Deliver(std::move(object_), completed);
        object_ = std::vector<uint8_t>();
    }
    return true;
}

void AsfReader::DropPartial() {
    if (gathering_) lost_ = true;
    gathering_ = false;
    object_.clear();
}

// Audio spread wrote the span x rows chunks of an object column by column;
// reading them row by row gives the object back.
void AsfReader::Deliver(std::vector<uint8_t>&& bytes, std::vector<AsfMediaObject>& completed) {
    AsfMediaObject object;
    object.discontinuity = lost_;
    lost_ = false;
    if (span_ > 1 && bytes.size() == size_t(span_) * virtualPacketLength_) {
        const size_t chunk = virtualChunkLength_;
        const size_t rows = virtualPacketLength_ / chunk;
        const size_t chunks = size_t(span_) * rows;
        object.bytes.resize(bytes.size());
        for (size_t i = 0; i < chunks; ++i) {
            const size_t row = i / span_;
            const size_t column = i % span_;
            const size_t from = column * rows + row;
            std::memcpy(object.bytes.data() + i * chunk, bytes.data() + from * chunk, chunk);
        }
    } else {
        object.bytes = std::move(bytes);
    }
    completed.push_back(std::move(object));
}

}  // namespace cz::wma
