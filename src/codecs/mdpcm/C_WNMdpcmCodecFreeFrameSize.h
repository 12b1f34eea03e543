// The free-frame-length MDPCM coder of C_MdpcmCodecFreeFrameSize (same word
// stream, same decoder) with a searching frame coder: every scale is tried,
// the differences of each follow the targets with a search that keeps the
// few reconstructions of least squared error so far (each extended by the
// two steps that bracket the target), and the scale with the least error
// wins; keeping the scale in force wins a tie, since it needs no command word.
#pragma once

#include "codecs/mdpcm/C_MdpcmCodecFreeFrameSize.h"

namespace cz {

class C_WNMdpcmCodecFreeFrameSize : public C_MdpcmCodecFreeFrameSize {
public:
    explicit C_WNMdpcmCodecFreeFrameSize(uint32_t frameLength = 64);
    ~C_WNMdpcmCodecFreeFrameSize() override;

protected:
    int CodeFrame(const int* targets, uint32_t n, int value, int current, int8_t* q) override;
};

}  // namespace cz
