// The clean resampler (dsp/resample/CleanResample.h) run block by block: the
// sound comes in as blocks of interleaved 16-bit frames and goes out as
// blocks at the new rate. Every channel keeps the stretch of its source that
// later outputs still read; the output is sample for sample that of
// C_PCMResample's clean mode over the whole sound, which needs the sound's
// frame count before the first block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace cz::resample {
class CleanResampler;
}

namespace cz::api::pipeline {

class CleanBlockResampler {
public:
    // False from Valid() when the rates are refused by the resampler or the
    // output would have no frames.
    CleanBlockResampler(uint16_t channels, uint32_t sourceRate, uint32_t targetRate, uint32_t sourceFrames);
    ~CleanBlockResampler();
    CleanBlockResampler(const CleanBlockResampler&) = delete;
    CleanBlockResampler& operator=(const CleanBlockResampler&) = delete;

    bool Valid() const { return valid_; }
    uint32_t DestinationFrames() const { return destinationFrames_; }

    // Takes `frames` interleaved frames and appends the frames they complete
    // to out. More frames than announced are ignored.
    void Push(const int16_t* interleaved, size_t frames, std::vector<int16_t>& out);
    // Ends the input (a short input is taken as ending in silence) and
    // appends the remaining frames, so that DestinationFrames() were given.
    void Finish(std::vector<int16_t>& out);

private:
    // Appends outputs [next_, end) of every channel to out and lets go of
    // the source no later output reads.
    void Produce(uint64_t end, std::vector<int16_t>& out);

    bool valid_ = false;
    uint16_t channels_ = 0;
    uint32_t sourceFrames_ = 0;
    uint32_t destinationFrames_ = 0;
    size_t taken_ = 0;    // source frames taken so far
    uint64_t next_ = 0;   // next output frame
    uint64_t first_ = 0;  // padded source index of window_[c][0]
    std::unique_ptr<const resample::CleanResampler> design_;
    std::vector<std::vector<double>> window_;  // per channel, the padded source from first_ on
    std::vector<int16_t> part_;
};

}  // namespace cz::api::pipeline
