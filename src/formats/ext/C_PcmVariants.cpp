#include "formats/ext/C_PcmVariants.h"

#include <cstdlib>

#include "formats/ext/ExtLayout.h"

namespace cz {

namespace {

bool InRange(const std::vector<int16_t>& samples, uint32_t start, uint32_t count) {
    return start <= samples.size() && count <= samples.size() - start;
}

uint16_t OffsetBinary(int32_t value) { return static_cast<uint16_t>(value + 32768); }

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

bool C_Lp8File::WriteEndMark(C_MpmFrameOutput& out) {
    out.U8(0x80);
    out.U8(0x00);
    out.U8(0x00);
    return out.Ok();
}

}  // namespace cz
