// Resources of the speech-coder files: the resource code and rate, then the
// frame section as saved (layout in OmbryResource.h).
#include <cstring>

#include "OmbryResource.h"

namespace ombry {

namespace {
uint32_t CodecU32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t CodecU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
}  // namespace

bool BuildCodecResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures) {
    if (file.size() < 62) return false;
    const uint16_t rate = CodecU16(&file[12]);
    const uint32_t frameOffset = CodecU32(&file[28]), frameSize = CodecU32(&file[32]);
    if (rate == 0 || frameSize < 14 || !Inside(file, frameOffset, frameSize) ||
        std::memcmp(&file[frameOffset], "MFRM", 4) != 0)
        return false;
    char code[5] = {};
    std::memcpy(code, file.data(), 4);
    if (std::memcmp(code, "WSBD", 4) == 0) std::memcpy(code, "OSBC", 4);
    std::vector<uint8_t> resource = ResourceHeader(code, rate);
    resource.insert(resource.end(), file.begin() + frameOffset + 14, file.begin() + frameOffset + frameSize);
    figures.sampleRate = rate;
    figures.sampleCount = CodecU32(&file[52]);
    figures.markerCount = 0;
    out.swap(resource);
    return true;
}

}  // namespace ombry
