#include "codecs/wavadpcm/WavAdpcmDecode.h"

#include "codecs/wavadpcm/C_DVIADPCMCodec.h"

namespace cz {

std::unique_ptr<C_MSADPCMEncDec> CreateWavAdpcmDecoder(uint16_t formatTag) {
    if (formatTag == C_WavFileCodecInfo::kTagMsAdpcm) return std::make_unique<C_MSADPCMEncDec>();
    if (formatTag == C_WavFileCodecInfo::kTagImaAdpcm) return std::make_unique<C_DVIADPCMCodec>();
    return nullptr;
}

bool DecodeWavAdpcm(const uint8_t* fmt, size_t fmtSize, const uint8_t* data, size_t dataSize,
                    std::vector<int16_t>& out, WavAdpcmStreamInfo* info, WavAdpcmArithmetic arithmetic) {
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
    const size_t tail = dataSize % codecInfo.BlockAlign();
    result.ignoredTailBytes = codecInfo.FramesInBlock(tail) == 0 ? tail : 0;
    std::vector<int16_t> samples(frames * codecInfo.Channels());

    const auto decoder = CreateWavAdpcmDecoder(codecInfo.FormatTag());
    decoder->SetArithmetic(arithmetic);
    const int64_t bytes =
        decoder->DecodeBlocks(data, dataSize, samples.data(), samples.size() * sizeof(int16_t), codecInfo);
    if (bytes < 0) {
        result.error = decoder->LastError();
        return false;
    }
    samples.resize(static_cast<size_t>(bytes) / sizeof(int16_t));
    result.frames = samples.size() / codecInfo.Channels();
    out.swap(samples);
    return true;
}

}  // namespace cz
