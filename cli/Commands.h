// The commands of the cadenzor tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "api/Profile.h"
#include "api/pipeline/Pipeline.h"
#include <vector>

namespace cz::cli {

enum ExitCode { kExitOk = 0, kExitUsage = 1, kExitFailed = 2, kExitOverBudget = 3 };

struct Options {
    bool overwrite = false;
    bool quiet = false;
    bool verbose = false;
    bool json = false;
    unsigned long rate = 0;
    bool haveRate = false;
    // A chip format written at a rate outside the chips' 4000 to 48000 Hz.
    bool anyRate = false;
    std::string binary;
    std::string output;
    long mode = -1;
    unsigned long maxBytes = 0;
    bool haveMaxBytes = false;
    // convert: a chip file's stored source samples instead of the sound the
    // chip plays.
    bool source = false;
    // The byte-array header in the firmware style (static const, include
    // guard, length constant) instead of the plain one.
    bool firmwareHeader = false;
    // The firmware header's array symbol; empty: from the binary's file name
    // (batch names it by the path under the output folder, so that two
    // prompts of one name in different folders differ).
    std::string headerName;
    // batch: a resource binary and header beside every output.
    bool binaries = false;
    // batch, report, pack: output formats by extension, without the dot.
    std::vector<std::string> formats;
    unsigned jobs = 0;              // 0: the number of cores
    unsigned long long budget = 0;  // bytes; 0: none
    std::string html;
    std::string player;
    // convert from XMF: where the DLS bank goes, and whether both files are
    // made ready for a DLS-aware player.
    std::string dls;
    bool forPlay = false;
    // The codec-library speech formats: ESB and SBD bit rate (bit/s), ESB
    // quality; -1 when not given.
    long bitrate = -1;
    long quality = -1;
    // unpack: each pack entry decoded to WAV as well; play: the pack entry.
    bool wav = false;
    long entry = -1;
    // pitch: the length factor, or the shift in semitones.
    double factor = 1.0;
    bool haveFactor = false;
    double semitones = 0.0;
    bool haveSemitones = false;
    std::vector<std::string> inputs;
    // --- sound profile: best (default, --effort) or --compatible ---
    api::Profile profile;
};

int RunCheck(const Options& options);
// info of a resource binary or a pack image (BinaryCommands.cpp): false when
// the file is neither (nothing printed), else prints it and sets *status.
bool RunBinaryInfo(const std::string& path, bool json, int* status);

// Text for an HTML page, with <, >, & and " escaped.
std::string HtmlEscape(const std::string& text);
// unpack IMAGE DIR [--wav]
int RunUnpack(const Options& options);
// The bytes of pack entry `entry` of image written to path; false (with the
// reason told) otherwise.
bool ExtractPackEntry(const std::string& image, long entry, const std::string& path);
int RunInfo(const Options& options);
int RunConvert(const Options& options);
int RunResample(const Options& options);
// Cuts an RBF resource to at most --max-bytes bytes (whole blocks, end mark).
int RunCut(const Options& options);

// MIDI files and XMF containers (MidiCommands.cpp).
bool IsMidiFile(const std::string& path);
int RunMidiInfo(const std::string& path, bool json);
// The length in seconds of the Standard MIDI File at path; false when it cannot be read.
bool MidiFileSeconds(const std::string& path, double& seconds);
// IMF melodies: an "IMF1" header.
bool IsImfFile(const std::string& path);
int RunImfInfo(const std::string& path, bool json);
// A melody for a pack: an IMF file or a MIDI file (IMF1 or MThd header).
bool IsMelodyFile(const std::string& path);
// The melody's IMF bytes, the file itself or made from MIDI as "convert
// x.mid x.imf" makes it (at the path made, a scratch file); false with why.
bool MelodyResource(const std::string& path, const std::string& made, std::vector<uint8_t>& imf, std::string& why);
// The playing time of an IMF image; false with why when it does not parse.
bool MelodySeconds(std::span<const uint8_t> bytes, double& seconds, std::string& why);
// MIDI to IMF through the melody tool (the IMF's C array header beside it).
int RunConvertToImf(const Options& options);
int RunConvertToXmf(const Options& options);
// An IMF melody back to a Standard MIDI File (ImfCommands.cpp).
int RunConvertFromImf(const Options& options);

// batch, report, pack, play (BatchCommand.cpp, ReportCommand.cpp,
// PackCommand.cpp, PlayCommand.cpp).
int RunBatch(const Options& options);
int RunReport(const Options& options);
int RunPack(const Options& options);
int RunPlay(const Options& options);
// pitch IN OUT (--factor F | --semitones N) (PitchCommand.cpp).
int RunPitch(const Options& options);
// formats [--json]: the facts of every format class (FormatsCommand.cpp).
int RunFormats(const Options& options);

// ASF files with a WMA stream (WmaCommands.cpp): DecodeWma writes the WAV
// with a progress bar and reports a failure through Fail.
bool IsWmaFile(const std::string& path);
bool DecodeWma(const Options& options, const std::string& input, const std::string& wav);
// The same without a bar or a message: "" on success, else the reason.
std::string DecodeWmaQuietly(const std::string& input, const std::string& wav);
int RunWmaInfo(const std::string& path, bool json);

// XMF files (XmfCommands.cpp).
bool IsXmfFile(const std::string& path);
int RunXmfInfo(const std::string& path, bool json);
int RunConvertFromXmf(const Options& options);

// "cadenzor: <file>: <reason>" on standard error, or into the capture of the
// calling thread while a FailureCapture is alive there.
void Fail(const std::string& file, const std::string& reason);

// "cadenzor: <file>: warning: <text>" on standard error (nothing while a
// FailureCapture is alive on this thread).
void Warn(const std::string& file, const std::string& text);

// Why a path cannot be read as an input, in the platform's words ("No such
// file or directory", "is a folder, not a file"), or "" when it can.
std::string UnreadableReason(const std::string& path);

// Collects what Fail says on this thread instead of printing it.
class FailureCapture {
public:
    FailureCapture();
    ~FailureCapture();
    FailureCapture(const FailureCapture&) = delete;
    FailureCapture& operator=(const FailureCapture&) = delete;
    const std::string& Text() const { return text_; }

private:
    friend void Fail(const std::string& file, const std::string& reason);
    std::string text_;
    FailureCapture* outer_;
};

// A JSON string literal of text.
std::string JsonText(const std::string& text);
// info --json's object for a file that cannot be read: {"file": ..., "error": ...}.
void PrintJsonError(const std::string& path, const std::string& why);

// The bytes the chip stores for a chip-format file: the size of the resource
// binary the converter makes of it, or -1 when it makes none.
long long ResourceBytes(const std::string& chipFile);

// The extensions the tool writes, for help texts: "wav, apm, mdm, ...".
std::string FormatListText();
// The formats the resource converter makes chip binaries of: "apm, mdm, ...".
std::string BinaryFormatListText();
// The chip-format id for an extension without its dot, or 0 (kFormatNone).
uint32_t FormatIdForExtension(const std::string& extension);

// The extension of a path with its dot (".wav"), or "".
std::string ExtensionOf(const std::string& path);

// The codec parameter that --mode, --bitrate and --quality give for a
// format: true with *param set when one was asked for; false without one, or
// with *why set when the options do not apply to the format.
bool CodecParameter(const Options& options, uint32_t formatId, uint32_t* param, std::string* why = nullptr);

// Converts one input to one output as "convert" does (options.inputs[0] to
// options.output), with the binary and its header when options.binary is
// set. Every output is made in a private folder and put in place only when
// all of them were made. Failures are reported through Fail.
int ConvertOne(const Options& options);

// The job ConvertOne runs for these options, after every check that would
// refuse it (reported through Fail, with the exit status returned); kExitOk
// with *job filled when it may run. *special is set instead, and nothing
// checked, when the conversion is one ConvertOne makes outside the pipeline
// (XMF and IMF).
int PrepareConvertJob(const Options& options, api::pipeline::Job* job, bool* special);

// Runs a job prepared by PrepareConvertJob and reports its warnings and
// failure as ConvertOne does.
int RunConvertJob(const Options& options, const api::pipeline::Job& job, api::pipeline::Result* result = nullptr);

// Writes the bytes of a binary as a firmware header at headerPath: an include
// guard, a length constant and a static const array named after arrayName.
bool WriteFirmwareHeader(const std::string& headerPath, const std::string& arrayName,
                         const std::vector<uint8_t>& bytes);

// A file put in place from bytes, or from another file, through a temporary
// file beside it (nothing half-written on failure).
bool PublishBytes(const std::string& target, const void* data, size_t size, std::string* failure);
bool PublishFile(const std::string& source, const std::string& target, std::string* failure);

}  // namespace cz::cli
