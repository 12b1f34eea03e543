// The free-frame-length MDPCM word coders on arbitrary bytes.
//
// Byte 0: bit 0 the searching coder, bit 1 encodes the rest as samples
// instead of decoding it. Byte 1: frame length. The rest is the word stream
// (or the samples, 2 bytes each).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codecs/mdpcm/C_MdpcmCodecFreeFrameSize.h"
#include "codecs/mdpcm/C_WNMdpcmCodecFreeFrameSize.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    std::unique_ptr<cz::C_MdpcmCodecFreeFrameSize> coder;
    if (data[0] & 1)
        coder = std::make_unique<cz::C_WNMdpcmCodecFreeFrameSize>(data[1]);
    else
        coder = std::make_unique<cz::C_MdpcmCodecFreeFrameSize>(data[1]);
    const bool encode = (data[0] & 2) != 0;
    data += 2;
    size -= 2;
    if (!encode) {
        // Runs of up to 2046 samples per 4 bytes: keep the output small.
        const uint32_t counted = coder->CountDecodedSamples(data, size);
        const bool ended = coder->EndSeen();
        Check(counted <= size * 1023);
        std::vector<uint16_t> out(std::min<uint32_t>(counted, 1u << 20));
        Check(coder->Decode(out.data(), out.size(), data, size, nullptr) == out.size());
        Check(out.size() < counted || coder->EndSeen() == ended);
        for (uint16_t v : out) Check(v <= 4095);
        return 0;
    }
    std::vector<uint16_t> x(size / 2);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<uint16_t>(data[2 * i] | data[2 * i + 1] << 8);
    cz::C_MdpcmCodecFreeFrameSize::S_State state;
    std::vector<uint8_t> words;
    std::vector<uint16_t> played;
    const uint32_t coded = coder->EncodeWords(x.data(), static_cast<uint32_t>(x.size()), state, words, &played);
    Check(coded == played.size() && coded == x.size() + (x.size() & 1));
    words.push_back(0x08);
    words.push_back(0x02);
    std::vector<uint16_t> out(played.size());
    Check(coder->Decode(out.data(), out.size(), words.data(), words.size(), nullptr) == out.size());
    Check(out == played);
    return 0;
}
