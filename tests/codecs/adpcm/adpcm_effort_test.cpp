// The APM coder's search efforts on real speech: the same stream size as the
// classic coder, streams the unchanged decoder plays without ever clamping,
// no 15, 0, 15, 0, and the SNR gains each level promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "adpcm_support.h"
#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

using test::DecodeAll;
using test::EncodeAll;

// 16-bit mono samples of the WAV file (44-byte header, as sox writes it).
std::vector<uint16_t> ChipForm(const std::string& wav) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(wav);
    std::vector<uint16_t> out;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2) {
        const int v = int16_t(uint16_t(bytes[i] | bytes[i + 1] << 8));
        out.push_back(uint16_t((v + 32768) >> 4));
    }
    return out;
}

// SNR of decoded (after `skip` lead-in values) against source.
double Snr(const std::vector<uint16_t>& source, const std::vector<uint16_t>& decoded, size_t skip) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < source.size() && i + skip < decoded.size(); ++i) {
        const double s = double(source[i]) - 2048.0, e = double(decoded[i + skip]) - double(source[i]);
        signal += s * s;
        noise += e * e;
    }
    return 10.0 * std::log10(signal / std::max(noise, 1e-9));
}

// Codes at the effort, checks the stream, returns its SNR.
double CodeAndCheck(const std::vector<uint16_t>& samples, AdpcmEffort effort, uint32_t mode, size_t classicSize) {
    C_ADPCMEncDec coder(12, 64);
    coder.SetSearchEffort(effort);
    const std::vector<uint8_t> bytes = EncodeAll(coder, samples, mode);
    // Padded streams have the classic size exactly; a flush to silence adds
    // the codes that bring the last state back to silence, which depend on
    // that state (a few codes either way).
    if (mode & kAdpcmPadOnlyBit)
        EXPECT_EQ(bytes.size(), classicSize);
    else
        EXPECT_LE(std::abs(long(bytes.size()) - long(classicSize)), 8L);
    C_ADPCMEncDec decoder(12, 64);
    const std::vector<uint16_t> decoded = DecodeAll(decoder, bytes);
    // The decoder never clamps: an unclamped replay gives the same values.
    test::ReferenceDecoder4 replay;
    const std::vector<uint8_t> codes = test::Nibbles(bytes, bytes.size());
    for (size_t i = 0; i < decoded.size(); ++i) {
        const int32_t v = replay.Next(codes[i]);
        if (v + 2048 != decoded[i]) {
            ADD_FAILURE() << "clamped at " << i;
            break;
        }
    }
    EXPECT_FALSE(test::HasGuardPattern(codes, 15));
    // The trace holds the decoder's step indices.
    const std::vector<uint8_t> trace = test::Trace(coder);
    test::ReferenceDecoder4 indices;
    for (size_t i = 0; i < trace.size() && i < codes.size(); ++i) {
        indices.Next(codes[i]);
        if (indices.index != trace[i]) {
            ADD_FAILURE() << "trace differs at " << i;
            break;
        }
    }
    const bool leadIn = mode != kAdpcmFlushMode4 && (mode & kAdpcmLeadInBit);
    return Snr(samples, decoded, leadIn ? C_ADPCMEncDec::kLeadInCodes : 0);
}

struct Speech {
    std::vector<std::vector<uint16_t>> prompts;
    std::vector<uint16_t> espeak;
};

const Speech& Material() {
    static const Speech speech = [] {
        Speech s;
        test::TempDir dir;
        const std::string folder = "/usr/share/asterisk/sounds/en_US_f_Allison";
        if (std::filesystem::is_directory(folder)) {
            std::vector<std::string> names;
            for (const auto& e : std::filesystem::directory_iterator(folder))
                if (e.path().extension() == ".wav") names.push_back(e.path().string());
            std::sort(names.begin(), names.end());
            for (size_t i = 0; i < names.size(); i += 30) {
                const std::string out = dir.File("p.wav");
                if (test::RunCommand("sox '" + names[i] + "' -b 16 -c 1 -e signed-integer '" + out + "' 2>/dev/null") == 0)
                    s.prompts.push_back(ChipForm(out));
            }
        }
        if (test::HaveTool("espeak-ng") && test::HaveTool("sox")) {
            const std::string voice = dir.File("v.wav"), out = dir.File("s.wav");
            if (test::RunCommand("espeak-ng -w '" + voice +
                                 "' 'A speech chip reads its sounds from a small memory, so every byte counts. "
                                 "Numbers such as one hundred and twenty three test the coder with quick changes.'"
                                 " 2>/dev/null") == 0 &&
                test::RunCommand("sox '" + voice + "' -r 16000 -b 16 -c 1 -e signed-integer '" + out + "' 2>/dev/null") == 0)
                s.espeak = ChipForm(out);
        }
        return s;
    }();
    return speech;
}

TEST(AdpcmEffort, AsteriskPromptsGainWhatEachLevelPromises) {
    const Speech& speech = Material();
    if (speech.prompts.empty()) GTEST_SKIP() << "the asterisk prompts (asterisk-core-sounds-en-wav) are not installed";
    double classic = 0, fast = 0, high = 0, max = 0;
    for (const auto& p : speech.prompts) {
        C_ADPCMEncDec coder(12, 64);
        const size_t size = EncodeAll(coder, p, kAdpcmPad).size();
        classic += CodeAndCheck(p, AdpcmEffort::kClassic, kAdpcmPad, size);
        fast += CodeAndCheck(p, AdpcmEffort::kFast, kAdpcmPad, size);
        high += CodeAndCheck(p, AdpcmEffort::kHigh, kAdpcmPad, size);
        max += CodeAndCheck(p, AdpcmEffort::kMax, kAdpcmPad, size);
    }
    const double n = double(speech.prompts.size());
    EXPECT_GE((fast - classic) / n, 2.2);
    EXPECT_GE((high - classic) / n, 3.9);
    EXPECT_GE((max - classic) / n, 6.0);
}

TEST(AdpcmEffort, EspeakSpeechGainsInEveryMode) {
    const Speech& speech = Material();
    if (speech.espeak.empty()) GTEST_SKIP() << "espeak-ng and sox are needed";
    for (uint32_t mode : {kAdpcmFlush, kAdpcmFlushLeadIn, kAdpcmPad, kAdpcmPadLeadIn, kAdpcmFlushMode4}) {
        C_ADPCMEncDec coder(12, 64);
        const size_t size = EncodeAll(coder, speech.espeak, mode).size();
        const double classic = CodeAndCheck(speech.espeak, AdpcmEffort::kClassic, mode, size);
        const double fast = CodeAndCheck(speech.espeak, AdpcmEffort::kFast, mode, size);
        const double high = CodeAndCheck(speech.espeak, AdpcmEffort::kHigh, mode, size);
        const double max = CodeAndCheck(speech.espeak, AdpcmEffort::kMax, mode, size);
        EXPECT_GT(fast - classic, 1.5) << "mode " << mode;
        EXPECT_GT(high - classic, 2.0) << "mode " << mode;
        EXPECT_GT(max - classic, 2.5) << "mode " << mode;
    }
}

TEST(AdpcmEffort, VariantsWithTheirOwnRulesCodeAsBefore) {
    // A stream of the classic coder is what an effort-less coder writes, and
    // the search applies to the plain 4-bit coder only.
    std::vector<uint16_t> samples(3000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint16_t(2048 + 1500 * std::sin(double(i) * 0.07));
    C_ADPCMEncDec plain(12, 64);
    const std::vector<uint8_t> expected = EncodeAll(plain, samples, kAdpcmFlush);
    C_ADPCMEncDec classic(12, 64);
    classic.SetSearchEffort(AdpcmEffort::kClassic);
    EXPECT_EQ(EncodeAll(classic, samples, kAdpcmFlush), expected);
    C_ADPCMEncDec searching(12, 64);
    searching.SetSearchEffort(AdpcmEffort::kHigh);
    EXPECT_TRUE(searching.Searches());
    EXPECT_NE(EncodeAll(searching, samples, kAdpcmFlush), expected);
}

}  // namespace
}  // namespace cz
