#include "dsp/resample/C_PCMResample.h"

#include <cmath>
#include <new>
#include <thread>
#include <vector>

#include "dsp/resample/ResampleKernels.h"
#include "platform/Platform.h"

namespace cz {

namespace {

// The progress thread reports at most this often...
constexpr uint32_t kProgressIntervalMs = 200;
// ...and notices the end of the run within this time.
constexpr uint32_t kStopPollMs = 10;

}  // namespace

// One run's progress reporting: OnBegin, the polling thread, and at the end
// the last percent and OnEnd (also when the run fails half way).
class C_PCMResample::ProgressRun {
public:
    explicit ProgressRun(C_PCMResample& owner) : owner_(owner), callback_(owner.callback_) {
        if (callback_) callback_->OnBegin();
        owner_.progress_.store(0.0, std::memory_order_relaxed);
        owner_.stop_.store(false);
        // Without a callback there is nobody to report to. A thread that
        // cannot start costs the reports, not the run.
        if (callback_) {
            I_ProgressCallback* callback = callback_;
            try {
                thread_ = std::thread([this, callback] { owner_.ProgressLoop(callback); });
            } catch (...) {
            }
        }
    }
    ~ProgressRun() {
        owner_.stop_.store(true);
        if (thread_.joinable()) thread_.join();
        if (callback_) callback_->OnEnd();
    }
    ProgressRun(const ProgressRun&) = delete;
    ProgressRun& operator=(const ProgressRun&) = delete;

    void Set(double percent) { owner_.progress_.store(percent, std::memory_order_relaxed); }

private:
    C_PCMResample& owner_;
    I_ProgressCallback* callback_;
    // std::thread until platform::Thread can be constructed outside its own
    // source file (its defaulted constructor needs the hidden Impl).
    std::thread thread_;
};

C_PCMResample::Pointer C_PCMResample::Create() {
    Pointer object(new C_PCMResample);
    object->heapOwned_ = true;
    return object;
}

C_PCMResample::~C_PCMResample() = default;

void C_PCMResample::Release() {
    // COM-style self-destruction of objects from Create; stack objects stay.
    if (heapOwned_) delete this;
}

uint32_t C_PCMResample::DestinationCount(uint32_t sourceRate, uint32_t targetRate, uint32_t sourceCount) {
    if (!ValidRate(sourceRate) || !ValidRate(targetRate)) return 0;
    const double count = std::trunc(static_cast<double>(targetRate) / static_cast<double>(sourceRate) *
                                        static_cast<double>(sourceCount) +
                                    0.5);
    if (!(count >= 0.0) || count > 4294967295.0) return 0;
    return static_cast<uint32_t>(count);
}

uint32_t C_PCMResample::ResampleSamples(int32_t mode, uint32_t sourceRate, uint32_t targetRate, uint32_t sourceCount,
                                        uint32_t destinationCount, const int16_t* source, int16_t* destination,
                                        double /*spare*/, I_ProgressCallback* callback) {
    // The callback serves this run only; a later run without one reports
    // nowhere rather than to an object that may be gone.
    callback_ = callback;
    if (!ValidRate(sourceRate) || !ValidRate(targetRate)) return 0;
    if (sourceCount == 0 || destinationCount == 0 || source == nullptr || destination == nullptr) return 0;
    ratio_ = static_cast<double>(targetRate) / static_cast<double>(sourceRate);
    try {
        if (mode == 1 || mode == 2) return RunSinc(sourceCount, destinationCount, source, destination);
        return RunLinear(sourceCount, destinationCount, source, destination);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

uint32_t C_PCMResample::RunSinc(uint32_t sourceCount, uint32_t destinationCount, const int16_t* source,
                                int16_t* destination) {
    ProgressRun run(*this);
    const std::vector<double> table = resample::BuildSincTable();

    const int16_t* input = source;
    size_t start = 0;
    double base = 0.0;
    double share = 100.0;
    std::vector<int16_t> filtered;
    if (ratio_ < 1.0) {
        const std::vector<double> h = resample::DesignPreFilter(ratio_);
        filtered.resize(sourceCount);
        const double perInput = 50.0 / sourceCount;
        resample::ApplyPreFilter(h, source, sourceCount, filtered.data(),
                                 [&](size_t done) { run.Set(static_cast<double>(done) * perInput); });
        input = filtered.data();
        // The filter's order: its output is read from there on.
        start = h.size() - 1;
        base = 50.0;
        share = 50.0;
    }
    // An input no longer than the filter leaves nothing to read: the window
    // sees zeros only.
    const size_t remaining = sourceCount > start ? sourceCount - start : 0;
    const double step = static_cast<double>(remaining) / static_cast<double>(destinationCount);
    const double perOutput = share / destinationCount;
    resample::ApplySincInterpolation(table, input + (remaining ? start : 0), remaining, step, destination,
                                     destinationCount,
                                     [&](size_t done) { run.Set(base + static_cast<double>(done) * perOutput); });
    run.Set(100.0);
    return destinationCount;
}

uint32_t C_PCMResample::RunLinear(uint32_t sourceCount, uint32_t destinationCount, const int16_t* source,
                                  int16_t* destination) {
    ProgressRun run(*this);
    const double perOutput = 100.0 / destinationCount;
    const size_t written =
        resample::ApplyLinearInterpolation(ratio_, source, sourceCount, destination, destinationCount,
                                           [&](size_t done) { run.Set(static_cast<double>(done) * perOutput); });
    run.Set(100.0);
    return static_cast<uint32_t>(written);
}

void C_PCMResample::ProgressLoop(I_ProgressCallback* callback) {
    int32_t last = -1;
    for (;;) {
        const bool stopping = stop_.load();
        const auto percent = static_cast<int32_t>(progress_.load(std::memory_order_relaxed));
        if (percent > last) {
            callback->OnProgress(percent);
            last = percent;
        }
        if (stopping) return;
        for (uint32_t waited = 0; waited < kProgressIntervalMs && !stop_.load(); waited += kStopPollMs) {
            platform::SleepMs(kStopPollMs);
        }
    }
}

void C_PCMResample::OnBegin() {
    if (userCallback_ && stage_ <= 1) userCallback_->OnBegin();
}

void C_PCMResample::OnProgress(int32_t percent) {
    if (!userCallback_) return;
    if (stage_ == 0 || stageCount_ <= 0) {
        userCallback_->OnProgress(percent);
    } else {
        userCallback_->OnProgress((percent + 100 * (stage_ - 1)) / stageCount_);
    }
}

void C_PCMResample::OnEnd() {
    if (userCallback_ && (stage_ == 0 || stage_ >= stageCount_)) userCallback_->OnEnd();
}

// ---- sounds and files --------------------------------------------------------

int32_t C_PCMResample::ResampleFile(int32_t, const char*, const char*, int32_t, uint32_t, double,
                                    I_ProgressCallback*) {
    return 0;
}

int32_t C_PCMResample::ResampleWavFile(int32_t, I_WavFile*, I_WavFile*, uint32_t, double, I_ProgressCallback*) {
    return 0;
}

uint32_t C_PCMResample::ResampleWavData(int32_t, I_WavData*, I_WavData*, uint32_t, double, I_ProgressCallback*) {
    return 0;
}

}  // namespace cz
