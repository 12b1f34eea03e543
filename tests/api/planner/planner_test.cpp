// The ROM planner: the optimiser on tables worked out by hand and against
// brute force, the pack image's size, and the survey's codings, cache,
// quality and melodies on sounds made in code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "api/chains/MidiBridge.h"
#include "api/planner/Planner.h"
#include "formats/binary/ResourceBinary.h"
#include "formats/registry/FormatId.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

namespace pl = cz::api::planner;
using pl::Option;

// A 16-bit mono PCM WAV file of the samples.
std::vector<uint8_t> Wav(const std::vector<int16_t>& samples, uint32_t rate) {
    cz::test::RiffBuilder riff;
    riff.Fmt(1, 1, rate, 16);
    riff.Chunk("data", cz::test::RiffBuilder::Pcm16(samples));
    return riff.Bytes();
}

// A voice-like sound: harmonics of a gliding pitch under a syllable
// envelope, with a component at `high` Hz (0: none).
std::vector<int16_t> Voice(uint32_t rate, double seconds, double pitch, double high = 0) {
    const size_t n = static_cast<size_t>(rate * seconds);
    std::vector<int16_t> s(n);
    double phase = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        phase += 2 * M_PI * pitch * (1 + 0.2 * std::sin(2 * M_PI * 1.5 * t)) / rate;
        const double env = 0.25 + 0.75 * std::pow(std::sin(M_PI * 3 * t), 2);
        double v = 0;
        for (int h = 1; h <= 8; ++h) v += std::sin(h * phase) / h;
        if (high > 0) v += 0.8 * std::sin(2 * M_PI * high * t);
        s[i] = static_cast<int16_t>(std::lround(6000 * env * v));
    }
    return s;
}

// --- the optimiser ---------------------------------------------------------

// Three prompts (header 8 + 3 x 8 = 32 bytes; A's 98 bytes take 100 in the
// image, C is last and takes its bytes exactly). Cheapest of all: 282 bytes.
const std::vector<std::vector<Option>> kHandTables = {
    {{98, 10}, {200, 20}, {400, 30}},
    {{100, 15}, {120, 15}, {300, 24}},  // 120 bytes buy nothing over 100
    {{50, 12}, {150, 18}, {250, 40}},
};

TEST(PlanOptimiser, ThreePromptsTwoBudgetsWorkedByHand) {
    struct Case {
        uint64_t budget;
        pl::Objective objective;
        std::vector<size_t> pick;
        uint64_t image;
        double worst, mean;
    };
    const Case cases[] = {
        // Worst, 500: 15 dB is the highest threshold whose cheapest choices
        // fit (A 200, B 100, C 150 = 482); 18 needs B at 300 (682). The 18
        // bytes left buy nothing.
        {500, pl::Objective::kWorst, {1, 0, 1}, 482, 15, (20 + 15 + 18) / 3.0},
        // Mean, 500: 218 bytes above the cheapest; C's +200 for 28 dB beats
        // A +100 and C +100 (16 dB).
        {500, pl::Objective::kMean, {0, 0, 2}, 482, 10, (10 + 15 + 40) / 3.0},
        // Worst, 800: 20 dB fits (A 200, B 300, C 250 = 782), 24 needs A at
        // 400 (982).
        {800, pl::Objective::kWorst, {1, 2, 2}, 782, 20, (20 + 24 + 40) / 3.0},
        // Mean, 800: A +300 and C +200 (48 dB) beat A +100, B +200 and C +200
        // (47 dB) at the same 500 bytes.
        {800, pl::Objective::kMean, {2, 0, 2}, 782, 15, (30 + 15 + 40) / 3.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "budget " << c.budget
                                        << (c.objective == pl::Objective::kMean ? " mean" : " worst"));
        const pl::Plan plan = pl::Optimise(kHandTables, c.budget, c.objective);
        ASSERT_TRUE(plan.fits);
        EXPECT_TRUE(plan.exact);
        EXPECT_EQ(plan.pick, c.pick);
        EXPECT_EQ(plan.imageBytes, c.image);
        EXPECT_DOUBLE_EQ(plan.worst, c.worst);
        EXPECT_NEAR(plan.mean, c.mean, 1e-9);
        EXPECT_EQ(plan.smallestImage, 282u);
    }
}

TEST(PlanOptimiser, NothingFitsNamesTheSmallestImage) {
    for (auto objective : {pl::Objective::kWorst, pl::Objective::kMean}) {
        const pl::Plan over = pl::Optimise(kHandTables, 281, objective);
        EXPECT_FALSE(over.fits);
        EXPECT_EQ(over.smallestImage, 282u);
        const pl::Plan exact = pl::Optimise(kHandTables, 282, objective);
        ASSERT_TRUE(exact.fits);
        EXPECT_EQ(exact.imageBytes, 282u);
        EXPECT_EQ(exact.pick, (std::vector<size_t>{0, 0, 0}));
    }
}

TEST(PlanOptimiser, MelodiesCountTheirBytesAndNeverLimitTheWorst) {
    const double none = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::vector<Option>> tables = {{{100, 5}, {300, 25}}, {{1000, none}}};
    const pl::Plan plan = pl::Optimise(tables, 8 + 16 + 300 + 1000, pl::Objective::kWorst);
    ASSERT_TRUE(plan.fits);
    EXPECT_EQ(plan.pick, (std::vector<size_t>{1, 0}));
    EXPECT_EQ(plan.imageBytes, 1324u);
    EXPECT_DOUBLE_EQ(plan.worst, 25);
    EXPECT_DOUBLE_EQ(plan.mean, 25);
    EXPECT_FALSE(pl::Optimise(tables, 1323, pl::Objective::kWorst).pick == std::vector<size_t>({1, 0}));
}

// Every combination tried: the optimiser's worst (then mean) and mean must
// be the best there is, and ties must go to the smaller image.
TEST(PlanOptimiser, AgreesWithBruteForceOnRandomTables) {
    std::mt19937 random(32);
    for (int round = 0; round < 200; ++round) {
        const size_t prompts = 1 + random() % 4;
        std::vector<std::vector<Option>> tables(prompts);
        for (auto& t : tables) {
            const size_t count = 1 + random() % 4;
            for (size_t k = 0; k < count; ++k)
                t.push_back({1 + random() % 300, static_cast<double>(random() % 12)});  // few values: many ties
        }
        const uint64_t budget = 8 + 8 * prompts + random() % (300 * prompts);
        double bestWorst = -1, bestMeanAtWorst = -1, bestMean = -1;
        uint64_t imageWorst = 0, imageMean = 0;
        std::vector<size_t> pick(prompts, 0);
        for (;;) {
            std::vector<uint64_t> sizes;
            double worst = 1e9, sum = 0;
            for (size_t p = 0; p < prompts; ++p) {
                sizes.push_back(tables[p][pick[p]].bytes);
                worst = std::min(worst, tables[p][pick[p]].quality);
                sum += tables[p][pick[p]].quality;
            }
            const uint64_t image = pl::PackImageBytes(sizes);
            if (image <= budget) {
                if (worst > bestWorst || (worst == bestWorst && sum > bestMeanAtWorst) ||
                    (worst == bestWorst && sum == bestMeanAtWorst && image < imageWorst)) {
                    bestWorst = worst;
                    bestMeanAtWorst = sum;
                    imageWorst = image;
                }
                if (sum > bestMean || (sum == bestMean && image < imageMean)) {
                    bestMean = sum;
                    imageMean = image;
                }
            }
            size_t p = 0;
            while (p < prompts && ++pick[p] == tables[p].size()) pick[p++] = 0;
            if (p == prompts) break;
        }
        SCOPED_TRACE(round);
        const pl::Plan worst = pl::Optimise(tables, budget, pl::Objective::kWorst);
        const pl::Plan mean = pl::Optimise(tables, budget, pl::Objective::kMean);
        ASSERT_EQ(worst.fits, bestWorst >= 0);
        ASSERT_EQ(mean.fits, bestMean >= 0);
        if (!worst.fits) continue;
        EXPECT_EQ(worst.worst, bestWorst);
        EXPECT_NEAR(worst.mean * prompts, bestMeanAtWorst, 1e-9);
        EXPECT_EQ(worst.imageBytes, imageWorst);
        EXPECT_NEAR(mean.mean * prompts, bestMean, 1e-9);
        EXPECT_EQ(mean.imageBytes, imageMean);
        EXPECT_LE(mean.imageBytes, budget);
    }
}

// Too many prompts for the exact table: the relaxation's plan fits, and its
// mean lies within one prompt's largest step under the bound it reports.
TEST(PlanOptimiser, ManyPromptsMeanStaysWithinItsBound) {
    std::mt19937 random(7);
    std::vector<std::vector<Option>> tables(600);
    double largestStep = 0;
    for (auto& t : tables) {
        uint64_t bytes = 2000 + random() % 2000;
        const double first = 5 + random() % 5;
        double q = first;
        for (int k = 0; k < 6; ++k) {
            t.push_back({bytes, q});
            largestStep = std::max(largestStep, q - first);  // no hull step climbs more
            bytes += 1000 + random() % 4000;
            q += 1 + (random() % 40) / 10.0;
        }
    }
    const uint64_t budget = 6u << 20;
    const pl::Plan plan = pl::Optimise(tables, budget, pl::Objective::kMean);
    ASSERT_TRUE(plan.fits);
    EXPECT_LE(plan.imageBytes, budget);
    EXPECT_LE(plan.mean, plan.meanBound + 1e-9);
    EXPECT_GE(plan.mean, plan.meanBound - largestStep / 600);
    EXPECT_FALSE(plan.exact);
    const pl::Plan worst = pl::Optimise(tables, budget, pl::Objective::kWorst);
    ASSERT_TRUE(worst.fits);
    EXPECT_LE(worst.imageBytes, budget);
    EXPECT_GE(worst.worst, plan.worst);
}

TEST(PackImage, SizeFromTheResourcesIsTheBuiltImage) {
    const std::vector<std::vector<uint64_t>> cases = {{}, {1}, {4}, {3, 5}, {4, 4, 4}, {7, 1, 2, 9}, {0, 0, 6}};
    for (const auto& sizes : cases) {
        std::vector<std::vector<uint8_t>> resources;
        for (uint64_t s : sizes) resources.emplace_back(s, static_cast<uint8_t>(0xA0 + resources.size()));
        std::vector<uint8_t> image;
        std::vector<uint32_t> offsets;
        std::string failure;
        ASSERT_TRUE(pl::BuildPackImage(resources, image, offsets, &failure)) << failure;
        EXPECT_EQ(image.size(), pl::PackImageBytes(sizes));
        for (size_t i = 0; i < sizes.size(); ++i) {
            EXPECT_EQ(offsets[i] % 4, 0u);
            const uint8_t* entry = &image[8 + 8 * i];
            EXPECT_EQ(entry[0] | entry[1] << 8 | entry[2] << 16 | static_cast<uint32_t>(entry[3]) << 24, offsets[i]);
            EXPECT_EQ(entry[4] | entry[5] << 8, sizes[i]);
        }
    }
}

// --- the survey ------------------------------------------------------------

class PlanSurvey : public testing::Test {
protected:
    cz::test::TempDir dir;
    pl::Settings settings;

    void SetUp() override {
        settings.cacheFolder = dir.File("cache");
        settings.formats = {cz::kFormatApm, cz::kFormatPc8};
        settings.jobs = 2;
        settings.coderVersion = "test";
    }
    std::string Write(const std::string& name, const std::vector<int16_t>& samples, uint32_t rate = 8000) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(cz::test::WriteFileBytes(path, Wav(samples, rate)));
        return path;
    }
};

TEST_F(PlanSurvey, CacheHoldsTheCodingsUntilTheInputOrASettingChanges) {
    const std::string a = Write("a.wav", Voice(8000, 0.4, 140));
    const std::string b = Write("b.wav", Voice(8000, 0.3, 220));
    // apm (two modes) and pc8 at 8000 and 6000 Hz: 6 choices each.
    pl::Survey first = pl::RunSurvey({a, b}, settings);
    ASSERT_TRUE(first.prompts[0].ok) << first.prompts[0].failure;
    EXPECT_EQ(first.coded, 12u);
    EXPECT_EQ(first.cached, 0u);
    pl::Survey again = pl::RunSurvey({a, b}, settings);
    EXPECT_EQ(again.coded, 0u);
    EXPECT_EQ(again.cached, 12u);
    for (size_t p = 0; p < 2; ++p)
        for (size_t k = 0; k < 6; ++k) {
            EXPECT_EQ(again.prompts[p].outcomes[k].bytes, first.prompts[p].outcomes[k].bytes);
            EXPECT_EQ(again.prompts[p].outcomes[k].segmental, first.prompts[p].outcomes[k].segmental);
        }

    // A changed input is coded again; the other is not.
    Write("a.wav", Voice(8000, 0.5, 150));
    pl::Survey changed = pl::RunSurvey({a, b}, settings);
    EXPECT_EQ(changed.prompts[0].coded, 6u);
    EXPECT_EQ(changed.prompts[1].coded, 0u);
    EXPECT_NE(changed.prompts[0].outcomes[0].bytes, first.prompts[0].outcomes[0].bytes);

    // A new setting codes only what it adds; another coder version or
    // profile codes everything.
    settings.formats.push_back(cz::kFormatMdm);
    EXPECT_EQ(pl::RunSurvey({a, b}, settings).coded, 4u);
    settings.coderVersion = "test 2";
    EXPECT_EQ(pl::RunSurvey({a, b}, settings).coded, 16u);
    settings.profile = cz::api::Profile::Compatible();
    EXPECT_EQ(pl::RunSurvey({a}, settings).coded, 8u);
}

TEST_F(PlanSurvey, SizesAreTheBinariesAndLowRatesLoseTheirBandwidth) {
    // 3.2 kHz is kept at 8000 Hz and lost at 6000 Hz: measured against the
    // source itself, the lower rate must sound clearly worse.
    const std::string path = Write("bright.wav", Voice(8000, 0.5, 160, 3200));
    settings.noCache = true;
    settings.formats = {cz::kFormatPc8};
    const pl::Survey survey = pl::RunSurvey({path}, settings);
    const pl::Prompt& p = survey.prompts[0];
    ASSERT_TRUE(p.ok) << p.failure;
    ASSERT_EQ(p.outcomes.size(), 2u);
    EXPECT_EQ(p.sourceRate, 8000u);
    EXPECT_EQ(p.outcomes[0].choice.rate, 8000u);
    EXPECT_EQ(p.outcomes[1].choice.rate, 6000u);
    EXPECT_GT(p.outcomes[0].segmental, p.outcomes[1].segmental + 6);
    EXPECT_GT(p.outcomes[0].bytes, p.outcomes[1].bytes);
    EXPECT_TRUE(std::isfinite(p.outcomes[0].snr));

    // The plan's image is written to the byte it reported, each entry the
    // resource the survey measured, readable as the chip reads it.
    const pl::Plan plan = pl::Optimise(pl::TablesOf(survey), 1 << 20, pl::Objective::kWorst);
    ASSERT_TRUE(plan.fits);
    pl::ApplyTarget target;
    target.packImage = dir.File("image.bin");
    target.outFolder = dir.File("out");
    std::string failure;
    std::vector<std::string> written;
    ASSERT_TRUE(pl::ApplyPlan(survey, plan, target, &written, &failure)) << failure;
    const auto image = cz::test::ReadFileBytes(target.packImage);
    EXPECT_EQ(image.size(), plan.imageBytes);
    const auto bin = cz::test::ReadFileBytes(dir.File("out/bright.bin"));
    EXPECT_EQ(bin.size(), pl::Picked(survey, plan, 0).bytes);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 16, image.end()), bin);
    cz::S_ResourceBinary decoded;
    EXPECT_TRUE(cz::ReadResourceBinary(bin, decoded, &failure)) << failure;
    EXPECT_TRUE(cz::test::FileExists(target.packImage + ".h"));
    // Nothing is replaced unless asked.
    EXPECT_FALSE(pl::ApplyPlan(survey, plan, target, nullptr, &failure));
    EXPECT_NE(failure.find("exists"), std::string::npos) << failure;
}

TEST_F(PlanSurvey, SilentPromptsHaveNoQualityAndTakeTheirCheapestChoice) {
    // A "silence" prompt of +-1 LSB: no segment is loud enough to judge, so
    // it must neither drag the worst down nor be given bytes.
    std::vector<int16_t> hiss(4000);
    for (size_t i = 0; i < hiss.size(); ++i) hiss[i] = static_cast<int16_t>((i * 7919 % 3) - 1);
    const std::string quiet = Write("quiet.wav", hiss);
    const std::string voice = Write("voice.wav", Voice(8000, 0.4, 150));
    const pl::Survey survey = pl::RunSurvey({quiet, voice}, settings);
    ASSERT_TRUE(survey.prompts[0].ok) << survey.prompts[0].failure;
    for (const pl::Outcome& o : survey.prompts[0].outcomes) EXPECT_TRUE(std::isnan(o.segmental)) << o.choice.Label();
    const pl::Plan plan = pl::Optimise(pl::TablesOf(survey), 1 << 20, pl::Objective::kWorst);
    ASSERT_TRUE(plan.fits);
    uint64_t cheapest = ~0ull;
    for (const pl::Outcome& o : survey.prompts[0].outcomes) cheapest = std::min(cheapest, o.bytes);
    EXPECT_EQ(pl::Picked(survey, plan, 0).bytes, cheapest);
    EXPECT_DOUBLE_EQ(plan.worst, pl::Picked(survey, plan, 1).segmental);
    pl::SingleChoice single;
    ASSERT_TRUE(pl::BestSingleChoice(survey, 1 << 20, &single));
    EXPECT_TRUE(std::isfinite(single.worst) && std::isfinite(single.mean));
    // "No quality" comes back from the cache as it went in.
    const pl::Survey again = pl::RunSurvey({quiet, voice}, settings);
    EXPECT_EQ(again.coded, 0u);
    EXPECT_TRUE(std::isnan(again.prompts[0].outcomes[0].segmental));
}

TEST_F(PlanSurvey, MelodiesAreTheirImfBytes) {
    // Format 0, 96 ticks a quarter, two notes.
    const std::vector<uint8_t> song = {'M',  'T',  'h',  'd',  0,    0,    0,    6,    0,    0,    0,
                                       1,    0,    96,   'M',  'T',  'r',  'k',  0,    0,    0,    22,
                                       0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90, 0x00, 0x90, 60,   100,
                                       0x60, 62,   100,  0x60, 0x80, 60,   0,    0x00, 0xFF, 0x2F, 0x00};
    const std::string mid = dir.File("tune.mid");
    ASSERT_TRUE(cz::test::WriteFileBytes(mid, song));
    ASSERT_NE(cz::api::ConvertMidToImf(mid.c_str(), dir.File("tune.imf").c_str()), 0);
    const auto imf = cz::test::ReadFileBytes(dir.File("tune.imf"));
    ASSERT_FALSE(imf.empty());
    const std::string voice = Write("voice.wav", Voice(8000, 0.3, 180));

    // The MIDI file and the IMF file alike: one choice, the IMF's bytes.
    const pl::Survey survey = pl::RunSurvey({mid, dir.File("tune.imf"), voice}, settings);
    for (size_t p = 0; p < 2; ++p) {
        const pl::Prompt& prompt = survey.prompts[p];
        ASSERT_TRUE(prompt.ok) << prompt.failure;
        EXPECT_TRUE(prompt.melody);
        ASSERT_EQ(prompt.outcomes.size(), 1u);
        EXPECT_EQ(prompt.outcomes[0].bytes, imf.size());
        EXPECT_EQ(prompt.outcomes[0].choice.extension, "imf");
    }
    const pl::Plan plan = pl::Optimise(pl::TablesOf(survey), 1 << 20, pl::Objective::kWorst);
    ASSERT_TRUE(plan.fits);
    EXPECT_DOUBLE_EQ(plan.worst, pl::Picked(survey, plan, 2).segmental);
    pl::ApplyTarget target;
    target.packImage = dir.File("tunes.bin");
    std::string failure;
    ASSERT_TRUE(pl::ApplyPlan(survey, plan, target, nullptr, &failure)) << failure;
    const auto image = cz::test::ReadFileBytes(target.packImage);
    ASSERT_EQ(image.size(), plan.imageBytes);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 32, image.begin() + 32 + static_cast<long>(imf.size())), imf);
}

TEST_F(PlanSurvey, UnreadableInputsAreNamedAndFoldersSearched) {
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("junk.wav"), {'R', 'I', 'F', 'F', 1, 2}));
    const pl::Survey survey = pl::RunSurvey({dir.File("junk.wav")}, settings);
    EXPECT_FALSE(survey.prompts[0].ok);
    EXPECT_FALSE(survey.prompts[0].failure.empty());

    std::vector<std::string> inputs;
    std::string failure;
    EXPECT_FALSE(pl::CollectInputs({dir.File("none")}, inputs, &failure));
    EXPECT_NE(failure.find("none"), std::string::npos);
    ASSERT_EQ(cz::test::RunCommand("mkdir -p '" + dir.File("set/sub") + "' '" + dir.File("empty") + "'"), 0);
    Write("set/sub/b.wav", Voice(8000, 0.1, 100));
    Write("set/a.wav", Voice(8000, 0.1, 100));
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("set/notes.txt"), {'x'}));
    inputs.clear();
    ASSERT_TRUE(pl::CollectInputs({dir.File("set")}, inputs, &failure)) << failure;
    EXPECT_EQ(inputs, (std::vector<std::string>{dir.File("set/a.wav"), dir.File("set/sub/b.wav")}));
    EXPECT_FALSE(pl::CollectInputs({dir.File("empty")}, inputs, &failure));
}

}  // namespace
