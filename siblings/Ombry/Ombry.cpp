// The library's one entry: ConvertResourceToBinary(0, chip file, binary,
// resource record). Reads the chip file whole, builds the resource in memory
// and writes it only when it is complete, so a failure leaves no file.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "OmbryResource.h"
#include "api/resconv/I_ResourceStatInfo.h"
#include "cadenzor/cadenzor.h"
#include "common/SiblingCommon.h"

namespace {

// Chip files are small; anything larger is not one.
constexpr uint64_t kMaxChipFileSize = 512ull << 20;

}  // namespace

CZ_SIBLING_EXPORT uint32_t CZ_CALL ConvertResourceToBinary(uint32_t, const char* chipPath, const char* binaryPath,
                                                           cz::I_ResourceStatInfo* record) {
    try {
        if (chipPath == nullptr || binaryPath == nullptr || *chipPath == '\0' || *binaryPath == '\0') return 0;
        std::vector<uint8_t> chipFile;
        if (!cz::sibling::ReadWholeFile(chipPath, kMaxChipFileSize, chipFile)) return 0;
        std::vector<uint8_t> resource;
        ombry::ResourceFigures figures;
        if (!ombry::BuildResource(chipFile, resource, figures)) return 0;
        if (!cz::sibling::WriteWholeFile(binaryPath, resource)) return 0;
        if (record != nullptr) {
            record->SetBinarySize(static_cast<uint32_t>(resource.size()));
            record->SetSampleRate(figures.sampleRate);
            record->SetSampleCount(figures.sampleCount);
            const uint64_t ms = figures.sampleRate ? uint64_t{figures.sampleCount} * 1000 / figures.sampleRate : 0;
            record->SetDuration(static_cast<uint32_t>(std::min<uint64_t>(ms, UINT32_MAX)));
            record->SetMarkerCount(figures.markerCount);
        }
        return 1;
    } catch (...) {
        return 0;
    }
}
