// The inverse MDCT against its defining sum, evaluated in double precision,
// at every block length the decoder uses (the FFT's fused stage pairs, the
// odd stage left over and the short transforms all take their turn), with
// the same bits at every kernel tier; and the decoder's samples on the
// Windows Media encoder files pinned by hash, so that a faster decoder must
// give the very same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "WmaTestFiles.h"
#include "decoders/wma/WmaImdct.h"
#include "platform/CpuFeatures.h"

namespace cz::wma::test {
namespace {

TEST(WmaTransform, ImdctMatchesItsSumAtEveryLength) {
    const double pi = 3.14159265358979323846;
    uint32_t seed = 12345;
    for (int half = 16; half <= 4096; half *= 2) {
        SCOPED_TRACE(half);
        std::vector<float> in(static_cast<size_t>(half)), out(static_cast<size_t>(2 * half));
        for (float& v : in) {
            seed = seed * 1664525u + 1013904223u;
            v = float(int32_t(seed >> 8) % 2001 - 1000);
        }
        const double scale = -0.75;
        // Every kernel tier the machine has gives the same bits.
        for (platform::CpuTier tier : {platform::CpuTier::kAvx512, platform::CpuTier::kAvx2}) {
            const platform::CpuTier was = platform::ActiveCpuTier();
            platform::SetCpuTier(tier);
            Imdct wide;
            wide.Init(half, scale);
            platform::SetCpuTier(platform::CpuTier::kPlain);
            Imdct plain;
            plain.Init(half, scale);
            platform::SetCpuTier(was);
            std::vector<float> a(out.size()), b(out.size());
            wide.Run(in.data(), a.data());
            plain.Run(in.data(), b.data());
            EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float))) << platform::CpuTierName(tier);
        }
        Imdct t;
        t.Init(half, scale);
        t.Run(in.data(), out.data());
        // cos(pi / half * (i + half/2 + 1/2) * (k + 1/2)) = cos(2 pi r / (8 half))
        // with r = (2i + half + 1)(2k + 1) mod 8 half.
        const int period = 8 * half;
        std::vector<double> c(static_cast<size_t>(period));
        for (int r = 0; r < period; ++r) c[size_t(r)] = std::cos(2 * pi * r / period);
        double worst = 0, peak = 0;
        for (int i = 0; i < 2 * half; ++i) {
            double sum = 0;
            const int64_t a = 2 * i + half + 1;
            for (int k = 0; k < half; ++k) sum += in[size_t(k)] * c[size_t(a * (2 * k + 1) % period)];
            sum *= scale;
            worst = std::max(worst, std::fabs(sum - out[size_t(i)]));
            peak = std::max(peak, std::fabs(sum));
        }
        // Single precision through log2(half) stages.
        EXPECT_LT(worst, peak * 2e-6 * std::log2(double(half)));
        EXPECT_GT(peak, 1000.0);
    }
}

uint64_t SampleHash(const std::vector<int16_t>& s) {
    uint64_t h = 1469598103934665603ull;
    for (int16_t v : s) h = (h ^ uint16_t(v)) * 1099511628211ull;
    return h;
}

TEST(WmaTransform, EncoderFilesDecodeToPinnedSamples) {
    struct Case {
        const char* file;
        size_t samples;
        uint64_t hash;
    };
    // Block switching, the bit reservoir, noise-coded bands and LSP
    // envelopes; the first audio stream of each.
    const Case cases[] = {
        {"wma92-32k.wma", 45056, 0x1e073cc61f2ea888ull},
        {"wma92-vbr.wma", 90112, 0xffcfcbbfbe8cb45cull},
        {"wmv92-with-audio.wmv", 65536, 0x8c49935ebaba90e5ull},
        {"wma92-mbr.wma", 8192, 0x3e52868b6340e915ull},
    };
    for (const Case& c : cases) {
        const std::string path = cz::test::TestDataDir() + "/asf/" + c.file;
        CZ_SKIP_WITHOUT_TESTDATA(path);
        SCOPED_TRACE(c.file);
        AsfAudio audio;
        ASSERT_TRUE(ReadAsfAudio(cz::test::ReadFileBytes(path), audio));
        int failures = 0;
        const std::vector<int16_t> samples = DecodeAll(audio, &failures);
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(samples.size(), c.samples);
        EXPECT_EQ(SampleHash(samples), c.hash);
    }
}

}  // namespace
}  // namespace cz::wma::test
