// The MDM family's rows of the format table.
#include "formats/mdm/C_EmmFile.h"
#include "formats/mdm/C_Mdm6BitFile.h"
#include "formats/mdm/C_MdmFile.h"
#include "formats/mdm/C_Q420MpmFile.h"
#include "formats/mdm/C_SmmFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
constexpr FormatDescriptor kRows[] = {
    {kFormatMdm, "C_MdmFile", &MakeFormat<C_MdmFile>, ProbeVariant::kAny, true, true},
    {kFormatMdm6Bit, "C_Mdm6BitFile", &MakeFormat<C_Mdm6BitFile>, ProbeVariant::kAny, true, true},
    {kFormatEmm, "C_EmmFile", &MakeFormat<C_EmmFile>, ProbeVariant::kAny, true, true},
    {kFormatSmm, "C_SmmFile", &MakeFormat<C_SmmFile>, ProbeVariant::kAny, true, true},
    {kFormatQ420Mpm, "C_Q420MpmFile", &MakeFormat<C_Q420MpmFile>, ProbeVariant::kAny, true, true},
};
}  // namespace

std::span<const FormatDescriptor> MdmFormatRows() { return kRows; }

}  // namespace cz
