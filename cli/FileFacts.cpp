// What "info" says of a file beyond its sound: the format's name for people,
// and the stream facts and tags of MPEG audio files.
#include "FileFacts.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/registry/FormatId.h"
#include "formats/registry/FormatTable.h"
#include "platform/Platform.h"
#include "wave/C_WavFile.h"

namespace cz::cli {

std::string FormatNameForPeople(uint32_t formatId, uint32_t codecType) {
    if (formatId == kFormatWav) {
        // The coding the WAV class found in the file's format chunk.
        switch (codecType) {
            case C_WavFile::kCodecMsAdpcm: return "WAV, Microsoft ADPCM";
            case C_WavFile::kCodecImaAdpcm: return "WAV, IMA ADPCM";
            default: break;
        }
    }
    const FormatDescriptor* row = FindFormat(formatId);
    return row ? row->facts.longName : std::string();
}

namespace {

// MPEG audio frame header fields (ISO/IEC 11172-3 and 13818-3 tables).
const int kBitrates[2][3][16] = {
    // MPEG-1: layers I, II, III
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    // MPEG-2 and 2.5: layers I, II, III
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};
const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

uint32_t SyncSafe(const uint8_t* p) {
    return (p[0] & 0x7Fu) << 21 | (p[1] & 0x7Fu) << 14 | (p[2] & 0x7Fu) << 7 | (p[3] & 0x7Fu);
}

// A text frame's value as UTF-8 (ISO-8859-1, UTF-16 with BOM, UTF-16BE, UTF-8).
std::string TextValue(const uint8_t* p, size_t n) {
    if (n == 0) return std::string();
    const uint8_t encoding = p[0];
    ++p;
    --n;
    std::string out;
    auto put = [&](uint32_t c) {
        if (c == 0) return;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    if (encoding == 0) {
        for (size_t i = 0; i < n && p[i]; ++i) put(p[i]);
    } else if (encoding == 3) {
        for (size_t i = 0; i < n && p[i]; ++i) out += static_cast<char>(p[i]);
    } else {
        bool big = encoding == 2;
        size_t i = 0;
        if (encoding == 1 && n >= 2) {
            big = p[0] == 0xFE && p[1] == 0xFF;
            i = 2;
        }
        for (; i + 1 < n; i += 2) {
            uint32_t c = big ? (p[i] << 8 | p[i + 1]) : (p[i + 1] << 8 | p[i]);
            if (c == 0) break;
            if (c >= 0xD800 && c < 0xE000) c = '?';  // no pairs in titles worth the code
            put(c);
        }
    }
    return out;
}

}  // namespace

bool ReadMpegFacts(const std::string& path, MpegFacts& facts) {
    auto file = platform::File::Open(path, platform::open_flags::kRead);
    if (!file) return false;
    auto size = file->Size();
    if (!size) return false;
    // The head (tag and first frames) and the last 128 bytes (an ID3v1 tag).
    const size_t headBytes = static_cast<size_t>(std::min<uint64_t>(*size, 1u << 20));
    std::vector<uint8_t> head(headBytes);
    if (!file->ReadExact(head.data(), head.size())) return false;
    size_t at = 0;
    if (head.size() >= 10 && std::memcmp(head.data(), "ID3", 3) == 0) {
        const int version = head[3];
        const size_t tagSize = SyncSafe(&head[6]);
        const size_t end = std::min(head.size(), 10 + tagSize);
        size_t f = 10;
        if (head[5] & 0x40 && f + 4 <= end)
            f += version == 4 ? SyncSafe(&head[f])
                              : 4 + (head[f] << 24 | head[f + 1] << 16 | head[f + 2] << 8 | head[f + 3]);
        while (version >= 3 && f + 10 <= end && head[f] != 0) {
            const std::string id(reinterpret_cast<const char*>(&head[f]), 4);
            const size_t n =
                version == 4
                    ? SyncSafe(&head[f + 4])
                    : (static_cast<size_t>(head[f + 4]) << 24 | head[f + 5] << 16 | head[f + 6] << 8 | head[f + 7]);
            if (n > end - f - 10) break;
            if (id == "TIT2") facts.title = TextValue(&head[f + 10], n);
            if (id == "TPE1") facts.artist = TextValue(&head[f + 10], n);
            if (id == "TALB") facts.album = TextValue(&head[f + 10], n);
            f += 10 + n;
        }
        at = 10 + tagSize + ((head[5] & 0x10) ? 10 : 0);
    }
    // The first frame header whose successor is where its length says.
    for (; at + 4 <= head.size(); ++at) {
        const uint8_t* h = &head[at];
        if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) continue;
        const int versionBits = (h[1] >> 3) & 3, layerBits = (h[1] >> 1) & 3;
        const int bitrateIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3;
        if (versionBits == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3) continue;
        const int version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
        const int layer = 4 - layerBits;
        const int rate = kRates[version == 1 ? 0 : version == 2 ? 1 : 2][rateIndex];
        const int kbps = kBitrates[version == 1 ? 0 : 1][layer - 1][bitrateIndex];
        facts.version = version;
        facts.layer = layer;
        facts.sampleRate = rate;
        facts.channels = (h[3] >> 6) == 3 ? 1 : 2;
        facts.kbps = kbps;
        facts.found = true;
        break;
    }
    if (*size >= 128 && (facts.title.empty() || facts.artist.empty())) {
        uint8_t tail[128];
        if (file->Seek(static_cast<int64_t>(*size - 128), platform::SeekOrigin::kBegin) &&
            file->ReadExact(tail, sizeof tail) && std::memcmp(tail, "TAG", 3) == 0) {
            auto field = [&](size_t from, size_t n) {
                std::string s(reinterpret_cast<const char*>(tail + from), n);
                s.resize(std::strlen(s.c_str()));
                while (!s.empty() && s.back() == ' ') s.pop_back();
                return s;
            };
            if (facts.title.empty()) facts.title = field(3, 30);
            if (facts.artist.empty()) facts.artist = field(33, 30);
            if (facts.album.empty()) facts.album = field(63, 30);
        }
    }
    facts.fileBytes = *size;
    return facts.found;
}

}  // namespace cz::cli

namespace cz::cli {

std::vector<InfoTag> ReadRiffInfoTags(const std::string& path) {
    std::vector<InfoTag> tags;
    auto file = platform::File::Open(path, platform::open_flags::kRead);
    if (!file) return tags;
    auto size = file->Size();
    if (!size || *size < 12 || *size > (1ull << 32)) return tags;
    uint8_t riff[12];
    if (!file->ReadExact(riff, 12) || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return tags;
    uint64_t at = 12;
    for (int chunks = 0; at + 8 <= *size && chunks < 4096; ++chunks) {
        uint8_t head[8];
        if (!file->Seek(static_cast<int64_t>(at), platform::SeekOrigin::kBegin) || !file->ReadExact(head, 8)) break;
        const uint32_t n = head[4] | head[5] << 8 | head[6] << 16 | static_cast<uint32_t>(head[7]) << 24;
        const uint64_t body = at + 8;
        if (std::memcmp(head, "LIST", 4) == 0 && n >= 4 && body + n <= *size && n <= (1u << 20)) {
            std::vector<uint8_t> list(n);
            if (!file->ReadExact(list.data(), n)) break;
            if (std::memcmp(list.data(), "INFO", 4) == 0) {
                size_t p = 4;
                while (p + 8 <= list.size()) {
                    const uint32_t m =
                        list[p + 4] | list[p + 5] << 8 | list[p + 6] << 16 | static_cast<uint32_t>(list[p + 7]) << 24;
                    if (m > list.size() - p - 8) break;
                    std::string text(reinterpret_cast<const char*>(&list[p + 8]), m);
                    text.resize(std::strlen(text.c_str()));
                    tags.push_back({std::string(reinterpret_cast<const char*>(&list[p]), 4), text});
                    p += 8 + m + (m & 1);
                }
            }
        }
        at = body + n + (n & 1);
    }
    return tags;
}

}  // namespace cz::cli
