// WAM files ("WADM", format 3): 12-bit mono speech as 4-bit chip ADPCM codes
// behind a 22-byte header (LegacyLayout.h). The codes are those of the APM
// coder (C_ADPCMEncDec with 12-bit samples and 64 steps), coded in the coding
// mode the sound's write parameters carry as codec parameter. Opened, the file
// is the sound its codes decode to, one sample per code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/legacy/LegacyLayout.h"
#include "formats/wpcm/C_SrcFile.h"

namespace cz {

class C_WamFile : public C_SrcFile {
public:
    static constexpr uint32_t kFormatId = kFormatWam;

    C_WamFile();
    ~C_WamFile() override;
    // Accepts the file only when its code, header size and length (22 +
    // codes / 2) agree, with an even, nonzero number of codes, one channel
    // and a usable rate.
    int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) override;
    // Decodes the codes into the sound.
    int32_t LoadSamples(uint32_t flag) override;
    int32_t LoadPlayedSound() override { return LoadSamples(0); }
    // Codes the sound (mono, 12-bit on a copy) and writes the file; a
    // failure leaves nothing under the path.
    int32_t Save(const char* path) override;
    std::string HeaderSummary() const override;

    const S_WamHeader& Header() const { return header_; }

private:
    S_WamHeader header_;
};

}  // namespace cz
