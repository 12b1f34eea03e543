// Temporary file names for the conversion chains: a unique empty placeholder
// in the system temporary folder, and names derived from it. Every name made
// here is removed when the object goes away.
#pragma once

#include <string>
#include <vector>

namespace cz {

class TempNames {
public:
    TempNames() = default;
    ~TempNames();
    TempNames(const TempNames&) = delete;
    TempNames& operator=(const TempNames&) = delete;

    // A new placeholder (an empty file, created exclusively); empty on failure.
    std::string Placeholder(const char* prefix = "");
    // placeholder + suffix (e.g. "_16000.wav"), removed later as well.
    std::string Derived(const std::string& placeholder, const std::string& suffix);
    void Remove(const std::string& path);

private:
    std::vector<std::string> paths_;
};

}  // namespace cz
