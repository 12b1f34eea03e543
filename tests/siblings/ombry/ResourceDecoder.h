// Test-side decoders of the chip resource binaries "WADM" and "WMdM", written
// from the chip's decoding rules and nothing else, plus a loader for the
// converter library's entry. Header-only: shared by the converter tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/resconv/I_ResourceStatInfo.h"
#include "cadenzor/cadenzor.h"
#include "platform/Platform.h"

namespace cz::test {

struct ResourceMarker {
    uint32_t position = 0;
    uint8_t identifier = 0;
    uint8_t type = 0;
    bool operator==(const ResourceMarker&) const = default;
};

struct DecodedResource {
    bool ok = false;  // magic known, header complete, end mark reached
    uint16_t rate = 0;
    std::vector<uint16_t> samples;
    std::vector<ResourceMarker> markers;
};

inline uint8_t RotateRight2(uint8_t b) { return static_cast<uint8_t>((b >> 2) | (b << 6)); }

// "WMdM": blocks by control byte c (type c AND 7, bit 0 announces a marker), FF ends.
inline void DecodeWmdmPayload(const uint8_t* p, size_t size, DecodedResource& r) {
    size_t pos = 0;
    auto out = [&](int v) { r.samples.push_back(static_cast<uint16_t>(v)); };
    while (pos < size) {
        const uint8_t c = p[pos];
        if (c == 0xFF) {
            r.ok = true;
            return;
        }
        const int type = c & 7;
        const bool marker = (c & 1) != 0;
        const auto start = static_cast<uint32_t>(r.samples.size());
        if (type <= 3) {
            const size_t groups = type <= 1 ? 8 : 2;
            const size_t need = 2 + (marker ? 2 : 0) + 5 * groups;
            if (size - pos < need) return;
            int v = (p[pos + 1] << 4) + ((c & 0x80) ? 8 : 0);
            out(v);
            size_t g = pos + 2;
            if (marker) {
                r.markers.push_back({start, p[pos + 3], RotateRight2(p[pos + 2])});
                g += 2;
            }
            const int step = 8 * (((c >> 3) & 15) + 1);
            for (size_t k = 0; k < groups; ++k, g += 5) {
                const uint8_t sign = p[g];
                for (int i = 0; i < 8; ++i) {
                    const uint8_t byte = p[g + 1 + i / 2];
                    const int magnitude = (i % 2 == 0) ? (byte & 15) : (byte >> 4);
                    v += ((sign >> i) & 1) ? -magnitude * step : magnitude * step;
                    v = std::clamp(v, 0, 4095);
                    out(v);
                }
            }
            pos += need;
        } else if (type <= 5) {
            const size_t need = marker ? 5 : 3;
            if (size - pos < need) return;
            size_t at = pos + 1;
            if (marker) {
                r.markers.push_back({start, p[pos + 2], RotateRight2(p[pos + 1])});
                at += 2;
            }
            const int count = p[at] | (p[at + 1] << 8);
            for (int i = 0; i < count; ++i) out(2048);
            pos += need;
        } else {
            const size_t countAt = marker ? 4 : 2;
            if (size - pos <= countAt) return;
            const size_t n = p[pos + countAt];
            if (size - pos < countAt + 1 + n) return;
            out(p[pos + 1] << 4);
            if (marker) r.markers.push_back({start, p[pos + 3], RotateRight2(p[pos + 2])});
            for (size_t i = 0; i < n; ++i) out(p[pos + countAt + 1 + i] << 4);
            pos += countAt + 1 + n;
        }
    }
}

// "WADM": blocks by the low two bits of b0; 00 00 ends.
inline void DecodeWadmPayload(const uint8_t* p, size_t size, DecodedResource& r) {
    static constexpr int kAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    auto step = [](int i) { return (8 + i % 8) << (i / 8); };
    auto nibbles = [&](int first, int index, const uint8_t* codes, size_t count) {
        r.samples.push_back(static_cast<uint16_t>(first));
        int value = first;
        for (size_t i = 0; i < count; ++i) {
            const int x = (i % 2 == 0) ? (codes[i / 2] >> 4) : (codes[i / 2] & 15);
            const int s = step(index);
            int d = s >> 3;
            if (x & 4) d += s;
            if (x & 2) d += s >> 1;
            if (x & 1) d += s >> 2;
            index = std::clamp(index + kAdjust[x & 7], 0, 63);
            int centred = value - 2048;
            centred = (x & 8) ? centred - d : centred + d;
            value = std::clamp(centred, -2048, 2047) + 2048;
            r.samples.push_back(static_cast<uint16_t>(value));
        }
    };
    size_t pos = 0;
    while (size - pos >= 2) {
        const uint8_t b0 = p[pos], b1 = p[pos + 1];
        if (b0 == 0 && b1 == 0) {
            r.ok = true;
            return;
        }
        switch (b0 & 3) {
            case 0: {
                const int count = 16 * (((b1 >> 2) << 6) | (b0 >> 2));
                r.samples.insert(r.samples.end(), static_cast<size_t>(count), uint16_t{2048});
                pos += 2;
                break;
            }
            case 1: {
                if (size - pos < 4u + b1) return;
                nibbles((p[pos + 2] >> 4) | (p[pos + 3] << 4), b0 >> 2, p + pos + 4, 2u * b1);
                pos += 4u + b1;
                break;
            }
            case 2:
                if (size - pos < 4) return;
                r.markers.push_back({static_cast<uint32_t>(r.samples.size()), b1, static_cast<uint8_t>(b0 >> 2)});
                r.samples.push_back(static_cast<uint16_t>((p[pos + 2] >> 4) | (p[pos + 3] << 4)));
                pos += 4;
                break;
            default:
                if (size - pos < 259) return;
                nibbles((b1 >> 4) | (p[pos + 2] << 4), b0 >> 2, p + pos + 3, 512);
                pos += 259;
                break;
        }
    }
}

inline DecodedResource DecodeResource(const std::vector<uint8_t>& bin) {
    DecodedResource r;
    if (bin.size() < 6) return r;
    r.rate = static_cast<uint16_t>(bin[4] | (bin[5] << 8));
    if (std::memcmp(bin.data(), "WMdM", 4) == 0) {
        DecodeWmdmPayload(bin.data() + 6, bin.size() - 6, r);
    } else if (std::memcmp(bin.data(), "WADM", 4) == 0) {
        DecodeWadmPayload(bin.data() + 6, bin.size() - 6, r);
    }
    return r;
}

// The converter library, loaded from the library folder, and its entry.
class OmbryLibrary {
public:
    using Entry = uint32_t(CZ_CALL*)(uint32_t, const char*, const char*, I_ResourceStatInfo*);
    OmbryLibrary() {
        auto lib = platform::Library::LoadSibling("Ombry.dll");
        if (lib) {
            library_ = std::move(*lib);
            entry_ = reinterpret_cast<Entry>(library_.Entry("ConvertResourceToBinary"));
        }
    }
    bool Loaded() const { return entry_ != nullptr; }
    uint32_t Convert(const std::string& chip, const std::string& binary, I_ResourceStatInfo* record = nullptr) const {
        return entry_(0, chip.c_str(), binary.c_str(), record);
    }

private:
    platform::Library library_;
    Entry entry_ = nullptr;
};

}  // namespace cz::test
