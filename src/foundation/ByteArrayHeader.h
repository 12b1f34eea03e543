// C headers that hold a file's bytes as an array, in the two styles the
// library and the tool write:
//
//   plain     "const unsigned char g_aby<name>[] = \r\n{\r\n", the bytes as
//             0xAB, eight to a line, then "\r\n};\r\n" (CR LF line ends);
//   firmware  a comment, an include guard, a <SYMBOL>_LENGTH constant and
//             "static const unsigned char <symbol>[N] = {...};", sixteen
//             bytes to a line.
//
// The text is made in pieces (Begin, Add, End), so that a large binary never
// sits in memory as text: take what has been made with Take() at any point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cz::byte_array {

enum class Style { kPlain, kFirmware };

// text with every character that cannot stand in a C identifier made "_"
// ("-", ".", spaces, bytes above 127); letters, digits and "_" stay. The
// result may start with a digit (see Symbol).
std::string CNamePart(const std::string& text);

// A whole C identifier from text: CNamePart, with "res_" in front when it
// would start with a digit or be empty.
std::string Symbol(const std::string& text);

// The file name of a path without its folders ("/", "\\" and ":" end one).
std::string FileNameOf(const std::string& path);

class HeaderText {
public:
    // plain: name follows "g_aby" as given (CNamePart of it is the caller's
    // choice); firmware: name is the array's symbol and, in capitals, the
    // stem of the guard and the length constant. size is the number of bytes
    // that will be added (the firmware style states it up front).
    HeaderText(Style style, const std::string& name, size_t size);

    void Add(const uint8_t* bytes, size_t count);
    void End();
    // The text made since the last Take.
    std::string Take();

private:
    Style style_;
    std::string upper_;
    size_t size_;
    size_t added_ = 0;
    std::string text_;
};

// "static const unsigned char <symbol>[N] = {" and the bytes in the firmware
// style, then "\n};\n": the array alone, for headers that hold more.
std::string FirmwareArray(const std::string& symbol, const std::vector<uint8_t>& bytes);

// The whole header text of bytes at once.
std::string Text(Style style, const std::string& name, const std::vector<uint8_t>& bytes);

}  // namespace cz::byte_array
