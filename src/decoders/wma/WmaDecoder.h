// Windows Media Audio version 1 and 2 frame decoder.
//
// The decoder has no file access: the caller (the ASF reader's driver) hands
// it one coded unit of blockAlign bytes at a time and receives interleaved
// 16-bit samples. Tables and buffers are sized from the stream format at
// Open; decoding a unit allocates only to grow the caller's output vector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace cz::wma {

// The stream's WAVEFORMATEX as the ASF stream properties carry it.
struct WmaStreamFormat {
    uint16_t formatTag = 0;  // 0x160 (version 1) or 0x161 (version 2)
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t avgBytesPerSecond = 0;
    uint16_t blockAlign = 0;  // bytes of one coded packet (superframe unit)
    uint16_t bitsPerSample = 0;
    std::vector<uint8_t> extra;  // the cbSize bytes after the 18-byte record
};

constexpr uint16_t kWmaTagVersion1 = 0x160;
constexpr uint16_t kWmaTagVersion2 = 0x161;

class WmaDecoder {
public:
    WmaDecoder();
    ~WmaDecoder();
    WmaDecoder(const WmaDecoder&) = delete;
    WmaDecoder& operator=(const WmaDecoder&) = delete;

    // False when the format is not one this decoder can decode (the reason
    // in LastError()).
    bool Open(const WmaStreamFormat& format);
    // One coded unit of blockAlign bytes. The first two frames after Open
    // are the encoder's priming and give no samples. Appends interleaved 16-bit samples
    // to `out`. False on a stream error (reason in LastError()); the decoder
    // may then be Reset() and fed the next unit.
    bool DecodeUnit(const uint8_t* data, size_t size, std::vector<int16_t>& out);
    // At the end of the stream: appends the last frameLength() samples per
    // channel, still held for overlap with a next frame. False when there
    // is nothing held (nothing decoded since Open or Reset, or already
    // flushed).
    bool Flush(std::vector<int16_t>& out);
    // Forgets the overlap and the bit reservoir (after a seek or lost packet).
    void Reset();
    const char* LastError() const;
    // Samples per channel per frame (after Open).
    uint32_t FrameLength() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace cz::wma
