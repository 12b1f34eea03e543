// Helpers shared by the resampler tests: the test signals and a progress
// recorder.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "foundation/I_ProgressCallback.h"
#include "support/Signals.h"

namespace cz::test {

// Counts OnBegin and OnEnd and keeps every percent reported (from any thread).
struct Recorder : I_ProgressCallback {
    std::atomic<int> begins{0}, ends{0};
    std::mutex lock;
    std::vector<int32_t> percents;
    void OnBegin() override { ++begins; }
    void OnProgress(int32_t p) override {
        std::lock_guard<std::mutex> guard(lock);
        percents.push_back(p);
    }
    void OnEnd() override { ++ends; }
};

}  // namespace cz::test
