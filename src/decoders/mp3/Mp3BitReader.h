// Bit reader over a buffer that stays readable for at least eight bytes past
// the last bit it may be asked for; callers check the position against their
// own limit after each code word.
#pragma once

#include <cstdint>
#include <cstring>

namespace cz::mp3 {

class Mp3BitReader {
public:
    Mp3BitReader(const uint8_t* data, uint32_t bitPosition) : data_(data), position_(bitPosition) {}

    // The next n bits (1..25) without consuming them.
    uint32_t Peek(uint32_t n) const {
        uint64_t word;
        std::memcpy(&word, data_ + (position_ >> 3), sizeof word);
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        word = __builtin_bswap64(word);
#else
        const uint8_t* p = data_ + (position_ >> 3);
        word = 0;
        for (int i = 0; i < 8; ++i) {
            word = (word << 8) | p[i];
        }
#endif
        return uint32_t((word << (position_ & 7)) >> (64 - n));
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
    // The 64 bits from bit position on, first bit highest; at least the 57
    // highest are the buffer's.
    static uint64_t Window(const uint8_t* data, uint32_t position) {
        uint64_t word;
        std::memcpy(&word, data + (position >> 3), sizeof word);
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        word = __builtin_bswap64(word);
#else
        const uint8_t* p = data + (position >> 3);
        word = 0;
        for (int i = 0; i < 8; ++i) {
            word = (word << 8) | p[i];
        }
#endif
        return word << (position & 7);
    }
    const uint8_t* Data() const { return data_; }
    void SetPosition(uint32_t position) { position_ = position; }

private:
    const uint8_t* data_;
    uint32_t position_;
};

}  // namespace cz::mp3
