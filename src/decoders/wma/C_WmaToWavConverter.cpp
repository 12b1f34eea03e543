// WMA-to-WAV driver.
#include "decoders/wma/C_WmaToWavConverter.h"

#include <algorithm>
#include <cstring>

#include "decoders/wma/WmaFileDecoder.h"

namespace cz::wma {

C_WmaToWavConverter::~C_WmaToWavConverter() = default;

int32_t C_WmaToWavConverter::Convert(const char* inputPath, const char* outputPath, I_ProgressCallback* progress) {
    error_.clear();
    framesWritten_ = 0;
    if (inputPath == nullptr || *inputPath == '\0' || outputPath == nullptr || *outputPath == '\0') {
        error_ = "no input or output path";
        return 0;
    }
    memory_ = nullptr;
    file_ = platform::File::Open(inputPath, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!file_) {
        error_ = "cannot open the input";
        return 0;
    }
    uint64_t size = 0;
    if (!file_->Seek(0, platform::SeekOrigin::kEnd, &size) || !file_->Seek(0, platform::SeekOrigin::kBegin)) {
        file_.reset();
        error_ = "cannot measure the input";
        return 0;
    }
    inputSize_ = size;
    Output output;
    output.path = outputPath;
    const int32_t result = Run(output, progress);
    file_.reset();
    return result;
}

int32_t C_WmaToWavConverter::ConvertMemory(const uint8_t* data, size_t size, std::vector<uint8_t>* wav,
                                           I_ProgressCallback* progress) {
    error_.clear();
    framesWritten_ = 0;
    file_.reset();
    memory_ = data;
    inputSize_ = data == nullptr ? 0 : size;
    if (wav == nullptr) {
        error_ = "no output";
        return 0;
    }
    Output output;
    output.memory = wav;
    return Run(output, progress);
}

// Progress runs from OnBegin and 0 to 100 and OnEnd, a failed decoding
// included.
int32_t C_WmaToWavConverter::Run(Output& output, I_ProgressCallback* progress) {
    cacheOffset_ = 0;
    cacheCount_ = 0;
    inputPosition_ = 0;
    lastPercent_ = 0;
    if (progress != nullptr) {
        progress->OnBegin();
        progress->OnProgress(0);
    }
    const int32_t result = Decode(output, progress);
    if (progress != nullptr) {
        progress->OnProgress(100);
        progress->OnEnd();
    }
    return result;
}

int32_t C_WmaToWavConverter::Decode(Output& output, I_ProgressCallback* progress) {
    WmaFileDecoder decoder(*this, factory_);
    if (!decoder.Open()) {
        error_ = decoder.LastError();
        return 0;
    }
    const WmaOutputFormat stream = decoder.Format();
    WmaWavFormatRecord record;
    record.format.formatTag = kWaveTagPcm;
    record.format.channels = stream.channels;
    record.format.sampleRate = stream.sampleRate;
    record.format.bitsPerSample = stream.bitsPerSample;
    record.format.blockAlign = uint16_t(stream.channels * stream.bitsPerSample / 8);
    record.format.bytesPerSecond = stream.sampleRate * record.format.blockAlign;
    const bool opened = output.memory != nullptr ? output.writer.OpenMemory(output.memory, record)
                                                 : output.writer.Open(output.path, record);
    if (!opened) {
        error_ = "cannot create the output";
        return 0;
    }

    const uint32_t channels = stream.channels;
    const size_t blockBytes = size_t(record.format.blockAlign);
    uint32_t frames = 0;  // frames waiting in pcm_
    auto flush = [&]() {
        if (frames == 0) return true;
        if (!output.writer.Write(pcm_, frames * blockBytes)) return false;
        framesWritten_ += frames;
        frames = 0;
        return true;
    };
    WmaPacketStatus status = decoder.NextPacket();
    while (status == WmaPacketStatus::kOk) {
        uint32_t remaining = 0;
        do {
            frames += decoder.Decode(pcm_ + size_t(frames) * channels, kBlockFrames - frames, &remaining);
            if (frames == kBlockFrames) {
                if (progress != nullptr && inputSize_ > 0) {
                    const int32_t percent = int32_t(double(inputPosition_) / double(inputSize_) * 100.0);
                    if (percent != lastPercent_) {
                        progress->OnProgress(percent);
                        lastPercent_ = percent;
                    }
                }
                if (!flush()) {
                    output.writer.Abandon();
                    error_ = "cannot write the output";
                    return 0;
                }
            }
        } while (remaining > 0);
        status = decoder.NextPacket();
    }
    // The last, shorter block is sound too.
    if (!flush()) {
        output.writer.Abandon();
        error_ = "cannot write the output";
        return 0;
    }
    const bool closed = output.writer.Close();
    if (status == WmaPacketStatus::kError) {
        error_ = decoder.LastError();
        return 0;
    }
    if (!closed) {
        error_ = "cannot finish the output";
        return 0;
    }
    return 1;
}

size_t C_WmaToWavConverter::ReadInput(uint64_t offset, uint8_t* buffer, size_t count) {
    if (offset >= inputSize_) return 0;
    count = size_t(std::min<uint64_t>(count, inputSize_ - offset));
    if (memory_ != nullptr) {
        std::memcpy(buffer, memory_ + offset, count);
        inputPosition_ = offset + count;
        return count;
    }
    if (!file_ || !file_->Seek(int64_t(offset), platform::SeekOrigin::kBegin)) return 0;
    size_t got = 0;
    if (!file_->Read(buffer, count, &got)) return 0;
    inputPosition_ = offset + got;
    return got;
}

// From the cache when the range starts inside it; otherwise the cache is
// refilled from the offset.
const uint8_t* C_WmaToWavConverter::ReadAt(uint64_t offset, size_t count, size_t* available) {
    *available = 0;
    if (offset < cacheOffset_ || offset >= cacheOffset_ + cacheCount_) {
        cacheOffset_ = offset;
        cacheCount_ = ReadInput(offset, cache_, kCacheSize);
        if (cacheCount_ == 0) return nullptr;
    }
    const size_t at = size_t(offset - cacheOffset_);
    *available = std::min(count, cacheCount_ - at);
    return cache_ + at;
}

}  // namespace cz::wma
