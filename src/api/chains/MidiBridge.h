// The bridge to the melody tool library (Halvern): Standard MIDI Files to
// the chip's IMF melodies, IMF with lyric block ("WKLB"), and the
// melody-with-speech bundle ("WIBN") whose speech samples are coded by the
// sound-resource library (Ombry); and the XMF build around them.
//
// Messages go to the message sink under the caption "Midi Tool" (the two
// library loads of the general loader report under their own captions).
//
// "WKLB" file:  "WKLB" 00 01 u32(16) 01 u32(16 + IMF size) 00, IMF, lyrics.
// "WIBN" file:  "WIBN", u8 U, U words (index << 24 | offset of the sample's
//               coded data, 0 for a used sample without a file), the IMF,
//               the coded samples back to back in index order.
//
// Every intermediate file (the tool's IMF and lyric outputs, the MIDI file
// with its speech track, the coded samples) lives in a private temporary
// folder removed on every path; nothing is written beside the caller's files
// but the outputs they name and their C array headers.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace cz::api {

inline constexpr int kSpeechSampleCount = 32;
// The largest IMF a bundle takes: its table holds 24-bit offsets.
inline constexpr uint32_t kBundleOffsetLimit = 0x1000000;

struct SpeechSampleEntry {
    int32_t index = 0;   // sample number - 1
    std::string name;    // the sample's source file, "" when none
    uint8_t used = 0;    // the song plays it
    int32_t format = 5;  // resource type of the source (5: APM)
};

using SampleList = std::array<std::string, kSpeechSampleCount>;

// Loads a tool library from this library's folder; "LoadLibrary <name>
// failed" and none on failure.
std::unique_ptr<platform::Library> LoadToolLibrary(const char* fileName);

// The melody tool's plain conversion, its result checked; with writeHeader
// the C array header of the IMF file is written beside it.
bool ConvertSmfToImf(const char* midi, const char* imf, bool writeHeader);
// The melody with its lyric block ("WKLB"), or the IMF alone when the song
// has no lyrics.
bool ConvertSmfToImfWithLyric(const char* midi, const char* output);
// The "WIBN" bundle of the song and the samples it triggers.
bool BuildSpeechBundle(const char* midi, const char* output, const SampleList& wavList, const SampleList& formatList);

// Channel 10 notes 96..127 (with a velocity) mark samples 1..32 used.
bool MarkUsedSamples(const char* midi, std::vector<SpeechSampleEntry>& entries);
// The song with a first track holding one text event per used sample with a
// source: FF 01 VLQ(S + 1) index data.
bool EmbedSpeechSamples(const char* midi, const char* tempMidi, const std::vector<SpeechSampleEntry>& entries,
                        const std::string& workFolder);
// The sample's coded resource binary (WAV sources coded to `format` first).
bool LoadSpeechBinary(const std::string& source, int32_t format, std::vector<uint8_t>& data,
                      const std::string& workFolder);
bool ResourceToBinary(const char* source, const char* binary);

// The XMF build behind ConvertMIDToXMF: 1 or 0.
int32_t BuildMelodyXmf(const char* midi, const char* xmf, const SampleList& wavList, const SampleList& formatList);

// The exports.
int32_t ConvertMidToImf(const char* midi, const char* imf);
int32_t ConvertMidToXmf(const char* midi, const char* xmf);

}  // namespace cz::api
