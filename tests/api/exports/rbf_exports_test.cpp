// RBF resources through the exported functions: the binaries the resource
// converter writes for APM and MDM files decode back to WAV, and cut copies
// fit their limits. sox reads the WAV files as an independent witness.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cadenzor/cadenzor.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) { return U16(b, at) | (uint32_t{U16(b, at + 2)} << 16); }

// The 16-bit samples of a PCM WAV file as the library writes it (fmt, data).
std::vector<int16_t> WavSamples(const std::vector<uint8_t>& wav) {
    std::vector<int16_t> s;
    for (size_t at = 12; at + 8 <= wav.size();) {
        const uint32_t size = U32(wav, at + 4);
        if (std::string(wav.begin() + at, wav.begin() + at + 4) == "data") {
            for (size_t i = 0; i + 1 < size && at + 8 + i + 1 < wav.size(); i += 2)
                s.push_back(static_cast<int16_t>(U16(wav, at + 8 + i)));
            break;
        }
        at += 8 + size + (size & 1);
    }
    return s;
}

class RbfExports : public ::testing::Test {
protected:
    size_t ScratchFiles() const { return cz::test::CountEntries(scratch_.Path()); }
    std::string Soxi(const std::string& option, const std::string& path) { return cz::test::Soxi(option, path, dir_); }
    // A 16-bit mono WAV file of a swelling tone.
    std::string Tone(uint32_t rate, size_t count) {
        std::vector<uint8_t> pcm;
        for (size_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(i);
            const double swell = 0.5 + 0.5 * std::sin(t / 500.0);
            const auto v = static_cast<int16_t>(std::lround(12000.0 * std::sin(t * 0.07) * swell));
            pcm.push_back(static_cast<uint8_t>(v));
            pcm.push_back(static_cast<uint8_t>(v >> 8));
        }
        const std::string path = dir_.File("tone.wav");
        cz::test::WriteFileBytes(path, cz::test::RiffBuilder().Fmt(1, 1, rate, 16).Chunk("data", pcm).Bytes());
        return path;
    }

    cz::test::TempDir dir_;
    cz::test::PrivateTmpDir scratch_;  // after dir_, which must not be inside it
};

TEST_F(RbfExports, ApmBinaryDecodesToTheApmDecodedSection) {
    const std::string wav = Tone(16000, 4000);
    const std::string apm = dir_.File("t.apm"), bin = dir_.File("t.Rbf"), back = dir_.File("back.wav");
    ASSERT_EQ(ConvertWAVToAPM(wav.c_str(), apm.c_str(), bin.c_str()), 1);
    ASSERT_EQ(ConvertMDMToWAV(bin.c_str(), back.c_str()), 1);  // ".Rbf": the extension in any case
    EXPECT_EQ(Soxi("-r", back), "16000");
    EXPECT_EQ(Soxi("-c", back), "1");
    EXPECT_EQ(Soxi("-b", back), "16");

    // The APM file's decoded section (header offset 34: bits, offset, count),
    // 12-bit offset binary, is what the WAV file holds in 16 signed bits.
    const auto file = cz::test::ReadFileBytes(apm);
    ASSERT_GE(file.size(), 76u);
    const uint32_t at = U32(file, 36), count = U32(file, 40);
    ASSERT_LE(at + 2ull * count, file.size());
    const std::vector<int16_t> samples = WavSamples(cz::test::ReadFileBytes(back));
    ASSERT_EQ(samples.size(), count);
    EXPECT_EQ(Soxi("-s", back), std::to_string(count));
    size_t differing = 0;
    for (uint32_t i = 0; i < count; ++i) differing += samples[i] != (U16(file, at + 2 * i) - 2048) * 16;
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(ScratchFiles(), 0u);
}

// The chip files whose resources use the 16-bit "WE2A" and the word-coded
// "Q42M" codings: made by the tool (no export writes them), their binaries
// decode through the export to exactly the samples the chip file plays, and
// every cut decodes to a prefix of them.
TEST_F(RbfExports, E2aAndQ420BinariesDecodeToWhatTheirFilesPlay) {
    const std::string wav = Tone(16000, 5000);
    const std::string tool = "'" + cz::test::BinDir() + "/cadenzor' -q -y ";
    for (const char* extension : {".ad4", ".42m"}) {
        SCOPED_TRACE(extension);
        const std::string chip = dir_.File(std::string("t") + extension), bin = dir_.File("t.rbf");
        const std::string played = dir_.File("played.wav"), back = dir_.File("back.wav");
        ASSERT_EQ(cz::test::RunCommand(tool + "convert '" + wav + "' '" + chip + "' --bin '" + bin + "' 2>&1"), 0);
        ASSERT_EQ(cz::test::RunCommand(tool + "convert '" + chip + "' '" + played + "' 2>&1"), 0);
        ASSERT_EQ(ConvertMDMToWAV(bin.c_str(), back.c_str()), 1);
        const std::vector<int16_t> expected = WavSamples(cz::test::ReadFileBytes(played));
        const std::vector<int16_t> decoded = WavSamples(cz::test::ReadFileBytes(back));
        ASSERT_GE(expected.size(), 5000u);
        EXPECT_EQ(decoded, expected);

        const size_t size = cz::test::ReadFileBytes(bin).size();
        for (uint32_t limit : {static_cast<uint32_t>(size / 3), static_cast<uint32_t>(size - 1)}) {
            const std::string cut = dir_.File("cut.rbf"), cutWav = dir_.File("cut.wav");
            ASSERT_EQ(RbfCutToFitSize(bin.c_str(), cut.c_str(), limit), 1) << limit;
            const size_t kept = cz::test::ReadFileBytes(cut).size();
            EXPECT_LE(kept, limit);
            if (ConvertMDMToWAV(cut.c_str(), cutWav.c_str()) != 1) {
                // Whole blocks only: a first block larger than the limit
                // leaves the header and the end mark, a sound of nothing.
                EXPECT_LE(kept, 8u) << limit;
                continue;
            }
            const std::vector<int16_t> part = WavSamples(cz::test::ReadFileBytes(cutWav));
            EXPECT_LT(part.size(), decoded.size());
            EXPECT_TRUE(std::equal(part.begin(), part.end(), decoded.begin())) << limit;
        }
    }
    EXPECT_EQ(ScratchFiles(), 0u);
}

TEST_F(RbfExports, MdmBinaryDecodesAndCutsToFit) {
    const std::string wav = Tone(8000, 3000);
    const std::string mdm = dir_.File("t.mdm"), bin = dir_.File("t.rbf"), back = dir_.File("back.wav");
    ASSERT_EQ(ConvertWAVToMDM(wav.c_str(), mdm.c_str(), bin.c_str()), 1);
    ASSERT_EQ(ConvertMDMToWAV(bin.c_str(), back.c_str()), 1);
    EXPECT_EQ(Soxi("-r", back), "8000");
    const std::vector<int16_t> whole = WavSamples(cz::test::ReadFileBytes(back));
    EXPECT_GE(whole.size(), 3000u);

    const size_t size = cz::test::ReadFileBytes(bin).size();
    for (uint32_t limit : {7u, 100u, 1000u, static_cast<uint32_t>(size - 1), static_cast<uint32_t>(size)}) {
        const std::string cut = dir_.File("cut.rbf"), cutWav = dir_.File("cut.wav");
        ASSERT_EQ(RbfCutToFitSize(bin.c_str(), cut.c_str(), limit), 1) << limit;
        const auto bytes = cz::test::ReadFileBytes(cut);
        EXPECT_LE(bytes.size(), limit);
        if (limit >= size) {
            EXPECT_EQ(bytes, cz::test::ReadFileBytes(bin));
        }
        if (limit == 7) {
            // Header and end mark: no samples, and the sound model saves no empty sound.
            EXPECT_EQ(bytes.size(), 7u);
            EXPECT_EQ(ConvertMDMToWAV(cut.c_str(), cutWav.c_str()), 0);
            continue;
        }
        ASSERT_EQ(ConvertMDMToWAV(cut.c_str(), cutWav.c_str()), 1) << limit;
        const std::vector<int16_t> part = WavSamples(cz::test::ReadFileBytes(cutWav));
        ASSERT_LE(part.size(), whole.size());
        EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin())) << limit;
    }
    // Below the header and the end mark: refused, nothing written.
    EXPECT_EQ(RbfCutToFitSize(bin.c_str(), dir_.File("small.rbf").c_str(), 6), 0);
    EXPECT_FALSE(cz::test::FileExists(dir_.File("small.rbf")));
    EXPECT_EQ(RbfCutToFitSize(dir_.File("missing.rbf").c_str(), dir_.File("m.rbf").c_str(), 100), 0);
    EXPECT_EQ(RbfCutToFitSize(bin.c_str(), nullptr, 100), 0);
    EXPECT_EQ(ScratchFiles(), 0u);
}

TEST_F(RbfExports, SixteenBitResourcesBecomeSignedSamples) {
    // "WE2A": a marker block with the sample 0x1234, then a short block of one
    // sample 0x9000, then silence of 2 (32768).
    const std::vector<uint8_t> file = {'W',  'E',  '2',  'A',  0x40, 0x1F, 0x06, 0x01, 0x34, 0x12,
                                       0x01, 0x00, 0x90, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00};
    const std::string rbf = dir_.File("e.rbf"), out = dir_.File("e.wav");
    cz::test::WriteFileBytes(rbf, file);
    ASSERT_EQ(ConvertMDMToWAV(rbf.c_str(), out.c_str()), 1);
    EXPECT_EQ(WavSamples(cz::test::ReadFileBytes(out)), (std::vector<int16_t>{0x1234 - 32768, 0x1000, 0, 0}));
    EXPECT_EQ(Soxi("-r", out), "8000");
}

// WAM files share the "WADM" magic: the ones the WAM class refuses were
// taken by the resource reader (their version 101 read as a rate), so the
// export said they were supported.
TEST_F(RbfExports, WamFilesTheirClassRefusesAreNotSupported) {
    const std::string wav = Tone(8000, 3000), wam = dir_.File("t.wam"), bad = dir_.File("bad.wam");
    const std::string tool = "'" + cz::test::BinDir() + "/cadenzor' -q -y ";
    ASSERT_EQ(cz::test::RunCommand(tool + "convert '" + wav + "' '" + wam + "' 2>&1"), 0);
    EXPECT_EQ(CheckSupportWavFile(wam.c_str()), 1);
    const std::vector<uint8_t> file = cz::test::ReadFileBytes(wam);
    ASSERT_GT(file.size(), 1000u);
    auto patched = [&](size_t at, uint16_t value) {
        std::vector<uint8_t> bytes = file;
        bytes[at] = static_cast<uint8_t>(value);
        bytes[at + 1] = static_cast<uint8_t>(value >> 8);
        return bytes;
    };
    const std::vector<uint8_t> cases[] = {
        patched(18, static_cast<uint16_t>(U16(file, 18) - 1)),  // an odd code count
        patched(14, 500),                                       // 500 Hz
        std::vector<uint8_t>(file.begin(), file.begin() + 20),
        std::vector<uint8_t>(file.begin(), file.end() - 1),
    };
    const std::string asRbf = dir_.File("bad.rbf");
    for (const auto& bytes : cases) {
        cz::test::WriteFileBytes(bad, bytes);
        EXPECT_EQ(CheckSupportWavFile(bad.c_str()), 0) << bytes.size();
        // Named as a resource, the export's resource reader refuses it too.
        cz::test::WriteFileBytes(asRbf, bytes);
        EXPECT_EQ(ConvertMDMToWAV(asRbf.c_str(), dir_.File("o.wav").c_str()), 0) << bytes.size();
    }
    EXPECT_FALSE(cz::test::FileExists(dir_.File("o.wav")));
}

TEST_F(RbfExports, RefusesWhatIsNotAResource) {
    const std::string out = dir_.File("o.wav");
    const std::string bad = dir_.File("bad.rbf");
    cz::test::WriteFileBytes(bad, {'W', 'X', 'Y', 'Z', 0x40, 0x1F, 0xFF});
    EXPECT_EQ(ConvertMDMToWAV(bad.c_str(), out.c_str()), 0);
    cz::test::WriteFileBytes(bad, {'W', 'M', 'd', 'M', 0x40, 0x1F});
    EXPECT_EQ(ConvertMDMToWAV(bad.c_str(), out.c_str()), 0);
    cz::test::WriteFileBytes(bad, {'W', 'A', 'D', 'M', 0x40, 0x1F, 0x01});
    EXPECT_EQ(ConvertMDMToWAV(bad.c_str(), out.c_str()), 0);
    EXPECT_FALSE(cz::test::FileExists(out));
    EXPECT_EQ(ScratchFiles(), 0u);
}

}  // namespace
