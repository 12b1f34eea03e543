// Helpers of the MP3 tests: encoding test clips with sox and lame, decoding
// with the driver and with mpg123, and comparing PCM.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "support/LittleEndian.h"
#include "support/TestSupport.h"

namespace cz::mp3::test {

inline bool HaveEncoders() { return cz::test::HaveTool("sox") && cz::test::HaveTool("lame"); }

// Runs sox with the given format ("-r 44100 -c 2 -b 16") and effects ("synth
// 2 pinknoise") into wav, then lame with its arguments into mp3. False when a
// tool fails.
inline bool MakeMp3(const std::string& wav, const std::string& mp3, const std::string& soxFormat,
                    const std::string& soxEffects, const std::string& lameArgs) {
    if (cz::test::RunCommand("sox -n " + soxFormat + " '" + wav + "' " + soxEffects + " 2>/dev/null") != 0) {
        return false;
    }
    return cz::test::RunCommand("lame --quiet " + lameArgs + " '" + wav + "' '" + mp3 + "' 2>/dev/null") == 0;
}

// The 16-bit samples of bytes from the offset on.
inline std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes, size_t from) {
    return from < bytes.size() ? cz::test::Samples16({bytes.begin() + static_cast<long>(from), bytes.end()})
                               : std::vector<int16_t>{};
}

// PCM of a WAV file written by the driver (44-byte header).
inline std::vector<int16_t> WavSamples(const std::vector<uint8_t>& wav) {
    return wav.size() > 44 ? Samples(wav, 44) : std::vector<int16_t>{};
}

using cz::test::Le16At;
using cz::test::Le32At;

struct Difference {
    double rms = 1e9;
    int maxAbs = 1 << 30;
    size_t compared = 0;
    size_t skipped = 0;
};

// Compares ours against the reference after dropping `skip` leading samples
// of ours, for each candidate skip, and keeps the best alignment.
inline Difference Compare(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference,
                          const std::vector<size_t>& skips) {
    Difference best;
    for (size_t skip : skips) {
        if (skip >= ours.size()) {
            continue;
        }
        const size_t n = std::min(ours.size() - skip, reference.size());
        if (n == 0) {
            continue;
        }
        double sum = 0;
        int maxAbs = 0;
        for (size_t i = 0; i < n; ++i) {
            const int d = int(ours[i + skip]) - int(reference[i]);
            sum += double(d) * d;
            maxAbs = std::max(maxAbs, std::abs(d));
        }
        const double rms = std::sqrt(sum / double(n));
        if (rms < best.rms) {
            best = {rms, maxAbs, n, skip};
        }
    }
    return best;
}

}  // namespace cz::mp3::test
