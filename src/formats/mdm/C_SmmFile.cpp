#include "formats/mdm/C_SmmFile.h"

namespace cz {

C_SmmFile::C_SmmFile() : C_MdmFile("WSMM", "WSMM", kFormatId) { SetFrameLengths(64, 16); }

C_SmmFile::~C_SmmFile() = default;

std::unique_ptr<C_MDPCMEncDec> C_SmmFile::CreateCoder() {
    auto coder = std::make_unique<C_MDPCMEncDec>(0, 12);
    coder->SetEndMarker(kEndMarker);
    return coder;
}

bool C_SmmFile::WriteFrameRecord(C_MpmFrameOutput& out, uint32_t type, const uint8_t* frame, const uint16_t* decoded,
                                 uint32_t index, uint32_t count, uint16_t command) {
    // Every sample is a difference, eight to a group.
    if (count == 0 || count % 8 != 0 || !Coder()) return false;
    const int scale = Coder()->IndexFromHeader(frame[0]);
    if (scale < 0 || scale > 15) return false;
    out.U8(static_cast<uint8_t>(scale << 3 | (MapRecordCode(type) & 7)));
    if (type == kRecordShortFrameCommand || type == kRecordLongFrameCommand) out.U16(command);
    const uint8_t* diffs = frame + 1;
    for (uint32_t g = 0; g < count; g += 8) {
        uint8_t sign = 0;
        uint8_t nibbles[8] = {};
        for (uint32_t k = 0; k < 8; ++k) {
            const int d = static_cast<int8_t>(diffs[g + k]);
            if (d < -15 || d > 15) return false;
            if (d < 0) sign = static_cast<uint8_t>(sign | (1u << k));
            nibbles[k] = static_cast<uint8_t>(d < 0 ? -d : d);
        }
        out.U8(sign);
        for (int k = 0; k < 8; k += 2) out.U8(static_cast<uint8_t>(nibbles[k] | nibbles[k + 1] << 4));
    }
    for (uint32_t k = 0; k < count; ++k) out.Decoded(decoded[index + 1 + k]);
    return out.Ok();
}

}  // namespace cz
