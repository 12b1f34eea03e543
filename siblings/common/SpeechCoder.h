// The lossy speech coder the codec-library stand-ins share (Quorbe, Strunel,
// Dantro, Miskel, Vorrik): block-adaptive differential PCM, optionally on a
// decimated signal, at a fixed number of bits per coded sample.
//
// Coded file (little-endian):
//   0  "CZSC"
//   4  u32 sample count (the samples the decoder gives back)
//   8  u8  bits per coded sample (1..8)
//   9  u8  decimation d (1..8): one coded sample stands for d input samples
//  10  u16 block length B in coded samples (1..4096)
//  12  u32 sample rate (0 when not known)
//  16  blocks of B coded samples (the last may be shorter):
//        u8 step index (0..79), then ceil(n x bits / 8) bytes of codes,
//        packed least significant bit first.
// Coded samples: the mean of each group of d input samples. A code c (signed,
// -2^(bits-1) .. 2^(bits-1) - 1) adds (2c + 1) x step / 2 to the previous
// reconstruction (0 before the first block), clamped to 16 bits; step =
// StepOf(index), about 12 % apart. The decoder spreads coded samples back
// to d samples each by linear interpolation between group centres.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cz::sibling {

struct S_CoderSettings {
    uint32_t bits = 4;
    uint32_t decimation = 1;
    uint32_t block = 160;
    uint32_t rate = 0;
};

inline constexpr size_t kCodedHeaderSize = 16;
int32_t StepOf(uint32_t index);

// Codes samples into the bytes of a coded file.
std::vector<uint8_t> EncodeSpeech(std::span<const int16_t> samples, const S_CoderSettings& settings);
// Decodes a coded file; false for anything malformed. out gets the file's
// sample count.
bool DecodeSpeech(std::span<const uint8_t> coded, std::vector<int16_t>& out);
// Bits and decimation whose bit rate at sampleRate is nearest bitRate.
S_CoderSettings SettingsForBitRate(uint32_t sampleRate, uint32_t bitRate, uint32_t block);
// Reads a 16-bit mono PCM WAV file (rate and samples); false otherwise.
bool ReadPcmWav(const std::string& path, uint32_t* rate, std::vector<int16_t>& samples);
// Decodes a coded file into out (exactly capacity samples): false when the
// file is unreadable or malformed or holds fewer samples than capacity.
bool DecodeFileInto(const char* path, int16_t* out, int32_t capacity);

}  // namespace cz::sibling
