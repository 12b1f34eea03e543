// RBF resource files: decoding through the temporary file into a sound with
// cue points, the format class in the factory, cutting to a byte limit, and
// the closed loop with the resource converter's binaries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "formats/apm/C_E2aFile.h"
#include "formats/rbf/C_RBFFile.h"
#include "formats/rbf/RbfFile.h"
#include "formats/registry/C_WavFileFormat.h"
#include "foundation/ByteReader.h"
#include "foundation/RefPtr.h"
#include "siblings/ombry/ChipFixtures.h"
#include "siblings/ombry/ResourceDecoder.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

std::vector<uint8_t> Resource(const char* magic, uint16_t rate, std::vector<uint8_t> payload) {
    std::vector<uint8_t> file = {uint8_t(magic[0]), uint8_t(magic[1]), uint8_t(magic[2]),
                                 uint8_t(magic[3]), uint8_t(rate),     uint8_t(rate >> 8)};
    file.insert(file.end(), payload.begin(), payload.end());
    return file;
}

// A "WMdM" resource of four blocks (44, 12, 5 and 5 bytes) and the end mark.
std::vector<uint8_t> WmdmResource() {
    std::vector<uint8_t> p = {0x91, 0x80, 0x0C, 0x07, 0x02, 0x21, 0x00, 0x00, 0xF0};
    p.insert(p.end(), 35, 0x00);
    p.insert(p.end(), {0x7A, 0xFF, 0x00, 0x0F, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    p.insert(p.end(), {0x05, 0x05, 0x09, 0x03, 0x00});
    p.insert(p.end(), {0x06, 0x12, 0x02, 0x34, 0xFF});
    p.push_back(0xFF);
    return Resource("WMdM", 8000, p);
}

std::vector<uint8_t> Q42mResource() {
    return Resource(
        "Q42M", 11025,
        {0x10, 0x02, 0xE3, 0x03, 0x01, 0x02, 0x03, 0x00, 0x02, 0x02, 0x07, 0x01, 0x23, 0x00, 0x21, 0x00, 0x08, 0x02});
}

std::vector<uint8_t> WadmResource() {
    return Resource("WADM", 16000,
                    {0x04, 0x04, 0x16, 0x2A, 0x30, 0x80, 0x01, 0x02, 0x00, 0x80, 0x7F, 0x08, 0x00, 0x00});
}

std::vector<uint8_t> We2aResource() {
    std::vector<uint8_t> p = {0x09, 0x40, 0x90, 0x10, 0x24, 0x3C, 0x0E, 0x11, 0x34,
                              0x12, 0x08, 0x04, 0x03, 0x00, 0x80, 0x00, 0x04};
    p.insert(p.end(), 32, 0x11);
    p.insert(p.end(), {0x08, 0x04, 0x00, 0x00});
    return Resource("WE2A", 8000, p);
}

std::vector<uint16_t> Samples(C_WavData& sound) {
    const uint32_t n = sound.GetDataSize() / 2;
    std::vector<uint16_t> s(n);
    for (uint32_t i = 0; i < n; ++i) s[i] = LoadU16(sound.GetSampleBuffer() + 2 * i);
    return s;
}

struct DecodedFile {
    RbfError error = RbfError::kNone;
    std::vector<uint16_t> samples;
    std::vector<RbfMarker> markers;
};

DecodedFile Decode(std::span<const uint8_t> file) {
    RefPtr<C_WavData> sound(new C_WavData());
    DecodedFile d;
    d.error = DecodeRbfBytes(file, *sound, &d.markers);
    if (d.error == RbfError::kNone) d.samples = Samples(*sound);
    return d;
}

bool IsPrefix(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b) {
    return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// Points the system temporary folder at a private one for the test's life.
class PrivateTemp {
public:
    PrivateTemp() {
        const char* old = std::getenv("TMPDIR");
        if (old) old_ = old, hadOld_ = true;
        setenv("TMPDIR", dir_.Path().c_str(), 1);
    }
    ~PrivateTemp() {
        if (hadOld_)
            setenv("TMPDIR", old_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    size_t Count() const {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.Path())) ++n;
        return n;
    }

private:
    test::TempDir dir_;
    std::string old_;
    bool hadOld_ = false;
};

TEST(RbfFile, DecodesIntoTheSoundWithCuePointsAndDeletesItsTemporaryFile) {
    test::TempDir dir;
    PrivateTemp temp;
    const std::string path = dir.File("a.rbf");
    ASSERT_TRUE(test::WriteFileBytes(path, WmdmResource()));
    RefPtr<C_WavData> sound(new C_WavData());
    ASSERT_TRUE(DecodeRbf(path.c_str(), *sound));
    EXPECT_EQ(temp.Count(), 0u);
    I_WavInfo* info = sound->GetWavInfo();
    EXPECT_EQ(info->GetSampleRate(), 8000u);
    EXPECT_EQ(info->GetChannels(), 1);
    EXPECT_EQ(info->GetValidBits(), 12);
    EXPECT_EQ(info->GetContainerBits(), 16);
    EXPECT_EQ(info->GetSignedFlag(), 0u);
    EXPECT_EQ(sound->GetDataSize(), 2u * (65 + 17 + 3 + 3));
    // Two markers become two cue points: identifier, position, "data", 0, type, position.
    C_WavDataCueInfo& cues = sound->CueInfo();
    ASSERT_EQ(cues.GetCount(), 2);
    EXPECT_EQ(cues.GetAt(0)->GetCueId(), 7u);
    EXPECT_EQ(cues.GetAt(0)->GetPosition(), 0u);
    EXPECT_EQ(cues.GetAt(0)->GetBlockStart(), 3u);
    EXPECT_EQ(cues.GetAt(1)->GetCueId(), 9u);
    EXPECT_EQ(cues.GetAt(1)->GetPosition(), 82u);
    EXPECT_EQ(cues.GetAt(1)->GetSampleOffset(), 82u);
    EXPECT_EQ(cues.GetAt(1)->GetBlockStart(), 0x41u);
    EXPECT_STREQ(cues.GetAt(1)->GetChunkIdText(), "data");

    // Failures delete the temporary file as well.
    ASSERT_TRUE(test::WriteFileBytes(path, Resource("WADM", 8000, {0x01, 0x05, 0x00})));
    RbfError error = RbfError::kNone;
    EXPECT_FALSE(DecodeRbf(path.c_str(), *sound, &error));
    EXPECT_EQ(error, RbfError::kBadPayload);
    EXPECT_EQ(temp.Count(), 0u);
}

TEST(RbfFile, MarkersWithOneIdentifierAreAllKept) {
    // Two "WADM" markers of identifier 1 (the same action twice).
    const auto file = Resource("WADM", 8000, {0x06, 0x01, 0x00, 0x80, 0x0A, 0x01, 0x00, 0x80, 0x00, 0x00});
    RefPtr<C_WavData> sound(new C_WavData());
    ASSERT_EQ(DecodeRbfBytes(file, *sound), RbfError::kNone);
    ASSERT_EQ(sound->CueInfo().GetCount(), 2);
    EXPECT_EQ(sound->CueInfo().GetAt(1)->GetPosition(), 1u);
    EXPECT_EQ(sound->CueInfo().GetAt(1)->GetBlockStart(), 2u);
}

TEST(RbfFile, RefusesWhatIsNotAResource) {
    const struct {
        std::vector<uint8_t> bytes;
        RbfError error;
    } cases[] = {
        {{}, RbfError::kUnknownMagic},
        {{'W', 'M', 'd'}, RbfError::kUnknownMagic},
        {Resource("WXYZ", 8000, {0xFF}), RbfError::kUnknownMagic},
        {Resource("WMdM", 8000, {}), RbfError::kNoPayload},
        {{'W', 'M', 'd', 'M', 0x40}, RbfError::kNoPayload},
        {Resource("WADM", 8000, {0x00}), RbfError::kBadPayload},  // a one-byte payload
        {Resource("Q42M", 8000, {0x01, 0x02}), RbfError::kBadPayload},
    };
    for (const auto& c : cases) EXPECT_EQ(Decode(c.bytes).error, c.error) << c.bytes.size();
    test::TempDir dir;
    RefPtr<C_WavData> sound(new C_WavData());
    RbfError error = RbfError::kNone;
    EXPECT_FALSE(DecodeRbf(dir.File("missing.rbf").c_str(), *sound, &error));
    EXPECT_EQ(error, RbfError::kCannotOpen);
}

// A resource cut short lacks its end mark (or ends inside a block): the
// chip would play on into whatever follows, so it is refused, not decoded.
TEST(RbfFile, EveryTruncationIsRefused) {
    for (const auto& file : {WmdmResource(), Q42mResource(), WadmResource(), We2aResource()}) {
        ASSERT_EQ(Decode(file).error, RbfError::kNone);
        for (size_t n = 0; n < file.size(); ++n) {
            // A buffer of exactly n bytes, so that a read past it is seen.
            const std::vector<uint8_t> prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
            const RbfError e = Decode(prefix).error;
            EXPECT_TRUE(e == RbfError::kUnknownMagic || e == RbfError::kNoPayload || e == RbfError::kBadPayload ||
                        e == RbfError::kNoEndMark)
                << n << ": " << RbfErrorText(e);
            RbfSummary summary;
            EXPECT_EQ(InspectRbf(prefix, summary), e) << n;
        }
    }
}

// What the header and the walk say must agree with the file: a rate a chip
// file may carry, the end mark, and nothing after it.
TEST(RbfFile, RefusesRatesNoResourceHasAndBytesAfterTheEndMark) {
    std::vector<uint8_t> after = WadmResource();
    after.push_back(0x00);
    std::vector<uint8_t> noEnd = WmdmResource();
    noEnd.pop_back();
    const struct {
        std::vector<uint8_t> bytes;
        RbfError error;
        const char* detail;
    } cases[] = {
        {Resource("WMdM", 0, {0xFF}), RbfError::kBadRate, "sample rate 0 Hz; a resource has 1000 Hz or more"},
        {Resource("WADM", 101, {0x00, 0x00}), RbfError::kBadRate, "sample rate 101 Hz"},    // a WAM file's version
        {Resource("WE2A", 0x110, {0x00, 0x00}), RbfError::kBadRate, "sample rate 272 Hz"},  // an MPM file's
        {Resource("Q42M", 999, {0x08, 0x02}), RbfError::kBadRate, "sample rate 999 Hz"},
        {Resource("WMdM", 1000, {0xFF}), RbfError::kNone, ""},
        {Resource("Q42M", 65535, {0x08, 0x02}), RbfError::kNone, ""},
        {after, RbfError::kAfterEndMark, "1 bytes follow the end mark"},
        {Resource("Q42M", 8000, {0x08, 0x02, 0x08, 0x02}), RbfError::kAfterEndMark, "2 bytes follow the end mark"},
        {noEnd, RbfError::kNoEndMark, "the 66-byte payload ends without its end mark"},
        {Resource("WE2A", 8000, {0x04, 0x00}), RbfError::kNoEndMark, "ends without its end mark"},
        {Resource("WADM", 8000, {0x01, 0x05, 0x00, 0x00}), RbfError::kBadPayload,
         "a block runs past the end of the payload (after 0 of 4 payload bytes)"},
    };
    for (const auto& c : cases) {
        RbfSummary summary;
        const RbfError e = InspectRbf(c.bytes, summary);
        EXPECT_EQ(e, c.error) << c.detail;
        EXPECT_NE(DescribeRbfError(e, summary).find(c.detail), std::string::npos) << DescribeRbfError(e, summary);
        EXPECT_EQ(Decode(c.bytes).error, c.error) << c.detail;
        std::vector<uint8_t> cut;
        EXPECT_EQ(CutRbfBytes(c.bytes, 100, cut), c.error) << c.detail;
    }
}

TEST(RbfFile, CutKeepsWholeBlocksAndDecodesToAPrefix) {
    const auto file = WmdmResource();  // 6 + 44 + 12 + 5 + 5 + 1 = 73 bytes
    const DecodedFile whole = Decode(file);
    const struct {
        uint64_t limit;
        size_t size;  // of the cut copy
        size_t samples;
    } cases[] = {
        {1000, 73, 88},
        {73, 73, 88},                      // fits: unchanged, no end mark added
        {72, 6 + 44 + 12 + 5 + 1, 85},     // the last block goes
        {6 + 44 + 5 + 1, 6 + 44 + 1, 65},  // ends inside the second block: the first only
        {6 + 44, 6 + 1, 0},                // less than the first block
        {7, 7, 0},                         // header and end mark
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> cut;
        ASSERT_EQ(CutRbfBytes(file, c.limit, cut), RbfError::kNone) << c.limit;
        EXPECT_EQ(cut.size(), c.size) << c.limit;
        EXPECT_LE(cut.size(), c.limit);
        EXPECT_EQ(cut.back(), 0xFF);
        const DecodedFile d = Decode(cut);
        EXPECT_EQ(d.samples.size(), c.samples) << c.limit;
        EXPECT_TRUE(IsPrefix(d.samples, whole.samples)) << c.limit;
    }
    std::vector<uint8_t> cut = {1, 2, 3};
    EXPECT_EQ(CutRbfBytes(file, 6, cut), RbfError::kLimitTooSmall);
    EXPECT_EQ(cut.size(), 3u);  // untouched
}

TEST(RbfFile, CutByCoding) {
    // "Q42M" keeps whole words and commands with their operands.
    const auto q = Q42mResource();  // payload 18 bytes
    std::vector<uint8_t> cut;
    ASSERT_EQ(CutRbfBytes(q, 6 + 7 + 2, cut), RbfError::kNone);
    EXPECT_EQ(cut, Resource("Q42M", 11025, {0x10, 0x02, 0xE3, 0x03, 0x08, 0x02}));
    ASSERT_EQ(CutRbfBytes(q, 6 + 8 + 2, cut), RbfError::kNone);
    EXPECT_EQ(cut.size(), 6u + 8 + 2);
    EXPECT_TRUE(IsPrefix(Decode(cut).samples, Decode(q).samples));
    EXPECT_EQ(CutRbfBytes(q, 7, cut), RbfError::kLimitTooSmall);
    // "WADM" and "WE2A" keep whole blocks too: silence (2) and marker (4)
    // blocks fit, the short block of 6 does not.
    const auto w = WadmResource();
    ASSERT_EQ(CutRbfBytes(w, w.size() - 1, cut), RbfError::kNone);
    EXPECT_EQ(cut, Resource("WADM", 16000, {0x04, 0x04, 0x16, 0x2A, 0x30, 0x80, 0x00, 0x00}));
    EXPECT_EQ(CutRbfBytes(w, 7, cut), RbfError::kLimitTooSmall);
    const auto e = Resource("WE2A", 8000, {0x08, 0x04, 0x00, 0x00});
    ASSERT_EQ(CutRbfBytes(e, 9, cut), RbfError::kNone);
    EXPECT_EQ(cut, Resource("WE2A", 8000, {0x00, 0x00}));
    RbfCutFigures figures;
    ASSERT_EQ(CutRbfBytes(e, 10, cut, &figures), RbfError::kNone);
    EXPECT_EQ(cut, e);
    EXPECT_EQ(figures.keptSamples, 66u);
    EXPECT_EQ(figures.samples, 66u);
    EXPECT_EQ(figures.keptBytes, 10u);
}

TEST(RbfFile, CutFilesLeaveNothingOnFailure) {
    test::TempDir dir;
    const std::string in = dir.File("in.rbf"), out = dir.File("out.rbf");
    ASSERT_TRUE(test::WriteFileBytes(in, WmdmResource()));
    ASSERT_TRUE(CutRbf(in.c_str(), out.c_str(), 51));
    EXPECT_EQ(test::ReadFileBytes(out).size(), 51u);
    RbfError error = RbfError::kNone;
    EXPECT_FALSE(CutRbf(in.c_str(), dir.File("small.rbf").c_str(), 6, &error));
    EXPECT_EQ(error, RbfError::kLimitTooSmall);
    EXPECT_FALSE(test::FileExists(dir.File("small.rbf")));
    ASSERT_TRUE(test::WriteFileBytes(in, {'A', 'B', 'C', 'D', 0, 0, 0xFF}));
    EXPECT_FALSE(CutRbf(in.c_str(), dir.File("bad.rbf").c_str(), 100, &error));
    EXPECT_EQ(error, RbfError::kUnknownMagic);
    EXPECT_FALSE(test::FileExists(dir.File("bad.rbf")));
}

TEST(RbfFile, TheFactoryOpensResources) {
    test::TempDir dir;
    C_WavFileFormat factory;
    const std::string path = dir.File("a.rbf");
    ASSERT_TRUE(test::WriteFileBytes(path, Q42mResource()));
    RefPtr<C_WavFile> file = factory.Open(path.c_str());
    ASSERT_TRUE(file);
    EXPECT_STREQ(factory.LastClassName(), "C_RBFFile");
    EXPECT_EQ(file->GetFormatId(), 15u);
    EXPECT_EQ(file->GetWavInfo()->GetSampleRate(), 11025u);
    EXPECT_EQ(file->GetWavInfo()->GetSampleCount(), 2u + 6 + 2);
    EXPECT_EQ(file->Sound()->CueInfo().GetCount(), 1);
    // No probe: the registry has no id for it.
    EXPECT_EQ(factory.GetFileFormat(path.c_str()), 0u);

    // The header alone: the class knows it and says what is wrong.
    ASSERT_TRUE(test::WriteFileBytes(path, Resource("WADM", 8000, {})));
    EXPECT_FALSE(factory.Open(path.c_str()));
    EXPECT_NE(factory.LastFailure().find("cut short"), std::string::npos) << factory.LastFailure();

    // Opening without samples fills the format from a walk of the payload.
    C_RBFFile header;
    ASSERT_TRUE(test::WriteFileBytes(path, WmdmResource()));
    ASSERT_EQ(header.ReadHeader(path.c_str(), 1, nullptr), 1);
    EXPECT_EQ(header.GetWavInfo()->GetSampleCount(), 88u);
    EXPECT_EQ(header.Summary().markers.size(), 2u);
}

// The resource converter's binaries decode to the chip file's decoded
// section, markers at their places.
class RbfClosedLoop : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ombry_.Loaded()) << "libOmbry not found in " << test::LibDir(); }

    std::vector<uint8_t> Binary(const std::vector<uint8_t>& chip) {
        const std::string chipPath = dir_.File("in.chip"), binPath = dir_.File("out.rbf");
        EXPECT_TRUE(test::WriteFileBytes(chipPath, chip));
        EXPECT_NE(ombry_.Convert(chipPath, binPath), 0u);
        return test::ReadFileBytes(binPath);
    }

    static void ExpectSame(const DecodedFile& d, const test::ChipFixture& chip) {
        ASSERT_EQ(d.error, RbfError::kNone);
        ASSERT_EQ(d.samples.size(), chip.expected.size());
        EXPECT_EQ(d.samples, chip.expected);
        ASSERT_EQ(d.markers.size(), chip.markers.size());
        for (size_t i = 0; i < d.markers.size(); ++i) {
            EXPECT_EQ(d.markers[i].position, chip.markers[i].position) << i;
            EXPECT_EQ(d.markers[i].identifier, chip.markers[i].identifier) << i;
            EXPECT_EQ(d.markers[i].type, chip.markers[i].type) << i;
        }
    }

    test::OmbryLibrary ombry_;
    test::TempDir dir_;
};

TEST_F(RbfClosedLoop, ApmBinary) {
    using namespace test;
    const ChipFixture apm = BuildApm(SwellingVoice12(5000), 0, 16000, {{1203, 1203 + 16 * 70 + 6}, {4990, 5100}},
                                     {{0, 1, 5}, {1500, 2, 100}, {2600, 2, 63}});
    const auto binary = Binary(apm.file);
    ASSERT_GE(binary.size(), 6u);
    EXPECT_EQ(std::string(binary.begin(), binary.begin() + 4), "WADM");
    const DecodedFile d = Decode(binary);
    ExpectSame(d, apm);
}

// The payload offsets where the blocks of an ADPCM resource start, up to the
// end mark, walked here on their own from the block sizes of the coding.
std::vector<size_t> AdpcmBlockStarts(std::span<const uint8_t> payload, bool we2a) {
    std::vector<size_t> starts;
    for (size_t pos = 0; pos + 2 <= payload.size() && (payload[pos] | payload[pos + 1]) != 0;) {
        starts.push_back(pos);
        const uint8_t b0 = payload[pos];
        const size_t n = (b0 >> 2) + 1u;
        const size_t sizes[2][4] = {{2, 4 + size_t{payload[pos + 1]}, 4, 259}, {2, 5 + n / 2, 4, 3 + 34 * n}};
        pos += sizes[we2a][b0 & 3];
    }
    return starts;
}

// Cuts of the two ADPCM codings: the copy keeps the largest run of whole
// blocks from the start that fits with the end mark, decodes to the start of
// the whole sound, and the figures say how much that is.
TEST_F(RbfClosedLoop, AdpcmBinariesCutToTheWholeBlocksThatFit) {
    using namespace test;
    const ChipFixture apm = BuildApm(SwellingVoice12(5000), 0, 16000, {{1203, 1203 + 16 * 70 + 6}, {4990, 5100}},
                                     {{0, 1, 5}, {1500, 2, 100}, {2600, 2, 63}});
    // An E2A file saved by its class: long blocks of up to 64 sub-blocks.
    std::vector<uint16_t> words = SwellingVoice12(9000);
    for (uint16_t& v : words) v = static_cast<uint16_t>(v << 4);
    auto sound = SoundOfWords(words, 8000, 16, 0);
    sound->GetActionEventMgr()->AddEventAtSample(3, 2000, "", 1);
    C_E2aFile e2a;
    ASSERT_EQ(SaveWith(e2a, *sound, dir_.File("a.ad4")), 1);
    for (const bool we2a : {false, true}) {
        SCOPED_TRACE(we2a ? "WE2A" : "WADM");
        const auto binary = Binary(we2a ? ReadFileBytes(dir_.File("a.ad4")) : apm.file);
        const DecodedFile whole = Decode(binary);
        ASSERT_EQ(whole.error, RbfError::kNone);
        const std::vector<size_t> starts = AdpcmBlockStarts(std::span(binary).subspan(6), we2a);
        ASSERT_GT(starts.size(), 3u);
        const size_t payloadEnd = binary.size() - 6 - 2;  // before the end mark
        std::vector<uint64_t> limits = {8, 9, 30000, binary.size() - 1, binary.size(), binary.size() + 1};
        for (size_t i = 1; i < starts.size(); ++i) {
            // Exactly a block boundary, and one byte short of it.
            limits.push_back(6 + starts[i] + 2);
            limits.push_back(6 + starts[i] + 1);
        }
        size_t most = 0;
        for (uint64_t limit : limits) {
            std::vector<uint8_t> cut;
            RbfCutFigures figures;
            ASSERT_EQ(CutRbfBytes(binary, limit, cut, &figures), RbfError::kNone) << limit;
            if (limit >= binary.size()) {
                EXPECT_EQ(cut, binary);
                continue;
            }
            // The largest block boundary whose blocks fit with header and end mark.
            size_t expected = 0;
            for (size_t s : starts)
                if (6 + s + 2 <= limit) expected = s;
            if (6 + payloadEnd + 2 <= limit) expected = payloadEnd;
            ASSERT_EQ(cut.size(), 6 + expected + 2) << limit;
            EXPECT_TRUE(std::equal(cut.begin(), cut.end() - 2, binary.begin())) << limit;
            const DecodedFile d = Decode(cut);
            ASSERT_EQ(d.error, RbfError::kNone) << limit;
            EXPECT_TRUE(IsPrefix(d.samples, whole.samples)) << limit;
            EXPECT_EQ(figures.keptSamples, d.samples.size());
            EXPECT_EQ(figures.samples, whole.samples.size());
            EXPECT_EQ(figures.keptBytes, cut.size());
            if (limit >= 6 + starts[1] + 2) {
                EXPECT_GT(d.samples.size(), 0u) << limit;
            }
            most = std::max(most, d.samples.size());
        }
        EXPECT_GT(most, whole.samples.size() / 2);
    }
}

TEST_F(RbfClosedLoop, MdmBinary) {
    using namespace test;
    std::vector<MdmPiece> pieces;
    pieces.push_back({MdmPiece::kVoice, SwellingVoice12(1000), 0, false});
    pieces.push_back({MdmPiece::kVoice, SwellingVoice12(300, 1200.0, 1000.0), 0, true, 2, 100});
    pieces.push_back({MdmPiece::kSilence, {}, 400, false});
    pieces.push_back({MdmPiece::kSilence, {}, 66, true, 7, 255});
    pieces.push_back({MdmPiece::kRaw, {0x800, 0x810, 0x7F0}, 0, false});
    pieces.push_back({MdmPiece::kRaw, {0x123, 0x456, 0x789, 0xABC, 0xFFF}, 0, true, 1, 0});
    pieces.push_back({MdmPiece::kVoice, SwellingVoice12(17, 600.0, 50.0), 0, false});
    const ChipFixture mdm = BuildMdm(pieces, 12000);
    const auto binary = Binary(mdm.file);
    EXPECT_EQ(std::string(binary.begin(), binary.begin() + 4), "WMdM");
    const DecodedFile whole = Decode(binary);
    ExpectSame(whole, mdm);

    // Cut at several limits: whole blocks, a prefix of the same samples.
    size_t previous = 0;
    for (uint64_t limit = 7; limit <= binary.size(); limit += 37) {
        std::vector<uint8_t> cut;
        ASSERT_EQ(CutRbfBytes(binary, limit, cut), RbfError::kNone);
        EXPECT_LE(cut.size(), limit);
        const DecodedFile d = Decode(cut);
        ASSERT_EQ(d.error, RbfError::kNone);
        EXPECT_TRUE(IsPrefix(d.samples, whole.samples)) << limit;
        EXPECT_GE(d.samples.size(), previous);
        previous = d.samples.size();
        // At most one block (44 bytes, 65 samples) is lost to the limit.
        if (limit >= 6 + 1 + 44) {
            EXPECT_GT(d.samples.size(), 0u);
        }
    }
}

}  // namespace
}  // namespace cz
