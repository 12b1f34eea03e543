// Helpers of the MP3 tests: encoding test clips with sox and lame, decoding
// with the driver and with mpg123, and comparing PCM.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "support/TestSupport.h"

namespace cz::mp3::test {

inline bool HaveEncoders() {
    return cz::test::HaveTool("sox") && cz::test::HaveTool("lame");
}

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

inline std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes, size_t from) {
    std::vector<int16_t> out;
    for (size_t i = from; i + 1 < bytes.size(); i += 2) {
        out.push_back(int16_t(bytes[i] | (bytes[i + 1] << 8)));
    }
    return out;
}

// PCM of a WAV file written by the driver (44-byte header).
inline std::vector<int16_t> WavSamples(const std::vector<uint8_t>& wav) {
    return wav.size() > 44 ? Samples(wav, 44) : std::vector<int16_t>{};
}

inline uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

inline uint16_t U16At(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] | (b[at + 1] << 8));
}

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
