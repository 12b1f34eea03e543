#include "api/planner/PackImage.h"

#include <cctype>
#include <cstdio>

#include "foundation/ByteArrayHeader.h"

namespace cz::api::planner {

namespace {

constexpr char kPackMagic[4] = {'C', 'Z', 'P', 'K'};
constexpr uint16_t kPackVersion = 1;

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t Aligned(uint64_t n) { return (n + kPackAlign - 1) / kPackAlign * kPackAlign; }

}  // namespace

uint64_t PackImageBytes(const std::vector<uint64_t>& sizes) {
    uint64_t total = 8 + 8 * static_cast<uint64_t>(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) total = (i ? Aligned(total) : total) + sizes[i];
    return total;
}

bool BuildPackImage(const std::vector<std::vector<uint8_t>>& resources, std::vector<uint8_t>& image,
                    std::vector<uint32_t>& offsets, std::string* failure) {
    const size_t count = resources.size();
    if (count > kPackMaxPrompts) {
        if (failure) *failure = "a pack holds at most 65535 prompts";
        return false;
    }
    image.assign(8 + 8 * count, 0);
    offsets.clear();
    std::copy(kPackMagic, kPackMagic + 4, image.begin());
    Put16(image, 4, kPackVersion);
    Put16(image, 6, static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i) {
        while (image.size() % kPackAlign) image.push_back(0);
        if (image.size() + resources[i].size() > 0xFFFFFFFFull) {
            if (failure) *failure = "the pack would be larger than 4 GiB";
            return false;
        }
        offsets.push_back(static_cast<uint32_t>(image.size()));
        Put32(image, 8 + 8 * i, offsets.back());
        Put32(image, 12 + 8 * i, static_cast<uint32_t>(resources[i].size()));
        image.insert(image.end(), resources[i].begin(), resources[i].end());
    }
    return true;
}

std::string PromptName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    std::string name;
    for (unsigned char c : base) name += std::isalnum(c) ? static_cast<char>(std::toupper(c)) : '_';
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) name = "P_" + name;
    return name;
}

std::vector<std::string> PromptNames(const std::vector<std::string>& paths) {
    std::vector<std::string> names;
    for (const auto& path : paths) {
        std::string name = PromptName(path), unique = name;
        for (int n = 2;; ++n) {
            bool taken = false;
            for (const auto& other : names) taken = taken || other == unique;
            if (!taken) break;
            unique = name + "_" + std::to_string(n);
        }
        names.push_back(unique);
    }
    return names;
}

std::string PackHeaderText(const std::string& imagePath, const std::vector<uint8_t>& image,
                           const std::vector<std::string>& names, const std::vector<uint32_t>& offsets,
                           const std::vector<uint32_t>& sizes, const std::string& description) {
    const size_t count = names.size();
    const std::string upper = PromptName(imagePath);
    std::string array = upper;
    for (char& c : array) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string guard = upper + "_H";
    std::string h = "/* Resource pack made by cadenzor: " + description +
                    ". Layout: docs/resource-pack.md. */\n#ifndef " + guard + "\n#define " + guard + "\n\n";
    h += "#define " + upper + "_LENGTH " + std::to_string(image.size()) + "u\n";
    h += "#define " + upper + "_COUNT " + std::to_string(count) + "u\n\nenum " + array + "_prompt {\n";
    for (size_t i = 0; i < count; ++i) h += "    " + upper + "_" + names[i] + " = " + std::to_string(i) + ",\n";
    h += "};\n\nstatic const unsigned long " + array + "_offset[" + std::to_string(count) + "] = {";
    for (size_t i = 0; i < count; ++i) h += (i ? ", " : "") + std::to_string(offsets[i]) + "u";
    h += "};\nstatic const unsigned long " + array + "_size[" + std::to_string(count) + "] = {";
    for (size_t i = 0; i < count; ++i) h += (i ? ", " : "") + std::to_string(sizes[i]) + "u";
    h += "};\n\n" + byte_array::FirmwareArray(array, image);
    h += "\n#endif /* " + guard + " */\n";
    return h;
}

}  // namespace cz::api::planner
