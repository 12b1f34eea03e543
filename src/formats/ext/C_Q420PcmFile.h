// Q420 PCM files ("Q42P", format 44): the MPM container of the PC8 line
// (16-bit source and decoded sections) for the Q420 chip, whose voice frames
// are plain 12-bit PCM. Header byte 10 is 12 (the bits of a frame sample).
//
// Frame section, a sequence of records:
//   voice                0x01, u16 n (1..65534), then the n samples as
//                        12-bit two's-complement values packed two in three
//                        bytes: bits 11..4 of the first; bits 3..0 of the
//                        first in the high nibble and bits 11..8 of the
//                        second in the low one; bits 7..0 of the second.
//                        An odd n (only the last record of a voice segment)
//                        repeats its last sample to fill the pair.
//   silence              0x02, u16 run (1..65535 samples)
//   silence with command 0x03, u16 run, u16 command word (MpmCommandWord)
//   end                  0x00
// A voice segment longer than 65534 samples takes several records; a
// longer silence several silence records, the command on the first.
// A sample s (16-bit) is coded as (s + 8) >> 4 kept within -2048 ... 2047;
// the decoded section holds that value times 16. Silence decodes to 0.
// docs/older-speech-files.md describes the layout with an example.
#pragma once

#include "formats/ext/C_Pc8File.h"

namespace cz {

// The 12-bit frame value of a 16-bit sample.
int16_t Q420PcmValue(int16_t sample);

class C_Q420PcmFile : public C_Pc8File {
public:
    static constexpr uint32_t kFormatId = kFormatQ420Pcm;
    static constexpr uint8_t kRecordEnd = 0x00;
    static constexpr uint8_t kRecordVoice = 0x01;
    static constexpr uint8_t kRecordSilence = 0x02;
    static constexpr uint8_t kRecordSilenceCommand = 0x03;
    // Longest voice record: even, so that only a segment's last record has
    // a repeated sample.
    static constexpr uint32_t kMaxVoiceRecord = 65534;
    static constexpr uint32_t kMaxSilenceRecord = 65535;

    C_Q420PcmFile() : C_Pc8File("Q42P", "Q42P", kFormatQ420Pcm) {}
    bool EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start, uint32_t count,
                     uint32_t* carry) override;
    bool WriteSilence(uint32_t kind, uint32_t length, uint16_t value, C_MpmFrameOutput& out) override;
    bool WriteEndMark(C_MpmFrameOutput& out) override;

protected:
    uint8_t HeaderByte10() const override { return 12; }
};

}  // namespace cz
