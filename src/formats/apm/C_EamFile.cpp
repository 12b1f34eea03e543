#include "formats/apm/C_EamFile.h"

#include "codecs/adpcm/C_EnhancedADPCMCodec.h"

namespace cz {

C_EamFile::C_EamFile() : C_AdpcmMpmFile("WEAM", kFormatId) {}

C_EamFile::~C_EamFile() = default;

std::unique_ptr<C_ADPCMEncDec> C_EamFile::CreateCoder() const {
    return std::make_unique<C_EnhancedADPCMCodec>(12, 1, 1);
}

}  // namespace cz
