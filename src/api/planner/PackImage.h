// The resource pack image (docs/resource-pack.md): magic "CZPK", layout
// version 1, the prompt count, a table of offsets and lengths, then the
// resources, each starting at a multiple of 4 with zero bytes between them.
// The image's size follows from the resource sizes alone, so a plan knows
// the exact bytes before anything is coded again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cz::api::planner {

constexpr size_t kPackAlign = 4;
constexpr size_t kPackMaxPrompts = 0xFFFF;

// 8 + 8 x N, then every resource aligned but the last.
uint64_t PackImageBytes(const std::vector<uint64_t>& sizes);

// The image of the resources in order; false with *failure when there are
// more than 65535 or it would pass 4 GiB.
bool BuildPackImage(const std::vector<std::vector<uint8_t>>& resources, std::vector<uint8_t>& image,
                    std::vector<uint32_t>& offsets, std::string* failure);

// A prompt's name for C: its file name without folder and extension, in
// capitals, every other character an underscore, "P_" before a leading digit.
std::string PromptName(const std::string& path);
// The names of the prompts, made distinct with "_2", "_3", ...
std::vector<std::string> PromptNames(const std::vector<std::string>& paths);

// The header for the firmware build: the prompts as an enumeration, their
// offsets and sizes, and the image as a byte array. description goes into
// the opening comment ("3 prompts, apm").
std::string PackHeaderText(const std::string& imagePath, const std::vector<uint8_t>& image,
                           const std::vector<std::string>& names, const std::vector<uint32_t>& offsets,
                           const std::vector<uint32_t>& sizes, const std::string& description);

}  // namespace cz::api::planner
