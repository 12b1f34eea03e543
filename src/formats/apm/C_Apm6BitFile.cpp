#include "formats/apm/C_Apm6BitFile.h"

#include "codecs/adpcm/C_ADPCMEncDec6Bit.h"

namespace cz {

C_Apm6BitFile::C_Apm6BitFile() : C_ApmFile("WAP6", kFormatApm6Bit, 6, 0) {}

C_Apm6BitFile::~C_Apm6BitFile() = default;

std::unique_ptr<C_ADPCMEncDec> C_Apm6BitFile::CreateCoder() const { return std::make_unique<C_ADPCMEncDec6Bit>(); }

}  // namespace cz
