// WMD files ("WMDM", format 4) and their Q310 form ("WMD5", format 7): 12-bit
// mono speech as MDPCM frames of 5-bit differences packed in 16-bit words
// behind a 24-byte header (LegacyLayout.h). The frames are those of the MDPCM
// coder with the header alias on, first samples kept whole, long frames of 63
// and short frames of 15 samples and the start value 2047.
//
// Opening walks the frames from the header's first code to the end code and
// counts their samples; the frame data must hold every frame it announces.
// Loading decodes them: the sound holds every sample of the frames, the
// padding of the last frames included.
//
// The writer plans and codes the sound with that coder (padding toward
// mid-scale), and writes one channel, the rate as given (never 0), the
// cut-off, and the frame data with nothing after it.
//
// The Q310 chip plays a decoded value above 2047 raised by 16 (at most 4095).
// Its writer codes each sample where that raise brings it back: a sample
// from 2064 up is coded 16 lower, one of 2048 ... 2063 as whichever of 2047
// and 2048 plays nearer to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/legacy/LegacyLayout.h"
#include "formats/wpcm/C_SrcFile.h"

namespace cz {

class C_WmdFile : public C_SrcFile {
public:
    static constexpr uint32_t kFormatId = kFormatWmd;

    C_WmdFile();
    ~C_WmdFile() override;
    int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) override;
    // Decodes the frames into the sound.
    int32_t LoadSamples(uint32_t flag) override;
    int32_t LoadPlayedSound() override { return LoadSamples(0); }
    // Codes the sound (mono, 12-bit on a copy) and writes the file; a
    // failure leaves nothing under the path.
    int32_t Save(const char* path) override;
    std::string HeaderSummary() const override;

    const S_WmdHeader& Header() const { return header_; }
    // The rate the file plays at (the rate field, 6000 for 0).
    uint32_t PlayRate() const { return header_.rate == 0 ? kWmdDefaultRate : header_.rate; }
    uint64_t FrameCount() const { return walk_.frames; }

    // The chip's value for a decoded sample (unchanged here).
    virtual uint16_t PlayedValue(uint16_t decoded) const { return decoded; }
    // The value the writer codes for a sample, so that the chip plays it back.
    virtual uint16_t CodedValue(uint16_t sample) const { return sample; }

protected:
    C_WmdFile(const char* code, uint32_t formatType);

private:
    char code_[4];
    uint32_t formatType_;
    S_WmdHeader header_;
    S_WmdWalk walk_;
};

class C_Q310WmdFile : public C_WmdFile {
public:
    static constexpr uint32_t kFormatId = kFormatQ310Wmd;

    C_Q310WmdFile();
    uint16_t PlayedValue(uint16_t decoded) const override;
    uint16_t CodedValue(uint16_t sample) const override;
};

}  // namespace cz
