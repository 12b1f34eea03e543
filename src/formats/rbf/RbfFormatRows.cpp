// The RBF family's row of the format table: opened by the factory (at its
// place after the Q420 classes), with no id, no probe and no writer.
#include "formats/rbf/C_RBFFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
constexpr FormatDescriptor kRows[] = {
    {kFormatNone, "C_RBFFile", &MakeFormat<C_RBFFile>, ProbeVariant::kNone, true, false},
};
}  // namespace

std::span<const FormatDescriptor> RbfFormatRows() { return kRows; }

}  // namespace cz
