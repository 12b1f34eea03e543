// MDPCM coder with a free frame length, coding into 16-bit words that each
// carry two 5-bit differences (the chip's "Q42M" word stream).
//
// Stream: little-endian 16-bit words. A word w with (w AND 0x03E0) != 0x0200
// is a data word: two 5-bit two's-complement differences, d0 in bits 0-4 and
// d1 in bits 5-9 (bits 10-15 are written 0); each adds d x step to the value
// (modulo 4096), giving one sample. The rest are command words:
//   0x0208                end of stream
//   0x0201, n             (n AND 0x03FF) x 2 samples of the current value
//   0x0202, t, c          a marker (type: low byte of t; identifier: the
//                         number the marker-code table gives for c's low byte)
//   0x0210 | k            scale: step = 8 x {16, 32, 2, 3, ..., 15}[k]
//   others                ignored
// The value starts at 2048 and the step at 0 (data words hold the value
// until the first scale command).
//
// Coding: the samples are cut into frames of the frame length (the last one
// takes what is left); each frame gets the smallest step that follows its
// steepest change, (15.5 x step >= change; the largest step when none does),
// announced by a scale command only when it differs from the one in force.
// Differences are the nearest multiple of the step, halves away from zero,
// within -15..15 (-16 would read as a command in d1), and are moved back so
// that the value never leaves 0..4095 (the chip wraps it modulo 4096). An odd
// sample count is padded with a copy of the last sample.
//
// The decoder reads only the bytes it is given: it stops at the end word, at
// the end of the input (a lone last byte is ignored), or when out is full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cz {

class I_ProgressCallback;

class C_MdpcmCodecFreeFrameSize {
public:
    static constexpr uint16_t kEndWord = 0x0208;
    static constexpr uint16_t kRunWord = 0x0201;
    static constexpr uint16_t kMarkerWord = 0x0202;
    static constexpr uint16_t kScaleWord = 0x0210;
    static constexpr int kScaleCount = 16;
    static constexpr int kMaxDifference = 15;
    // Samples one run command holds at most.
    static constexpr uint32_t kMaxRun = 0x03FF * 2;

    // What the decoder holds between words.
    struct S_State {
        int value = 2048;
        int scale = -1;  // scale code in force; -1: none yet (step 0)
    };

    explicit C_MdpcmCodecFreeFrameSize(uint32_t frameLength = 64);
    C_MdpcmCodecFreeFrameSize(const C_MdpcmCodecFreeFrameSize&) = delete;
    C_MdpcmCodecFreeFrameSize& operator=(const C_MdpcmCodecFreeFrameSize&) = delete;
    virtual ~C_MdpcmCodecFreeFrameSize();

    uint32_t FrameLength() const { return frameLength_; }

    // A byte count every Encode of sampleCount samples fits in.
    uint64_t GetMaxEncodedSize(uint32_t sampleCount) const;

    // Codes a whole stream from the start state (value 2048, no scale) and
    // ends it with the end word. Returns the bytes written, 0 when out is
    // smaller than GetMaxEncodedSize or missing.
    uint32_t Encode(uint8_t* out, size_t outSize, uint32_t sampleCount, const uint16_t* samples,
                    I_ProgressCallback* progress);

    // Appends the words of count samples (no end word) to out, continuing
    // from state and leaving it where the decoder will be; the reconstruction
    // goes to decoded when given. Returns the samples coded (count, or one
    // more when count is odd).
    uint32_t EncodeWords(const uint16_t* samples, uint32_t count, S_State& state, std::vector<uint8_t>& out,
                         std::vector<uint16_t>* decoded);

    // Decodes in[0..inSize) into at most outCapacity samples. Returns the
    // samples written; EndSeen() tells whether the end word was reached.
    uint32_t Decode(uint16_t* out, size_t outCapacity, const uint8_t* in, size_t inSize, I_ProgressCallback* progress);
    // The number of samples Decode gives for the same bytes (with room
    // enough), capped at UINT32_MAX.
    uint32_t CountDecodedSamples(const uint8_t* in, size_t inSize);
    bool EndSeen() const { return endSeen_; }

    // Step of a scale code 0..15.
    static int ScaleStep(int code);
    // The nearest difference -15..15 from value toward target at step, kept
    // so that the value stays inside 0..4095; reached receives the value.
    static int FitDifference(int value, int target, int step, int& reached);
    // The marker code written for an identifier 0..15 (0 for other numbers),
    // and the identifier a code stands for (0 for codes not in the table).
    static uint8_t MarkerCode(uint8_t identifier);
    static uint8_t MarkerIdentifier(uint8_t code);

protected:
    // The scales by rising step: the code at rank 0 .. 15.
    static int CodeOfRank(int rank);
    // The rank of the smallest step that follows the steepest change of the
    // targets from value (15.5 steps at least); 15 when none does.
    static int SlopeRank(const int* targets, uint32_t n, int value);
    // Chooses the scale code of a frame of targets starting from value, and
    // its differences (one per target, each within -15..15 and fitted).
    // current is the code in force (-1 when none), which a choice may keep
    // to save a command word.
    virtual int CodeFrame(const int* targets, uint32_t n, int value, int current, int8_t* q);

private:
    uint32_t frameLength_;
    bool endSeen_ = false;
};

}  // namespace cz
