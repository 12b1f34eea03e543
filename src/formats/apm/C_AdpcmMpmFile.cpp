#include "formats/apm/C_AdpcmMpmFile.h"

#include <algorithm>
#include <cstring>

namespace cz {

C_AdpcmMpmFile::C_AdpcmMpmFile(const char* code, uint32_t formatId) : T_MpmFormatBase<C_ApmFile>(code, code) {
    SetFormatType(formatId);
}

C_AdpcmMpmFile::~C_AdpcmMpmFile() = default;

bool C_AdpcmMpmFile::ReadFrameRecords(std::vector<uint8_t>& records) {
    InputStream* stream = Stream();
    const S_MpmHeader& h = MpmHeader();
    uint8_t head[kMpmFrameHeaderSize];
    // The section lies inside the file (checked with the header).
    if (!stream || !stream->ReadExactAt(h.frameOffset, head, sizeof head)) return false;
    const uint32_t first = LoadU32(head + 6), length = LoadU32(head + 10);
    if (std::memcmp(head, "MFRM", 4) != 0 || LoadU16(head + 4) != kMpmFrameHeaderSize ||
        first != uint64_t{h.frameOffset} + kMpmFrameHeaderSize || length != h.frameSize - kMpmFrameHeaderSize)
        return false;
    return stream->ReadBytes(first, length, records);
}

int32_t C_AdpcmMpmFile::ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) {
    if (!T_MpmFormatBase<C_ApmFile>::ReadHeaderStream(std::move(stream), loadFlag, outFlags)) return 0;
    std::vector<uint8_t> records;
    if (!ReadFrameRecords(records)) return Fail(WavFileError::kBadFormat);
    S_FrameDecode walk;
    if (WalkFrames(records, false, walk) != FrameRecordError::kNone || walk.samples != MpmHeader().decodedCount)
        return Fail(WavFileError::kBadFormat);
    return 1;
}

FrameRecordError C_AdpcmMpmFile::WalkFrames(std::span<const uint8_t> records, bool decode, S_FrameDecode& out) const {
    std::unique_ptr<C_ADPCMEncDec> coder = decode ? CreateCoder() : nullptr;
    return WalkAdpcmRecords(records, coder.get(), 2048, out);
}

bool C_AdpcmMpmFile::DecodeFrames(S_FrameDecode& out) {
    std::vector<uint8_t> records;
    return ReadFrameRecords(records) && WalkFrames(records, true, out) == FrameRecordError::kNone;
}

int32_t C_AdpcmMpmFile::WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                                    const std::vector<S_MpmSegment>& segments,
                                    const std::vector<S_MpmEventEntry>& events) {
    std::unique_ptr<C_ADPCMEncDec> coder = CreateCoder();
    if (!coder) return 0;
    const uint32_t mode = CodingMode();
    std::vector<S_MpmEventEntry> sorted = events;
    std::vector<uint32_t> cuts;
    SortEvents(sorted, cuts);
    size_t next = 0;
    auto eventsUpTo = [&](uint64_t sample) {
        for (; next < sorted.size() && sorted[next].sample <= sample; ++next) {
            out.U8(kAdpcmRecordEvent);
            out.U8(sorted[next].type);
            out.U8(sorted[next].param);
        }
    };
    std::vector<uint8_t> codes;
    std::vector<uint16_t> decoded;
    for (const S_FramePiece& piece : CutSegmentsAtEvents(segments, cuts)) {
        eventsUpTo(piece.start);
        if (piece.silence) {
            for (uint32_t left = piece.length; left > 0;) {
                const uint32_t n = std::min(left, kAdpcmRecordMaxSilence);
                out.U8(kAdpcmRecordSilence);
                out.U16(static_cast<uint16_t>(n));
                out.DecodedRun(2048, n);
                left -= n;
            }
            continue;
        }
        codes.assign(coder->GetMaxEncodedSize(piece.length, mode), 0);
        const uint32_t bytes = coder->Encode(piece.length, &samples[piece.start], codes.data(),
                                             static_cast<uint32_t>(codes.size()), mode, nullptr);
        const uint32_t count = coder->GetStepIndexTraceSize();
        if (bytes == 0 || count == 0 || count > 2ull * bytes) return 0;
        decoded.resize(count);
        if (coder->Decode(codes.data(), bytes, decoded.data(), 2 * count, nullptr) != 2 * count) return 0;
        out.U8(kAdpcmRecordVoice);
        out.U16(static_cast<uint16_t>(count));
        out.U16(static_cast<uint16_t>(count >> 16));
        out.U16(static_cast<uint16_t>(bytes));
        out.U16(static_cast<uint16_t>(bytes >> 16));
        out.Bytes(codes.data(), bytes);
        for (uint16_t v : decoded) out.Decoded(v);
    }
    eventsUpTo(UINT64_MAX);
    out.U8(kAdpcmRecordEnd);
    return out.Ok() ? 1 : 0;
}

}  // namespace cz
