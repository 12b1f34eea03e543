#include "foundation/C_CUFilePath.h"

#include <cctype>

namespace cz {

void C_CUFilePath::Split(const char* path) {
    std::string p = path ? path : "";
    drive_.clear();
    directory_.clear();
    title_.clear();
    extension_.clear();
    size_t start = 0;
    if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) {
        drive_ = p.substr(0, 2);
        start = 2;
    }
    size_t lastSep = p.find_last_of("\\/");
    size_t nameStart = start;
    if (lastSep != std::string::npos && lastSep >= start) {
        directory_ = p.substr(start, lastSep + 1 - start);
        nameStart = lastSep + 1;
    }
    std::string name = p.substr(nameStart);
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) {
        title_ = name;
    } else {
        title_ = name.substr(0, dot);
        extension_ = name.substr(dot);
    }
}

}  // namespace cz
