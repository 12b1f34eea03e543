// The iTunes-style gapless comment read from an ID3v2 tag in front of an MP3
// stream; the trimmer then runs on the facts read, over frames of the sizes a
// stream has.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoders/mp3/Mp3Gapless.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy: a read past the end is caught.
    std::vector<uint8_t> bytes(data, data + size);
    cz::mp3::Mp3GaplessInfo info;
    if (!cz::mp3::ReadItunesGapless(bytes.data(), bytes.size(), &info)) return 0;
    if (!info.found || info.delay < 0 || info.padding < 0) __builtin_trap();
    for (const int channels : {1, 2}) {
        cz::mp3::Mp3GaplessTrimmer trimmer;
        const uint16_t perFrame = uint16_t(1152 * channels);
        trimmer.Start(info, channels, perFrame);
        std::vector<int16_t> frame(perFrame);
        for (int f = 0; f < 8; ++f) {
            const int16_t* pcm = frame.data();
            uint16_t count = perFrame;
            trimmer.Cut(&pcm, &count);
            if (count > perFrame) __builtin_trap();
        }
    }
    return 0;
}
