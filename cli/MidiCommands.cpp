// The MIDI side of the tool: "info" on Standard MIDI Files and "convert" to
// XMF containers.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "Commands.h"
#include "api/chains/Chains.h"
#include "api/resconv/C_ResourceConverter.h"
#include "platform/SafeFiles.h"
#include "dsp/resample/C_PCMResample.h"
#include "formats/registry/FormatId.h"
#include "midi/smf/C_MidiEvent.h"
#include "midi/smf/C_MidiFile.h"
#include "platform/Platform.h"

namespace cz::cli {

bool IsMidiFile(const std::string& path) {
    auto file = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    char magic[4] = {};
    return file && file->ReadExact(magic, 4) && std::memcmp(magic, "MThd", 4) == 0;
}

int RunMidiInfo(const std::string& path, bool json) {
    C_MidiFile midi(path.c_str());
    std::fflush(stdout);
    if (!midi.Load()) {
        Fail(path, "not a readable Standard MIDI File");
        return kExitFailed;
    }
    // Notes, the last tick and the tempo changes over all tracks.
    uint64_t notes = 0, lastTick = 0;
    std::multimap<uint64_t, uint32_t> tempos;
    for (uint32_t t = 0; t < midi.GetTrackCount(); ++t) {
        I_MidiTrack* track = midi.GetTrack(t);
        uint64_t tick = 0;
        for (uint32_t i = 0; i < track->GetEventCount(); ++i) {
            auto* e = dynamic_cast<C_MidiEvent*>(track->GetEvent(i));
            tick += e->GetDeltaTime();
            if (e->IsNoteOn()) ++notes;
            if (e->GetTempoValue() != 0) tempos.emplace(tick, e->GetTempoValue());
        }
        lastTick = std::max(lastTick, tick);
    }
    const uint16_t division = midi.GetDivision();
    double seconds = 0;
    if (division & 0x8000) {
        // SMPTE: frames per second (negative, in the high byte) times ticks per frame.
        const int fps = -static_cast<int8_t>(division >> 8);
        const int perFrame = division & 0xFF;
        if (fps > 0 && perFrame > 0) seconds = static_cast<double>(lastTick) / (fps * perFrame);
    } else if (division != 0) {
        uint64_t at = 0;
        uint32_t tempo = 500000;
        for (const auto& [tick, value] : tempos) {
            if (tick >= lastTick) break;
            seconds += static_cast<double>(tick - at) * tempo / division / 1e6;
            at = tick;
            tempo = value;
        }
        seconds += static_cast<double>(lastTick - at) * tempo / division / 1e6;
    }
    const double bpm = midi.GetTempo() ? 60e6 / midi.GetTempo() : 0;
    if (json) {
        std::printf(
            "{\"file\": \"%s\", \"class\": \"C_MidiFile\", \"format\": %u, \"tracks\": %u, \"division\": %u, "
            "\"tempo\": %u, \"notes\": %llu, \"ticks\": %llu, \"seconds\": %.3f}\n",
            path.c_str(), midi.GetFormat(), midi.GetTrackCount(), division, midi.GetTempo(),
            static_cast<unsigned long long>(notes), static_cast<unsigned long long>(lastTick), seconds);
        return kExitOk;
    }
    std::printf("%s: Standard MIDI File\n", path.c_str());
    std::printf("  format:      %u\n", midi.GetFormat());
    std::printf("  tracks:      %u\n", midi.GetTrackCount());
    if (division & 0x8000)
        std::printf("  division:    SMPTE %d frames per second, %u ticks per frame\n",
                    -static_cast<int8_t>(division >> 8), division & 0xFF);
    else
        std::printf("  division:    %u ticks per quarter note\n", division);
    std::printf("  tempo:       %u us per quarter note (%.2f bpm) at the first note\n", midi.GetTempo(), bpm);
    std::printf("  notes:       %llu\n", static_cast<unsigned long long>(notes));
    std::printf("  length:      %llu ticks (%.3f s)\n", static_cast<unsigned long long>(lastTick), seconds);
    return kExitOk;
}

int RunConvertToXmf(const Options& options) {
    const std::string& input = options.inputs.front();
    const std::string& output = options.output;
    if (!options.overwrite && platform::FileExists(output)) {
        Fail(output, "the file exists (use -y to overwrite it)");
        return kExitFailed;
    }
    if (IsMidiFile(input)) {
        Fail(input, "MIDI to XMF needs the melody tool, which is not in this build yet");
        return kExitFailed;
    }
    if (!api::DistinctFiles({input.c_str()}, {output}, api::InPlace::kAllowed)) {
        Fail(output, "the output is the same file as " + input + "; nothing was written");
        return kExitFailed;
    }
    auto temp = platform::TempFolder::Create();
    if (!temp) {
        Fail(platform::TempDirectory(),
             "cannot make a temporary folder: " + platform::SystemErrorText(platform::LastError()));
        return kExitFailed;
    }
    std::string current = input;
    if (options.haveRate) {
        const std::string resampled = temp->File("resampled.wav");
        C_PCMResample resampler;
        if (!resampler.ResampleFile(kResampleSinc2, input.c_str(), resampled.c_str(), kFormatWav,
                                    static_cast<uint32_t>(options.rate), kResampleSpare, nullptr)) {
            Fail(input, "cannot resample this sound");
            return kExitFailed;
        }
        current = resampled;
    }
    C_ResourceConverter converter;
    if (!converter.ConvertToXmf(current.c_str(), output.c_str())) {
        Fail(output, "cannot pack " + input + " into an XMF file (the input must be a WAV or APM file)");
        return kExitFailed;
    }
    if (options.verbose) std::fprintf(stderr, "cadenzor: wrote %s\n", output.c_str());
    return kExitOk;
}

}  // namespace cz::cli
