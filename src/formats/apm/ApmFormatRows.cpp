// The APM family's rows of the format table.
#include "formats/apm/C_Apm6BitFile.h"
#include "formats/apm/C_ApmFile.h"
#include "formats/apm/C_E2aFile.h"
#include "formats/apm/C_EamFile.h"
#include "formats/apm/C_NewApmFile.h"
#include "formats/apm/C_PamFile.h"
#include "formats/apm/C_SamFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
// Two readers share id 5, the search coder's class first (it accepts only its
// own files); id 5 is written by C_ApmFile, the class whose coder the APM
// conversion is built on.
constexpr FormatDescriptor kRows[] = {
    {kFormatApm, "C_NewApmFile", &MakeFormat<C_NewApmFile>, ProbeVariant::kAny, true, false},
    {kFormatApm, "C_ApmFile", &MakeFormat<C_ApmFile>, ProbeVariant::kAny, true, true},
    {kFormatApm6Bit, "C_Apm6BitFile", &MakeFormat<C_Apm6BitFile>, ProbeVariant::kAny, true, true},
    {kFormatEam, "C_EamFile", &MakeFormat<C_EamFile>, ProbeVariant::kAny, true, true},
    {kFormatE2a, "C_E2aFile", &MakeFormat<C_E2aFile>, ProbeVariant::kAny, true, true},
    {kFormatPam, "C_PamFile", &MakeFormat<C_PamFile>, ProbeVariant::kAny, true, true},
    {kFormatSam, "C_SamFile", &MakeFormat<C_SamFile>, ProbeVariant::kAny, true, true},
};
}  // namespace

std::span<const FormatDescriptor> ApmFormatRows() { return kRows; }

}  // namespace cz
