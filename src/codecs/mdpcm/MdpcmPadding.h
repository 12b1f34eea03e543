// The padding drift shared by the MDPCM coders: the change applied to the
// reconstruction v at a position past the real samples.
#pragma once

#include <cstdint>

namespace cz::mdpcm {

// padMode 0: toward mid-scale 2048; 1: toward zero; other values: none.
inline int PadDelta(int v, int32_t padMode) {
    if (padMode == 0) {
        if (v < 2032) return 16;
        if (v < 2040) return 8;
        if (v < 2048) return 0;
        if (v < 2056) return -8;
        return -16;
    }
    if (padMode == 1) {
        if (v > 16) return -16;
        if (v >= 8) return -8;
        return 0;
    }
    return 0;
}

}  // namespace cz::mdpcm
