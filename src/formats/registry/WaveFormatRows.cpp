// The WAV class's row of the format table (the class lives in the wave layer,
// which knows nothing of the table).
#include "formats/registry/FormatDescriptor.h"
#include "wave/C_WavFile.h"

namespace cz {

namespace {
// clang-format off
constexpr FormatDescriptor kRows[] = {
    {kFormatWav, "C_WavFile", &MakeFormat<C_WavFile>, ProbeVariant::kAny, true, true,
     {"wav", "WAV, PCM", "RIFF", 0, 0, false, true,
      "the common sound file: the input and output of every chain"}},
};
// clang-format on
}  // namespace

std::span<const FormatDescriptor> WaveFormatRows() { return kRows; }

}  // namespace cz
