// The converter library's readers on arbitrary bytes: the APM -> "WADM",
// MDM -> "WMdM" and speech-coder builders run from memory. Byte 0 picks how the rest is fed:
// as it is (0), or with the APM (1) or MDM (2) code stamped over its first
// four bytes so that the layout checks behind the code are reached.
//
// Byte 0 = 3 stamps the E2A code, whose "WE2A" resource is played by the
// library's RBF decoder to its end mark.
//
// The builders are compiled into this program from the library's sources.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../siblings/Ombry/OmbryApm.cpp"
#include "../siblings/Ombry/OmbryMdm.cpp"
#include "../siblings/Ombry/OmbryCodec.cpp"
#include "../siblings/Ombry/OmbryE2a.cpp"
#include "codecs/rbf/RbfCoding.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// Walks a built resource's blocks and counts the samples and markers it
// plays; the walk must end exactly at the end mark, which ends the binary.
void CheckWadm(const std::vector<uint8_t>& r, const ombry::ResourceFigures& figures) {
    Check(r.size() >= 8 && std::memcmp(r.data(), "WADM", 4) == 0);
    uint64_t samples = 0, markers = 0;
    size_t pos = 6;
    for (;;) {
        Check(r.size() - pos >= 2);
        const uint8_t b0 = r[pos], b1 = r[pos + 1];
        if (b0 == 0 && b1 == 0) break;
        switch (b0 & 3) {
            case 0: samples += 16u * (((b1 >> 2) << 6) | (b0 >> 2)), pos += 2; break;
            case 1: samples += 1u + 2u * b1, pos += 4u + b1; break;
            case 2: samples += 1, ++markers, pos += 4; break;
            default: samples += 513, pos += 259; break;
        }
        Check(pos <= r.size());
    }
    Check(pos + 2 == r.size() && samples == figures.sampleCount && markers == figures.markerCount);
}

void CheckWmdm(const std::vector<uint8_t>& r, const ombry::ResourceFigures& figures) {
    Check(r.size() >= 7 && std::memcmp(r.data(), "WMdM", 4) == 0 && r.back() == 0xFF);
    uint64_t samples = 0, markers = 0;
    size_t pos = 6;
    while (r[pos] != 0xFF) {
        const uint8_t c = r[pos];
        const bool marker = (c & 1) != 0;
        markers += marker;
        switch (c & 7) {
            case 0:
            case 1: samples += 65, pos += marker ? 44 : 42; break;
            case 2:
            case 3: samples += 17, pos += marker ? 14 : 12; break;
            case 4:
            case 5: {
                const size_t at = pos + (marker ? 3 : 1);
                Check(at + 2 <= r.size());
                samples += static_cast<uint32_t>(r[at] | (r[at + 1] << 8));
                pos += marker ? 5 : 3;
                break;
            }
            default: {
                const size_t at = pos + (marker ? 4 : 2);
                Check(at < r.size());
                samples += 1u + r[at];
                pos = at + 1 + r[at];
                break;
            }
        }
        Check(pos < r.size());
    }
    Check(pos + 1 == r.size() && samples == figures.sampleCount && markers == figures.markerCount);
}

// A speech-coder resource: the file's code ("OSBC" for SBD), the rate, then
// the frame section as saved, opaque to the converter.
void CheckCodecResource(const std::vector<uint8_t>& file, const std::vector<uint8_t>& r,
                        const ombry::ResourceFigures& figures) {
    Check(r.size() >= 6 && figures.sampleRate != 0 && figures.markerCount == 0);
    const bool sbd = std::memcmp(file.data(), "WSBD", 4) == 0;
    Check(std::memcmp(r.data(), sbd ? "OSBC" : reinterpret_cast<const char*>(file.data()), 4) == 0);
    Check((r[4] | r[5] << 8) == static_cast<int>(figures.sampleRate));
}

void CheckWe2a(const std::vector<uint8_t>& r, const ombry::ResourceFigures& figures) {
    Check(r.size() >= 8 && std::memcmp(r.data(), "WE2A", 4) == 0);
    struct Count : cz::RbfSampleSink {
        bool Put(uint16_t, uint32_t) override { return true; }
    } sink;
    const cz::RbfDecodeResult played = cz::OpenRbfDecoder(r)->Decode(std::span<const uint8_t>(r).subspan(6), sink);
    Check(played.ok() && played.endMark && r[r.size() - 2] == 0 && r.back() == 0);
    Check(played.samples == figures.sampleCount && played.markers.size() == figures.markerCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<uint8_t> file(data + 1, data + size);
    if (file.size() >= 4 && data[0] == 1) std::memcpy(file.data(), "WAPM", 4);
    if (file.size() >= 4 && data[0] == 2) std::memcpy(file.data(), "WMDM", 4);
    if (file.size() >= 4 && data[0] == 3) std::memcpy(file.data(), "WE2A", 4);

    std::vector<uint8_t> resource;
    ombry::ResourceFigures figures;
    if (ombry::BuildResource(file, resource, figures)) {
        switch (ombry::DetectChipFormat(file)) {
            case ombry::ChipFormat::kApm: CheckWadm(resource, figures); break;
            case ombry::ChipFormat::kMdm: CheckWmdm(resource, figures); break;
            case ombry::ChipFormat::kE2a: CheckWe2a(resource, figures); break;
            default: CheckCodecResource(file, resource, figures); break;
        }
    } else {
        Check(resource.empty());
    }
    return 0;
}
