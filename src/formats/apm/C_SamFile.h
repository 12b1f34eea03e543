// SAM files (format 41, code "WSAM"): the ADPCM MPM relative coded with the
// APM coder C_ADPCMEncDec(12, 64), restarted at mid-scale for every voice
// piece; the write parameters' coding mode chooses its lead-in and tail
// codes as for APM. Records in AdpcmMpmLayout.h.
#pragma once

#include "formats/apm/C_AdpcmMpmFile.h"

namespace cz {

class C_SamFile : public C_AdpcmMpmFile {
public:
    static constexpr uint32_t kFormatId = kFormatSam;
    C_SamFile();
    ~C_SamFile() override;
    std::unique_ptr<C_ADPCMEncDec> CreateCoder() const override;
};

}  // namespace cz
