// The speech source family's rows of the format table.
#include "formats/registry/FormatDescriptor.h"
#include "formats/wpcm/C_EnSrcFile.h"
#include "formats/wpcm/C_SrcFile.h"

namespace cz {

namespace {
// One reader serves both ids and tells them apart by ReadHeader's variant
// flag (scrambled or not); the scrambled files are written by their own class.
// clang-format off
constexpr FormatDescriptor kRows[] = {
    {kFormatSrc, "C_SrcFile", &MakeFormat<C_SrcFile>, ProbeVariant::kPlain, true, true,
     {"src", "SRC, speech source (12-bit PCM with its segments)", "WPCM", 12, 0, false, true,
      "the chip tools' speech source: 12-bit PCM with its voice and silence segments"}},
    {kFormatEnSrc, "C_SrcFile", &MakeFormat<C_SrcFile>, ProbeVariant::kVariant, false, false,
     {"src", "SRC, scrambled speech source", "WPCM", 12, 0, false, false,
      "a speech source whose samples are scrambled"}},
    {kFormatEnSrc, "C_EnSrcFile", &MakeFormat<C_EnSrcFile>, ProbeVariant::kNone, false, true,
     {"src", "SRC, scrambled speech source", "WPCM", 12, 0, false, false,
      "a speech source whose samples are scrambled"}},
};
// clang-format on
}  // namespace

std::span<const FormatDescriptor> WpcmFormatRows() { return kRows; }

}  // namespace cz
