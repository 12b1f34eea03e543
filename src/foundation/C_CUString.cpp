#include "foundation/C_CUString.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace cz {

namespace {
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

std::string VFormat(const char* format, va_list args) {
    if (!format) return std::string();
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(needed));
}
}  // namespace

C_CUString& C_CUString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
    return *this;
}

C_CUString& C_CUString::FormatV(const char* format, va_list args) {
    assign(VFormat(format, args));
    return *this;
}

C_CUString& C_CUString::TrimLeft() {
    size_t i = 0;
    while (i < size() && IsSpace((*this)[i])) ++i;
    erase(0, i);
    return *this;
}

C_CUString& C_CUString::TrimRight() {
    size_t n = size();
    while (n > 0 && IsSpace((*this)[n - 1])) --n;
    resize(n);
    return *this;
}

C_CUString C_CUString::Left(size_t count) const { return C_CUString(substr(0, count)); }

C_CUString C_CUString::Mid(size_t first, size_t count) const {
    if (first >= size()) return C_CUString();
    return C_CUString(substr(first, count));
}

C_CUString C_CUString::Right(size_t count) const {
    if (count >= size()) return *this;
    return C_CUString(substr(size() - count));
}

C_CUString C_CUString::Upper() const {
    C_CUString out(*this);
    for (auto& c : out) c = cz::Upper(c);
    return out;
}

bool C_CUString::EqualsNoCase(const std::string& other) const { return CompareNoCase(*this, other) == 0; }

int CompareNoCase(const std::string& a, const std::string& b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        int ca = static_cast<unsigned char>(Upper(a[i]));
        int cb = static_cast<unsigned char>(Upper(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = VFormat(format, args);
    va_end(args);
    return out;
}

}  // namespace cz
