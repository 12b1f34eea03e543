// Q420 MPM files (format 43, codes "Q42M" and "Q42M"): the MPM container
// whose frame section is the chip's "Q42M" word stream, coded by
// C_WNMdpcmCodecFreeFrameSize with frames of 64 samples. The section is the
// resource payload as it is: the chip binary is the 6-byte resource header
// ("Q42M", u16 rate) and these bytes.
//
// Stream written (16-bit little-endian words, see C_MdpcmCodecFreeFrameSize):
//   voice     a scale word 0x0210 | k whenever a frame's scale changes, then
//             one data word per two samples (two 5-bit differences)
//   silence   0x0201 and a count word n (bits 0-9): 2n samples of the value
//             in force, as many as needed for the run (at most 2046 each)
//   event     0x0202, then the event's parameter (low byte of the word),
//             then the marker code of its type (types 0..15 have one; a
//             larger type is written as code 0 and plays as identifier 0),
//             placed where the event's sample begins
//   end       0x0208
// Everything plays in pairs of samples: a voice or silence stretch of odd
// length takes one sample from the stretch that follows it, and an odd
// sound ends with a copy of its last sample. The decoded section holds what
// the stream plays.
#pragma once

#include <memory>

#include "codecs/mdpcm/C_MdpcmCodecFreeFrameSize.h"
#include "formats/mpm/T_MpmFormatBase.h"
#include "formats/wpcm/C_SrcFile.h"

namespace cz {

class C_Q420MpmFile : public T_MpmFormatBase<C_SrcFile> {
public:
    static constexpr uint32_t kFormatId = kFormatQ420Mpm;
    static constexpr uint32_t kFrameLength = 64;

    C_Q420MpmFile();
    ~C_Q420MpmFile() override;

    // C_WNMdpcmCodecFreeFrameSize with the frame length setting.
    virtual std::unique_ptr<C_MdpcmCodecFreeFrameSize> CreateCoder();

    int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                        const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) override;
};

}  // namespace cz
