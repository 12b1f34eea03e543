// Bit reader over a buffer that stays readable for at least four bytes past
// the last bit it may be asked for; callers check the position against their
// own limit after each code word.
#pragma once

#include <cstdint>

namespace cz::mp3 {

class Mp3BitReader {
public:
    Mp3BitReader(const uint8_t* data, uint32_t bitPosition) : data_(data), position_(bitPosition) {}

    // The next n bits (1..25) without consuming them.
    uint32_t Peek(uint32_t n) const {
        const uint8_t* p = data_ + (position_ >> 3);
        uint32_t word = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        return (word << (position_ & 7)) >> (32 - n);
    }
    void Skip(uint32_t n) { position_ += n; }
    // n bits (0..25).
    uint32_t Get(uint32_t n) {
        if (n == 0) {
            return 0;
        }
        uint32_t value = Peek(n);
        position_ += n;
        return value;
    }
    uint32_t Position() const { return position_; }
    void SetPosition(uint32_t position) { position_ = position; }

private:
    const uint8_t* data_;
    uint32_t position_;
};

}  // namespace cz::mp3
