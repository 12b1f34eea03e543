// Decodes the WMA stream of one ASF file into one 16-bit PCM WAV file of the
// stream's own rate and channel count. The input is read through an
// 8192-byte cache that answers the decoder's read-at-offset requests; the
// output goes out in blocks of 2048 frames (and the last, shorter block).
//
// Everything a conversion uses lives in its converter object: two
// conversions may run at once on two converters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decoders/wma/AsfReader.h"
#include "decoders/wma/C_WmaWavWriter.h"
#include "decoders/wma/WmaUnitDecoder.h"
#include "foundation/I_ProgressCallback.h"
#include "platform/Platform.h"

namespace cz::wma {

class C_WmaToWavConverter : private I_AsfSource {
public:
    static constexpr size_t kCacheSize = 8192;
    static constexpr uint32_t kBlockFrames = 2048;

    C_WmaToWavConverter() = default;
    virtual ~C_WmaToWavConverter();
    C_WmaToWavConverter(const C_WmaToWavConverter&) = delete;
    C_WmaToWavConverter& operator=(const C_WmaToWavConverter&) = delete;

    // Converts inputPath to outputPath; progress may be none. 1 on success,
    // 0 on failure (the reason in LastError). A stream refused, or a header
    // that cannot be read, leaves no output; a decoding error after output
    // began leaves the output with what was decoded, its sizes patched.
    int32_t Convert(const char* inputPath, const char* outputPath, I_ProgressCallback* progress);
    // The same from bytes in memory into wav (the whole WAV file's bytes).
    int32_t ConvertMemory(const uint8_t* data, size_t size, std::vector<uint8_t>* wav, I_ProgressCallback* progress);

    const std::string& LastError() const { return error_; }
    // Frames written by the last conversion.
    uint64_t FramesWritten() const { return framesWritten_; }

    // Replaces the frame decoder (tests drive the driver with a stand-in).
    void SetUnitDecoderFactory(WmaUnitDecoderFactory factory) { factory_ = std::move(factory); }

private:
    struct Output {
        C_WmaWavWriter writer;
        std::string path;
        std::vector<uint8_t>* memory = nullptr;
    };

    int32_t Run(Output& output, I_ProgressCallback* progress);
    int32_t Decode(Output& output, I_ProgressCallback* progress);
    size_t ReadInput(uint64_t offset, uint8_t* buffer, size_t count);
    // I_AsfSource over the cache.
    const uint8_t* ReadAt(uint64_t offset, size_t count, size_t* available) override;

    // The input: a file or bytes in memory.
    std::optional<platform::File> file_;
    const uint8_t* memory_ = nullptr;
    uint64_t inputSize_ = 0;
    uint64_t inputPosition_ = 0;  // where the last read ended
    // The read cache.
    uint8_t cache_[kCacheSize] = {};
    uint64_t cacheOffset_ = 0;
    size_t cacheCount_ = 0;
    int32_t lastPercent_ = 0;
    int16_t pcm_[kBlockFrames * 2] = {};
    uint64_t framesWritten_ = 0;
    WmaUnitDecoderFactory factory_;
    std::string error_;
};

}  // namespace cz::wma
