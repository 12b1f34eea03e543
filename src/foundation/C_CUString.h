// The string class used for every path and text: a byte string with the few
// extra operations the library relies on.
#pragma once

#include <cstdarg>
#include <string>

namespace cz {

class C_CUString : public std::string {
public:
    C_CUString() = default;
    C_CUString(const char* text) : std::string(text ? text : "") {}
    C_CUString(const std::string& text) : std::string(text) {}
    C_CUString(std::string&& text) : std::string(std::move(text)) {}
    C_CUString(const char* text, size_t length) : std::string(text, length) {}

    // The zero-terminated text; an empty text when the string is empty.
    const char* Text() const { return c_str(); }
    size_t Length() const { return size(); }

    // sprintf-style formatting, replacing the content.
    C_CUString& Format(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    C_CUString& FormatV(const char* format, va_list args);

    C_CUString& TrimLeft();
    C_CUString& TrimRight();
    C_CUString& Trim() { return TrimRight().TrimLeft(); }

    C_CUString Left(size_t count) const;
    C_CUString Mid(size_t first, size_t count = npos) const;
    C_CUString Right(size_t count) const;

    C_CUString Upper() const;
    bool EqualsNoCase(const std::string& other) const;
};

// Case-insensitive comparison of 8-bit texts (ASCII letters only).
int CompareNoCase(const std::string& a, const std::string& b);
// printf into a std::string.
std::string FormatString(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace cz
