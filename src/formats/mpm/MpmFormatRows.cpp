// The MPM container's row of the format table.
#include "formats/mpm/C_MpmFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
// clang-format off
constexpr FormatDescriptor kRows[] = {
    {kFormatMpm, "C_MpmFile", &MakeFormat<C_MpmFile>, ProbeVariant::kAny, true, true,
     {"mpm", "MPM, chip MDPCM container", "WMPM", 5, 0, false, true,
      "the MDPCM container the MDM line is built on"}},
};
// clang-format on
}  // namespace

std::span<const FormatDescriptor> MpmFormatRows() { return kRows; }

}  // namespace cz
