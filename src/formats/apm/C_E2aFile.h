// E2A files (format 20, extension .AD4, code "WE2A"): the ADPCM MPM
// relative for 16-bit samples. The source and decoded sections hold 16-bit
// offset-binary words, and the frame section is the block stream of
// C_EnhancedADPCM2Codec(16, 1, 1, 1) ending in 00 00: byte for byte the
// payload of the chip's "WE2A" resource.
//
// Saving walks the segment table cut at the action events. Voice pieces are
// coded continuing from the history of what was played before them (long
// blocks of 1 + 64 m samples, a short block for the rest); silence becomes
// silence blocks of at most 4095 samples, which play mid-scale (32768) and
// clear the history. An event becomes a marker block (identifier = the
// event's type, block type bits = the low six bits of its parameter) that
// plays the sample at its position exactly; a second event at one sample
// takes the next sample, and events past the end each play the last value
// once more.
#pragma once

#include "formats/apm/C_AdpcmMpmFile.h"

namespace cz {

class C_E2aFile : public C_AdpcmMpmFile {
public:
    static constexpr uint32_t kFormatId = kFormatE2a;
    C_E2aFile();
    ~C_E2aFile() override;
    std::unique_ptr<C_ADPCMEncDec> CreateCoder() const override;
    void BuildHeader(S_MpmHeader& header, uint32_t rate, uint32_t sourceCount, uint32_t eventCount) override;
    int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                        const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) override;

protected:
    uint16_t SampleBits() const override { return 16; }
    FrameRecordError WalkFrames(std::span<const uint8_t> records, bool decode, S_FrameDecode& out) const override;
};

}  // namespace cz
