// The PCM relatives of PC8: the same MPM container and segment table, with
// another sample coder. The chip reads the frame section at one width from
// start to end, so silence is the value 0 at the voice's own width
// (docs/pcm-variants.md has the table).
//
// - C_P16File ("WP16", format 30): 16-bit samples, written unchanged to the
//   frame and decoded sections; header byte 10 = 16.
// - C_S16File ("WS16", 40) and C_S08File ("WS08", 39): as P16 and PC8, coding
//   twice the segment's sample count. On the chip side these are the forms
//   for a player that runs at twice the file's rate: every sample is written
//   twice, held for two output periods. The decoded section holds what the
//   listener hears at the file's rate, each sample once.
// - C_Lp8File ("WLP8", 21): 8-bit companded PCM (sign and a 7-bit code in
//   four segments); the voice data ends with 80 00 00.
#pragma once

#include "formats/ext/C_Pc8File.h"

namespace cz {

class C_P16File : public C_Pc8File {
public:
    static constexpr uint32_t kFormatId = kFormatP16;
    C_P16File() : C_P16File("WP16", kFormatP16) {}
    bool EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start, uint32_t count,
                     uint32_t* carry) override;
    // Silence is the sample 0 at the voice's width (2 bytes, twice for S16).
    bool WriteSilence(uint32_t kind, uint32_t length, uint16_t value, C_MpmFrameOutput& out) override;

protected:
    C_P16File(const char* code, uint32_t formatId) : C_Pc8File(code, code, formatId) {}
    uint8_t HeaderByte10() const override { return 16; }
    // How many times each sample goes to the frame section.
    virtual uint32_t Repeats() const { return 1; }
};

class C_S16File : public C_P16File {
public:
    static constexpr uint32_t kFormatId = kFormatS16;
    C_S16File() : C_P16File("WS16", kFormatS16) {}

protected:
    uint32_t Repeats() const override { return 2; }
};

class C_S08File : public C_Pc8File {
public:
    static constexpr uint32_t kFormatId = kFormatS08;
    C_S08File() : C_Pc8File("WS08", "WS08", kFormatS08) {}
    bool EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start, uint32_t count,
                     uint32_t* carry) override;
    // Silence is the byte 0 twice per sample, as the voice.
    bool WriteSilence(uint32_t kind, uint32_t length, uint16_t value, C_MpmFrameOutput& out) override;
};

// The LP8 code of a 16-bit sample (sign applied) and the value it decodes to.
int8_t Lp8Code(int16_t sample);
int16_t Lp8Decode(int8_t code);

class C_Lp8File : public C_Pc8File {
public:
    static constexpr uint32_t kFormatId = kFormatLp8;
    C_Lp8File() : C_Pc8File("WLP8", "WLP8", kFormatLp8) {}
    bool EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start, uint32_t count,
                     uint32_t* carry) override;
    bool WriteEndMark(C_MpmFrameOutput& out) override;
};

// P10 ("WP10", 12): 10-bit samples (s / 64 toward zero) packed four in five
// bytes: byte 0 the low two bits of each (first sample in bits 7..6), bytes 1
// to 4 bits 9..2. A byte 0 of 0x80 is written as 0xC0, since 0x80 starts an
// action record (80, param & 63 | 80, type & 127). The chip reads nothing
// but groups, records and the end mark 80 00 00, so the whole sound is one
// stream of groups counted from sample 0: a silence is groups of the value
// 0, a segment that ends inside a group shares it with what follows, and
// only the last group of the sound repeats its last sample. Every event's
// record sits before the group its sample rounds to (a remainder of 2 rounds
// up); one that rounds past the last group, or lies past the end, sits after
// it, before the end mark. The decoded section holds what the groups give
// (the escaped bits, the repeats of the last group), times 64.
class C_P10File : public C_Pc8File {
public:
    static constexpr uint32_t kFormatId = kFormatP10;
    C_P10File() : C_Pc8File("WP10", "WP10", kFormatP10) {}
    int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                        const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) override;
    bool WriteEndMark(C_MpmFrameOutput& out) override;
};

}  // namespace cz
