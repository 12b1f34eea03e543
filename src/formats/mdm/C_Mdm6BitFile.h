// MD6 files (format 17, code "WMD6"): the MDM container and records with
// 6-bit differences, coded by C_MDPCMEncDec6Bit (first-sample bits 9, end
// marker 255). Frames are 65 (long) and 17 (short) samples as in MDM; a
// frame record keeps the start value as MDM does and packs its 64 or 16
// differences four to three bytes (layout in MdmVariantRecords.h).
// Silence, raw and end records are those of MDM.
#pragma once

#include "formats/mdm/C_MdmFile.h"

namespace cz {

class C_Mdm6BitFile : public C_MdmFile {
public:
    static constexpr uint32_t kFormatId = kFormatMdm6Bit;

    C_Mdm6BitFile();
    ~C_Mdm6BitFile() override;

    std::unique_ptr<C_MDPCMEncDec> CreateCoder() override;
    // The frame's bytes after its header: its sample count (one byte each).
    uint32_t FrameLength(uint32_t type) const override { return C_MpmFile::FrameLength(type); }
    bool WriteFrameRecord(C_MpmFrameOutput& out, uint32_t type, const uint8_t* frame, const uint16_t* decoded,
                          uint32_t index, uint32_t count, uint16_t command) override;

protected:
    const char* AlternativeCode() const override { return nullptr; }
};

}  // namespace cz
