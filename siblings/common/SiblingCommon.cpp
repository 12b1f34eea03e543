#include "SiblingCommon.h"

#include "platform/Platform.h"

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
    auto file = platform::File::Open(path, platform::open_flags::kWrite | platform::open_flags::kCreate |
                                               platform::open_flags::kShareExclusive);
    if (!file) return false;
    bool ok = file->Write(bytes.data(), bytes.size());
    ok = file->Close() && ok;
    if (!ok) platform::DeleteFile(path);
    return ok;
}

}  // namespace cz::sibling
