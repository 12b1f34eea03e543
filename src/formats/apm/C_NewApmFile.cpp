#include "formats/apm/C_NewApmFile.h"

#include <cstring>

#include "codecs/adpcm/C_NewADPCMEncDec.h"

namespace cz {

C_NewApmFile::C_NewApmFile() : C_ApmFile("WAPM", kFormatApm, 4, kNewCoderId) {}

C_NewApmFile::~C_NewApmFile() = default;

std::unique_ptr<C_ADPCMEncDec> C_NewApmFile::CreateCoder() const { return std::make_unique<C_NewADPCMEncDec>(); }

bool C_NewApmFile::AcceptsHeader(const S_ApmHeader& header) const {
    if (std::memcmp(header.code, "WNAP", 4) == 0) return true;
    return C_ApmFile::AcceptsHeader(header);
}

}  // namespace cz
