// The speech-coder family's rows of the format table.
#include "formats/ext/C_PcmVariants.h"
#include "formats/ext/C_Q420PcmFile.h"
#include "formats/ext/C_SbdFile.h"
#include "formats/registry/FormatDescriptor.h"

namespace cz {

namespace {
// clang-format off
constexpr FormatDescriptor kRows[] = {
    {kFormatPc8, "C_Pc8File", &MakeFormat<C_Pc8File>, ProbeVariant::kAny, true, true,
     {"pc8", "PC8, 8-bit chip PCM voice", "WPC8", 8, 0, true, true,
      "plain 8-bit PCM: no coding noise beyond 8 bits, the largest 8-bit resource"}},
    {kFormatClp1, "C_Clp1File", &MakeFormat<C_Clp1File>, ProbeVariant::kAny, true, true,
     {"cp1", "CP1, codec-library speech (CLP line)", "WCP1", 0, 0, false, false,
      "CLP-line speech, read only: its coder is not part of this library"}},
    {kFormatClp2, "C_Clp2File", &MakeFormat<C_Clp2File>, ProbeVariant::kAny, true, true,
     {"cp2", "CP2, codec-library speech (CLP line)", "WCP2", 0, 0, false, false,
      "CLP-line speech, read only: its coder is not part of this library"}},
    {kFormatClp3, "C_Clp3File", &MakeFormat<C_Clp3File>, ProbeVariant::kAny, true, true,
     {"cp3", "CP3, codec-library speech (CLP line)", "WCP3", 0, 0, false, false,
      "CLP-line speech, read only: its coder is not part of this library"}},
    {kFormatMcp, "C_MclpFile", &MakeFormat<C_MclpFile>, ProbeVariant::kAny, true, true,
     {"mcp", "MCP, codec-library speech", "WMCP", 0, kOptionMode, true, true,
      "frame-coded speech from a codec library at a low bit rate"}},
    {kFormatSbd, "C_SbdFile", &MakeFormat<C_SbdFile>, ProbeVariant::kAny, true, true,
     {"sbd", "SBD, codec-library speech", "WSBD", 0, kOptionBitrate, true, true,
      "frame-coded speech from a codec library, its bit rate set by --bitrate"}},
    {kFormatWlp, "C_WlpcFile", &MakeFormat<C_WlpcFile>, ProbeVariant::kAny, true, true,
     {"wlp", "WLP, codec-library speech", "WLPC", 0, kOptionMode, true, true,
      "frame-coded LPC speech from a codec library"}},
    {kFormatEsb, "C_EsbFile", &MakeFormat<C_EsbFile>, ProbeVariant::kAny, true, true,
     {"esb", "ESB, codec-library speech", "WESB", 0, kOptionBitrate | kOptionQuality, true, true,
      "frame-coded speech at the lowest bit rates (--bitrate, --quality)"}},
    {kFormatMvclp, "C_MvclpFile", &MakeFormat<C_MvclpFile>, ProbeVariant::kAny, true, true,
     {"mvc", "MVC, codec-library speech", "WMVP", 0, kOptionMode, true, true,
      "frame-coded speech from a codec library (MVC line)"}},
    {kFormatP16, "C_P16File", &MakeFormat<C_P16File>, ProbeVariant::kAny, true, true,
     {"p16", "P16, 16-bit chip PCM", "WP16", 16, 0, true, true,
      "16-bit PCM: no coding loss, the largest resource"}},
    {kFormatS16, "C_S16File", &MakeFormat<C_S16File>, ProbeVariant::kAny, true, true,
     {"s16", "S16, 16-bit chip PCM", "WS16", 16, 0, true, true,
      "16-bit PCM with every sample stored twice"}},
    {kFormatS08, "C_S08File", &MakeFormat<C_S08File>, ProbeVariant::kAny, true, true,
     {"s08", "S08, 8-bit chip PCM", "WS08", 8, 0, true, true,
      "8-bit PCM with every sample stored twice"}},
    {kFormatLp8, "C_Lp8File", &MakeFormat<C_Lp8File>, ProbeVariant::kAny, true, true,
     {"lp8", "LP8, 8-bit companded chip PCM", "WLP8", 8, 0, true, true,
      "8-bit companded PCM: more range than PC8 at the same size"}},
    {kFormatP10, "C_P10File", &MakeFormat<C_P10File>, ProbeVariant::kAny, true, true,
     {"p10", "P10, 10-bit packed chip PCM", "WP10", 10, 0, true, true,
      "10-bit PCM packed in groups, with action records"}},
    {kFormatQ420Pcm, "C_Q420PcmFile", &MakeFormat<C_Q420PcmFile>, ProbeVariant::kAny, true, true,
     {"42p", "Q42P, chip PCM", "Q42P", 8, 0, false, true,
      "the Q420 chip's PCM"}},
};
// clang-format on
}  // namespace

std::span<const FormatDescriptor> ExtFormatRows() { return kRows; }

}  // namespace cz
