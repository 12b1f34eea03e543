// The ADPCM relatives of APM in the MPM container (EAM, SAM, E2A): what each
// writes, that each opens its own files, that the decoded section is what the
// frame section plays, and malformed files of each.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codecs/rbf/RbfCoding.h"
#include "formats/apm/C_E2aFile.h"
#include "formats/apm/C_EamFile.h"
#include "formats/apm/C_SamFile.h"
#include "formats/registry/C_WavFileFormat.h"
#include "foundation/ByteReader.h"
#include "foundation/InputStream.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

struct ClassRow {
    const char* name;
    const char* code;
    FormatId id;
    uint16_t bits;
    std::function<std::unique_ptr<C_AdpcmMpmFile>()> make;
};

const ClassRow kClasses[] = {
    {"C_EamFile", "WEAM", kFormatEam, 12, [] { return std::make_unique<C_EamFile>(); }},
    {"C_SamFile", "WSAM", kFormatSam, 12, [] { return std::make_unique<C_SamFile>(); }},
    {"C_E2aFile", "WE2A", kFormatE2a, 16, [] { return std::make_unique<C_E2aFile>(); }},
};

// A 16-bit voice with a silent stretch at [1000, 1500), events at 200 and 2000.
std::unique_ptr<C_WavData> VoiceWithMarks(uint32_t count = 3000) {
    std::vector<int16_t> v(count);
    for (uint32_t i = 0; i < count; ++i) {
        const double t = i / 16000.0;
        v[i] = static_cast<int16_t>(
            std::lround(9000 * std::sin(2 * M_PI * 190 * t) + 3000 * std::sin(2 * M_PI * 620 * t)));
        if (i >= 1000 && i < 1500) v[i] = 0;
    }
    auto sound = test::Sound16(v, 1, 16000);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(1000, 1499));
    if (count > 2000) {
        sound->GetActionEventMgr()->AddEventAtSample(1, 200, "", 5);
        sound->GetActionEventMgr()->AddEventAtSample(3, 2000, "", 70);
    }
    return sound;
}

// The sections of a saved file.
struct Saved {
    std::vector<uint8_t> file;
    uint32_t u32(size_t at) const { return LoadU32(&file[at]); }
    uint16_t u16(size_t at) const { return LoadU16(&file[at]); }
    std::vector<uint16_t> Words(size_t offsetField, size_t countField) const {
        std::vector<uint16_t> w(u32(countField));
        for (size_t i = 0; i < w.size(); ++i) w[i] = LoadU16(&file[u32(offsetField) + 2 * i]);
        return w;
    }
    std::vector<uint16_t> Decoded() const { return Words(48, 52); }
    std::vector<uint16_t> Source() const { return Words(38, 42); }
    std::span<const uint8_t> Records() const { return {&file[62 + 14], u32(32) - 14}; }
};

Saved Save(const ClassRow& row, C_WavData& sound, const std::string& path) {
    auto writer = row.make();
    EXPECT_EQ(test::SaveWith(*writer, sound, path), 1);
    return {test::ReadFileBytes(path)};
}

bool Accepts(const ClassRow& row, const std::vector<uint8_t>& bytes) {
    auto f = row.make();
    return f->LoadFromStream(InputStream::FromMemory(bytes), 1) && f->Sound() != nullptr;
}

double SnrOver(const std::vector<uint16_t>& source, const std::vector<uint16_t>& played, size_t n, double mid) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < n; ++i) {
        signal += std::pow(source[i] - mid, 2);
        noise += std::pow(static_cast<double>(played[i]) - source[i], 2);
    }
    return 10 * std::log10(signal / noise);
}

TEST(AdpcmMpmFiles, EachClassWritesAndReopensItsOwnFiles) {
    test::TempDir dir;
    C_WavFileFormat factory;
    for (const ClassRow& row : kClasses) {
        SCOPED_TRACE(row.name);
        auto sound = VoiceWithMarks();
        const std::string path = dir.File(std::string("a.") + row.code);
        const Saved s = Save(row, *sound, path);
        ASSERT_FALSE(s.file.empty());
        EXPECT_EQ(std::memcmp(s.file.data(), row.code, 4), 0);
        EXPECT_EQ(s.u16(36), row.bits);  // source bits
        EXPECT_EQ(s.u16(46), row.bits);  // decoded bits

        RefPtr<C_WavFile> file = factory.Open(path.c_str());
        ASSERT_TRUE(file);
        EXPECT_STREQ(factory.LastClassName(), row.name);
        EXPECT_EQ(factory.GetFileFormat(path.c_str()), static_cast<uint32_t>(row.id));
        // Opened, the file is its source samples with its events and silence.
        C_WavData* opened = file->Sound();
        ASSERT_NE(opened, nullptr);
        EXPECT_EQ(opened->GetWavInfo()->GetValidBits(), row.bits);
        EXPECT_EQ(opened->GetDataSize(), 2u * 3000);
        const uint8_t* data = opened->GetBuffer()->Data();
        const std::vector<uint16_t> source = s.Source();
        ASSERT_EQ(source.size(), 3000u);
        EXPECT_EQ(std::memcmp(data, &s.file[s.u32(38)], 2 * source.size()), 0);
        EXPECT_EQ(opened->GetActionEventMgr()->Events().GetCount(), 2);
        EXPECT_EQ(opened->SilenceSegments().GetCount(), 1);

        // The decoded section is what the frame section plays.
        auto reader = row.make();
        ASSERT_TRUE(reader->LoadFromStream(InputStream::FromMemory(s.file), 1));
        S_FrameDecode frames;
        ASSERT_TRUE(reader->DecodeFrames(frames));
        const std::vector<uint16_t> played = s.Decoded();
        EXPECT_EQ(frames.decoded, played);
        const double mid = row.bits == 16 ? 32768 : 2048;
        // (SAM's tail codes move what follows the first piece.)
        EXPECT_GT(SnrOver(source, played, 200, mid), 20.0);
        ASSERT_EQ(frames.markers.size(), 2u);
    }
}

TEST(AdpcmMpmFiles, RecordsOfTheBlockCoders) {
    test::TempDir dir;
    // EAM: voice [0, 200), event, voice [200, 1000), silence, voice
    // [1500, 2000), event, voice [2000, 3000), end. Markers take no samples.
    auto sound = VoiceWithMarks();
    const Saved eam = Save(kClasses[0], *sound, dir.File("a.eam"));
    std::span<const uint8_t> r = eam.Records();
    ASSERT_EQ(r[0], kAdpcmRecordVoice);
    EXPECT_EQ(LoadU32(&r[1]), 200u);
    const uint32_t k = LoadU32(&r[5]);
    EXPECT_EQ(k, 2u + 3 * (1 + 32) + (1 + 4));  // the first sample, then 199 codes: 64, 64, 64, 7
    const uint8_t* event = &r[9 + k];
    EXPECT_EQ(event[0], kAdpcmRecordEvent);
    EXPECT_EQ(event[1], 1);
    EXPECT_EQ(event[2], 5);
    S_FrameDecode walk;
    ASSERT_EQ(WalkAdpcmRecords(r, nullptr, 2048, walk), FrameRecordError::kNone);
    EXPECT_EQ(walk.samples, 3000u);
    ASSERT_EQ(walk.markers.size(), 2u);
    EXPECT_EQ(walk.markers[0].sample, 200u);
    EXPECT_EQ(walk.markers[1].sample, 2000u);
    EXPECT_EQ(walk.markers[1].param, 70);
    EXPECT_EQ(r.back(), kAdpcmRecordEnd);

    // SAM under mode 1: each voice piece gets six lead-in codes and tail
    // codes to a four-code boundary at mid-scale; header field 60 says 5.
    sound->GetWriteParam()->SetCodecParam(1);
    const Saved sam = Save(kClasses[1], *sound, dir.File("a.sam"));
    r = sam.Records();
    ASSERT_EQ(r[0], kAdpcmRecordVoice);
    const uint32_t n = LoadU32(&r[1]);
    EXPECT_GE(n, 200u + 6);
    EXPECT_EQ(n % 4, 0u);
    EXPECT_EQ(LoadU32(&r[5]), n / 2);
    EXPECT_EQ(sam.u16(60), 5);
    EXPECT_EQ(sam.u32(52), sam.Decoded().size());
    EXPECT_EQ(sam.Decoded()[n - 1], 2048);
}

TEST(AdpcmMpmFiles, E2aFramesAreTheChipBlockStream) {
    test::TempDir dir;
    auto sound = VoiceWithMarks();
    // A second event at 2000 plays the next sample; one past the end plays
    // the last value once more.
    sound->GetActionEventMgr()->AddEventAtSample(4, 2000, "", 1);
    sound->GetActionEventMgr()->AddEventAtSample(2, 5000, "", 2);
    const Saved s = Save(kClasses[2], *sound, dir.File("a.ad4"));
    const std::vector<uint16_t> source = s.Source(), played = s.Decoded();
    ASSERT_EQ(played.size(), 3001u);
    // Markers play their samples exactly.
    EXPECT_EQ(played[200], source[200]);
    EXPECT_EQ(played[2000], source[2000]);
    EXPECT_EQ(played[2001], source[2001]);
    EXPECT_EQ(played[3000], played[2999]);
    for (size_t i = 1000; i < 1500; ++i) ASSERT_EQ(played[i], 32768) << i;

    // The chip's decoder plays the frame section to the same samples.
    std::unique_ptr<RbfDecoder> chip = OpenRbfDecoder(std::span<const uint8_t>(s.Records().data() - 14, 4));
    ASSERT_FALSE(chip);  // "MFRM" is no coding
    const uint8_t magic[4] = {'W', 'E', '2', 'A'};
    chip = OpenRbfDecoder(magic);
    ASSERT_TRUE(chip);
    struct Sink : RbfSampleSink {
        std::vector<uint16_t> out;
        bool Put(uint16_t v, uint32_t n) override {
            out.insert(out.end(), n, v);
            return true;
        }
    } sink;
    const RbfDecodeResult result = chip->Decode(s.Records(), sink);
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(result.endMark);
    EXPECT_EQ(sink.out, played);
    ASSERT_EQ(result.markers.size(), 4u);
    const RbfMarker expected[] = {{200, 1, 5}, {2000, 3, 70 & 63}, {2001, 4, 1}, {3000, 2, 2}};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(result.markers[i], expected[i]) << i;
    // The first block is a long one; the stream ends in 00 00.
    EXPECT_EQ(s.Records()[0] & 3, 3);
    EXPECT_EQ(s.Records()[s.Records().size() - 2], 0);
    EXPECT_EQ(s.Records().back(), 0);
}

TEST(AdpcmMpmFiles, SilenceLongerThanARecordIsSplit) {
    test::TempDir dir;
    std::vector<int16_t> v(70000, 0);
    for (size_t i = 0; i < 100; ++i) v[i] = static_cast<int16_t>(i * 50);
    auto sound = test::Sound16(v, 1, 8000);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(100, 69999));
    for (const ClassRow& row : kClasses) {
        SCOPED_TRACE(row.name);
        const Saved s = Save(row, *sound, dir.File(std::string("long.") + row.code));
        const auto reader = row.make();
        ASSERT_TRUE(reader->LoadFromStream(InputStream::FromMemory(s.file), 1));
        S_FrameDecode frames;
        ASSERT_TRUE(reader->DecodeFrames(frames));
        EXPECT_EQ(frames.decoded, s.Decoded());
        EXPECT_EQ(frames.decoded.back(), row.bits == 16 ? 32768 : 2048);
    }
}

// Every byte count short of the whole file, and fields of the frame section
// set to what no writer produces.
TEST(AdpcmMpmFiles, MalformedFilesAreRefused) {
    test::TempDir dir;
    for (const ClassRow& row : kClasses) {
        SCOPED_TRACE(row.name);
        std::vector<int16_t> v(300);
        for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>(((i * 37) % 200) * 40 - 4000);
        auto sound = test::Sound16(v, 1, 8000);
        sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(100, 139));
        sound->GetActionEventMgr()->AddEventAtSample(1, 50, "", 1);
        const Saved s = Save(row, *sound, dir.File(std::string("m.") + row.code));
        ASSERT_TRUE(Accepts(row, s.file));
        for (size_t n = 0; n < s.file.size(); ++n) {
            std::vector<uint8_t> cut(s.file.begin(), s.file.begin() + static_cast<long>(n));
            ASSERT_FALSE(Accepts(row, cut)) << "cut at " << n;
        }
        const uint32_t size = static_cast<uint32_t>(s.file.size());
        const size_t records = 62 + 14;
        const bool e2a = row.id == kFormatE2a;
        struct Case {
            size_t at;
            int width;
            uint32_t value;
        };
        std::vector<Case> cases = {
            {42, 4, 0xFFFFFFFF},                  // source count
            {42, 4, (size - s.u32(38)) / 2 + 1},  // one word past the end
            {52, 4, 0xFFFFFFFF},                  // decoded count
            {52, 4, 0},                           // fewer than the records play
            {52, 4, s.u32(52) + 1},
            {32, 4, 0xFFFFFFFF},  // frame section size
            {32, 4, 13},
            {62 + 10, 4, s.u32(32) - 13},                      // frame data longer than its section
            {62 + 6, 4, 0},                                    // first frame inside the header
            {62, 4, 0},                                        // no "MFRM"
            {s.u32(32) + 62 - (e2a ? 2 : 1), e2a ? 2 : 1, 1},  // the end mark gone
        };
        if (!e2a) {
            cases.push_back({records, 1, 9});               // unknown record
            cases.push_back({records + 1, 4, 0});           // voice of no samples
            cases.push_back({records + 1, 4, 0xFFFFFFFF});  // n above 2 k
            cases.push_back({records + 5, 4, 0});           // voice of no bytes
            cases.push_back({records + 5, 4, 0xFFFFFFFF});  // k past the section
            cases.push_back({records + 5, 4, size});
        } else {
            cases.push_back({records, 1, 0xFF});  // a long block of 64 sub-blocks: past the end
        }
        for (const Case& c : cases) {
            std::vector<uint8_t> bytes = s.file;
            if (c.width == 4)
                StoreU32(&bytes[c.at], c.value);
            else if (c.width == 2)
                StoreU16(&bytes[c.at], static_cast<uint16_t>(c.value));
            else
                bytes[c.at] = static_cast<uint8_t>(c.value);
            EXPECT_FALSE(Accepts(row, bytes)) << "field at " << c.at << " = " << c.value;
        }
        // Another class's code is not this class's file.
        std::vector<uint8_t> other = s.file;
        std::memcpy(other.data(), e2a ? "WEAM" : "WE2A", 4);
        EXPECT_FALSE(Accepts(row, other));
    }
}

}  // namespace
}  // namespace cz
