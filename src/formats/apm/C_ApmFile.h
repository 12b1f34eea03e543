// The ADPCM speech file ("WAPM"): 12-bit mono PCM coded to 4-bit chip ADPCM,
// stored with its decoded reconstruction, the coder's step-index trace and the
// source samples, plus optional silence and action-event tables. The bytes
// are drawn and parsed in ApmLayout.h.
//
// Coder id. Both the classic and the "new" APM class write the code "WAPM"
// with the same layout, but their code streams need different decoders. The
// field at header offset 20 (always 0 in files of the classic coder) names
// the coder: C_ApmFile reads only files with 0 there, C_NewApmFile only files
// with 1 (or the "WNAP" code), so whichever the factory tries first, each
// file opens with the class that wrote it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "formats/apm/ApmLayout.h"
#include "formats/wpcm/C_SrcFile.h"

namespace cz {

class C_ApmFile : public C_SrcFile {
public:
    static constexpr uint16_t kDefaultSilenceLevel = 1;
    static constexpr uint16_t kDefaultSilenceMs = 64;

    C_ApmFile();
    ~C_ApmFile() override;
    // Checks the header and that every section lies where the layout puts it
    // and inside the file; with loadFlag, attaches a sound for the source
    // samples.
    int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) override;
    // flag 0: the decoded code section; otherwise the source samples. Then
    // the silence and event tables when the file has them.
    int32_t LoadSamples(uint32_t flag) override;
    // The codes decoded: what the chip plays.
    int32_t LoadPlayedSound() override { return LoadSamples(0); }
    // Codes the sound (mixed to mono on a copy) and writes the file. A sound
    // that cannot be coded fails before the file is created; a failed write
    // removes the partial file.
    int32_t Save(const char* path) override;

    // What the variants of the family change: the coder, the bytes its codes
    // take, the sample form it codes and how the codes are decoded.
    virtual std::unique_ptr<C_ADPCMEncDec> CreateCoder() const;
    virtual uint32_t CodeBytes(uint32_t codeCount) const;
    // The sound in coder form (one channel, sample width bits offset-binary).
    virtual bool PrepareSamples(C_WavData& sound, std::vector<uint16_t>& words) const;
    // Reads the code section and decodes it into the sound.
    virtual int32_t DecodeCodes();

    std::string HeaderSummary() const override;
    const S_ApmHeader& Header() const { return apm_; }

protected:
    C_ApmFile(const char* code, uint32_t typeCode, uint8_t codeWidth, uint16_t coderId);
    // Whether a header's code and coder id belong to this class.
    virtual bool AcceptsHeader(const S_ApmHeader& header) const;
    const char* Code() const { return code_; }
    uint16_t CoderId() const { return coderId_; }

private:
    // The sound as the file stores it: prepared samples, codes, the decoded
    // reconstruction and the step-index trace (one per code).
    struct S_CodedSound {
        std::vector<uint16_t> samples;
        std::vector<uint8_t> codes;
        std::vector<uint16_t> decoded;
        std::vector<uint8_t> trace;
    };

    int32_t ReadMetadata();
    bool CheckMetadataLayout(InputStream& stream, const S_ApmHeader& h, uint64_t fileSize);
    // Save steps.
    bool CodeSound(C_WavData& sound, uint32_t mode, S_CodedSound& coded) const;
    bool LayOutHeader(const S_CodedSound& coded, uint32_t rate, uint32_t mode, uint32_t silenceLevel,
                      uint32_t silenceMs, uint64_t silenceCount, uint64_t eventCount, S_ApmHeader& h) const;

    char code_[4];
    uint32_t typeCode_;
    uint8_t codeWidth_;
    uint16_t sampleWidth_ = 12;
    uint16_t coderId_;
    S_ApmHeader apm_;
    std::array<uint8_t, kApmHeaderSize> rawHeader_{};
};

}  // namespace cz
