// Test-side helpers for the WMA frame decoder: decoding the units of a file
// and comparing samples.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "AsfUnits.h"
#include "decoders/wma/WmaDecoder.h"

namespace cz::wma::test {

// Decodes every unit; a unit that fails leaves the decoder reset.
inline std::vector<int16_t> DecodeAll(const AsfAudio& audio, int* failures = nullptr) {
    WmaDecoder decoder;
    std::vector<int16_t> out;
    if (!decoder.Open(audio.format)) return out;
    for (const auto& u : audio.units) {
        if (!decoder.DecodeUnit(u.data(), u.size(), out)) {
            if (failures) ++*failures;
            decoder.Reset();
        }
    }
    decoder.Flush(out);
    return out;
}

struct Difference {
    double rms = 0;
    int maxAbs = 0;
    size_t compared = 0;
    double snrDb = 0;
    double levelDb = 0;  // ours minus reference, RMS level
};

inline Difference Compare(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref) {
    Difference d;
    const size_t n = std::min(ours.size(), ref.size());
    double sum = 0, sig = 0, own = 0;
    for (size_t i = 0; i < n; ++i) {
        const int e = int(ours[i]) - int(ref[i]);
        sum += double(e) * e;
        sig += double(ref[i]) * ref[i];
        own += double(ours[i]) * ours[i];
        d.maxAbs = std::max(d.maxAbs, std::abs(e));
    }
    d.compared = n;
    d.rms = n ? std::sqrt(sum / double(n)) : 0;
    d.snrDb = sum > 0 ? 10 * std::log10(sig / sum) : 200;
    d.levelDb = sig > 0 && own > 0 ? 10 * std::log10(own / sig) : 0;
    return d;
}

inline std::vector<int16_t> ReadPcm(const std::string& path) {
    const std::vector<uint8_t> b = cz::test::ReadFileBytes(path);
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(b[2 * i] | (b[2 * i + 1] << 8));
    return s;
}

}  // namespace cz::wma::test
