// The older speech files' rows of the format table: WAM and the two WMD forms.
#include "formats/legacy/C_WamFile.h"
#include "formats/legacy/C_WmdFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
constexpr FormatDescriptor kRows[] = {
    {kFormatWam, "C_WamFile", &MakeFormat<C_WamFile>, ProbeVariant::kAny, true, true},
    {kFormatWmd, "C_WmdFile", &MakeFormat<C_WmdFile>, ProbeVariant::kAny, true, true},
    {kFormatQ310Wmd, "C_Q310WmdFile", &MakeFormat<C_Q310WmdFile>, ProbeVariant::kAny, true, true},
};
}  // namespace

std::span<const FormatDescriptor> LegacyFormatRows() { return kRows; }

}  // namespace cz
