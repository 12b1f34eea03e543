// The ADPCM speech file ("WAPM"): 12-bit mono PCM coded to 4-bit chip ADPCM,
// stored with its decoded reconstruction, the coder's step-index trace and the
// source samples, plus optional silence and action-event tables.
//
// Header, 76 bytes (little-endian, packed):
//   0  code ("WAPM")   4  u16 version 0x110   6  u16 header size 76
//   8  u16 channels 1  10 u8 code width       11 u8 0
//   12 u16 rate        14 u16 cut-off         16 u32 total file size
//   20 u16 coder id (0: classic coder, 1: the "new" coder; see below)
//   22 u16 initial decoder value (0 with a lead-in, else 0x800)
//   24, 34, 44, 54: section descriptors {u16 bits, u32 offset, u32 count} for
//      codes (N), decoded words (N), trace bytes (N), source words (M)
//   64 u16 metadata flag   66 u32 metadata offset
//   70 u16 silence level   72 u16 silence length (ms)   74 u16 3
// The sections follow each other without gaps; the metadata ("WCMD" header,
// "WSIL" silence block, event block) closes the file when the flag is set.
//
// Coder id. Both the classic and the "new" APM class write the code "WAPM"
// with the same layout, but their code streams need different decoders. The
// field at offset 20 (always 0 in files of the classic coder) names the coder:
// C_ApmFile reads only files with 0 there, C_NewApmFile only files with 1 (or
// the "WNAP" code), so whichever the factory tries first, each file opens
// with the class that wrote it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "formats/wpcm/C_SrcFile.h"

namespace cz {

class C_ApmFile : public C_SrcFile {
public:
    static constexpr uint32_t kApmHeaderSize = 76;
    static constexpr uint16_t kVersion = 0x110;
    static constexpr uint16_t kDefaultSilenceLevel = 1;
    static constexpr uint16_t kDefaultSilenceMs = 64;

    // One section descriptor of the header.
    struct S_Section {
        uint16_t bits = 0;
        uint32_t offset = 0;
        uint32_t count = 0;
    };
    // The header fields as read or written.
    struct S_ApmHeader {
        char code[4] = {};
        uint16_t version = 0;
        uint16_t headerSize = 0;
        uint16_t channels = 0;
        uint8_t codeWidth = 0;
        uint8_t reserved = 0;
        uint16_t rate = 0;
        uint16_t cutOff = 0;
        uint32_t fileSize = 0;
        uint16_t coderId = 0;
        uint16_t initialValue = 0;
        S_Section codes, decoded, trace, source;
        uint16_t metadataFlag = 0;
        uint32_t metadataOffset = 0;
        uint16_t silenceLevel = 0;
        uint16_t silenceMs = 0;
        uint16_t tail = 0;
    };

    C_ApmFile();
    // 1.
    ~C_ApmFile() override;
    // 2. Checks the header and that every section lies where the layout
    // puts it and inside the file; with loadFlag, attaches a sound for the
    // source samples.
    int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) override;
    // 3. flag 0: the decoded code section; otherwise the source samples.
    // Then the silence and event tables when the file has them.
    int32_t LoadSamples(uint32_t flag) override;
    // 4. Codes the sound (mixed to mono on a copy) and writes the file. A
    // sound that cannot be coded fails before the file is created; a failed
    // write removes the partial file.
    int32_t Save(const char* path) override;

    // Slots after IsScrambled.
    virtual std::unique_ptr<C_ADPCMEncDec> CreateCoder() const;
    virtual uint32_t CodeBytes(uint32_t codeCount) const;
    // The sound in coder form (one channel, sample width bits offset-binary).
    virtual bool PrepareSamples(C_WavData& sound, std::vector<uint16_t>& words) const;
    // Reads the code section and decodes it into the sound.
    virtual int32_t DecodeCodes();

    std::string HeaderSummary() const override;
    const S_ApmHeader& Header() const { return apm_; }
    // Parses 76 header bytes (no checks).
    static S_ApmHeader ParseHeader(const uint8_t* bytes);

protected:
    C_ApmFile(const char* code, uint32_t typeCode, uint8_t codeWidth, uint16_t coderId);
    // Whether a header's code and coder id belong to this class.
    virtual bool AcceptsHeader(const S_ApmHeader& header) const;
    const char* Code() const { return code_; }
    uint16_t CoderId() const { return coderId_; }

private:
    int32_t ReadMetadata();
    bool CheckMetadataLayout(InputStream& stream, const S_ApmHeader& h, uint64_t fileSize);

    char code_[4];
    uint32_t typeCode_;
    uint8_t codeWidth_;
    uint16_t sampleWidth_ = 12;
    uint16_t coderId_;
    S_ApmHeader apm_;
    std::array<uint8_t, kApmHeaderSize> rawHeader_{};
};

}  // namespace cz
