// The chip ADPCM coder: 12-bit offset-binary samples to 4-bit codes (two per
// byte, first code in the high nibble) and back.
//
// Steps grow as a pseudo-floating value, eight mantissas per octave
// (8, 9, ... 15, 16, 18, ... 1920 for 12-bit samples). The encoder never lets
// the reconstruction leave the sample range, never emits the codes 15, 0, 15, 0
// in a row (the chip reads that run as a marker), and can pad the stream with
// six full-scale codes in front (lead-in) and with tail codes that bring the
// coder back to silence on a four-code boundary (flush to silence).
//
// Coding modes: 0 = flush to silence; 1 = flush to silence with lead-in;
// 2 = pad to four codes only; 3 = pad only with lead-in; 4 = as 0 and sets the
// mode-4 flag. Samples outside 0 ... full range are clamped before coding.
//
// All operations report failure by returning 0; nothing is thrown.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/I_ProgressCallback.h"

namespace cz {

// Coding modes (the write parameter's codec value for APM files). Bit 0 asks
// for the lead-in, bit 1 for padding only instead of the flush to silence;
// mode 4 is a flush to silence that sets the mode-4 flag.
enum AdpcmMode : uint32_t {
    kAdpcmFlush = 0,
    kAdpcmFlushLeadIn = 1,
    kAdpcmPad = 2,
    kAdpcmPadLeadIn = 3,
    kAdpcmFlushMode4 = 4,
};
constexpr uint32_t kAdpcmLeadInBit = 1;
// EncodeRange's second argument, which it does not read; callers pass this.
constexpr uint32_t kEncodeRangeUnused = 0;
constexpr uint32_t kAdpcmPadOnlyBit = 2;

// How hard the encoder searches for the codes (C_ADPCMEncDec::SetSearchEffort).
// kClassic codes sample by sample, as the chip files' own coder always has;
// the others search ahead (AdpcmBlockEncoder.h, AdpcmBeamEncoder.h) and write
// streams of the same size that the same decoder plays.
enum class AdpcmEffort : uint8_t { kClassic = 0, kFast = 1, kHigh = 2, kMax = 3 };

class C_ADPCMEncDec {
public:
    // Most tail codes Flush produces.
    static constexpr uint32_t kMaxTailCodes = 132;
    // Codes of the lead-in.
    static constexpr uint32_t kLeadInCodes = 6;

    // sampleWidth: bits per sample (kept within 4 ... 16); stepCount: entries
    // of the step table (kept within 1 ... 64).
    C_ADPCMEncDec(uint8_t sampleWidth, int32_t stepCount);
    C_ADPCMEncDec(const C_ADPCMEncDec&) = delete;
    C_ADPCMEncDec& operator=(const C_ADPCMEncDec&) = delete;

    virtual ~C_ADPCMEncDec();
    // Resets the encoder for the mode; returns the code buffer size in bytes.
    virtual uint32_t GetMaxEncodedSize(uint32_t sampleCount, uint32_t mode);
    // Four times GetMaxEncodedSize(byteCount, mode). This bounds the decoded
    // bytes of a stream of byteCount *codes*; for a stream of byteCount bytes
    // use GetDecodedBufferSize.
    virtual uint32_t GetMaxDecodedSize(uint32_t byteCount, uint32_t mode);
    // Codes the samples; returns the code bytes written, 0 on failure.
    virtual uint32_t Encode(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                            uint32_t mode, I_ProgressCallback* progress);
    // Encode(count, samples + first, ...).
    virtual uint32_t EncodeRange(const uint16_t* samples, uint32_t ignored, uint32_t first, uint32_t count,
                                 uint8_t* out, uint32_t outSize, uint32_t mode, I_ProgressCallback* progress);
    // Decodes until the input or the output (outBytes / 2 samples) runs out;
    // returns the bytes of samples written.
    virtual uint32_t Decode(const uint8_t* in, uint32_t inSize, uint16_t* out, uint32_t outBytes,
                            I_ProgressCallback* progress);
    // Step index after each code of the last encode (lead-in and tail
    // included); GetStepIndexTraceSize() entries are valid.
    virtual const uint8_t* GetStepIndexTrace();
    // Starts a new encode for the mode.
    virtual void ResetEncoder(uint32_t sampleCount, uint32_t mode);
    // Starts a new decode.
    virtual void ResetDecoder();
    // Stores a code; 0 when its byte lies outside the buffer.
    virtual int PutCode(uint8_t* out, uint32_t outSize, uint32_t codeIndex, uint8_t code);
    // Fetches a code; 0 at the end of the input.
    virtual int GetCode(const uint8_t* in, uint32_t inSize, uint32_t codeIndex, uint8_t& code);
    // Writes the tail codes (at most kMaxTailCodes) for a stream of
    // codeCount codes so far into tailCodes; returns their number.
    virtual uint32_t Flush(uint8_t* tailCodes, uint32_t codeCount);
    // Difference to code at the step index.
    virtual uint8_t Quantize(int32_t difference, uint16_t stepIndex);
    // Code to new sample (signed, centred on zero, clamped to the range);
    // updates the step index.
    virtual int32_t Reconstruct(int32_t previous, uint8_t code, uint16_t& stepIndex);
    // Bytes of decoded samples a stream of byteCount code bytes yields
    // when decoded to its end: the size of the decode buffer for a whole stream.
    virtual uint32_t GetDecodedBufferSize(uint32_t byteCount);

    // The search of later encodes (kClassic unless set). It applies to the
    // plain 4-bit coder and widens the "new" coder's trellis; variants with
    // their own rules code as they always do.
    void SetSearchEffort(AdpcmEffort effort) { effort_ = effort; }
    AdpcmEffort GetSearchEffort() const { return effort_; }
    // Whether this coder searches at the effort set (a plain 4-bit coder).
    bool Searches() const;

    // Codes in the trace of the last encode.
    uint32_t GetStepIndexTraceSize() const { return traceCount_; }
    // Set by coding mode 4.
    bool GetModeFourFlag() const { return modeFour_ != 0; }
    int32_t GetStepCount() const { return stepCount_; }
    // Step size at an index (0 outside the table).
    int32_t GetStepSize(int32_t index) const;
    uint16_t GetCodeWidth() const { return codeWidth_; }
    uint8_t GetSampleWidth() const { return sampleWidth_; }
    // Samples the encode in hand had to take the nearest acceptable code for
    // (the usual lowering rules found none); reset by each encode.
    uint32_t GetFallbackCount() const { return fallbackCount_; }

protected:
    // The signed step sum of a code at an index, before it is added to the
    // prediction (no clamping); the step index is not touched.
    int32_t StepSum(uint8_t code, uint16_t stepIndex) const;
    // Index after a code, clamped to the table.
    uint16_t NextIndex(uint16_t stepIndex, uint8_t code) const;
    // Codes one offset-binary sample against the current state and advances
    // the state; always yields a code (see the .cpp).
    uint8_t EncodeSample(uint16_t sample);
    // The pattern state after emitting a code.
    uint16_t NextPatternState(uint8_t code) const;
    // Records the step index after the code at codeIndex.
    void RecordTrace(uint32_t codeIndex, uint16_t stepIndex);
    // Fresh trace for an output of outSize bytes.
    void AllocateTrace(uint32_t codes);
    uint32_t CodesPerByte() const { return codeWidth_ <= 4 ? 2u : 1u; }
    // Replaces the tables (variants with their own tables).
    void SetStepTable(std::unique_ptr<int16_t[]> steps, int32_t count);
    void SetIndexTable(const int8_t* table) { indexAdjust_ = table; }
    // Highest step index the index update may reach (below the table's end
    // for the block coders that cap it per sub-block).
    void SetIndexLimit(int32_t limit) { indexLimit_ = limit; }
    // Four codes that bring +1 (plus) and -1 (minus) back to 0 at index 0.
    void SetFlushEndings(const uint8_t* plusOne, const uint8_t* minusOne) {
        endingPlus_ = plusOne;
        endingMinus_ = minusOne;
    }
    // Clamps a value to 0 ... full range as an offset-binary word.
    uint16_t ToWord(int32_t prediction) const;

    // Progress reporting: running sum of 100/total per item.
    class C_Progress {
    public:
        C_Progress(I_ProgressCallback* callback, uint32_t total);
        void Step() {
            if (!callback_) return;
            sum_ += increment_;
            auto percent = static_cast<int32_t>(sum_);
            if (percent > reported_) {
                reported_ = percent;
                callback_->OnProgress(percent);
            }
        }
        void Finish();

    private:
        I_ProgressCallback* callback_;
        double increment_ = 0.0;
        double sum_ = 0.0;
        int32_t reported_ = 0;
    };

    // The run of an encode after ResetEncoder (and any start state): fresh
    // trace and fallback count, the lead-in, the samples by EncodeSamples,
    // the tail codes, progress. Returns the code bytes written, 0 on failure.
    uint32_t EncodeStream(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                          I_ProgressCallback* progress);
    // Codes the samples into out from code n on (samples is not null when
    // sampleCount is not 0). Returns the number of codes after the samples,
    // or kFailed when a code does not fit.
    static constexpr uint32_t kFailed = 0xFFFFFFFFu;
    virtual uint32_t EncodeSamples(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                                   uint32_t n, C_Progress& report);

    // Codes the samples with the 4-bit rules inlined; used by EncodeSamples
    // when the object is a plain C_ADPCMEncDec (no operation overridden).
    // Returns the number of codes after the samples, or kFailed.
    uint32_t EncodeSamplesFast(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                               uint32_t n, C_Progress& report);

    // Codes the samples with the search of effort_ (see Searches).
    uint32_t EncodeSamplesSearch(uint32_t sampleCount, const uint16_t* samples, uint8_t* out, uint32_t outSize,
                                 uint32_t n, C_Progress& report);

    AdpcmEffort effort_ = AdpcmEffort::kClassic;
    uint8_t sampleWidth_;
    int32_t offset_;
    int32_t fullRange_;
    int32_t maximum_;
    int32_t minimum_;
    const int8_t* indexAdjust_;
    int32_t indexLimit_ = 0x7FFFFFFF;
    std::unique_ptr<int16_t[]> steps_;
    int32_t stepCount_;
    uint32_t lastPosition_ = 0;
    uint16_t codeWidth_ = 4;
    uint8_t codeMask_ = 15;
    uint32_t leadIn_ = 0;
    uint32_t flushToSilence_ = 0;
    uint16_t stepIndex_ = 0;
    int32_t prediction_ = 0;
    uint16_t patternState_ = 0;
    uint32_t modeFour_ = 0;
    std::unique_ptr<uint8_t[]> trace_;
    uint32_t traceCapacity_ = 0;
    uint32_t traceCount_ = 0;
    uint32_t fallbackCount_ = 0;
    bool flushExhausted_ = false;
    const uint8_t* endingPlus_;
    const uint8_t* endingMinus_;
};

}  // namespace cz
