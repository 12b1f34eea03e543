#include "formats/apm/AdpcmMpmLayout.h"

#include <algorithm>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/rbf/RbfCoding.h"
#include "foundation/ByteReader.h"

namespace cz {

std::vector<S_FramePiece> CutSegmentsAtEvents(const std::vector<S_MpmSegment>& segments,
                                              const std::vector<uint32_t>& cuts) {
    std::vector<S_FramePiece> pieces;
    for (const S_MpmSegment& seg : segments) {
        if (seg.length == 0) continue;
        const bool silence = seg.type == kMpmSegmentSilence;
        const uint64_t end = static_cast<uint64_t>(seg.first) + seg.length;
        uint32_t from = seg.first;
        for (auto it = std::upper_bound(cuts.begin(), cuts.end(), seg.first); it != cuts.end() && *it < end; ++it) {
            pieces.push_back({silence, from, *it - from});
            from = *it;
        }
        pieces.push_back({silence, from, static_cast<uint32_t>(end - from)});
    }
    return pieces;
}

void SortEvents(std::vector<S_MpmEventEntry>& events, std::vector<uint32_t>& cuts) {
    std::stable_sort(events.begin(), events.end(),
                     [](const S_MpmEventEntry& a, const S_MpmEventEntry& b) { return a.sample < b.sample; });
    cuts.clear();
    for (const S_MpmEventEntry& e : events) cuts.push_back(e.sample);
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
}

FrameRecordError WalkAdpcmRecords(std::span<const uint8_t> r, C_ADPCMEncDec* coder, uint16_t silenceValue,
                                  S_FrameDecode& out) {
    out = S_FrameDecode();
    size_t pos = 0;
    auto add = [&](uint64_t n) {
        out.samples += n;
        return out.samples <= 0xFFFFFFFFull;
    };
    while (pos < r.size()) {
        const size_t left = r.size() - pos;
        const uint8_t* p = r.data() + pos;
        switch (p[0]) {
            case kAdpcmRecordEnd: return FrameRecordError::kNone;
            case kAdpcmRecordSilence: {
                if (left < 3) return FrameRecordError::kPastEnd;
                const uint16_t n = LoadU16(p + 1);
                if (n == 0) return FrameRecordError::kBadRecord;
                if (coder) out.decoded.insert(out.decoded.end(), n, silenceValue);
                if (!add(n)) return FrameRecordError::kTooLong;
                pos += 3;
                break;
            }
            case kAdpcmRecordEvent:
                if (left < 3) return FrameRecordError::kPastEnd;
                out.markers.push_back({static_cast<uint32_t>(out.samples), p[1], p[2]});
                pos += 3;
                break;
            case kAdpcmRecordVoice: {
                if (left < kAdpcmVoiceHeaderSize) return FrameRecordError::kPastEnd;
                const uint32_t n = LoadU32(p + 1), k = LoadU32(p + 5);
                if (k > left - kAdpcmVoiceHeaderSize) return FrameRecordError::kPastEnd;
                if (n == 0 || k == 0 || n > 2ull * k) return FrameRecordError::kBadRecord;
                if (coder) {
                    // n is at most twice the bytes that are there.
                    const size_t at = out.decoded.size();
                    out.decoded.resize(at + n);
                    if (coder->Decode(p + kAdpcmVoiceHeaderSize, k, &out.decoded[at], 2 * n, nullptr) != 2 * n)
                        return FrameRecordError::kBadVoice;
                }
                if (!add(n)) return FrameRecordError::kTooLong;
                pos += kAdpcmVoiceHeaderSize + size_t{k};
                break;
            }
            default: return FrameRecordError::kBadRecord;
        }
    }
    return FrameRecordError::kNoEnd;
}

namespace {

// Collects (or only counts) what the chip's decoder outputs.
class CollectSink : public RbfSampleSink {
public:
    explicit CollectSink(std::vector<uint16_t>* out) : out_(out) {}
    bool Put(uint16_t value, uint32_t count) override {
        if (out_) out_->insert(out_->end(), count, value);
        return true;
    }

private:
    std::vector<uint16_t>* out_;
};

}  // namespace

FrameRecordError WalkWe2aBlocks(std::span<const uint8_t> blocks, bool decode, S_FrameDecode& out) {
    out = S_FrameDecode();
    const uint8_t magic[4] = {'W', 'E', '2', 'A'};
    std::unique_ptr<RbfDecoder> decoder = OpenRbfDecoder(magic);
    if (!decoder) return FrameRecordError::kBadRecord;
    CollectSink sink(decode ? &out.decoded : nullptr);
    const RbfDecodeResult result = decoder->Decode(blocks, sink);
    out.samples = result.samples;
    for (const RbfMarker& m : result.markers) out.markers.push_back({m.position, m.identifier, m.type});
    if (result.status == RbfStatus::kBlockPastEnd) return FrameRecordError::kPastEnd;
    if (result.status == RbfStatus::kTooManySamples) return FrameRecordError::kTooLong;
    if (!result.ok()) return FrameRecordError::kBadRecord;
    return result.endMark ? FrameRecordError::kNone : FrameRecordError::kNoEnd;
}

}  // namespace cz
