#include "formats/mdm/C_Q420MpmFile.h"

#include <algorithm>

#include "codecs/mdpcm/C_WNMdpcmCodecFreeFrameSize.h"

namespace cz {

namespace {

using Codec = C_MdpcmCodecFreeFrameSize;

struct S_Stretch {
    bool silence = false;
    uint32_t start = 0;
    uint32_t length = 0;
};

// The segments cut at every event sample strictly inside them.
std::vector<S_Stretch> CutAtEvents(const std::vector<S_MpmSegment>& segments, const std::vector<uint32_t>& cuts) {
    std::vector<S_Stretch> pieces;
    for (const S_MpmSegment& seg : segments) {
        if (seg.length == 0) continue;
        const bool silence = seg.type == kMpmSegmentSilence;
        const uint64_t end = uint64_t{seg.first} + seg.length;
        uint32_t from = seg.first;
        for (auto it = std::upper_bound(cuts.begin(), cuts.end(), seg.first); it != cuts.end() && *it < end; ++it) {
            pieces.push_back({silence, from, *it - from});
            from = *it;
        }
        pieces.push_back({silence, from, static_cast<uint32_t>(end - from)});
    }
    return pieces;
}

}  // namespace

C_Q420MpmFile::C_Q420MpmFile() : T_MpmFormatBase<C_SrcFile>("Q42M", "Q42M") {
    SetFrameLengths(kFrameLength, kFrameLength);
    SetFormatType(kFormatId);
}

C_Q420MpmFile::~C_Q420MpmFile() = default;

std::unique_ptr<C_MdpcmCodecFreeFrameSize> C_Q420MpmFile::CreateCoder() {
    return std::make_unique<C_WNMdpcmCodecFreeFrameSize>(LongFrameLength());
}

int32_t C_Q420MpmFile::WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                                   const std::vector<S_MpmSegment>& segments,
                                   const std::vector<S_MpmEventEntry>& events) {
    std::unique_ptr<Codec> coder = CreateCoder();
    if (!coder) return 0;
    std::vector<S_MpmEventEntry> sorted = events;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const S_MpmEventEntry& a, const S_MpmEventEntry& b) { return a.sample < b.sample; });
    std::vector<uint32_t> cuts;
    for (const S_MpmEventEntry& e : sorted) cuts.push_back(e.sample);
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    size_t nextEvent = 0;
    auto markersUpTo = [&](uint64_t sample) {
        for (; nextEvent < sorted.size() && sorted[nextEvent].sample <= sample; ++nextEvent) {
            out.U16(Codec::kMarkerWord);
            out.U16(sorted[nextEvent].param);
            out.U16(Codec::MarkerCode(sorted[nextEvent].type));
        }
    };

    Codec::S_State state;
    std::vector<uint8_t> words;
    std::vector<uint16_t> played;
    const std::vector<S_Stretch> pieces = CutAtEvents(segments, cuts);
    const uint32_t total = static_cast<uint32_t>(samples.size());
    uint32_t borrowed = 0;
    for (S_Stretch piece : pieces) {
        const uint32_t take = std::min(borrowed, piece.length);
        piece.start += take;
        piece.length -= take;
        borrowed -= take;
        if (piece.length == 0) continue;
        markersUpTo(piece.start);
        // Pairs only: an odd stretch takes the next sample when there is one.
        uint32_t length = piece.length;
        if ((length & 1) != 0 && uint64_t{piece.start} + length < total) {
            ++length;
            borrowed = 1;
        }
        if (piece.silence) {
            length += length & 1;  // the last stretch of an odd sound
            while (length > 0) {
                const uint32_t n = std::min(length, Codec::kMaxRun);
                out.U16(Codec::kRunWord);
                out.U16(static_cast<uint16_t>(n / 2));
                out.DecodedRun(static_cast<uint16_t>(state.value), n);
                length -= n;
            }
        } else {
            // Whole frames at a time (the frames fall as in one call), so
            // that what is held does not grow with the stretch.
            const uint32_t block = coder->FrameLength() % 2 == 0 ? coder->FrameLength() * 256 : length;
            for (uint32_t done = 0; done < length;) {
                const uint32_t n = std::min(length - done, block);
                words.clear();
                played.clear();
                if (coder->EncodeWords(&samples[piece.start + done], n, state, words, &played) == 0) return 0;
                out.Bytes(words.data(), words.size());
                for (const uint16_t v : played) out.Decoded(v);
                done += n;
            }
        }
        if (!out.Ok()) return 0;
    }
    markersUpTo(UINT64_MAX);
    out.U16(Codec::kEndWord);
    return out.Ok() ? 1 : 0;
}

}  // namespace cz
