#include "api/chains/MidiBridge.h"

#include <atomic>
#include <cstdio>

#include "api/chains/Chains.h"
#include "api/resconv/C_ResourceConverter.h"
#include "cadenzor/cadenzor.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatRegistry.h"
#include "foundation/C_CUString.h"
#include "foundation/LibraryLoader.h"
#include "midi/smf/C_MidiEvent.h"
#include "midi/smf/C_MidiFile.h"
#include "midi/xmf/XmfWriter.h"
#include "platform/SafeFiles.h"

namespace cz::api {

namespace {

constexpr const char* kCaption = "Midi Tool";
constexpr const char* kToolLibrary = "Halvern.dll";
constexpr const char* kResourceLibrary = "Ombry.dll";

using SmfToImfFn = int32_t(CZ_CALL*)(const char* midi, const char* imf);
using SmfToImfWithLyricFn = int32_t(CZ_CALL*)(const char* midi, const char* imf, const char* lyr);
using MelodyByChipFn = int32_t(CZ_CALL*)(uintptr_t, uintptr_t, uintptr_t);

void Say(const std::string& text) { platform::ShowMessage(kCaption, text); }

// The path without the extension of its file name.
std::string WithoutExtension(const std::string& path) {
    const size_t slash = path.find_last_of("\\/:");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    return path.substr(0, dot);
}

std::string ExtensionOf(const std::string& path) {
    const std::string base = WithoutExtension(path);
    return path.substr(base.size());
}

bool Usable(const char* path) { return path != nullptr && path[0] != '\0'; }

void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void AppendVlq(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[5];
    int n = 0;
    do {
        bytes[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1) out.push_back(static_cast<uint8_t>(bytes[--n] | 0x80));
    out.push_back(bytes[0]);
}

}  // namespace

std::unique_ptr<platform::Library> LoadToolLibrary(const char* fileName) {
    auto library = platform::Library::LoadSibling(fileName ? fileName : "");
    if (!library) {
        Say(FormatString("LoadLibrary %s failed", fileName ? fileName : ""));
        return nullptr;
    }
    return std::make_unique<platform::Library>(std::move(*library));
}

namespace {

// Runs the tool's plain conversion into `imf`; false (with the message) when
// the tool is missing or leaves no IMF, or an empty one. What the tool
// returns is not examined: a tool may return 0 on success, and its IMF is
// what counts.
bool RunSmfToImf(const char* midi, const std::string& imf) {
    auto library = LoadToolLibrary(kToolLibrary);
    if (!library) return false;
    auto entry = EntryAs<SmfToImfFn>(library->Entry("ConvertSMFToIMF"));
    if (!entry) {
        Say("GetProcAddress ConvertSMFToIMF() failed");
        return false;
    }
    entry(midi, imf.c_str());
    library.reset();
    auto made = platform::File::Open(imf, platform::open_flags::kRead);
    if (!made) {
        Say(FormatString("Can't open file %s.", imf.c_str()));
        return false;
    }
    const auto size = made->Size();
    if (!size || *size == 0) {
        Say(FormatString("The melody tool made an empty IMF file of %s.", midi));
        return false;
    }
    return true;
}

}  // namespace

bool ConvertSmfToImf(const char* midi, const char* imf, bool writeHeader) {
    if (!Usable(midi) || !Usable(imf)) return false;
    // The tool writes into a private folder; the IMF is put in place whole.
    auto temp = platform::TempFolder::Create();
    if (!temp) return false;
    const std::string made = temp->File("melody.imf");
    if (!RunSmfToImf(midi, made)) return false;
    std::vector<uint8_t> bytes;
    if (!xmf::ReadWholeFile(made.c_str(), bytes)) {
        Say(FormatString("Can't open file %s.", made.c_str()));
        return false;
    }
    if (!xmf::WriteWholeFile(imf, bytes)) {
        Say(FormatString("Can't open file %s.", imf));
        return false;
    }
    if (writeHeader) xmf::WriteCArrayHeader(imf);
    return true;
}

bool ConvertSmfToImfWithLyric(const char* midi, const char* output) {
    if (!Usable(midi) || !Usable(output)) return false;
    auto temp = platform::TempFolder::Create();
    if (!temp) return false;
    const std::string imf = temp->File("melody.imf");
    const std::string lyr = temp->File("melody.lyr");
    {
        auto library = LoadToolLibrary(kToolLibrary);
        if (!library) return false;
        auto entry = EntryAs<SmfToImfWithLyricFn>(library->Entry("ConvertSMFToIMFWithLyric"));
        if (!entry) {
            Say("GetProcAddress ConvertSMFToIMFWithLyric() failed");
            return false;
        }
        if (entry(midi, imf.c_str(), lyr.c_str()) == 0) {
            Say(FormatString("The melody tool could not convert %s.", midi));
            return false;
        }
    }
    std::vector<uint8_t> melody, lyrics;
    if (!xmf::ReadWholeFile(imf.c_str(), melody)) {
        Say(FormatString("Can't open file %s.", imf.c_str()));
        return false;
    }
    if (platform::FileExists(lyr) && !xmf::ReadWholeFile(lyr.c_str(), lyrics)) {
        Say(FormatString("Can't open file %s.", lyr.c_str()));
        return false;
    }
    std::vector<uint8_t> out;
    if (lyrics.empty()) {
        out = std::move(melody);
    } else {
        const uint64_t lyricAt = 16 + uint64_t(melody.size());
        if (lyricAt > 0xFFFFFFFFu) {
            Say(FormatString("The melody of %s is too large for a lyric block.", midi));
            return false;
        }
        out = {'W', 'K', 'L', 'B', 0x00, 0x01};
        AppendU32(out, 16);
        out.push_back(0x01);
        AppendU32(out, static_cast<uint32_t>(lyricAt));
        out.push_back(0x00);
        out.insert(out.end(), melody.begin(), melody.end());
        out.insert(out.end(), lyrics.begin(), lyrics.end());
    }
    if (!xmf::WriteWholeFile(output, out)) {
        Say(FormatString("Can't open file %s.", output));
        return false;
    }
    return true;
}

bool MarkUsedSamples(const char* midi, std::vector<SpeechSampleEntry>& entries) {
    C_MidiFile song(midi);
    if (!song.Load()) return false;
    for (auto& entry : entries) entry.used = 0;
    for (uint32_t t = 0; t < song.GetTrackCount(); ++t) {
        I_MidiTrack* track = song.GetTrack(t);
        for (uint32_t i = 0; track && i < track->GetEventCount(); ++i) {
            auto* event = dynamic_cast<C_MidiEvent*>(track->GetEvent(i));
            if (!event || !event->IsNoteOn() || event->GetChannel() != 9) continue;
            const uint8_t key = event->GetData()[1];
            if (key >= 96 && key <= 127) entries[key - 96].used = 1;
        }
    }
    return true;
}

bool ResourceToBinary(const char* source, const char* binary) {
    constexpr const char* kLoaderCaption = "Resource converter";
    auto library = LoadLibraryWithMessage(kResourceLibrary, kLoaderCaption, 0, true);
    if (!library) {
        Say("Can't find Ombry.dll.  Program is terminated.");
        return false;
    }
    auto entry = EntryAs<ConvertResourceToBinaryFn>(
        GetProcAddressWithMessage(library.get(), "ConvertResourceToBinary", kLoaderCaption, 0, true));
    if (!entry) {
        Say("Can't find ProcAddress ConverResourceToBinary() in Ombry.dll.");
        return false;
    }
    const uint32_t result = entry(0, source, binary, nullptr);
    library.reset();
    // The library's side files go whatever the outcome.
    platform::DeleteFile(std::string(source) + "_dec.bin");
    platform::DeleteFile(std::string(source) + "_Info.log");
    if (result == 0) {
        Say(FormatString("Can't convert %s file.", source));
        return false;
    }
    return true;
}

bool LoadSpeechBinary(const std::string& source, int32_t format, std::vector<uint8_t>& data,
                      const std::string& workFolder) {
    data.clear();
    // Everything made here is made in the work folder, named after the
    // sample's place in it, so that nothing lands beside the source.
    static std::atomic<int> serial{0};
    const std::string stem = workFolder + "/sample" + std::to_string(++serial);
    const std::string binary = stem + ".bin";
    const int32_t type = GetFormatIdFromExtension(ExtensionOf(source).c_str());
    if (type == kFormatWav) {
        const char* extension = GetExtensionOfFormat(static_cast<uint32_t>(format));
        if (!extension || !*extension) return false;
        const std::string coded = stem + extension;
        if (!C_ResourceConverter().ConvertFormat(source.c_str(), coded.c_str(), static_cast<uint32_t>(format)))
            return false;
        if (!ResourceToBinary(coded.c_str(), binary.c_str())) return false;
    } else if (type == kFormatApm || type == kFormatPc8 || type == kFormatP16) {
        // A copy, so that the library's side files stay in the work folder.
        std::vector<uint8_t> bytes;
        const std::string copy = stem + ExtensionOf(source);
        if (!xmf::ReadWholeFile(source.c_str(), bytes) || !xmf::WriteWholeFile(copy, bytes)) return false;
        if (!ResourceToBinary(copy.c_str(), binary.c_str())) return false;
    } else {
        return false;
    }
    if (!xmf::ReadWholeFile(binary.c_str(), data)) {
        Say(FormatString("Can't read converted file %s.", binary.c_str()));
        return false;
    }
    return true;
}

bool EmbedSpeechSamples(const char* midi, const char* tempMidi, const std::vector<SpeechSampleEntry>& entries,
                        const std::string& workFolder) {
    C_MidiFile song(midi);
    if (!song.Load()) return false;
    I_MidiTrack* speech = nullptr;
    for (const auto& entry : entries) {
        if (!entry.used || entry.name.empty()) continue;
        if (!speech) {
            speech = song.NewTrack();
            if (!speech || !song.InsertTrack(0, speech)) {
                Say("Out of memory.");
                return false;
            }
        }
        std::vector<uint8_t> data;
        if (!LoadSpeechBinary(entry.name, entry.format, data, workFolder)) continue;
        if (data.size() >= 0x0FFFFFFF) {
            Say(FormatString("The speech sample %s is too large for a MIDI text event.", entry.name.c_str()));
            return false;
        }
        std::vector<uint8_t> message = {0xFF, 0x01};
        AppendVlq(message, static_cast<uint32_t>(data.size() + 1));
        message.push_back(static_cast<uint8_t>(entry.index));
        message.insert(message.end(), data.begin(), data.end());
        I_MidiEvent* event = speech->NewEvent();
        if (!event) {
            Say("Out of memory.");
            return false;
        }
        event->SetDeltaTime(0);
        if (!event->SetData(message.data(), static_cast<int32_t>(message.size())) ||
            !speech->InsertEvent(speech->GetEventCount(), event, 0)) {
            speech->DeleteEvent(event);
            Say("Out of memory.");
            return false;
        }
    }
    return song.Save(tempMidi) != 0;
}

bool BuildSpeechBundle(const char* midi, const char* output, const SampleList& wavList, const SampleList& formatList) {
    if (!Usable(midi) || !Usable(output)) return false;
    std::vector<SpeechSampleEntry> entries(kSpeechSampleCount);
    for (int i = 0; i < kSpeechSampleCount; ++i) entries[i].index = i;
    if (!MarkUsedSamples(midi, entries)) {
        Say(FormatString("Can't open file %s.", midi));
        return false;
    }
    uint8_t used = 0;
    for (auto& entry : entries) {
        if (!entry.used) continue;
        ++used;
        if (wavList[entry.index].empty()) {
            std::printf("Warning: '%s' - Speech file of index %d is not specified !!\n", midi, entry.index + 1);
            std::fflush(stdout);
            continue;
        }
        entry.name = wavList[entry.index];
        entry.format = GetFormatIdFromExtension(("." + formatList[entry.index]).c_str());
    }

    auto temp = platform::TempFolder::Create();
    if (!temp) return false;
    const std::string tempMidi = temp->File("song_out_tmp.mid");
    const std::string imf = temp->File("song.imf");
    if (!EmbedSpeechSamples(midi, tempMidi.c_str(), entries, temp->Path())) return false;
    if (!RunSmfToImf(tempMidi.c_str(), imf)) return false;
    std::vector<uint8_t> melody;
    if (!xmf::ReadWholeFile(imf.c_str(), melody)) {
        Say(FormatString("Can't open file %s.", imf.c_str()));
        return false;
    }
    if (melody.size() >= kBundleOffsetLimit) {
        Say(FormatString("The melody of %s is 16 MiB or more: the bundle's sample table cannot address it.", midi));
        return false;
    }

    std::vector<uint8_t> out = {'W', 'I', 'B', 'N', used};
    out.resize(out.size() + 4u * used, 0);
    out.insert(out.end(), melody.begin(), melody.end());
    size_t slot = 0;
    for (const auto& entry : entries) {
        if (!entry.used) continue;
        if (!entry.name.empty()) {
            const size_t offset = out.size();
            if (offset >= kBundleOffsetLimit) {
                Say(
                    FormatString("The speech samples of %s reach past 16 MiB: the bundle's sample table cannot "
                                 "address sample %d.",
                                 midi, entry.index + 1));
                return false;
            }
            const uint32_t word = (uint32_t(entry.index) << 24) | uint32_t(offset);
            for (int i = 0; i < 4; ++i) out[5 + 4 * slot + i] = static_cast<uint8_t>(word >> (8 * i));
            std::vector<uint8_t> data;
            if (LoadSpeechBinary(entry.name, entry.format, data, temp->Path()))
                out.insert(out.end(), data.begin(), data.end());
        }
        ++slot;
    }
    if (!xmf::WriteWholeFile(output, out)) {
        Say(FormatString("Can't open file %s.", output));
        return false;
    }
    xmf::WriteCArrayHeader(output);
    return true;
}

int32_t BuildMelodyXmf(const char* midi, const char* xmfPath, const SampleList& wavList, const SampleList& formatList) {
    auto temp = platform::TempFolder::Create("tmp");
    if (!temp) return 0;
    const std::string resource = temp->File("melody.tmp");
    bool anySample = false;
    for (const auto& name : wavList) anySample = anySample || !name.empty();
    uint32_t type = xmf::kXmfMelody;
    if (anySample) {
        if (!BuildSpeechBundle(midi, resource.c_str(), wavList, formatList)) return 0;
        type = xmf::kXmfMelodyWithSpeech;
    } else {
        if (!ConvertSmfToImfWithLyric(midi, resource.c_str())) return 0;
        std::vector<uint8_t> bytes;
        if (!xmf::ReadWholeFile(resource.c_str(), bytes))
            Say(FormatString("Can't open file %s.", resource.c_str()));
        else if (xmf::HasLyricBlock(bytes))
            type = xmf::kXmfMelodyWithLyric;
    }
    return xmf::WriteXmf(resource.c_str(), xmfPath, type, kCaption) ? 1 : 0;
}

int32_t ConvertMidToImf(const char* midi, const char* imf) {
    if (!ValidPath(midi) || !ValidPath(imf)) return 0;
    if (!DistinctFiles({midi}, {imf, xmf::CArrayHeaderPath(imf)}, InPlace::kRefused)) return 0;
    return ConvertSmfToImf(midi, imf, true) ? 1 : 0;
}

int32_t ConvertMidToXmf(const char* midi, const char* xmfPath) {
    if (!ValidPath(midi) || !ValidPath(xmfPath)) return 0;
    if (!DistinctFiles({midi}, {xmfPath, xmf::CArrayHeaderPath(xmfPath)}, InPlace::kRefused)) return 0;
    SampleList wavList, formatList;
    const std::string base = WithoutExtension(midi);
    for (int k = 1; k <= kSpeechSampleCount; ++k) {
        const std::string candidate = FormatString("%s_%d.wav", base.c_str(), k);
        if (platform::File::Open(candidate, platform::open_flags::kRead)) {
            wavList[k - 1] = candidate;
            formatList[k - 1] = "APM";
        }
    }
    // The samples found are inputs too: none may be the XMF or its header.
    const std::string outputs[] = {xmfPath, xmf::CArrayHeaderPath(xmfPath)};
    for (const std::string& sample : wavList) {
        if (sample.empty()) continue;
        for (const std::string& output : outputs)
            if (platform::SameFile(sample, output)) {
                Say(FormatString("%s is the speech sample %s that the song %s reads: nothing was written.",
                                 output.c_str(), sample.c_str(), midi));
                return 0;
            }
    }
    return BuildMelodyXmf(midi, xmfPath, wavList, formatList);
}

int32_t ConvertMidToImfByChipItem(uintptr_t first, uintptr_t second, uintptr_t third) {
    auto library = LoadLibraryWithMessage(kToolLibrary, "Q530RSConverter", 0, true);
    if (!library) return 0;
    auto entry = EntryAs<MelodyByChipFn>(
        GetProcAddressWithMessage(library.get(), "ConvertMelodyToIMFByChip", "Q530RSConverter", 0, false));
    if (!entry) return 0;
    return entry(first, second, third) != 0 ? 1 : 0;
}

}  // namespace cz::api
