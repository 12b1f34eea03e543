// APM files: the header and sections against the layout for a sound made by
// sox, the decoded section (one sample per code), the three coders, the
// coder id that keeps classic and "new" files apart, silence detection and
// metadata round trips, mono mixdown, and malformed headers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/registry/C_WavFileFormat.h"
#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/adpcm/C_ADPCMEncDec6Bit.h"
#include "codecs/adpcm/C_NewADPCMEncDec.h"
#include "foundation/ByteReader.h"
#include "foundation/InputStream.h"
#include "formats/apm/C_Apm6BitFile.h"
#include "formats/apm/C_ApmFile.h"
#include "formats/apm/C_NewApmFile.h"
#include "support/HeaderFields.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

using test::SaveWith;
using test::Sound16;

struct Section {
    uint16_t bits;
    uint32_t offset, count;
};
Section SectionAt(const std::vector<uint8_t>& f, size_t at) {
    return {LoadU16(&f[at]), LoadU32(&f[at + 2]), LoadU32(&f[at + 6])};
}

std::vector<uint16_t> Words(const std::vector<uint8_t>& f, uint32_t offset, uint32_t count) {
    std::vector<uint16_t> w(count);
    for (uint32_t i = 0; i < count; ++i) w[i] = LoadU16(&f[offset + 2ull * i]);
    return w;
}

// Opens bytes through the class: header and samples (flag as given).
int32_t OpenBytes(C_WavFile& file, const std::vector<uint8_t>& bytes, uint32_t flag = 1) {
    return file.LoadFromStream(InputStream::FromMemory(bytes), flag);
}

class ApmSox : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveTool("sox")) GTEST_SKIP() << "sox not installed";
        wav_ = dir_.File("x.wav");
        ASSERT_EQ(test::RunCommand("sox -n -r 16000 -b 16 " + wav_ + " synth 0.5 sine 440"), 0);
        ASSERT_EQ(source_.Load(wav_.c_str(), 1), 1);
    }
    test::TempDir dir_;
    std::string wav_;
    C_WavFile source_;
};

TEST_F(ApmSox, HeaderAndSectionsFollowTheLayout) {
    C_WavData* sound = source_.Sound();
    const uint32_t m = sound->SampleCount();
    ASSERT_EQ(m, 8000u);
    C_ApmFile writer;
    ASSERT_EQ(SaveWith(writer, *sound, dir_.File("x.apm")), 1);
    auto f = test::ReadFileBytes(dir_.File("x.apm"));
    ASSERT_GE(f.size(), 76u);
    EXPECT_EQ(0, std::memcmp(f.data(), "WAPM", 4));
    test::ExpectFields(f, {
                              {4, 2, 0x110},
                              {6, 2, 76},
                              {8, 2, 1},
                              {10, 1, 4},
                              {11, 1, 0},
                              {12, 2, 16000},
                              {14, 2, 6800},
                              {16, 4, f.size()},
                              {20, 2, 0},  // classic coder
                              {22, 2, 0x800},
                          });
    Section codes = SectionAt(f, 24), decoded = SectionAt(f, 34), trace = SectionAt(f, 44), src = SectionAt(f, 54);
    const uint32_t n = codes.count;
    const uint32_t k = n / 2;
    EXPECT_EQ(n % 4, 0u);
    EXPECT_GE(n, m);
    EXPECT_EQ(codes.bits, 4);
    EXPECT_EQ(codes.offset, 76u);
    EXPECT_EQ(decoded.bits, 12);
    EXPECT_EQ(decoded.offset, 76 + k);
    EXPECT_EQ(decoded.count, n);
    EXPECT_EQ(trace.bits, 6);
    EXPECT_EQ(trace.offset, 76 + k + 2 * n);
    EXPECT_EQ(trace.count, n);
    EXPECT_EQ(src.bits, 12);
    EXPECT_EQ(src.offset, 76 + k + 3 * n);
    EXPECT_EQ(src.count, m);
    // A steady sine holds no 64 ms of quiet: no metadata, the file ends with
    // the source samples.
    EXPECT_EQ(f.size(), src.offset + 2ull * m);
    test::ExpectFields(f, {
                              {64, 2, 0},
                              {66, 4, src.offset + 2 * m},
                              {70, 2, 1},
                              {72, 2, 64},
                              {74, 2, 3},
                          });

    // Source words: the 16-bit samples shifted to 12 bits, offset-binary.
    auto srcWords = Words(f, src.offset, m);
    for (uint32_t i = 0; i < m; ++i) {
        int expected = sound->Sample(i, 0) / 16 + 2048;
        ASSERT_LE(std::abs(static_cast<int>(srcWords[i]) - expected), 1) << i;
    }
    // Codes: what the coder makes of the source words; decoded: one word per
    // code, as a fresh decoder reads the codes; trace within the step table.
    C_ADPCMEncDec coder(12, 64);
    std::vector<uint8_t> again(coder.GetMaxEncodedSize(m, 0));
    ASSERT_EQ(coder.Encode(m, srcWords.data(), again.data(), static_cast<uint32_t>(again.size()), 0, nullptr), k);
    EXPECT_TRUE(std::equal(again.begin(), again.begin() + k, f.begin() + 76));
    std::vector<uint16_t> expectDecoded(n);
    C_ADPCMEncDec decoder(12, 64);
    ASSERT_EQ(decoder.Decode(&f[76], k, expectDecoded.data(), 2 * n, nullptr), 2 * n);
    EXPECT_EQ(Words(f, decoded.offset, n), expectDecoded);
    for (uint32_t i = 0; i < n; ++i) ASSERT_LT(f[trace.offset + i], 64) << i;
    // The reconstruction follows the source (a coarse quality floor).
    double signal = 0, noise = 0;
    for (uint32_t i = 0; i < m; ++i) {
        double s = srcWords[i] - 2048.0, e = static_cast<double>(expectDecoded[i]) - srcWords[i];
        signal += s * s;
        noise += e * e;
    }
    EXPECT_GT(10 * std::log10(signal / std::max(noise, 1.0)), 20.0);

    // Opened: the source samples by default, the decoded ones with flag 0.
    C_ApmFile reader;
    ASSERT_EQ(reader.Load(dir_.File("x.apm").c_str(), 1), 1);
    EXPECT_EQ(reader.GetFormatId(), 5u);
    ASSERT_EQ(reader.Sound()->SampleCount(), m);
    for (uint32_t i = 0; i < m; i += 97) EXPECT_EQ(reader.Sound()->Sample(i, 0) + 2048, srcWords[i]);
    C_ApmFile decodedReader;
    ASSERT_EQ(decodedReader.Load(dir_.File("x.apm").c_str(), 0), 1);
    ASSERT_EQ(decodedReader.Sound()->SampleCount(), n);
    for (uint32_t i = 0; i < n; i += 89) EXPECT_EQ(decodedReader.Sound()->Sample(i, 0) + 2048, expectDecoded[i]);
    EXPECT_NE(reader.HeaderSummary().find("codes: " + std::to_string(n)), std::string::npos);
}

TEST_F(ApmSox, LeadInModeWritesZeroInitialValueAndSixExtraCodes) {
    C_WavData* sound = source_.Sound();
    sound->GetWriteParam()->SetCodecParam(1);
    C_ApmFile writer;
    ASSERT_EQ(SaveWith(writer, *sound, dir_.File("l.apm")), 1);
    sound->GetWriteParam()->SetCodecParam(0);
    ASSERT_EQ(SaveWith(writer, *sound, dir_.File("p.apm")), 1);
    auto lead = test::ReadFileBytes(dir_.File("l.apm"));
    auto plain = test::ReadFileBytes(dir_.File("p.apm"));
    EXPECT_EQ(LoadU16(&lead[22]), 0);
    const uint32_t n = SectionAt(lead, 24).count;
    // The code stream is the coder's mode-1 stream: lead-in included.
    auto src = Words(lead, SectionAt(lead, 54).offset, SectionAt(lead, 54).count);
    C_ADPCMEncDec coder(12, 64);
    std::vector<uint8_t> codes(coder.GetMaxEncodedSize(static_cast<uint32_t>(src.size()), 1));
    uint32_t k = coder.Encode(static_cast<uint32_t>(src.size()), src.data(), codes.data(),
                              static_cast<uint32_t>(codes.size()), 1, nullptr);
    ASSERT_EQ(k, n / 2);
    EXPECT_TRUE(std::equal(codes.begin(), codes.begin() + k, lead.begin() + 76));
    // The first six codes are the lead-in, the same for any signal.
    std::vector<uint16_t> quiet(64, 2048);
    C_ADPCMEncDec other(12, 64);
    std::vector<uint8_t> quietCodes(other.GetMaxEncodedSize(64, 1));
    ASSERT_GT(other.Encode(64, quiet.data(), quietCodes.data(), static_cast<uint32_t>(quietCodes.size()), 1, nullptr),
              3u);
    EXPECT_TRUE(std::equal(quietCodes.begin(), quietCodes.begin() + 3, lead.begin() + 76));
    EXPECT_EQ(SectionAt(lead, 24).count, SectionAt(lead, 34).count);
    EXPECT_EQ(LoadU16(&plain[22]), 0x800);
}

// Every coder: the decoded section has one word per code, and reading the
// file back through the factory picks the class that wrote it.
TEST(ApmFile, EachCoderDecodesOneSamplePerCodeAndReopensWithItsClass) {
    test::TempDir dir;
    auto sound = Sound16(test::Tone(3001, 8000, 300, 12000), 1, 8000);
    struct Case {
        const char* name;
        std::unique_ptr<C_ApmFile> writer;
        std::unique_ptr<C_ADPCMEncDec> decoder;
        uint32_t id;
        const char* cls;
        uint8_t width;
    };
    Case cases[] = {
        {"classic", std::make_unique<C_ApmFile>(), std::make_unique<C_ADPCMEncDec>(12, 64), 5, "C_ApmFile", 4},
        {"six", std::make_unique<C_Apm6BitFile>(), std::make_unique<C_ADPCMEncDec6Bit>(), 14, "C_Apm6BitFile", 6},
        {"new", std::make_unique<C_NewApmFile>(), std::make_unique<C_NewADPCMEncDec>(), 5, "C_NewApmFile", 4},
    };
    C_WavFileFormat factory;
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(std::string(c.name) + ".apm");
        ASSERT_EQ(SaveWith(*c.writer, *sound, path), 1);
        auto f = test::ReadFileBytes(path);
        EXPECT_EQ(f[10], c.width);
        EXPECT_EQ(SectionAt(f, 24).bits, c.width);
        const uint32_t n = SectionAt(f, 24).count;
        const uint32_t k = c.width == 6 ? n : n / 2;
        EXPECT_EQ(SectionAt(f, 34).offset, 76 + k);
        EXPECT_EQ(SectionAt(f, 34).count, n);
        std::vector<uint16_t> expect(n + 16);
        ASSERT_EQ(c.decoder->Decode(&f[76], k, expect.data(), static_cast<uint32_t>(2 * expect.size()), nullptr),
                  2 * n);
        expect.resize(n);
        EXPECT_EQ(Words(f, SectionAt(f, 34).offset, n), expect);
        EXPECT_EQ(factory.GetFileFormat(path.c_str()), c.id);
        I_WavFile* opened = factory.OpenWavFile(path.c_str(), 1, 0);
        ASSERT_NE(opened, nullptr);
        EXPECT_STREQ(factory.LastClassName(), c.cls);
        EXPECT_EQ(opened->GetWavInfo()->GetSampleCount(), n);
        // Opened with decoding asked for, the file is decoded by the decoder
        // its offset 20 names: 0 the classic one, 1 the search coder's.
        C_WavData* decoded = static_cast<C_WavFile*>(opened)->Sound();
        ASSERT_NE(decoded, nullptr);
        for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(decoded->Sample(i, 0) + 2048, expect[i]) << i;
        opened->Release();
    }
    EXPECT_EQ(0, std::memcmp(test::ReadFileBytes(dir.File("six.apm")).data(), "WAP6", 4));
    auto fresh = test::ReadFileBytes(dir.File("new.apm"));
    auto classic = test::ReadFileBytes(dir.File("classic.apm"));
    EXPECT_EQ(0, std::memcmp(fresh.data(), "WAPM", 4));
    EXPECT_EQ(LoadU16(&fresh[20]), 1);
    // Each class refuses the other's files; "WNAP" opens as a new file.
    C_ApmFile classicReader;
    C_NewApmFile newReader;
    EXPECT_EQ(OpenBytes(classicReader, fresh), 0);
    EXPECT_EQ(OpenBytes(newReader, classic), 0);
    std::memcpy(fresh.data(), "WNAP", 4);
    EXPECT_EQ(OpenBytes(newReader, fresh), 1);
    // The sound's save by id 5 writes the classic file.
    ASSERT_EQ(sound->SaveAs(5, dir.File("by_id.apm").c_str()), 1);
    EXPECT_EQ(test::ReadFileBytes(dir.File("by_id.apm")), classic);
}

TEST(ApmFile, StereoIsMixedToMonoOnACopy) {
    test::TempDir dir;
    // Left: a sine; right: the same sine at a third of the amplitude and
    // inverted. The mix is the sine at a third.
    const uint32_t frames = 2000;
    auto left = test::Tone(frames, 8000, 250, 12000);
    std::vector<int16_t> inter(2 * frames);
    for (uint32_t i = 0; i < frames; ++i) {
        inter[2 * i] = left[i];
        inter[2 * i + 1] = static_cast<int16_t>(-left[i] / 3);
    }
    auto stereo = Sound16(inter, 2, 8000);
    C_ApmFile writer;
    ASSERT_EQ(SaveWith(writer, *stereo, dir.File("s.apm")), 1);
    EXPECT_EQ(stereo->GetWavInfo()->GetChannels(), 2);
    EXPECT_EQ(stereo->SampleCount(), frames);
    EXPECT_EQ(stereo->Sample(10, 1), -left[10] / 3);
    auto f = test::ReadFileBytes(dir.File("s.apm"));
    Section src = SectionAt(f, 54);
    ASSERT_EQ(src.count, frames);
    auto words = Words(f, src.offset, frames);
    for (uint32_t i = 0; i < frames; ++i) {
        int mix = (left[i] + static_cast<int16_t>(-left[i] / 3)) / 2;
        ASSERT_LE(std::abs(static_cast<int>(words[i]) - (mix / 16 + 2048)), 1) << i;
    }
}

// Sine, a quiet gap, sine.
std::unique_ptr<C_WavData> GapSound(uint32_t rate, uint32_t gapMs) {
    auto a = test::Tone(rate / 10, rate, 400, 10000);
    std::vector<int16_t> v = a;
    v.insert(v.end(), static_cast<size_t>(rate) * gapMs / 1000, 0);
    v.insert(v.end(), a.begin(), a.end());
    return Sound16(v, 1, rate);
}

std::vector<std::pair<uint32_t, uint32_t>> Spans(C_SilenceSegmentList& list) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const C_SilenceSegment* s : list) out.emplace_back(s->GetStart(), s->GetEnd());
    return out;
}

TEST(ApmFile, SaveTimeSilenceLengthIsInMilliseconds) {
    test::TempDir dir;
    const uint32_t rate = 8000;
    struct Case {
        uint32_t gapMs;
        bool range;
        uint32_t lengthMs, level;
        bool expectSegment;
        uint16_t headerLevel, headerMs;
    };
    const Case cases[] = {
        {100, false, 0, 0, true, 1, 64},    // default 64 ms finds a 100 ms gap
        {50, false, 0, 0, false, 1, 64},    // but not a 50 ms one
        {50, true, 40, 1, true, 1, 40},     // 40 ms does
        {100, true, 300, 1, true, 1, 300},  // 300 ms misses it; the 64 ms pass adds it
        {100, true, 64, 0, true, 0, 64},    // level 0 triggers the default pass too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.gapMs << " ms gap, length " << c.lengthMs);
        auto sound = GapSound(rate, c.gapMs);
        if (c.range) sound->GetWriteParam()->SetRange(c.lengthMs, c.level);
        C_ApmFile writer;
        ASSERT_EQ(SaveWith(writer, *sound, dir.File("g.apm")), 1);
        auto f = test::ReadFileBytes(dir.File("g.apm"));
        EXPECT_EQ(LoadU16(&f[64]), c.expectSegment ? 1 : 0);
        EXPECT_EQ(LoadU16(&f[70]), c.headerLevel);
        EXPECT_EQ(LoadU16(&f[72]), c.headerMs);
        auto spans = Spans(sound->SilenceSegments());
        if (!c.expectSegment) {
            EXPECT_TRUE(spans.empty());
            continue;
        }
        // One segment around the gap (the sine's own zero crossings are short).
        ASSERT_EQ(spans.size(), 1u);
        const uint32_t gapStart = rate / 10, gapEnd = gapStart + rate * c.gapMs / 1000 - 1;
        EXPECT_LE(spans[0].first, gapStart);
        EXPECT_GE(spans[0].second, gapEnd);
        EXPECT_LT(spans[0].second - spans[0].first, gapEnd - gapStart + 8);
        // The segment is in the file.
        C_ApmFile reader;
        ASSERT_EQ(reader.Load(dir.File("g.apm").c_str(), 1), 1);
        EXPECT_EQ(Spans(reader.Sound()->SilenceSegments()), spans);
    }
}

TEST(ApmFile, MetadataRoundTripAndLayout) {
    test::TempDir dir;
    auto sound = GapSound(8000, 100);
    // An existing segment elsewhere is kept and merged with what the default
    // pass finds in the gap.
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(100, 119));
    C_ActionEventMgr* events = sound->GetActionEventMgr();
    events->SetSampleRate(8000);
    events->AddEventAtSample(2, 50, nullptr, 7);
    events->AddEventAtSample(300, 1200, nullptr, 65535);
    C_ApmFile writer;
    ASSERT_EQ(SaveWith(writer, *sound, dir.File("m.apm")), 1);
    auto spans = Spans(sound->SilenceSegments());
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0], std::make_pair(100u, 119u));
    EXPECT_LE(spans[1].first, 800u);

    auto f = test::ReadFileBytes(dir.File("m.apm"));
    ASSERT_EQ(LoadU16(&f[64]), 1);
    const uint32_t p = LoadU32(&f[66]);
    EXPECT_EQ(p, SectionAt(f, 54).offset + 2 * SectionAt(f, 54).count);
    EXPECT_EQ(0, std::memcmp(&f[p], "WCMD", 4));
    EXPECT_EQ(0, std::memcmp(&f[p + 24], "WSIL", 4));
    // From the "WCMD" block on.
    test::ExpectFields(f,
                       {
                           {4, 2, 0x100},
                           {6, 2, 24},
                           {8, 4, 0x816},
                           {12, 4, p + 24},
                           {16, 2, 1},
                           {18, 4, p + 40 + 8 * 2},
                           {22, 2, 1},
                           {28, 2, 16},  // "WSIL"
                           {30, 2, 8},
                           {32, 4, p + 40},
                           {36, 4, 2},
                           {40, 4, 100},
                           {44, 4, 119},
                       },
                       p);
    const uint32_t e = p + 56;
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(f[e + i], 0);
    test::ExpectFields(f,
                       {
                           {16, 2, 28},
                           {18, 2, 8},
                           {20, 4, e + 28},
                           {24, 4, 2},
                           {28, 4, 50},
                           {32, 2, 2},
                           {34, 2, 7},
                           {36, 4, 1200},
                           {40, 2, 300},
                           {42, 2, 65535},
                       },
                       e);
    EXPECT_EQ(f.size(), e + 44ull);
    EXPECT_EQ(LoadU32(&f[16]), f.size());

    for (uint32_t flag : {0u, 1u}) {
        C_ApmFile reader;
        ASSERT_EQ(reader.Load(dir.File("m.apm").c_str(), flag), 1);
        EXPECT_EQ(Spans(reader.Sound()->SilenceSegments()), spans);
        const auto& loaded = reader.Sound()->GetActionEventMgr()->Events();
        ASSERT_EQ(loaded.GetCount(), 2);
        EXPECT_EQ(loaded.ItemAt(0)->GetSamplePos(), 50u);
        EXPECT_EQ(loaded.ItemAt(0)->GetType(), 2u);
        EXPECT_EQ(loaded.ItemAt(0)->GetParam(), 7u);
        EXPECT_EQ(loaded.ItemAt(1)->GetSamplePos(), 1200u);
        EXPECT_EQ(loaded.ItemAt(1)->GetParam(), 65535u);
    }
}

TEST(ApmFile, SoundsThatCannotBeCodedCreateNoFile) {
    test::TempDir dir;
    C_ApmFile writer;
    EXPECT_EQ(writer.Save(dir.File("none.apm").c_str()), 0);
    C_WavData empty;
    EXPECT_EQ(SaveWith(writer, empty, dir.File("empty.apm")), 0);
    auto fast = Sound16(test::Tone(500, 96000, 1000, 5000), 1, 96000);
    EXPECT_EQ(SaveWith(writer, *fast, dir.File("fast.apm")), 0);
    EXPECT_FALSE(test::FileExists(dir.File("empty.apm")));
    EXPECT_FALSE(test::FileExists(dir.File("fast.apm")));
    auto ok = Sound16(test::Tone(100, 8000, 1000, 5000), 1, 8000);
    EXPECT_EQ(SaveWith(writer, *ok, dir.File("no/such/dir/x.apm")), 0);
}

// A small valid file with silence and events, for the malformed cases.
std::vector<uint8_t> SmallFile() {
    auto sound = GapSound(1000, 100);
    sound->GetActionEventMgr()->SetSampleRate(1000);
    sound->GetActionEventMgr()->AddEventAtSample(1, 5, nullptr, 2);
    test::TempDir dir;
    C_ApmFile writer;
    EXPECT_EQ(SaveWith(writer, *sound, dir.File("small.apm")), 1);
    return test::ReadFileBytes(dir.File("small.apm"));
}

TEST(ApmFile, MalformedHeadersAreRefused) {
    const auto good = SmallFile();
    ASSERT_GT(good.size(), 200u);
    for (uint32_t flag : {0u, 1u}) {
        C_ApmFile reader;
        ASSERT_EQ(OpenBytes(reader, good, flag), 1);
    }
    // Cut at every byte: refused by the header check or the load.
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
        for (uint32_t flag : {0u, 1u}) {
            C_ApmFile reader;
            ASSERT_EQ(OpenBytes(reader, cut, flag), 0) << n;
        }
    }
    const uint32_t size = static_cast<uint32_t>(good.size());
    const uint32_t p = LoadU32(&good[66]);
    struct Case {
        const char* what;
        uint32_t at;
        uint32_t value;
        int width;
    };
    const Case cases[] = {
        {"code count 0", 30, 0, 4},
        {"code count max", 30, 0xFFFFFFFFu, 4},
        {"code count past end", 30, size * 2 + 2, 4},
        {"code count + 2", 30, LoadU32(&good[30]) + 2, 4},
        {"decoded count 0", 40, 0, 4},
        {"decoded count max", 40, 0xFFFFFFFFu, 4},
        {"trace count past end", 50, size, 4},
        {"source count 0", 60, 0, 4},
        {"source count max", 60, 0xFFFFFFFFu, 4},
        {"source count past end", 60, size / 2, 4},
        {"code offset into header", 26, 20, 4},
        {"decoded offset backwards", 36, 76, 4},
        {"decoded offset into header", 36, 10, 4},
        {"trace offset past end", 46, size, 4},
        {"source offset backwards", 56, LoadU32(&good[46]), 4},
        {"source offset max", 56, 0xFFFFFFFFu, 4},
        {"metadata offset into header", 66, 40, 4},
        {"metadata offset past end", 66, size, 4},
        {"metadata offset max", 66, 0xFFFFFFFFu, 4},
        {"file size past end", 16, size + 1, 4},
        {"file size max", 16, 0xFFFFFFFFu, 4},
        {"file size short", 16, size - 1, 4},
        {"file size 0", 16, 0, 4},
        {"header size", 6, 74, 2},
        {"channels 0", 8, 0, 2},
        {"channels 2", 8, 2, 2},
        {"rate 0", 12, 0, 2},
        {"rate 1", 12, 1, 2},
        {"rate 999", 12, 999, 2},
        {"code width", 10, 6, 1},
        {"code bits", 24, 6, 2},
        {"source bits", 54, 16, 2},
        {"metadata flag cleared", 64, 0, 2},
        {"silence count max", p + 36, 0xFFFFFFFFu, 4},
        {"silence count + 1", p + 36, LoadU32(&good[p + 36]) + 1, 4},
        {"silence entries offset backwards", p + 32, p, 4},
        {"event block offset into header", p + 18, 8, 4},
        {"event block offset max", p + 18, 0xFFFFFFFFu, 4},
        {"event count max", size - 8 * LoadU32(&good[size - 12]) - 4, 0xFFFFFFFFu, 4},
        {"event count 0", size - 8 * LoadU32(&good[size - 12]) - 4, 0, 4},
        {"WCMD magic", p, 0x58444D43u, 4},
        {"WSIL magic", p + 24, 0, 4},
    };
    for (const Case& c : cases) {
        auto bytes = good;
        ASSERT_LE(c.at + c.width, bytes.size()) << c.what;
        if (c.width == 4)
            StoreU32(&bytes[c.at], c.value);
        else if (c.width == 2)
            StoreU16(&bytes[c.at], static_cast<uint16_t>(c.value));
        else
            bytes[c.at] = static_cast<uint8_t>(c.value);
        for (uint32_t flag : {0u, 1u}) {
            C_ApmFile reader;
            EXPECT_EQ(OpenBytes(reader, bytes, flag), 0) << c.what << " flag " << flag;
        }
        C_WavFileFormat factory;
        I_WavFile* opened = factory.OpenWavFileFromMemory(InputStream::FromMemory(bytes), 1, 1);
        EXPECT_EQ(opened, nullptr) << c.what;
        if (opened) opened->Release();
    }
    // Random damage: whatever is accepted loads within the file's bounds
    // (the sanitizer build watches the reads).
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int round = 0; round < 3000; ++round) {
        auto bytes = good;
        for (int hits = 1 + static_cast<int>(next() % 4); hits > 0; --hits)
            bytes[next() % bytes.size()] = static_cast<uint8_t>(next());
        C_ApmFile reader;
        if (OpenBytes(reader, bytes, round & 1) == 1) EXPECT_LE(reader.Sound()->GetDataSize(), 2 * bytes.size());
    }
    // A silence entry that ends before it starts.
    auto reversed = good;
    StoreU32(&reversed[p + 40], LoadU32(&good[p + 44]) + 1);
    C_ApmFile reader;
    EXPECT_EQ(OpenBytes(reader, reversed), 0);
}

// With CZ_WRITE_SEEDS=<folder>, writes small files of every class for the
// factory fuzz corpus.
TEST(ApmFile, WritesFuzzSeedsWhenAsked) {
    const char* folder = std::getenv("CZ_WRITE_SEEDS");
    if (!folder) GTEST_SKIP() << "CZ_WRITE_SEEDS not set";
    auto sound = GapSound(1000, 100);
    sound->GetActionEventMgr()->SetSampleRate(1000);
    sound->GetActionEventMgr()->AddEventAtSample(1, 5, nullptr, 2);
    auto tiny = Sound16(test::Tone(40, 1000, 100, 8000), 1, 1000);
    const std::string dir = folder;
    C_ApmFile classic;
    C_Apm6BitFile six;
    C_NewApmFile fresh;
    EXPECT_EQ(SaveWith(classic, *sound, dir + "/apm_metadata.apm"), 1);
    EXPECT_EQ(SaveWith(classic, *tiny, dir + "/apm_tiny.apm"), 1);
    EXPECT_EQ(SaveWith(six, *tiny, dir + "/apm6_tiny.ap6"), 1);
    EXPECT_EQ(SaveWith(fresh, *tiny, dir + "/apm_new_tiny.apm"), 1);
    EXPECT_EQ(tiny->SaveAs(1, (dir + "/wpcm_tiny.src").c_str()), 1);
    EXPECT_EQ(tiny->SaveAs(13, (dir + "/wpcm_scrambled.src").c_str()), 1);
}

}  // namespace
}  // namespace cz
