// Resource binaries read back: for every coding the resource converter
// writes, the binary made from a chip file must decode to what the chip file
// plays (its decoded section, silence segments as silence), with the
// markers the stream carries; a test-side reading of the documented layouts
// (docs/pcm-variants.md; the RBF decoders of the converter tests) must agree;
// damaged binaries are refused with their coding and the reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "formats/binary/ResourceBinary.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "siblings/ombry/ResourceDecoder.h"
#include "support/LittleEndian.h"
#include "support/TestSupport.h"
#include "wave/C_SilenceSegment.h"
#include "wave/C_WavData.h"
#include "wave/C_WavFile.h"

namespace cz {
namespace {

using test::Le16;
using test::Put16;

struct Coding {
    const char* name;
    uint32_t formatId;
    const char* ext;
};
const std::vector<Coding>& Codings() {
    static const std::vector<Coding> list = {
        {"APM", kFormatApm, "apm"},  {"E2A", kFormatE2a, "e2a"},       {"MDM", kFormatMdm, "mdm"},
        {"Q420 MPM", kFormatQ420Mpm, "mpm"}, {"PC8", kFormatPc8, "pc8"}, {"LP8", kFormatLp8, "lp8"},
        {"P10", kFormatP10, "p10"},  {"P16", kFormatP16, "p16"},       {"S08", kFormatS08, "s08"},
        {"S16", kFormatS16, "s16"},  {"PAM", kFormatPam, "pam"},       {"MCP", kFormatMcp, "mcp"},
        {"WLP", kFormatWlp, "wlp"},  {"ESB", kFormatEsb, "esb"},       {"MVC", kFormatMvclp, "mvp"},
        {"SBD", kFormatSbd, "sbd"},
    };
    return list;
}

// The test's own reading of the documented layouts, where it is plain
// enough to write again: samples as signed 16-bit, an empty error when the
// stream reads cleanly to its end.
struct Reading {
    bool known = true;
    std::string error;
    std::vector<int32_t> samples;
    std::vector<uint32_t> markerPositions;
};

Reading ReadIndependently(const std::vector<uint8_t>& bin) {
    Reading r;
    const std::string code(bin.begin(), bin.begin() + 4);
    const std::vector<uint8_t> s(bin.begin() + 6, bin.end());
    const size_t n = s.size();
    auto s16 = [&](size_t i) { return static_cast<int32_t>(static_cast<int16_t>(Le16(&s[i]))); };
    if (code == "WPC8") {
        for (uint8_t b : s) r.samples.push_back(static_cast<int8_t>(b) * 256);
    } else if (code == "WP16") {
        for (size_t i = 0; i + 2 <= n; i += 2) r.samples.push_back(s16(i));
    } else if (code == "WS16") {
        for (size_t i = 0; i + 4 <= n; i += 4) r.samples.push_back(s16(i));
    } else if (code == "WS08") {
        for (size_t i = 0; i + 2 <= n; i += 2) r.samples.push_back(static_cast<int8_t>(s[i]) * 256);
    } else if (code == "WLP8") {
        size_t i = 0;
        for (; i < n && s[i] != 0x80; ++i) {
            const int32_t c = std::abs(static_cast<int32_t>(static_cast<int8_t>(s[i])));
            const int32_t v = c < 32 ? c : c < 48 ? 2 * c - 32 : c < 96 ? 4 * c - 127 : 8 * c - 509;
            r.samples.push_back(static_cast<int8_t>(s[i]) < 0 ? -v * 64 : v * 64);
        }
        if (!(i + 3 == n && s[i + 1] == 0 && s[i + 2] == 0)) r.error = "no 80 00 00 at the end";
    } else if (code == "WP10") {
        size_t i = 0;
        bool ended = false;
        while (i < n && !ended && r.error.empty()) {
            if (s[i] == 0x80) {
                if (i + 3 > n) r.error = "record cut short";
                else if (s[i + 1] == 0 && s[i + 2] == 0) ended = i + 3 == n;
                else r.markerPositions.push_back(static_cast<uint32_t>(r.samples.size()));
                i += 3;
                continue;
            }
            if (i + 5 > n) {
                r.error = "group cut short";
                break;
            }
            for (int k = 0; k < 4; ++k) {
                int32_t v = s[i + 1 + k] << 2 | ((s[i] >> (6 - 2 * k)) & 3);
                if (v & 0x200) v -= 0x400;
                r.samples.push_back(v * 64);
            }
            i += 5;
        }
        if (!ended && r.error.empty()) r.error = "no end mark";
    } else if (code == "WADM" || code == "WMdM") {
        const test::DecodedResource d = test::DecodeResource(bin);
        if (!d.ok) r.error = "the RBF decoder refuses it";
        for (uint16_t v : d.samples) r.samples.push_back((static_cast<int32_t>(v) - 2048) * 16);
        for (const auto& m : d.markers) r.markerPositions.push_back(m.position);
    } else if (code == "WMCP" || code == "WLPC" || code == "WESB" || code == "WMVP" || code == "OSBC") {
        // The MCP line's structure: silence words give zeros, a voice block's
        // coded file says how many samples it decodes to (taken from the
        // reader, whose decoding is the codec library's), records mark the
        // position they are read at.
        r.known = false;
        size_t i = 0;
        bool ended = false;
        while (i + 2 <= n && !ended && r.error.empty()) {
            const uint16_t w = Le16(&s[i]);
            if (w == 0xFFFF) {
                ended = i + 2 == n;
                i += 2;
            } else if (s[i] == 0x13 && i + 4 <= n) {
                r.markerPositions.push_back(static_cast<uint32_t>(r.samples.size()));
                i += 4;
            } else if (w == 0x0002 && i + 6 <= n && test::Le32(&s[i + 2]) + i + 6 <= n) {
                const uint32_t size = test::Le32(&s[i + 2]);
                r.samples.insert(r.samples.end(), size >= 16 ? test::Le32(&s[i + 10]) : 0, 1);  // voice
                i += 6 + size;
            } else if ((s[i] & 15) == 1) {
                r.samples.insert(r.samples.end(), w >> 4, 0);
                i += 2;
            } else {
                r.error = "unknown word";
            }
        }
        if (!ended && r.error.empty()) r.error = "no end mark";
    } else {
        r.known = false;
    }
    return r;
}

// What the chip file plays, as signed 16-bit: its decoded section, with the
// silence segments of an APM file as silence (the file keeps the coder's
// idle values there; the binary holds a silence run).
std::vector<int32_t> Played(const std::string& path, const Coding& c) {
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str());
    if (!file || !file->Sound()) return {};
    std::vector<std::pair<uint32_t, uint32_t>> silences;
    for (int32_t k = 0; k < file->Sound()->SilenceSegments().GetCount(); ++k) {
        const auto* seg = file->Sound()->SilenceSegments().GetAt(k);
        silences.push_back({seg->GetStart(), seg->GetEnd()});
    }
    if (!file->LoadPlayedSound()) return {};
    C_WavData* sound = file->Sound();
    const uint16_t bits = sound->GetWavInfo()->GetValidBits();
    std::vector<int32_t> out(sound->SampleCount());
    for (uint32_t i = 0; i < out.size(); ++i) {
        const int32_t v = sound->Sample(i, 0);
        out[i] = bits == 12 ? v * 16 : v;  // signed, at its own width
    }
    if (c.formatId == kFormatApm)
        for (const auto& [a, b] : silences)
            for (uint32_t i = a; i <= b && i < out.size(); ++i) out[i] = 0;
    return out;
}

// A sound of voice and silence runs with events, at 8 kHz.
RefPtr<C_WavData> BuiltSound() {
    const std::vector<uint32_t> runs = {3000, 2001, 2999, 1203, 1500};
    std::vector<uint8_t> bytes;
    std::vector<std::pair<uint32_t, uint32_t>> silences;
    uint32_t at = 0;
    for (size_t k = 0; k < runs.size(); ++k) {
        if (k % 2) silences.push_back({at, at + runs[k] - 1});
        for (uint32_t i = 0; i < runs[k]; ++i, ++at) {
            const double t = at / 8000.0;
            const double v = k % 2 ? 0.0 : 9000 * std::cos(2 * M_PI * 300 * t) + 2500 * std::sin(2 * M_PI * 1170 * t);
            Put16(bytes, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
        }
    }
    RefPtr<C_WavData> sound(new C_WavData());
    sound->SetFormat(8000, static_cast<uint32_t>(bytes.size()), 1, 16, 16, 1);
    sound->SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    sound->GetActionEventMgr()->SetSampleRate(8000);
    for (const auto& s : silences) sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(s.first, s.second));
    sound->GetActionEventMgr()->AddEventAtSample(1, 1000, "", 2);
    sound->GetActionEventMgr()->AddEventAtSample(3, 3000, "", 4);
    sound->GetActionEventMgr()->AddEventAtSample(5, 4000, "", 6);
    sound->GetActionEventMgr()->AddEventAtSample(7, 6500, "", 8);
    return sound;
}

class ResourceBinaryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ombry_.Loaded()) << "libOmbry not found"; }
    // Saves the sound as the coding's chip file and makes its binary.
    bool Make(C_WavData& sound, const Coding& c, std::string& chip, std::vector<uint8_t>& bin) {
        chip = dir_.File(std::string("s.") + c.ext);
        const std::string binPath = dir_.File(std::string(c.ext) + ".bin");
        if (!sound.SaveAs(c.formatId, chip.c_str())) return false;
        if (ombry_.Convert(chip, binPath) == 0) return false;
        bin = test::ReadFileBytes(binPath);
        return !bin.empty();
    }
    // expectMarkers: all events; onSilence: those on a silence, the only ones
    // the MCP line's stream carries (its voice blocks have no records).
    void CheckAll(C_WavData& sound, size_t expectMarkers, size_t onSilence) {
        for (const Coding& c : Codings()) {
            SCOPED_TRACE(c.name);
            std::string chip;
            std::vector<uint8_t> bin;
            ASSERT_TRUE(Make(sound, c, chip, bin));
            S_ResourceBinary got;
            std::string why;
            ASSERT_TRUE(ReadResourceBinary(bin, got, &why)) << why;
            EXPECT_EQ(got.coding, c.name);
            EXPECT_EQ(got.sampleRate, sound.GetWavInfo()->GetSampleRate());
            const std::vector<int32_t> played = Played(chip, c);
            ASSERT_FALSE(played.empty());
            std::vector<int32_t> samples(got.samples.begin(), got.samples.end());
            EXPECT_EQ(samples.size(), played.size());
            const size_t same =
                std::mismatch(samples.begin(), samples.end(), played.begin(), played.end()).first - samples.begin();
            EXPECT_EQ(same, std::max(samples.size(), played.size()))
                << "first sample read otherwise: " << same << " binary "
                << (same < samples.size() ? samples[same] : -99999) << " chip file "
                << (same < played.size() ? played[same] : -99999);
            const Reading r = ReadIndependently(bin);
            if (!r.known && !r.samples.empty()) {
                // Structure only: the same length, zeros where the stream has
                // silence, the records where the reader put the markers.
                EXPECT_EQ(r.error, "");
                ASSERT_EQ(r.samples.size(), samples.size());
                for (size_t i = 0; i < samples.size(); ++i)
                    if (r.samples[i] == 0 && samples[i] != 0) {
                        ADD_FAILURE() << "sample " << i << " of a silence word plays " << samples[i];
                        break;
                    }
                std::vector<uint32_t> positions;
                for (const S_BinaryMarker& m : got.markers) positions.push_back(m.position);
                EXPECT_EQ(r.markerPositions, positions);
            }
            if (r.known) {
                EXPECT_EQ(r.error, "");
                EXPECT_EQ(r.samples, samples);
                std::vector<uint32_t> positions;
                for (const S_BinaryMarker& m : got.markers) positions.push_back(m.position);
                EXPECT_EQ(r.markerPositions, positions);
            }
            // Codings whose stream carries the events: every one of them.
            const std::string code = got.code;
            if (code == "WP10" || code == "WADM" || code == "WMdM" || code == "WPAM" || code == "WE2A" || code == "Q42M")
                EXPECT_EQ(got.markers.size(), expectMarkers) << "markers";
            if (code == "WMCP" || code == "WLPC" || code == "WESB" || code == "WMVP" || code == "OSBC")
                EXPECT_EQ(got.markers.size(), onSilence) << "markers";
        }
    }
    test::TempDir dir_;
    test::OmbryLibrary ombry_;
};

TEST_F(ResourceBinaryTest, EveryCodingDecodesToWhatTheChipFilePlays) {
    RefPtr<C_WavData> sound = BuiltSound();
    CheckAll(*sound, 4, 2);
}

TEST_F(ResourceBinaryTest, RealPrompt) {
    const char* path = "/usr/share/asterisk/sounds/en/vm-goodbye.wav";
    if (!test::FileExists(path)) path = "/usr/share/asterisk/sounds/en_US_f_Allison/vm-goodbye.wav";
    if (!test::FileExists(path)) GTEST_SKIP() << "no asterisk prompt vm-goodbye.wav (asterisk-core-sounds-en-wav)";
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path);
    ASSERT_TRUE(file && file->Sound());
    CheckAll(*file->Sound(), 0, 0);
}

// Damaged binaries of every coding are refused, naming the coding and why.
TEST_F(ResourceBinaryTest, DamagedBinariesAreRefused) {
    RefPtr<C_WavData> sound = BuiltSound();
    for (const Coding& c : Codings()) {
        SCOPED_TRACE(c.name);
        std::string chip;
        std::vector<uint8_t> bin;
        ASSERT_TRUE(Make(*sound, c, chip, bin));
        S_ResourceBinary got;
        std::string why;
        std::vector<uint8_t> bad = bin;
        bad[4] = bad[5] = 0;  // rate 0
        EXPECT_FALSE(ReadResourceBinary(bad, got, &why));
        EXPECT_EQ(got.coding, c.name);
        EXPECT_NE(why.find("rate"), std::string::npos) << why;
        bad.assign(bin.begin(), bin.begin() + 4);
        EXPECT_FALSE(ReadResourceBinary(bad, got, &why));
        EXPECT_NE(why.find("truncated"), std::string::npos) << why;
        // Cut by one byte: refused by every coding with an end mark or a
        // sample width above one byte; PC8 has neither and plays one sample less.
        bad.assign(bin.begin(), bin.end() - 1);
        const bool read = ReadResourceBinary(bad, got, &why);
        EXPECT_EQ(read, std::string(c.name) == "PC8") << why;
        // Garbage after the header: a bad record for the codings with records.
        bad.assign(bin.begin(), bin.begin() + 6);
        bad.insert(bad.end(), {0x80, 0x12, 0x34, 0x0C, 0xFE, 0x0D});
        if (std::string(c.name) == "LP8" || std::string(c.name) == "P10" || std::string(c.name) == "MCP") {
            EXPECT_FALSE(ReadResourceBinary(bad, got, &why));
            EXPECT_FALSE(why.empty());
        }
    }
}

TEST(ResourceBinary, OtherFilesAreNoBinaries) {
    S_ResourceBinary got;
    std::string why;
    const std::vector<uint8_t> riff = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
    EXPECT_FALSE(ReadResourceBinary(riff, got, &why));
    EXPECT_EQ(got.coding, "");
    EXPECT_FALSE(ReadResourceBinary({}, got, &why));
}

}  // namespace
}  // namespace cz
