// The 12-bit PCM speech source file ("WPCM") and the base of the chip speech
// formats. Opened, it is a sound of 12-bit offset-binary samples in 16-bit
// words, mono; saved, it writes its 22-byte header and the sample words.
//
// Layout (little-endian, packed):
//   0  "WPCM"            4  u16 version (1)     6  u16 header size (22)
//   8  u16 channels (1)  10 u16 bits (12)       12 u16 format: 4, 0x84 scrambled
//   14 u16 sample rate   16 u16 cut-off         18 u32 sample count
//   22 count words
// A file is accepted only when its length is exactly 22 + 2 x count bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wave/C_WavFile.h"

namespace cz {

class C_SrcFile : public C_WavFile {
public:
    static constexpr uint32_t kHeaderSize = 22;
    static constexpr uint16_t kFormatPlain = 4;
    static constexpr uint16_t kFormatScrambled = 0x84;
    static constexpr uint32_t kTypePlain = kFormatSrc;
    static constexpr uint32_t kTypeScrambled = kFormatEnSrc;

    C_SrcFile();
    ~C_SrcFile() override;
    // Checks the header; *outFlags (when given) receives 1 for a scrambled
    // file and 0 otherwise. With loadFlag, attaches the sound's format.
    int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) override;
    // Reads the sample words at the data offset (unscrambled for type 13).
    int32_t LoadSamples(uint32_t flag) override;
    // Writes the header and the sound's samples in chip form. The sound is
    // never changed: conversion, mixdown and scrambling work on copies.
    int32_t Save(const char* path) override;
    // True for the scrambled variant (type 13), whose sample words are
    // stored scrambled.
    virtual bool IsScrambled() const { return false; }
    // A few "name: value" lines describing the header as read, for tools.
    virtual std::string HeaderSummary() const;

    // (rate / 2) x 0.85, truncated.
    static uint16_t CutOffFrequency(uint32_t rate);
    static uint8_t ScrambleByte(uint8_t b) { return static_cast<uint8_t>(7u * b + 3u); }
    static uint8_t UnscrambleByte(uint8_t b);
    // The 22-byte header for rate and count (format 0x84 when scrambled).
    static std::vector<uint8_t> BuildSourceHeader(uint16_t version, uint16_t rate, uint32_t count, bool scrambled);
    // The sound in chip form: one channel (the channels averaged) of
    // validBits-bit offset-binary values in 16-bit words, made sample by
    // sample without a copy of the sound. The sound is not changed, except
    // one held only for its save (C_WavData::HoldSamplesForOneSave), whose
    // block becomes the words. False when the sound has no samples or
    // cannot be converted.
    static bool ChipSampleWords(C_WavData& sound, std::vector<uint16_t>& words, uint16_t validBits = 12);
    // Writes bytes to path through a temporary file put in place at the end:
    // a failed write leaves path as it was.
    static bool WriteNewFile(const char* path, const std::vector<uint8_t>& bytes);

protected:
    // Header fields as read.
    struct S_SourceHeader {
        uint16_t version = 0;
        uint16_t headerSize = 0;
        uint16_t channels = 0;
        uint16_t bits = 0;
        uint16_t format = 0;
        uint16_t rate = 0;
        uint16_t cutOff = 0;
        uint32_t count = 0;
    };
    const S_SourceHeader& SourceHeader() const { return header_; }
    // Reads count words at the data offset into the sound (which must have
    // its format set); unscrambles when asked.
    int32_t LoadSampleWords(uint32_t count, bool unscramble);

private:
    S_SourceHeader header_;
};

}  // namespace cz
