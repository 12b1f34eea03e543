// Minimal RIFF/WAVE handling for the ADPCM decoder tests: pull the "fmt " and
// "data" bodies out of a file made by sox or ffmpeg, and wrap patched bodies
// back into a file the tools can read.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace cz::test {

struct WavChunks {
    std::vector<uint8_t> fmt;
    std::vector<uint8_t> data;
};

inline uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline void PutLe16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}

inline void AppendLe32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

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

inline std::vector<uint8_t> BuildWav(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> file{'R', 'I', 'F', 'F'};
    const size_t fmtPadded = fmt.size() + (fmt.size() & 1);
    AppendLe32(file, static_cast<uint32_t>(4 + 8 + fmtPadded + 8 + data.size() + (data.size() & 1)));
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    AppendLe32(file, static_cast<uint32_t>(fmt.size()));
    file.insert(file.end(), fmt.begin(), fmt.end());
    if (fmt.size() & 1) file.push_back(0);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    AppendLe32(file, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());
    if (data.size() & 1) file.push_back(0);
    return file;
}

inline std::vector<int16_t> ToSamples(const std::vector<uint8_t>& raw) {
    std::vector<int16_t> samples(raw.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint16_t>(raw[2 * i] | (raw[2 * i + 1] << 8)));
    return samples;
}

}  // namespace cz::test
