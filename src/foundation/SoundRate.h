// The lowest sample rate the library takes from a file or a caller. A rate
// field is untrusted: a WAV or chip header that says 1 Hz would otherwise make
// a resampler size an output of billions of samples from a few kilobytes.
#pragma once

#include <cstdint>

namespace cz {

// No sound file in use is recorded below this rate.
constexpr uint32_t kMinSoundRate = 1000;

// True when `rate` is at least kMinSoundRate; otherwise shows a message
// naming the rate and `what` (the file or the step that carried it).
bool AcceptSoundRate(uint32_t rate, const char* what);

}  // namespace cz
