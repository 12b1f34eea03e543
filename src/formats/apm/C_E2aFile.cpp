#include "formats/apm/C_E2aFile.h"

#include <algorithm>

#include "codecs/adpcm/C_EnhancedADPCM2Codec.h"

namespace cz {

namespace {
constexpr uint16_t kMid = C_EnhancedADPCM2Codec::kMidScale;
}  // namespace

C_E2aFile::C_E2aFile() : C_AdpcmMpmFile("WE2A", kFormatId) {}

C_E2aFile::~C_E2aFile() = default;

std::unique_ptr<C_ADPCMEncDec> C_E2aFile::CreateCoder() const {
    return std::make_unique<C_EnhancedADPCM2Codec>(16, 1, 1, 1);
}

void C_E2aFile::BuildHeader(S_MpmHeader& header, uint32_t rate, uint32_t sourceCount, uint32_t eventCount) {
    C_AdpcmMpmFile::BuildHeader(header, rate, sourceCount, eventCount);
    header.sourceBits = 16;
    header.decodedBits = 16;
}

FrameRecordError C_E2aFile::WalkFrames(std::span<const uint8_t> records, bool decode, S_FrameDecode& out) const {
    return WalkWe2aBlocks(records, decode, out);
}

int32_t C_E2aFile::WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                               const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) {
    C_EnhancedADPCM2Codec coder(16, 1, 1, 1);
    std::vector<S_MpmEventEntry> sorted = events;
    std::vector<uint32_t> cuts;
    SortEvents(sorted, cuts);
    // The decoder's history: the last two samples played (mid-scale after silence).
    uint16_t last = kMid, before = kMid;
    auto play = [&](uint16_t value) {
        out.Decoded(value);
        before = last;
        last = value;
    };
    size_t next = 0;
    auto marker = [&](const S_MpmEventEntry& e, uint16_t value) {
        out.U8(static_cast<uint8_t>((e.param & 63) << 2 | C_EnhancedADPCM2Codec::kBlockMarker));
        out.U8(e.type);
        out.U16(value);
        play(value);
    };
    std::vector<uint8_t> blocks;
    std::vector<uint16_t> decoded;
    for (S_FramePiece piece : CutSegmentsAtEvents(segments, cuts)) {
        // Each event due here plays one sample of the piece in a marker block.
        for (; piece.length > 0 && next < sorted.size() && sorted[next].sample <= piece.start; ++next) {
            marker(sorted[next], piece.silence ? kMid : samples[piece.start]);
            ++piece.start;
            --piece.length;
        }
        if (piece.length == 0) continue;
        if (piece.silence) {
            for (uint32_t left = piece.length; left > 0;) {
                const uint32_t n = std::min(left, C_EnhancedADPCM2Codec::kMaxSilenceBlock);
                out.U8(static_cast<uint8_t>((n & 63) << 2 | C_EnhancedADPCM2Codec::kBlockSilence));
                out.U8(static_cast<uint8_t>((n >> 6) << 2));
                out.DecodedRun(kMid, n);
                left -= n;
            }
            last = before = kMid;
            continue;
        }
        coder.SetStartHistory(last, before);
        blocks.assign(coder.GetMaxEncodedSize(piece.length, 0), 0);
        const uint32_t bytes = coder.Encode(piece.length, &samples[piece.start], blocks.data(),
                                            static_cast<uint32_t>(blocks.size()), 0, nullptr);
        if (bytes == 0) return 0;
        decoded.resize(piece.length);
        if (coder.Decode(blocks.data(), bytes, decoded.data(), 2 * piece.length, nullptr) != 2 * piece.length) return 0;
        out.Bytes(blocks.data(), bytes);
        for (uint16_t v : decoded) play(v);
    }
    for (; next < sorted.size(); ++next) marker(sorted[next], last);
    out.U16(0);  // end mark
    return out.Ok() ? 1 : 0;
}

}  // namespace cz
