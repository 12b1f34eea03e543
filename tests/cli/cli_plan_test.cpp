// "cadenzor plan": the pack it writes is the bytes it reports (and, with one
// choice, the image "pack" makes), a budget nothing fits, the cache, the
// page, and the usage errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;

// A 16-bit mono WAV file: six harmonics of pitch under one swell.
std::vector<uint8_t> Wav(uint32_t rate, double seconds, double pitch) {
    std::vector<int16_t> samples(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        double v = 0;
        for (int h = 1; h <= 6; ++h) v += std::sin(2 * M_PI * pitch * h * t) / h;
        samples[i] = static_cast<int16_t>(std::lround(5000 * v * std::sin(M_PI * t / seconds)));
    }
    cz::test::RiffBuilder riff;
    riff.Fmt(1, 1, rate, 16);
    riff.Chunk("data", cz::test::RiffBuilder::Pcm16(samples));
    return riff.Bytes();
}

// The number after "key": in a JSON text.
unsigned long long JsonCount(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) return ~0ull;
    return std::strtoull(json.c_str() + at + key.size() + 4, nullptr, 10);
}

class CliPlan : public testing::Test {
protected:
    cz::test::TempDir dir;
    std::string prompts;  // the three prompts, quoted, for a command line
    std::string cache;

    void SetUp() override {
        const double pitches[] = {120, 180, 240};
        const double lengths[] = {0.4, 0.25, 0.3};
        for (int i = 0; i < 3; ++i) {
            const std::string path = dir.File("p" + std::to_string(i) + ".wav");
            ASSERT_TRUE(cz::test::WriteFileBytes(path, Wav(8000, lengths[i], pitches[i])));
            prompts += " '" + path + "'";
        }
        cache = " --cache '" + dir.File("cache") + "'";
    }
};

TEST_F(CliPlan, ThePackIsTheBytesReportedAndPackMakesTheSameImage) {
    auto plan = Cadenzor("plan -q" + prompts + cache + " --to apm,pc8,mdm --budget 9K --json --pack '" +
                             dir.File("plan.img") + "' --apply '" + dir.File("out") + "'",
                         dir);
    ASSERT_EQ(plan.status, 0) << plan.out;
    const auto image = cz::test::ReadFileBytes(dir.File("plan.img"));
    EXPECT_EQ(image.size(), JsonCount(plan.out, "image_bytes")) << plan.out;
    EXPECT_LE(image.size(), 9u * 1024);
    EXPECT_TRUE(cz::test::FileExists(dir.File("plan.img.h")));
    EXPECT_TRUE(cz::test::FileExists(dir.File("out/p0.bin")));
    EXPECT_TRUE(cz::test::FileExists(dir.File("out/p2.bin.h")));

    // One choice only: the image is the one "pack" writes, byte for byte.
    auto one = Cadenzor(
        "plan -q" + prompts + cache + " --to pc8 --rates 8000 --budget 1M --pack '" + dir.File("one.img") + "'", dir);
    ASSERT_EQ(one.status, 0) << one.out;
    auto pack = Cadenzor("pack -q" + prompts + " --to pc8 -o '" + dir.File("pack.img") + "'", dir);
    ASSERT_EQ(pack.status, 0) << pack.out;
    EXPECT_EQ(cz::test::ReadFileBytes(dir.File("one.img")), cz::test::ReadFileBytes(dir.File("pack.img")));

    // A second plan reads every coding from the cache and chooses alike.
    auto again = Cadenzor("plan -q" + prompts + cache + " --to apm,pc8,mdm --budget 9K --json", dir);
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(JsonCount(again.out, "coded"), 0u);
    EXPECT_EQ(JsonCount(again.out, "cached"), 3u * 8);
    EXPECT_EQ(JsonCount(again.out, "image_bytes"), image.size());
    // Existing outputs are kept unless -y.
    auto kept =
        Cadenzor("plan -q" + prompts + cache + " --to apm --budget 9K --pack '" + dir.File("plan.img") + "'", dir);
    EXPECT_EQ(kept.status, 2) << kept.out;
    EXPECT_EQ(cz::test::ReadFileBytes(dir.File("plan.img")), image);
}

TEST_F(CliPlan, NothingFitsExitsThreeNamingTheSmallestImage) {
    auto roomy = Cadenzor("plan -q" + prompts + cache + " --to apm,mdm --budget 1M --json", dir);
    ASSERT_EQ(roomy.status, 0) << roomy.out;
    const unsigned long long smallest = JsonCount(roomy.out, "smallest_image_bytes");
    ASSERT_LT(smallest, 1u << 20);
    auto tight = Cadenzor("plan -q" + prompts + cache + " --to apm,mdm --budget " + std::to_string(smallest - 1) +
                              " --pack '" + dir.File("none.img") + "'",
                          dir);
    EXPECT_EQ(tight.status, 3) << tight.out;
    EXPECT_NE(tight.out.find("the smallest possible image is " + std::to_string(smallest) + " bytes"),
              std::string::npos)
        << tight.out;
    EXPECT_FALSE(cz::test::FileExists(dir.File("none.img")));
    auto exact = Cadenzor("plan -q" + prompts + cache + " --to apm,mdm --budget " + std::to_string(smallest) +
                              " --objective mean --pack '" + dir.File("least.img") + "'",
                          dir);
    EXPECT_EQ(exact.status, 0) << exact.out;
    EXPECT_EQ(cz::test::ReadFileBytes(dir.File("least.img")).size(), smallest);
}

TEST_F(CliPlan, PageTableAndErrors) {
    auto plan = Cadenzor(
        "plan -q" + prompts + cache + " --to apm,pc8 --budget 12K --html '" + dir.File("plan.html") + "'", dir);
    ASSERT_EQ(plan.status, 0) << plan.out;
    for (const char* text : {"p0.wav", "p1.wav", "p2.wav", "total: 3 prompts", "one choice for all"})
        EXPECT_NE(plan.out.find(text), std::string::npos) << text << "\n" << plan.out;
    const auto page = cz::test::ReadFileBytes(dir.File("plan.html"));
    const std::string html(page.begin(), page.end());
    EXPECT_NE(html.find("<svg"), std::string::npos);
    EXPECT_NE(html.find("chosen: "), std::string::npos);

    struct Case {
        std::string args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {prompts, 1, "plan needs --budget"},
        {" --budget 4K", 1, "plan needs prompts"},
        {prompts + " --budget 4K --to wav", 1, "makes no chip binary"},
        {prompts + " --budget 4K --objective best", 1, "--objective takes worst or mean"},
        {prompts + " --budget 4K --rates 8000,x", 1, "--rates takes"},
        {prompts + " --budget lots", 1, "--budget takes a size"},
        {prompts + " --budget 4K --frobnicate", 1, "unknown option"},
        {" '" + dir.File("missing.wav") + "' --budget 4K", 2, "missing.wav"},
    };
    for (const Case& c : cases) {
        auto run = Cadenzor("plan -q" + c.args + cache, dir);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << c.args << "\n" << run.out;
    }
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("bad.wav"), {'R', 'I', 'F', 'F', 0, 0}));
    auto bad = Cadenzor("plan -q '" + dir.File("bad.wav") + "'" + prompts + cache + " --to pc8 --budget 1M", dir);
    EXPECT_EQ(bad.status, 2) << bad.out;
    EXPECT_NE(bad.out.find("bad.wav"), std::string::npos) << bad.out;
}

}  // namespace
