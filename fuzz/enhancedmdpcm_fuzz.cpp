// The least-error MDPCM coder on arbitrary bytes: whatever it codes, the
// plain 5-bit decoder plays back as the coder's own reconstruction.
//
// Byte 0: bit 0 header alias, bit 1 end marker 255, bits 2-3 padding mode.
// Byte 1: first-sample bits (mod 17). Bytes 2, 3: long and short frame
// lengths. Bytes 4, 5: initial value. The rest: samples, 2 bytes each.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codecs/mdpcm/C_EnhancedMDPCMCodec.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const uint32_t alias = data[0] & 1;
    const auto bits = static_cast<uint16_t>(data[1] % 17);
    const uint32_t L = data[2], S = data[3];
    if (L == 0 || S == 0) return 0;
    cz::C_EnhancedMDPCMCodec coder(alias, bits);
    cz::C_MDPCMEncDec plain(alias, bits);
    coder.SetEndMarker((data[0] & 2) ? 255 : 0);
    plain.SetEndMarker(coder.EndMarker());
    const uint16_t initial = static_cast<uint16_t>(data[4] | data[5] << 8);
    std::vector<uint16_t> x((size - 6) / 2);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<uint16_t>(data[6 + 2 * i] | data[7 + 2 * i] << 8);
    const auto count = static_cast<uint32_t>(x.size());
    std::vector<uint8_t> stream(static_cast<size_t>(coder.GetMaxEncodedSize(count, L, S)));
    const uint32_t bytes =
        coder.Encode(stream.data(), stream.size(), count, x.data(), initial, L, S, (data[0] >> 2) & 3, nullptr);
    Check(bytes > 0 && bytes <= stream.size());
    const uint16_t last = coder.CurrentValue();
    std::vector<uint16_t> decoded(count + coder.Padding());
    Check(plain.Decode(decoded.data(), decoded.size(), stream.data(), bytes, initial, L, S, nullptr) == decoded.size());
    Check(plain.EndMarkerSeen() && (decoded.empty() || decoded.back() == last));
    return 0;
}
