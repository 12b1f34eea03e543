#include "formats/ext/C_Q420PcmFile.h"

#include <algorithm>

namespace cz {

int16_t Q420PcmValue(int16_t sample) {
    return static_cast<int16_t>(std::clamp((static_cast<int32_t>(sample) + 8) >> 4, -2048, 2047));
}

bool C_Q420PcmFile::EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start,
                                uint32_t count, uint32_t*) {
    if (start > samples.size() || count > samples.size() - start) return false;
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(count - done, kMaxVoiceRecord);
        out.U8(kRecordVoice);
        out.U16(static_cast<uint16_t>(n));
        for (uint32_t i = 0; i < n; i += 2) {
            const int32_t a = Q420PcmValue(samples[start + done + i]);
            const int32_t b = Q420PcmValue(samples[start + done + std::min(i + 1, n - 1)]);
            out.U8(static_cast<uint8_t>((a >> 4) & 0xFF));
            out.U8(static_cast<uint8_t>(((a & 15) << 4) | ((b >> 8) & 15)));
            out.U8(static_cast<uint8_t>(b & 0xFF));
            out.Decoded(static_cast<uint16_t>(a * 16 + 32768));
            if (i + 1 < n) out.Decoded(static_cast<uint16_t>(b * 16 + 32768));
        }
        done += n;
    }
    return out.Ok();
}

bool C_Q420PcmFile::WriteSilence(uint32_t kind, uint32_t length, uint16_t value, C_MpmFrameOutput& out) {
    bool command = kind == 2;
    for (uint32_t done = 0; done < length;) {
        const uint32_t run = std::min(length - done, kMaxSilenceRecord);
        out.U8(command ? kRecordSilenceCommand : kRecordSilence);
        out.U16(static_cast<uint16_t>(run));
        if (command) out.U16(value);
        command = false;
        done += run;
    }
    return out.Ok();
}

bool C_Q420PcmFile::WriteEndMark(C_MpmFrameOutput& out) {
    out.U8(kRecordEnd);
    return out.Ok();
}

}  // namespace cz
