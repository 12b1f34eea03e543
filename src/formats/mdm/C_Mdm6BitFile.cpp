#include "formats/mdm/C_Mdm6BitFile.h"

#include "codecs/mdpcm/C_MDPCMEncDec6Bit.h"
#include "formats/mdm/MdmVariantRecords.h"

namespace cz {

C_Mdm6BitFile::C_Mdm6BitFile() : C_MdmFile("WMD6", "WMD6", kFormatId) {}

C_Mdm6BitFile::~C_Mdm6BitFile() = default;

std::unique_ptr<C_MDPCMEncDec> C_Mdm6BitFile::CreateCoder() {
    auto coder = std::make_unique<C_MDPCMEncDec6Bit>(HeaderAlias(), 9);
    coder->SetEndMarker(kEndMarker);
    return coder;
}

bool C_Mdm6BitFile::WriteFrameRecord(C_MpmFrameOutput& out, uint32_t type, const uint8_t* frame,
                                     const uint16_t* decoded, uint32_t index, uint32_t count, uint16_t command) {
    // Whole groups of four differences after the start value.
    if (count < 1 || (count - 1) % 4 != 0 || !Coder()) return false;
    const int scale = Coder()->IndexFromHeader(frame[0]);
    if (scale < 0 || scale > 15) return false;
    const uint16_t start = FrameStartValue(decoded, index);
    if ((start & 7) != 0) return false;
    out.U8(static_cast<uint8_t>(((start >> 3) & 1) << 7 | scale << 3 | (MapRecordCode(type) & 7)));
    out.U8(static_cast<uint8_t>(start >> 4));
    if (type == kRecordShortFrameCommand || type == kRecordLongFrameCommand) out.U16(command);
    // The coder's bytes: one signed difference per sample; the first leads
    // to the start value, the rest are packed.
    const uint8_t* diffs = frame + 2;
    for (uint32_t g = 0; g + 1 < count; g += 4) {
        int d[4];
        for (int k = 0; k < 4; ++k) {
            d[k] = static_cast<int8_t>(diffs[g + k]);
            if (d[k] < C_MDPCMEncDec6Bit::kMinDifference6 || d[k] > C_MDPCMEncDec6Bit::kMaxDifference6) return false;
        }
        uint8_t packed[3];
        PackSixBitGroup(d, packed);
        out.Bytes(packed, 3);
    }
    for (uint32_t k = 0; k < count; ++k) out.Decoded(decoded[index + 1 + k]);
    return out.Ok();
}

}  // namespace cz
