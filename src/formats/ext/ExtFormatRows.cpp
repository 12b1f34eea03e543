// The speech-coder family's rows of the format table.
#include "formats/ext/C_PcmVariants.h"
#include "formats/ext/C_Q420PcmFile.h"
#include "formats/ext/C_SbdFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
constexpr FormatDescriptor kRows[] = {
    {kFormatPc8, "C_Pc8File", &MakeFormat<C_Pc8File>, ProbeVariant::kAny, true, true},
    {kFormatClp1, "C_Clp1File", &MakeFormat<C_Clp1File>, ProbeVariant::kAny, true, true},
    {kFormatClp2, "C_Clp2File", &MakeFormat<C_Clp2File>, ProbeVariant::kAny, true, true},
    {kFormatClp3, "C_Clp3File", &MakeFormat<C_Clp3File>, ProbeVariant::kAny, true, true},
    {kFormatMcp, "C_MclpFile", &MakeFormat<C_MclpFile>, ProbeVariant::kAny, true, true},
    {kFormatSbd, "C_SbdFile", &MakeFormat<C_SbdFile>, ProbeVariant::kAny, true, true},
    {kFormatWlp, "C_WlpcFile", &MakeFormat<C_WlpcFile>, ProbeVariant::kAny, true, true},
    {kFormatEsb, "C_EsbFile", &MakeFormat<C_EsbFile>, ProbeVariant::kAny, true, true},
    {kFormatMvclp, "C_MvclpFile", &MakeFormat<C_MvclpFile>, ProbeVariant::kAny, true, true},
    {kFormatP16, "C_P16File", &MakeFormat<C_P16File>, ProbeVariant::kAny, true, true},
    {kFormatS16, "C_S16File", &MakeFormat<C_S16File>, ProbeVariant::kAny, true, true},
    {kFormatS08, "C_S08File", &MakeFormat<C_S08File>, ProbeVariant::kAny, true, true},
    {kFormatLp8, "C_Lp8File", &MakeFormat<C_Lp8File>, ProbeVariant::kAny, true, true},
    {kFormatP10, "C_P10File", &MakeFormat<C_P10File>, ProbeVariant::kAny, true, true},
    {kFormatQ420Pcm, "C_Q420PcmFile", &MakeFormat<C_Q420PcmFile>, ProbeVariant::kAny, true, true},
};
}  // namespace

std::span<const FormatDescriptor> ExtFormatRows() { return kRows; }

}  // namespace cz
