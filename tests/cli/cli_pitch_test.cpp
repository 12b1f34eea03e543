// cadenzor pitch: lengths by --factor and --semitones (measured by soxi on
// a sox-made input), the option errors, and PAM files through convert.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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
