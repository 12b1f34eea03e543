// Sample-rate conversion of 16-bit PCM: whole files, opened sounds, sample
// data and plain sample arrays.
#pragma once

#include <cstdint>

#include "foundation/I_ProgressCallback.h"

namespace cz {

class I_WavData;
class I_WavFile;

// The `mode` argument of every entry.
enum : int32_t {
    kResampleLinear = 0,  // linear interpolation (any mode other than 1 and 2)
    kResampleSinc = 1,    // band-limited interpolation, low-pass first when going down
    kResampleSinc2 = 2,   // the same as 1; the value the conversion chains pass
};
// The `spare` argument every entry takes and none reads; callers pass this.
constexpr double kResampleSpare = 1.0;

class I_PCMResample {
public:
    // Destroys an object made by C_PCMResample::Create.
    virtual void Release() = 0;
    // Opens `source` as any sound file the format registry knows, resamples
    // it to `targetRate` and saves the result to `destination` in the format
    // `formatId`. The destination is written even when the resampling fails
    // (but not when the source cannot be opened). Returns the result of
    // ResampleWavFile, 0 on failure.
    virtual int32_t ResampleFile(int32_t mode, const char* source, const char* destination, int32_t formatId,
                                 uint32_t targetRate, double spare, I_ProgressCallback* callback) = 0;
    // Resamples the sound of `source` into `destination`, whose format
    // becomes 16-bit signed at `targetRate` with the source's channels.
    virtual int32_t ResampleWavFile(int32_t mode, I_WavFile* source, I_WavFile* destination, uint32_t targetRate,
                                    double spare, I_ProgressCallback* callback) = 0;
    // Mono 16-bit samples. Modes 1 and 2: band-limited (sinc) interpolation,
    // with a low-pass first when the rate goes down; any other mode: linear
    // interpolation. Returns the number of samples produced, 0 on failure.
    virtual uint32_t ResampleSamples(int32_t mode, uint32_t sourceRate, uint32_t targetRate, uint32_t sourceCount,
                                     uint32_t destinationCount, const int16_t* source, int16_t* destination,
                                     double spare, I_ProgressCallback* callback) = 0;
    // Re-creates `destination` as `source` at `targetRate`, 16-bit signed,
    // every channel resampled, cue and label information carried over.
    // Returns the sample count of the last channel's run, 0 on failure.
    virtual uint32_t ResampleWavData(int32_t mode, I_WavData* source, I_WavData* destination, uint32_t targetRate,
                                     double spare, I_ProgressCallback* callback) = 0;
    virtual ~I_PCMResample() = default;
};

}  // namespace cz
