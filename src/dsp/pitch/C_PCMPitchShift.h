// The pitch shifter: period detection over a recording, then regeneration
// with whole periods repeated or dropped (C_PitchShiftPCMGenerator).
//
// Detection walks the recording: at each position it tries candidate
// periods p from the minimum upward (by the period step, below the
// maximum) and takes the first whose two stretches [u, u + p) and
// [u + p, u + 2p) differ by less than the threshold percentage
// (DifferencePercentage). On a smooth wave that first lag lies a few
// samples short of the period, so the lag then moves on to the local
// minimum of the percentage and is refined to a fraction of a sample; the
// period lengths are the whole numbers that keep the boundaries on the
// fractional periods (61, 62, 61, 62 ... for 61.5). The period is
// [u, u + length - 1] and the walk goes on at u + length. Where no
// candidate qualifies it advances by the skip step. The walk stops twice
// the maximum period before the end, so a recording shorter than that has
// no periods.
//
// The complete operation (ProcessWavData) regenerates the sound to the
// factor times its length: within half a period where the periods allow,
// in two passes for factors beyond 3 (or below 1/3) that one pass cannot
// reach with three emissions (or three drops in a row) at most. A sound
// without periods, or with too few to reach the length, is refused.
//
// Samples are compared on a 16-bit scale whatever their width (a 12-bit
// sample counts sixteen times its value), so that the quiet-stretch limit
// means the same loudness for every format; sounds of several channels are
// analysed as the mean of their channels and regenerated frame by frame.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dsp/pitch/C_PCMSimpleAlgorithm.h"
#include "dsp/pitch/C_PitchShiftPCMGenerator.h"
#include "dsp/pitch/C_PitchShiftPeriod.h"
#include "dsp/pitch/I_PCMPitchShift.h"
#include "foundation/RefPtr.h"

namespace cz {

class C_PCMPitchShift : public C_PCMSimpleAlgorithm<I_PCMPitchShift> {
public:
    // The factors of the ten generation variants whose emit counts a
    // period keeps (variant 0 ... 9).
    static constexpr double kVariantFactors[C_PitchShiftPeriod::kVariantCount] = {0.5, 0.6, 0.7, 0.8, 0.9,
                                                                                  1.2, 1.4, 1.6, 1.8, 2.0};
    // Stretches at least this long whose mean magnitude stays below
    // kQuietMean count as matching (percentage 0).
    static constexpr uint32_t kQuietLength = 120;
    static constexpr uint64_t kQuietMean = 129;

    // Reads sample i (on the 16-bit scale) of the recording being analysed.
    using SampleReader = std::function<int32_t(uint32_t index)>;

    // An object that Release destroys. Objects may as well live on the
    // stack; Release is then a no-op.
    static RefPtr<C_PCMPitchShift> Create();

    C_PCMPitchShift() = default;
    ~C_PCMPitchShift() override = default;
    C_PCMPitchShift(const C_PCMPitchShift&) = delete;
    C_PCMPitchShift& operator=(const C_PCMPitchShift&) = delete;

    void Release() override;
    // Detects the periods of data's samples, regenerates them to the shift
    // factor times their length and stores the result as data's samples;
    // action events and silence segments move with the samples they mark.
    // 0 (data unchanged, FailureReason says why) for data without format or
    // samples it can read, a sound without pitch periods (unless the factor
    // is 1), one whose periods cannot carry the length, or an output beyond
    // what a sound can hold.
    int32_t ProcessWavData(I_WavData* data, I_ProgressCallback* callback) override;
    // Why the last ProcessWavData failed ("" after a success).
    const char* FailureReason() const { return failure_.c_str(); }
    bool SetParameters(const S_PitchShiftParameters& parameters) override;
    const S_PitchShiftParameters& Parameters() const { return parameters_; }

    // Replaces the period list with the periods of count samples read
    // through reader. With a callback: OnBegin, a percent on every round,
    // 100 and OnEnd.
    void DetectPeriods(const SampleReader& reader, uint32_t count, I_ProgressCallback* callback);
    // The same over samples in memory.
    void DetectPeriods(const std::vector<int32_t>& samples, I_ProgressCallback* callback);
    // Runs generator over the period list and a recording of count samples,
    // storing each period's emission count as variant's (0 ... 9; others
    // are not stored). False when the generator ran out of room.
    bool GeneratePeriods(C_PitchShiftPCMGenerator& generator, uint32_t count, int variant);

    // The difference percentage of the stretches at a and b of length n of
    // the stored samples (both must lie inside them).
    double DifferencePercentage(uint32_t a, uint32_t b, uint32_t n) const;

    const C_PitchShiftPeriodList& Periods() const { return periods_; }
    C_PitchShiftPeriodList& Periods() { return periods_; }
    const std::vector<int32_t>& Samples() const { return samples_; }

private:
    // Whether the stretches at a and b of length n differ by less than the
    // threshold: DifferencePercentage(a, b, n) < threshold, decided early
    // where the sum of differences already settles it.
    bool Matches(uint32_t a, uint32_t b, uint32_t n) const;
    // Whether the n samples at a are a quiet stretch (percentage 0).
    bool IsQuiet(uint32_t a, uint32_t n) const;
    // From the accepted lag p on, the lag where the percentage of the
    // stretches at u stops falling (by the period step, below the maximum).
    uint32_t LocalMinimum(uint32_t u, uint32_t p) const;
    // The fraction of a sample (-0.5 ... 0.5) by which the period at u lies
    // off the whole lag p.
    double SubSampleOffset(uint32_t u, uint32_t p) const;
    // One regeneration of frames (count of frameBytes each) with mono the
    // detection's view of them, toward a length of want frames; the
    // result replaces frames and mono, and marks (sample positions) move
    // along. False with failure_ set when it cannot be done.
    bool RunPass(std::vector<uint8_t>& frames, uint32_t frameBytes, std::vector<int32_t>& mono, double want,
                 std::vector<uint32_t>& marks, I_ProgressCallback* callback);
    bool Fail(const char* reason) {
        failure_ = reason;
        return false;
    }

    S_PitchShiftParameters parameters_;
    C_PitchShiftPeriodList periods_;
    std::vector<int32_t> samples_;
    // Running sums of |sample|: magnitude_[i] is the sum over [0, i).
    std::vector<uint64_t> magnitude_;
    std::string failure_;
    bool heapOwned_ = false;
};

}  // namespace cz
