#include "platform/Win32ErrorText.h"

#include <array>
#include <string_view>

namespace cz::platform {

namespace {
struct ErrorTextRow {
    uint32_t code;
    std::string_view text;
};

// The system message texts of the Win32 error codes.
constexpr std::array<ErrorTextRow, 28> kErrorTexts{{
    {0, "The operation completed successfully."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {17, "The system cannot move the file to a different disk drive."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {25, "The drive cannot locate a specific area or track on the disk."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {183, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
}};
}  // namespace

std::string Win32ErrorText(uint32_t code) {
    for (const auto& row : kErrorTexts)
        if (row.code == code) return std::string(row.text);
    return "Unknown error " + std::to_string(code) + ".";
}

}  // namespace cz::platform
