// MDM files (format 15): the MPM container with a frame section of chip
// records, the same bytes the chip's "WMdM" resources carry.
//
// Records (first byte = record code, read by the chip as code AND 7 for the
// frames, and bit 0 announcing a command word):
//   frame 0 (long) / 2 (short), 1 / 3 with a command word:
//     byte 0: bit 7 = bit 3 of the start value, bits 6..3 = scale index,
//             bits 2..0 = record code
//     byte 1: bits 11..4 of the start value
//     [command word, little-endian]
//     groups of 8 differences, 5 bytes each: a sign byte (bit k set when
//     difference k is negative), then 4 bytes of magnitudes, low nibble the
//     even difference, high nibble the odd one.
//     The start value is the frame's first sample; each difference adds
//     +-magnitude x 8 (index + 1) to the previous sample (clamped to
//     0..4095). Long frames carry 64 differences (65 samples), short ones 16.
//   silence 4: u16 length; 5: command word, u16 length (samples of 2048)
//   raw 6: bits 11..4 of the first sample, count - 1, then bits 11..4 of
//     each further sample; 7: the same with the command word after the
//     first sample's byte
//   end: 255
// The decoded PCM section holds exactly what these records play, which is
// what the chip plays: 2048 for each silence sample, the kept 8 bits (bits
// 11..4, the low bits zero) of each raw record's samples, each frame's
// reconstruction. MDM to WAV gives this section, not the source samples.
#pragma once

#include "formats/mpm/C_MpmFile.h"

namespace cz {

class C_MdmFile : public C_MpmFile {
public:
    static constexpr uint32_t kFormatId = kFormatMdm;
    static constexpr uint8_t kEndMarker = 255;
    static constexpr uint16_t kSilenceValue = 2048;

    C_MdmFile();
    ~C_MdmFile() override;

    // C_MDPCMEncDec (first-sample bits 9, the header-alias setting), or with
    // the alternative-coder switch C_WNMDPCMEncDec (9); end marker 255.
    std::unique_ptr<C_MDPCMEncDec> CreateCoder() override;
    // The coded frame's bytes after its header: the frame length, one more
    // with the alternative coder (its 16-bit first value).
    uint32_t FrameLength(uint32_t type) const override;
    uint8_t MapRecordCode(uint32_t type) const override;
    uint16_t FrameStartValue(const uint16_t* decoded, uint32_t index) const override;
    bool WriteFrameRecord(C_MpmFrameOutput& out, uint32_t type, const uint8_t* frame, const uint16_t* decoded,
                          uint32_t index, uint32_t count, uint16_t command) override;
    bool WriteSilenceRecord(C_MpmFrameOutput& out, uint32_t type, uint32_t length, uint16_t command) override;

    // Off by default.
    void SetAlternativeCoder(bool on) { alternative_ = on; }
    bool AlternativeCoder() const { return alternative_; }
    void SetHeaderAlias(uint32_t alias) { headerAlias_ = alias; }
    uint32_t HeaderAlias() const { return headerAlias_; }

protected:
    // For the variants of the format: their own header and resource codes,
    // the MDM frame lengths, command-frame setting and type code.
    C_MdmFile(const char* code, const char* secondCode, uint32_t formatType);

    // Files whose header carries the resource code are MDM files as well.
    const char* AlternativeCode() const override { return "WMdM"; }
    // Every frame record states its start value, so a chunk's coding starts
    // at its own first sample.
    uint16_t ChunkInitialValue(const std::vector<uint16_t>& samples, uint32_t start,
                               const C_MpmFrameOutput& out) const override {
        return samples[start];
    }

private:
    bool alternative_ = false;
    uint32_t headerAlias_ = 0;
};

}  // namespace cz
