#include "Json.h"

#include <cmath>
#include <cstdio>

namespace cz::cli {

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char cell[8];
                    std::snprintf(cell, sizeof cell, "\\u%04x", c);
                    out += cell;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

void Json::Before() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) text_ += ", ";
        first_.back() = false;
    }
}

Json& Json::Object() {
    Before();
    text_ += '{';
    first_.push_back(true);
    close_.push_back('}');
    return *this;
}

Json& Json::Array() {
    Before();
    text_ += '[';
    first_.push_back(true);
    close_.push_back(']');
    return *this;
}

Json& Json::End() {
    if (first_.empty()) return *this;
    text_ += close_.back();
    close_.pop_back();
    first_.pop_back();
    return *this;
}

Json& Json::Key(const std::string& key) {
    Before();
    text_ += JsonQuote(key) + ": ";
    afterKey_ = true;
    return *this;
}

Json& Json::String(const std::string& text) {
    Before();
    text_ += JsonQuote(text);
    return *this;
}

Json& Json::Int(long long value) {
    Before();
    text_ += std::to_string(value);
    return *this;
}

Json& Json::Unsigned(unsigned long long value) {
    Before();
    text_ += std::to_string(value);
    return *this;
}

Json& Json::Number(double value, int decimals) {
    if (!std::isfinite(value)) return Null();
    Before();
    char cell[64];
    std::snprintf(cell, sizeof cell, "%.*f", decimals, value);
    text_ += cell;
    return *this;
}

Json& Json::Bool(bool value) {
    Before();
    text_ += value ? "true" : "false";
    return *this;
}

Json& Json::Null() {
    Before();
    text_ += "null";
    return *this;
}

Json& Json::Size(long long bytes) { return bytes < 0 ? Null() : Int(bytes); }

void Json::Print() const { std::printf("%s\n", text_.c_str()); }

}  // namespace cz::cli
