#include "formats/ext/C_Pc8File.h"

#include <algorithm>
#include <utility>

#include "formats/ext/ExtLayout.h"
#include "foundation/C_CUString.h"

namespace cz {

C_Pc8File::C_Pc8File() : C_Pc8File("WPC8", "WPC8", kFormatPc8) {}

C_Pc8File::C_Pc8File(const char* code, const char* secondCode, uint32_t formatId) : C_MpmFile(code, secondCode) {
    SetFormatType(formatId);
}

C_Pc8File::~C_Pc8File() = default;

int32_t C_Pc8File::Save(const char* path) {
    const std::string reason = CannotSaveReason();
    if (!reason.empty()) {
        platform::ShowMessage("WaveFileUtil", reason);
        return 0;
    }
    folder_ = platform::TempFolder::Create("czx");
    if (!folder_) return 0;
    savePath_ = path ? path : "";
    nameCounter_ = 0;
    const int32_t result = C_MpmFile::Save(path);
    folder_.reset();  // removes every intermediate file
    savePath_.clear();
    return result;
}

std::string C_Pc8File::TempName(const char* prefix) {
    return folder_ ? folder_->File(FormatString("%s%u.tmp", prefix, ++nameCounter_)) : std::string();
}

void C_Pc8File::BuildHeader(S_MpmHeader& header, uint32_t rate, uint32_t sourceCount, uint32_t eventCount) {
    C_MpmFile::BuildHeader(header, rate, sourceCount, eventCount);
    header.byte10 = HeaderByte10();
    header.sourceBits = 16;
    header.decodedBits = 16;
    header.codingField = HeaderField60();
}

int32_t C_Pc8File::WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                               const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) {
    std::vector<int16_t> pcm(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) pcm[i] = static_cast<int16_t>(static_cast<int32_t>(samples[i]) - 32768);
    uint32_t carry = 0;
    for (const S_MpmSegment& seg : segments) {
        if (seg.length <= carry) {  // taken whole by the previous segment's padding
            carry -= seg.length;
            continue;
        }
        const uint32_t start = seg.first + carry;
        const uint32_t count = seg.length - carry;
        carry = 0;
        if (seg.type == kMpmSegmentSilence) {
            if (!WriteSilenceWithEvents(out, seg, start, count, events)) return 0;
            out.DecodedRun(0x8000, count);
        } else {
            if (!FlushPendingSilence(out)) return 0;
            if (!EncodeVoice(out, pcm, start, count, &carry)) return 0;
        }
        if (!out.Ok()) return 0;
    }
    if (!FlushPendingSilence(out) || !WriteEndMark(out)) return 0;
    return out.Ok() ? 1 : 0;
}

bool C_Pc8File::WriteSilenceWithEvents(C_MpmFrameOutput& out, const S_MpmSegment& seg, uint32_t start,
                                       uint32_t count, const std::vector<S_MpmEventEntry>& events) {
    // The events on the silence, as offsets from where it now starts: one
    // that the previous segment's padding took goes with the moved start.
    std::vector<std::pair<uint32_t, uint16_t>> marks;
    for (const S_MpmEventEntry& e : events)
        if (e.sample >= seg.first && e.sample - seg.first < seg.length)
            marks.emplace_back(e.sample > start ? e.sample - start : 0, MpmCommandWord(e.type, e.param));
    std::stable_sort(marks.begin(), marks.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // Each event starts a run of its own that carries its command word (kind
    // 2); a second event at the same sample starts its run one sample later,
    // while the silence has samples left.
    for (size_t k = 1; k < marks.size(); ++k)
        if (marks[k].first <= marks[k - 1].first && marks[k - 1].first + 1 < count)
            marks[k].first = marks[k - 1].first + 1;
    size_t m = 0;
    for (uint32_t pos = 0; pos < count;) {
        uint32_t kind = 1;
        uint16_t value = 0;
        if (m < marks.size() && marks[m].first == pos) {
            kind = 2;
            value = marks[m].second;
            while (m < marks.size() && marks[m].first <= pos) ++m;
        }
        const uint32_t next = m < marks.size() ? marks[m].first : count;
        if (!WriteSilence(kind, next - pos, value, out)) return false;
        pos = next;
    }
    return out.Ok();
}

bool C_Pc8File::EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start, uint32_t count,
                            uint32_t*) {
    if (start > samples.size() || count > samples.size() - start) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const int8_t c = Pc8Code(samples[start + i]);
        out.U8(static_cast<uint8_t>(c));
        out.Decoded(static_cast<uint16_t>(Pc8Decode(c) + 32768));
    }
    return out.Ok();
}

bool C_Pc8File::WriteSilence(uint32_t, uint32_t length, uint16_t, C_MpmFrameOutput& out) {
    for (uint32_t i = 0; i < length; ++i) out.U8(0);
    return out.Ok();
}

bool C_Pc8File::WriteEndMark(C_MpmFrameOutput& out) { return out.Ok(); }

}  // namespace cz
