// The pitch shifter on arbitrary sample data and settings.
//
// Input: byte 0 the length factor (0.25 + byte / 64, up to 4.2: above 4 must
// be refused), byte 1 the format (bit 0: two channels; bits 1-2: 8, 16, 32
// or 12-in-16-bit samples; bit 3: unsigned), bytes 2-3 the minimum and
// maximum period offsets, byte 4 the threshold, the rest the sample bytes
// (cut to whole frames, as the caller's buffer). Every accepted run must
// keep the frame size and reach the factor times the input's frames within
// one period (the maximum); a sound without periods is refused unless the
// factor leaves its length as it is.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dsp/pitch/C_PCMPitchShift.h"
#include "wave/C_WavData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    cz::S_PitchShiftParameters p;
    p.factor = 0.25 + data[0] / 64.0;
    p.minimumPeriod = 1 + data[2] % 80;
    p.maximumPeriod = p.minimumPeriod + 1 + data[3];
    p.threshold = data[4];
    cz::C_PCMPitchShift shifter;
    const bool accepted = shifter.SetParameters(p);
    if (accepted != (p.factor <= cz::I_PCMPitchShift::kMaxFactor)) std::abort();
    const uint16_t channels = 1 + (data[1] & 1);
    const uint16_t widths[4][2] = {{8, 8}, {16, 16}, {32, 32}, {12, 16}};
    const uint16_t valid = widths[(data[1] >> 1) & 3][0], container = widths[(data[1] >> 1) & 3][1];
    const uint32_t signedFlag = (data[1] & 8) ? 0 : 1;
    const uint32_t frame = channels * container / 8u;
    const uint32_t bytes = static_cast<uint32_t>((size - 5) / frame * frame);
    cz::I_WavData* result = nullptr;
    const int32_t ok =
        shifter.ProcessBuffer(data + 5, bytes, 8000, channels, valid, container, signedFlag, nullptr, &result);
    if (ok && result) {
        const uint32_t out = result->GetDataSize();
        if (out % frame != 0) std::abort();
        // The settings in force: a refused record leaves the defaults.
        const cz::S_PitchShiftParameters& used = shifter.Parameters();
        const double target = std::floor(static_cast<double>(bytes / frame) * used.factor + 0.5);
        if (std::fabs(static_cast<double>(out / frame) - target) > used.maximumPeriod + 1.0) std::abort();
        if (shifter.Periods().GetCount() == 0 && out != bytes) std::abort();
        result->Release();
    } else if (ok != 0 || result) {
        std::abort();
    }
    return 0;
}
