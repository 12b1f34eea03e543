// One conversion job from end to end, for the tool and the library alike:
//
//   input -> kind by content -> source (blocks of 16-bit frames)
//         -> [resample, block by block] -> sink (streaming WAV writer, or the
//            chip format holding the sound once) -> [binary] -> [header]
//         -> publish: every output made in a private folder, each refused up
//            front when it exists and overwriting was not asked for, and put
//            in place together at the end.
//
// MP3, WMA and plain 16-bit PCM WAV inputs stream: memory holds a few blocks
// (plus, for a chip format, the sound once at 16 bits), and no intermediate
// file is written. Every other input (ADPCM and other WAV codings, WAV files
// with markers or extra chunks, chip files, RBF resources) is opened whole by
// the format factory and converted as the sound model does it. Either way the
// outputs are byte for byte those of the file-by-file chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api/Profile.h"
#include "foundation/I_ProgressCallback.h"

namespace cz::api::pipeline {

enum class HeaderStyle { kPlain, kFirmware };

// What an input holds, by its content.
enum class InputKind {
    kUnreadable,
    kPlainWav,  // RIFF WAVE of only "fmt " (16-bit PCM, 1 or 2 channels) and "data"
    kMp3,       // an ID3v2 tag or an MPEG audio frame header at the start
    kWma,       // an ASF header object
    kOther,     // anything else: the format factory decides
};

struct Job {
    std::string input;
    // What the input must be, when the caller knows (an MP3 or WMA export):
    // then an input that is not of that kind fails instead of being taken
    // for what its content says.
    bool forceKind = false;
    InputKind kind = InputKind::kOther;
    std::string output;
    // Format id of the output; kFormatNone (0): from the output's extension.
    uint32_t writeAs = 0;
    // Target rate; 0 keeps the input's rate.
    uint32_t rate = 0;
    // Best sound (the default) or exactly the exported functions' bytes.
    Profile profile;
    // Resource binaries of every coding are read as the chip plays them
    // (the tool's opening path; the exports open what the factory opens).
    bool readBinaries = false;
    // The codec parameter of the output format (mode, bit rate, quality),
    // when one is given.
    bool haveCodecParam = false;
    uint32_t codecParam = 0;
    // A chip file converted to WAV: its stored source samples instead of the
    // sound the chip plays.
    bool sourceSamples = false;
    // The sound as the format factory loads it (what resampling a file
    // means): a chip file is not decoded to the sound it plays, and a
    // resampled WAV is written as the resampler writes it.
    bool asLoaded = false;
    // The resource binary (and its header, binary + ".h"); empty for none.
    std::string binary;
    HeaderStyle header = HeaderStyle::kPlain;
    // The firmware header's array symbol (its guard and length constant are
    // the symbol in capitals); empty: made from the binary's file name.
    std::string headerName;
    bool overwrite = false;
    // Put the outputs in place (the default). Without it the job makes and
    // measures them in its private folder and leaves nothing behind: the
    // output and binary paths then only name the format and the binary.
    bool publish = true;
    // Also give the sound the chip plays from what was made (the binary
    // when one was asked for, else the output file), in memory.
    bool wantRendition = false;
    // Percent of the job done; may be none.
    I_ProgressCallback* progress = nullptr;
};

enum class Outcome { kDone, kRefused, kFailed };

struct Message {
    std::string file;
    std::string text;
};

// A sound in memory: interleaved 16-bit samples.
struct Rendition {
    uint32_t rate = 0;
    uint16_t channels = 0;
    std::vector<int16_t> samples;
    size_t Frames() const { return channels ? samples.size() / channels : 0; }
};

struct Result {
    Outcome outcome = Outcome::kFailed;
    Message failure;                   // when not done
    std::vector<Message> warnings;     // what the output format leaves out
    std::vector<std::string> written;  // the files put in place, in order
    long long binaryBytes = -1;        // size of the binary made, -1 without one
    unsigned long long fileBytes = 0;  // size of the output made (also when only the rendition failed)
    double seconds = 0;                // duration the output's header gives
    Rendition rendition;               // when asked for (Job::wantRendition)
    bool streamed = false;             // the sound went through in blocks
    bool ok() const { return outcome == Outcome::kDone; }
};

InputKind DetectInput(const std::string& path);

Result Run(const Job& job);

// The sound the chip plays from a chip file (decoded as it plays) or a
// resource binary (decoded as the chip reads it); false with *failure when
// it is neither or cannot be decoded.
bool RenditionOf(const std::string& path, Rendition& out, Message& failure);

// A file put in place from bytes, or moved from another file (copied in
// blocks when a rename cannot do it), through a temporary file beside the
// target: nothing half-written on failure.
bool PublishBytes(const std::string& target, const void* data, size_t size, std::string* failure);
bool PublishFile(const std::string& source, const std::string& target, std::string* failure);

// Writes the bytes of a binary as a firmware header at headerPath: an include
// guard, a length constant and a static const array named arrayName.
bool WriteFirmwareHeader(const std::string& headerPath, const std::string& arrayName,
                         const std::vector<uint8_t>& bytes);

// The length of a sound file as its header says, in seconds; 0 when it
// cannot be opened or has no rate.
double SoundSeconds(const std::string& path);

}  // namespace cz::api::pipeline
