// MDPCM coders on arbitrary bytes.
//
// Byte 0: bit 0 picks the alternative coder, bit 1 the header alias, bit 2
// end marker 255 (else 0), bit 3 encodes the rest as samples instead of
// decoding it. Byte 1: first-sample bits (mod 17). Bytes 2, 3: long and short
// frame lengths. The rest is the stream (or the samples, 2 bytes each).
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "codecs/mdpcm/C_WNMDPCMEncDec.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void FuzzDecode(cz::C_MDPCMEncDec& coder, const std::vector<uint8_t>& in, uint32_t L, uint32_t S) {
    const uint32_t counted = coder.CountDecodedSamples(L, S, in.data(), in.size());
    const bool ended = coder.EndMarkerSeen();
    Check(counted <= in.size());
    std::vector<uint16_t> out(counted);
    const uint32_t n = coder.Decode(out.data(), out.size(), in.data(), in.size(), 2048, L, S, nullptr);
    Check(n == counted && coder.EndMarkerSeen() == ended);
    for (uint16_t v : out) Check(v <= 4095);
    // A short output is filled and no more.
    if (counted > 1) {
        std::vector<uint16_t> half(counted / 2);
        Check(coder.Decode(half.data(), half.size(), in.data(), in.size(), 2048, L, S, nullptr) == half.size());
    }
}

void FuzzEncode(cz::C_MDPCMEncDec& coder, const uint8_t* data, size_t size, uint32_t L, uint32_t S) {
    if (L == 0 || S == 0 || size < 2) return;
    const uint16_t initial = static_cast<uint16_t>(data[0] | data[1] << 8);
    std::vector<uint16_t> x((size - 2) / 2);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<uint16_t>(data[2 + 2 * i] | data[3 + 2 * i] << 8);
    const auto count = static_cast<uint32_t>(x.size());
    std::vector<uint8_t> out(static_cast<size_t>(coder.GetMaxEncodedSize(count, L, S)));
    const uint32_t bytes = coder.Encode(out.data(), out.size(), count, x.data(), initial, L, S, data[0] % 3, nullptr);
    Check(bytes > 0 && bytes <= out.size());
    out.resize(bytes);
    const uint32_t expected = count + coder.Padding();
    const uint16_t last = coder.CurrentValue();
    std::vector<uint16_t> decoded(expected);
    Check(coder.CountDecodedSamples(L, S, out.data(), out.size()) == expected && coder.EndMarkerSeen());
    Check(coder.Decode(decoded.data(), decoded.size(), out.data(), out.size(), initial, L, S, nullptr) == expected);
    Check(coder.EndMarkerSeen() && (expected == 0 || decoded.back() == last));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint8_t flags = data[0];
    const auto bits = static_cast<uint16_t>(data[1] % 17);
    std::unique_ptr<cz::C_MDPCMEncDec> coder;
    if (flags & 1)
        coder = std::make_unique<cz::C_WNMDPCMEncDec>(bits);
    else
        coder = std::make_unique<cz::C_MDPCMEncDec>((flags >> 1) & 1, bits);
    coder->SetEndMarker((flags & 4) ? 255 : 0);
    const uint32_t L = data[2];
    const uint32_t S = data[3];
    if (flags & 8)
        FuzzEncode(*coder, data + 4, size - 4, L, S);
    else
        FuzzDecode(*coder, std::vector<uint8_t>(data + 4, data + size), L, S);
    return 0;
}
