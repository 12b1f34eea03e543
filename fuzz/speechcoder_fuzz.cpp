// The codec stand-ins' decoder on arbitrary bytes as a coded file (the five
// stand-ins share it). A stream that decodes must give exactly its stated
// sample count, and coding that sound again must decode to the same count.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "common/SpeechCoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<int16_t> pcm;
    const std::span<const uint8_t> bytes(data, size);
    if (!cz::sibling::DecodeSpeech(bytes, pcm)) return 0;
    if (pcm.size() !=
        (static_cast<uint32_t>(data[4]) | data[5] << 8 | data[6] << 16 | static_cast<uint32_t>(data[7]) << 24))
        std::abort();
    if (!pcm.empty() && pcm.size() < 100000) {
        cz::sibling::S_CoderSettings s;
        s.bits = data[8];
        s.decimation = data[9];
        const std::vector<uint8_t> again = cz::sibling::EncodeSpeech(pcm, s);
        std::vector<int16_t> back;
        if (!cz::sibling::DecodeSpeech(again, back) || back.size() != pcm.size()) std::abort();
    }
    return 0;
}
