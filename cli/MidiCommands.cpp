// The MIDI side of the tool: "info" on Standard MIDI Files and IMF melodies,
// "convert" to IMF melodies and XMF containers.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Commands.h"
#include "Json.h"
#include "api/chains/Chains.h"
#include "api/chains/MidiBridge.h"
#include "api/resconv/C_ResourceConverter.h"
#include "platform/SafeFiles.h"
#include "dsp/resample/C_PCMResample.h"
#include "formats/registry/FormatId.h"
#include "midi/smf/C_MidiEvent.h"
#include "midi/smf/C_MidiFile.h"
#include "midi/imf/ImfFormat.h"
#include "midi/xmf/XmfWriter.h"
#include "foundation/ByteArrayHeader.h"
#include "platform/Platform.h"

namespace cz::cli {

bool IsMidiFile(const std::string& path) {
    auto file = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    char magic[4] = {};
    return file && file->ReadExact(magic, 4) && std::memcmp(magic, "MThd", 4) == 0;
}

namespace {

struct SmfFacts {
    uint64_t notes = 0, lastTick = 0;
    double seconds = 0;
};

SmfFacts MeasureSmf(C_MidiFile& midi) {
    SmfFacts facts;
    // Notes, the last tick and the tempo changes over all tracks.
    uint64_t& notes = facts.notes;
    uint64_t& lastTick = facts.lastTick;
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
    double& seconds = facts.seconds;
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
    return facts;
}

}  // namespace

bool MidiFileSeconds(const std::string& path, double& seconds) {
    C_MidiFile midi(path.c_str());
    if (!midi.Load()) return false;
    seconds = MeasureSmf(midi).seconds;
    return true;
}

int RunMidiInfo(const std::string& path, bool json) {
    C_MidiFile midi(path.c_str());
    std::fflush(stdout);
    if (!midi.Load()) {
        Fail(path, "not a readable Standard MIDI File");
        return kExitFailed;
    }
    const SmfFacts facts = MeasureSmf(midi);
    const uint64_t notes = facts.notes, lastTick = facts.lastTick;
    const double seconds = facts.seconds;
    const uint16_t division = midi.GetDivision();
    const double bpm = midi.GetTempo() ? 60e6 / midi.GetTempo() : 0;
    if (json) {
        Json out;
        out.Object().Key("file").String(path).Key("format").String("Standard MIDI File");
        out.Key("format_id").Unsigned(kFormatMidi).Key("class").String("C_MidiFile");
        out.Key("smf_format").Unsigned(midi.GetFormat()).Key("tracks").Unsigned(midi.GetTrackCount());
        out.Key("division").Unsigned(division).Key("tempo").Unsigned(midi.GetTempo());
        out.Key("notes").Unsigned(notes).Key("ticks").Unsigned(lastTick).Key("duration_s").Number(seconds);
        out.End().Print();
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

namespace {

enum class MidiTarget { kImf, kXmf };

// The tool's byte-array header of an XMF or IMF output is OUTPUT.h, as --bin
// FILE gives FILE.h: song.xmf and song.imf each keep their own, and the
// array is named after the whole file name (g_abysong_xmf), a valid C
// identifier whatever the name holds.
std::string SideHeader(const std::string& output) { return output + ".h"; }

// Refuses before anything is made: an output or its header that exists
// without -y, or one that is the input.
bool CheckSideOutputs(const Options& options, const std::string& input, api::InPlace inPlace) {
    const std::string& output = options.output;
    for (const std::string& path : {output, SideHeader(output)}) {
        if (!options.overwrite && platform::FileExists(path)) {
            Fail(path, "the file exists (use -y to overwrite it)");
            return false;
        }
    }
    if (!api::DistinctFiles({input.c_str()}, {output, SideHeader(output)}, inPlace)) {
        Fail(output, "an output is the same file as " + input + "; nothing was written");
        return false;
    }
    return true;
}

// The output made in a private folder by make(path), then the output and
// its header put in place together.
template <typename Make>
int MakeWithHeader(const Options& options, const std::string& failure, Make make) {
    const std::string& output = options.output;
    auto temp = platform::TempFolder::Create();
    if (!temp) {
        Fail(platform::TempDirectory(),
             "cannot make a temporary folder: " + platform::SystemErrorText(platform::LastError()));
        return kExitFailed;
    }
    const std::string made = temp->File("made" + ExtensionOf(output));
    std::vector<uint8_t> bytes;
    if (!make(made, *temp) || !xmf::ReadWholeFile(made.c_str(), bytes)) {
        Fail(output, failure);
        return kExitFailed;
    }
    const std::string name = byte_array::FileNameOf(output);
    const std::string text = options.firmwareHeader
                                 ? byte_array::Text(byte_array::Style::kFirmware, byte_array::Symbol(name), bytes)
                                 : byte_array::Text(byte_array::Style::kPlain, byte_array::CNamePart(name), bytes);
    const std::string header = temp->File("made.h");
    std::string why;
    if (!PublishBytes(header, text.data(), text.size(), &why)) {
        Fail(SideHeader(output), why);
        return kExitFailed;
    }
    if (!PublishFile(made, output, &why)) {
        Fail(output, why);
        return kExitFailed;
    }
    if (!PublishFile(header, SideHeader(output), &why)) {
        Fail(SideHeader(output), why);
        return kExitFailed;
    }
    if (options.verbose)
        std::fprintf(stderr, "cadenzor: wrote %s and its byte-array header %s\n", output.c_str(),
                     SideHeader(output).c_str());
    return kExitOk;
}

// MIDI to IMF or XMF through the melody tool. For XMF, song_1.wav to
// song_32.wav beside the song are the speech samples that drum notes 96 to
// 127 play.
int ConvertMidi(const Options& options, MidiTarget target) {
    const std::string& input = options.inputs.front();
    if (options.haveRate) {
        Fail(input, "--rate does not apply to MIDI input (the speech samples are coded at their own rate)");
        return kExitUsage;
    }
    if (!CheckSideOutputs(options, input, api::InPlace::kRefused)) return kExitFailed;
    C_MidiFile song(input.c_str());
    if (!song.Load()) {
        Fail(input, "not a readable Standard MIDI File");
        return kExitFailed;
    }
    return MakeWithHeader(options, "the melody tool could not convert " + input + " (see the message above)",
                          [&](const std::string& made, platform::TempFolder&) {
                              return target == MidiTarget::kImf
                                         ? api::ConvertMidToImf(input.c_str(), made.c_str()) != 0
                                         : api::ConvertMidToXmf(input.c_str(), made.c_str()) != 0;
                          });
}

}  // namespace

bool IsImfFile(const std::string& path) {
    auto file = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    char magic[4] = {};
    return file && file->ReadExact(magic, 4) && std::memcmp(magic, "IMF1", 4) == 0;
}

static double ImfSeconds(const imf::ImfSong& song) {
    double seconds = 0;
    uint32_t at = 0, tempo = imf::kDefaultTempo;
    for (const auto& r : song.records) {
        seconds += double(r.tick - at) * tempo / song.division / 1e6;
        at = r.tick;
        if (r.kind == imf::kKindTempo) tempo = r.value;
    }
    return seconds;
}

bool MelodySeconds(std::span<const uint8_t> bytes, double& seconds, std::string& why) {
    imf::ImfSong song;
    if (!imf::ParseImf(bytes, song, why)) return false;
    seconds = ImfSeconds(song);
    return true;
}

bool IsMelodyFile(const std::string& path) { return IsImfFile(path) || IsMidiFile(path); }

bool MelodyResource(const std::string& path, const std::string& made, std::vector<uint8_t>& imf, std::string& why) {
    if (IsImfFile(path)) {
        if (!xmf::ReadWholeFile(path.c_str(), imf)) return why = "cannot be read", false;
    } else {
        C_MidiFile song(path.c_str());
        if (!song.Load()) return why = "not a readable Standard MIDI File", false;
        if (api::ConvertMidToImf(path.c_str(), made.c_str()) == 0 || !xmf::ReadWholeFile(made.c_str(), imf))
            return why = "the melody tool could not make an IMF melody of it", false;
    }
    imf::ImfSong song;
    std::string error;
    if (!imf::ParseImf(imf, song, error)) return why = "not a readable IMF melody: " + error, false;
    return true;
}

int RunImfInfo(const std::string& path, bool json) {
    std::vector<uint8_t> bytes;
    std::string error;
    imf::ImfSong song;
    if (!xmf::ReadWholeFile(path.c_str(), bytes)) {
        Fail(path, "cannot be read");
        return kExitFailed;
    }
    if (!imf::ParseImf(bytes, song, error)) {
        Fail(path, "not a readable IMF melody: " + error);
        return kExitFailed;
    }
    uint64_t notes = 0, texts = 0, controls = 0, programs = 0, bends = 0;
    double seconds = 0;
    uint32_t at = 0, tempo = imf::kDefaultTempo, firstTempo = 0;
    for (const auto& r : song.records) {
        seconds += double(r.tick - at) * tempo / song.division / 1e6;
        at = r.tick;
        notes += r.kind == imf::kKindNote;
        texts += r.kind == imf::kKindText;
        controls += r.kind == imf::kKindControl;
        programs += r.kind == imf::kKindProgram;
        bends += r.kind == imf::kKindBend;
        if (r.kind == imf::kKindTempo) {
            tempo = r.value;
            if (!firstTempo) firstTempo = r.value;
        }
    }
    std::string channels;
    for (int c = 0; c < 16; ++c)
        if (song.channelMask & (1 << c)) channels += (channels.empty() ? "" : " ") + std::to_string(c + 1);
    if (json) {
        Json out;
        out.Object().Key("file").String(path).Key("format").String("IMF melody");
        out.Key("format_id").Unsigned(kFormatImf).Key("class").String("IMF");
        out.Key("division").Unsigned(song.division).Key("channels").String(channels);
        out.Key("voice_limit").Unsigned(song.voiceLimit).Key("notes_dropped").Bool(song.flags & imf::kFlagNotesDropped);
        out.Key("tempo").Unsigned(firstTempo).Key("notes").Unsigned(notes).Key("ticks").Unsigned(song.length);
        out.Key("duration_s").Number(seconds).Key("file_bytes").Unsigned(bytes.size());
        out.End().Print();
        return kExitOk;
    }
    std::printf("%s: IMF melody\n", path.c_str());
    std::printf("  division:    %u ticks per quarter note\n", song.division);
    std::printf("  tempo:       %u us per quarter note (%.2f bpm) at the start\n", firstTempo,
                firstTempo ? 60e6 / firstTempo : 0.0);
    std::printf("  channels:    %s\n", channels.empty() ? "none" : channels.c_str());
    std::printf("  notes:       %llu\n", static_cast<unsigned long long>(notes));
    std::printf("  events:      %llu controllers, %llu programs, %llu bends, %llu texts\n",
                static_cast<unsigned long long>(controls), static_cast<unsigned long long>(programs),
                static_cast<unsigned long long>(bends), static_cast<unsigned long long>(texts));
    if (song.voiceLimit)
        std::printf("  voices:      %u%s\n", song.voiceLimit,
                    (song.flags & imf::kFlagNotesDropped) ? " (notes were dropped to fit)" : "");
    std::printf("  length:      %u ticks (%.3f s)\n", song.length, seconds);
    std::printf("  size:        %zu bytes\n", bytes.size());
    return kExitOk;
}

int RunConvertToImf(const Options& options) {
    if (!IsMidiFile(options.inputs.front())) {
        Fail(options.inputs.front(), "an IMF melody is made from a Standard MIDI File only");
        return kExitUsage;
    }
    return ConvertMidi(options, MidiTarget::kImf);
}

int RunConvertToXmf(const Options& options) {
    const std::string& input = options.inputs.front();
    if (IsMidiFile(input)) return ConvertMidi(options, MidiTarget::kXmf);
    if (!CheckSideOutputs(options, input, api::InPlace::kAllowed)) return kExitFailed;
    return MakeWithHeader(
        options, "cannot pack " + input + " into an XMF file (the input must be a WAV or APM file)",
        [&](const std::string& made, platform::TempFolder& temp) {
            std::string current = input;
            if (options.haveRate) {
                const std::string resampled = temp.File("resampled.wav");
                C_PCMResample resampler;
                options.profile.ApplyTo(resampler);
                if (!resampler.ResampleFile(kResampleSinc2, input.c_str(), resampled.c_str(), kFormatWav,
                                            static_cast<uint32_t>(options.rate), kResampleSpare, nullptr))
                    return false;
                current = resampled;
            }
            C_ResourceConverter converter;
            options.profile.ApplyTo(converter);
            return converter.ConvertToXmf(current.c_str(), made.c_str()) != 0;
        });
}

}  // namespace cz::cli
