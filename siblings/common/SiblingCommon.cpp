#include "SiblingCommon.h"

#include "platform/Platform.h"
#include "platform/SafeFiles.h"

namespace cz::sibling {

bool ReadWholeFile(const std::string& path, uint64_t maxSize, std::vector<uint8_t>& bytes) {
    auto file = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!file) return false;
    auto size = file->Size();
    if (!size || *size > maxSize) return false;
    bytes.resize(static_cast<size_t>(*size));
    return bytes.empty() || file->ReadExact(bytes.data(), bytes.size());
}

bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) {
    auto output = platform::AtomicOutput::Begin(path);
    if (!output) return false;
    if (!bytes.empty() && !output->Out().Write(bytes.data(), bytes.size())) return false;
    return output->Commit();
}

}  // namespace cz::sibling
