// A bounds-checked cursor over bytes: every read either succeeds in full or
// fails and leaves the cursor where it was. Little-endian unless named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace cz {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
    explicit ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}

    size_t Size() const { return size_; }
    size_t Position() const { return pos_; }
    size_t Remaining() const { return size_ - pos_; }
    bool AtEnd() const { return pos_ >= size_; }
    const uint8_t* Data() const { return data_; }

    bool Seek(size_t position) {
        if (position > size_) return false;
        pos_ = position;
        return true;
    }
    bool Skip(size_t count) {
        if (count > Remaining()) return false;
        pos_ += count;
        return true;
    }
    bool U8(uint8_t& out) {
        if (Remaining() < 1) return false;
        out = data_[pos_++];
        return true;
    }
    bool U16(uint16_t& out) {
        if (Remaining() < 2) return false;
        out = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool U32(uint32_t& out) {
        if (Remaining() < 4) return false;
        out = static_cast<uint32_t>(data_[pos_]) | (static_cast<uint32_t>(data_[pos_ + 1]) << 8) |
              (static_cast<uint32_t>(data_[pos_ + 2]) << 16) | (static_cast<uint32_t>(data_[pos_ + 3]) << 24);
        pos_ += 4;
        return true;
    }
    bool I16(int16_t& out) {
        uint16_t v = 0;
        if (!U16(v)) return false;
        out = static_cast<int16_t>(v);
        return true;
    }
    bool Bytes(void* out, size_t count) {
        if (count > Remaining()) return false;
        if (count) std::memcpy(out, data_ + pos_, count);
        pos_ += count;
        return true;
    }
    // A view of the next count bytes, consumed; none when they are not all there.
    const uint8_t* Take(size_t count) {
        if (count > Remaining()) return nullptr;
        const uint8_t* p = data_ + pos_;
        pos_ += count;
        return p;
    }
    bool FourCC(char out[4]) { return Bytes(out, 4); }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
};

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline void StoreU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint32_t FourCCValue(const char* code) { return LoadU32(reinterpret_cast<const uint8_t*>(code)); }

}  // namespace cz
