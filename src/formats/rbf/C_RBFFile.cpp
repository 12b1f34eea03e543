#include "formats/rbf/C_RBFFile.h"

#include <cstring>

namespace cz {

int32_t C_RBFFile::ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t*) {
    SetError(WavFileError::kNone);
    bytes_.clear();
    uint8_t magic[4];
    if (!stream || !stream->ReadExactAt(0, magic, sizeof magic) || !OpenRbfDecoder(magic)) {
        return Fail(WavFileError::kNotThisFormat);
    }
    if (stream->Size() > kRbfMaxFileSize) return Fail(WavFileError::kBadFormat);
    std::vector<uint8_t> bytes;
    if (!stream->ReadBytes(0, static_cast<size_t>(stream->Size()), bytes)) return Fail(WavFileError::kTruncated);
    RbfSummary summary;
    // A refusal here comes after the chip file classes of the same magic:
    // the factory tells the reason of the one that knew the file, if any.
    switch (const RbfError e = InspectRbf(bytes, summary)) {
        case RbfError::kNone: break;
        case RbfError::kNoPayload: return Fail(WavFileError::kTruncated, DescribeRbfError(e, summary));
        case RbfError::kNoEndMark: return Fail(WavFileError::kTruncated, DescribeRbfError(e, summary));
        case RbfError::kBadRate: return Fail(WavFileError::kBadFormat, DescribeRbfError(e, summary));
        default: return Fail(WavFileError::kBadSampleData, DescribeRbfError(e, summary));
    }
    bytes_ = std::move(bytes);
    summary_ = std::move(summary);
    SetStream(std::move(stream));
    SetDataOffset(kRbfHeaderSize);
    if (loadFlag) {
        SetFormatId(kFormatId);
        EnsureSound()->SetFormat(summary_.sampleRate, static_cast<uint32_t>(summary_.samples * 2), 1, summary_.bits, 16,
                                 0);
    }
    return 1;
}

int32_t C_RBFFile::LoadSamples(uint32_t) {
    C_WavData* sound = Sound();
    if (!sound || bytes_.empty()) return Fail(WavFileError::kNoSound);
    switch (DecodeRbfBytes(bytes_, *sound)) {
        case RbfError::kNone: return 1;
        case RbfError::kTempFile: return Fail(WavFileError::kCannotOpen);
        default: return Fail(WavFileError::kBadSampleData);  // checked on opening: not expected
    }
}

}  // namespace cz
