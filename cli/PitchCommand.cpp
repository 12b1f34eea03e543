// cadenzor pitch IN OUT (--factor F | --semitones N): period-wise pitch
// shifting. --factor changes the length by F with every pitch period kept
// as it is; --semitones keeps the length and moves the pitch.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Commands.h"
#include "ProgressBar.h"
#include "api/chains/PitchChain.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "foundation/RefPtr.h"
#include "platform/Platform.h"
#include "wave/C_WavFile.h"

namespace cz::cli {

namespace {

const char kPitchUsage[] =
    "usage: cadenzor pitch IN OUT (--factor F | --semitones N) [-y] [-q]\n"
    "\n"
    "Shift the pitch of a sound by whole pitch periods.\n"
    "\n"
    "options:\n"
    "  --factor F        the length times F (0.25 to 4), every pitch period kept as it is;\n"
    "                    played F times faster it is F times higher\n"
    "  --semitones N     the pitch N semitones up (down for negative N, -24 to 24) at the\n"
    "                    same length: stretched by 2^(N/12), then resampled back\n"
    "  -o FILE           the output (instead of the second file name)\n"
    "  -y                overwrite the output if it exists\n"
    "  -q                no progress bar\n"
    "OUT's extension names the format (.wav, .apm, ...); the rate stays the input's.\n"
    "Only voiced sound has pitch periods: a sound without them (noise, a whisper) is\n"
    "refused, and so is a shift whose length its periods alone cannot carry.\n";

int PitchUsage(const std::string& message) {
    std::fprintf(stderr, "cadenzor: %s\nTry 'cadenzor pitch --help'.\n", message.c_str());
    return kExitUsage;
}

bool ParseDouble(const std::string& text, double* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

}  // namespace

int RunPitch(const std::vector<std::string>& words) {
    std::vector<std::string> files;
    std::string output;
    bool overwrite = false, quiet = false, haveFactor = false, haveSemitones = false;
    double factor = 1.0, semitones = 0.0;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& a = words[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= words.size()) return false;
            *out = words[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            std::fputs(kPitchUsage, stdout);
            return kExitOk;
        } else if (a == "-y") {
            overwrite = true;
        } else if (a == "-q") {
            quiet = true;
        } else if (a == "-v") {
        } else if (a == "-o") {
            if (!value(&output)) return PitchUsage("-o needs a file name");
        } else if (a == "--factor") {
            if (!value(&v) || !ParseDouble(v, &factor) || factor < 0.25 || factor > 4.0)
                return PitchUsage("--factor takes a number from 0.25 to 4");
            haveFactor = true;
        } else if (a == "--semitones") {
            if (!value(&v) || !ParseDouble(v, &semitones) || semitones < -24.0 || semitones > 24.0)
                return PitchUsage("--semitones takes a number from -24 to 24");
            haveSemitones = true;
        } else if (a == "--") {
            files.insert(files.end(), words.begin() + static_cast<long>(i) + 1, words.end());
            break;
        } else if (!a.empty() && a[0] == '-') {
            return PitchUsage("unknown option '" + a + "'");
        } else {
            files.push_back(a);
        }
    }
    if (output.empty() && files.size() == 2) {
        output = files.back();
        files.pop_back();
    }
    if (files.size() != 1 || output.empty()) return PitchUsage("pitch needs one input and one output file");
    if (haveFactor == haveSemitones) return PitchUsage("pitch needs either --factor F or --semitones N");
    const std::string& input = files.front();
    if (const std::string why = UnreadableReason(input); !why.empty()) {
        Fail(input, why);
        return kExitFailed;
    }
    const std::string extension = ExtensionOf(output);
    const uint32_t formatId = extension.empty() ? kFormatNone : FormatIdForExtension(extension.substr(1));
    if (formatId == kFormatNone) {
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
