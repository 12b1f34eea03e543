#include "formats/mdm/C_EmmFile.h"

#include "codecs/mdpcm/C_EnhancedMDPCMCodec.h"

namespace cz {

C_EmmFile::C_EmmFile() : C_MdmFile("WEMM", "WEMM", kFormatId) {}

C_EmmFile::~C_EmmFile() = default;

std::unique_ptr<C_MDPCMEncDec> C_EmmFile::CreateCoder() {
    auto coder = std::make_unique<C_EnhancedMDPCMCodec>(HeaderAlias(), 9);
    coder->SetEndMarker(kEndMarker);
    return coder;
}

}  // namespace cz
