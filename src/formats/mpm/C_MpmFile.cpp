#include "formats/mpm/C_MpmFile.h"

#include <algorithm>

namespace cz {

namespace {

// A stretch of the segment table after the cuts at events.
struct S_Piece {
    bool silence = false;
    bool raw = false;  // voice written as raw records (coding mode 1)
    uint32_t start = 0;
    uint32_t length = 0;
};

// The segments cut at every event sample strictly inside them.
std::vector<S_Piece> CutAtEvents(const std::vector<S_MpmSegment>& segments, const std::vector<uint32_t>& cuts) {
    std::vector<S_Piece> pieces;
    for (const S_MpmSegment& seg : segments) {
        if (seg.length == 0) continue;
        const bool silence = seg.type == kMpmSegmentSilence;
        const bool raw = seg.type == kMpmSegmentVoiceRaw;
        const uint64_t end = static_cast<uint64_t>(seg.first) + seg.length;
        uint32_t from = seg.first;
        auto it = std::upper_bound(cuts.begin(), cuts.end(), seg.first);
        for (; it != cuts.end() && *it < end; ++it) {
            pieces.push_back({silence, raw, from, *it - from});
            from = *it;
        }
        pieces.push_back({silence, raw, from, static_cast<uint32_t>(end - from)});
    }
    return pieces;
}

}  // namespace

C_MpmFile::C_MpmFile() : C_MpmFile("WMPM", "WMDM") {}

C_MpmFile::C_MpmFile(const char* code, const char* secondCode) : T_MpmFormatBase<C_SrcFile>(code, secondCode) {}

C_MpmFile::~C_MpmFile() = default;

std::unique_ptr<C_MDPCMEncDec> C_MpmFile::CreateCoder() { return std::make_unique<C_MDPCMEncDec>(0, 12); }

uint32_t C_MpmFile::FrameLength(uint32_t type) const {
    switch (type) {
        case kRecordShortFrame:
        case kRecordShortFrameCommand: return ShortFrameLength();
        case kRecordLongFrame:
        case kRecordLongFrameCommand: return LongFrameLength();
        default: return 0;
    }
}

bool C_MpmFile::WriteFrameRecord(C_MpmFrameOutput& out, uint32_t type, const uint8_t* frame, const uint16_t* decoded,
                                 uint32_t index, uint32_t count, uint16_t command) {
    out.U8(MapRecordCode(type));
    if (type == kRecordShortFrameCommand || type == kRecordLongFrameCommand) out.U16(command);
    out.Bytes(frame, 1 + size_t{FrameLength(type)});
    for (uint32_t k = 0; k < count; ++k) out.Decoded(decoded[index + 1 + k]);
    return out.Ok();
}

bool C_MpmFile::WriteSilenceRecord(C_MpmFrameOutput& out, uint32_t type, uint32_t length, uint16_t command) {
    if (length > 0xFFFF) return false;
    out.U8(MapRecordCode(type));
    out.U16(static_cast<uint16_t>(length));
    if (type == kRecordSilenceCommand) out.U16(command);
    out.DecodedRun(out.LastDecoded(), length);
    return out.Ok();
}

bool C_MpmFile::WriteRawRecord(C_MpmFrameOutput& out, uint32_t type, const uint16_t* samples, uint32_t count,
                               uint16_t command) {
    if (count == 0 || count > kMaxRawRecord) return false;
    out.U8(MapRecordCode(type));
    out.U8(static_cast<uint8_t>((samples[0] >> 4) & 0xFF));
    if (type == kRecordRawCommand) out.U16(command);
    out.U8(static_cast<uint8_t>(count - 1));
    for (uint32_t i = 1; i < count; ++i) out.U8(static_cast<uint8_t>((samples[i] >> 4) & 0xFF));
    // The record keeps the top 8 of the 12 bits: that is what plays.
    for (uint32_t i = 0; i < count; ++i) out.Decoded(static_cast<uint16_t>(samples[i] & 0xFF0));
    return out.Ok();
}

bool C_MpmFile::WriteSilenceRun(C_MpmFrameOutput& out, uint32_t length, bool hasCommand, uint16_t command) {
    // Silence records hold an even length of at most the longest record:
    // 65534 samples by default, the 16-bit field's limit made even so that
    // every record of a long run stays even.
    const uint32_t most = std::max<uint32_t>(2, std::min<uint32_t>(MaxSilenceRecord(), 0xFFFF) & ~1u);
    do {
        const uint32_t n = std::min(length, most);
        if (!WriteSilenceRecord(out, hasCommand ? kRecordSilenceCommand : kRecordSilence, n, command)) return false;
        hasCommand = false;
        length -= n;
    } while (length > 0);
    return true;
}

bool C_MpmFile::WriteRawChunk(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples, uint32_t start,
                              uint32_t length, bool hasCommand, uint16_t command) {
    const uint32_t total = static_cast<uint32_t>(samples.size());
    // A single sample is widened to two; samples past the end are the fill value.
    const uint32_t count = std::max<uint32_t>(length, 2);
    std::vector<uint16_t> piece(kMaxRawRecord);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(count - done, kMaxRawRecord);
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t at = static_cast<uint64_t>(start) + done + i;
            piece[i] = at < total ? samples[at] : FillValue();
        }
        if (!WriteRawRecord(out, hasCommand ? kRecordRawCommand : kRecordRaw, piece.data(), n, command)) return false;
        hasCommand = false;
        done += n;
    }
    return true;
}

bool C_MpmFile::WriteCodedChunk(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples, uint32_t start,
                                uint32_t length, bool hasCommand, uint16_t command) {
    C_MDPCMEncDec& coder = *coder_;
    const uint32_t longLength = LongFrameLength(), shortLength = ShortFrameLength();
    const uint64_t bound = coder.GetMaxEncodedSize(length, longLength, shortLength);
    std::vector<uint8_t> coded(static_cast<size_t>(bound));
    const uint16_t initial = ChunkInitialValue(samples, start, out);
    const uint32_t bytes =
        coder.Encode(coded.data(), coded.size(), length, &samples[start], initial, longLength, shortLength, 0, nullptr);
    if (bytes == 0) return false;
    const uint32_t frames = coder.LongFrameCount() + coder.ShortFrameCount();
    const uint32_t produced = coder.CountDecodedSamples(longLength, shortLength, coded.data(), bytes);
    // What the chip plays is decoded a run of frames at a time (the decoder
    // carries only the last value from frame to frame): window[0] is the
    // value before the run, window[1 + i] sample windowStart + i.
    constexpr uint32_t kWindowSamples = 65536;
    std::vector<uint16_t> window;
    uint16_t last = initial;
    uint32_t windowStart = 0, windowEnd = 0;
    auto frameSize = [&](size_t at, uint32_t* samples) {
        const bool isLong = (coded[at] & 1) != 0;
        *samples = isLong ? longLength : shortLength;
        return 1 + size_t{FrameLength(isLong ? kRecordLongFrame : kRecordShortFrame)};
    };
    size_t pos = 0;
    uint32_t index = 0;
    for (uint32_t f = 0; f < frames; ++f) {
        if (pos >= bytes) return false;
        uint32_t n = 0;
        const size_t frameBytes = frameSize(pos, &n);
        const bool isLong = (coded[pos] & 1) != 0;
        uint32_t type = isLong ? kRecordLongFrame : kRecordShortFrame;
        if (pos + frameBytes > bytes || static_cast<uint64_t>(index) + n > produced) return false;
        if (index >= windowEnd) {
            // The frames of the next run, whole frames only.
            size_t end = pos;
            uint32_t count = 0;
            for (uint32_t g = f; g < frames && end < bytes && (count == 0 || count < kWindowSamples); ++g) {
                uint32_t m = 0;
                const size_t size = frameSize(end, &m);
                if (end + size > bytes) break;
                end += size;
                count += m;
            }
            if (count < n || static_cast<uint64_t>(index) + count > produced) return false;
            window.assign(size_t{count} + 1, 0);
            window[0] = last;
            if (coder.Decode(window.data() + 1, count, &coded[pos], end - pos, last, longLength, shortLength,
                             nullptr) != count)
                return false;
            last = window.back();
            windowStart = index;
            windowEnd = index + count;
        }
        const bool carries = hasCommand && (CommandFrameSetting() == 0 ? f == 0 : f + 1 == frames);
        if (carries) ++type;
        if (!WriteFrameRecord(out, type, &coded[pos], window.data(), index - windowStart, n, command)) return false;
        pos += frameBytes;
        index += n;
    }
    return true;
}

bool C_MpmFile::WriteVoiceChunk(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples, uint32_t start,
                                uint32_t length, bool raw, bool hasCommand, uint16_t command) {
    if (!raw && length >= ShortFrameLength() && ShortFrameLength() > 0)
        return WriteCodedChunk(out, samples, start, length, hasCommand, command);
    return WriteRawChunk(out, samples, start, length, hasCommand, command);
}

int32_t C_MpmFile::WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                               const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) {
    std::unique_ptr<C_MDPCMEncDec> coder = CreateCoder();
    if (!coder || LongFrameLength() == 0) return 0;
    if (Sound() && Sound()->GetWriteParam()) coder->SetSearchEffort(Sound()->GetWriteParam()->GetSearchEffort());
    coder_ = coder.get();
    struct ResetCoder {
        C_MDPCMEncDec*& coder;
        ~ResetCoder() { coder = nullptr; }
    } reset{coder_};

    std::vector<S_MpmEventEntry> sorted = events;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const S_MpmEventEntry& a, const S_MpmEventEntry& b) { return a.sample < b.sample; });
    std::vector<uint32_t> cuts;
    for (const S_MpmEventEntry& e : sorted) cuts.push_back(e.sample);
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    size_t nextEvent = 0;
    // Events that no piece can carry (a second one at the same sample, or
    // one past the end) ride on empty silence records.
    auto flushEvents = [&](uint64_t upTo, bool keepLast) -> bool {
        size_t last = nextEvent;
        while (last < sorted.size() && sorted[last].sample <= upTo) ++last;
        const size_t stop = keepLast && last > nextEvent ? last - 1 : last;
        for (; nextEvent < stop; ++nextEvent) {
            const S_MpmEventEntry& e = sorted[nextEvent];
            if (!WriteSilenceRecord(out, kRecordSilenceCommand, 0, MpmCommandWord(e.type, e.param))) return false;
        }
        return true;
    };

    uint32_t borrowed = 0;
    for (S_Piece piece : CutAtEvents(segments, cuts)) {
        // A silence before may have taken this piece's first sample.
        const uint32_t take = std::min(borrowed, piece.length);
        piece.start += take;
        piece.length -= take;
        borrowed -= take;
        if (piece.length == 0) continue;
        if (!flushEvents(piece.start, true)) return 0;
        const bool hasCommand = nextEvent < sorted.size() && sorted[nextEvent].sample <= piece.start;
        uint16_t command = 0;
        if (hasCommand) {
            command = MpmCommandWord(sorted[nextEvent].type, sorted[nextEvent].param);
            ++nextEvent;
        }
        bool ok;
        if (piece.silence) {
            uint32_t length = piece.length;
            if (length & 1) {
                ++length;
                borrowed = 1;
            }
            ok = WriteSilenceRun(out, length, hasCommand, command);
        } else {
            ok = WriteVoiceChunk(out, samples, piece.start, piece.length, piece.raw, hasCommand, command);
        }
        if (!ok) return 0;
    }
    if (!flushEvents(UINT64_MAX, false)) return 0;
    out.U8(MapRecordCode(kRecordEnd));
    return out.Ok() ? 1 : 0;
}

}  // namespace cz
