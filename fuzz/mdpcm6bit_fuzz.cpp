// The 6-bit MDPCM coder on arbitrary bytes.
//
// Byte 0: bit 0 header alias, bit 1 end marker 255 (else 0), bit 2 encodes
// the rest as samples instead of decoding it. Byte 1: first-sample bits (mod
// 17). Bytes 2, 3: long and short frame lengths. The rest is the stream (or
// an initial value and the samples, 2 bytes each).
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codecs/mdpcm/C_MDPCMEncDec6Bit.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    cz::C_MDPCMEncDec6Bit coder(data[0] & 1, static_cast<uint16_t>(data[1] % 17));
    coder.SetEndMarker((data[0] & 2) ? 255 : 0);
    const uint32_t L = data[2], S = data[3];
    const bool encode = (data[0] & 4) != 0;
    data += 4;
    size -= 4;
    if (!encode) {
        const uint32_t counted = coder.CountDecodedSamples(L, S, data, size);
        Check(counted <= size);
        std::vector<uint16_t> out(counted);
        Check(coder.Decode(out.data(), out.size(), data, size, 2048, L, S, nullptr) == counted);
        for (uint16_t v : out) Check(v <= 4095);
        return 0;
    }
    if (L == 0 || S == 0 || size < 2) return 0;
    std::vector<uint16_t> x((size - 2) / 2);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<uint16_t>(data[2 + 2 * i] | data[3 + 2 * i] << 8);
    const auto count = static_cast<uint32_t>(x.size());
    const uint16_t initial = static_cast<uint16_t>(data[0] | data[1] << 8);
    std::vector<uint8_t> stream(static_cast<size_t>(coder.GetMaxEncodedSize(count, L, S)));
    const uint32_t bytes = coder.Encode(stream.data(), stream.size(), count, x.data(), initial, L, S, 0, nullptr);
    Check(bytes > 0 && bytes <= stream.size());
    const uint16_t last = coder.CurrentValue();
    std::vector<uint16_t> decoded(count + coder.Padding());
    Check(coder.Decode(decoded.data(), decoded.size(), stream.data(), bytes, initial, L, S, nullptr) == decoded.size());
    Check(coder.EndMarkerSeen() && (decoded.empty() || decoded.back() == last));
    return 0;
}
