// Gapless MP3 decoding: what an encoder recorded about its delay and padding,
// where it is read from, and the trimmer that cuts the decoded frames to
// exactly the encoder's input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cz::mp3 {

// The decoder's own delay, trimmed with the encoder's.
inline constexpr int64_t kMp3DecoderDelay = 529;

struct Mp3GaplessInfo {
    bool found = false;
    int32_t delay = 0;    // encoder delay, samples per channel
    int32_t padding = 0;  // encoder padding, samples per channel
    int64_t frames = -1;  // audio frames after the Info frame; -1 unknown
    int64_t length = -1;  // the encoder's input, samples per channel; -1 unknown
};

// Reads the iTunes-style gapless comment from an ID3v2 tag starting at
// bytes (count bytes available): a comment frame described "iTunSMPB" whose
// text holds hexadecimal fields: a zero, the encoder delay, the padding and
// the input's sample count (0 when not given). Only the bytes given are
// looked at; false when there is no tag, no such comment, or it is damaged.
bool ReadItunesGapless(const uint8_t* bytes, size_t count, Mp3GaplessInfo* info);

// Cuts decoded frames to what the encoder was given: the encoder's and the
// decoder's delay off the front, the padding off the end. The end is known
// from the input length or the frame count; without either a tail of the
// padding's length is held back until more comes, so that whatever the
// stream ends with is never given out.
class Mp3GaplessTrimmer {
public:
    // Starts on a stream: info as read, the channel count and the sample
    // count (all channels) of the stream's first audio frame.
    void Start(const Mp3GaplessInfo& info, int64_t channels, int64_t perFrame);
    bool Active() const { return active_; }
    // Cuts the frame *pcm of *count samples (all channels). *pcm may then
    // point into the trimmer's own buffer (valid until the next call); when
    // nothing is to be given yet *count is 0 and *pcm is left as it was.
    void Cut(const int16_t** pcm, uint16_t* count);

private:
    bool active_ = false;
    int64_t skip_ = 0;
    int64_t length_ = -1;
    int64_t holdBack_ = 0;
    std::vector<int16_t> held_;
    std::vector<int16_t> staging_;
};

}  // namespace cz::mp3
