// Chip ADPCM coders on arbitrary input.
//
// Byte 0 chooses the work: bits 0-1 the coder (4-bit with 64 steps, 4-bit
// with 63 steps, 6-bit, new), bit 2 decode (set) or encode, bits 3-5 the
// coding mode (0 ... 7). Bytes 1-3 give the new coder a start index and a raw
// first sample. The rest is a code stream to decode, or little-endian 16-bit
// samples to encode (any value; above 4095 they are clamped).
//
// Checked: decoding stays inside its buffers and yields words of 0 ... 4095,
// one per code; encoding never fails, fits GetMaxEncodedSize, keeps the
// 15, 0, 15, 0 guard and, when flushing to silence, ends at mid-scale.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/adpcm/C_ADPCMEncDec6Bit.h"
#include "codecs/adpcm/C_NewADPCMEncDec.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::unique_ptr<cz::C_ADPCMEncDec> MakeCoder(uint8_t kind, const uint8_t* data) {
    switch (kind & 3) {
        case 0: return std::make_unique<cz::C_ADPCMEncDec>(12, 64);
        case 1: return std::make_unique<cz::C_ADPCMEncDec>(12, 63);
        case 2: return std::make_unique<cz::C_ADPCMEncDec6Bit>();
        default: {
            auto coder = std::make_unique<cz::C_NewADPCMEncDec>();
            coder->SetStartState(static_cast<uint16_t>(data[2] | (data[3] << 8)), data[1]);
            return coder;
        }
    }
}

bool HasPattern(const std::vector<uint8_t>& codes, uint8_t mask) {
    for (size_t i = 0; i + 3 < codes.size(); ++i)
        if (codes[i] == mask && codes[i + 1] == 0 && codes[i + 2] == mask && codes[i + 3] == 0) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > (1u << 20)) return 0;
    const uint8_t selector = data[0];
    const uint32_t mode = (selector >> 3) & 7;
    auto coder = MakeCoder(selector, data);
    const uint8_t* body = data + 4;
    const auto bodySize = static_cast<uint32_t>(size - 4);
    const bool sixBit = (selector & 3) == 2;

    if (selector & 4) {
        // Exactly sized copies so that any stray access leaves the allocation.
        std::vector<uint8_t> in(body, body + bodySize);
        const uint32_t codes = sixBit ? bodySize : 2 * bodySize;
        const uint32_t outBytes = coder->GetDecodedBufferSize(bodySize);
        Check(outBytes == 2 * codes);
        std::vector<uint16_t> out(codes);
        const uint32_t written = coder->Decode(in.data(), bodySize, out.data(), outBytes, nullptr);
        Check(written == outBytes);
        for (uint16_t word : out) Check(word <= 4095);
        // A short output buffer (odd byte count included) is respected.
        std::vector<uint16_t> small(codes / 3);
        const uint32_t smallWritten =
            coder->Decode(in.data(), bodySize, small.data(), static_cast<uint32_t>(small.size() * 2 + 1), nullptr);
        Check(smallWritten == small.size() * 2);
        for (size_t i = 0; i < small.size(); ++i) Check(small[i] == out[i]);
        return 0;
    }

    const uint32_t count = bodySize / 2;
    std::vector<uint16_t> samples(count);
    for (uint32_t i = 0; i < count; ++i) samples[i] = static_cast<uint16_t>(body[2 * i] | (body[2 * i + 1] << 8));
    const uint32_t bound = coder->GetMaxEncodedSize(count, mode);
    std::vector<uint8_t> out(bound);
    const uint32_t used = coder->Encode(count, samples.data(), out.data(), bound, mode, nullptr);
    const bool leadIn = mode != 4 && (mode & 1) != 0;
    const bool flush = mode == 4 || (mode & 2) == 0;
    if (count == 0 && !leadIn) return 0;
    Check(used > 0 && used <= bound);
    const uint32_t codes = coder->GetStepIndexTraceSize();
    Check(codes == (sixBit ? used : 2 * used));
    const uint8_t* trace = coder->GetStepIndexTrace();
    for (uint32_t i = 0; i < codes; ++i) Check(trace[i] < 64);

    std::vector<uint8_t> codeList;
    for (uint32_t i = 0; i < used; ++i) {
        if (sixBit) {
            codeList.push_back(out[i]);
        } else {
            codeList.push_back(static_cast<uint8_t>(out[i] >> 4));
            codeList.push_back(static_cast<uint8_t>(out[i] & 15));
        }
    }
    Check(!HasPattern(codeList, sixBit ? 63 : 15));
    std::vector<uint16_t> decoded(codes);
    Check(coder->Decode(out.data(), used, decoded.data(), codes * 2, nullptr) == codes * 2);
    if (flush && (selector & 3) != 3) Check(decoded.back() == 2048);
    return 0;
}
