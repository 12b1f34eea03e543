// The MDM coder's search efforts: the same frames and sizes, streams the
// unchanged decoder plays, at least the classic coder's SNR at every level,
// and variants untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "MdpcmRoundTrip.h"
#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "codecs/mdpcm/C_WNMDPCMEncDec.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

double Snr(const std::vector<uint16_t>& x, const std::vector<uint16_t>& y) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        signal += (double(x[i]) - 2048) * (double(x[i]) - 2048);
        noise += (double(y[i]) - x[i]) * (double(y[i]) - x[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-9));
}

// Speech-like material: the asterisk prompts when installed, else a voiced
// buzz with moving formants and noise bursts.
std::vector<std::vector<uint16_t>> Material() {
    std::vector<std::vector<uint16_t>> clips;
    const std::string folder = "/usr/share/asterisk/sounds/en_US_f_Allison";
    if (std::filesystem::is_directory(folder) && test::HaveTool("sox")) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            if (e.path().extension() == ".wav") names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
        test::TempDir dir;
        for (size_t i = 0; i < names.size(); i += 60) {
            const std::string out = dir.File("p.raw");
            if (test::RunCommand("sox '" + names[i] + "' -b 16 -c 1 -e signed-integer '" + out + "' 2>/dev/null") != 0)
                continue;
            const std::vector<uint8_t> b = test::ReadFileBytes(out);
            std::vector<uint16_t> s;
            for (size_t k = 0; k + 1 < b.size(); k += 2)
                s.push_back(uint16_t((int16_t(b[k] | b[k + 1] << 8) + 32768) >> 4));
            clips.push_back(s);
        }
    }
    std::vector<uint16_t> buzz(16000);
    uint32_t seed = 1;
    for (size_t i = 0; i < buzz.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        const double t = double(i) / 8000.0;
        const double voiced = std::sin(2 * M_PI * 120 * t) * (0.6 + 0.4 * std::sin(2 * M_PI * 3 * t));
        const double formant = 0.3 * std::sin(2 * M_PI * (700 + 300 * std::sin(2 * M_PI * t)) * t);
        const double burst = (i / 2000) % 3 == 2 ? (double((seed >> 16) & 1023) / 512.0 - 1.0) * 0.4 : 0.0;
        buzz[i] = uint16_t(std::lround(2048 + 1500 * (voiced * 0.6 + formant + burst)));
    }
    clips.push_back(buzz);
    return clips;
}

TEST(MdpcmEffort, SameSizesDecodableAndNeverWorse) {
    for (const auto& clip : Material()) {
        C_MDPCMEncDec classic(0, 9);
        classic.SetEndMarker(0xFF);
        const test::Coded base = test::RoundTrip(classic, clip, 2048, 64, 16, 0);
        ASSERT_FALSE(base.bytes.empty());
        const double baseSnr = Snr(clip, base.decoded);
        double last = baseSnr;
        for (uint8_t effort = 1; effort <= 3; ++effort) {
            C_MDPCMEncDec coder(0, 9);
            coder.SetEndMarker(0xFF);
            coder.SetSearchEffort(effort);
            const test::Coded c = test::RoundTrip(coder, clip, 2048, 64, 16, 0);
            EXPECT_EQ(c.bytes.size(), base.bytes.size());
            EXPECT_TRUE(c.endSeen);
            ASSERT_GE(c.decoded.size(), clip.size());
            // Frame by frame the headers keep their kind (long or short).
            const double snr = Snr(clip, c.decoded);
            EXPECT_GE(snr, last - 0.01) << "effort " << int(effort);
            last = snr;
        }
        EXPECT_GT(last, baseSnr + 0.2);
    }
}

// The stream search across the coder's settings and the short and odd
// inputs: the classic frame plan and sizes, differences within -15..15 that
// never lean on the decoder's clamp, the encoder ending on the value the
// decoder ends on, and no more squared error than the classic coding.
TEST(MdpcmEffort, StreamSearchKeepsTheLayout) {
    struct Case {
        const char* name;
        uint32_t alias;
        uint16_t firstBits;
        uint8_t marker;
        uint16_t initial;
        uint32_t L, S;
        int32_t padMode;
        size_t length;
        int amplitude;
    };
    const Case cases[] = {
        {"MDM frames", 0, 9, 0xFF, 2048, 65, 17, 0, 3000, 1500},
        {"header alias, marker 0", 1, 9, 0x00, 2048, 65, 17, 1, 3000, 1500},
        {"full-scale swings near the rails", 0, 9, 0xFF, 2048, 65, 17, 0, 2000, 2047},
        {"unrounded frame starts", 0, 12, 0xFF, 2048, 64, 16, 0, 1000, 900},
        {"16-bit frame starts", 1, 16, 0x00, 2048, 64, 16, 0, 1000, 900},
        {"start off the grid, near the top", 0, 9, 0xFF, 4095, 65, 17, 0, 500, 300},
        {"start off the grid, near zero", 0, 9, 0xFF, 5, 65, 17, 1, 500, 300},
        {"shorter than a short frame", 0, 9, 0xFF, 2048, 65, 17, 0, 7, 800},
        {"one sample", 0, 9, 0xFF, 2048, 65, 17, 0, 1, 800},
        {"no samples", 0, 9, 0xFF, 2048, 65, 17, 0, 0, 800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint16_t> x(c.length);
        uint32_t seed = 7;
        for (size_t i = 0; i < x.size(); ++i) {
            seed = seed * 1103515245u + 12345u;
            const double wave = std::sin(0.23 * double(i)) * 0.7 + std::sin(1.9 * double(i)) * 0.2 +
                                (double((seed >> 16) & 255) / 128.0 - 1.0) * 0.1;
            x[i] = uint16_t(std::clamp<long>(std::lround(2048 + c.amplitude * wave), 0, 4095));
        }
        auto error = [&](const std::vector<uint16_t>& y) {
            double e = 0;
            for (size_t i = 0; i < x.size(); ++i) e += (double(y[i]) - x[i]) * (double(y[i]) - x[i]);
            return e;
        };
        C_MDPCMEncDec classic(c.alias, c.firstBits);
        classic.SetEndMarker(c.marker);
        const test::Coded base = test::RoundTrip(classic, x, c.initial, c.L, c.S, c.padMode);
        ASSERT_FALSE(base.bytes.empty());
        for (uint8_t effort = 1; effort <= 3; ++effort) {
            SCOPED_TRACE(int(effort));
            C_MDPCMEncDec coder(c.alias, c.firstBits);
            coder.SetEndMarker(c.marker);
            coder.SetSearchEffort(effort);
            const test::Coded got = test::RoundTrip(coder, x, c.initial, c.L, c.S, c.padMode);
            ASSERT_EQ(got.bytes.size(), base.bytes.size());
            EXPECT_TRUE(got.endSeen);
            ASSERT_EQ(got.decoded.size(), base.decoded.size());
            if (!got.decoded.empty()) {
                EXPECT_EQ(coder.CurrentValue(), got.decoded.back());
            }
            EXPECT_LE(error(got.decoded), error(base.decoded) * 1.0001 + 1e-9);
            // Walk the frames: the same kinds in the same order, differences
            // in range, and every step stays inside 0..4095 unclamped.
            size_t pos = 0;
            int v = std::min<int>(c.initial, 4095);
            while (pos < got.bytes.size() && got.bytes[pos] != c.marker) {
                ASSERT_EQ(got.bytes[pos] & 1, base.bytes[pos] & 1) << "frame at " << pos;
                const int index = coder.IndexFromHeader(got.bytes[pos]);
                ASSERT_GE(index, 0);
                const int step = C_MDPCMEncDec::ScaleStep(index);
                const uint32_t n = (got.bytes[pos] & 1) ? c.L : c.S;
                for (uint32_t k = 0; k < n; ++k) {
                    const int q = int8_t(got.bytes[pos + 1 + k]);
                    ASSERT_GE(q, -15);
                    ASSERT_LE(q, 15);
                    v += q * step;
                    ASSERT_GE(v, 0);
                    ASSERT_LE(v, 4095);
                    if (k == 0 && c.firstBits < 12)
                        v = (((v - 2048) >> (12 - c.firstBits)) << (12 - c.firstBits)) + 2048;
                }
                pos += 1 + n;
            }
            EXPECT_EQ(pos + 1, got.bytes.size());
        }
    }
}

// On the asterisk prompts the efforts' mean gains over the classic coding.
TEST(MdpcmEffort, GainsOnPrompts) {
    const auto clips = Material();
    if (clips.size() < 2) GTEST_SKIP() << "the asterisk prompts (or sox) are not installed";
    double gain[4] = {0, 0, 0, 0};
    for (size_t i = 0; i + 1 < clips.size(); ++i) {
        double base = 0;
        for (uint8_t effort = 0; effort <= 3; ++effort) {
            C_MDPCMEncDec coder(0, 9);
            coder.SetEndMarker(0xFF);
            coder.SetSearchEffort(effort);
            const double snr = Snr(clips[i], test::RoundTrip(coder, clips[i], 2048, 65, 17, 0).decoded);
            if (effort == 0) base = snr;
            gain[effort] += (snr - base) / double(clips.size() - 1);
        }
    }
    EXPECT_GT(gain[1], 0.4);
    EXPECT_GT(gain[2], 0.5);
    EXPECT_GT(gain[3], 0.6);
}

TEST(MdpcmEffort, VariantsCodeAsBefore) {
    const std::vector<uint16_t> clip = Material().back();
    C_WNMDPCMEncDec plain(9), searching(9);
    searching.SetSearchEffort(3);
    EXPECT_EQ(test::RoundTrip(plain, clip, 2048, 64, 16, 0).bytes,
              test::RoundTrip(searching, clip, 2048, 64, 16, 0).bytes);
}

}  // namespace
}  // namespace cz
