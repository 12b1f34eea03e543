#include "formats/wpcm/C_EnSrcFile.h"

namespace cz {

C_EnSrcFile::C_EnSrcFile() = default;

C_EnSrcFile::~C_EnSrcFile() = default;

}  // namespace cz
