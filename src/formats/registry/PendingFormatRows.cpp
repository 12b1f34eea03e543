// Format classes the tables name that are not built yet. Each keeps its place
// in the open order and the probe table and refuses everything (no create);
// when a class lands, its row moves to its family's file with its create.
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
constexpr FormatDescriptor kRows[] = {
    {kFormatMdm6Bit, "C_Mdm6BitFile", nullptr, ProbeVariant::kAny, true, true},
    {kFormatEmm, "C_EmmFile", nullptr, ProbeVariant::kAny, true, true},
    {kFormatQ420Mpm, "C_Q420MpmFile", nullptr, ProbeVariant::kAny, true, true},
    {kFormatSmm, "C_SmmFile", nullptr, ProbeVariant::kAny, true, true},
};
}  // namespace

std::span<const FormatDescriptor> PendingFormatRows() { return kRows; }

}  // namespace cz
