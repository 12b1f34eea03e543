// Fuzz target for the WAV ADPCM decoders. Input layout: one flag byte (bit 0
// selects the exact-product arithmetic), the size of the "fmt " body as a
// 16-bit little-endian number, the fmt body, then the data chunk body.
// Seeds in fuzz/corpus/wavadpcm/ come from small sox and ffmpeg files.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/wavadpcm/WavAdpcmDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const auto arithmetic = (data[0] & 1) ? cz::WavAdpcmArithmetic::kExactProduct : cz::WavAdpcmArithmetic::kReference;
    size_t fmtSize = static_cast<size_t>(data[1] | (data[2] << 8));
    const uint8_t* fmt = data + 3;
    size_t rest = size - 3;
    if (fmtSize > rest) fmtSize = rest;
    const uint8_t* body = fmt + fmtSize;
    const size_t bodySize = rest - fmtSize;

    std::vector<int16_t> out;
    cz::WavAdpcmStreamInfo info;
    if (cz::DecodeWavAdpcm(fmt, fmtSize, body, bodySize, out, &info, arithmetic)) {
        if (out.size() != info.frames * info.channels) __builtin_trap();
    }

    // The block decoder straight into a buffer of exactly the announced size,
    // so a write past it shows up under the sanitizers.
    cz::C_WavFileCodecInfo codecInfo;
    if (codecInfo.Read(fmt, fmtSize) == cz::WavAdpcmError::kNone) {
        std::vector<int16_t> exact(codecInfo.FramesForDataSize(bodySize) * codecInfo.Channels());
        const auto decoder = cz::CreateWavAdpcmDecoder(codecInfo.FormatTag());
        decoder->SetArithmetic(arithmetic);
        const int64_t bytes =
            decoder->DecodeBlocks(body, bodySize, exact.data(), exact.size() * sizeof(int16_t), codecInfo);
        if (bytes >= 0 && static_cast<size_t>(bytes) != exact.size() * sizeof(int16_t)) __builtin_trap();
    }
    return 0;
}
