// Q420 MPM file -> "Q42M" resource.
//
// The frame section of a Q420 MPM file is the chip's word stream itself:
// the resource is the 6-byte header ("Q42M", u16 rate) and the words from the
// first frame up to and including the end word 0x0208, each command checked
// to have its operands inside the section first.
//
// Words (16-bit little-endian): (w AND 0x03E0) != 0x0200: data, two samples;
// 0x0208 end; 0x0201, n: 2 x (n AND 0x03FF) samples; 0x0202, t, c: marker;
// other commands one word (0x0210 | k sets the scale).
#include <cstring>

#include "OmbryResource.h"
#include "foundation/ByteReader.h"

namespace ombry {

namespace {

constexpr size_t kQ42mMpmHeaderSize = 62;
constexpr size_t kQ42mFrameHeaderSize = 14;
constexpr uint16_t kQ42mEndWord = 0x0208;
constexpr uint16_t kQ42mRunWord = 0x0201;
constexpr uint16_t kQ42mMarkerWord = 0x0202;

// The words [begin, end) of the file's frame section; false when it is not there.
bool FindQ42mWords(std::span<const uint8_t> file, uint16_t& rate, size_t& begin, size_t& end) {
    if (file.size() < kQ42mMpmHeaderSize) return false;
    const uint8_t* h = file.data();
    if (std::memcmp(h, "Q42M", 4) != 0 || cz::LoadU16(h + 6) != kQ42mMpmHeaderSize || cz::LoadU16(h + 8) != 1)
        return false;
    rate = cz::LoadU16(h + 12);
    const uint32_t sectionAt = cz::LoadU32(h + 28);
    const uint32_t sectionSize = cz::LoadU32(h + 32);
    if (rate == 0 || sectionSize < kQ42mFrameHeaderSize || !Inside(file, sectionAt, sectionSize)) return false;
    const uint8_t* f = file.data() + sectionAt;
    if (std::memcmp(f, "MFRM", 4) != 0) return false;
    const uint32_t firstFrame = cz::LoadU32(f + 6);
    const uint32_t length = cz::LoadU32(f + 10);
    const uint64_t sectionEnd = uint64_t{sectionAt} + sectionSize;
    if (firstFrame < sectionAt + kQ42mFrameHeaderSize || uint64_t{firstFrame} + length > sectionEnd) return false;
    begin = firstFrame;
    end = firstFrame + length;
    return true;
}

}  // namespace

bool BuildQ42mResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures) {
    uint16_t rate = 0;
    size_t begin = 0, end = 0;
    if (!FindQ42mWords(file, rate, begin, end)) return false;
    const std::span<const uint8_t> words = file.subspan(begin, end - begin);
    uint64_t samples = 0;
    uint32_t markers = 0;
    size_t pos = 0;
    bool ended = false;
    while (words.size() - pos >= 2) {
        const uint16_t w = cz::LoadU16(words.data() + pos);
        pos += 2;
        if ((w & 0x03E0) != 0x0200) {
            samples += 2;
            continue;
        }
        if (w == kQ42mEndWord) {
            ended = true;
            break;
        }
        const size_t operands = w == kQ42mRunWord ? 1 : w == kQ42mMarkerWord ? 2 : 0;
        if ((words.size() - pos) / 2 < operands) return false;
        if (w == kQ42mRunWord) samples += 2u * (cz::LoadU16(words.data() + pos) & 0x03FFu);
        if (w == kQ42mMarkerWord) ++markers;
        pos += 2 * operands;
    }
    // Without its end word the stream would run on into whatever follows.
    if (!ended) return false;

    std::vector<uint8_t> resource = ResourceHeader("Q42M", rate);
    resource.insert(resource.end(), words.begin(), words.begin() + static_cast<std::ptrdiff_t>(pos));
    figures.sampleRate = rate;
    figures.sampleCount = static_cast<uint32_t>(std::min<uint64_t>(samples, UINT32_MAX));
    figures.markerCount = markers;
    out = std::move(resource);
    return true;
}

}  // namespace ombry
