// The 6-bit and the "new" chip ADPCM coders.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "adpcm_support.h"
#include "codecs/adpcm/C_ADPCMEncDec6Bit.h"
#include "codecs/adpcm/C_NewADPCMEncDec.h"

namespace cz {
namespace {

using test::DecodeAll;
using test::EncodeAll;
using test::Nibbles;
using test::Trace;

TEST(Adpcm6Bit, TablesAndSizes) {
    C_ADPCMEncDec6Bit coder;
    EXPECT_EQ(coder.GetCodeWidth(), 6);
    EXPECT_EQ(coder.GetStepSize(0), 16);
    EXPECT_EQ(coder.GetStepSize(1), 17);
    EXPECT_EQ(coder.GetStepSize(8), 24);
    EXPECT_EQ(coder.GetStepSize(63), 1928);
    EXPECT_EQ(coder.GetMaxEncodedSize(100, 2), 108u);
    EXPECT_EQ(coder.GetMaxEncodedSize(100, 0), 364u);
    EXPECT_EQ(coder.GetMaxEncodedSize(100, 1), 370u);
    EXPECT_EQ(coder.GetMaxDecodedSize(100, 3), 2u * 114u);
    EXPECT_EQ(coder.GetDecodedBufferSize(100), 200u);
    // Index adjustment by magnitude: 0..3 -> -2, 4..11 -> -1, 12.. -> +2 ... +10.
    uint16_t index = 10;
    coder.Reconstruct(0, 3, index);
    EXPECT_EQ(index, 8);
    coder.Reconstruct(0, 32 | 11, index);
    EXPECT_EQ(index, 7);
    coder.Reconstruct(0, 12, index);
    EXPECT_EQ(index, 9);
    coder.Reconstruct(0, 31, index);
    EXPECT_EQ(index, 19);
}

// 2148: d=100 at step 16 -> 31 (16+8+4+2+1, p=31, i=10, step 28);
// pad tail: -31 -> 49 (-(28+1), p=2, i=14), -2 -> 32 (-1, p=1, i=12),
// -1 -> 32 (-1, p=0, i=10).
TEST(Adpcm6Bit, HandComputedVectorOneCodePerByte) {
    C_ADPCMEncDec6Bit coder;
    auto bytes = EncodeAll(coder, {2148}, 2);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{31, 49, 32, 32}));
    EXPECT_EQ(Trace(coder), (std::vector<uint8_t>{10, 14, 12, 10}));
    EXPECT_EQ(DecodeAll(coder, bytes), (std::vector<uint16_t>{2079, 2050, 2049, 2048}));
}

TEST(Adpcm6Bit, RoundTripGuardsAndSilence) {
    auto samples = test::SpeechLike12(16000, 21);
    std::vector<uint16_t> square;
    for (int i = 0; i < 3000; ++i) square.push_back((i / 5) % 2 ? 4095 : 0);
    for (uint32_t mode = 0; mode <= 4; ++mode) {
        C_ADPCMEncDec6Bit coder;
        auto bytes = EncodeAll(coder, samples, mode);
        ASSERT_GT(bytes.size(), 0u);
        EXPECT_EQ(bytes.size(), coder.GetStepIndexTraceSize());
        EXPECT_FALSE(test::HasGuardPattern(bytes, 63));
        auto decoded = DecodeAll(coder, bytes);
        ASSERT_EQ(decoded.size(), bytes.size());
        const size_t lead = (mode == 1 || mode == 3) ? 6 : 0;
        std::vector<uint16_t> aligned(decoded.begin() + static_cast<long>(lead), decoded.end());
        EXPECT_GT(test::SnrDb(samples, aligned.data(), samples.size()), 30.0) << "mode " << mode;
        if (mode != 2 && mode != 3) {
            EXPECT_EQ(bytes.size() % 4, 0u);
            EXPECT_EQ(decoded.back(), 2048);
        }
        auto squareBytes = EncodeAll(coder, square, mode);
        ASSERT_GT(squareBytes.size(), 0u);
        for (uint8_t b : squareBytes) ASSERT_LT(b, 64);
    }
}

TEST(Adpcm6Bit, DecodeMasksForeignBits) {
    C_ADPCMEncDec6Bit coder;
    const std::vector<uint8_t> bytes = {0xFF, 0xC0, 0x80};
    const std::vector<uint8_t> masked = {0x3F, 0x00, 0x00};
    EXPECT_EQ(DecodeAll(coder, bytes), DecodeAll(coder, masked));
}

TEST(AdpcmNew, RoundTripBeatsThePlainEncoder) {
    auto samples = test::SpeechLike12(48000, 31);
    C_ADPCMEncDec plain(12, 64);
    C_NewADPCMEncDec coder;
    auto plainBytes = EncodeAll(plain, samples, 2);
    auto bytes = EncodeAll(coder, samples, 2);
    ASSERT_EQ(bytes.size(), plainBytes.size());
    auto plainDecoded = DecodeAll(plain, plainBytes);
    auto decoded = DecodeAll(coder, bytes);
    ASSERT_GE(decoded.size(), samples.size());
    const double plainSnr = test::SnrDb(samples, plainDecoded.data(), samples.size());
    const double snr = test::SnrDb(samples, decoded.data(), samples.size());
    EXPECT_GT(snr, plainSnr + 0.5) << plainSnr << " vs " << snr;
    RecordProperty("plain_snr_db", std::to_string(plainSnr));
    RecordProperty("new_snr_db", std::to_string(snr));
    std::printf("SNR plain %.2f dB, new %.2f dB\n", plainSnr, snr);
    // Every reconstruction is in range, so the clamping base decoder reads the
    // stream the same way.
    EXPECT_EQ(DecodeAll(plain, bytes), decoded);
    EXPECT_FALSE(test::HasGuardPattern(Nibbles(bytes, bytes.size()), 15));
    EXPECT_EQ(coder.GetStepIndexTraceSize(), bytes.size() * 2);
}

TEST(AdpcmNew, ModesLeadInAndFlush) {
    auto samples = test::SpeechLike12(2000, 32, 1900.0);
    for (uint32_t mode = 0; mode <= 4; ++mode) {
        C_NewADPCMEncDec coder;
        auto bytes = EncodeAll(coder, samples, mode);
        ASSERT_GT(bytes.size(), 0u);
        EXPECT_LE(bytes.size(), coder.GetMaxEncodedSize(2000, mode));
        auto decoded = DecodeAll(coder, bytes);
        if (mode == 1 || mode == 3) {
            EXPECT_EQ(bytes[0], 0x77);
        }
        if (mode != 2 && mode != 3) {
            EXPECT_EQ(decoded.back(), 2048) << "mode " << mode;
        }
    }
    std::vector<uint16_t> square;
    for (int i = 0; i < 3000; ++i) square.push_back((i / 3) % 2 ? 4095 : 0);
    C_NewADPCMEncDec coder;
    C_ADPCMEncDec plain(12, 64);
    auto bytes = EncodeAll(coder, square, 0);
    ASSERT_GT(bytes.size(), 0u);
    EXPECT_EQ(DecodeAll(plain, bytes), DecodeAll(coder, bytes));
}

TEST(AdpcmNew, DecoderWrapsIn16BitsAndStartsFromTheGivenState) {
    C_NewADPCMEncDec coder;
    EXPECT_EQ(coder.GetMaxDecodedSize(100, 0), 400u);
    EXPECT_EQ(coder.GetDecodedBufferSize(100), 400u);
    // Seven full-scale codes from 0: 15, 45, 105, 225, 465, 945, 1905; then the
    // running value leaves the 12-bit range (no clamp) and the output word is
    // held at full scale.
    std::vector<uint8_t> bytes = {0x77, 0x77, 0x77, 0x77};
    auto decoded = DecodeAll(coder, bytes);
    ASSERT_EQ(decoded.size(), 8u);
    EXPECT_EQ(decoded[0], 2048 + 15);
    EXPECT_EQ(decoded[6], 2048 + 1905);
    EXPECT_EQ(decoded[7], 4095);
    uint16_t index = 63;
    EXPECT_EQ(coder.Reconstruct(32000, 7, index), static_cast<int16_t>(32000 + 1920 + 960 + 480 + 240));

    // Raw first sample 0xFFF is -1; a start index beyond the table is held at 63.
    coder.SetStartState(0xFFF, 200);
    std::vector<uint8_t> zero = {0x08};
    decoded = DecodeAll(coder, zero);
    EXPECT_EQ(decoded[0], 2048 - 1 + 240);        // step 1920: +240, index 62
    EXPECT_EQ(decoded[1], 2048 - 1 + 240 - 224);  // step 1792: -224
    coder.ClearStartState();
    EXPECT_EQ(DecodeAll(coder, zero)[0], 2049);
}

TEST(AdpcmNew, StartStateRoundTrips) {
    auto samples = test::SpeechLike12(5000, 33);
    C_NewADPCMEncDec coder;
    coder.SetStartState(0x800, 30);  // -2048
    auto bytes = EncodeAll(coder, samples, 2);
    auto decoded = DecodeAll(coder, bytes);
    ASSERT_GE(decoded.size(), samples.size());
    // The first samples climb from -2048; past them the stream tracks.
    EXPECT_LT(decoded[0], 1024);
    std::vector<uint16_t> tail(samples.begin() + 100, samples.end());
    EXPECT_GT(test::SnrDb(tail, decoded.data() + 100, tail.size()), 20.0);
}

}  // namespace
}  // namespace cz
