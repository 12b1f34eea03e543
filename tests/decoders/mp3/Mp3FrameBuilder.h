// Builds Layer III frames bit by bit for tests that need exact control of the
// header, side information and main data.
#pragma once

#include <cstdint>
#include <vector>

namespace cz::mp3::test {

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (bitCount_ % 8 == 0) {
                bytes_.push_back(0);
            }
            if ((value >> i) & 1) {
                bytes_.back() |= uint8_t(0x80 >> (bitCount_ % 8));
            }
            ++bitCount_;
        }
    }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    size_t BitCount() const { return bitCount_; }
    // Appends the bits of another writer.
    void Append(const BitWriter& other) {
        for (size_t i = 0; i < other.bitCount_; ++i) {
            Put((other.bytes_[i / 8] >> (7 - i % 8)) & 1, 1);
        }
    }

private:
    std::vector<uint8_t> bytes_;
    size_t bitCount_ = 0;
};

struct GranuleFields {
    uint32_t part23Length = 0;
    uint32_t bigValues = 0;
    uint32_t globalGain = 0;
    uint32_t tableSelect0 = 0;
};

// An MPEG-1 Layer III frame at 44100 Hz: bitrateIndex 0 makes a free-format
// header and then frameBytes gives the length. Side information from the
// given fields (same for every granule and channel), main data filled with
// fill bytes.
inline std::vector<uint8_t> BuildFrame(int bitrateIndex, bool mono, uint32_t mainDataBegin, const GranuleFields& g = {},
                                       uint8_t fill = 0, int frameBytes = 0, uint8_t versionBits = 3) {
    std::vector<uint8_t> frame = {0xFF, uint8_t(0xE0 | (versionBits << 3) | (1 << 1) | 1), uint8_t(bitrateIndex << 4),
                                  uint8_t(mono ? 0xC0 : 0x00)};
    const int channels = mono ? 1 : 2;
    BitWriter w;
    w.Put(mainDataBegin, 9);
    w.Put(0, mono ? 5 : 3);
    w.Put(0, 4 * channels);
    for (int gr = 0; gr < 2; ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            w.Put(g.part23Length, 12);
            w.Put(g.bigValues, 9);
            w.Put(g.globalGain, 8);
            w.Put(0, 4);  // scalefac_compress
            w.Put(0, 1);  // no window switching
            w.Put(g.tableSelect0, 5);
            w.Put(0, 5);
            w.Put(0, 5);
            w.Put(15, 4);  // region0_count: region 0 covers the big values
            w.Put(7, 3);
            w.Put(0, 3);  // preflag, scalefac_scale, count1 table
        }
    }
    frame.insert(frame.end(), w.Bytes().begin(), w.Bytes().end());
    static constexpr int kKbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    const int total = bitrateIndex != 0 ? 144000 * kKbps[bitrateIndex] / 44100 : frameBytes;
    frame.resize(size_t(total), fill);
    return frame;
}

inline std::vector<uint8_t> Repeat(const std::vector<uint8_t>& frame, int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

}  // namespace cz::mp3::test
