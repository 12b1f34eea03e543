// Decodes one MP3 file into one 16-bit PCM WAV file of the MP3's own rate and
// channel count, streaming the input through a fixed window, skipping ID3v2
// tags and damaged frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "decoders/mp3/C_Id3v2TagSkipper.h"
#include "decoders/mp3/C_Mp3WavWriter.h"
#include "decoders/mp3/I_Mp3ReadWindow.h"
#include "decoders/mp3/Mp3Gapless.h"
#include "decoders/mp3/Mp3Decoder.h"
#include "foundation/I_ProgressCallback.h"
#include "platform/Platform.h"

namespace cz::mp3 {

class C_Mp3ToWavConverter : private I_Mp3ReadWindow {
public:
    static constexpr int32_t kReadBufferSize = 16384;
    static constexpr int32_t kRefillThreshold = 3880;

    C_Mp3ToWavConverter() = default;
    virtual ~C_Mp3ToWavConverter();
    C_Mp3ToWavConverter(const C_Mp3ToWavConverter&) = delete;
    C_Mp3ToWavConverter& operator=(const C_Mp3ToWavConverter&) = delete;

    // Converts inputPath to outputPath. progress may be none; durationLimit
    // is a play time in milliseconds, 0 for the whole file. 1 on success, 0
    // on failure.
    int32_t Convert(const char* inputPath, const char* outputPath, I_ProgressCallback* progress,
                    uint32_t durationLimit);
    // The same from bytes in memory into wav (the whole WAV file's bytes).
    int32_t ConvertMemory(const uint8_t* data, size_t size, std::vector<uint8_t>* wav, I_ProgressCallback* progress,
                          uint32_t durationLimit);

    // Gapless decoding, off by default: when the stream starts with an
    // encoder's Info (or Xing) frame carrying the LAME extension's delay and
    // padding, that frame's silence, the encoder delay and the decoder's own
    // delay of 529 samples are dropped from the front and the padding from the
    // end, so the output has exactly the encoder's input length. Without that
    // frame, the iTunes-style comment (iTunSMPB) of an ID3v2 tag in front of
    // the stream gives the same facts (and a leading Xing/Info frame of
    // another encoder is then dropped as well). A stream with neither decodes
    // as it does with the option off.
    void SetGapless(bool on) { gapless_ = on; }
    // The decoder's own delay, trimmed with the encoder's by gapless decoding.
    static constexpr int64_t kGaplessDecoderDelay = kMp3DecoderDelay;

    // What the Info frame or the comment of the last stream told, when
    // gapless decoding found one.
    using GaplessInfo = Mp3GaplessInfo;
    const GaplessInfo& Gapless() const { return gaplessInfo_; }

    // Reads the Info frame at bytes (count bytes from its header on): false
    // when it is not an Info/Xing frame with the delay and padding fields.
    static bool ReadInfoFrame(const uint8_t* bytes, int32_t count, GaplessInfo* info);
    // Whether bytes start a Layer III frame holding a Xing or Info tag.
    static bool IsInfoFrame(const uint8_t* bytes, int32_t count);

    // Decodes the next frame: the address of the PCM, with the frame's sample
    // count (all channels) in *sampleCount, or none when decoding is over.
    const int16_t* NextFrame(uint16_t* sampleCount);

    // Decoding without a writer, for a caller that takes the frames itself:
    // opens the file and starts decoding (false when it cannot be opened);
    // NextFrame then gives the frames, FrameFormat describes the last one and
    // InputFraction tells how much of the file has been consumed (0 to 1).
    bool OpenStream(const char* inputPath);
    const Mp3FrameFormat& FrameFormat() const { return frameFormat_; }
    double InputFraction();

private:
    // The input: a file or a byte range in memory.
    struct Input {
        std::optional<platform::File> file;
        const uint8_t* data = nullptr;
        size_t size = 0;
        size_t offset = 0;

        size_t Read(uint8_t* buffer, size_t count);
        uint64_t Position();
    };

    int32_t Run(C_Mp3WavWriter& writer, I_ProgressCallback* progress, uint32_t durationLimit, uint64_t inputSize);
    bool BeginDecoding();

    // I_Mp3ReadWindow
    const uint8_t* ReadPosition() const override { return readBuffer_ + readPosition_; }
    int32_t BytesLeft() const override { return bytesLeft_; }
    void Consume(int32_t count) override;
    void Refill() override;

    Input input_;
    Mp3DecoderPtr decoder_;
    int32_t bytesLeft_ = 0;
    bool stopped_ = false;
    bool endOfFile_ = false;
    uint8_t readBuffer_[kReadBufferSize] = {};
    int32_t readPosition_ = 0;
    int16_t pcm_[kMp3MaxFrameSamples] = {};
    Mp3FrameFormat frameFormat_;
    C_Id3v2TagSkipper tagSkipper_;
    uint64_t streamSize_ = 0;
    bool gapless_ = false;
    bool firstFrame_ = true;
    GaplessInfo gaplessInfo_;
};

}  // namespace cz::mp3
