// ID3v2 tag skipping: versions 2.3 and 2.4 by walking their frames, other
// versions by the size in the tag header.
#include "decoders/mp3/C_Id3v2TagSkipper.h"

namespace cz::mp3 {
namespace {

constexpr int32_t kHeaderBytes = 10;

int64_t SyncSafe(const uint8_t* p) {
    return (int64_t(p[0] & 0x7F) << 21) | (int64_t(p[1] & 0x7F) << 14) | (int64_t(p[2] & 0x7F) << 7) |
           int64_t(p[3] & 0x7F);
}

int64_t BigEndian32(const uint8_t* p) {
    return (int64_t(p[0]) << 24) | (int64_t(p[1]) << 16) | (int64_t(p[2]) << 8) | int64_t(p[3]);
}

}  // namespace

int32_t C_Id3v2TagSkipper::Skip(I_Mp3ReadWindow& window) const {
    const uint8_t* p = window.ReadPosition();
    const int32_t left = window.BytesLeft();
    if (left < 3 || p[0] != 'I' || p[1] != 'D' || p[2] != '3') {
        return 0;
    }
    if (left < kHeaderBytes) {
        return 0;
    }
    if ((p[6] | p[7] | p[8] | p[9]) & 0x80) {
        return 3;
    }
    const int64_t length = kHeaderBytes + SyncSafe(p + 6);
    const bool v3 = p[3] == 3 && p[4] == 0;
    const bool v4 = p[3] == 4 && p[4] == 0;
    if (!v3 && !v4) {
        return SkipWhole(window, length);
    }
    return WalkFrames(window, length, v4);
}

int32_t C_Id3v2TagSkipper::SkipWhole(I_Mp3ReadWindow& window, int64_t length) const {
    int64_t remaining = length;
    while (remaining >= window.BytesLeft()) {
        const int32_t available = window.BytesLeft();
        remaining -= available;
        window.Consume(available);
        window.Refill();
        if (window.BytesLeft() == 0) {
            return 0;  // the input ends inside the tag
        }
    }
    return int32_t(remaining);
}

int32_t C_Id3v2TagSkipper::WalkFrames(I_Mp3ReadWindow& window, int64_t length, bool version4) const {
    int64_t tagOffset = kHeaderBytes;  // bytes of the tag passed so far
    int32_t position = kHeaderBytes;   // the same place, as an offset in the window
    while (tagOffset < length) {
        if (position + kHeaderBytes > window.BytesLeft()) {
            window.Consume(position);
            position = 0;
            window.Refill();
            if (window.BytesLeft() < kHeaderBytes) {
                return 0;
            }
        }
        const uint8_t* frame = window.ReadPosition() + position;
        const int64_t size = version4 ? SyncSafe(frame + 4) : BigEndian32(frame + 4);
        int64_t frameEnd = tagOffset + kHeaderBytes + size;
        if (frameEnd > length) {
            frameEnd = length;
        }
        int64_t advance = frameEnd - tagOffset;
        while (position + advance > window.BytesLeft()) {
            advance -= window.BytesLeft() - position;
            window.Consume(window.BytesLeft());
            position = 0;
            window.Refill();
            if (window.BytesLeft() == 0) {
                return 0;
            }
        }
        position += int32_t(advance);
        tagOffset = frameEnd;
    }
    return position;
}

}  // namespace cz::mp3
