#include "formats/apm/C_SamFile.h"

namespace cz {

C_SamFile::C_SamFile() : C_AdpcmMpmFile("WSAM", kFormatId) {}

C_SamFile::~C_SamFile() = default;

std::unique_ptr<C_ADPCMEncDec> C_SamFile::CreateCoder() const { return std::make_unique<C_ADPCMEncDec>(12, 64); }

}  // namespace cz
