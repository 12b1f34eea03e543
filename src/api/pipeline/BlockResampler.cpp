#include "api/pipeline/BlockResampler.h"

#include <algorithm>

#include "dsp/resample/C_PCMResample.h"
#include "dsp/resample/ResampleKernels.h"

namespace cz::api::pipeline {

BlockResampler::BlockResampler(uint16_t channels, uint32_t sourceRate, uint32_t targetRate, uint32_t sourceFrames)
    : channels_(channels), sourceFrames_(sourceFrames) {
    destinationFrames_ = C_PCMResample::DestinationCount(sourceRate, targetRate, sourceFrames);
    if (channels == 0 || sourceFrames == 0 || destinationFrames_ == 0) return;
    const double ratio = static_cast<double>(targetRate) / static_cast<double>(sourceRate);
    size_t order = 0;
    if (ratio < 1.0) {
        filter_ = resample::DesignPreFilter(ratio);
        order = filter_.size() - 1;
    }
    // As the whole run: the low-pass output is read from half its order on
    // and runs past the source's end by its order.
    inputCount_ = static_cast<size_t>(sourceFrames) + order;
    offset_ = static_cast<double>(order) / 2.0;
    step_ = static_cast<double>(sourceFrames) / static_cast<double>(destinationFrames_);
    table_ = resample::BuildSincTable();
    state_.resize(channels);
    for (Channel& c : state_) c.history.assign(order, 0);
    valid_ = true;
}

void BlockResampler::Feed(Channel& channel, const int16_t* samples, size_t count) {
    if (filter_.empty()) {
        channel.held.insert(channel.held.end(), samples, samples + count);
        return;
    }
    // The filter over the history and the block: the outputs past the
    // history are those of the whole run at these positions.
    const size_t order = filter_.size() - 1;
    work_.resize(order + count);
    std::copy(channel.history.begin(), channel.history.end(), work_.begin());
    std::copy(samples, samples + count, work_.begin() + static_cast<std::ptrdiff_t>(order));
    part_.resize(order + count);
    resample::ApplyPreFilter(filter_, work_.data(), order + count, part_.data(), nullptr);
    channel.held.insert(channel.held.end(), part_.begin() + static_cast<std::ptrdiff_t>(order), part_.end());
    std::copy(work_.end() - static_cast<std::ptrdiff_t>(order), work_.end(), channel.history.begin());
}

size_t BlockResampler::ReadyEnd() const {
    if (fed_ >= inputCount_) return destinationFrames_;
    size_t end = next_;
    while (end < destinationFrames_ && resample::PositionOf(end, step_, offset_).index + resample::kHalfTaps < fed_)
        ++end;
    return end;
}

void BlockResampler::Produce(size_t end, std::vector<int16_t>& out) {
    if (end <= next_) return;
    const size_t count = end - next_;
    const size_t base = out.size();
    out.resize(base + count * channels_);
    part_.resize(count);
    for (uint16_t c = 0; c < channels_; ++c) {
        Channel& channel = state_[c];
        resample::ApplySincInterpolationPart(table_, channel.held.data(), channel.heldFirst, channel.held.size(),
                                             inputCount_, step_, part_.data(), next_, count, nullptr, offset_);
        for (size_t i = 0; i < count; ++i) out[base + i * channels_ + c] = part_[i];
    }
    next_ = end;
    // Let go of the input no later window reads.
    const size_t index = next_ < destinationFrames_ ? resample::PositionOf(next_, step_, offset_).index : fed_;
    const size_t keepFrom = index > static_cast<size_t>(resample::kHalfTaps) ? index - resample::kHalfTaps : 0;
    for (Channel& channel : state_) {
        if (keepFrom <= channel.heldFirst) continue;
        const size_t drop = std::min(keepFrom - channel.heldFirst, channel.held.size());
        channel.held.erase(channel.held.begin(), channel.held.begin() + static_cast<std::ptrdiff_t>(drop));
        channel.heldFirst += drop;
    }
}

void BlockResampler::Push(const int16_t* interleaved, size_t frames, std::vector<int16_t>& out) {
    if (!valid_) return;
    frames = std::min(frames, static_cast<size_t>(sourceFrames_) - taken_);
    if (frames == 0) return;
    in_.resize(frames);
    for (uint16_t c = 0; c < channels_; ++c) {
        for (size_t i = 0; i < frames; ++i) in_[i] = interleaved[i * channels_ + c];
        Feed(state_[c], in_.data(), frames);
    }
    taken_ += frames;
    fed_ = state_.front().heldFirst + state_.front().held.size();
    Produce(ReadyEnd(), out);
}

void BlockResampler::Finish(std::vector<int16_t>& out) {
    if (!valid_) return;
    // A source that gave fewer frames than announced ends in silence, as
    // the whole run reads zeros past its input.
    const size_t missing = static_cast<size_t>(sourceFrames_) - taken_;
    const size_t order = filter_.empty() ? 0 : filter_.size() - 1;
    in_.assign(missing + order, 0);
    if (!in_.empty()) {
        for (Channel& channel : state_) Feed(channel, in_.data(), in_.size());
    }
    taken_ = sourceFrames_;
    fed_ = inputCount_;
    Produce(destinationFrames_, out);
}

}  // namespace cz::api::pipeline
