#include "common/SpeechCoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/SiblingCommon.h"

namespace cz::sibling {

namespace {
constexpr uint32_t kSteps = 80;
constexpr uint64_t kMaxCodedFile = 1u << 28;

int16_t Clamp16(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Codes one block from prev; returns the squared error and fills codes.
uint64_t CodeBlock(const int32_t* x, uint32_t n, uint32_t bits, int32_t step, int32_t prev, uint8_t* codes,
                   int32_t* last) {
    const int32_t lo = -(1 << (bits - 1)), hi = (1 << (bits - 1)) - 1;
    uint64_t error = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t diff = x[i] - prev;
        int32_t c = diff >= 0 ? diff / step : -((-diff + step - 1) / step);
        c = std::clamp(c, lo, hi);
        prev = Clamp16(prev + (2 * c + 1) * step / 2);
        const int64_t e = x[i] - prev;
        error += static_cast<uint64_t>(e * e);
        codes[i] = static_cast<uint8_t>(c - lo);
    }
    *last = prev;
    return error;
}
}  // namespace

int32_t StepOf(uint32_t index) {
    // 4 x 1.12^index, rounded: 4 .. about 31000.
    int32_t step = 4;
    double s = 4.0;
    for (uint32_t i = 0; i < index; ++i) s = s * 1.12;
    step = static_cast<int32_t>(s + 0.5);
    return std::max(step, 1);
}

std::vector<uint8_t> EncodeSpeech(std::span<const int16_t> samples, const S_CoderSettings& st) {
    const uint32_t d = std::clamp<uint32_t>(st.decimation, 1, 8);
    const uint32_t bits = std::clamp<uint32_t>(st.bits, 1, 8);
    const uint32_t block = std::clamp<uint32_t>(st.block, 1, 4096);
    static const std::array<int32_t, kSteps> steps = [] {
        std::array<int32_t, kSteps> t{};
        for (uint32_t i = 0; i < kSteps; ++i) t[i] = StepOf(i);
        return t;
    }();
    std::vector<int32_t> x((samples.size() + d - 1) / d);
    for (size_t k = 0; k < x.size(); ++k) {
        int64_t sum = 0;
        uint32_t n = 0;
        for (uint32_t j = 0; j < d && k * d + j < samples.size(); ++j, ++n) sum += samples[k * d + j];
        x[k] = static_cast<int32_t>(sum / static_cast<int64_t>(n));
    }
    std::vector<uint8_t> out = {'C', 'Z', 'S', 'C'};
    Put32(out, static_cast<uint32_t>(samples.size()));
    out.push_back(static_cast<uint8_t>(bits));
    out.push_back(static_cast<uint8_t>(d));
    out.push_back(static_cast<uint8_t>(block));
    out.push_back(static_cast<uint8_t>(block >> 8));
    Put32(out, st.rate);
    std::vector<uint8_t> codes(block), best(block);
    int32_t prev = 0;
    for (size_t at = 0; at < x.size(); at += block) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, x.size() - at));
        // Start from the step that covers the largest difference, then try
        // its neighbours and keep the one with the least error.
        int32_t largest = 0, p = prev;
        for (uint32_t i = 0; i < n; ++i) {
            largest = std::max(largest, std::abs(x[at + i] - p));
            p = x[at + i];
        }
        const int32_t want = std::max(1, 2 * largest / (1 << bits));
        uint32_t guess = 0;
        while (guess + 1 < kSteps && steps[guess] < want) ++guess;
        uint64_t bestError = UINT64_MAX;
        uint32_t bestIndex = guess;
        int32_t bestLast = prev;
        const uint32_t from = guess >= 6 ? guess - 6 : 0, to = std::min(kSteps - 1, guess + 1);
        for (uint32_t idx = from; idx <= to; ++idx) {
            int32_t last = 0;
            const uint64_t e = CodeBlock(&x[at], n, bits, steps[idx], prev, codes.data(), &last);
            if (e < bestError) {
                bestError = e;
                bestIndex = idx;
                bestLast = last;
                best.swap(codes);
            }
        }
        prev = bestLast;
        out.push_back(static_cast<uint8_t>(bestIndex));
        uint32_t acc = 0, fill = 0;
        for (uint32_t i = 0; i < n; ++i) {
            acc |= static_cast<uint32_t>(best[i]) << fill;
            fill += bits;
            while (fill >= 8) {
                out.push_back(static_cast<uint8_t>(acc));
                acc >>= 8;
                fill -= 8;
            }
        }
        if (fill) out.push_back(static_cast<uint8_t>(acc));
    }
    return out;
}

bool DecodeSpeech(std::span<const uint8_t> coded, std::vector<int16_t>& out) {
    if (coded.size() < kCodedHeaderSize || std::memcmp(coded.data(), "CZSC", 4) != 0) return false;
    const uint32_t count = Get32(&coded[4]);
    const uint32_t bits = coded[8], d = coded[9], block = coded[10] | coded[11] << 8;
    if (bits < 1 || bits > 8 || d < 1 || d > 8 || block < 1 || block > 4096) return false;
    const uint64_t codedCount = (uint64_t{count} + d - 1) / d;
    // Every coded sample costs at least bits / 8 bytes: refuse counts the
    // file cannot hold before allocating anything.
    if (codedCount * bits / 8 > coded.size()) return false;
    std::vector<int32_t> x(codedCount);
    const int32_t lo = -(1 << (bits - 1));
    size_t pos = kCodedHeaderSize;
    int32_t prev = 0;
    for (uint64_t at = 0; at < codedCount; at += block) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(block, codedCount - at));
        const size_t bytes = (size_t{n} * bits + 7) / 8;
        if (pos >= coded.size() || coded[pos] >= kSteps || !Inside(coded, pos + 1, bytes)) return false;
        const int32_t step = StepOf(coded[pos]);
        const uint8_t* p = &coded[pos + 1];
        uint32_t acc = 0, fill = 0;
        for (uint32_t i = 0; i < n; ++i) {
            while (fill < bits) {
                acc |= static_cast<uint32_t>(*p++) << fill;
                fill += 8;
            }
            const int32_t c = static_cast<int32_t>(acc & ((1u << bits) - 1)) + lo;
            acc >>= bits;
            fill -= bits;
            prev = Clamp16(prev + (2 * c + 1) * step / 2);
            x[at + i] = prev;
        }
        pos += 1 + bytes;
    }
    out.assign(count, 0);
    if (d == 1) {
        for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>(x[i]);
        return true;
    }
    // Coded sample k sits at the centre of its group, (k + 0.5) d - 0.5.
    for (uint32_t i = 0; i < count; ++i) {
        const double t = (i + 0.5) / d - 0.5;
        const double k0 = std::floor(t);
        const double f = t - k0;
        const int64_t a = std::clamp<int64_t>(static_cast<int64_t>(k0), 0, static_cast<int64_t>(codedCount) - 1);
        const int64_t b = std::clamp<int64_t>(static_cast<int64_t>(k0) + 1, 0, static_cast<int64_t>(codedCount) - 1);
        const double v = x[a] * (1.0 - f) + x[b] * f;
        out[i] = Clamp16(static_cast<int32_t>(std::lround(v)));
    }
    return true;
}

S_CoderSettings SettingsForBitRate(uint32_t sampleRate, uint32_t bitRate, uint32_t block) {
    S_CoderSettings best;
    best.block = block;
    best.rate = sampleRate;
    // The least decimation that comes within 4 % of the rate keeps the most
    // bandwidth; failing that, the nearest rate.
    double bestMiss = 1e300;
    bool close = false;
    for (uint32_t d = 1; d <= 8 && !close; ++d)
        for (uint32_t b = 2; b <= 8; ++b) {
            // Bits per second with the step byte of each block.
            const double rate = static_cast<double>(sampleRate) / d * (b + 8.0 / block);
            const double miss = std::fabs(rate - bitRate);
            if (miss < bestMiss - 1e-9) {
                bestMiss = miss;
                best.bits = b;
                best.decimation = d;
            }
            if (miss <= 0.04 * bitRate) close = true;
        }
    return best;
}

bool ReadPcmWav(const std::string& path, uint32_t* rate, std::vector<int16_t>& samples) {
    std::vector<uint8_t> f;
    if (!ReadWholeFile(path, kMaxCodedFile, f) || f.size() < 12 || std::memcmp(f.data(), "RIFF", 4) != 0 ||
        std::memcmp(&f[8], "WAVE", 4) != 0)
        return false;
    size_t pos = 12;
    bool haveFormat = false;
    while (pos + 8 <= f.size()) {
        const uint32_t size = Get32(&f[pos + 4]);
        if (!Inside(f, pos + 8, size)) return false;
        if (std::memcmp(&f[pos], "fmt ", 4) == 0 && size >= 16) {
            const uint8_t* p = &f[pos + 8];
            if ((p[0] | p[1] << 8) != 1 || (p[2] | p[3] << 8) != 1 || (p[14] | p[15] << 8) != 16) return false;
            *rate = Get32(p + 4);
            haveFormat = true;
        } else if (std::memcmp(&f[pos], "data", 4) == 0 && haveFormat) {
            samples.resize(size / 2);
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<int16_t>(f[pos + 8 + 2 * i] | f[pos + 9 + 2 * i] << 8);
            return true;
        }
        pos += 8 + size + (size & 1);
    }
    return false;
}

bool DecodeFileInto(const char* path, int16_t* out, int32_t capacity) {
    if (!path || !out || capacity <= 0) return false;
    std::vector<uint8_t> coded;
    std::vector<int16_t> pcm;
    if (!ReadWholeFile(path, kMaxCodedFile, coded) || !DecodeSpeech(coded, pcm)) return false;
    if (pcm.size() < static_cast<size_t>(capacity)) return false;
    std::memcpy(out, pcm.data(), sizeof(int16_t) * static_cast<size_t>(capacity));
    return true;
}

}  // namespace cz::sibling
