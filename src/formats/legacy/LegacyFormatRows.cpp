// The older speech files' rows of the format table: WAM and the two WMD forms.
#include "formats/legacy/C_WamFile.h"
#include "formats/legacy/C_WmdFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
// clang-format off
constexpr FormatDescriptor kRows[] = {
    {kFormatWam, "C_WamFile", &MakeFormat<C_WamFile>, ProbeVariant::kAny, true, true,
     {"wam", "WAM, chip ADPCM", "WADM", 4, kOptionMode, false, true,
      "older chips' 4-bit ADPCM speech behind a short header"}},
    {kFormatWmd, "C_WmdFile", &MakeFormat<C_WmdFile>, ProbeVariant::kAny, true, true,
     {"wmd", "WMD, chip 5-bit delta modulation", "WMDM", 5, 0, false, true,
      "older chips' MDPCM speech, 5-bit differences in 16-bit words"}},
    {kFormatQ310Wmd, "C_Q310WmdFile", &MakeFormat<C_Q310WmdFile>, ProbeVariant::kAny, true, true,
     {"wm5", "WMD, Q310 chip delta modulation", "WMD5", 5, 0, false, true,
      "the Q310 chip's form of WMD"}},
};
// clang-format on
}  // namespace

std::span<const FormatDescriptor> LegacyFormatRows() { return kRows; }

}  // namespace cz
