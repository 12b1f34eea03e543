#include "formats/ext/C_PcmVariants.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "formats/ext/ExtLayout.h"

namespace cz {

namespace {

bool InRange(const std::vector<int16_t>& samples, uint32_t start, uint32_t count) {
    return start <= samples.size() && count <= samples.size() - start;
}

uint16_t OffsetBinary(int32_t value) { return static_cast<uint16_t>(value + 32768); }

// The end of the voice data of LP8 and P10: 80 00 00.
bool WriteVoiceEnd(C_MpmFrameOutput& out) {
    out.U8(0x80);
    out.U8(0x00);
    out.U8(0x00);
    return out.Ok();
}

}  // namespace

bool C_P16File::EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start,
                            uint32_t count, uint32_t*) {
    if (!InRange(samples, start, count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const int16_t s = samples[start + i];
        for (uint32_t r = 0; r < Repeats(); ++r) out.U16(static_cast<uint16_t>(s));
        out.Decoded(OffsetBinary(s));
    }
    return out.Ok();
}

bool C_P16File::WriteSilence(uint32_t, uint32_t length, uint16_t, C_MpmFrameOutput& out) {
    for (uint32_t i = 0; i < length && out.Ok(); ++i)
        for (uint32_t r = 0; r < Repeats(); ++r) out.U16(0);
    return out.Ok();
}

bool C_S08File::WriteSilence(uint32_t, uint32_t length, uint16_t, C_MpmFrameOutput& out) {
    for (uint32_t i = 0; i < length && out.Ok(); ++i) out.U16(0);
    return out.Ok();
}

bool C_S08File::EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start,
                            uint32_t count, uint32_t*) {
    if (!InRange(samples, start, count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const int8_t c = Pc8Code(samples[start + i]);
        out.U8(static_cast<uint8_t>(c));
        out.U8(static_cast<uint8_t>(c));
        out.Decoded(OffsetBinary(Pc8Decode(c)));
    }
    return out.Ok();
}

int8_t Lp8Code(int16_t sample) {
    const int32_t a = sample == -32768 ? 32767 : std::abs(static_cast<int32_t>(sample));
    const int32_t v = (a >> 4) + ((a & 8) ? 1 : 0);
    int32_t c = 127;
    if (v < 126)
        c = (v + 2) / 4;
    else if (v < 253)
        c = (v - 125) / 8 + 32;
    else if (v < 1020)
        c = (v - 252) / 16 + 48;
    else if (v < 2011)
        c = (v - 1019) / 32 + 96;
    return static_cast<int8_t>(sample < 0 ? -c : c);
}

int16_t Lp8Decode(int8_t code) {
    const int32_t c = std::abs(static_cast<int32_t>(code));
    const int32_t v = c < 32 ? c : c < 48 ? 2 * c - 32 : c < 96 ? 4 * c - 127 : 8 * c - 509;
    return static_cast<int16_t>(code < 0 ? -v * 64 : v * 64);
}

bool C_Lp8File::EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start,
                            uint32_t count, uint32_t*) {
    if (!InRange(samples, start, count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const int8_t c = Lp8Code(samples[start + i]);
        out.U8(static_cast<uint8_t>(c));
        out.Decoded(OffsetBinary(Lp8Decode(c)));
    }
    return out.Ok();
}

bool C_Lp8File::WriteEndMark(C_MpmFrameOutput& out) { return WriteVoiceEnd(out); }

int32_t C_P10File::WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                               const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) {
    const uint32_t total = static_cast<uint32_t>(samples.size());
    // The 10-bit value of every sample: voice as coded, silence 0.
    std::vector<int16_t> ten(total);
    for (uint32_t i = 0; i < total; ++i)
        ten[i] = static_cast<int16_t>((static_cast<int32_t>(samples[i]) - 32768) / 64);
    for (const S_MpmSegment& seg : segments)
        if (seg.type == kMpmSegmentSilence && seg.first < total)
            std::fill_n(ten.begin() + seg.first, std::min(seg.length, total - seg.first), int16_t{0});
    const uint32_t groups = static_cast<uint32_t>((uint64_t{total} + 3) / 4);
    // Each event at the group its sample rounds to; past the last group, after it.
    std::vector<std::pair<uint32_t, const S_MpmEventEntry*>> marks;
    marks.reserve(events.size());
    for (const S_MpmEventEntry& e : events) {
        const uint64_t rounded = (uint64_t{e.sample} + 2) / 4;
        marks.emplace_back(e.sample >= total ? groups : static_cast<uint32_t>(std::min<uint64_t>(rounded, groups)), &e);
    }
    std::stable_sort(marks.begin(), marks.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    size_t next = 0;
    auto writeMarks = [&](uint32_t group) {
        for (; next < marks.size() && marks[next].first <= group; ++next) {
            out.U8(0x80);
            out.U8(static_cast<uint8_t>((marks[next].second->param & 63) | 0x80));
            out.U8(static_cast<uint8_t>(marks[next].second->type & 127));
        }
    };
    for (uint32_t g = 0; g < groups; ++g) {
        writeMarks(g);
        int32_t v[4];
        for (uint32_t k = 0; k < 4; ++k) v[k] = ten[std::min(4 * g + k, total - 1)];
        uint8_t head = 0;
        for (uint32_t k = 0; k < 4; ++k) head = static_cast<uint8_t>(head | ((v[k] & 3) << (6 - 2 * k)));
        if (head == 0x80) head = 0xC0;
        out.U8(head);
        for (uint32_t k = 0; k < 4; ++k) out.U8(static_cast<uint8_t>((v[k] >> 2) & 0xFF));
        // What the written bits give: bits 9..2 from bytes 1 to 4, bits 1..0
        // from the (possibly escaped) byte 0, sign from bit 9.
        for (uint32_t k = 0; k < 4; ++k) {
            int32_t bits = ((v[k] >> 2) & 0xFF) << 2 | ((head >> (6 - 2 * k)) & 3);
            if (bits & 0x200) bits -= 0x400;
            out.Decoded(OffsetBinary(bits * 64));
        }
        if (!out.Ok()) return 0;
    }
    writeMarks(groups);
    if (!WriteEndMark(out)) return 0;
    return out.Ok() ? 1 : 0;
}

bool C_P10File::WriteEndMark(C_MpmFrameOutput& out) { return WriteVoiceEnd(out); }

}  // namespace cz
