// SMM files (format 42, code "WSMM"): compact MDM. Frames hold 64 (long) and
// 16 (short) samples that continue from the running reconstruction, so a
// frame record carries no start value: one code byte (scale index and record
// type), the command word when it has one, and the 5-bit MDM groups for
// every sample (41 bytes per 64 samples against MDM's 42 per 65). The coder
// is C_MDPCMEncDec with 12-bit first samples (end marker 255); silence
// records play 2048 and set the running value there, raw records set it to
// their last sample. Layout in MdmVariantRecords.h.
#pragma once

#include "formats/mdm/C_MdmFile.h"

namespace cz {

class C_SmmFile : public C_MdmFile {
public:
    static constexpr uint32_t kFormatId = kFormatSmm;

    C_SmmFile();
    ~C_SmmFile() override;

    std::unique_ptr<C_MDPCMEncDec> CreateCoder() override;
    uint32_t FrameLength(uint32_t type) const override { return C_MpmFile::FrameLength(type); }
    bool WriteFrameRecord(C_MpmFrameOutput& out, uint32_t type, const uint8_t* frame, const uint16_t* decoded,
                          uint32_t index, uint32_t count, uint16_t command) override;

protected:
    const char* AlternativeCode() const override { return nullptr; }
    // Frames continue from what was played last.
    uint16_t ChunkInitialValue(const std::vector<uint16_t>& samples, uint32_t start,
                               const C_MpmFrameOutput& out) const override {
        return out.LastDecoded();
    }
};

}  // namespace cz
