#include "foundation/ByteArrayHeader.h"

namespace cz::byte_array {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool IdentifierChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::string CNamePart(const std::string& text) {
    std::string name = text;
    for (char& c : name)
        if (!IdentifierChar(c)) c = '_';
    return name;
}

std::string Symbol(const std::string& text) {
    std::string name = CNamePart(text);
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) name = "res_" + name;
    return name;
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

HeaderText::HeaderText(Style style, const std::string& name, size_t size) : style_(style), size_(size) {
    if (style_ == Style::kPlain) {
        text_ = "const unsigned char g_aby" + name + "[] = \r\n{\r\n";
        return;
    }
    for (char c : name) upper_ += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    const std::string guard = upper_ + "_H";
    text_ = "/* Chip resource made by cadenzor. */\n#ifndef " + guard + "\n#define " + guard + "\n\n";
    text_ += "#define " + upper_ + "_LENGTH " + std::to_string(size) + "u\n\n";
    text_ += "static const unsigned char " + name + "[" + std::to_string(size ? size : 1) + "] = {";
}

void HeaderText::Add(const uint8_t* bytes, size_t count) {
    text_.reserve(text_.size() + count * 6 + 8);
    for (size_t k = 0; k < count; ++k, ++added_) {
        const uint8_t b = bytes[k];
        if (style_ == Style::kPlain) {
            if (added_ == 0)
                text_ += "0x";
            else if (added_ % 8 == 0)
                text_ += ",\r\n0x";
            else
                text_ += ", 0x";
        } else {
            if (added_ > 0) text_ += ',';
            if (added_ % 16 == 0) text_ += "\n   ";
            text_ += " 0x";
        }
        text_ += kHex[b >> 4];
        text_ += kHex[b & 15];
    }
}

void HeaderText::End() {
    if (style_ == Style::kPlain) {
        text_ += "\r\n};\r\n";
        return;
    }
    if (added_ == 0) text_ += "0";
    text_ += "\n};\n\n#endif /* " + upper_ + "_H */\n";
}

std::string HeaderText::Take() {
    std::string out;
    out.swap(text_);
    return out;
}

std::string FirmwareArray(const std::string& symbol, const std::vector<uint8_t>& bytes) {
    HeaderText text(Style::kFirmware, symbol, bytes.size());
    text.Take();  // the guard and the length constant are the caller's
    text.Add(bytes.data(), bytes.size());
    if (bytes.empty()) return "static const unsigned char " + symbol + "[1] = {0\n};\n";
    return "static const unsigned char " + symbol + "[" + std::to_string(bytes.size()) + "] = {" + text.Take() +
           "\n};\n";
}

std::string Text(Style style, const std::string& name, const std::vector<uint8_t>& bytes) {
    HeaderText text(style, name, bytes.size());
    text.Add(bytes.data(), bytes.size());
    text.End();
    return text.Take();
}

}  // namespace cz::byte_array
