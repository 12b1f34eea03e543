// The enhanced block coders' streams, pinned: EAM (12-bit enhanced ADPCM),
// E2A (16-bit two-tap ADPCM, with and without prediction), EMM (enhanced
// MDPCM) and Q420 MPM (free-frame MDPCM, plain and searching) code a set of signals (speech-like,
// sweeps, noise, silence with clicks, full-scale squares at several rates)
// and the FNV-1a hash of every stream must stay what these coders have
// always written. The signals use integer arithmetic only, so the hashes are
// the same on every machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/adpcm/C_EnhancedADPCM2Codec.h"
#include "codecs/adpcm/C_EnhancedADPCMCodec.h"
#include "codecs/mdpcm/C_EnhancedMDPCMCodec.h"
#include "codecs/mdpcm/C_MdpcmCodecFreeFrameSize.h"
#include "codecs/mdpcm/C_WNMdpcmCodecFreeFrameSize.h"

namespace cz {
namespace {

uint64_t Fnv(const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

struct Lcg {
    uint32_t s;
    int32_t Next(int32_t amplitude) {  // -amplitude ... amplitude
        s = s * 1664525u + 1013904223u;
        return static_cast<int32_t>((s >> 8) % (2u * amplitude + 1)) - amplitude;
    }
};

// Signed 16-bit signals of n samples at `rate`.
std::vector<int32_t> Signal(int kind, uint32_t rate, uint32_t n) {
    std::vector<int32_t> x(n);
    Lcg rng{static_cast<uint32_t>(kind * 7919 + rate)};
    switch (kind) {
        case 0: {  // speech-like: a 120 Hz pulse train through two resonators, noise bursts, pauses
            int64_t y1 = 0, y2 = 0, z1 = 0, z2 = 0;
            const uint32_t period = rate / 120;
            for (uint32_t i = 0; i < n; ++i) {
                const uint32_t syllable = (i / (rate / 5)) % 4;
                int64_t e = 0;
                if (syllable < 2) e = (i % period == 0) ? 24000 : 0;
                if (syllable == 2) e = rng.Next(3000);
                // Resonators in Q14 (poles near 500 Hz and 1500 Hz at 8 kHz, rescaled coarsely by rate).
                const int64_t a1 = rate <= 8000 ? 27000 : rate <= 16000 ? 30500 : 31600;
                const int64_t y = e + ((a1 * y1 - 15400 * y2) >> 14);
                y2 = y1;
                y1 = y;
                const int64_t b1 = rate <= 8000 ? 11000 : rate <= 16000 ? 24000 : 28500;
                const int64_t z = (y >> 2) + ((b1 * z1 - 14800 * z2) >> 14);
                z2 = z1;
                z1 = z;
                x[i] = static_cast<int32_t>(std::clamp<int64_t>((y >> 3) + (z >> 2), -32768, 32767));
            }
            break;
        }
        case 1: {  // rising sweep: a phase accumulator read as a triangle
            uint64_t phase = 0, step = 1ull << 20;
            for (uint32_t i = 0; i < n; ++i) {
                phase += step;
                step += (1ull << 32) / (4ull * rate);
                const int32_t t = static_cast<int32_t>((phase >> 16) & 0xFFFF);
                x[i] = (t < 32768 ? t : 65535 - t) * 2 - 32767;
            }
            break;
        }
        case 2:  // white noise, loud
            for (uint32_t i = 0; i < n; ++i) x[i] = rng.Next(30000);
            break;
        case 3:  // silence with clicks and a quiet hum
            for (uint32_t i = 0; i < n; ++i) x[i] = (i % 997 == 0 ? 28000 : 0) + ((i / 40) % 2 ? 30 : -30);
            break;
        default:  // full-scale square
            for (uint32_t i = 0; i < n; ++i) x[i] = ((i / (rate / 440)) % 2) ? 32767 : -32768;
            break;
    }
    return x;
}

std::vector<uint16_t> Offset(const std::vector<int32_t>& x, int bits) {
    std::vector<uint16_t> w(x.size());
    for (size_t i = 0; i < x.size(); ++i) w[i] = static_cast<uint16_t>((x[i] + 32768) >> (16 - bits));
    return w;
}

uint64_t Eam(const std::vector<uint16_t>& w) {
    C_EnhancedADPCMCodec coder(12, 1, 1);
    std::vector<uint8_t> out(coder.GetMaxEncodedSize(static_cast<uint32_t>(w.size()), 0));
    const uint32_t n = coder.Encode(static_cast<uint32_t>(w.size()), w.data(), out.data(),
                                    static_cast<uint32_t>(out.size()), 0, nullptr);
    return Fnv(out.data(), n);
}

uint64_t E2a(const std::vector<uint16_t>& w, uint32_t predict, uint32_t tables) {
    C_EnhancedADPCM2Codec coder(16, 1, tables, predict);
    std::vector<uint8_t> out(coder.GetMaxEncodedSize(static_cast<uint32_t>(w.size()), 0));
    const uint32_t n = coder.Encode(static_cast<uint32_t>(w.size()), w.data(), out.data(),
                                    static_cast<uint32_t>(out.size()), 0, nullptr);
    return Fnv(out.data(), n) ^ (uint64_t{coder.LastSample()} << 48) ^ coder.SampleBeforeLast();
}

uint64_t Emm(const std::vector<uint16_t>& w) {
    C_EnhancedMDPCMCodec coder(0, 9);
    coder.SetEndMarker(255);
    const auto count = static_cast<uint32_t>(w.size());
    std::vector<uint8_t> out(static_cast<size_t>(coder.GetMaxEncodedSize(count, 65, 17)));
    const uint32_t n = coder.Encode(out.data(), out.size(), count, w.data(), 2048, 65, 17, 0, nullptr);
    return Fnv(out.data(), n);
}

template <typename Coder = C_MdpcmCodecFreeFrameSize>
uint64_t Mpm(const std::vector<uint16_t>& w, uint32_t frame) {
    Coder coder(frame);
    const auto count = static_cast<uint32_t>(w.size());
    std::vector<uint8_t> out(static_cast<size_t>(coder.GetMaxEncodedSize(count)));
    const uint32_t n = coder.Encode(out.data(), out.size(), count, w.data(), nullptr);
    return Fnv(out.data(), n);
}

// Every stream's hash, in the order the loops below make them.
std::vector<uint64_t> AllHashes() {
    std::vector<uint64_t> h;
    for (uint32_t rate : {8000u, 16000u, 22050u}) {
        for (int kind = 0; kind < 5; ++kind) {
            const std::vector<int32_t> x = Signal(kind, rate, rate + 4321);
            const std::vector<uint16_t> w12 = Offset(x, 12), w16 = Offset(x, 16);
            h.push_back(Eam(w12));
            h.push_back(E2a(w16, 1, 1));
            h.push_back(E2a(w16, 0, 1));
            h.push_back(E2a(w16, 1, 0));
            h.push_back(Emm(w12));
            h.push_back(Mpm(w12, 64));
            h.push_back(Mpm(w12, 37));
            h.push_back(Mpm<C_WNMdpcmCodecFreeFrameSize>(w12, 64));
        }
    }
    return h;
}

TEST(EnhancedCoderStreams, SameBytesAsEver) {
    const uint64_t kWant[] = {
#include "enhanced_coders_golden.inc"
    };
    const std::vector<uint64_t> got = AllHashes();
    if (std::getenv("CZ_PRINT_GOLDEN") != nullptr) {
        for (uint64_t v : got) std::printf("0x%016llxull,\n", static_cast<unsigned long long>(v));
    }
    ASSERT_EQ(got.size(), std::size(kWant));
    const char* names[] = {"EAM", "E2A", "E2A plain", "E2A one table", "EMM", "MPM 64", "MPM 37", "MPM search 64"};
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], kWant[i]) << names[i % 8] << " signal " << (i / 8) % 5 << " rate " << (i / 40);
    }
}

}  // namespace
}  // namespace cz
