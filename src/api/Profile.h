// The two faces of the tool and of the library's own interface:
//
// - Best (the default): the best sound the chip formats can carry: gapless
//   MP3 decoding (the encoder's delay and padding taken off), clean
//   resampling (nothing folds back below the new Nyquist frequency) and the
//   searching ADPCM coders at an effort (high unless set).
// - Compatible: exactly the bytes the exported functions write: MP3 decoded
//   frame by frame, the resampler's sinc interpolation with its pre-filter,
//   the classic coders.
//
// The settings reach the layers below through their own options (the MP3
// driver's gapless switch, the resampler's clean mode, the write parameters'
// search effort); nothing below the interface includes this header.
#pragma once

#include <cstdint>
#include <string>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "api/resconv/C_ResourceConverter.h"
#include "dsp/resample/C_PCMResample.h"
#include "wave/C_WriteWavParam.h"

namespace cz::api {

enum class ProfileKind { kBest, kCompatible };

struct Profile {
    ProfileKind kind = ProfileKind::kBest;
    // The coders' search effort under the best profile.
    AdpcmEffort effort = AdpcmEffort::kHigh;

    static Profile Best(AdpcmEffort effort = AdpcmEffort::kHigh) { return {ProfileKind::kBest, effort}; }
    static Profile Compatible() { return {ProfileKind::kCompatible, AdpcmEffort::kClassic}; }

    bool IsCompatible() const { return kind == ProfileKind::kCompatible; }
    bool GaplessMp3() const { return !IsCompatible(); }
    bool CleanResampling() const { return !IsCompatible(); }
    AdpcmEffort CoderEffort() const { return IsCompatible() ? AdpcmEffort::kClassic : effort; }

    void ApplyTo(mp3::C_Mp3ToWavConverter& decoder) const { decoder.SetGapless(GaplessMp3()); }
    void ApplyTo(C_PCMResample& resampler) const { resampler.SetClean(CleanResampling()); }
    void ApplyTo(C_WriteWavParam& param) const { param.SetSearchEffort(static_cast<uint8_t>(CoderEffort())); }
    // WAV to XMF: the sound coded to APM on the way with the profile's coder.
    void ApplyTo(C_ResourceConverter& converter) const {
        converter.SetSearchEffort(static_cast<uint8_t>(CoderEffort()));
    }

    // "best (effort high)" or "compatible".
    std::string Name() const {
        if (IsCompatible()) return "compatible";
        return std::string("best (effort ") + EffortName(effort) + ")";
    }

    static const char* EffortName(AdpcmEffort e) {
        switch (e) {
            case AdpcmEffort::kFast: return "fast";
            case AdpcmEffort::kHigh: return "high";
            case AdpcmEffort::kMax: return "max";
            default: return "classic";
        }
    }
    // "fast", "high" or "max"; false for anything else.
    static bool ParseEffort(const std::string& text, AdpcmEffort* effort) {
        if (text == "fast")
            *effort = AdpcmEffort::kFast;
        else if (text == "high")
            *effort = AdpcmEffort::kHigh;
        else if (text == "max")
            *effort = AdpcmEffort::kMax;
        else
            return false;
        return true;
    }
};

}  // namespace cz::api
