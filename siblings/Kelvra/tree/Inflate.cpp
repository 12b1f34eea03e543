#include "tree/Inflate.h"

#include <array>

namespace kelvra {

namespace {

// Bits come least significant first from each byte (RFC 1951, 3.1.1).
class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> in) : in_(in) {}
    bool Bits(int n, uint32_t& v) {
        while (count_ < n) {
            if (pos_ >= in_.size()) return false;
            buffer_ |= static_cast<uint32_t>(in_[pos_++]) << count_;
            count_ += 8;
        }
        v = buffer_ & ((1u << n) - 1u);
        buffer_ >>= n;
        count_ -= n;
        return true;
    }
    // Drops the rest of the current byte; fewer than 8 bits are ever held.
    void Align() {
        buffer_ = 0;
        count_ = 0;
    }
    bool Byte(uint8_t& b) {
        if (pos_ >= in_.size()) return false;
        b = in_[pos_++];
        return true;
    }

private:
    std::span<const uint8_t> in_;
    size_t pos_ = 0;
    uint32_t buffer_ = 0;
    int count_ = 0;
};

constexpr int kMaxBits = 15;

// A canonical Huffman code: how many codes of each length, and the symbols in
// code order.
struct Code {
    std::array<uint16_t, kMaxBits + 1> count{};
    std::array<uint16_t, 288> symbol{};
};

bool Build(Code& code, const uint8_t* lengths, int n) {
    code.count.fill(0);
    for (int i = 0; i < n; ++i) ++code.count[lengths[i]];
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
        left = left * 2 - code.count[len];
        if (left < 0) return false;  // more codes than the lengths allow
    }
    std::array<uint16_t, kMaxBits + 1> offset{};
    for (int len = 1; len < kMaxBits; ++len) offset[len + 1] = static_cast<uint16_t>(offset[len] + code.count[len]);
    for (int i = 0; i < n; ++i)
        if (lengths[i] != 0) code.symbol[offset[lengths[i]]++] = static_cast<uint16_t>(i);
    return true;
}

int Decode(BitReader& bits, const Code& code) {
    int value = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
        uint32_t bit = 0;
        if (!bits.Bits(1, bit)) return -1;
        value |= static_cast<int>(bit);
        const int count = code.count[len];
        if (value - first < count) return code.symbol[index + value - first];
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return -1;  // a code no symbol has
}

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

class Inflater {
public:
    Inflater(std::span<const uint8_t> in, size_t cap, std::vector<uint8_t>& out, std::string& error)
        : bits_(in), cap_(cap), out_(out), error_(error) {}

    bool Run() {
        uint32_t last = 0, type = 0;
        do {
            if (!bits_.Bits(1, last) || !bits_.Bits(2, type)) return Fail("deflate data ends early");
            bool ok = false;
            if (type == 0)
                ok = Stored();
            else if (type == 1)
                ok = Fixed();
            else if (type == 2)
                ok = Dynamic();
            else
                return Fail("deflate block of the reserved type");
            if (!ok) return false;
        } while (!last);
        bits_.Align();
        return true;
    }
    BitReader& Bits() { return bits_; }

private:
    bool Fail(const char* why) {
        error_ = why;
        return false;
    }
    bool Put(uint8_t b) {
        if (out_.size() >= cap_) return Fail("zlib data unpacks past its stated size");
        out_.push_back(b);
        return true;
    }
    bool Stored() {
        bits_.Align();
        uint8_t b[4];
        for (auto& x : b)
            if (!bits_.Byte(x)) return Fail("stored block ends early");
        const unsigned len = b[0] | b[1] << 8, nlen = b[2] | b[3] << 8;
        if (len != (~nlen & 0xFFFFu)) return Fail("stored block length does not match its complement");
        for (unsigned i = 0; i < len; ++i) {
            uint8_t x = 0;
            if (!bits_.Byte(x)) return Fail("stored block ends early");
            if (!Put(x)) return false;
        }
        return true;
    }
    bool Fixed() {
        uint8_t lengths[288 + 30];
        for (int i = 0; i < 144; ++i) lengths[i] = 8;
        for (int i = 144; i < 256; ++i) lengths[i] = 9;
        for (int i = 256; i < 280; ++i) lengths[i] = 7;
        for (int i = 280; i < 288; ++i) lengths[i] = 8;
        for (int i = 0; i < 30; ++i) lengths[288 + i] = 5;
        Code lit, dist;
        Build(lit, lengths, 288);
        Build(dist, lengths + 288, 30);
        return Codes(lit, dist);
    }
    bool Dynamic() {
        static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        uint32_t hlit = 0, hdist = 0, hclen = 0;
        if (!bits_.Bits(5, hlit) || !bits_.Bits(5, hdist) || !bits_.Bits(4, hclen))
            return Fail("deflate data ends early");
        hlit += 257;
        hdist += 1;
        hclen += 4;
        if (hlit > 286 || hdist > 30) return Fail("too many deflate codes");
        uint8_t lengths[286 + 30] = {};
        uint8_t codeLengths[19] = {};
        for (uint32_t i = 0; i < hclen; ++i) {
            uint32_t v = 0;
            if (!bits_.Bits(3, v)) return Fail("deflate data ends early");
            codeLengths[kOrder[i]] = static_cast<uint8_t>(v);
        }
        Code lengthCode;
        if (!Build(lengthCode, codeLengths, 19)) return Fail("bad code-length code");
        uint32_t i = 0;
        while (i < hlit + hdist) {
            const int sym = Decode(bits_, lengthCode);
            if (sym < 0) return Fail("bad code length");
            if (sym < 16) {
                lengths[i++] = static_cast<uint8_t>(sym);
                continue;
            }
            uint32_t repeat = 0, extra = 0;
            uint8_t value = 0;
            if (sym == 16) {
                if (i == 0) return Fail("repeat with no length before it");
                value = lengths[i - 1];
                if (!bits_.Bits(2, extra)) return Fail("deflate data ends early");
                repeat = 3 + extra;
            } else if (sym == 17) {
                if (!bits_.Bits(3, extra)) return Fail("deflate data ends early");
                repeat = 3 + extra;
            } else {
                if (!bits_.Bits(7, extra)) return Fail("deflate data ends early");
                repeat = 11 + extra;
            }
            if (repeat > hlit + hdist - i) return Fail("code lengths run past their count");
            while (repeat--) lengths[i++] = value;
        }
        if (lengths[256] == 0) return Fail("no end-of-block code");
        Code lit, dist;
        if (!Build(lit, lengths, static_cast<int>(hlit)) || !Build(dist, lengths + hlit, static_cast<int>(hdist)))
            return Fail("bad deflate code lengths");
        return Codes(lit, dist);
    }
    bool Codes(const Code& lit, const Code& dist) {
        for (;;) {
            int sym = Decode(bits_, lit);
            if (sym < 0) return Fail("bad literal or length code");
            if (sym < 256) {
                if (!Put(static_cast<uint8_t>(sym))) return false;
                continue;
            }
            if (sym == 256) return true;
            sym -= 257;
            if (sym >= 29) return Fail("bad length code");
            uint32_t extra = 0;
            if (!bits_.Bits(kLengthExtra[sym], extra)) return Fail("deflate data ends early");
            const uint32_t length = kLengthBase[sym] + extra;
            const int dsym = Decode(bits_, dist);
            if (dsym < 0 || dsym >= 30) return Fail("bad distance code");
            if (!bits_.Bits(kDistExtra[dsym], extra)) return Fail("deflate data ends early");
            const size_t distance = kDistBase[dsym] + extra;
            if (distance > out_.size()) return Fail("distance back past the start of the data");
            for (uint32_t k = 0; k < length; ++k)
                if (!Put(out_[out_.size() - distance])) return false;
        }
    }

    BitReader bits_;
    size_t cap_;
    std::vector<uint8_t>& out_;
    std::string& error_;
};

}  // namespace

bool InflateZlib(std::span<const uint8_t> in, size_t expected, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    if (in.size() < 6) return error = "zlib stream too short", false;
    const unsigned cmf = in[0], flg = in[1];
    if ((cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (cmf * 256 + flg) % 31 != 0)
        return error = "not a zlib deflate stream", false;
    if (flg & 0x20) return error = "zlib stream needs a preset dictionary", false;
    out.reserve(expected);
    Inflater inflater(in.subspan(2), expected, out, error);
    if (!inflater.Run()) return false;
    if (out.size() != expected) return error = "zlib data does not unpack to its stated size", false;
    uint32_t sum = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t b = 0;
        if (!inflater.Bits().Byte(b)) return error = "zlib stream ends before its check sum", false;
        sum = sum << 8 | b;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t x : out) {
        a = (a + x) % 65521u;
        b = (b + a) % 65521u;
    }
    if (sum != (b << 16 | a)) return error = "zlib check sum does not match", false;
    return true;
}

}  // namespace kelvra
