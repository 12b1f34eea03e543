// Pitch shifting by whole pitch periods: the recording is cut into the
// periods of its voiced parts and regenerated with periods repeated or
// dropped, so that its length changes by a factor while every period keeps
// its shape. Played back at a rate changed by the same factor (or resampled
// back to the source rate), the result is the same speech at another pitch.
#pragma once

#include <cstdint>

#include "foundation/I_ProgressCallback.h"

namespace cz {

class I_WavData;
class I_WavFile;

// A simple in-place PCM algorithm: a file, an opened sound, sample data or a
// plain buffer in, the same thing changed out. Every entry returns 1 on
// success and 0 on failure.
class I_PCMSimpleAlgorithm {
public:
    // Destroys an object made on the heap by its class's Create.
    virtual void Release() = 0;
    // Opens source as any sound file the format registry knows, processes it
    // and saves it to destination in the format formatId. Nothing is written
    // when the source cannot be opened or processed.
    virtual int32_t ProcessFile(const char* source, const char* destination, int32_t formatId,
                                I_ProgressCallback* callback) = 0;
    // Processes the sound of an opened file; 0 for no file.
    virtual int32_t ProcessWavFile(I_WavFile* file, I_ProgressCallback* callback) = 0;
    // Processes sample data in place: its samples (and their count) are
    // replaced by the result.
    virtual int32_t ProcessWavData(I_WavData* data, I_ProgressCallback* callback) = 0;
    // Processes a caller's buffer of interleaved PCM in the format given.
    // The buffer is read, never written: the result goes to a sound of its
    // own, which *result receives (with one reference for the caller) when
    // result is given.
    virtual int32_t ProcessBuffer(const uint8_t* buffer, uint32_t size, uint32_t rate, uint16_t channels,
                                  uint16_t validBits, uint16_t containerBits, uint32_t signedFlag,
                                  I_ProgressCallback* callback, I_WavData** result) = 0;

protected:
    // Objects go through Release; the destructor's slot comes last, after
    // the operations a derived interface adds.
    ~I_PCMSimpleAlgorithm() = default;
};

// The seven settings of the pitch shifter, in the order SetParameters takes
// them.
struct S_PitchShiftParameters {
    // Length factor of the complete operation (ProcessWavData).
    double factor = 1.0;
    // Shortest period tried, in samples.
    int32_t minimumPeriod = 40;
    // Candidate periods stay below this, in samples.
    int32_t maximumPeriod = 150;
    // Increment between candidate periods.
    int32_t periodStep = 1;
    // Advance in samples where no period is found.
    int32_t skipStep = 5;
    // Back-off after a found period: the next search would start this many
    // samples earlier if that were more than the minimum period; with the
    // non-negative values in use it has no effect (kept in the record).
    int32_t backOff = 10;
    // Largest difference percentage accepted as a period.
    double threshold = 50.0;
};

class I_PCMPitchShift : public I_PCMSimpleAlgorithm {
public:
    // Replaces the settings; false (nothing changed) when they cannot work:
    // a factor outside kMinFactor ... kMaxFactor or not a number, a minimum
    // period below 1, a maximum not above the minimum or above
    // kMaxPeriod, a step below 1, or a threshold that is not a number.
    virtual bool SetParameters(const S_PitchShiftParameters& parameters) = 0;

    static constexpr double kMinFactor = 0.25;
    static constexpr double kMaxFactor = 4.0;
    static constexpr int32_t kMaxPeriod = 65535;

protected:
    virtual ~I_PCMPitchShift() = default;
};

}  // namespace cz
