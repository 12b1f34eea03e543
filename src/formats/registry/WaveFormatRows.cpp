// The WAV class's row of the format table (the class lives in the wave layer,
// which knows nothing of the table).
#include "formats/registry/FormatDescriptor.h"
#include "wave/C_WavFile.h"

namespace cz {

namespace {
constexpr FormatDescriptor kRows[] = {
    {kFormatWav, "C_WavFile", &MakeFormat<C_WavFile>, ProbeVariant::kAny, true, true,
     {"wav", "WAV, PCM", "RIFF", "the common sound file: the input and output of every chain", 0, 0, false, true}},
};
}  // namespace

std::span<const FormatDescriptor> WaveFormatRows() { return kRows; }

}  // namespace cz
