// Byte-array headers: names that are C identifiers for any file name, the
// plain and firmware texts, and the text made in pieces equal to the whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/ByteArrayHeader.h"

namespace {

using namespace cz::byte_array;

TEST(ByteArrayHeader, NamesAreCIdentifiers) {
    struct Case {
        const char* text;
        const char* part;
        const char* symbol;
    };
    const Case cases[] = {
        {"beep.bin", "beep_bin", "beep_bin"},
        {"2nd-prompt.bin", "2nd_prompt_bin", "res_2nd_prompt_bin"},
        {"my prompt (1).apm", "my_prompt__1__apm", "my_prompt__1__apm"},
        {"dup/menu/beep.bin", "dup_menu_beep_bin", "dup_menu_beep_bin"},
        {"\xc3\xa9t\xc3\xa9.bin", "__t___bin", "__t___bin"},
        {"", "", "res_"},
        {"Voice_2", "Voice_2", "Voice_2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CNamePart(c.text), c.part) << c.text;
        EXPECT_EQ(Symbol(c.text), c.symbol) << c.text;
    }
    EXPECT_EQ(FileNameOf("a/b\\c:d.bin"), "d.bin");
    EXPECT_EQ(FileNameOf("plain"), "plain");
}

TEST(ByteArrayHeader, PlainAndFirmwareTexts) {
    const std::vector<uint8_t> nine = {1, 2, 3, 4, 5, 6, 7, 8, 0xAB};
    EXPECT_EQ(Text(Style::kPlain, "x_bin", nine),
              "const unsigned char g_abyx_bin[] = \r\n{\r\n0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, "
              "0x08,\r\n0xAB\r\n};\r\n");
    EXPECT_EQ(Text(Style::kPlain, "x", {}), "const unsigned char g_abyx[] = \r\n{\r\n\r\n};\r\n");
    EXPECT_EQ(Text(Style::kFirmware, "res_2nd_bin", {0x0F, 0xF0}),
              "/* Chip resource made by cadenzor. */\n#ifndef RES_2ND_BIN_H\n#define RES_2ND_BIN_H\n\n"
              "#define RES_2ND_BIN_LENGTH 2u\n\nstatic const unsigned char res_2nd_bin[2] = {\n    0x0F, 0xF0\n};\n\n"
              "#endif /* RES_2ND_BIN_H */\n");
    EXPECT_NE(Text(Style::kFirmware, "e", {}).find("e[1] = {0\n};"), std::string::npos);
    std::vector<uint8_t> seventeen(17, 0x11);
    const std::string array = FirmwareArray("a", seventeen);
    EXPECT_EQ(array.rfind("static const unsigned char a[17] = {\n    0x11,", 0), 0u) << array;
    EXPECT_NE(array.find("0x11,\n    0x11\n};\n"), std::string::npos) << array;
}

TEST(ByteArrayHeader, PiecesMakeTheWholeText) {
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37);
    for (Style style : {Style::kPlain, Style::kFirmware}) {
        HeaderText text(style, "n", bytes.size());
        std::string pieces;
        for (size_t at = 0; at < bytes.size(); at += 7) {
            text.Add(bytes.data() + at, std::min<size_t>(7, bytes.size() - at));
            pieces += text.Take();
        }
        text.End();
        pieces += text.Take();
        EXPECT_EQ(pieces, Text(style, "n", bytes));
    }
}

}  // namespace
