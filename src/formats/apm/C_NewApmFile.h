// The APM file coded by the "new" chip ADPCM coder (C_NewADPCMEncDec): the
// layout and code of C_ApmFile, told apart by the coder id 1 at header
// offset 20. It reads "WAPM" files with coder id 1 and "WNAP" files; it
// refuses the classic coder's files (coder id 0), which C_ApmFile opens.
#pragma once

#include "formats/apm/C_ApmFile.h"

namespace cz {

class C_NewApmFile : public C_ApmFile {
public:
    static constexpr uint16_t kNewCoderId = 1;

    C_NewApmFile();
    ~C_NewApmFile() override;
    std::unique_ptr<C_ADPCMEncDec> CreateCoder() const override;

protected:
    bool AcceptsHeader(const S_ApmHeader& header) const override;
};

}  // namespace cz
