// The library's one entry: ConvertResourceToBinary(0, chip file, binary,
// resource record). Reads the chip file whole, builds the resource in memory
// and writes it only when it is complete, so a failure leaves no file.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "OmbryResource.h"
#include "api/I_ResourceStatInfo.h"
#include "cadenzor/cadenzor.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"

#if defined(_WIN32)
#define OMBRY_EXPORT extern "C" __declspec(dllexport)
#else
#define OMBRY_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Chip files are small; anything larger is not one.
constexpr uint64_t kMaxChipFileSize = 512ull << 20;

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes) {
    auto file = cz::platform::File::Open(path, cz::platform::open_flags::kRead |
                                                   cz::platform::open_flags::kShareDenyWrite);
    if (!file) return false;
    auto size = file->Size();
    if (!size || *size > kMaxChipFileSize) return false;
    bytes.resize(static_cast<size_t>(*size));
    return bytes.empty() || file->ReadExact(bytes.data(), bytes.size());
}

// Written beside its name and put in place when complete: a failed write
// leaves an existing binary of that name as it was.
bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
    auto output = cz::platform::AtomicOutput::Begin(path);
    if (!output) return false;
    if (!bytes.empty() && !output->Out().Write(bytes.data(), bytes.size())) return false;
    return output->Commit();
}

}  // namespace

OMBRY_EXPORT uint32_t CZ_CALL ConvertResourceToBinary(uint32_t, const char* chipPath, const char* binaryPath,
                                                      cz::I_ResourceStatInfo* record) {
    try {
        if (chipPath == nullptr || binaryPath == nullptr || *chipPath == '\0' || *binaryPath == '\0') return 0;
        std::vector<uint8_t> chipFile;
        if (!ReadWhole(chipPath, chipFile)) return 0;
        std::vector<uint8_t> resource;
        ombry::ResourceFigures figures;
        if (!ombry::BuildResource(chipFile, resource, figures)) return 0;
        if (!WriteWhole(binaryPath, resource)) return 0;
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
