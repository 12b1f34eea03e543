#include "decoders/mp3/Mp3Gapless.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace cz::mp3 {

namespace {

uint32_t SyncSafe(const uint8_t* p) {
    return (uint32_t(p[0] & 0x7F) << 21) | (uint32_t(p[1] & 0x7F) << 14) | (uint32_t(p[2] & 0x7F) << 7) |
           uint32_t(p[3] & 0x7F);
}

uint32_t Be(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
    return v;
}

// The comment frame's body as plain ASCII: its description and its text.
// UTF-16 text keeps the code units below 128 (the fields are hexadecimal).
bool CommentParts(const uint8_t* body, size_t size, std::string* description, std::string* text) {
    if (size < 4) return false;
    const uint8_t encoding = body[0];
    if (encoding > 3) return false;
    const bool wide = encoding == 1 || encoding == 2;
    size_t at = 4;  // encoding byte and language
    auto take = [&](std::string* out) {
        out->clear();
        bool bigEndian = encoding == 2;
        if (wide && at + 1 < size &&
            ((body[at] == 0xFE && body[at + 1] == 0xFF) || (body[at] == 0xFF && body[at + 1] == 0xFE))) {
            bigEndian = body[at] == 0xFE;
            at += 2;
        }
        while (at < size) {
            if (wide) {
                if (at + 1 >= size) {
                    at = size;
                    break;
                }
                const uint32_t unit =
                    bigEndian ? (uint32_t(body[at]) << 8 | body[at + 1]) : (uint32_t(body[at + 1]) << 8 | body[at]);
                at += 2;
                if (unit == 0) break;
                if (unit < 128) out->push_back(char(unit));
            } else {
                const uint8_t c = body[at++];
                if (c == 0) break;
                if (c < 128) out->push_back(char(c));
            }
        }
    };
    take(description);
    take(text);
    return true;
}

// " 00000000 00000240 000003C4 0000000000015A0E ...": zero, delay, padding,
// sample count.
bool ParseFields(const std::string& text, Mp3GaplessInfo* info) {
    uint64_t field[4] = {};
    size_t at = 0;
    for (int f = 0; f < 4; ++f) {
        while (at < text.size() && text[at] == ' ') ++at;
        size_t digits = 0;
        uint64_t v = 0;
        while (at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at]))) {
            if (++digits > 16) return false;
            const char c = text[at++];
            v = (v << 4) | uint64_t(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        if (digits == 0) return false;
        field[f] = v;
    }
    // An encoder's delay and padding are below a few frames.
    if (field[1] > 0xFFFF || field[2] > 0xFFFF || field[3] > (uint64_t{1} << 40)) return false;
    Mp3GaplessInfo found;
    found.found = true;
    found.delay = int32_t(field[1]);
    found.padding = int32_t(field[2]);
    found.length = field[3] != 0 ? int64_t(field[3]) : -1;
    *info = found;
    return true;
}

}  // namespace

bool ReadItunesGapless(const uint8_t* bytes, size_t count, Mp3GaplessInfo* info) {
    if (bytes == nullptr || info == nullptr || count < 10 || std::memcmp(bytes, "ID3", 3) != 0) return false;
    const int version = bytes[3];
    const uint8_t flags = bytes[5];
    if (version < 2 || version > 4 || (flags & 0x80) != 0) return false;  // unsynchronised tags are not read
    if ((bytes[6] | bytes[7] | bytes[8] | bytes[9]) & 0x80) return false;
    const size_t end = std::min<size_t>(count, size_t{10} + SyncSafe(bytes + 6));
    size_t at = 10;
    if (version >= 3 && (flags & 0x40) != 0) {  // extended header
        if (at + 4 > end) return false;
        const size_t size = version == 4 ? SyncSafe(bytes + at) : size_t{Be(bytes + at, 4)} + 4;
        if (size < 4 || size > end - at) return false;
        at += size;
    }
    const size_t idBytes = version == 2 ? 3 : 4;
    const size_t headerBytes = version == 2 ? 6 : 10;
    while (at + headerBytes <= end) {
        const uint8_t* frame = bytes + at;
        if (frame[0] == 0) break;  // padding
        const size_t size = version == 2 ? Be(frame + 3, 3) : version == 4 ? SyncSafe(frame + 4) : Be(frame + 4, 4);
        if (size > end - at - headerBytes) break;
        const bool comment = std::memcmp(frame, version == 2 ? "COM" : "COMM", idBytes) == 0;
        // Compressed, encrypted or unsynchronised frames are not read.
        const bool plain = version == 2 || (version == 3 ? (frame[9] & 0xC0) == 0 : (frame[9] & 0x0F) == 0);
        if (comment && plain) {
            std::string description, text;
            if (CommentParts(frame + headerBytes, size, &description, &text) && description == "iTunSMPB" &&
                ParseFields(text, info))
                return true;
        }
        at += headerBytes + size;
    }
    return false;
}

void Mp3GaplessTrimmer::Start(const Mp3GaplessInfo& info, int64_t channels, int64_t perFrame) {
    *this = Mp3GaplessTrimmer{};
    if (!info.found) return;
    active_ = true;
    skip_ = (info.delay + kMp3DecoderDelay) * channels;
    if (info.length >= 0) {
        length_ = info.length * channels;
    } else if (info.frames >= 0) {
        length_ = std::max<int64_t>(0, info.frames * perFrame - (int64_t(info.delay) + info.padding) * channels);
    } else {
        holdBack_ = std::max<int64_t>(0, (info.padding - kMp3DecoderDelay) * channels);
    }
}

void Mp3GaplessTrimmer::Cut(const int16_t** pcm, uint16_t* count) {
    if (!active_) return;
    const int64_t total = *count;
    const int64_t from = std::min(skip_, total);
    skip_ -= from;
    int64_t n = total - from;
    if (length_ >= 0) {
        n = std::min(n, length_);
        length_ -= n;
    }
    if (holdBack_ > 0) {
        held_.insert(held_.end(), *pcm + from, *pcm + from + n);
        const int64_t release = std::max<int64_t>(0, int64_t(held_.size()) - holdBack_);
        staging_.assign(held_.begin(), held_.begin() + release);
        held_.erase(held_.begin(), held_.begin() + release);
        if (release > 0) *pcm = staging_.data();
        *count = static_cast<uint16_t>(release);
    } else {
        *pcm += from;
        *count = static_cast<uint16_t>(n);
    }
}

}  // namespace cz::mp3
