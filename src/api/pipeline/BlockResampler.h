// The resampler of a whole sound, run block by block: the sound comes in as
// blocks of interleaved 16-bit frames and goes out as blocks at the new rate,
// with the state of every channel (the low-pass history, the held input of
// the interpolation window) carried from block to block. The output is
// sample for sample that of C_PCMResample's sinc modes over the whole sound,
// which needs the sound's frame count before the first block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cz::api::pipeline {

class BlockResampler {
public:
    // False from Valid() when the rates are refused by the resampler or the
    // output would have no frames.
    BlockResampler(uint16_t channels, uint32_t sourceRate, uint32_t targetRate, uint32_t sourceFrames);

    bool Valid() const { return valid_; }
    uint32_t DestinationFrames() const { return destinationFrames_; }

    // Takes `frames` interleaved frames and appends the frames they complete
    // to out. More frames than announced are ignored.
    void Push(const int16_t* interleaved, size_t frames, std::vector<int16_t>& out);
    // Ends the input (a short input is taken as ending in silence) and
    // appends the remaining frames, so that DestinationFrames() were given.
    void Finish(std::vector<int16_t>& out);

private:
    struct Channel {
        std::vector<int16_t> history;  // the low-pass's last `order` inputs
        std::vector<int16_t> held;     // interpolation input from heldFirst on
        size_t heldFirst = 0;
    };
    void Feed(Channel& channel, const int16_t* samples, size_t count);
    // Appends outputs [next_, end) of every channel to out.
    void Produce(size_t end, std::vector<int16_t>& out);
    // The first output whose window is not yet complete.
    size_t ReadyEnd() const;

    bool valid_ = false;
    uint16_t channels_ = 0;
    uint32_t sourceFrames_ = 0;
    uint32_t destinationFrames_ = 0;
    size_t taken_ = 0;       // source frames taken so far
    size_t inputCount_ = 0;  // interpolation input length (source + filter order)
    size_t fed_ = 0;         // interpolation inputs fed so far
    double step_ = 0.0;
    double offset_ = 0.0;
    size_t next_ = 0;  // next output frame
    std::vector<double> table_;
    std::vector<double> filter_;
    std::vector<Channel> state_;
    std::vector<int16_t> in_, work_, part_;
};

}  // namespace cz::api::pipeline
