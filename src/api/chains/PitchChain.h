// Pitch shifting of a whole sound, for the tool and the benchmarks: the
// period-wise regeneration alone (the length changes by the factor, the
// pitch stays), or followed by the resampler so that the sound lasts as
// long as before and its pitch changes by the factor.
#pragma once

#include <string>

#include "foundation/I_ProgressCallback.h"

namespace cz {
class C_WavData;
}

namespace cz::api {

// Pitch factor of a shift by semitones (2 to the power semitones / 12).
double SemitoneFactor(double semitones);

// Regenerates sound by whole periods to factor times its length. With
// keepDuration, the result is then taken as lasting as long as the source
// (rate x factor) and resampled back to the source rate: the same length,
// the pitch times factor. Sounds of 24-bit containers are taken as 16-bit
// first. Progress: the period detection on detection, the resampling on
// resampling (either may be none). false with *why set when the sound
// cannot be shifted; the sound is then unchanged.
bool ShiftPitch(C_WavData& sound, double factor, bool keepDuration, I_ProgressCallback* detection,
                I_ProgressCallback* resampling, std::string* why);

}  // namespace cz::api
