#include "dsp/pitch/C_PitchShiftPCMGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cz {

C_PitchShiftPCMGenerator::C_PitchShiftPCMGenerator(const uint8_t* frames, uint32_t frameBytes, uint32_t count,
                                                   double factor)
    : frames_(frames), frameBytes_(frames ? frameBytes : 0), count_(count), factor_(factor) {
    if (!(factor > 0.0) || (frames && frameBytes == 0)) {
        ok_ = false;
        return;
    }
    // Up to a factor of 1 every source frame is copied at most once; above
    // it a period may go out three times.
    capacity_ = uint64_t{count} * (factor > 1.0 ? kMaxEmissions : 1u);
    if (frames_) {
        // Room for the expected length; the vector grows toward the bound
        // above only if the output runs beyond it.
        const double expected = static_cast<double>(count) * std::max(factor, 1.0) + 1.0;
        const double limit = static_cast<double>(capacity_);
        output_.reserve(static_cast<size_t>(std::min(expected, limit)) * frameBytes_);
    }
}

void C_PitchShiftPCMGenerator::Mark(uint32_t first, bool copied) {
    if (!runs_.empty() && runs_.back().copied && copied &&
        uint64_t{runs_.back().output} + (first - runs_.back().source) == outputCount_)
        return;  // continues the run before
    runs_.push_back({first, outputCount_, copied});
}

bool C_PitchShiftPCMGenerator::Append(uint32_t first, uint32_t last) {
    if (!ok_ || last < first || last >= count_) return ok_ = false;
    const uint32_t n = last - first + 1;
    if (uint64_t{outputCount_} + n > capacity_) return ok_ = false;
    if (frames_) {
        const uint8_t* from = frames_ + size_t{first} * frameBytes_;
        output_.insert(output_.end(), from, from + size_t{n} * frameBytes_);
    }
    outputCount_ += n;
    return true;
}

void C_PitchShiftPCMGenerator::CopyThrough(uint32_t last) {
    if (last == 0 || !ok_ || position_ >= count_) return;
    last = std::min(last, count_ - 1);
    if (last < position_) return;
    Mark(position_, true);
    if (Append(position_, last)) position_ = last + 1;
}

uint8_t C_PitchShiftPCMGenerator::EmitPeriod(uint32_t last) {
    if (last == 0 || !ok_ || position_ >= count_ || last < position_) return 0;
    last = std::min(last, count_ - 1);
    const uint32_t start = position_;
    const uint32_t length = last - start + 1;
    if (factor_ > 1.0) {
        CopyThrough(last);
        if (!ok_) return 0;
        const double ahead =
            (static_cast<double>(last) * factor_ - static_cast<double>(outputCount_)) / static_cast<double>(length);
        // truncate, then at most three emissions and never fewer than none
        const double emissions = std::clamp(std::trunc(ahead), 0.0, static_cast<double>(kMaxEmissions));
        const uint32_t r = static_cast<uint32_t>(emissions);
        for (uint32_t i = 1; i < r; ++i)
            if (!Append(start, last)) return 0;
        return static_cast<uint8_t>(r);
    }
    // The drop rule compares the output after this period with the source
    // position it starts at; at the very first sample there is nothing to
    // compare with, and the period is kept.
    const bool behind =
        start == 0 ||
        (static_cast<double>(outputCount_) + static_cast<double>(length)) / static_cast<double>(start) <= factor_;
    if (!behind && drops_ < kMaxDropsInRow) {
        ++drops_;
        Mark(start, false);
        position_ = last + 1;
        return 0;
    }
    Mark(start, true);
    if (!Append(start, last)) return 0;
    drops_ = 0;
    position_ = last + 1;
    return 1;
}

bool C_PitchShiftPCMGenerator::AppendAgain(uint32_t first, uint32_t last) {
    if (!ok_ || last < first || last >= position_) return false;
    const uint64_t n = uint64_t{last} - first + 1;
    if (uint64_t{outputCount_} + n > 0xFFFFFFFFull) return false;
    capacity_ += n;  // room for the repeat beyond the bound of the factor
    return Append(first, last);
}

const std::vector<uint8_t>& C_PitchShiftPCMGenerator::GetOutput() {
    if (position_ < count_) {
        // CopyThrough does nothing for 0: a one-frame remainder at the
        // start is copied here.
        if (count_ - 1 == 0) {
            Mark(0, true);
            if (Append(0, 0)) position_ = 1;
        } else {
            CopyThrough(count_ - 1);
        }
    }
    return output_;
}

uint32_t C_PitchShiftPCMGenerator::MapPosition(uint32_t sourceIndex) const {
    auto it = std::upper_bound(runs_.begin(), runs_.end(), sourceIndex,
                               [](uint32_t s, const S_Run& run) { return s < run.source; });
    if (it == runs_.begin()) return 0;
    --it;
    if (sourceIndex >= position_) return outputCount_;
    if (!it->copied) return it->output;
    return it->output + (sourceIndex - it->source);
}

}  // namespace cz
