// The MDM variants (MD6, EMM, SMM) and the Q420 MPM file: the frame section
// of each decodes to its decoded section by the records' own rules (the Q420
// stream by the chip resource decoder), events travel as markers, the
// source comes back on opening, and malformed files are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codecs/rbf/RbfCoding.h"
#include "formats/mdm/C_EmmFile.h"
#include "formats/mdm/C_Mdm6BitFile.h"
#include "formats/mdm/C_MdmFile.h"
#include "formats/mdm/C_Q420MpmFile.h"
#include "formats/mdm/C_SmmFile.h"
#include "formats/mdm/MdmTestDecoder.h"
#include "formats/mdm/MdmVariantRecords.h"
#include "formats/mpm/MpmLayout.h"
#include "formats/registry/C_WavFileFormat.h"
#include "foundation/ByteReader.h"
#include "foundation/InputStream.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

struct Marker {
    uint32_t position;
    uint8_t identifier;
    uint8_t type;
    bool operator==(const Marker&) const = default;
};

struct Played {
    std::vector<uint16_t> samples;
    std::vector<Marker> markers;
    bool ended = false;
};

struct Sections {
    std::vector<uint8_t> file;
    uint32_t u32(size_t at) const { return LoadU32(&file[at]); }
    std::span<const uint8_t> frames() const { return {&file[u32(28) + 14], u32(32) - 14}; }
    std::vector<uint16_t> words(uint32_t offset, uint32_t count) const {
        std::vector<uint16_t> w(count);
        for (uint32_t i = 0; i < count; ++i) w[i] = LoadU16(&file[offset + 2ull * i]);
        return w;
    }
    std::vector<uint16_t> decoded() const { return words(u32(48), u32(52)); }
    std::vector<uint16_t> source() const { return words(u32(38), u32(42)); }
};

class VectorSink final : public RbfSampleSink {
public:
    bool Put(uint16_t value, uint32_t count) override {
        samples.insert(samples.end(), count, value);
        return true;
    }
    std::vector<uint16_t> samples;
};

Played PlayQ42m(std::span<const uint8_t> words, uint16_t rate) {
    std::vector<uint8_t> resource = {'Q', '4', '2', 'M', static_cast<uint8_t>(rate), static_cast<uint8_t>(rate >> 8)};
    resource.insert(resource.end(), words.begin(), words.end());
    auto decoder = OpenRbfDecoder(resource);
    EXPECT_TRUE(decoder);
    if (!decoder) return {};
    VectorSink sink;
    const RbfDecodeResult r = decoder->Decode(std::span(resource).subspan(kRbfHeaderSize), sink);
    EXPECT_TRUE(r.ok());
    Played p{sink.samples, {}, r.endMark};
    for (const RbfMarker& m : r.markers) p.markers.push_back({m.position, m.identifier, m.type});
    return p;
}

// One row per class: how it is made and how its frame section plays.
struct Variant {
    const char* name;
    const char* code;
    uint32_t formatId;
    std::function<std::unique_ptr<C_WavFile>()> make;
    std::function<Played(std::span<const uint8_t>)> play;
};

Played PlayRecords(MdmVariant variant, std::span<const uint8_t> frames) {
    const MdmRecordsDecoded d = DecodeMdmVariantRecords(variant, frames);
    EXPECT_FALSE(d.truncated);
    Played p{d.samples, {}, d.ended};
    for (const MdmRecordMarker& m : d.markers) p.markers.push_back({m.position, m.identifier, m.type});
    return p;
}

Played PlayMdm(std::span<const uint8_t> frames) {
    const test::MdmDecoded d = test::DecodeMdmFrames(frames.data(), frames.size());
    EXPECT_FALSE(d.truncated);
    Played p{d.samples, {}, d.ended};
    // That decoder places a frame's marker after the frame's first sample;
    // the chip's count is of the samples before the record.
    for (const test::MdmMarker& m : d.markers)
        p.markers.push_back({m.position - ((m.code & 7) <= 3 ? 1u : 0u), m.identifier, m.type});
    return p;
}

const std::vector<Variant>& Variants() {
    static const std::vector<Variant> rows = {
        {"MD6", "WMD6", kFormatMdm6Bit, [] { return std::make_unique<C_Mdm6BitFile>(); },
         [](std::span<const uint8_t> f) { return PlayRecords(MdmVariant::kSixBit, f); }},
        {"EMM", "WEMM", kFormatEmm, [] { return std::make_unique<C_EmmFile>(); }, PlayMdm},
        {"SMM", "WSMM", kFormatSmm, [] { return std::make_unique<C_SmmFile>(); },
         [](std::span<const uint8_t> f) { return PlayRecords(MdmVariant::kCompact, f); }},
        {"Q42M", "Q42M", kFormatQ420Mpm, [] { return std::make_unique<C_Q420MpmFile>(); },
         [](std::span<const uint8_t> f) { return PlayQ42m(f, 16000); }},
    };
    return rows;
}

std::unique_ptr<C_WavData> ChipSound(const std::vector<uint16_t>& words, uint32_t rate = 16000) {
    auto sound = test::ChipSoundOf(words, rate);
    sound->GetActionEventMgr()->SetSampleRate(rate);
    return sound;
}

Sections Save(const Variant& v, C_WavData& sound, const std::string& path) {
    std::unique_ptr<C_WavFile> writer = v.make();
    EXPECT_EQ(test::SaveWith(*writer, sound, path), 1);
    return {test::ReadFileBytes(path)};
}

// Voice, a silence of odd length longer than one record of every format,
// voice again; events inside voice, a few samples apart, in the silence.
std::unique_ptr<C_WavData> MixedSound(std::vector<uint16_t>& words) {
    words = test::TwoPartialVoice12(4001);
    words.resize(4001 + 70001, 2048);
    const std::vector<uint16_t> tail = test::TwoPartialVoice12(1001, 240);
    words.insert(words.end(), tail.begin(), tail.end());
    auto sound = ChipSound(words);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(4001, 4001 + 70000));
    C_ActionEventMgr* ev = sound->GetActionEventMgr();
    ev->AddEventAtSample(2, 1000, "a", 100);
    ev->AddEventAtSample(3, 1011, "b", 7);  // 11 samples later: a short chunk
    ev->AddEventAtSample(4, 20001, "c", 200);
    ev->AddEventAtSample(5, 20001, "d", 1);  // same sample
    ev->AddEventAtSample(6, 2500, "e", 3);   // two on one voice sample: the
    ev->AddEventAtSample(7, 2500, "f", 4);   // first rides on an empty record
    return sound;
}

TEST(MdmVariantFiles, FramesPlayTheDecodedSectionWithEventsAsMarkers) {
    for (const Variant& v : Variants()) {
        SCOPED_TRACE(v.name);
        test::TempDir dir;
        std::vector<uint16_t> words;
        auto sound = MixedSound(words);
        const Sections s = Save(v, *sound, dir.File("a.bin"));
        ASSERT_GT(s.file.size(), 76u);
        EXPECT_EQ(std::memcmp(s.file.data(), v.code, 4), 0);
        EXPECT_EQ(s.source(), words);

        const Played p = v.play(s.frames());
        EXPECT_TRUE(p.ended);
        const std::vector<uint16_t> decoded = s.decoded();
        EXPECT_EQ(p.samples, decoded);
        // Padding adds at most a frame per chunk.
        ASSERT_GE(decoded.size(), words.size());
        EXPECT_LE(decoded.size(), words.size() + 4 * 65);
        EXPECT_GT(test::SnrDb(std::vector<uint16_t>(words.begin(), words.begin() + 1000), decoded, 1000), 20.0);

        // Identifier = event type, type = parameter, in the order of the
        // sound's event list (by sample; the list orders events at one sample).
        std::vector<Marker> expected;
        for (const C_ActionEvent* e : sound->GetActionEventMgr()->Events())
            expected.push_back({0, static_cast<uint8_t>(e->GetType()), static_cast<uint8_t>(e->GetParam())});
        ASSERT_EQ(p.markers.size(), 6u);
        for (size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(p.markers[i].identifier, expected[i].identifier) << i;
            EXPECT_EQ(p.markers[i].type, expected[i].type) << i;
        }
        EXPECT_EQ(expected[0].identifier, 2);
        EXPECT_EQ(expected[5].identifier == 5 || expected[5].identifier == 4, true);
        EXPECT_GE(p.markers[0].position, 1000u);
        EXPECT_LE(p.markers[0].position, 1000u + 17);
        EXPECT_LE(p.markers[1].position - p.markers[0].position, 12u);
        EXPECT_EQ(p.markers[2].position, p.markers[3].position);
        EXPECT_EQ(p.markers[4].position, p.markers[5].position);

        // Opening gives the source samples, the events and the silence back.
        C_WavFileFormat factory;
        RefPtr<C_WavFile> file = factory.Open(dir.File("a.bin").c_str());
        ASSERT_TRUE(file);
        EXPECT_EQ(file->GetFormatId(), v.formatId);
        C_WavData* opened = file->Sound();
        ASSERT_NE(opened, nullptr);
        std::vector<uint16_t> back(opened->GetWavInfo()->GetDataSize() / 2);
        std::memcpy(back.data(), opened->GetSampleBuffer(), back.size() * 2);
        EXPECT_EQ(back, words);
        EXPECT_EQ(opened->GetActionEventMgr()->Events().GetCount(), 6);
        EXPECT_EQ(opened->SilenceSegments().GetCount(), 1u);
    }
}

TEST(MdmVariantFiles, OddLengthsAndSilenceOnly) {
    // Lengths around the frame sizes, a sound that is all silence, a single
    // sample.
    for (const Variant& v : Variants()) {
        for (uint32_t n : {1u, 2u, 15u, 16u, 17u, 63u, 64u, 65u, 66u, 129u, 3001u}) {
            SCOPED_TRACE(std::string(v.name) + " " + std::to_string(n));
            test::TempDir dir;
            const std::vector<uint16_t> words = test::GlidingVoice12(n);
            auto sound = ChipSound(words);
            if (n == 129)  // silence from the first sample to the last
                sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(0, n - 1));
            else if (n > 20)
                sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(3, 3 + n / 3));
            const Sections s = Save(v, *sound, dir.File("a.bin"));
            ASSERT_GT(s.file.size(), 76u);
            const Played p = v.play(s.frames());
            EXPECT_TRUE(p.ended);
            EXPECT_EQ(p.samples, s.decoded());
            EXPECT_GE(s.decoded().size(), n);
        }
    }
}

TEST(MdmVariantFiles, RecordSizes) {
    // A 65-sample voice: MD6 writes one long frame record of 50 bytes, SMM a
    // long record of 41 bytes and a short record holding the last sample
    // (raw, since one sample is below a short frame).
    test::TempDir dir;
    const std::vector<uint16_t> words = test::TwoPartialVoice12(65);
    auto sound = ChipSound(words);
    C_Mdm6BitFile md6;
    ASSERT_EQ(test::SaveWith(md6, *sound, dir.File("a.md6")), 1);
    Sections s{test::ReadFileBytes(dir.File("a.md6"))};
    ASSERT_EQ(s.frames().size(), 50u + 1);
    EXPECT_EQ(s.frames()[0] & 7, 0);
    EXPECT_EQ(s.frames()[50], 0xFF);

    sound = ChipSound(std::vector<uint16_t>(words.begin(), words.begin() + 64));
    C_SmmFile smm;
    ASSERT_EQ(test::SaveWith(smm, *sound, dir.File("a.smm")), 1);
    s = {test::ReadFileBytes(dir.File("a.smm"))};
    ASSERT_EQ(s.frames().size(), 41u + 1);
    EXPECT_EQ(s.frames()[0] & 0x87, 0);
    EXPECT_EQ(s.frames()[41], 0xFF);

    // Six-bit groups: four differences in three bytes, bit 5 the sign.
    const int d[4] = {-31, 31, 0, -1};
    uint8_t packed[3];
    PackSixBitGroup(d, packed);
    const uint32_t bits = packed[0] | packed[1] << 8 | packed[2] << 16;
    EXPECT_EQ(bits & 63, 0x3Fu);
    EXPECT_EQ((bits >> 6) & 63, 0x1Fu);
    EXPECT_EQ((bits >> 12) & 63, 0u);
    EXPECT_EQ((bits >> 18) & 63, 0x21u);
}

TEST(MdmVariantFiles, Q42mStreamWords) {
    // A 5-sample sound with an event at sample 2 and type 3: the marker
    // command carries the parameter and the code of identifier 3 (2); the
    // odd end is played as a pair.
    test::TempDir dir;
    auto sound = ChipSound({2048, 2100, 2200, 2300, 2400});
    sound->GetActionEventMgr()->AddEventAtSample(3, 2, "", 9);
    C_Q420MpmFile q;
    ASSERT_EQ(test::SaveWith(q, *sound, dir.File("a.42m")), 1);
    const Sections s{test::ReadFileBytes(dir.File("a.42m"))};
    const auto f = s.frames();
    ASSERT_EQ(f.size() % 2, 0u);
    std::vector<uint16_t> w(f.size() / 2);
    for (size_t i = 0; i < w.size(); ++i) w[i] = LoadU16(&f[2 * i]);
    ASSERT_GE(w.size(), 8u);
    EXPECT_EQ(w.back(), 0x0208);
    EXPECT_EQ(w[0] & 0xFFF0, 0x0210);  // the first frame's scale
    const auto marker = std::find(w.begin(), w.end(), 0x0202);
    ASSERT_NE(marker, w.end());
    ASSERT_LT(marker + 2, w.end());
    EXPECT_EQ(marker[1], 9);
    EXPECT_EQ(marker[2], 2);
    EXPECT_EQ(s.decoded().size(), 6u);
    const Played p = PlayQ42m(f, 16000);
    EXPECT_EQ(p.samples, s.decoded());
    ASSERT_EQ(p.markers.size(), 1u);
    EXPECT_EQ(p.markers[0], (Marker{2, 3, 9}));
    // Identifiers and codes of the marker table both ways.
    for (uint8_t id = 0; id < 16; ++id)
        EXPECT_EQ(C_MdpcmCodecFreeFrameSize::MarkerIdentifier(C_MdpcmCodecFreeFrameSize::MarkerCode(id)), id);
}

TEST(MdmVariantFiles, FactoryTellsEachFromItsRelatives) {
    test::TempDir dir;
    C_WavFileFormat factory;
    auto sound = ChipSound(test::TwoPartialVoice12(700));
    for (const Variant& v : Variants()) {
        SCOPED_TRACE(v.name);
        ASSERT_EQ(sound->SaveAs(v.formatId, dir.File(std::string("a.") + v.name).c_str()), 1);
        EXPECT_EQ(factory.GetFileFormat(dir.File(std::string("a.") + v.name).c_str()), v.formatId);
    }
    // A chip resource in the "Q42M" coding shares the magic with the Q420 MPM
    // file but not its header: the resource class opens it.
    const std::string rbf = dir.File("a.rbf");
    ASSERT_TRUE(test::WriteFileBytes(rbf, {'Q', '4', '2', 'M', 0x40, 0x1F, 0x12, 0x02, 0x21, 0x00, 0x08, 0x02}));
    RefPtr<C_WavFile> file = factory.Open(rbf.c_str());
    ASSERT_TRUE(file);
    EXPECT_STREQ(factory.LastClassName(), "C_RBFFile");
    // An MDM file whose code is changed to a variant's is not that variant's
    // (the records differ), and the MDM resource code opens none of them.
    std::vector<uint8_t> mdm;
    ASSERT_EQ(sound->SaveAs(kFormatMdm, dir.File("a.mdm").c_str()), 1);
    mdm = test::ReadFileBytes(dir.File("a.mdm"));
    std::memcpy(mdm.data(), "WMdM", 4);
    for (const Variant& v : Variants()) {
        std::unique_ptr<C_WavFile> f = v.make();
        EXPECT_FALSE(f->LoadFromStream(InputStream::FromMemory(mdm), 0)) << v.name;
    }
}

TEST(MdmVariantFiles, MalformedFilesAreRefused) {
    for (const Variant& v : Variants()) {
        SCOPED_TRACE(v.name);
        test::TempDir dir;
        auto sound = ChipSound(test::TwoPartialVoice12(300));
        sound->GetActionEventMgr()->AddEventAtSample(1, 10, "", 1);
        sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(100, 149));
        const Sections s = Save(v, *sound, dir.File("a.bin"));
        auto accepts = [&](const std::vector<uint8_t>& bytes) {
            std::unique_ptr<C_WavFile> f = v.make();
            if (!f->LoadFromStream(InputStream::FromMemory(bytes), 0)) return false;
            return f->Sound() != nullptr;
        };
        ASSERT_TRUE(accepts(s.file));
        for (size_t n = 0; n < s.file.size(); ++n) {
            std::vector<uint8_t> cut(s.file.begin(), s.file.begin() + static_cast<long>(n));
            ASSERT_FALSE(accepts(cut)) << "cut at " << n;
        }
        const uint32_t size = static_cast<uint32_t>(s.file.size());
        const uint32_t mcmd = s.u32(20), wsil = s.u32(16);
        struct Case {
            size_t at;
            uint32_t value;
            bool accepted;
        };
        const Case cases[] = {
            {42, 0, true},                            // no source samples
            {42, 0xFFFFFFFF, false},                  // source count
            {42, (size - s.u32(38)) / 2 + 1, false},  // one word past the end
            {52, 0xFFFFFFFF, false},                  // decoded count
            {52, (size - s.u32(48)) / 2 + 1, false},
            {32, 0xFFFFFFFF, false},  // frame section size
            {32, size, false},
            {24, 0xFFFFFFFF, false},  // "MCMD" size
            {mcmd + 10, 0, true},     // "MCMD" entry count
            {mcmd + 10, 0xFFFFFFFF, false},
            {mcmd + 10, 2, false},  // just past the end of its block
            {wsil + 12, 0, true},   // "WSIL" entry count
            {wsil + 12, 0xFFFFFFFF, false},
            {wsil + 12, 2, false},
            {16, 0xFFFFFFFF, false},  // "WSIL" offset
            {20, size, false},        // "MCMD" offset
        };
        for (const Case& c : cases) {
            std::vector<uint8_t> bytes = s.file;
            StoreU32(&bytes[c.at], c.value);
            EXPECT_EQ(accepts(bytes), c.accepted) << "field at " << c.at << " = " << c.value;
        }
    }
}

TEST(MdmVariantRecords, DamagedRecordsStopInsideTheBytes) {
    // A record cut anywhere stops the decoding before it; nothing is read
    // past the span (the sanitizer build watches), counts stay bounded.
    test::TempDir dir;
    for (MdmVariant variant : {MdmVariant::kSixBit, MdmVariant::kCompact}) {
        std::unique_ptr<C_WavFile> writer;
        if (variant == MdmVariant::kSixBit)
            writer = std::make_unique<C_Mdm6BitFile>();
        else
            writer = std::make_unique<C_SmmFile>();
        auto sound = ChipSound(test::TwoPartialVoice12(500));
        sound->GetActionEventMgr()->AddEventAtSample(1, 100, "", 2);
        sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(200, 299));
        ASSERT_EQ(test::SaveWith(*writer, *sound, dir.File("a.bin")), 1);
        const Sections s{test::ReadFileBytes(dir.File("a.bin"))};
        const std::vector<uint8_t> frames(s.frames().begin(), s.frames().end());
        const MdmRecordsDecoded whole = DecodeMdmVariantRecords(variant, frames);
        ASSERT_TRUE(whole.ended);
        for (size_t n = 0; n + 1 < frames.size(); ++n) {
            const std::vector<uint8_t> cut(frames.begin(), frames.begin() + static_cast<long>(n));
            const MdmRecordsDecoded d = DecodeMdmVariantRecords(variant, cut);
            EXPECT_FALSE(d.ended);
            ASSERT_LE(d.samples.size(), whole.samples.size());
            EXPECT_TRUE(std::equal(d.samples.begin(), d.samples.end(), whole.samples.begin())) << n;
        }
    }
}

}  // namespace
}  // namespace cz
