// The MDM coder's search efforts: the same frames and sizes, streams the
// unchanged decoder plays, at least the classic coder's SNR at every level,
// and variants untouched.
#include <gtest/gtest.h>

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
            for (size_t k = 0; k + 1 < b.size(); k += 2) s.push_back(uint16_t((int16_t(b[k] | b[k + 1] << 8) + 32768) >> 4));
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

TEST(MdpcmEffort, VariantsCodeAsBefore) {
    const std::vector<uint16_t> clip = Material().back();
    C_WNMDPCMEncDec plain(9), searching(9);
    searching.SetSearchEffort(3);
    EXPECT_EQ(test::RoundTrip(plain, clip, 2048, 64, 16, 0).bytes, test::RoundTrip(searching, clip, 2048, 64, 16, 0).bytes);
}

}  // namespace
}  // namespace cz
