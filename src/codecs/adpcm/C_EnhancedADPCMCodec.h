// The block-structured chip ADPCM coder: the 4-bit coder of C_ADPCMEncDec
// cut into blocks of 1 + 64 x 64 samples that each start from a stored
// sample, with sub-blocks of 64 codes that each carry a header byte.
//
// Stream (the sample count comes from the container):
//   block:     u16 first sample, offset-binary, rounded toward mid-scale to a
//              multiple of 2^(width - 10) when the width exceeds 10; the step
//              index starts at 0
//              then up to 64 sub-blocks
//   sub-block: header byte: bits 7..2 the highest step index the sub-block
//              may reach, bits 1..0 the index-adjust table, then 64 codes,
//              two per byte, first code in the high nibble (the last
//              sub-block of a stream holds what is left)
// Index-adjust tables: (-1,-1,-1,-1,2,4,6,8), (-2,-2,-2,-2,5,7,9,11),
// (-1,-1,-1,-1,4,6,8,10), (-2,-2,-2,-2,2,4,8,10).
//
// Encoding a sub-block: its highest index comes from its peak, the largest
// step between neighbouring samples (the first against the sample before
// it): scanning i from 61 down to 0, the first i with 2 x step[i] < peak
// gives i + 2, none gives 1 (63 with the limit off). With the table search
// on, the sub-block is coded with each of the four tables from the same
// state and the one with the least squared error is kept (the earlier one
// on a tie), with the state it leaves; otherwise the first table is used.
// The codes themselves follow C_ADPCMEncDec (range guard, the 15, 0, 15, 0
// guard). The stream states its own lengths, so the coding modes' lead-in
// and tail codes do not apply: the stream holds exactly one code per sample.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "codecs/adpcm/C_ADPCMEncDec.h"

namespace cz {

class C_EnhancedADPCMCodec : public C_ADPCMEncDec {
public:
    static constexpr uint32_t kSubBlockCodes = 64;
    static constexpr uint32_t kSubBlocks = 64;
    // Samples of a whole block: the stored first one and 64 x 64 codes.
    static constexpr uint32_t kBlockSamples = 1 + kSubBlocks * kSubBlockCodes;
    // Bytes a whole block may take in the size bound.
    static constexpr uint32_t kBlockBound = 2 + kSubBlocks * 65;
    static const std::array<std::array<int8_t, 8>, 4> kIndexTables;

    // limitSteps: cap each sub-block's step index by its peak; searchTables:
    // try the four index tables per sub-block.
    C_EnhancedADPCMCodec(uint8_t sampleWidth, uint32_t limitSteps, uint32_t searchTables);
    ~C_EnhancedADPCMCodec() override;

    // Blocks x 4162 bytes plus, for a partial block, 2 bytes, 65 per started
    // sub-block, and 2 + the remaining codes. Resets the encoder.
    uint32_t GetMaxEncodedSize(uint32_t sampleCount, uint32_t mode) override;
    // Codes the samples into blocks; returns the bytes written, 0 when they
    // do not fit or there are no samples.
    uint32_t Encode(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize, uint32_t mode,
                    I_ProgressCallback* progress) override;
    // Decodes blocks until the input or the output (outBytes / 2 samples)
    // runs out; returns the bytes of samples written.
    uint32_t Decode(const uint8_t* in, uint32_t inSize, uint16_t* out, uint32_t outBytes,
                    I_ProgressCallback* progress) override;
    void ResetEncoder(uint32_t sampleCount, uint32_t mode) override;
    void ResetDecoder() override;

    // The header byte of a sub-block.
    virtual uint8_t SubBlockHeader(uint8_t highestIndex, uint8_t table) const;
    // The highest step index for a sub-block of samples, previous being the
    // sample before it.
    virtual uint8_t HighestStepIndex(const uint16_t* samples, uint32_t count, uint16_t previous) const;
    // The stored first sample of a block (offset-binary, rounded toward
    // mid-scale to the stored precision).
    uint16_t RoundFirstSample(uint16_t sample) const;

    bool LimitsSteps() const { return limitSteps_ != 0; }
    bool SearchesTables() const { return searchTables_ != 0; }

protected:
    // Selects an index table and the highest step index for what follows.
    void UseSubBlock(uint8_t highestIndex, uint8_t table);

    uint32_t limitSteps_;
    uint32_t searchTables_;

private:
    // Codes count samples from the current state with the table; appends
    // the codes; returns the squared error of the reconstruction. Stops
    // early once the error reaches bound: such a trial cannot be the best.
    int64_t CodeSubBlock(const uint16_t* samples, uint32_t count, uint8_t table, std::vector<uint8_t>& codes,
                         std::vector<uint8_t>& indices, int64_t bound);
    // The rules of CodeSubBlock's 4-bit codes as tables, made once per
    // Encode: the signed step sum of each code at each step index, and the
    // next state of the 15, 0, 15, 0 guard.
    void BuildCodeTables();
    std::vector<int32_t> stepSums_;
    uint8_t patternNext_[4 * 16] = {};
};

}  // namespace cz
