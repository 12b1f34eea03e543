// Builds RIFF/WAVE bytes in memory for tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace cz::test {

class RiffBuilder {
public:
    explicit RiffBuilder(const char* form = "WAVE") : form_(form) {}

    RiffBuilder& Chunk(const char* id, const std::vector<uint8_t>& data, bool pad = true) {
        Append(id, 4);
        U32(body_, static_cast<uint32_t>(data.size()));
        body_.insert(body_.end(), data.begin(), data.end());
        if (pad && (data.size() & 1)) body_.push_back(0);
        return *this;
    }
    RiffBuilder& Raw(const std::vector<uint8_t>& bytes) {
        body_.insert(body_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    RiffBuilder& Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t blockAlign = 0) {
        if (!blockAlign) blockAlign = static_cast<uint16_t>(channels * ((bits + 7) / 8));
        std::vector<uint8_t> f;
        U16(f, tag);
        U16(f, channels);
        U32(f, rate);
        U32(f, rate * blockAlign);
        U16(f, blockAlign);
        U16(f, bits);
        return Chunk("fmt ", f);
    }
    // The RIFF size field is the body size + 4 unless given.
    std::vector<uint8_t> Bytes(int64_t riffSize = -1) const {
        std::vector<uint8_t> out;
        out.insert(out.end(), {'R', 'I', 'F', 'F'});
        U32(out, riffSize < 0 ? static_cast<uint32_t>(body_.size() + 4) : static_cast<uint32_t>(riffSize));
        out.insert(out.end(), form_.begin(), form_.end());
        out.insert(out.end(), body_.begin(), body_.end());
        return out;
    }

    static void U16(std::vector<uint8_t>& v, uint16_t x) {
        v.push_back(static_cast<uint8_t>(x));
        v.push_back(static_cast<uint8_t>(x >> 8));
    }
    static void U32(std::vector<uint8_t>& v, uint32_t x) {
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    }
    static std::vector<uint8_t> Pcm16(const std::vector<int16_t>& samples) {
        std::vector<uint8_t> v;
        for (int16_t s : samples) U16(v, static_cast<uint16_t>(s));
        return v;
    }

private:
    void Append(const char* p, size_t n) { body_.insert(body_.end(), p, p + n); }
    std::string form_;
    std::vector<uint8_t> body_;
};

}  // namespace cz::test
