// RIFF/WAVE bytes for tests: build a file chunk by chunk, or split a file
// (one made by sox or ffmpeg) into its "fmt " and "data" bodies and wrap
// patched bodies back into a file the tools can read.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "LittleEndian.h"

namespace cz::test {

class RiffBuilder {
public:
    explicit RiffBuilder(const char* form = "WAVE") : form_(form) {}

    RiffBuilder& Chunk(const char* id, const std::vector<uint8_t>& data, bool pad = true) {
        PutTag(body_, id);
        Put32(body_, static_cast<uint32_t>(data.size()));
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
        Put16(f, tag);
        Put16(f, channels);
        Put32(f, rate);
        Put32(f, rate * blockAlign);
        Put16(f, blockAlign);
        Put16(f, bits);
        return Chunk("fmt ", f);
    }
    // The RIFF size field is the body size + 4 unless given.
    std::vector<uint8_t> Bytes(int64_t riffSize = -1) const {
        std::vector<uint8_t> out;
        PutTag(out, "RIFF");
        Put32(out, riffSize < 0 ? static_cast<uint32_t>(body_.size() + 4) : static_cast<uint32_t>(riffSize));
        out.insert(out.end(), form_.begin(), form_.end());
        out.insert(out.end(), body_.begin(), body_.end());
        return out;
    }

    static void U16(std::vector<uint8_t>& v, uint16_t x) { Put16(v, x); }
    static void U32(std::vector<uint8_t>& v, uint32_t x) { Put32(v, x); }
    static std::vector<uint8_t> Pcm16(const std::vector<int16_t>& samples) { return WordBytes(samples); }

private:
    std::string form_;
    std::vector<uint8_t> body_;
};

struct WavChunks {
    std::vector<uint8_t> fmt;
    std::vector<uint8_t> data;
};

// The "fmt " and "data" bodies of a RIFF/WAVE file (a chunk cut by the end of
// the file keeps what is there); false when either is missing.
inline bool SplitWav(const std::vector<uint8_t>& file, WavChunks& out) {
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0)
        return false;
    bool haveFmt = false, haveData = false;
    for (size_t p = 12; p + 8 <= file.size();) {
        const uint32_t size = Le32(&file[p + 4]);
        const size_t start = p + 8;
        const size_t end = start + std::min<size_t>(size, file.size() - start);
        if (std::memcmp(&file[p], "fmt ", 4) == 0) {
            out.fmt.assign(file.begin() + start, file.begin() + end);
            haveFmt = true;
        } else if (std::memcmp(&file[p], "data", 4) == 0) {
            out.data.assign(file.begin() + start, file.begin() + end);
            haveData = true;
        }
        p = start + size + (size & 1);
    }
    return haveFmt && haveData;
}

// A RIFF/WAVE file of the two bodies.
inline std::vector<uint8_t> BuildWav(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data) {
    return RiffBuilder().Chunk("fmt ", fmt).Chunk("data", data).Bytes();
}

}  // namespace cz::test
