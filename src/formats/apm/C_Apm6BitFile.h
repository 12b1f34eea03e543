// The 6-bit ADPCM speech file ("WAP6"): the APM layout with 6-bit codes, one
// code per byte, coded by C_ADPCMEncDec6Bit.
#pragma once

#include "formats/apm/C_ApmFile.h"

namespace cz {

class C_Apm6BitFile : public C_ApmFile {
public:
    C_Apm6BitFile();
    ~C_Apm6BitFile() override;
    std::unique_ptr<C_ADPCMEncDec> CreateCoder() const override;
    uint32_t CodeBytes(uint32_t codeCount) const override { return codeCount; }
};

}  // namespace cz
