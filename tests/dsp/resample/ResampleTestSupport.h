// Helpers shared by the resampler tests: test signals and a progress
// recorder.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <vector>

#include "foundation/I_ProgressCallback.h"

namespace cz::test {

// n samples of uniform noise within +-amplitude, repeatable by seed.
inline std::vector<int16_t> Noise(size_t n, uint32_t seed, int amplitude = 20000) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(-amplitude, amplitude);
    std::vector<int16_t> x(n);
    for (auto& v : x) v = static_cast<int16_t>(dist(gen));
    return x;
}

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
