// SBD (format 28, codes "WSBD" and "OSBC") and ESB (37, "WESB"): the CLP
// line with bit-rate-driven coders that read a WAV file: Miskel.dll
// (EncodeByBitRate, Decode) and Vorrik.dll (ESB_Encode, ESB_Decode). A
// voice segment (padded to whole frames: 1024 samples for SBD, 128 for ESB)
// is written as a 16-bit mono WAV file in the save's private folder and
// coded into the coded file's name with ".fpt" appended.
//
// Codec parameter: SBD bits 0-15 the bit rate, bit 16 a flag; ESB bits 0-15
// the bit rate / 100, bits 16-30 the quality, bit 31 the flag. A bit rate
// of 0 means 16000 bit/s.
#pragma once

#include "formats/ext/C_MclpFile.h"

namespace cz {

class C_SbdFile : public C_WlpcFile {
public:
    static constexpr uint32_t kFormatId = kFormatSbd;
    static constexpr uint32_t kDefaultBitRate = 16000;
    C_SbdFile();
    ~C_SbdFile() override;

    bool EncodeToFile(const int16_t* samples, uint32_t count, uint32_t mode, const std::string& codedPath) override;
    bool DecodeFromFile(const std::string& codedPath, uint32_t mode, int16_t* out, uint32_t count) override;
    std::string CodedFileOf(const std::string& codedPath) const override { return codedPath + ".fpt"; }
    std::string CannotSaveReason() const override { return {}; }
    // Warns (owner window set only) when the achieved bit rate differs from
    // the requested one, then writes the end mark.
    bool WriteEndMark(C_MpmFrameOutput& out) override;

    // The bit rate asked for, in bits per second.
    virtual uint32_t RequestedBitRate() const;
    const char* GetCodecLibraryName() const override { return "Miskel.dll"; }
    const char* GetEncodeEntryName() const override { return "EncodeByBitRate"; }
    const char* GetDecodeEntryName() const override { return "Decode"; }

    // The text of the bit-rate warning (requested and actual in bit/s).
    static std::string BitRateWarning(double requested, const std::string& path, double actual);

protected:
    C_SbdFile(const char* code, const char* secondCode, uint32_t formatId, uint32_t frameSize);
    // Runs the library's encoder on wavPath into codedPath.
    virtual bool RunEncoder(const std::string& wavPath, const std::string& codedPath);
    // Writes samples as a 16-bit mono WAV file at the sound's rate.
    bool WriteTemporaryWav(const std::string& path, const int16_t* samples, uint32_t count);
};

class C_EsbFile : public C_SbdFile {
public:
    static constexpr uint32_t kFormatId = kFormatEsb;
    C_EsbFile() : C_SbdFile("WESB", "WESB", kFormatEsb, 128) { SetLargestSilenceRun(0x3FFC); }

    uint32_t RequestedBitRate() const override;
    uint32_t Quality() const { return (CodecParam() >> 16) & 0x7FFF; }
    bool Flag() const { return (CodecParam() >> 31) != 0; }
    const char* GetCodecLibraryName() const override { return "Vorrik.dll"; }
    const char* GetEncodeEntryName() const override { return "ESB_Encode"; }
    const char* GetDecodeEntryName() const override { return "ESB_Decode"; }

protected:
    bool RunEncoder(const std::string& wavPath, const std::string& codedPath) override;
};

}  // namespace cz
