#include "formats/ext/C_MclpFile.h"

#include "formats/ext/ExtCodecEntries.h"
#include "foundation/C_CUString.h"
#include "foundation/LibraryLoader.h"

namespace cz {

namespace {
// A decoder's result: nonzero, and when it reports a sample count, not
// fewer samples than asked.
bool DecodedEnough(int32_t result, uint32_t count) {
    if (result == 0) return false;
    return result < 0 || result == 1 || static_cast<uint32_t>(result) >= count;
}
}  // namespace

C_MclpFile::C_MclpFile() : C_MclpFile("WMCP", "WMCP", kFormatMcp) {}

C_MclpFile::C_MclpFile(const char* code, const char* secondCode, uint32_t formatId)
    : C_ClpFile(code, secondCode, formatId, 0) {
    SetLargestSilenceRun(4095);
}

C_MclpFile::~C_MclpFile() = default;

uint32_t C_MclpFile::CoderMode() const { return CodecParam() == 1 ? 1 : 0; }

uint32_t C_MclpFile::GetFrameSize() {
    S_CodecEntry e = LoadCodecEntry(GetCodecLibraryName(), GetFrameSizeEntryName(), GetOwnerWindow(), true);
    if (!e) return 0;
    int32_t first = 0, second = 0;
    EntryAs<McpGetFrameSizeFn>(e.entry)(static_cast<int32_t>(CoderMode()), &first, &second);
    const int16_t size = static_cast<int16_t>(second & 0xFFFF);
    return size > 0 ? static_cast<uint32_t>(size) : 0;
}

bool C_MclpFile::EncodeToFile(const int16_t* samples, uint32_t count, uint32_t mode, const std::string& codedPath) {
    S_CodecEntry e = LoadCodecEntry(GetCodecLibraryName(), GetEncodeEntryName(), GetOwnerWindow(), true);
    if (!e) return false;
    return EntryAs<McpEncodeFn>(e.entry)(samples, static_cast<int32_t>(count), static_cast<int32_t>(mode),
                                         codedPath.c_str()) != 0;
}

bool C_MclpFile::DecodeFromFile(const std::string& codedPath, uint32_t mode, int16_t* out, uint32_t count) {
    S_CodecEntry e = LoadCodecEntry(GetCodecLibraryName(), GetDecodeEntryName(), GetOwnerWindow(), true);
    if (!e) return false;
    return DecodedEnough(
        EntryAs<McpDecodeFn>(e.entry)(codedPath.c_str(), static_cast<int32_t>(mode), out, static_cast<int32_t>(count)),
        count);
}

C_WlpcFile::C_WlpcFile() : C_MclpFile("WLPC", "WLPC", kFormatWlp) {
    SetLargestSilenceRun(0xFFF0);
    SetFrameSize(0);
    S_CodecEntry e = LoadCodecEntry(GetCodecLibraryName(), GetFrameSizeEntryName(), 0, false);
    if (e) {
        int32_t a = 0, b = 0, c = 0;
        EntryAs<WlpGetFrameSizeFn>(e.entry)(0, &a, &b, &c);
        const int16_t size = static_cast<int16_t>(c & 0xFFFF);
        SetFrameSize(size > 0 ? static_cast<uint32_t>(size) : 0);
    }
}

C_WlpcFile::C_WlpcFile(const char* code, const char* secondCode, uint32_t formatId, uint32_t frameSize)
    : C_MclpFile(code, secondCode, formatId) {
    SetLargestSilenceRun(0xFFF0);
    SetFrameSize(frameSize);
}

C_WlpcFile::~C_WlpcFile() = default;

std::string C_WlpcFile::CannotSaveReason() const {
    if (StoredFrameSize() == 0)
        return FormatString(
            "Cannot save a %.4s file: the codec library '%s' did "
            "not give a frame size.",
            FormatCode(), GetCodecLibraryName());
    return {};
}

bool C_WlpcFile::EncodeToFile(const int16_t* samples, uint32_t count, uint32_t mode, const std::string& codedPath) {
    S_CodecEntry e = LoadCodecEntry(GetCodecLibraryName(), GetEncodeEntryName(), GetOwnerWindow(), true);
    if (!e) return false;
    return EntryAs<WlpEncodeFn>(e.entry)(samples, static_cast<int32_t>(count), static_cast<int32_t>(mode),
                                         codedPath.c_str(), static_cast<int32_t>(CodecParam() & 0xFF)) != 0;
}

bool C_WlpcFile::DecodeFromFile(const std::string& codedPath, uint32_t mode, int16_t* out, uint32_t count) {
    S_CodecEntry e = LoadCodecEntry(GetCodecLibraryName(), GetDecodeEntryName(), GetOwnerWindow(), true);
    if (!e) return false;
    return DecodedEnough(
        EntryAs<WlpDecodeFn>(e.entry)(codedPath.c_str(), static_cast<int32_t>(mode), out, static_cast<int32_t>(count)),
        count);
}

}  // namespace cz
