// The MDM family's rows of the format table.
#include "formats/mdm/C_EmmFile.h"
#include "formats/mdm/C_Mdm6BitFile.h"
#include "formats/mdm/C_MdmFile.h"
#include "formats/mdm/C_Q420MpmFile.h"
#include "formats/mdm/C_SmmFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
// clang-format off
constexpr FormatDescriptor kRows[] = {
    {kFormatMdm, "C_MdmFile", &MakeFormat<C_MdmFile>, ProbeVariant::kAny, true, true,
     {"mdm", "MDM, chip MDPCM", "WMDM", 5, 0, true, true,
      "speech at 5 bits a sample in MDPCM frames: the usual choice for MDPCM chips"}},
    {kFormatMdm6Bit, "C_Mdm6BitFile", &MakeFormat<C_Mdm6BitFile>, ProbeVariant::kAny, true, true,
     {"md6", "MD6, 6-bit chip MDPCM", "WMD6", 6, 0, false, true,
      "MDPCM at 6 bits a sample: cleaner than MDM, larger"}},
    {kFormatEmm, "C_EmmFile", &MakeFormat<C_EmmFile>, ProbeVariant::kAny, true, true,
     {"md5", "EMM, enhanced chip MDPCM", "WEMM", 5, 0, false, true,
      "MDM frames from the scale-searching coder"}},
    {kFormatSmm, "C_SmmFile", &MakeFormat<C_SmmFile>, ProbeVariant::kAny, true, true,
     {"smm", "SMM, chip MDPCM", "WSMM", 5, 0, false, true,
      "compact MDM: frames continue from the last sample, no start values"}},
    {kFormatQ420Mpm, "C_Q420MpmFile", &MakeFormat<C_Q420MpmFile>, ProbeVariant::kAny, true, true,
     {"42m", "Q42M, free-frame MDPCM", "Q42M", 5, 0, true, true,
      "the Q420 chip's MDPCM word stream (two 5-bit differences a word)"}},
};
// clang-format on
}  // namespace

std::span<const FormatDescriptor> MdmFormatRows() { return kRows; }

}  // namespace cz
