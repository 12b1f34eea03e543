// Appends little-endian values to a growing byte buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace cz {

class ByteWriter {
public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16(uint16_t v) {
        bytes_.push_back(static_cast<uint8_t>(v));
        bytes_.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void Bytes(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    void FourCC(std::string_view code) { Bytes(code.data(), 4); }
    void Zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void PatchU32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    }
    void PatchU16(size_t at, uint16_t v) {
        bytes_[at] = static_cast<uint8_t>(v);
        bytes_[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    size_t Size() const { return bytes_.size(); }
    std::vector<uint8_t>& Data() { return bytes_; }
    const std::vector<uint8_t>& Data() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace cz
