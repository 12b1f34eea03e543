// A cursor over a memory block owned by the caller. It reads and writes
// 4-bit nibbles, bytes and 16-bit little-endian words, and never steps past
// the end of the block: an operation that would fails and leaves the cursor
// where it was.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cz {

class C_Buffer {
public:
    C_Buffer() = default;
    // A read-only cursor; the write operations fail on it.
    C_Buffer(const uint8_t* block, size_t size) : block_(block), size_(block ? size : 0) {}
    // A cursor that may also write into the block.
    C_Buffer(uint8_t* block, size_t size) : block_(block), writable_(block), size_(block ? size : 0) {}

    size_t Size() const { return size_; }
    size_t Position() const { return position_; }
    // Whole bytes not yet touched; a byte whose first nibble was taken counts
    // as used.
    size_t Remaining() const { return size_ - position_ - (phase_ ? 1 : 0); }

    // Nibbles, high half of each byte first (the Microsoft ADPCM order).
    bool ReadNibbleHighFirst(uint8_t& value) {
        if (position_ >= size_) return false;
        const uint8_t byte = block_[position_];
        if (phase_ == 0) {
            value = byte >> 4;
            phase_ = 1;
        } else {
            value = byte & 0x0F;
            phase_ = 0;
            ++position_;
        }
        return true;
    }

    // Nibbles, low half of each byte first (the IMA ADPCM order).
    bool ReadNibbleLowFirst(uint8_t& value) {
        if (position_ >= size_) return false;
        const uint8_t byte = block_[position_];
        if (phase_ == 0) {
            value = byte & 0x0F;
            phase_ = 1;
        } else {
            value = byte >> 4;
            phase_ = 0;
            ++position_;
        }
        return true;
    }

    // Byte and word reads start at the next whole byte: a half-read byte is
    // left behind.
    bool ReadByte(uint8_t& value) {
        AlignToByte();
        if (position_ >= size_) return false;
        value = block_[position_++];
        return true;
    }

    bool ReadWord(int16_t& value) {
        AlignToByte();
        if (size_ - position_ < 2) return false;
        value = static_cast<int16_t>(static_cast<uint16_t>(block_[position_] | (block_[position_ + 1] << 8)));
        position_ += 2;
        return true;
    }

    // The next count bytes in one piece, for loops that unpack them without a
    // check per nibble; none (and no move) when fewer remain.
    const uint8_t* Take(size_t count) {
        AlignToByte();
        if (size_ - position_ < count) return nullptr;
        const uint8_t* bytes = block_ + position_;
        position_ += count;
        return bytes;
    }

    bool Skip(size_t count) {
        AlignToByte();
        if (size_ - position_ < count) return false;
        position_ += count;
        return true;
    }

    bool WriteNibbleHighFirst(uint8_t value) { return WriteNibble(value, phase_ == 0 ? 4 : 0); }
    bool WriteNibbleLowFirst(uint8_t value) { return WriteNibble(value, phase_ == 0 ? 0 : 4); }

    bool WriteByte(uint8_t value) {
        AlignToByte();
        if (!writable_ || position_ >= size_) return false;
        writable_[position_++] = value;
        return true;
    }

    bool WriteWord(int16_t value) {
        AlignToByte();
        if (!writable_ || size_ - position_ < 2) return false;
        const auto bits = static_cast<uint16_t>(value);
        writable_[position_] = static_cast<uint8_t>(bits & 0xFF);
        writable_[position_ + 1] = static_cast<uint8_t>(bits >> 8);
        position_ += 2;
        return true;
    }

private:
    void AlignToByte() {
        if (phase_) {
            phase_ = 0;
            ++position_;
        }
    }

    bool WriteNibble(uint8_t value, int shift) {
        if (!writable_ || position_ >= size_) return false;
        uint8_t& byte = writable_[position_];
        byte = static_cast<uint8_t>((byte & ~(0x0F << shift)) | ((value & 0x0F) << shift));
        if (phase_ == 0) {
            phase_ = 1;
        } else {
            phase_ = 0;
            ++position_;
        }
        return true;
    }

    const uint8_t* block_ = nullptr;
    uint8_t* writable_ = nullptr;
    size_t size_ = 0;
    size_t position_ = 0;
    uint8_t phase_ = 0;  // 1 once the first nibble of the current byte is taken
};

}  // namespace cz
