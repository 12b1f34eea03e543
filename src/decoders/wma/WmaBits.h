// Bit reading and Huffman decoding for the WMA frame decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace cz::wma {

// Most significant bit first. The buffer must hold at least 8 readable
// bytes past limitBits / 8; reads past limitBits give zeros and are seen
// through Overrun().
class BitReader {
public:
    static uint64_t ToBigEndian(uint64_t v) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        return __builtin_bswap64(v);
#else
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&v);
        return (uint64_t(b[0]) << 56) | (uint64_t(b[1]) << 48) | (uint64_t(b[2]) << 40) | (uint64_t(b[3]) << 32) |
               (uint64_t(b[4]) << 24) | (uint64_t(b[5]) << 16) | (uint64_t(b[6]) << 8) | uint64_t(b[7]);
#endif
    }
    BitReader() = default;
    BitReader(const uint8_t* data, size_t limitBits, size_t startBit = 0)
        : data_(data), limit_(limitBits), pos_(startBit) {}

    uint32_t Peek(int count) const {  // count 1 .. 32
        if (pos_ >= limit_) {
            return 0;
        }
        uint64_t word;
        std::memcpy(&word, data_ + (pos_ >> 3), 8);
        word = ToBigEndian(word);
        return uint32_t((word << (pos_ & 7)) >> (64 - count));
    }
    void Skip(int count) { pos_ += size_t(count); }
    uint32_t Read(int count) {
        if (count == 0) {
            return 0;
        }
        const uint32_t v = Peek(count);
        pos_ += size_t(count);
        return v;
    }
    uint32_t Bit() { return Read(1); }
    void Align() { pos_ = (pos_ + 7) & ~size_t(7); }
    size_t Position() const { return pos_; }
    size_t Limit() const { return limit_; }
    const uint8_t* Data() const { return data_; }
    size_t Left() const { return pos_ < limit_ ? limit_ - pos_ : 0; }
    bool Overrun() const { return pos_ > limit_; }

private:
    const uint8_t* data_ = nullptr;
    size_t limit_ = 0;
    size_t pos_ = 0;
};

// Table-driven decoder of one prefix code: a first-level table indexed by
// the next rootBits bits, with sub-tables for longer codes.
class Vlc {
public:
    // False when the code is not a prefix code (two codes collide).
    bool Build(int count, const uint32_t* codes, const uint8_t* lengths, int rootBits);
    bool Build(int count, const uint16_t* codes, const uint8_t* lengths, int rootBits);
    // The symbol, or -1 when the bits start no code.
    int Decode(BitReader& reader) const {
        int bits = rootBits_;
        size_t base = 0;
        for (;;) {
            const Entry e = table_[base + reader.Peek(bits)];
            if (e.length > 0) {
                reader.Skip(e.length);
                return e.symbol;
            }
            if (e.length == 0) {
                return -1;
            }
            reader.Skip(bits);
            base = size_t(e.symbol);
            bits = -e.length;
        }
    }

    // The symbol whose code starts the left-aligned window (codes of up to
    // 25 bits), its length in `length`; -1 when the bits start no code.
    int DecodeWindow(uint32_t window, int& length) const {
        int bits = rootBits_;
        int used = 0;
        size_t base = 0;
        for (;;) {
            const Entry e = table_[base + ((window << used) >> (32 - bits))];
            if (e.length > 0) {
                length = used + e.length;
                return e.symbol;
            }
            if (e.length == 0 || used + bits - e.length > 32) {
                return -1;
            }
            used += bits;
            base = size_t(e.symbol);
            bits = -e.length;
        }
    }

private:
    struct Entry {
        int32_t symbol = 0;  // symbol, or start of the sub-table
        int32_t length = 0;  // > 0 bits of a code, < 0 bits of a sub-table, 0 no code
    };
    bool Fill(size_t base, int bits, int consumed, const std::vector<int>& symbols);
    std::vector<Entry> table_;
    std::vector<uint32_t> codes_;
    std::vector<uint8_t> lengths_;
    int rootBits_ = 0;
};

}  // namespace cz::wma
