// Frame decoder fed in random chunks, as a streaming caller would: the last
// input byte (when there is more than one) picks the chunk sizes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "decoders/mp3/Mp3Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace cz::mp3;
    uint32_t seed = 1;
    if (size > 1) {
        seed = data[size - 1] + 1u;
        --size;
    }
    auto decoder = Mp3DecoderCreate();
    if (!decoder) {
        return 0;
    }
    // A window the caller refills: unconsumed bytes move to the front and the
    // next chunk is appended; the window is exactly as large as its content.
    std::vector<uint8_t> window;
    size_t offset = 0;
    int16_t pcm[kMp3MaxFrameSamples];
    int rounds = 0;
    while ((offset < size || !window.empty()) && rounds++ < 100000) {
        seed = seed * 1103515245u + 12345u;
        const size_t chunk = 1 + (seed >> 16) % 2048;
        const size_t take = offset + chunk <= size ? chunk : size - offset;
        window.insert(window.end(), data + offset, data + offset + take);
        offset += take;
        const bool last = offset >= size;
        for (;;) {
            const int32_t sync = Mp3FindSync(window.data(), int32_t(window.size()));
            if (sync < 0) {
                window.erase(window.begin(), window.end() - (window.empty() ? 0 : 1));
                break;
            }
            window.erase(window.begin(), window.begin() + sync);
            // Decode from a copy sized exactly to the window so that any read
            // past the bytes handed over is caught by the sanitizers.
            std::vector<uint8_t> exact(window);
            const uint8_t* p = exact.data();
            int32_t left = int32_t(exact.size());
            const int32_t result = Mp3DecodeFrame(decoder.get(), &p, &left, pcm);
            const size_t consumed = size_t(p - exact.data());
            if (consumed > window.size() || left != int32_t(window.size() - consumed)) {
                __builtin_trap();
            }
            if (result == kMp3InputUnderflow || result == kMp3FreeFormatSyncNotFound) {
                if (!last) {
                    break;  // wait for more bytes
                }
                window.erase(window.begin(), window.begin() + long(consumed > 0 ? consumed : 1));
                continue;
            }
            if (result == kMp3InvalidHeader && consumed == 0) {
                window.erase(window.begin());
                continue;
            }
            window.erase(window.begin(), window.begin() + long(consumed));
            Mp3FrameFormat format;
            Mp3GetFrameFormat(decoder.get(), &format);
        }
        if (last && window.size() <= 1) {
            break;
        }
    }
    return 0;
}
