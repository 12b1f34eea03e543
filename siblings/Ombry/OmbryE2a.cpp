// E2A file -> "WE2A" resource.
//
// The frame section of an E2A file is already the chip's block stream: the
// resource is the 6-byte header and the blocks from the first one up to and
// including the 00 00 end mark, each checked against its size first.
//
// Blocks (type = bits 0-1 of the first byte b0, n = (b0 >> 2) + 1):
//   0  silence   2 bytes        (b1 >> 2) << 6 | b0 >> 2 samples
//   1  short     5 + n / 2      n samples
//   2  marker    4 bytes        one sample and a marker
//   3  long      3 + 34 n       1 + 64 n samples
//   00 00        end
#include <algorithm>
#include <cstring>

#include "OmbryResource.h"
#include "foundation/ByteReader.h"

namespace ombry {

namespace {

constexpr size_t kE2aHeaderSize = 62;
constexpr size_t kE2aFrameHeaderSize = 14;

}  // namespace

bool BuildWe2aResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures) {
    if (file.size() < kE2aHeaderSize) return false;
    const uint8_t* h = file.data();
    if (std::memcmp(h, "WE2A", 4) != 0 || cz::LoadU16(h + 6) != kE2aHeaderSize || cz::LoadU16(h + 8) != 1 ||
        cz::LoadU16(h + 46) != 16)
        return false;
    const uint16_t rate = cz::LoadU16(h + 12);
    const uint32_t sectionAt = cz::LoadU32(h + 28), sectionSize = cz::LoadU32(h + 32);
    if (rate == 0 || sectionSize < kE2aFrameHeaderSize || !Inside(file, sectionAt, sectionSize)) return false;
    const uint8_t* f = file.data() + sectionAt;
    if (std::memcmp(f, "MFRM", 4) != 0) return false;
    const uint32_t first = cz::LoadU32(f + 6), length = cz::LoadU32(f + 10);
    if (first < uint64_t{sectionAt} + kE2aFrameHeaderSize ||
        uint64_t{first} + length > uint64_t{sectionAt} + sectionSize)
        return false;

    const std::span<const uint8_t> blocks = file.subspan(first, length);
    uint64_t samples = 0;
    uint32_t markers = 0;
    size_t pos = 0;
    bool ended = false;
    while (pos + 2 <= blocks.size()) {
        const uint8_t b0 = blocks[pos], b1 = blocks[pos + 1];
        if (b0 == 0 && b1 == 0) {
            ended = true;
            pos += 2;
            break;
        }
        const size_t n = (b0 >> 2) + 1u;
        size_t size = 0;
        switch (b0 & 3) {
            case 0:
                size = 2;
                samples += (static_cast<uint32_t>(b1 >> 2) << 6) | (b0 >> 2);
                break;
            case 1:
                size = 5 + n / 2;
                samples += n;
                break;
            case 2:
                size = 4;
                samples += 1;
                ++markers;
                break;
            default:
                size = 3 + 34 * n;
                samples += 1 + 64 * n;
                break;
        }
        if (size > blocks.size() - pos) return false;
        pos += size;
    }
    // A stream without its end mark is cut short: nothing the chip could play safely.
    if (!ended) return false;

    std::vector<uint8_t> resource = ResourceHeader("WE2A", rate);
    resource.insert(resource.end(), blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(pos));
    figures.sampleRate = rate;
    figures.sampleCount = static_cast<uint32_t>(std::min<uint64_t>(samples, UINT32_MAX));
    figures.markerCount = markers;
    out = std::move(resource);
    return true;
}

}  // namespace ombry
