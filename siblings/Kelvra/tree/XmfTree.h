// Reading an XMF file (versions 1.00, 1.01 and Mobile XMF 2.00) into the list
// of its file nodes' resources, and the resource type the helper reports.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvra {

// Caps on what an XMF file may make the reader do.
constexpr size_t kMaxFileSize = 256u << 20;
constexpr size_t kMaxInflated = 64u << 20;
constexpr size_t kMaxNodes = 4096;
constexpr int kMaxDepth = 32;
// Node headers read in all, each link of an in-file node reference counted.
constexpr size_t kMaxVisits = 4 * kMaxNodes;
// What the nodes may hold together: the file's bytes twice (resources found
// by offset may overlap) and what was unpacked, kMaxInflated in all. Only
// nodes that share bytes over and over go beyond the file's share.
constexpr size_t HeldCap(size_t fileSize) { return 2 * fileSize + kMaxInflated; }

enum class ResourceFormat { kUnknown, kSmf0, kSmf1, kDls1, kDls2, kDls21, kMobileDls, kOwn };

struct Resource {
    int depth = 0;        // 0 for the root node
    bool folder = false;  // folder nodes carry no bytes
    uint32_t items = 0;   // contained items of a folder
    std::string name;     // the node's name field, when it has one
    ResourceFormat format = ResourceFormat::kUnknown;
    int ownType = 0;      // our own type (1..5, 8) when format is kOwn
    bool packed = false;  // stored through the zlib unpacker
    std::vector<uint8_t> bytes;
};

struct XmfTree {
    std::string version;                          // "1.00", "1.01" or "2.00"
    uint32_t fileType = 0, fileTypeRevision = 0;  // Mobile XMF only
    std::vector<Resource> nodes;                  // every node, in tree order
};

// Parses the whole file; false with a reason on any fault.
bool ParseXmf(std::span<const uint8_t> file, XmfTree& tree, std::string& error);

// The type number the helper reports for a parsed tree (0: none it knows).
int ResourceType(const XmfTree& tree);

// The first file node of the given kind, or null.
const Resource* FirstSmf(const XmfTree& tree);
const Resource* FirstDls(const XmfTree& tree);

const char* FormatName(ResourceFormat format);

}  // namespace kelvra
