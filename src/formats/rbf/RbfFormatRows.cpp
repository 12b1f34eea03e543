// The RBF family's row of the format table: opened by the factory (at its
// place after the Q420 classes), with no id, no probe and no writer.
#include "formats/rbf/C_RBFFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
// clang-format off
constexpr FormatDescriptor kRows[] = {
    {kFormatRbf, "C_RBFFile", &MakeFormat<C_RBFFile>, ProbeVariant::kNone, true, false,
     {"rbf", "RBF, chip resource binary", "", 0, 0, false, false,
      "the resource binary itself, as the chip stores it (read, cut, played; its code names the coding)"}},
};
// clang-format on
}  // namespace

std::span<const FormatDescriptor> RbfFormatRows() { return kRows; }

}  // namespace cz
