// MDM file -> "WMdM" resource.
//
// The records of an MDM frame section are already what the chip plays: the
// resource is the 6-byte header and the records from the first frame up to
// and including the FF end record, each checked against its size first.
//
// Records (type = first byte c AND 7, bit 0 of c announces a command word,
// which the chip reads as a marker):
//   0, 1  42, 44 bytes   frame of 1 + 64 samples (8 groups of 8 differences)
//   2, 3  12, 14 bytes   frame of 1 + 16 samples (2 groups)
//   4, 5  3, 5 bytes     silence: u16 length (after the command word for 5)
//   6, 7  3 + n, 5 + n   raw: first sample byte, (command word), n, n bytes
//   FF                   end
#include <cstring>

#include "OmbryResource.h"
#include "foundation/ByteReader.h"

namespace ombry {

namespace {

constexpr size_t kMpmHeaderSize = 62;
constexpr size_t kFrameHeaderSize = 14;
constexpr uint8_t kEndRecord = 0xFF;

// Record sizes and samples of the fixed-size records, by type.
struct RecordShape {
    uint8_t size;
    uint8_t samples;
};
constexpr RecordShape kFrameShapes[4] = {{42, 65}, {44, 65}, {12, 17}, {14, 17}};

// The frame records [begin, end) of the file; false when the section is not there.
bool FindFrames(std::span<const uint8_t> file, uint16_t& rate, size_t& begin, size_t& end) {
    if (file.size() < kMpmHeaderSize) return false;
    const uint8_t* h = file.data();
    if (std::memcmp(h, "WMDM", 4) != 0 || cz::LoadU16(h + 6) != kMpmHeaderSize || cz::LoadU16(h + 8) != 1) {
        return false;
    }
    rate = cz::LoadU16(h + 12);
    const uint32_t sectionAt = cz::LoadU32(h + 28);
    const uint32_t sectionSize = cz::LoadU32(h + 32);
    if (rate == 0 || sectionSize < kFrameHeaderSize || !Inside(file, sectionAt, sectionSize)) return false;
    const uint8_t* f = file.data() + sectionAt;
    if (std::memcmp(f, "MFRM", 4) != 0) return false;
    const uint32_t firstFrame = cz::LoadU32(f + 6);
    const uint32_t length = cz::LoadU32(f + 10);
    const uint64_t sectionEnd = uint64_t{sectionAt} + sectionSize;
    if (firstFrame < sectionAt + kFrameHeaderSize || uint64_t{firstFrame} + length > sectionEnd) return false;
    begin = firstFrame;
    end = firstFrame + length;
    return true;
}

}  // namespace

bool BuildWmdmResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures) {
    uint16_t rate = 0;
    size_t begin = 0, end = 0;
    if (!FindFrames(file, rate, begin, end)) return false;

    const std::span<const uint8_t> records = file.subspan(begin, end - begin);
    uint64_t samples = 0;
    uint32_t markers = 0;
    size_t pos = 0;
    bool ended = false;
    while (pos < records.size()) {
        const uint8_t c = records[pos];
        if (c == kEndRecord) {
            ended = true;
            ++pos;
            break;
        }
        const size_t left = records.size() - pos;
        const uint8_t* r = records.data() + pos;
        const unsigned type = c & 7u;
        const bool marker = (c & 1u) != 0;
        size_t size = 0;
        switch (type) {
            case 0:
            case 1:
            case 2:
            case 3:
                size = kFrameShapes[type].size;
                if (left < size) return false;
                samples += kFrameShapes[type].samples;
                break;
            case 4:
            case 5:
                size = marker ? 5 : 3;
                if (left < size) return false;
                samples += cz::LoadU16(r + size - 2);
                break;
            default: {
                const size_t countAt = marker ? 4 : 2;
                if (left <= countAt) return false;
                size = countAt + 1 + r[countAt];
                if (left < size) return false;
                samples += 1u + r[countAt];
                break;
            }
        }
        if (marker) ++markers;
        pos += size;
    }
    // A section without its end record is cut short: nothing the chip could play safely.
    if (!ended) return false;

    std::vector<uint8_t> resource = ResourceHeader("WMdM", rate);
    resource.reserve(6 + pos);
    resource.insert(resource.end(), records.begin(), records.begin() + static_cast<std::ptrdiff_t>(pos));
    figures.sampleRate = rate;
    figures.sampleCount = static_cast<uint32_t>(std::min<uint64_t>(samples, UINT32_MAX));
    figures.markerCount = markers;
    out = std::move(resource);
    return true;
}

ChipFormat DetectChipFormat(std::span<const uint8_t> file) {
    if (file.size() < 4) return ChipFormat::kUnknown;
    if (std::memcmp(file.data(), "WAPM", 4) == 0 || std::memcmp(file.data(), "WNAP", 4) == 0) return ChipFormat::kApm;
    if (std::memcmp(file.data(), "WMDM", 4) == 0) return ChipFormat::kMdm;
    if (std::memcmp(file.data(), "WE2A", 4) == 0) return ChipFormat::kE2a;
    if (std::memcmp(file.data(), "Q42M", 4) == 0) return ChipFormat::kQ420Mpm;
    for (const char* code : {"WPC8", "WMCP", "WMVP", "WLPC", "WSBD", "WESB", "WP16", "WS16", "WS08", "WLP8", "WP10", "WPAM"})
        if (std::memcmp(file.data(), code, 4) == 0) return ChipFormat::kCodec;
    return ChipFormat::kUnknown;
}

bool BuildResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures) {
    switch (DetectChipFormat(file)) {
        case ChipFormat::kApm: return BuildWadmResource(file, out, figures);
        case ChipFormat::kMdm: return BuildWmdmResource(file, out, figures);
        case ChipFormat::kCodec: return BuildCodecResource(file, out, figures);
        case ChipFormat::kE2a: return BuildWe2aResource(file, out, figures);
        case ChipFormat::kQ420Mpm: return BuildQ42mResource(file, out, figures);
        default: return false;
    }
}

}  // namespace ombry
