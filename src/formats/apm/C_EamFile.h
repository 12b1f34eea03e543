// EAM files (format 18, code "WEAM"): the ADPCM MPM relative coded with the
// block-structured coder C_EnhancedADPCMCodec (12-bit samples, step caps and
// table search on). Records in AdpcmMpmLayout.h.
#pragma once

#include "formats/apm/C_AdpcmMpmFile.h"

namespace cz {

class C_EamFile : public C_AdpcmMpmFile {
public:
    static constexpr uint32_t kFormatId = kFormatEam;
    C_EamFile();
    ~C_EamFile() override;
    std::unique_ptr<C_ADPCMEncDec> CreateCoder() const override;
};

}  // namespace cz
