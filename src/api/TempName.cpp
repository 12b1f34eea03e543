#include "api/TempName.h"

#include <algorithm>

#include "platform/Platform.h"

namespace cz {

TempNames::~TempNames() {
    for (const auto& path : paths_) platform::DeleteFile(path);
}

std::string TempNames::Placeholder(const char* prefix) {
    auto name = platform::CreateTempFile(platform::TempDirectory(), prefix ? prefix : "");
    if (!name) return std::string();
    paths_.push_back(*name);
    return *name;
}

std::string TempNames::Derived(const std::string& placeholder, const std::string& suffix) {
    std::string name = placeholder + suffix;
    paths_.push_back(name);
    return name;
}

void TempNames::Remove(const std::string& path) {
    platform::DeleteFile(path);
    paths_.erase(std::remove(paths_.begin(), paths_.end(), path), paths_.end());
}

}  // namespace cz
