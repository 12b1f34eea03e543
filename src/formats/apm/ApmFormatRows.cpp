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
// clang-format off
constexpr FormatDescriptor kRows[] = {
    {kFormatApm, "C_NewApmFile", &MakeFormat<C_NewApmFile>, ProbeVariant::kAny, true, false,
     {"apm", "APM, 4-bit chip ADPCM (searching coder)", "WAPM", 4, kOptionMode, true, false,
      "APM files of the searching coder: read here, written by C_ApmFile"}},
    {kFormatApm, "C_ApmFile", &MakeFormat<C_ApmFile>, ProbeVariant::kAny, true, true,
     {"apm", "APM, 4-bit chip ADPCM", "WAPM", 4, kOptionMode, true, true,
      "speech and sound prompts at 4 bits a sample: the usual choice for ADPCM chips"}},
    {kFormatApm6Bit, "C_Apm6BitFile", &MakeFormat<C_Apm6BitFile>, ProbeVariant::kAny, true, true,
     {"ap6", "AP6, 6-bit chip ADPCM", "WAP6", 6, kOptionMode, false, true,
      "ADPCM at 6 bits a sample: cleaner than APM at 1.5 times its size"}},
    {kFormatEam, "C_EamFile", &MakeFormat<C_EamFile>, ProbeVariant::kAny, true, true,
     {"eam", "EAM, enhanced chip ADPCM", "WEAM", 4, 0, false, true,
      "4-bit ADPCM from the block-searching coder"}},
    {kFormatE2a, "C_E2aFile", &MakeFormat<C_E2aFile>, ProbeVariant::kAny, true, true,
     {"ad4", "E2A, enhanced chip ADPCM, 16-bit", "WE2A", 4, 0, true, true,
      "4-bit two-tap ADPCM of 16-bit sound, for the chips that play 16-bit samples"}},
    {kFormatPam, "C_PamFile", &MakeFormat<C_PamFile>, ProbeVariant::kAny, true, true,
     {"pam", "PAM, chip ADPCM with pitch periods", "WPAM", 4, 0, true, true,
      "ADPCM that stores a repeated pitch period once: voiced speech in less space"}},
    {kFormatSam, "C_SamFile", &MakeFormat<C_SamFile>, ProbeVariant::kAny, true, true,
     {"sam", "SAM, chip ADPCM", "WSAM", 4, kOptionMode, false, true,
      "APM coding restarted at every voice piece"}},
};
// clang-format on
}  // namespace

std::span<const FormatDescriptor> ApmFormatRows() { return kRows; }

}  // namespace cz
