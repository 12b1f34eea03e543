// cadenzor pitch: lengths by --factor and --semitones (measured by soxi on
// a sox-made input), the pitch reached (measured here on sox's raw dump of
// the result), the option errors, refusals, and PAM files through convert.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "CliRun.h"
#include "support/TestSupport.h"

namespace cz::test {
namespace {

class CliPitch : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("sox")) GTEST_SKIP() << "sox is needed";
        input_ = dir_.File("saw.wav");
        ASSERT_EQ(RunCommand("sox -n -r 16000 -c 1 -b 16 '" + input_ + "' synth 1 sawtooth 110 vol 0.5"), 0);
    }
    long Samples(const std::string& path) { return std::atol(Soxi("-s", path, dir_).c_str()); }
    // The samples of a mono sound file as sox reads them.
    std::vector<int16_t> Raw(const std::string& path) {
        const std::string raw = dir_.File("dump.raw");
        EXPECT_EQ(RunCommand("sox '" + path + "' -t raw -e signed -b 16 -c 1 '" + raw + "'"), 0) << path;
        const std::vector<uint8_t> bytes = ReadFileBytes(raw);
        std::vector<int16_t> x(bytes.size() / 2);
        for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        return x;
    }

    TempDir dir_;
    std::string input_;
};

TEST_F(CliPitch, FactorChangesTheLengthAndSemitonesKeepIt) {
    const std::string longer = dir_.File("longer.wav"), higher = dir_.File("higher.wav");
    CliRun r = Cadenzor("-q pitch '" + input_ + "' '" + longer + "' --factor 1.5", dir_);
    ASSERT_EQ(r.status, 0) << r.out;
    // Within two periods of 145 samples and the unsearched last 300 samples.
    EXPECT_NEAR(Samples(longer), 24000, 2 * 146 + 150);
    r = Cadenzor("pitch '" + input_ + "' '" + higher + "' --semitones 5 -q", dir_);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NEAR(Samples(higher), 16000, 1);
    EXPECT_EQ(Soxi("-r", higher, dir_), "16000");
}

// Pitch of the steady middle of x in Hz: the lag near rate / about with the
// least normalised squared difference, refined by a parabola.
double MeasuredPitch(const std::vector<int16_t>& x, double rate, double about) {
    const double expected = rate / about;
    const int lo = static_cast<int>(expected * 0.8), hi = static_cast<int>(expected * 1.25) + 1;
    const size_t from = x.size() / 5, to = x.size() * 4 / 5 - static_cast<size_t>(hi) - 1;
    auto difference = [&](int lag) {
        double num = 0, den = 0;
        for (size_t i = from; i < to; ++i) {
            const double a = x[i], b = x[i + static_cast<size_t>(lag)];
            num += (a - b) * (a - b);
            den += a * a + b * b;
        }
        return num / den;
    };
    int best = lo;
    for (int lag = lo; lag <= hi; ++lag)
        if (difference(lag) < difference(best)) best = lag;
    const double y0 = difference(best - 1), y1 = difference(best), y2 = difference(best + 1);
    const double curvature = y0 - 2 * y1 + y2;
    return rate / (best + (curvature > 0 ? 0.5 * (y0 - y2) / curvature : 0.0));
}

TEST_F(CliPitch, SemitonesReachThePitchWithinHalfAPercent) {
    const std::string sine = dir_.File("sine.wav"), out = dir_.File("shifted.wav");
    ASSERT_EQ(RunCommand("sox -n -r 16000 -c 1 -b 16 '" + sine + "' synth 2 sine 200 vol 0.5"), 0);
    for (int semitones : {-24, -12, -7, -1, 1, 7, 12, 19, 24}) {
        const CliRun r =
            Cadenzor("-q pitch '" + sine + "' '" + out + "' -y --semitones " + std::to_string(semitones), dir_);
        ASSERT_EQ(r.status, 0) << semitones << "\n" << r.out;
        EXPECT_EQ(Samples(out), 32000) << semitones;
        const double wanted = 200.0 * std::pow(2.0, semitones / 12.0);
        const double pitch = MeasuredPitch(Raw(out), 16000, wanted);
        EXPECT_NEAR(pitch / wanted, 1.0, 0.005) << semitones << ": " << pitch << " Hz for " << wanted;
    }
    // Four times the length, each period whole: within one period of 80.
    ASSERT_EQ(Cadenzor("-q pitch '" + sine + "' '" + out + "' -y --factor 4", dir_).status, 0);
    EXPECT_NEAR(Samples(out), 4 * 32000, 80);
}

TEST_F(CliPitch, RefusesNoiseWithTheReason) {
    const std::string noise = dir_.File("noise.wav"), out = dir_.File("out.wav");
    ASSERT_EQ(RunCommand("sox -n -r 16000 -c 1 -b 16 '" + noise + "' synth 1 whitenoise vol 0.5"), 0);
    for (const char* shift : {"--semitones 12", "--factor 0.5", "--factor 4"}) {
        const CliRun r = Cadenzor("-q pitch '" + noise + "' '" + out + "' " + shift, dir_);
        EXPECT_EQ(r.status, 2) << shift << "\n" << r.out;
        EXPECT_NE(r.out.find("noise.wav"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("no pitch periods"), std::string::npos) << r.out;
        EXPECT_FALSE(FileExists(out)) << shift;
    }
}

TEST_F(CliPitch, RefusesBadRequests) {
    const std::string out = dir_.File("out.wav");
    struct Case {
        std::string args;
        int status;
    } cases[] = {
        {"pitch '" + input_ + "' '" + out + "'", 1},
        {"pitch '" + input_ + "' '" + out + "' --factor 2 --semitones 1", 1},
        {"pitch '" + input_ + "' '" + out + "' --factor 9", 1},
        {"pitch '" + input_ + "' '" + out + "' --factor x", 1},
        {"pitch '" + input_ + "' '" + out + "' --semitones 30", 1},
        {"pitch '" + input_ + "' --factor 2", 1},
        {"pitch '" + input_ + "' '" + dir_.File("out.xyz") + "' --factor 2", 1},
        {"pitch '" + dir_.File("missing.wav") + "' '" + out + "' --factor 2", 2},
        {"pitch '" + input_ + "' '" + input_ + "' --factor 2", 2},  // exists, no -y
    };
    for (const Case& c : cases) {
        const CliRun r = Cadenzor(c.args, dir_);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
        EXPECT_FALSE(FileExists(out)) << c.args;
    }
    EXPECT_EQ(Cadenzor("pitch --help", dir_).status, 0);
}

TEST_F(CliPitch, ConvertWritesAPamFileThatOpens) {
    const std::string pam = dir_.File("a.pam");
    CliRun r = Cadenzor("convert '" + input_ + "' '" + pam + "'", dir_);
    ASSERT_EQ(r.status, 0) << r.out;
    r = Cadenzor("info '" + pam + "'", dir_);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("PAM"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("pitch periods:"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace cz::test
