// An IMF melody back to a Standard MIDI File: convert song.imf song.mid.
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "foundation/C_CUString.h"
#include "midi/imf/ImfFormat.h"
#include "midi/xmf/XmfWriter.h"
#include "platform/Platform.h"

namespace cz::cli {

int RunConvertFromImf(const Options& options) {
    const std::string& input = options.inputs.front();
    const std::string& output = options.output;
    const std::string ext = ExtensionOf(output);
    if (CompareNoCase(ext, ".mid") != 0 && CompareNoCase(ext, ".midi") != 0) {
        Fail(output, "an IMF melody converts to a Standard MIDI File (.mid)");
        return kExitUsage;
    }
    const char* notForMelodies = options.haveRate          ? "--rate"
                                 : !options.binary.empty() ? "--bin"
                                 : options.mode >= 0       ? "--mode"
                                 : options.source          ? "--source"
                                                           : nullptr;
    if (notForMelodies) {
        Fail(input, std::string(notForMelodies) + " does not apply to IMF input");
        return kExitUsage;
    }
    if (!options.overwrite && platform::FileExists(output)) {
        Fail(output, "the file exists (use -y to overwrite it)");
        return kExitFailed;
    }
    std::vector<uint8_t> bytes;
    if (!xmf::ReadWholeFile(input.c_str(), bytes)) {
        Fail(input, "cannot be read");
        return kExitFailed;
    }
    imf::ImfSong song;
    std::string error;
    if (!imf::ParseImf(bytes, song, error)) {
        Fail(input, "not a readable IMF melody: " + error);
        return kExitFailed;
    }
    // The song is in memory: the output may replace the input.
    const std::vector<uint8_t> midi = imf::ImfToSmf(song);
    std::string failure;
    if (!PublishBytes(output, midi.data(), midi.size(), &failure)) {
        Fail(output, failure);
        return kExitFailed;
    }
    if (options.verbose) std::fprintf(stderr, "cadenzor: wrote %s\n", output.c_str());
    return kExitOk;
}

}  // namespace cz::cli
