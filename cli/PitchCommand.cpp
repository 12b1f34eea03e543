// cadenzor pitch IN OUT (--factor F | --semitones N): period-wise pitch
// shifting. --factor changes the length by F with every pitch period kept
// as it is; --semitones keeps the length and moves the pitch.
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "ProgressBar.h"
#include "api/chains/PitchChain.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatTable.h"
#include "foundation/RefPtr.h"
#include "platform/Platform.h"
#include "wave/C_WavFile.h"

namespace cz::cli {

int RunPitch(const Options& options) {
    const std::vector<std::string>& files = options.inputs;
    const std::string& output = options.output;
    const bool overwrite = options.overwrite, quiet = options.quiet;
    const bool haveFactor = options.haveFactor, haveSemitones = options.haveSemitones;
    const double factor = options.factor, semitones = options.semitones;
    const std::string& input = files.front();
    if (const std::string why = UnreadableReason(input); !why.empty()) {
        Fail(input, why);
        return kExitFailed;
    }
    const std::string extension = ExtensionOf(output);
    const uint32_t formatId = extension.empty() ? kFormatNone : FormatIdForExtension(extension.substr(1));
    const FormatDescriptor* row = FindFormat(formatId);
    if (formatId == kFormatNone || !row || !row->facts.output) {
        Fail(output, "not a format the tool writes (use " + FormatListText() + ")");
        return kExitUsage;
    }
    if (!overwrite && platform::FileExists(output)) {
        Fail(output, "the file exists (use -y to overwrite it)");
        return kExitFailed;
    }

    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(input.c_str());
    if (!file) {
        Fail(input, factory.LastFailure());
        return kExitFailed;
    }
    C_WavData* sound = static_cast<C_WavData*>(file->GetWavData());
    if (!sound) {
        Fail(input, "the file holds no sound");
        return kExitFailed;
    }
    const double pitchFactor = haveFactor ? factor : api::SemitoneFactor(semitones);
    std::string why;
    {
        ProgressBar detection("pitch periods", quiet);
        ProgressBar resampling("resampling", quiet);
        if (!api::ShiftPitch(*sound, pitchFactor, haveSemitones, &detection, &resampling, &why)) {
            Fail(input, why);
            return kExitFailed;
        }
    }
    // The sound is in memory: the output may replace the input.
    C_WavFile writer;
    writer.AttachWavData(sound);
    const int32_t saved = writer.SaveAs(formatId, output.c_str());
    writer.DetachWavData();
    if (!saved) {
        Fail(output, "cannot write the shifted sound in this format");
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace cz::cli
