// Little-endian bytes for the tests: append to a byte vector, patch at an
// offset, read back. Needs only the standard library, so that programs built
// alone (tests/win32/host.cpp) can include it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cz::test {

inline void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
// The four characters of a chunk or block id.
inline void PutTag(std::vector<uint8_t>& v, const char* tag) { v.insert(v.end(), tag, tag + 4); }

inline void Put16At(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}
inline void Put32At(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }
inline uint16_t Le16At(const std::vector<uint8_t>& v, size_t at) { return Le16(&v[at]); }
inline uint32_t Le32At(const std::vector<uint8_t>& v, size_t at) { return Le32(&v[at]); }

// 16-bit words, little-endian, as the sample data of a sound or a file.
template <class Word>
std::vector<uint8_t> WordBytes(const std::vector<Word>& words) {
    std::vector<uint8_t> v;
    v.reserve(words.size() * 2);
    for (Word w : words) Put16(v, static_cast<uint16_t>(w));
    return v;
}
// Signed 16-bit samples from little-endian bytes (an odd last byte is left out).
inline std::vector<int16_t> Samples16(const std::vector<uint8_t>& raw) {
    std::vector<int16_t> samples(raw.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(Le16(&raw[2 * i]));
    return samples;
}

}  // namespace cz::test
