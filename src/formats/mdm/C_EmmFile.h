// EMM files (format 19, code "WEMM"): MDM files whose frames are coded by
// C_EnhancedMDPCMCodec (first-sample bits 9, end marker 255), which searches
// each frame's scales for the least squared error. The coder writes the MDM
// frame stream, so the records are MDM records exactly and play by the MDM
// rules; only the header code differs.
#pragma once

#include "formats/mdm/C_MdmFile.h"

namespace cz {

class C_EmmFile : public C_MdmFile {
public:
    static constexpr uint32_t kFormatId = kFormatEmm;

    C_EmmFile();
    ~C_EmmFile() override;

    std::unique_ptr<C_MDPCMEncDec> CreateCoder() override;
    // The frame's bytes after its header: its sample count (one byte each).
    uint32_t FrameLength(uint32_t type) const override { return C_MpmFile::FrameLength(type); }

protected:
    const char* AlternativeCode() const override { return nullptr; }
};

}  // namespace cz
