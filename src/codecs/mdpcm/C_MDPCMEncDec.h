// Frame-based differential coder for 12-bit chip samples (offset-binary
// 0..4095 in 16-bit words).
//
// A stream is a run of long and short frames followed by one end-marker byte.
// A frame is a header byte (scale index << 1 | kind, kind 1 = long, 0 = short)
// and one signed byte per sample: the difference from the previous
// reconstruction in units of the frame's step (-15..15). The encoder picks the
// smallest step that follows the frame's steepest slope, rounds differences to
// the nearest step (halves away from zero) and keeps the reconstruction inside
// 0..4095. The frame plan wastes the fewest padding samples; the padding
// drifts toward mid-scale (mode 0) or toward zero (mode 1).
//
// The decoder and the sample counter read only the bytes they are given and
// stop at the end marker, at the end of the input, or at a header whose scale
// index is not in the table.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace cz {

class I_ProgressCallback;

class C_MDPCMEncDec {
public:
    // headerAlias: when nonzero, scale index 0 is written as 14 and index 14
    // is never used, so that no header byte is 0. firstSampleBits: the first
    // reconstruction of each frame keeps this many significant bits out of 12
    // (12 or more: no rounding).
    explicit C_MDPCMEncDec(uint32_t headerAlias = 0, uint16_t firstSampleBits = 12);
    C_MDPCMEncDec(const C_MDPCMEncDec&) = delete;
    C_MDPCMEncDec& operator=(const C_MDPCMEncDec&) = delete;

    virtual ~C_MDPCMEncDec();

    // Plans and codes sampleCount samples into out. Returns the bytes written
    // including the end marker; 0 when outSize is below GetMaxEncodedSize, when
    // a frame length is 0 or when a buffer is missing.
    virtual uint32_t Encode(uint8_t* out, size_t outSize, uint32_t sampleCount, const uint16_t* samples,
                            uint16_t initialValue, uint32_t longLength, uint32_t shortLength, int32_t padMode,
                            I_ProgressCallback* progress);

    // Decodes the stream in[0..inSize) into at most outCapacity samples,
    // starting from initialValue. Stops at the end marker, at the end of the
    // input (a cut frame yields the samples whose bytes are there), at a header
    // with an unknown scale index, or when out is full. Returns the samples
    // written; EndMarkerSeen() tells whether the stream ended properly.
    virtual uint32_t Decode(uint16_t* out, size_t outCapacity, const uint8_t* in, size_t inSize, uint16_t initialValue,
                            uint32_t longLength, uint32_t shortLength, I_ProgressCallback* progress);

    // Runs PlanFrames and returns a byte count that every Encode of this plan
    // fits in: sampleCount + 102 + 2 x (padding + frames).
    virtual uint64_t GetMaxEncodedSize(uint32_t sampleCount, uint32_t longLength, uint32_t shortLength);

    // The number of samples Decode produces from the same bytes (with room
    // enough): walks the frame headers up to the end marker.
    virtual uint32_t CountDecodedSamples(uint32_t longLength, uint32_t shortLength, const uint8_t* in, size_t inSize);

    // Sets the long and short frame counts and the padding for total samples.
    virtual void PlanFrames(uint32_t sampleCount, uint32_t longLength, uint32_t shortLength);

    // Codes the frame of frameLength samples starting at index first into the
    // output set up by Encode (positions at or beyond sampleCount are padding).
    // Returns the bytes written, 0 when the output has no room for the frame.
    virtual uint32_t EncodeFrame(const uint16_t* samples, uint32_t sampleCount, uint32_t first, uint32_t frameLength,
                                 uint32_t kind, int32_t padMode);

    // How hard the encoder searches (0, the default: as the chip files' own
    // coder always has; 1 fast, 2 high, 3 max). A searching Encode runs a
    // trellis over the decoder's reconstruction through the whole stream:
    // scale indices around the classic choice, lattice points around each
    // sample, and (from 2 on) several end values carried into the next frame.
    // The stream has the same frames, sizes and difference range (-15..15)
    // and decodes with the same decoder. EncodeFrame called on its own, and a
    // frame-start rounding coarser than 9 bits, search frame by frame
    // instead. It applies to this coder itself; variants code as they always
    // do.
    void SetSearchEffort(uint8_t effort) { effort_ = std::min<uint8_t>(effort, 3); }
    uint8_t GetSearchEffort() const { return effort_; }

    void SetEndMarker(uint8_t marker) { endMarker_ = marker; }
    uint8_t EndMarker() const { return endMarker_; }
    uint32_t HeaderAlias() const { return headerAlias_; }
    uint16_t FirstSampleBits() const { return firstSampleBits_; }

    // Results of the last PlanFrames.
    uint32_t LongFrameCount() const { return longFrames_; }
    uint32_t ShortFrameCount() const { return shortFrames_; }
    uint32_t Padding() const { return padding_; }

    // Whether the last Decode or CountDecodedSamples stopped at the end marker.
    bool EndMarkerSeen() const { return endMarkerSeen_; }

    // The running reconstruction (kept between frames while encoding).
    uint16_t CurrentValue() const { return static_cast<uint16_t>(current_); }

    static constexpr int kScaleCount = 16;
    static constexpr int kMaxDifference = 15;
    static constexpr int kMinDifference = -15;

    // Step of scale index 0..15: 8 x (index + 1).
    static uint16_t ScaleStep(int index);
    // Threshold of scale index 0..15: 123 + 124 x index.
    static uint16_t ScaleThreshold(int index);
    // A difference in whole steps: the nearest multiple of step, halves away
    // from zero, kept within kMinDifference..kMaxDifference.
    static int NearestDifference(int difference, int step);

    // The header byte written for a scale index and frame kind.
    uint8_t HeaderByte(int index, uint32_t kind) const;
    // The scale index (0..15) announced by a header byte, after the header
    // alias; -1 when it is not in the table.
    int IndexFromHeader(uint8_t header) const;

protected:
    // index when its header differs from the end marker, else the nearest
    // usable index (larger ones first) whose header does.
    int AvoidEndMarker(int index, uint32_t kind) const;
    // Bytes of a frame's first sample after its header (each further sample
    // takes one byte); CountDecodedSamples walks the frames by it.
    virtual size_t FirstSampleBytes() const { return 1; }
    // The frame-start rounding to firstSampleBits significant bits.
    int RoundFirstSample(int value) const;

    bool HaveRoom(size_t bytes) const { return output_ != nullptr && outputPos_ + bytes <= outputSize_; }
    void Put(uint8_t byte) { output_[outputPos_++] = byte; }

    void BeginStream(uint8_t* out, size_t outSize, uint16_t initialValue);

    // Starts a Decode: clears the end-marker flag, takes a missing buffer as
    // empty and reports the start.
    void BeginDecode(const uint16_t* out, size_t& outCapacity, const uint8_t* in, size_t& inSize,
                     I_ProgressCallback* progress);
    // Reports a Decode's progress after the frame ending at pos.
    static void ReportDecodeProgress(I_ProgressCallback* progress, size_t pos, size_t inSize);
    // Ends a Decode: reports 100 percent and the end.
    static void EndDecode(I_ProgressCallback* progress);

    // A frame as its header announces it: scale index and sample count.
    struct S_FrameHeader {
        int index;
        uint32_t length;
    };
    // The frame whose header byte is in[pos]; none at the end of the input,
    // at the end marker (noted for EndMarkerSeen) or at a header with an
    // unknown scale index.
    std::optional<S_FrameHeader> ReadFrameHeader(const uint8_t* in, size_t inSize, size_t pos, uint32_t longLength,
                                                 uint32_t shortLength);

    // What a coder's frame body asks of the frame walk.
    enum class FrameStep {
        kNext,           // report progress, go on with the next frame
        kNextQuietly,    // go on without a progress report
        kReportAndStop,  // report progress and end the decode
        kStop,           // end the decode
    };
    // The decode loop both coders share: reads each frame header at `pos`
    // and hands the frame to body(frame, pos, written), which decodes its
    // samples from in[pos...] into out[written...], advancing both.
    template <typename FrameBody>
    uint32_t DecodeFrames(const uint16_t* out, size_t outCapacity, const uint8_t* in, size_t inSize,
                          uint32_t longLength, uint32_t shortLength, I_ProgressCallback* progress, FrameBody&& body) {
        BeginDecode(out, outCapacity, in, inSize, progress);
        size_t pos = 0;
        size_t written = 0;
        while (const auto frame = ReadFrameHeader(in, inSize, pos, longLength, shortLength)) {
            const FrameStep step = body(*frame, in, inSize, outCapacity, pos, written);
            if (step == FrameStep::kNext || step == FrameStep::kReportAndStop)
                ReportDecodeProgress(progress, pos, inSize);
            if (step == FrameStep::kReportAndStop || step == FrameStep::kStop) break;
        }
        EndDecode(progress);
        return static_cast<uint32_t>(std::min<size_t>(written, UINT32_MAX));
    }

    // The stream search at one effort level (1..3): a trellis over the
    // decoder's own reconstruction through the whole stream, the value
    // carried from frame to frame included, from the current value. Fills
    // the frames' bytes (no end marker), their squared error over the real
    // samples and the value the stream ends on; false when no scale index
    // can be announced.
    bool EncodeStreamSearch(uint8_t level, const uint16_t* samples, uint32_t sampleCount, uint32_t longLength,
                            uint32_t shortLength, int32_t padMode, I_ProgressCallback* progress,
                            std::vector<uint8_t>* bytes, int64_t* error, int* end) const;
    // Whether EncodeStreamSearch can model the frame-start rounding exactly
    // (every step a multiple of the rounding's unit).
    bool StreamSearchFits() const { return firstSampleBits_ >= 9; }

    // The searching form of EncodeFrame (effort_ above 0).
    uint32_t EncodeFrameSearch(const uint16_t* samples, uint32_t sampleCount, uint32_t first, uint32_t frameLength,
                               uint32_t kind, int32_t padMode);

    uint8_t effort_ = 0;
    uint32_t longFrames_ = 0;
    uint32_t shortFrames_ = 0;
    uint32_t padding_ = 0;
    uint32_t headerAlias_;
    uint16_t firstSampleBits_;
    uint8_t* output_ = nullptr;
    size_t outputSize_ = 0;
    size_t outputPos_ = 0;
    int32_t current_ = 2048;
    uint8_t endMarker_ = 0;
    bool endMarkerSeen_ = false;
};

}  // namespace cz
