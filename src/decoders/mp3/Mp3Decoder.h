// MPEG audio Layer III frame decoder: MPEG-1, MPEG-2 (lower sampling
// frequencies) and MPEG-2.5, integer arithmetic only.
//
// The decoder has no file access: the caller hands it a pointer into its
// input window and the count of bytes there, and the decoder advances both by
// what it consumed. Everything is allocated at creation; decoding allocates
// nothing.
#pragma once

#include <cstdint>
#include <memory>

namespace cz::mp3 {

// Format of the last decoded frame; all zero when no Layer III header has
// been seen.
struct Mp3FrameFormat {
    int32_t bitrate = 0;  // bits per second
    int32_t channels = 0;
    int32_t sampleRate = 0;     // Hz
    int32_t bitsPerSample = 0;  // always 16
    int32_t outputSamples = 0;  // per frame, all channels together
    int32_t layer = 0;
    int32_t version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
};

// Results of Mp3DecodeFrame.
enum Mp3Result : int32_t {
    kMp3Ok = 0,
    kMp3InputUnderflow = -1,
    kMp3MainDataUnderflow = -2,
    kMp3FreeFormatSyncNotFound = -3,
    kMp3NoDecoder = -5,
    kMp3InvalidHeader = -6,
    kMp3InvalidSideInfo = -7,
    kMp3InvalidScaleFactors = -8,
    kMp3InvalidHuffman = -9,
    kMp3InvalidRequantisation = -10,
    kMp3InvalidImdct = -11,
    kMp3InvalidSynthesis = -12,
};

// Largest frame output: 2 granules x 576 samples x 2 channels.
constexpr int kMp3MaxFrameSamples = 2304;

struct Mp3Decoder;

struct Mp3DecoderDeleter {
    void operator()(Mp3Decoder* decoder) const;
};
using Mp3DecoderPtr = std::unique_ptr<Mp3Decoder, Mp3DecoderDeleter>;

// A new decoder, or none when memory runs out.
Mp3DecoderPtr Mp3DecoderCreate();
// Frees the decoder; none is ignored.
void Mp3DecoderDestroy(Mp3DecoderPtr& decoder);

// Offset of the first i in 0 .. count - 2 with bytes[i] == 0xFF and
// (bytes[i + 1] & 0xE0) == 0xE0; -1 when there is none.
int32_t Mp3FindSync(const uint8_t* bytes, int32_t count);

// Decodes the frame at *position (which holds *bytesLeft bytes), advancing
// both by the bytes consumed, and writes granules x 576 x channels samples
// (stereo interleaved) to out, which must hold kMp3MaxFrameSamples. Returns
// an Mp3Result.
int32_t Mp3DecodeFrame(Mp3Decoder* decoder, const uint8_t** position, int32_t* bytesLeft, int16_t* out);

// The format of the last frame header when it was Layer III, else all zero.
void Mp3GetFrameFormat(const Mp3Decoder* decoder, Mp3FrameFormat* format);

}  // namespace cz::mp3
