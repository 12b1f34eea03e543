#include "formats/mdm/C_MdmFile.h"

#include <array>

#include "codecs/mdpcm/C_WNMDPCMEncDec.h"

namespace cz {

namespace {

// Record codes by internal record type (end, silence, silence with command,
// raw, raw with command, short frame, short with command, long, long with
// command).
constexpr std::array<uint8_t, 9> kRecordCodes{255, 4, 5, 6, 7, 2, 3, 0, 1};

}  // namespace

C_MdmFile::C_MdmFile() : C_MdmFile("WMDM", "WMdM", kFormatId) {}

C_MdmFile::C_MdmFile(const char* code, const char* secondCode, uint32_t formatType) : C_MpmFile(code, secondCode) {
    SetFrameLengths(65, 17);
    SetCommandFrameSetting(0);
    SetFormatType(formatType);
}

C_MdmFile::~C_MdmFile() = default;

std::unique_ptr<C_MDPCMEncDec> C_MdmFile::CreateCoder() {
    std::unique_ptr<C_MDPCMEncDec> coder;
    if (alternative_)
        coder = std::make_unique<C_WNMDPCMEncDec>(9);
    else
        coder = std::make_unique<C_MDPCMEncDec>(headerAlias_, 9);
    coder->SetEndMarker(kEndMarker);
    return coder;
}

uint32_t C_MdmFile::FrameLength(uint32_t type) const {
    const uint32_t n = C_MpmFile::FrameLength(type);
    return n != 0 && alternative_ ? n + 1 : n;
}

uint8_t C_MdmFile::MapRecordCode(uint32_t type) const { return type < kRecordCodes.size() ? kRecordCodes[type] : 0; }

uint16_t C_MdmFile::FrameStartValue(const uint16_t* decoded, uint32_t index) const { return decoded[index + 1]; }

bool C_MdmFile::WriteFrameRecord(C_MpmFrameOutput& out, uint32_t type, const uint8_t* frame, const uint16_t* decoded,
                                 uint32_t index, uint32_t count, uint16_t command) {
    if (count < 1) return false;
    // The header alias is the coder's business: the record holds the index.
    int scale = frame[0] >> 1;
    if (!alternative_)
        scale = Coder() ? Coder()->IndexFromHeader(frame[0]) : C_MDPCMEncDec(headerAlias_, 9).IndexFromHeader(frame[0]);
    if (scale < 0 || scale > 15) return false;
    const uint16_t start = FrameStartValue(decoded, index);
    // The record keeps bits 11..3 of the start value; the coder's 9-bit
    // first samples have nothing below.
    if ((start & 7) != 0) return false;
    out.U8(static_cast<uint8_t>(((start >> 3) & 1) << 7 | scale << 3 | (MapRecordCode(type) & 7)));
    out.U8(static_cast<uint8_t>(start >> 4));
    if (type == kRecordShortFrameCommand || type == kRecordLongFrameCommand) out.U16(command);
    // Differences after the first sample: MDPCM frames hold one signed byte
    // per sample (the first one leads to the start value); alternative
    // frames hold the start value as a word, then sign-magnitude bytes.
    const uint8_t* diffs = alternative_ ? frame + 3 : frame + 2;
    const uint32_t differences = count - 1;
    for (uint32_t g = 0; g < differences; g += 8) {
        uint8_t sign = 0;
        uint8_t nibbles[8] = {};
        for (uint32_t k = 0; k < 8 && g + k < differences; ++k) {
            const uint8_t b = diffs[g + k];
            int magnitude;
            bool negative;
            if (alternative_) {
                magnitude = b & 15;
                negative = (b & 16) != 0;
            } else {
                const int d = static_cast<int8_t>(b);
                negative = d < 0;
                magnitude = negative ? -d : d;
            }
            if (magnitude > 15) return false;
            if (negative && magnitude != 0) sign = static_cast<uint8_t>(sign | (1u << k));
            nibbles[k] = static_cast<uint8_t>(magnitude);
        }
        out.U8(sign);
        for (int k = 0; k < 8; k += 2) out.U8(static_cast<uint8_t>(nibbles[k] | nibbles[k + 1] << 4));
    }
    for (uint32_t k = 0; k < count; ++k) out.Decoded(decoded[index + 1 + k]);
    return out.Ok();
}

bool C_MdmFile::WriteSilenceRecord(C_MpmFrameOutput& out, uint32_t type, uint32_t length, uint16_t command) {
    if (length > 0xFFFF) return false;
    out.U8(MapRecordCode(type));
    if (type == kRecordSilenceCommand) out.U16(command);
    out.U16(static_cast<uint16_t>(length));
    // The chip plays silence at mid-scale.
    out.DecodedRun(kSilenceValue, length);
    return out.Ok();
}

}  // namespace cz
