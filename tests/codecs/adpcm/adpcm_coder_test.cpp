// The 4-bit chip ADPCM coder: hand-computed vectors, the range and pattern
// guards, lead-in and tail handling, sizes, progress and failures.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "adpcm_support.h"
#include "codecs/adpcm/C_ADPCMEncDec.h"

namespace cz {
namespace {

using test::DecodeAll;
using test::EncodeAll;
using test::Nibbles;
using test::Trace;

// Opens the coder state so Flush can start from a chosen point.
class FlushProbe : public C_ADPCMEncDec {
public:
    FlushProbe() : C_ADPCMEncDec(12, 64) {}
    void Start(uint32_t mode, int32_t prediction, uint16_t stepIndex) {
        ResetEncoder(0, mode);
        prediction_ = prediction;
        stepIndex_ = stepIndex;
    }
    void SetPattern(uint16_t state) { patternState_ = state; }
    using C_ADPCMEncDec::EncodeSample;
    int32_t Prediction() const { return prediction_; }
    uint16_t Index() const { return stepIndex_; }
};

TEST(AdpcmCoder, StepTableRunsEightMantissasPerOctave) {
    C_ADPCMEncDec coder(12, 64);
    const std::array<int32_t, 12> expected = {8, 9, 10, 11, 12, 13, 14, 15, 16, 18, 20, 22};
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(coder.GetStepSize(static_cast<int32_t>(i)), expected[i]);
    EXPECT_EQ(coder.GetStepSize(61), 1664);
    EXPECT_EQ(coder.GetStepSize(63), 1920);
    EXPECT_EQ(coder.GetStepSize(64), 0);
    C_ADPCMEncDec pam(12, 63);
    EXPECT_EQ(pam.GetStepCount(), 63);
    C_ADPCMEncDec wide(16, 64);
    EXPECT_EQ(wide.GetStepSize(63), 1920 << 4);
    C_ADPCMEncDec narrow(10, 64);
    EXPECT_EQ(narrow.GetStepSize(0), 2);
}

TEST(AdpcmCoder, QuantizeAndReconstructFollowTheStepBits) {
    C_ADPCMEncDec coder(12, 64);
    // step 8: 8 < 100 (92), 4 < 92, 2 < 88 -> magnitude 7.
    EXPECT_EQ(coder.Quantize(100, 0), 7);
    EXPECT_EQ(coder.Quantize(-100, 0), 15);
    // Strictly less: a difference equal to the step does not set the bit.
    EXPECT_EQ(coder.Quantize(8, 0), 3);  // 4 < 8, 2 < 4
    EXPECT_EQ(coder.Quantize(0, 0), 0);
    EXPECT_EQ(coder.Quantize(-1, 0), 8);
    uint16_t index = 0;
    EXPECT_EQ(coder.Reconstruct(0, 7, index), 15);  // 8 + 4 + 2 + 1
    EXPECT_EQ(index, 8);
    EXPECT_EQ(coder.Reconstruct(0, 8, index), -2);  // -(16 >> 3)
    EXPECT_EQ(index, 7);
    index = 63;
    EXPECT_EQ(coder.Reconstruct(2000, 7, index), 2047);  // clamped for decoding
    EXPECT_EQ(index, 63);
    index = 0;
    EXPECT_EQ(coder.Reconstruct(0, 3, index), 0 + 4 + 2 + 1);
    EXPECT_EQ(index, 0);  // -1 clamped at 0
}

// Worked by hand from the coding rules (mode 2: pad to four codes only).
// p: prediction, i: step index.
//   2148: d=100 at step 8 -> 7, +15: p=15 i=8
//   2148: d=85 at step 16 -> 7, +30: p=45 i=16
//   1998: d=-95 at step 32 -> 15, -60: p=-15 i=24
//   2048: d=15 at step 64 -> 0, +8: p=-7 i=23
//   2048: d=7 at step 60 -> 0, +7: p=0 i=22
//   tail: 0 (+7, i=21), 8 (-6, i=20), 8 (-6, i=19)
TEST(AdpcmCoder, HandComputedVectorInPadMode) {
    C_ADPCMEncDec coder(12, 64);
    const std::vector<uint16_t> samples = {2148, 2148, 1998, 2048, 2048};
    auto bytes = EncodeAll(coder, samples, 2);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x77, 0xF0, 0x00, 0x88}));
    EXPECT_EQ(Trace(coder), (std::vector<uint8_t>{8, 16, 24, 23, 22, 21, 20, 19}));
    EXPECT_EQ(DecodeAll(coder, bytes), (std::vector<uint16_t>{2063, 2093, 2033, 2041, 2048, 2055, 2049, 2043}));
}

// Lead-in: six codes toward full scale from 0: +15, +30, +60, +120, +240, +480
// (p=945, i=48); then 2048: d=-945 at step 512 -> 15 (-960, p=-15, i=56);
// one pad code: 0 (+128).
TEST(AdpcmCoder, LeadInWritesSixFullScaleCodes) {
    C_ADPCMEncDec coder(12, 64);
    auto bytes = EncodeAll(coder, {2048}, 3);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x77, 0x77, 0x77, 0xF0}));
    EXPECT_EQ(Trace(coder), (std::vector<uint8_t>{8, 16, 24, 32, 40, 48, 56, 55}));
}

TEST(AdpcmCoder, FiveSamplesInModeTwoMakeEightCodes) {
    C_ADPCMEncDec coder(12, 64);
    auto bytes = EncodeAll(coder, test::SpeechLike12(5, 3), 2);
    EXPECT_EQ(bytes.size(), 4u);
    EXPECT_EQ(coder.GetStepIndexTraceSize(), 8u);
}

// 2028: d=-20 -> 15 (p=-15, i=8); 2033: d=0 -> 0 (+2, p=-13, i=7);
// 1995: d=-40 at step 15 -> 15 (-26, p=-39, i=15); 2009: d=0 would be 0,
// which completes the pattern: the sign-flipped zero 8 (-3) is sent.
TEST(AdpcmCoder, PatternGuardTurnsTheClosingZeroIntoEight) {
    C_ADPCMEncDec coder(12, 64);
    auto bytes = EncodeAll(coder, {2028, 2033, 1995, 2009}, 2);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xF0, 0xF8}));
    EXPECT_EQ(Trace(coder), (std::vector<uint8_t>{8, 7, 15, 14}));
}

// 15, 15, 0, 15 then a zero difference: the second 15 starts the pattern
// afresh, so the zero is still replaced.
TEST(AdpcmCoder, PatternGuardCatchesARepeatedFullCode) {
    C_ADPCMEncDec coder(12, 64);
    auto bytes = EncodeAll(coder, {2028, 1993, 2003, 1947, 1952}, 2);
    auto codes = Nibbles(bytes, bytes.size());
    ASSERT_GE(codes.size(), 5u);
    EXPECT_EQ((std::vector<uint8_t>(codes.begin(), codes.begin() + 5)), (std::vector<uint8_t>{15, 15, 0, 15, 8}));
    EXPECT_FALSE(test::HasGuardPattern(codes, 15));
}

TEST(AdpcmCoder, NoStreamHoldsTheGuardPattern) {
    // Small alternating steps provoke 15, 0 runs.
    std::vector<uint16_t> samples;
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) samples.push_back(static_cast<uint16_t>(rng() % 4096));
    for (int i = 0; i < 4000; ++i) samples.push_back(static_cast<uint16_t>(2048 - (i % 2 ? 0 : 40 + (i % 7))));
    for (uint32_t mode = 0; mode <= 4; ++mode) {
        C_ADPCMEncDec coder(12, 64);
        auto bytes = EncodeAll(coder, samples, mode);
        ASSERT_GT(bytes.size(), 0u);
        EXPECT_FALSE(test::HasGuardPattern(Nibbles(bytes, bytes.size()), 15)) << "mode " << mode;
    }
}

// The reconstruction never leaves the range, so the decoder's clamp is never
// needed: an unclamped decoder written from the rules agrees sample for sample.
TEST(AdpcmCoder, FullScaleSquareWaveStaysInRange) {
    std::vector<uint16_t> square;
    for (int i = 0; i < 4000; ++i) square.push_back((i / 9) % 2 ? 4095 : 0);
    for (int i = 0; i < 4000; ++i) square.push_back(i % 2 ? 4095 : 0);
    std::mt19937 rng(11);
    for (int i = 0; i < 4000; ++i) square.push_back(rng() % 2 ? 4095 : 0);
    for (uint32_t mode = 0; mode <= 4; ++mode) {
        C_ADPCMEncDec coder(12, 64);
        auto bytes = EncodeAll(coder, square, mode);
        ASSERT_GT(bytes.size(), 0u) << "mode " << mode;
        auto decoded = DecodeAll(coder, bytes);
        test::ReferenceDecoder4 reference;
        auto codes = Nibbles(bytes, bytes.size());
        ASSERT_EQ(decoded.size(), codes.size());
        for (size_t i = 0; i < codes.size(); ++i) {
            int32_t value = reference.Next(codes[i]);
            ASSERT_GE(value, -2048) << "code " << i;
            ASSERT_LE(value, 2047) << "code " << i;
            ASSERT_EQ(decoded[i], value + 2048) << "code " << i;
        }
    }
}

TEST(AdpcmCoder, FlushToSilenceEndsAtZeroOnAFourCodeBoundary) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        auto samples = test::SpeechLike12(37 + seed * 101, seed, 300.0 * (seed % 7));
        for (uint32_t mode : {0u, 1u, 4u}) {
            C_ADPCMEncDec coder(12, 64);
            auto bytes = EncodeAll(coder, samples, mode);
            ASSERT_GT(bytes.size(), 0u);
            const uint32_t codes = coder.GetStepIndexTraceSize();
            EXPECT_EQ(codes % 4, 0u);
            EXPECT_EQ(codes, bytes.size() * 2);
            EXPECT_EQ(coder.GetStepIndexTrace()[codes - 1], 0);
            auto decoded = DecodeAll(coder, bytes);
            EXPECT_EQ(decoded.back(), 2048) << "seed " << seed << " mode " << mode;
            EXPECT_EQ(coder.GetModeFourFlag(), mode == 4);
        }
    }
}

TEST(AdpcmCoder, FlushEndsPlusOneWithFourTenNineEight) {
    FlushProbe coder;
    std::array<uint8_t, C_ADPCMEncDec::kMaxTailCodes> tail{};
    coder.Start(0, 1, 0);
    uint32_t count = coder.Flush(tail.data(), 4);
    ASSERT_GE(count, 4u);
    EXPECT_EQ(count % 4, 0u);
    EXPECT_EQ((std::vector<uint8_t>(tail.begin() + count - 4, tail.begin() + count)),
              (std::vector<uint8_t>{4, 10, 9, 8}));
    EXPECT_EQ(coder.Prediction(), 0);
    EXPECT_EQ(coder.Index(), 0);

    // From -1 the zero code first climbs to 0 and the run ends as from +1.
    coder.Start(0, -1, 0);
    count = coder.Flush(tail.data(), 4);
    ASSERT_GE(count, 4u);
    EXPECT_EQ(count % 4, 0u);
    EXPECT_EQ(coder.Prediction(), 0);

    // Already silent on a boundary: nothing; pad mode on a boundary: nothing.
    coder.Start(0, 0, 0);
    EXPECT_EQ(coder.Flush(tail.data(), 8), 0u);
    coder.Start(2, 700, 40);
    EXPECT_EQ(coder.Flush(tail.data(), 8), 0u);
    coder.Start(2, 700, 40);
    EXPECT_EQ(coder.Flush(tail.data(), 5), 3u);
}

// After 15, 0, 15 at the bottom of the range, a zero difference can neither
// be sent as 0 (the pattern) nor as 8 (below -2048): the nearest acceptable
// code, 1 (+6 at step 16), is sent instead of failing.
TEST(AdpcmCoder, BarredZeroAtTheFloorTakesTheNearestAcceptableCode) {
    FlushProbe coder;
    coder.Start(2, -2047, 8);
    coder.SetPattern(3);
    EXPECT_EQ(coder.EncodeSample(1), 1);
    EXPECT_EQ(coder.Prediction(), -2041);
    EXPECT_EQ(coder.GetFallbackCount(), 1u);
    // Away from the floor the barred zero simply turns into 8.
    coder.Start(2, 2040, 8);
    coder.SetPattern(3);
    EXPECT_EQ(coder.EncodeSample(4088), 8);
    EXPECT_EQ(coder.Prediction(), 2038);
}

// From every step index and a spread of values the tail reaches silence well
// within its 132 codes.
TEST(AdpcmCoder, FlushNeverRunsOutOfTailCodes) {
    FlushProbe coder;
    std::array<uint8_t, C_ADPCMEncDec::kMaxTailCodes> tail{};
    for (uint16_t index = 0; index < 64; ++index) {
        for (int32_t value = -2048; value <= 2047; value += 7) {
            for (uint32_t n : {0u, 1u, 2u, 3u}) {
                coder.Start(0, value, index);
                uint32_t count = coder.Flush(tail.data(), n);
                if (value == 0 && index == 0 && n == 0) continue;
                ASSERT_GT(count, 0u) << value << " " << index;
                ASSERT_EQ((n + count) % 4, 0u);
                ASSERT_EQ(coder.Prediction(), 0);
                ASSERT_EQ(coder.Index(), 0);
            }
        }
    }
}

// A derived coder takes the general per-sample path; the plain coder an
// inlined one. Both must give the same bytes and trace.
class GeneralPath : public C_ADPCMEncDec {
public:
    GeneralPath() : C_ADPCMEncDec(12, 64) {}
};

TEST(AdpcmCoder, InlinedAndGeneralPathsAgree) {
    std::vector<uint16_t> samples = test::SpeechLike12(20000, 12, 2000.0);
    std::mt19937 rng(13);
    for (int i = 0; i < 5000; ++i) samples.push_back(static_cast<uint16_t>(rng() % 2 ? 4095 : 0));
    for (int i = 0; i < 5000; ++i) samples.push_back(static_cast<uint16_t>(rng() % 4096));
    for (int i = 0; i < 2000; ++i) samples.push_back(static_cast<uint16_t>(2048 - (i % 2 ? 0 : 40 + (i % 5))));
    for (uint32_t mode = 0; mode <= 4; ++mode) {
        C_ADPCMEncDec plain(12, 64);
        GeneralPath general;
        EXPECT_EQ(EncodeAll(plain, samples, mode), EncodeAll(general, samples, mode)) << "mode " << mode;
        EXPECT_EQ(Trace(plain), Trace(general));
        EXPECT_EQ(plain.GetFallbackCount(), general.GetFallbackCount());
    }
}

TEST(AdpcmCoder, RoundTripKeepsSpeechLikeSignals) {
    auto samples = test::SpeechLike12(32000, 5);
    C_ADPCMEncDec coder(12, 64);
    auto bytes = EncodeAll(coder, samples, 2);
    auto decoded = DecodeAll(coder, bytes);
    ASSERT_GE(decoded.size(), samples.size());
    EXPECT_GT(test::SnrDb(samples, decoded.data(), samples.size()), 20.0);
    EXPECT_EQ(coder.GetFallbackCount(), 0u);
}

// Any 12-bit input codes; values above full scale are clamped to 4095.
TEST(AdpcmCoder, EveryInputCodesAndOutOfRangeValuesAreClamped) {
    std::vector<uint16_t> samples;
    for (uint32_t v = 0; v < 4096; v += 3) samples.push_back(static_cast<uint16_t>(v));
    for (uint32_t v = 4095; v > 0; v -= 5) samples.push_back(static_cast<uint16_t>(v));
    C_ADPCMEncDec coder(12, 64);
    for (uint32_t mode = 0; mode <= 4; ++mode) EXPECT_GT(EncodeAll(coder, samples, mode).size(), 0u);

    auto high = EncodeAll(coder, {5000, 65535, 4096, 0}, 2);
    auto clamped = EncodeAll(coder, {4095, 4095, 4095, 0}, 2);
    EXPECT_EQ(high, clamped);
}

TEST(AdpcmCoder, EncodeRangeCodesTheSlice) {
    auto samples = test::SpeechLike12(1000, 9);
    C_ADPCMEncDec coder(12, 64);
    std::vector<uint8_t> whole(coder.GetMaxEncodedSize(300, 1));
    uint32_t used =
        coder.EncodeRange(samples.data(), kEncodeRangeUnused, 200, 300, whole.data(), static_cast<uint32_t>(whole.size()), 1, nullptr);
    whole.resize(used);
    std::vector<uint16_t> slice(samples.begin() + 200, samples.begin() + 500);
    EXPECT_EQ(whole, EncodeAll(coder, slice, 1));
}

TEST(AdpcmCoder, EncodeFailsWhenTheBufferIsShortOrEmpty) {
    auto samples = test::SpeechLike12(100, 2);
    C_ADPCMEncDec coder(12, 64);
    std::vector<uint8_t> small(20);
    EXPECT_EQ(coder.Encode(100, samples.data(), small.data(), 20, 2, nullptr), 0u);
    // Nothing to code: no byte is claimed.
    EXPECT_EQ(coder.Encode(0, samples.data(), small.data(), 20, 2, nullptr), 0u);
    EXPECT_EQ(coder.Encode(0, nullptr, small.data(), 20, 0, nullptr), 0u);
    // The lead-in alone still makes a stream.
    EXPECT_GT(coder.Encode(0, nullptr, small.data(), 20, 3, nullptr), 0u);
}

TEST(AdpcmCoder, SizeBoundsCoverEveryMode) {
    C_ADPCMEncDec coder(12, 64);
    EXPECT_EQ(coder.GetMaxEncodedSize(1000, 2), 504u);
    EXPECT_EQ(coder.GetMaxEncodedSize(1000, 3), 507u);
    EXPECT_EQ(coder.GetMaxEncodedSize(1000, 0), 632u);
    EXPECT_EQ(coder.GetMaxEncodedSize(1001, 1), 635u);
    EXPECT_EQ(coder.GetMaxEncodedSize(1000, 4), 632u);
    EXPECT_EQ(coder.GetMaxDecodedSize(1000, 0), 4u * 632u);
    EXPECT_EQ(coder.GetDecodedBufferSize(1000), 4000u);
    auto samples = test::SpeechLike12(3001, 4, 2000.0);
    for (uint32_t mode = 0; mode <= 4; ++mode) {
        auto bytes = EncodeAll(coder, samples, mode);
        EXPECT_GT(bytes.size(), 0u);
        EXPECT_LE(bytes.size(), coder.GetMaxEncodedSize(3001, mode));
    }
}

// A stream of K bytes holds 2K codes; GetMaxDecodedSize(K, mode) only covers
// about K + 264 samples, GetDecodedBufferSize(K) covers them all.
TEST(AdpcmCoder, DecodedBufferSizeHoldsEveryCode) {
    auto samples = test::SpeechLike12(4000, 6);
    C_ADPCMEncDec coder(12, 64);
    auto bytes = EncodeAll(coder, samples, 0);
    const auto k = static_cast<uint32_t>(bytes.size());
    const uint32_t codes = coder.GetStepIndexTraceSize();
    ASSERT_EQ(codes, 2 * k);

    uint32_t bounded = coder.GetMaxDecodedSize(k, 0) & ~1u;
    std::vector<uint16_t> out(codes + 8);
    EXPECT_LT(coder.Decode(bytes.data(), k, out.data(), bounded, nullptr) / 2, codes);

    uint32_t full = coder.GetDecodedBufferSize(k);
    EXPECT_EQ(full, 4 * k);
    EXPECT_EQ(coder.Decode(bytes.data(), k, out.data(), full, nullptr) / 2, codes);
    // Sized from the code count, the original bound does cover the stream.
    EXPECT_GE(coder.GetMaxDecodedSize(codes, 0) / 2, codes);
}

TEST(AdpcmCoder, GetCodePastTheEndStopsDecoding) {
    C_ADPCMEncDec coder(12, 64);
    const uint8_t byte = 0x7F;
    uint8_t code = 99;
    EXPECT_EQ(coder.GetCode(&byte, 1, 0, code), 1);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(coder.GetCode(&byte, 1, 1, code), 1);
    EXPECT_EQ(code, 15);
    EXPECT_EQ(coder.GetCode(&byte, 1, 3, code), 0);
    EXPECT_EQ(code, 0);
    std::vector<uint16_t> out(16);
    EXPECT_EQ(coder.Decode(&byte, 1, out.data(), 32, nullptr), 4u);
    // Output room limits as well: an odd byte count leaves the half word.
    EXPECT_EQ(coder.Decode(&byte, 1, out.data(), 3, nullptr), 2u);
    EXPECT_EQ(coder.Decode(nullptr, 0, out.data(), 32, nullptr), 0u);
}

TEST(AdpcmCoder, PutCodePacksHighNibbleFirstAndRefusesPastTheEnd) {
    C_ADPCMEncDec coder(12, 64);
    std::array<uint8_t, 2> out = {0xFF, 0xFF};
    EXPECT_EQ(coder.PutCode(out.data(), 2, 0, 0xA), 1);
    EXPECT_EQ(out[0], 0xA0);
    EXPECT_EQ(coder.PutCode(out.data(), 2, 1, 0x3), 1);
    EXPECT_EQ(out[0], 0xA3);
    EXPECT_EQ(coder.PutCode(out.data(), 2, 4, 0x3), 0);
    EXPECT_EQ(out[1], 0xFF);
}

class RecordingProgress : public I_ProgressCallback {
public:
    void OnBegin() override { events.push_back(-1); }
    void OnProgress(int32_t percent) override { events.push_back(percent); }
    void OnEnd() override { events.push_back(-2); }
    std::vector<int32_t> events;
};

TEST(AdpcmCoder, ProgressRunsFromBeginToOneHundredAndEnd) {
    auto samples = test::SpeechLike12(333, 8);
    C_ADPCMEncDec coder(12, 64);
    std::vector<uint8_t> out(coder.GetMaxEncodedSize(333, 0));
    for (int pass = 0; pass < 2; ++pass) {
        RecordingProgress progress;
        if (pass == 0) {
            ASSERT_GT(coder.Encode(333, samples.data(), out.data(), static_cast<uint32_t>(out.size()), 0, &progress),
                      0u);
        } else {
            std::vector<uint16_t> decoded(800);
            ASSERT_GT(coder.Decode(out.data(), 100, decoded.data(), 1600, &progress), 0u);
        }
        auto& e = progress.events;
        ASSERT_GE(e.size(), 4u);
        EXPECT_EQ(e.front(), -1);
        EXPECT_EQ(e.back(), -2);
        EXPECT_EQ(e[e.size() - 2], 100);
        for (size_t i = 2; i + 1 < e.size(); ++i) EXPECT_GE(e[i], e[i - 1]);
        EXPECT_GE(e.size(), 90u);  // about one report per percent
    }
}

}  // namespace
}  // namespace cz
