// The speech source family's rows of the format table.
#include "formats/registry/FormatDescriptor.h"
#include "formats/wpcm/C_EnSrcFile.h"
#include "formats/wpcm/C_SrcFile.h"

namespace cz {

namespace {
// One reader serves both ids and tells them apart by ReadHeader's variant
// flag (scrambled or not); the scrambled files are written by their own class.
constexpr FormatDescriptor kRows[] = {
    {kFormatSrc, "C_SrcFile", &MakeFormat<C_SrcFile>, ProbeVariant::kPlain, true, true},
    {kFormatEnSrc, "C_SrcFile", &MakeFormat<C_SrcFile>, ProbeVariant::kVariant, false, false},
    {kFormatEnSrc, "C_EnSrcFile", &MakeFormat<C_EnSrcFile>, ProbeVariant::kNone, false, true},
};
}  // namespace

std::span<const FormatDescriptor> WpcmFormatRows() { return kRows; }

}  // namespace cz
