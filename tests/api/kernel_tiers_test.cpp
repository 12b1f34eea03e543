// Kernel tiers: the choice CADENZOR_CPU makes, and the same bytes from every
// tier the processor has (MP3 decoding, resampling, the ADPCM search).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/adpcm/AdpcmBlockEncoder.h"
#include "decoders/mp3/Mp3TestFiles.h"
#include "dsp/resample/C_PCMResample.h"
#include "platform/CpuFeatures.h"

namespace cz {
namespace {

using platform::CpuTier;

TEST(KernelTiers, EnvironmentChoice) {
    struct Case {
        const char* request;
        CpuTier machine;
        CpuTier want;
        bool warns;
    };
    const Case cases[] = {
        {nullptr, CpuTier::kAvx512, CpuTier::kAvx512, false},
        {"", CpuTier::kAvx2, CpuTier::kAvx2, false},
        {"plain", CpuTier::kAvx512, CpuTier::kPlain, false},
        {"AVX2", CpuTier::kAvx512, CpuTier::kAvx2, false},
        {"avx512", CpuTier::kAvx512, CpuTier::kAvx512, false},
        {"avx512", CpuTier::kAvx2, CpuTier::kAvx2, true},
        {"avx2", CpuTier::kPlain, CpuTier::kPlain, true},
        {"avx512", CpuTier::kPlain, CpuTier::kPlain, true},
        {"sse4", CpuTier::kAvx2, CpuTier::kAvx2, true},
        {"avx", CpuTier::kAvx512, CpuTier::kAvx512, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request ? c.request : "(unset)");
        const platform::S_CpuTierChoice got = platform::ChooseCpuTier(c.request, platform::CpuTier(c.machine));
        EXPECT_EQ(got.tier, c.want);
        EXPECT_EQ(*got.warning != '\0', c.warns) << got.warning;
    }
}

TEST(KernelTiers, SettingIsCappedByTheMachine) {
    const CpuTier before = platform::ActiveCpuTier();
    EXPECT_EQ(platform::SetCpuTier(CpuTier::kPlain), CpuTier::kPlain);
    EXPECT_FALSE(platform::CpuTierActive(CpuTier::kAvx2));
    EXPECT_EQ(platform::SetCpuTier(CpuTier::kAvx512), platform::MachineCpuTier());
    EXPECT_EQ(platform::ActiveCpuTier(), platform::MachineCpuTier());
    platform::SetCpuTier(before);
}

std::vector<CpuTier> MachineTiers() {
    std::vector<CpuTier> tiers;
    for (CpuTier t : {CpuTier::kPlain, CpuTier::kAvx2, CpuTier::kAvx512}) {
        if (static_cast<int>(t) <= static_cast<int>(platform::MachineCpuTier())) tiers.push_back(t);
    }
    return tiers;
}

// Runs job at every tier of the machine; every result must equal the plain
// tier's.
template <typename Job>
void ExpectSameAtEveryTier(const char* what, Job job) {
    const CpuTier before = platform::ActiveCpuTier();
    std::vector<uint8_t> plain;
    for (CpuTier tier : MachineTiers()) {
        platform::SetCpuTier(tier);
        const std::vector<uint8_t> got = job();
        if (tier == CpuTier::kPlain) {
            plain = got;
            EXPECT_FALSE(plain.empty()) << what;
        } else {
            EXPECT_TRUE(got == plain) << what << ": tier " << platform::CpuTierName(tier) << " differs from plain";
        }
    }
    platform::SetCpuTier(before);
}

std::vector<int16_t> Noise(size_t n, unsigned seed, int amplitude) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    std::vector<int16_t> x(n);
    for (size_t i = 0; i < n; ++i) {
        x[i] = static_cast<int16_t>(d(rng) + static_cast<int>(amplitude * 0.5 * std::sin(i * 0.031)));
    }
    return x;
}

std::vector<uint8_t> AsBytes(const std::vector<int16_t>& x) {
    std::vector<uint8_t> b(x.size() * 2);
    std::memcpy(b.data(), x.data(), b.size());
    return b;
}

TEST(KernelTiers, ResamplingIsTheSameAtEveryTier) {
    const std::vector<int16_t> x = Noise(20000, 7, 20000);
    struct Rates {
        uint32_t from, to;
        int mode;
    };
    for (const Rates r : {Rates{44100, 16000, 2}, Rates{8000, 22050, 2}, Rates{44100, 16000, 1}, Rates{22050, 11025, 0}}) {
        ExpectSameAtEveryTier("resampling", [&] {
            const uint32_t count = C_PCMResample::DestinationCount(r.from, r.to, static_cast<uint32_t>(x.size()));
            std::vector<int16_t> y(count);
            C_PCMResample resampler;
            resampler.ResampleSamples(r.mode, r.from, r.to, static_cast<uint32_t>(x.size()), count, x.data(),
                                      y.data(), 1.0, nullptr);
            return AsBytes(y);
        });
    }
}

TEST(KernelTiers, AdpcmSearchIsTheSameAtEveryTier) {
    std::array<int16_t, 64> steps{};
    for (int i = 0; i < 64; ++i) steps[i] = static_cast<int16_t>((8 + i % 8) << (i / 8));
    static constexpr std::array<int8_t, 8> kAdjust = {-1, -1, -1, -1, 2, 4, 6, 8};
    const S_AdpcmBlockTables tables{steps.data(), 64, kAdjust.data(), -2048, 2047};
    const std::vector<int16_t> x = Noise(8 * kAdpcmBlockSamples + 17, 3, 1500);
    for (int width : {4, kAdpcmMaxSearchWidth}) {
        ExpectSameAtEveryTier("ADPCM search", [&] {
            std::vector<uint8_t> codes(x.size()), indices(x.size());
            S_AdpcmBlockState state{};
            for (size_t first = 0; first < x.size(); first += kAdpcmBlockSamples) {
                const auto count = static_cast<uint32_t>(std::min<size_t>(kAdpcmBlockSamples, x.size() - first));
                EncodeAdpcmBlock(x.data() + first, count, tables, state, codes.data() + first, indices.data() + first,
                                 width);
            }
            codes.insert(codes.end(), indices.begin(), indices.end());
            return codes;
        });
    }
}

TEST(KernelTiers, Mp3DecodingIsTheSameAtEveryTier) {
    if (!mp3::test::HaveEncoders()) {
        GTEST_SKIP() << "sox or lame missing";
    }
    cz::test::TempDir dir;
    const std::string wav = dir.File("clip.wav"), mp3 = dir.File("clip.mp3");
    ASSERT_TRUE(mp3::test::MakeMp3(wav, mp3, "-r 44100 -c 2 -b 16", "synth 2 pluck C3 pinknoise gain -4", "-b 128"));
    const std::vector<uint8_t> bytes = cz::test::ReadFileBytes(mp3);
    ExpectSameAtEveryTier("MP3 decoding", [&] {
        std::vector<uint8_t> out;
        mp3::C_Mp3ToWavConverter converter;
        EXPECT_EQ(converter.ConvertMemory(bytes.data(), bytes.size(), &out, nullptr, 0), 1);
        return out;
    });
}

}  // namespace
}  // namespace cz
