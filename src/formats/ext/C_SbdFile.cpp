#include "formats/ext/C_SbdFile.h"

#include <cmath>

#include "formats/ext/ExtCodecEntries.h"
#include "foundation/C_CUString.h"
#include "foundation/LibraryLoader.h"

namespace cz {

namespace {
bool DecodedEnough(int32_t result, uint32_t count) {
    if (result == 0) return false;
    return result < 0 || result == 1 || static_cast<uint32_t>(result) >= count;
}
void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
}  // namespace

C_SbdFile::C_SbdFile() : C_SbdFile("WSBD", "OSBC", kFormatSbd, 1024) {}

C_SbdFile::C_SbdFile(const char* code, const char* secondCode, uint32_t formatId, uint32_t frameSize)
    : C_WlpcFile(code, secondCode, formatId, frameSize) {}

C_SbdFile::~C_SbdFile() = default;

uint32_t C_SbdFile::RequestedBitRate() const {
    const uint32_t rate = CodecParam() & 0xFFFF;
    return rate == 0 ? kDefaultBitRate : rate;
}

uint32_t C_EsbFile::RequestedBitRate() const {
    const uint32_t rate = CodecParam() & 0xFFFF;
    return rate == 0 ? kDefaultBitRate : rate * 100;
}

bool C_SbdFile::WriteTemporaryWav(const std::string& path, const int16_t* samples, uint32_t count) {
    C_WavData* sound = Sound();
    const uint32_t rate = sound ? sound->GetWavInfo()->GetSampleRate() : 0;
    if (rate == 0 || count > (0xFFFFFFFFu - 44) / 2) return false;
    std::vector<uint8_t> b;
    b.reserve(44 + 2ull * count);
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    Put32(b, 36 + 2 * count);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(b, 16);
    Put16(b, 1);
    Put16(b, 1);
    Put32(b, rate);
    Put32(b, rate * 2);
    Put16(b, 2);
    Put16(b, 16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    Put32(b, 2 * count);
    for (uint32_t i = 0; i < count; ++i) Put16(b, static_cast<uint16_t>(samples[i]));
    auto file = platform::File::Open(path, platform::open_flags::kWrite | platform::open_flags::kCreate);
    return file && file->Write(b.data(), b.size());
}

bool C_SbdFile::RunEncoder(const std::string& wavPath, const std::string& codedPath) {
    S_CodecEntry e = LoadCodecEntry(GetCodecLibraryName(), GetEncodeEntryName(), GetOwnerWindow(), true);
    if (!e) return false;
    const int32_t flag = (CodecParam() >> 16) & 1;
    return EntryAs<SbdEncodeFn>(e.entry)(wavPath.c_str(), codedPath.c_str(), static_cast<int32_t>(RequestedBitRate()),
                                         13, flag) >= 0;
}

bool C_EsbFile::RunEncoder(const std::string& wavPath, const std::string& codedPath) {
    S_CodecEntry e = LoadCodecEntry(GetCodecLibraryName(), GetEncodeEntryName(), GetOwnerWindow(), true);
    if (!e) return false;
    S_EsbEncodeRecord record;
    return EntryAs<EsbEncodeFn>(e.entry)(&record, wavPath.c_str(), codedPath.c_str(),
                                         static_cast<int32_t>(RequestedBitRate()), static_cast<float>(Quality()),
                                         Flag() ? 1.0f : 0.0f) >= 0;
}

bool C_SbdFile::EncodeToFile(const int16_t* samples, uint32_t count, uint32_t, const std::string& codedPath) {
    // The segment's own samples (padding included) go to the coder.
    const std::string wavPath = TempName("wav");
    if (wavPath.empty()) return false;
    bool ok = WriteTemporaryWav(wavPath, samples, count) && RunEncoder(wavPath, CodedFileOf(codedPath));
    platform::DeleteFile(wavPath);
    return ok;
}

bool C_SbdFile::DecodeFromFile(const std::string& codedPath, uint32_t, int16_t* out, uint32_t count) {
    S_CodecEntry e = LoadCodecEntry(GetCodecLibraryName(), GetDecodeEntryName(), GetOwnerWindow(), true);
    if (!e) return false;
    return DecodedEnough(
        EntryAs<RateDecodeFn>(e.entry)(CodedFileOf(codedPath).c_str(), out, static_cast<int32_t>(count)), count);
}

std::string C_SbdFile::BitRateWarning(double requested, const std::string& path, double actual) {
    return FormatString(
        "Specified bit rate (%f Kbps) could not be achieved "
        "while encoding to '%s'.\nActual bit rate = %f Kbps",
        requested * 0.001, path.c_str(), actual * 0.001);
}

bool C_SbdFile::WriteEndMark(C_MpmFrameOutput& out) {
    C_WavData* sound = Sound();
    if (GetOwnerWindow() != 0 && sound && out.DecodedCount() != 0) {
        const double rate = sound->GetWavInfo()->GetSampleRate();
        const double channels = std::max<uint32_t>(1, sound->GetWavInfo()->GetChannels());
        // Bits over samples in one division of two whole numbers (exact in a
        // double at any size a frame section has), so the result is the
        // requested rate exactly when the coder met it: any difference is
        // a real one and warns, with no tolerance.
        const double actual =
            static_cast<double>(out.FrameBytes()) * 8.0 * rate / (static_cast<double>(out.DecodedCount()) * channels);
        const double requested = RequestedBitRate();
        if (actual != requested) platform::ShowMessage("Warning", BitRateWarning(requested, SavePath(), actual));
    }
    return C_ClpFile::WriteEndMark(out);
}

}  // namespace cz
