// The resampler: sinc interpolation (modes 1 and 2) with a Kaiser-windowed
// low-pass before going down in rate, or linear interpolation (other modes).
// Progress is polled every 200 ms by a thread of the run and reported to the
// run's callback; two-channel (and wider) sounds report one rising percent
// over all their channels through the object's own callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "dsp/resample/I_PCMResample.h"
#include "foundation/I_ProgressCallback.h"
#include "foundation/RefPtr.h"
#include "foundation/SoundRate.h"

namespace cz {

namespace resample {
class CleanResampler;
}

class C_PCMResample : public I_PCMResample, public I_ProgressCallback {
public:
    // Lowest and highest sample rate accepted on either side.
    static constexpr uint32_t kMinRate = kMinSoundRate;
    static constexpr uint32_t kMaxRate = 384000;
    // The rate goes up or down by at most this factor in one run.
    static constexpr uint32_t kMaxRatio = 256;
    // Most sample bytes one output may hold: what a RIFF file can carry with
    // its header, format and data chunk headers.
    static constexpr uint64_t kMaxOutputBytes = 0xFFFFFFFFull - 44;

    using Pointer = RefPtr<C_PCMResample>;

    // An object that Release destroys. Objects may as well live on the stack;
    // Release is then a no-op.
    static Pointer Create();

    C_PCMResample() = default;
    ~C_PCMResample() override;
    C_PCMResample(const C_PCMResample&) = delete;
    C_PCMResample& operator=(const C_PCMResample&) = delete;

    void Release() override;
    int32_t ResampleFile(int32_t mode, const char* source, const char* destination, int32_t formatId,
                         uint32_t targetRate, double spare, I_ProgressCallback* callback) override;
    int32_t ResampleWavFile(int32_t mode, I_WavFile* source, I_WavFile* destination, uint32_t targetRate, double spare,
                            I_ProgressCallback* callback) override;
    uint32_t ResampleSamples(int32_t mode, uint32_t sourceRate, uint32_t targetRate, uint32_t sourceCount,
                             uint32_t destinationCount, const int16_t* source, int16_t* destination, double spare,
                             I_ProgressCallback* callback) override;
    uint32_t ResampleWavData(int32_t mode, I_WavData* source, I_WavData* destination, uint32_t targetRate, double spare,
                             I_ProgressCallback* callback) override;

    // Clean resampling for the sinc modes (1 and 2), off by default: the
    // rational polyphase filter of dsp/resample/CleanResample.h, whose
    // transition band lies below the lower Nyquist frequency (nothing folds
    // back, no images stay). The linear mode is unaffected.
    void SetClean(bool on) { clean_ = on; }
    bool Clean() const { return clean_; }

    // Target rate / source rate of the last run (1.0 before any).
    double Ratio() const { return ratio_; }

    // Destination sample count for a source of `sourceCount` samples: the
    // nearest whole number to sourceCount * target / source. 0 when either
    // rate is out of range, the two are further apart than kMaxRatio, or the
    // count does not fit 32 bits.
    static uint32_t DestinationCount(uint32_t sourceRate, uint32_t targetRate, uint32_t sourceCount);
    static bool ValidRate(uint32_t rate) { return rate >= kMinRate && rate <= kMaxRate; }
    // Both rates valid and within kMaxRatio of each other.
    static bool ValidRatePair(uint32_t sourceRate, uint32_t targetRate) {
        if (!ValidRate(sourceRate) || !ValidRate(targetRate)) return false;
        const uint64_t low = sourceRate < targetRate ? sourceRate : targetRate;
        const uint64_t high = sourceRate < targetRate ? targetRate : sourceRate;
        return high <= low * kMaxRatio;
    }

private:
    // The rates of a sound run: both valid and close enough, or a message
    // naming them and false.
    static bool CheckRates(uint32_t sourceRate, uint32_t targetRate);

    // I_ProgressCallback, used in runs over several channels: one OnBegin,
    // percents rising over all channels, one OnEnd.
    void OnBegin() override;
    void OnProgress(int32_t percent) override;
    void OnEnd() override;

    class ProgressRun;
    uint32_t RunSinc(uint32_t sourceCount, uint32_t destinationCount, const int16_t* source, int16_t* destination);
    uint32_t RunClean(uint32_t sourceRate, uint32_t targetRate, uint32_t sourceCount, uint32_t destinationCount,
                      const int16_t* source, int16_t* destination);
    uint32_t RunLinear(uint32_t sourceCount, uint32_t destinationCount, const int16_t* source, int16_t* destination);
    void ProgressLoop(I_ProgressCallback* callback);

    double ratio_ = 1.0;
    // Percent done of the current run; written by the run, read by the
    // progress thread.
    std::atomic<double> progress_{0.0};
    // 0 single pass; k (1-based) while channel k of stageCount_ runs.
    int32_t stage_ = 0;
    int32_t stageCount_ = 0;
    I_ProgressCallback* callback_ = nullptr;
    I_ProgressCallback* userCallback_ = nullptr;
    // Ends this object's progress thread; other objects run undisturbed.
    std::atomic<bool> stop_{true};
    bool heapOwned_ = false;
    bool clean_ = false;
    // The clean filter of the last rate pair, kept for the next channel.
    std::shared_ptr<const resample::CleanResampler> cleanDesign_;
    uint32_t cleanFrom_ = 0, cleanTo_ = 0;
};

}  // namespace cz
