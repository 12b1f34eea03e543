// The MDM family's rows of the format table.
#include "formats/mdm/C_MdmFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
constexpr FormatDescriptor kRows[] = {
    {kFormatMdm, "C_MdmFile", &MakeFormat<C_MdmFile>, ProbeVariant::kAny, true, true},
};
}  // namespace

std::span<const FormatDescriptor> MdmFormatRows() { return kRows; }

}  // namespace cz
