// Format classes the tables name that are not built yet. Each keeps its place
// in the open order and the probe table and refuses everything (no create);
// when a class lands, its row moves to its family's file with its create.
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
constexpr FormatDescriptor kRows[] = {
    {kFormatPam, "C_PamFile", nullptr, ProbeVariant::kAny, true, true},
};
}  // namespace

std::span<const FormatDescriptor> PendingFormatRows() { return kRows; }

}  // namespace cz
