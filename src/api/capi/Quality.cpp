#include "api/capi/Quality.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cz::capi {

namespace {

struct Pcm {
    uint32_t rate = 0;
    uint16_t channels = 0;
    std::vector<double> mono;  // filled by Mix
    const uint8_t* data = nullptr;
    size_t frames = 0;
};

uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool Parse(const std::vector<uint8_t>& b, Pcm& pcm) {
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return false;
    bool haveFmt = false;
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t size = U32(&b[at + 4]);
        const size_t body = at + 8;
        const size_t avail = std::min<size_t>(size, b.size() - body);
        if (std::memcmp(&b[at], "fmt ", 4) == 0 && avail >= 16) {
            if (U16(&b[body]) != 1 || U16(&b[body + 14]) != 16) return false;
            pcm.channels = U16(&b[body + 2]);
            pcm.rate = U32(&b[body + 4]);
            haveFmt = pcm.channels > 0;
        } else if (std::memcmp(&b[at], "data", 4) == 0 && haveFmt) {
            pcm.data = &b[body];
            pcm.frames = avail / (2u * pcm.channels);
            return pcm.frames > 0;
        }
        if (size > b.size() - body) break;
        at = body + size + (size & 1);
    }
    return false;
}

double Sample(const Pcm& p, size_t frame, uint16_t channel) {
    const uint8_t* s = p.data + (frame * p.channels + channel) * 2;
    return static_cast<int16_t>(U16(s));
}

// Frame value: the channel itself when the counts agree, else the mean.
double Value(const Pcm& p, size_t frame, uint16_t channel, bool mix) {
    if (!mix) return Sample(p, frame, channel);
    double sum = 0;
    for (uint16_t c = 0; c < p.channels; ++c) sum += Sample(p, frame, c);
    return sum / p.channels;
}

}  // namespace

std::optional<QualityFigures> CompareWavBytes(const std::vector<uint8_t>& source,
                                              const std::vector<uint8_t>& rendition) {
    Pcm a, b;
    if (!Parse(source, a) || !Parse(rendition, b) || a.rate != b.rate) return std::nullopt;
    const bool mix = a.channels != b.channels;
    const uint16_t channels = mix ? 1 : a.channels;
    const size_t frames = std::min(a.frames, b.frames);
    const size_t stretch = std::max<size_t>(1, a.rate / 50);  // 20 ms
    double signal = 0, noise = 0, segSum = 0;
    size_t segments = 0;
    for (size_t start = 0; start < frames; start += stretch) {
        const size_t end = std::min(frames, start + stretch);
        double s = 0, e = 0;
        for (size_t f = start; f < end; ++f) {
            for (uint16_t c = 0; c < channels; ++c) {
                const double x = Value(a, f, c, mix);
                const double d = x - Value(b, f, c, mix);
                s += x * x;
                e += d * d;
            }
        }
        signal += s;
        noise += e;
        if (s > 0) {  // silent stretches say nothing of the coding
            const double snr = e > 0 ? 10 * std::log10(s / e) : 35.0;
            segSum += std::clamp(snr, -10.0, 35.0);
            ++segments;
        }
    }
    QualityFigures q;
    q.snr = noise > 0 ? 10 * std::log10(std::max(signal, 1e-9) / noise) : 99.0;
    q.segmental = segments ? segSum / segments : 0.0;
    return q;
}

}  // namespace cz::capi
