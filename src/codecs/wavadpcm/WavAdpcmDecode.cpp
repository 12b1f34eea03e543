#include "codecs/wavadpcm/WavAdpcmDecode.h"

#include <algorithm>

#include "codecs/wavadpcm/C_DVIADPCMCodec.h"

namespace cz {

std::unique_ptr<C_MSADPCMEncDec> CreateWavAdpcmDecoder(uint16_t formatTag) {
    if (formatTag == kWaveTagMsAdpcm) return std::make_unique<C_MSADPCMEncDec>();
    if (formatTag == kWaveTagImaAdpcm) return std::make_unique<C_DVIADPCMCodec>();
    return nullptr;
}

bool DecodeWavAdpcm(const uint8_t* fmt, size_t fmtSize, const uint8_t* data, size_t dataSize, std::vector<int16_t>& out,
                    WavAdpcmStreamInfo* info, WavAdpcmArithmetic arithmetic) {
    out.clear();
    WavAdpcmStreamInfo local;
    WavAdpcmStreamInfo& result = info ? *info : local;
    result = WavAdpcmStreamInfo{};
    if (!data) dataSize = 0;

    C_WavFileCodecInfo codecInfo;
    result.error = codecInfo.Read(fmt, fmtSize);
    if (result.error != WavAdpcmError::kNone) return false;
    result.formatTag = codecInfo.FormatTag();
    result.channels = codecInfo.Channels();
    result.sampleRate = codecInfo.SampleRate();
    result.blockAlign = codecInfo.BlockAlign();
    result.samplesPerBlock = codecInfo.SamplesPerBlock();

    // At most about four samples per input byte, so the size is bounded by
    // the data the caller already holds.
    const size_t frames = codecInfo.FramesForDataSize(dataSize);
    const size_t channels = codecInfo.Channels();
    const size_t blockAlign = codecInfo.BlockAlign();
    const size_t tail = dataSize % blockAlign;
    result.ignoredTailBytes = codecInfo.FramesInBlock(tail) == 0 ? tail : 0;

    const auto decoder = CreateWavAdpcmDecoder(codecInfo.FormatTag());
    decoder->SetArithmetic(arithmetic);
    // Decoded a run of blocks at a time, each run's output made just before
    // it is written, so every output page is touched once while in cache.
    constexpr size_t kRunBytes = 64 * 1024;
    const size_t runBytes = std::max<size_t>(1, kRunBytes / blockAlign) * blockAlign;
    std::vector<int16_t> samples;
    samples.reserve(frames * channels);
    for (size_t offset = 0; offset < dataSize; offset += runBytes) {
        const size_t inBytes = std::min(runBytes, dataSize - offset);
        const size_t start = samples.size();
        samples.resize(start + codecInfo.FramesForDataSize(inBytes) * channels);
        const int64_t bytes = decoder->DecodeBlocks(data + offset, inBytes, samples.data() + start,
                                                    (samples.size() - start) * sizeof(int16_t), codecInfo);
        if (bytes < 0) {
            result.error = decoder->LastError();
            return false;
        }
    }
    result.frames = samples.size() / channels;
    out.swap(samples);
    return true;
}

}  // namespace cz
