// The enhanced chip ADPCM coder for 16-bit samples, with a two-tap
// predictor. Its stream is the block coding the chip's "WE2A" resources
// play, so a stream from here needs no repacking:
//
//   b0 bits 0-1 = block type:
//   0  2 bytes        silence: (b1 >> 2) << 6 | b0 >> 2 samples of 32768
//                     (1 ... 4095); both history samples become 32768
//   1  5 + n/2 bytes  short block of n = (b0 >> 2) + 1 samples: first sample
//                     (b2 << 8 | b1 AND C0), sub-block bytes a and b (b3, b4),
//                     then the codes of the n - 1 samples after the first
//   2  4 bytes        marker (identifier b1, type b0 >> 2) and one sample,
//                     u16 at bytes 2-3
//   3  3 + 34m bytes  long block of m = (b0 >> 2) + 1 sub-blocks: first
//                     sample as above, then per sub-block a, b and 64 codes
//   00 00             end of stream
// Codes are taken high nibble first. An audio block's first sample is output
// and starts the step index at 1 when b1 is nonzero (always, from this
// encoder: it sets bit 0 of b1), else 0. Sub-block byte a: bits 7..2 the
// highest step index, bits 1..0 the index-adjust table (as for
// C_EnhancedADPCMCodec); byte b: bits 2..0 coefficient A on the last
// sample, bits 5..3 coefficient B on the one before:
//   A = 0.5, 0.625, 0.75, 0.875, 1, 1.125, 1.25, 1.375
//   B = -0.5, -0.375, -0.25, -0.125, 0, 0.125, 0.25, 0.375
// each applied as a sum of arithmetic right shifts of the centred sample
// (the value, then halves down to a sixteenth), the prediction clamped to
// 16 bits. A code adds or subtracts (sign bit 3) step/8 plus step, step/2,
// step/4 for bits 2, 1, 0 (step = 16 x the 12-bit step of the index), the
// result clamped to 16 bits.
//
// Encoding: runs of 1 + 64 m samples (m at most 64) become long blocks and
// the last 1 ... 64 samples a short block; a block's first sample is stored
// rounded toward mid-scale to a multiple of 64. Per sub-block the highest
// step index follows the peak rule of C_EnhancedADPCMCodec; with prediction
// on, the two coefficient pairs whose prediction of the input itself errs
// least are each coded with the four index tables (or the first only,
// without the table search) and the least squared error wins. Without
// prediction the pair (1, 0) is used, which is plain ADPCM. The history the
// first block starts from is settable, so that a stream can continue after
// other blocks.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "codecs/adpcm/C_EnhancedADPCMCodec.h"

namespace cz {

class C_EnhancedADPCM2Codec : public C_EnhancedADPCMCodec {
public:
    static constexpr uint16_t kMidScale = 32768;
    static constexpr uint32_t kMaxSilenceBlock = 4095;
    // Block types (bits 0-1 of a block's first byte).
    enum BlockType : uint8_t { kBlockSilence = 0, kBlockShort = 1, kBlockMarker = 2, kBlockLong = 3 };
    // The coefficient pair of plain ADPCM (A = 1, B = 0).
    static constexpr uint8_t kPlainPair = 4 | 4 << 3;

    // sampleWidth: 16 for the chip's streams; predict: use the two-tap
    // predictor (otherwise the plain pair).
    C_EnhancedADPCM2Codec(uint8_t sampleWidth, uint32_t limitSteps, uint32_t searchTables, uint32_t predict);
    ~C_EnhancedADPCM2Codec() override;

    // Codes the samples (offset-binary 16-bit words) into long and short
    // blocks, starting from the set history; returns the bytes written, 0
    // when they do not fit or there are no samples. No end mark is written.
    uint32_t Encode(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize, uint32_t mode,
                    I_ProgressCallback* progress) override;
    // Decodes blocks of all four types from the set history until the end
    // mark, the end of the input, a block that runs past it, or a full
    // output; returns the bytes of samples written.
    uint32_t Decode(const uint8_t* in, uint32_t inSize, uint16_t* out, uint32_t outBytes,
                    I_ProgressCallback* progress) override;
    // Each block byte may stand for up to 4095 silent samples.
    uint32_t GetDecodedBufferSize(uint32_t byteCount) override;
    void ResetEncoder(uint32_t sampleCount, uint32_t mode) override;
    void ResetDecoder() override;
    // The sub-block's first parameter byte (a).
    uint8_t SubBlockHeader(uint8_t highestIndex, uint8_t table) const override;

    // The two samples before the stream (the last one first), offset-binary;
    // both mid-scale unless set.
    void SetStartHistory(uint16_t last, uint16_t beforeLast) {
        startLast_ = last;
        startBefore_ = beforeLast;
    }
    // The history after the last Encode or Decode.
    uint16_t LastSample() const { return static_cast<uint16_t>(last_); }
    uint16_t SampleBeforeLast() const { return static_cast<uint16_t>(before_); }
    bool Predicts() const { return predict_ != 0; }

    // The two-tap prediction (centred) from the centred history.
    static int32_t Predict(int32_t last, int32_t beforeLast, uint8_t pair);

private:
    struct S_Trial {
        std::array<uint8_t, kSubBlockCodes> codes;
        std::array<uint8_t, kSubBlockCodes> indices;
        int64_t error = 0;
        int32_t last = 0, before = 0;
        uint16_t index = 0;
    };
    // Codes count (at most kSubBlockCodes) samples from the current state
    // with the table and pair. Stops early, returning false, once the
    // squared error reaches bound: such a trial cannot be the best.
    bool CodeSubBlock(const uint16_t* samples, uint32_t count, uint8_t table, uint8_t pair, int64_t bound,
                      S_Trial& trial);
    // The coefficient pairs to try for a sub-block, best first: writes them
    // to pairs and returns how many.
    uint32_t CandidatePairs(const uint16_t* samples, uint32_t count, uint8_t* pairs) const;
    // Codes one sub-block (chooses highest index, table and pair) and
    // writes a, b and the packed codes at out; returns the bytes written.
    uint32_t WriteSubBlock(const uint16_t* samples, uint32_t count, uint16_t previous, uint8_t* out, uint32_t first,
                           C_Progress& report);

    uint32_t predict_;
    uint16_t startLast_ = kMidScale;
    uint16_t startBefore_ = kMidScale;
    // Running history, offset-binary.
    int32_t last_ = kMidScale;
    int32_t before_ = kMidScale;
};

}  // namespace cz
