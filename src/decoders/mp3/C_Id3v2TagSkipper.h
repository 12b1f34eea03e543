// Skips ID3v2 tags in front of MP3 frames.
#pragma once

#include <cstdint>

#include "decoders/mp3/I_Mp3ReadWindow.h"

namespace cz::mp3 {

class C_Id3v2TagSkipper {
public:
    // Looks at the bytes at the window's read position. Without a tag the
    // result is 0. For a tag whose size bytes have bit 7 set only "ID3" is
    // skipped (result 3). Otherwise the window is consumed and refilled as
    // the tag requires, and the result is the offset of the tag's end from
    // the final read position; 0 when the input ends inside the tag.
    int32_t Skip(I_Mp3ReadWindow& window) const;

private:
    int32_t SkipWhole(I_Mp3ReadWindow& window, int64_t length) const;
    int32_t WalkFrames(I_Mp3ReadWindow& window, int64_t length, bool version4) const;
};

}  // namespace cz::mp3
