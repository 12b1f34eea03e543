// The MDPCM coder variants: the 6-bit coder, the least-error coder on the
// 5-bit stream, and the two free-frame-length word coders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "MdpcmRoundTrip.h"
#include "codecs/mdpcm/C_EnhancedMDPCMCodec.h"
#include "codecs/mdpcm/C_MDPCMEncDec6Bit.h"
#include "codecs/mdpcm/C_MdpcmCodecFreeFrameSize.h"
#include "codecs/mdpcm/C_WNMdpcmCodecFreeFrameSize.h"
#include "codecs/mdpcm/MdpcmFloorDivide.h"
#include "support/Signals.h"

namespace cz {
namespace {

using test::RoundTrip;

// Signals that press a coder: voice, a full-scale square (clamping at both
// ends), noise, silence at mid-scale.
std::vector<std::vector<uint16_t>> Signals() {
    std::vector<std::vector<uint16_t>> s;
    s.push_back(test::GlidingVoice12(3000));
    std::vector<uint16_t> square(1000);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 37) % 2 ? 4095 : 0;
    s.push_back(square);
    std::vector<uint16_t> noise(777);
    uint32_t seed = 7;
    for (auto& v : noise) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<uint16_t>((seed >> 16) % 4096);
    }
    s.push_back(noise);
    s.push_back(std::vector<uint16_t>(100, 2048));
    return s;
}

double SquaredError(const std::vector<uint16_t>& x, const std::vector<uint16_t>& y) {
    double e = 0;
    for (size_t i = 0; i < x.size(); ++i) e += (double(x[i]) - y[i]) * (double(x[i]) - y[i]);
    return e;
}

TEST(Mdpcm6Bit, DecoderFollowsEncoderAndDifferencesReach31) {
    struct Case {
        uint32_t alias;
        uint16_t bits;
        uint8_t marker;
        int32_t padMode;
    };
    const Case cases[] = {{0, 9, 255, 0}, {1, 9, 255, 0}, {1, 16, 0, 1}, {0, 12, 0, 2}};
    for (const Case& tc : cases) {
        for (const auto& x : Signals()) {
            C_MDPCMEncDec6Bit coder(tc.alias, tc.bits);
            coder.SetEndMarker(tc.marker);
            const auto c = RoundTrip(coder, x, 2048, 65, 17, tc.padMode);
            ASSERT_FALSE(c.bytes.empty());
            EXPECT_TRUE(c.endSeen);
            ASSERT_EQ(c.decoded.size(), x.size() + coder.Padding());
            EXPECT_EQ(c.decoded.back(), coder.CurrentValue());
            int largest = 0;
            size_t pos = 0;
            while (c.bytes[pos] != tc.marker) {
                const uint32_t n = (c.bytes[pos] & 1) ? 65 : 17;
                for (uint32_t k = 1; k <= n; ++k) largest = std::max(largest, std::abs(int(int8_t(c.bytes[pos + k]))));
                pos += n + 1;
            }
            EXPECT_LE(largest, 31);
            if (x[1] == 0) EXPECT_EQ(largest, 31);  // the square's jumps
        }
    }
    // Steepest change 4095 from 0 (no first-sample rounding): scale 15, step
    // 64, the difference clamped to 31.
    C_MDPCMEncDec6Bit coder(0, 16);
    const std::vector<uint16_t> jump(17, 4095);
    const auto c = RoundTrip(coder, jump, 0, 65, 17, 0);
    ASSERT_GE(c.bytes.size(), 2u);
    EXPECT_EQ(c.bytes[0], 15 << 1);
    EXPECT_EQ(int8_t(c.bytes[1]), 31);
    EXPECT_EQ(c.decoded[0], 31 * 64);
    // Quiet mid-scale: scale 0, step 4.
    C_MDPCMEncDec6Bit quiet(0, 9);
    quiet.SetEndMarker(255);
    EXPECT_EQ(RoundTrip(quiet, std::vector<uint16_t>(17, 2048), 2048, 65, 17, 0).bytes[0], 0);
}

TEST(Mdpcm6Bit, FinerThanTheFiveBitCoderOnVoice) {
    const std::vector<uint16_t> x = test::GlidingVoice12(8000);
    C_MDPCMEncDec five(0, 9);
    C_MDPCMEncDec6Bit six(0, 9);
    five.SetEndMarker(255);
    six.SetEndMarker(255);
    const double snr5 = test::SnrDb(x, RoundTrip(five, x, 2048, 65, 17, 0).decoded, x.size());
    const double snr6 = test::SnrDb(x, RoundTrip(six, x, 2048, 65, 17, 0).decoded, x.size());
    EXPECT_GT(snr6, snr5 + 3.0) << snr5 << " " << snr6;
}

TEST(EnhancedMdpcm, WritesTheFiveBitStreamWithLessError) {
    for (uint32_t alias : {0u, 1u}) {
        for (const auto& x : Signals()) {
            C_EnhancedMDPCMCodec enhanced(alias, 9);
            C_MDPCMEncDec plain(alias, 9);
            enhanced.SetEndMarker(255);
            plain.SetEndMarker(255);
            const auto e = RoundTrip(enhanced, x, 2048, 65, 17, 0);
            ASSERT_FALSE(e.bytes.empty());
            EXPECT_EQ(e.decoded.back(), enhanced.CurrentValue());
            // The plain decoder plays the same stream the same way.
            std::vector<uint16_t> again(e.decoded.size());
            again.resize(
                plain.Decode(again.data(), again.size(), e.bytes.data(), e.bytes.size(), 2048, 65, 17, nullptr));
            EXPECT_EQ(again, e.decoded);
            // Differences within -15..15; under the alias no header holds index 0.
            size_t pos = 0;
            while (e.bytes[pos] != 255) {
                if (alias) EXPECT_NE(e.bytes[pos] >> 1, 0) << "index 0 is written as 14 under the alias";
                const uint32_t n = (e.bytes[pos] & 1) ? 65 : 17;
                for (uint32_t k = 1; k <= n; ++k) ASSERT_LE(std::abs(int(int8_t(e.bytes[pos + k]))), 15);
                pos += n + 1;
            }
            const auto p = RoundTrip(plain, x, 2048, 65, 17, 0);
            EXPECT_LE(SquaredError(x, e.decoded), SquaredError(x, p.decoded) * 1.001);
        }
    }
    const std::vector<uint16_t> voice = test::GlidingVoice12(8000);
    C_EnhancedMDPCMCodec enhanced(0, 9);
    C_MDPCMEncDec plain(0, 9);
    const double gain = test::SnrDb(voice, RoundTrip(enhanced, voice, 2048, 65, 17, 0).decoded, voice.size()) -
                        test::SnrDb(voice, RoundTrip(plain, voice, 2048, 65, 17, 0).decoded, voice.size());
    EXPECT_GT(gain, 0.5);
}

// Encodes with a free-frame coder and checks the words it wrote.
struct FreeCoded {
    std::vector<uint8_t> bytes;
    std::vector<uint16_t> reconstruction;
};

FreeCoded EncodeFree(C_MdpcmCodecFreeFrameSize& coder, const std::vector<uint16_t>& x) {
    FreeCoded c;
    C_MdpcmCodecFreeFrameSize::S_State state;
    coder.EncodeWords(x.data(), static_cast<uint32_t>(x.size()), state, c.bytes, &c.reconstruction);
    c.bytes.push_back(0x08);
    c.bytes.push_back(0x02);
    return c;
}

TEST(FreeFrameMdpcm, WordsDecodeToTheReconstruction) {
    for (uint32_t frame : {64u, 17u, 2u, 0u, 1000u}) {
        for (bool searching : {false, true}) {
            std::unique_ptr<C_MdpcmCodecFreeFrameSize> coder;
            if (searching)
                coder = std::make_unique<C_WNMdpcmCodecFreeFrameSize>(frame);
            else
                coder = std::make_unique<C_MdpcmCodecFreeFrameSize>(frame);
            EXPECT_EQ(coder->FrameLength() % 2, 0u);
            EXPECT_GE(coder->FrameLength(), frame);
            for (const auto& x : Signals()) {
                for (size_t n : {x.size(), x.size() - 1, size_t{1}}) {
                    SCOPED_TRACE(testing::Message() << frame << " " << searching << " " << n);
                    const std::vector<uint16_t> part(x.begin(), x.begin() + static_cast<long>(n));
                    const FreeCoded c = EncodeFree(*coder, part);
                    ASSERT_EQ(c.reconstruction.size(), n + (n & 1));
                    std::vector<uint16_t> out(c.reconstruction.size() + 10);
                    out.resize(coder->Decode(out.data(), out.size(), c.bytes.data(), c.bytes.size(), nullptr));
                    EXPECT_TRUE(coder->EndSeen());
                    EXPECT_EQ(out, c.reconstruction);  // so no value ever wrapped
                    EXPECT_EQ(coder->CountDecodedSamples(c.bytes.data(), c.bytes.size()), out.size());
                    // A scale word opens the stream and comes only at a change.
                    int scale = -1, scales = 0;
                    for (size_t i = 0; i + 2 < c.bytes.size(); i += 2) {
                        const uint16_t w = uint16_t(c.bytes[i] | c.bytes[i + 1] << 8);
                        if ((w & 0x03E0) == 0x0200) {
                            ASSERT_EQ(w & 0xFFF0, 0x0210);
                            EXPECT_NE(int(w & 15), scale);
                            scale = w & 15;
                            ++scales;
                        } else {
                            ASSERT_NE(scale, -1) << "data before a scale";
                            EXPECT_EQ(w >> 10, 0);
                        }
                    }
                    EXPECT_LE(uint64_t(scales), (n + 1) / coder->FrameLength() + 1);
                    // The whole-stream coder writes the same words and fits its bound.
                    std::vector<uint8_t> whole(static_cast<size_t>(coder->GetMaxEncodedSize(uint32_t(n))));
                    const uint32_t bytes = coder->Encode(whole.data(), whole.size(), uint32_t(n), part.data(), nullptr);
                    ASSERT_GT(bytes, 0u);
                    whole.resize(bytes);
                    EXPECT_EQ(whole, c.bytes);
                    if (!whole.empty()) {
                        std::vector<uint8_t> tiny(whole.size() - 1);
                        EXPECT_EQ(coder->Encode(tiny.data(), tiny.size(), uint32_t(n), part.data(), nullptr), 0u);
                    }
                }
            }
        }
    }
}

TEST(FreeFrameMdpcm, SearchingCoderHasLessError) {
    const std::vector<uint16_t> x = test::GlidingVoice12(8000);
    C_MdpcmCodecFreeFrameSize plain(64);
    C_WNMdpcmCodecFreeFrameSize searching(64);
    const double a = test::SnrDb(x, EncodeFree(plain, x).reconstruction, x.size());
    const double b = test::SnrDb(x, EncodeFree(searching, x).reconstruction, x.size());
    EXPECT_GT(a, 15.0);
    EXPECT_GT(b, a + 0.2) << a << " " << b;
}

TEST(FreeFrameMdpcm, DecoderCommandsAndCutInput) {
    auto w = [](std::vector<uint8_t>& s, uint16_t v) {
        s.push_back(uint8_t(v));
        s.push_back(uint8_t(v >> 8));
    };
    std::vector<uint8_t> s;
    w(s, 0x0021);         // data before any scale: the value stays 2048
    w(s, 0x0212);         // step 16
    w(s, 1 | 0x1F << 5);  // +1, -1: 2064, 2048
    w(s, 0x0201);
    w(s, 3);  // 6 samples of 2048
    w(s, 0x0202);
    w(s, 9);
    w(s, 2);             // marker: no samples
    w(s, 0x0204);        // unknown command: skipped
    w(s, 0x0211);        // step 256
    w(s, 15 | 15 << 5);  // 2048 + 3840 wraps to 1792, then 1536
    w(s, 0x0208);
    w(s, 0x0001);  // after the end: not read
    const std::vector<uint16_t> expected = {2048, 2048, 2064, 2048, 2048, 2048, 2048, 2048, 2048, 2048, 1792, 1536};
    C_MdpcmCodecFreeFrameSize coder;
    std::vector<uint16_t> out(64);
    out.resize(coder.Decode(out.data(), out.size(), s.data(), s.size(), nullptr));
    EXPECT_EQ(out, expected);
    EXPECT_TRUE(coder.EndSeen());
    EXPECT_EQ(coder.CountDecodedSamples(s.data(), s.size()), expected.size());
    // Cut anywhere: a prefix of the samples, never the end; a command cut
    // from its operands plays nothing.
    for (size_t n = 0; n + 4 < s.size(); ++n) {
        std::vector<uint8_t> cut(s.begin(), s.begin() + static_cast<long>(n));
        std::vector<uint16_t> part(64);
        part.resize(coder.Decode(part.data(), part.size(), cut.data(), cut.size(), nullptr));
        EXPECT_FALSE(coder.EndSeen());
        EXPECT_EQ(coder.CountDecodedSamples(cut.data(), cut.size()), part.size());
        ASSERT_LE(part.size(), expected.size());
        EXPECT_TRUE(std::equal(part.begin(), part.end(), expected.begin())) << n;
    }
    // An output of exactly the stream's length still reaches the end word.
    std::vector<uint16_t> exact(expected.size());
    EXPECT_EQ(coder.Decode(exact.data(), exact.size(), s.data(), s.size(), nullptr), expected.size());
    EXPECT_TRUE(coder.EndSeen());
    // A full output stops the decoding.
    std::vector<uint16_t> small(5);
    EXPECT_EQ(coder.Decode(small.data(), small.size(), s.data(), s.size(), nullptr), 5u);
}

}  // namespace
}  // namespace cz

// The beam searches' floor division by a multiply, over its whole range.
TEST(MdpcmFloorDivider, EqualsTheIntegerFloorEverywhere) {
    for (int step = 1; step < 8192; ++step) {
        const cz::mdpcm::C_FloorDivider divide(step);
        for (int d = -8191; d <= 8191; ++d) {
            const int want = d >= 0 ? d / step : -((-d + step - 1) / step);
            if (divide(d) != want) {
                FAIL() << d << " / " << step << ": " << divide(d) << " not " << want;
            }
        }
    }
}
