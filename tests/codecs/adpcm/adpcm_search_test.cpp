// The trellis search behind the "new" chip ADPCM coder, on its block
// encoder: streams the plain reconstruction replays within range, the vector
// loop against the portable one, the barred code, and the width setting.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "adpcm_support.h"
#include "codecs/adpcm/AdpcmBlockEncoder.h"
#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/adpcm/C_NewADPCMEncDec.h"

namespace cz {
namespace {

constexpr std::array<int8_t, 8> kImaAdjust = {-1, -1, -1, -1, 2, 4, 6, 8};

// The coder's 12-bit table: (8 + i % 8) << (i / 8).
std::array<int16_t, 64> Steps() {
    std::array<int16_t, 64> steps{};
    for (int i = 0; i < 64; ++i) steps[i] = static_cast<int16_t>((8 + i % 8) << (i / 8));
    return steps;
}

struct Coded {
    std::vector<uint8_t> codes;
    std::vector<uint8_t> indices;
    S_AdpcmBlockState last;
};

Coded Encode(const std::vector<int16_t>& samples, int width, S_AdpcmBlockState state = {}) {
    static const std::array<int16_t, 64> steps = Steps();
    const S_AdpcmBlockTables tables{steps.data(), 64, kImaAdjust.data(), -2048, 2047};
    Coded out;
    out.codes.resize(samples.size());
    out.indices.resize(samples.size());
    for (size_t first = 0; first < samples.size(); first += kAdpcmBlockSamples) {
        const auto count = static_cast<uint32_t>(std::min<size_t>(kAdpcmBlockSamples, samples.size() - first));
        EncodeAdpcmBlock(samples.data() + first, count, tables, state, out.codes.data() + first,
                         out.indices.data() + first, width);
    }
    out.last = state;
    return out;
}

// Replays the codes with the plain reconstruction from `start`: every value
// within the 12-bit range, the recorded index after each code, no 15, 0, 15,
// 0, and the final state. Returns the squared error against the samples.
double Replay(const std::vector<int16_t>& samples, const Coded& coded, S_AdpcmBlockState start = {}) {
    static const std::array<int16_t, 64> steps = Steps();
    int32_t value = start.prediction;
    int index = start.stepIndex;
    double error = 0;
    for (size_t i = 0; i < coded.codes.size(); ++i) {
        const uint8_t code = coded.codes[i];
        const int32_t step = steps[static_cast<size_t>(index)];
        int32_t sum = step >> 3;
        if (code & 4) sum += step;
        if (code & 2) sum += step >> 1;
        if (code & 1) sum += step >> 2;
        value += (code & 8) ? -sum : sum;
        index = std::clamp(index + kImaAdjust[code & 7], 0, 63);
        EXPECT_LT(code, 16);
        EXPECT_GE(value, -2048) << "sample " << i;
        EXPECT_LE(value, 2047) << "sample " << i;
        EXPECT_EQ(coded.indices[i], index) << "sample " << i;
        if (i >= 3) {
            EXPECT_FALSE(coded.codes[i - 3] == 15 && coded.codes[i - 2] == 0 && coded.codes[i - 1] == 15 && code == 0)
                << "sample " << i;
        }
        const double e = static_cast<double>(value) - samples[i];
        error += e * e;
    }
    EXPECT_EQ(coded.last.prediction, value);
    EXPECT_EQ(coded.last.stepIndex, index);
    return error;
}

double SnrDb(const std::vector<int16_t>& samples, double error) {
    double energy = 0;
    for (int16_t s : samples) energy += static_cast<double>(s) * s;
    return 10.0 * std::log10(energy / error);
}

std::vector<int16_t> Centred(const std::vector<uint16_t>& chip) {
    std::vector<int16_t> out;
    for (uint16_t v : chip) out.push_back(static_cast<int16_t>(v - 2048));
    return out;
}

// Signals that take the search to both ends of the step table and of the
// sample range: speech, a full-scale square, loud noise, silence with clicks,
// and a slow wave that hugs the top of the range.
std::vector<std::pair<std::string, std::vector<int16_t>>> Signals() {
    std::vector<std::pair<std::string, std::vector<int16_t>>> signals;
    signals.emplace_back("speech", Centred(test::SpeechLike12(6000, 41)));
    std::vector<int16_t> square, noise, clicks, hug;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> full(-2048, 2047);
    for (int i = 0; i < 3000; ++i) {
        square.push_back((i / 3) % 2 ? 2047 : -2048);
        noise.push_back(static_cast<int16_t>(full(random)));
        clicks.push_back(i % 700 == 350 ? 1500 : (i % 700 == 351 ? -900 : 0));
        hug.push_back(static_cast<int16_t>(2047 - std::lround(40.0 * (1.0 + std::sin(i * 0.05)))));
    }
    signals.emplace_back("square", square);
    signals.emplace_back("noise", noise);
    signals.emplace_back("clicks", clicks);
    signals.emplace_back("hug", hug);
    return signals;
}

TEST(AdpcmSearch, StreamsReplayWithinRangeAtEveryWidth) {
    for (const auto& [name, samples] : Signals()) {
        for (int width : {1, 3, 8, 16, 32}) {
            SCOPED_TRACE(name + ", width " + std::to_string(width));
            Replay(samples, Encode(samples, width));
        }
        // From a given state, at the ends of the table and the range.
        for (const S_AdpcmBlockState start : {S_AdpcmBlockState{2047, 63, 0}, S_AdpcmBlockState{-2048, 0, 2}}) {
            SCOPED_TRACE(name + ", from a state");
            Replay(samples, Encode(samples, kAdpcmSearchWidth, start), start);
        }
    }
}

// The vector loop gives the portable loop's codes, indices and end state.
TEST(AdpcmSearch, VectorLoopMatchesThePortableLoop) {
    if (!AdpcmSearchVectorActive()) GTEST_SKIP() << "no vector loop on this processor";
    for (const auto& [name, samples] : Signals()) {
        for (int width : {8, 16, 24, 32}) {
            SCOPED_TRACE(name + ", width " + std::to_string(width));
            for (const S_AdpcmBlockState start : {S_AdpcmBlockState{}, S_AdpcmBlockState{2000, 60, 3}}) {
                const Coded vector = Encode(samples, width, start);
                SetAdpcmSearchVectorAllowed(false);
                const Coded portable = Encode(samples, width, start);
                SetAdpcmSearchVectorAllowed(true);
                EXPECT_EQ(vector.codes, portable.codes);
                EXPECT_EQ(vector.indices, portable.indices);
                EXPECT_EQ(vector.last.prediction, portable.last.prediction);
                EXPECT_EQ(vector.last.stepIndex, portable.last.stepIndex);
                EXPECT_EQ(vector.last.patternState, portable.last.patternState);
            }
        }
    }
}

// After 15, 0, 15 the code 0 is barred even where it fits best: a sample one
// above the running value at the smallest step (where +1 is exact).
TEST(AdpcmSearch, CodeZeroIsBarredAfterTheGuardsStart) {
    const std::vector<int16_t> samples = {1};
    for (int width : {1, 8}) {
        const Coded free = Encode(samples, width, S_AdpcmBlockState{0, 0, 0});
        EXPECT_EQ(free.codes[0], 0);
        const Coded barred = Encode(samples, width, S_AdpcmBlockState{0, 0, 3});
        EXPECT_NE(barred.codes[0], 0);
        Replay(samples, barred);
    }
}

// Wider searches code closer to the samples; the default is well ahead of
// the plain coder's one-sample choice (width 1).
TEST(AdpcmSearch, WiderSearchCodesCloser) {
    const std::vector<int16_t> samples = Centred(test::SpeechLike12(16000, 42));
    const double narrow = SnrDb(samples, Replay(samples, Encode(samples, 1)));
    const double normal = SnrDb(samples, Replay(samples, Encode(samples, kAdpcmSearchWidth)));
    const double wide = SnrDb(samples, Replay(samples, Encode(samples, 32)));
    EXPECT_GT(normal, narrow + 1.0) << narrow << " " << normal;
    EXPECT_GE(wide, normal - 0.05) << normal << " " << wide;
}

TEST(AdpcmSearch, CoderWidthSetting) {
    C_NewADPCMEncDec coder;
    EXPECT_EQ(coder.GetSearchWidth(), kAdpcmSearchWidth);
    coder.SetSearchWidth(0);
    EXPECT_EQ(coder.GetSearchWidth(), 1);
    coder.SetSearchWidth(1000);
    EXPECT_EQ(coder.GetSearchWidth(), kAdpcmMaxSearchWidth);
    // Any width codes a stream the plain decoder reads the same way.
    const auto samples = test::SpeechLike12(3000, 43);
    C_ADPCMEncDec plain(12, 64);
    for (int width : {1, 5, 16}) {
        coder.SetSearchWidth(width);
        const auto bytes = test::EncodeAll(coder, samples, 2);
        ASSERT_GT(bytes.size(), 0u);
        EXPECT_EQ(test::DecodeAll(plain, bytes), test::DecodeAll(coder, bytes)) << width;
    }
}

}  // namespace
}  // namespace cz
