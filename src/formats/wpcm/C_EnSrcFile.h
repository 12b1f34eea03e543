// The scrambled speech source file: a WPCM file with format 0x84 whose sample
// bytes are stored as (7 x b + 3) mod 256. It reads like C_SrcFile, which
// recognises the scrambled form by itself; this class is the writer.
#pragma once

#include "formats/wpcm/C_SrcFile.h"

namespace cz {

class C_EnSrcFile : public C_SrcFile {
public:
    C_EnSrcFile();
    ~C_EnSrcFile() override;
    bool IsScrambled() const override { return true; }
};

}  // namespace cz
