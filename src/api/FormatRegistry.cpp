#include "api/FormatRegistry.h"

#include <array>
#include <cstring>

#include "foundation/C_CUString.h"

namespace cz {

namespace {

// The 50 registry records, in table order.
constexpr std::array<S_FormatRecord, 50> kRecords{{
    {1, ".SRC", 0x01, 0x01},  {13, ".SRC", 0x01, 0x01}, {2, ".WAV", 0x01, 0x01},  {2, ".WIO", 0x01, 0x01},
    {45, ".WIO", 0x01, 0x01}, {3, ".WAM", 0x01, 0x02},  {4, ".WMD", 0x01, 0x04},  {5, ".APM", 0x01, 0x02},
    {6, ".MPM", 0x01, 0x04},  {7, ".WM5", 0x01, 0x04},  {8, ".PC8", 0x01, 0x00},  {21, ".LP8", 0x01, 0x00},
    {12, ".P10", 0x01, 0x10}, {14, ".AP6", 0x01, 0x02}, {15, ".MDM", 0x01, 0x04}, {17, ".MD6", 0x01, 0x04},
    {22, ".CP1", 0x01, 0x00}, {23, ".CP2", 0x01, 0x00}, {16, ".CP3", 0x01, 0x00}, {9, ".MID", 0x02, 0x00},
    {9, ".KAR", 0x02, 0x00},  {10, ".INS", 0x04, 0x00}, {18, ".EAM", 0x01, 0x02}, {19, ".MD5", 0x01, 0x04},
    {20, ".AD4", 0x01, 0x02}, {24, ".PAM", 0x01, 0x02}, {25, ".WAV", 0x04, 0x00}, {26, ".WAV", 0x04, 0x00},
    {27, ".MCP", 0x01, 0x00}, {28, ".SBD", 0x01, 0x00}, {29, ".WLP", 0x01, 0x00}, {30, ".P16", 0x01, 0x00},
    {31, ".MP3", 0x01, 0x00}, {32, ".IMF", 0x02, 0x00}, {33, ".CMF", 0x02, 0x00}, {34, ".MBN", 0x02, 0x00},
    {35, ".CBN", 0x02, 0x00}, {36, ".XMF", 0x02, 0x00}, {37, ".ESB", 0x01, 0x00}, {38, ".WAX", 0x04, 0x00},
    {39, ".S08", 0x01, 0x00}, {40, ".S16", 0x01, 0x00}, {41, ".SAM", 0x01, 0x02}, {42, ".SMM", 0x01, 0x04},
    {43, ".42M", 0x01, 0x04}, {44, ".42P", 0x01, 0x00}, {46, ".MVC", 0x01, 0x00}, {65, ".LFM", 0x10, 0x00},
    {66, ".BMP", 0x10, 0x00}, {161, ".BIN", 0x80, 0x00},
}};

// The 27 four-character codes, in table order.
constexpr std::array<S_FormatCode, 27> kCodes{{
    {45, "WEVO"}, {5, "WADM"},  {6, "WMPM"},  {8, "WPC8"},  {21, "WLP8"}, {12, "WP10"}, {14, "WAP6"},
    {15, "WMdM"}, {17, "WMD6"}, {22, "WCP1"}, {23, "WCP2"}, {16, "WCP3"}, {18, "WEAM"}, {19, "WEMM"},
    {20, "WE2A"}, {24, "WPAM"}, {27, "WMCP"}, {28, "OSBC"}, {29, "WLPC"}, {30, "WP16"}, {39, "WS08"},
    {40, "WS16"}, {41, "WSAM"}, {42, "WSMM"}, {43, "Q42M"}, {44, "Q42P"}, {46, "WMVP"},
}};

}  // namespace

std::span<const S_FormatRecord> FormatRecords() { return kRecords; }
std::span<const S_FormatCode> FormatCodes() { return kCodes; }

uint32_t GetFormatIdFromExtension(const char* extension) {
    if (!extension) return 0;
    for (const auto& record : kRecords)
        if (CompareNoCase(extension, record.extension) == 0) return record.id;
    return 0;
}

const char* GetExtensionOfFormat(uint32_t id) {
    for (const auto& record : kRecords)
        if (record.id == id) return record.extension;
    return nullptr;
}

}  // namespace cz
