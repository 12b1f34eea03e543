#include "api/pipeline/CleanBlockResampler.h"

#include <algorithm>

#include "dsp/resample/C_PCMResample.h"
#include "dsp/resample/CleanResample.h"

namespace cz::api::pipeline {

CleanBlockResampler::CleanBlockResampler(uint16_t channels, uint32_t sourceRate, uint32_t targetRate,
                                         uint32_t sourceFrames)
    : channels_(channels), sourceFrames_(sourceFrames) {
    destinationFrames_ = C_PCMResample::DestinationCount(sourceRate, targetRate, sourceFrames);
    if (channels == 0 || sourceFrames == 0 || destinationFrames_ == 0) return;
    design_ = std::make_unique<const resample::CleanResampler>(sourceRate, targetRate);
    // The padded source starts with the zeros read before the first sample.
    window_.assign(channels, std::vector<double>(design_->Half(), 0.0));
    valid_ = true;
}

CleanBlockResampler::~CleanBlockResampler() = default;

void CleanBlockResampler::Produce(uint64_t end, std::vector<int16_t>& out) {
    end = std::min<uint64_t>(end, destinationFrames_);
    if (end <= next_) return;
    const size_t count = static_cast<size_t>(end - next_);
    const size_t base = out.size();
    out.resize(base + count * channels_);
    for (uint16_t c = 0; c < channels_; ++c)
        design_->RunRange(window_[c].data(), first_, next_, end, out.data() + base + c, channels_);
    next_ = end;
    // Let go of the source before the next output's window.
    const uint64_t keepFrom = next_ < destinationFrames_ ? design_->FirstRead(next_) : first_ + window_[0].size();
    if (keepFrom <= first_) return;
    const size_t drop = static_cast<size_t>(std::min<uint64_t>(keepFrom - first_, window_[0].size()));
    for (std::vector<double>& w : window_) w.erase(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(drop));
    first_ += drop;
}

void CleanBlockResampler::Push(const int16_t* interleaved, size_t frames, std::vector<int16_t>& out) {
    if (!valid_) return;
    frames = std::min(frames, static_cast<size_t>(sourceFrames_) - taken_);
    if (frames == 0) return;
    for (uint16_t c = 0; c < channels_; ++c) {
        std::vector<double>& w = window_[c];
        const size_t at = w.size();
        w.resize(at + frames);
        for (size_t i = 0; i < frames; ++i) w[at + i] = static_cast<double>(interleaved[i * channels_ + c]);
    }
    taken_ += frames;
    // The outputs whose window lies wholly in what has come: FirstRead(j) +
    // taps <= have. FirstRead rises with j, so the first j past them is
    // found by bisection.
    const uint64_t have = first_ + window_[0].size();
    const uint64_t taps = design_->Taps();
    if (have < taps) return;
    const uint64_t lastStart = have - taps;
    uint64_t end = next_, hi = destinationFrames_;
    while (end < hi) {
        const uint64_t mid = end + (hi - end) / 2;
        if (design_->FirstRead(mid) <= lastStart)
            end = mid + 1;
        else
            hi = mid;
    }
    Produce(end, out);
}

void CleanBlockResampler::Finish(std::vector<int16_t>& out) {
    if (!valid_) return;
    // What did not come (a short source) and everything past the end reads
    // as zeros, to the last output's window.
    taken_ = sourceFrames_;
    if (next_ >= destinationFrames_) return;
    const uint64_t need = design_->FirstRead(destinationFrames_ - 1) + design_->Taps();
    const uint64_t have = first_ + window_[0].size();
    if (need > have)
        for (std::vector<double>& w : window_) w.resize(w.size() + static_cast<size_t>(need - have), 0.0);
    Produce(destinationFrames_, out);
}

}  // namespace cz::api::pipeline
