// ASF reader: header objects, packet layouts, media objects gathered from
// fragments, audio spread, and damaged or cut input.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AsfBuilder.h"
#include "decoders/wma/AsfReader.h"
#include "support/TestSupport.h"

namespace cz::wma::test {
namespace {

// Serves the bytes in small pieces, as a cache that holds less than was
// asked for would.
class MemorySource final : public I_AsfSource {
public:
    explicit MemorySource(const std::vector<uint8_t>& bytes, size_t piece = 37) : bytes_(bytes), piece_(piece) {}
    const uint8_t* ReadAt(uint64_t offset, size_t count, size_t* available) override {
        *available = 0;
        if (offset >= bytes_.size()) return nullptr;
        *available = std::min({count, piece_, size_t(bytes_.size() - offset)});
        return bytes_.data() + offset;
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t piece_;
};

struct Read {
    AsfError error = AsfError::kNone;
    std::vector<AsfMediaObject> objects;
    uint64_t damaged = 0;
    AsfPacketResult end = AsfPacketResult::kOk;
};

Read ReadAll(const std::vector<uint8_t>& file) {
    MemorySource source(file);
    AsfReader reader(source);
    Read r;
    r.error = reader.ReadHeader();
    if (r.error != AsfError::kNone) return r;
    for (int guard = 0; guard < 100000; ++guard) {
        r.end = reader.NextPacket(r.objects);
        if (r.end != AsfPacketResult::kOk) break;
    }
    r.damaged = reader.DamagedPackets();
    return r;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t n) {
    return std::vector<uint8_t>(v.begin() + from, v.begin() + from + n);
}

TEST(AsfReader, GathersMediaObjectsFromEveryPacketLayout) {
    const std::vector<uint8_t> a = Ramp(64, 0), b = Ramp(64, 100), big = Ramp(300, 7);
    struct Case {
        const char* name;
        std::vector<PacketSpec> packets;
        std::vector<std::vector<uint8_t>> expected;
    };
    const Case cases[] = {
        {"one payload, error correction data", {{{{1, 0, 0, 64, a}}}}, {a}},
        {"one payload, no error correction data", {{{{1, 0, 0, 64, a}}, false, false}}, {a}},
        {"two objects in one packet", {{{{1, 0, 0, 64, a}, {1, 1, 0, 64, b}}}}, {a, b}},
        {"object over two packets",
         {{{{1, 3, 0, 300, Slice(big, 0, 200)}}}, {{{1, 3, 200, 300, Slice(big, 200, 100)}}}},
         {big}},
        {"object over two payloads of one packet",
         {{{{1, 0, 0, 64, Slice(a, 0, 10)}, {1, 0, 10, 64, Slice(a, 10, 54)}}}},
         {a}},
        {"other streams' payloads between", {{{{2, 0, 0, 64, b}, {1, 0, 0, 64, a}, {2, 1, 0, 64, b}}}}, {a}},
        {"compressed payload of three small objects",
         {{{{1, 0, 0, 0, {3, 'x', 'y', 'z', 0, 2, 'p', 'q'}, true}}}},
         {{'x', 'y', 'z'}, {'p', 'q'}}},
    };
    for (const Case& c : cases) {
        FileSpec spec;
        spec.packetSize = 400;
        spec.packets = c.packets;
        const Read r = ReadAll(BuildAsf(spec));
        ASSERT_EQ(r.error, AsfError::kNone) << c.name;
        EXPECT_EQ(r.end, AsfPacketResult::kEndOfData) << c.name;
        EXPECT_EQ(r.damaged, 0u) << c.name;
        ASSERT_EQ(r.objects.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(r.objects[i].bytes, c.expected[i]) << c.name << " object " << i;
            EXPECT_FALSE(r.objects[i].discontinuity) << c.name;
        }
    }
}

TEST(AsfReader, ObjectWithoutItsStartIsDroppedAndTheNextMarked) {
    FileSpec spec;
    spec.packets = {{{{1, 4, 100, 300, Ramp(200, 0)}}},  // its first fragment was lost
                    {{{1, 5, 0, 64, Ramp(64, 1)}}},
                    {{{1, 6, 0, 300, Ramp(200, 0)}}},  // never finished
                    {{{1, 7, 0, 64, Ramp(64, 2)}}}};
    const Read r = ReadAll(BuildAsf(spec));
    ASSERT_EQ(r.objects.size(), 2u);
    EXPECT_EQ(r.objects[0].bytes, Ramp(64, 1));
    EXPECT_TRUE(r.objects[0].discontinuity);
    EXPECT_EQ(r.objects[1].bytes, Ramp(64, 2));
    EXPECT_TRUE(r.objects[1].discontinuity);
}

TEST(AsfReader, UndoesAudioSpread) {
    // Span 3, virtual packet of 8 bytes in chunks of 2: 4 rows of 3 chunks.
    // The writer stores the chunks column by column.
    const size_t span = 3, rows = 4, chunk = 2;
    const std::vector<uint8_t> original = Ramp(span * rows * chunk, 0);
    std::vector<uint8_t> stored(original.size());
    for (size_t row = 0; row < rows; ++row)
        for (size_t column = 0; column < span; ++column)
            std::copy_n(original.begin() + (row * span + column) * chunk, chunk,
                        stored.begin() + (column * rows + row) * chunk);
    FileSpec spec;
    spec.streams[0].span = 3;
    spec.streams[0].virtualPacket = 8;
    spec.streams[0].virtualChunk = 2;
    spec.streams[0].blockAlign = 8;
    spec.packets = {{{{1, 0, 0, uint32_t(stored.size()), stored}}},
                    // An object of another size is taken as it is.
                    {{{1, 1, 0, 5, Ramp(5, 9)}}}};
    const Read r = ReadAll(BuildAsf(spec));
    ASSERT_EQ(r.objects.size(), 2u);
    EXPECT_EQ(r.objects[0].bytes, original);
    EXPECT_EQ(r.objects[1].bytes, Ramp(5, 9));

    // Chunks that do not tile the virtual packet: nothing is undone.
    spec.streams[0].virtualChunk = 3;
    const Read untouched = ReadAll(BuildAsf(spec));
    ASSERT_EQ(untouched.objects.size(), 2u);
    EXPECT_EQ(untouched.objects[0].bytes, stored);
}

TEST(AsfReader, ReadsStreamsTagsAndProtection) {
    FileSpec spec;
    spec.title = "Song";
    spec.author = "Band";
    StreamSpec video;
    video.number = 2;
    video.audio = false;
    StreamSpec hidden;
    hidden.number = 3;
    hidden.insideExtended = true;
    hidden.rate = 16000;
    hidden.channels = 1;
    spec.streams = {StreamSpec{}, video, hidden};
    spec.extensionFiller = 3u << 20;  // a large picture beside the stream in the extension
    std::vector<uint8_t> bytes = BuildAsf(spec);
    MemorySource src(bytes);
    AsfReader reader(src);
    ASSERT_EQ(reader.ReadHeader(), AsfError::kNone);
    const AsfFileInfo& info = reader.Info();
    EXPECT_EQ(info.title, "Song");
    EXPECT_EQ(info.author, "Band");
    EXPECT_EQ(info.otherStreams, 1u);
    ASSERT_EQ(info.audioStreams.size(), 2u);
    EXPECT_EQ(info.audioStreams[1].number, 3);
    EXPECT_EQ(info.audioStreams[1].format.sampleRate, 16000u);
    EXPECT_EQ(info.audioStreams[1].format.channels, 1);
    EXPECT_EQ(info.audioStreams[0].format.extra.size(), 10u);
    EXPECT_EQ(info.packetSize, 256u);
    EXPECT_FALSE(info.protectedContent);

    FileSpec locked;
    locked.encryptionObject = true;
    std::vector<uint8_t> lockedBytes = BuildAsf(locked);
    MemorySource lockedSource(lockedBytes);
    AsfReader lockedReader(lockedSource);
    ASSERT_EQ(lockedReader.ReadHeader(), AsfError::kNone);
    EXPECT_TRUE(lockedReader.Info().protectedContent);

    FileSpec flagged;
    flagged.streams[0].encrypted = true;
    std::vector<uint8_t> flaggedBytes = BuildAsf(flagged);
    MemorySource flaggedSource(flaggedBytes);
    AsfReader flaggedReader(flaggedSource);
    ASSERT_EQ(flaggedReader.ReadHeader(), AsfError::kNone);
    EXPECT_TRUE(flaggedReader.Info().audioStreams[0].encrypted);
}

TEST(AsfReader, RefusesHeadersThatCannotBeRight) {
    FileSpec spec;
    spec.packets = {{{{1, 0, 0, 64, Ramp(64, 0)}}}};
    const std::vector<uint8_t> good = BuildAsf(spec);
    const size_t firstObject = 30;  // the file properties
    const size_t headerEnd = size_t(cz::test::Le32At(good, 16));
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        AsfError expected;
    };
    auto with = [&](auto change) {
        std::vector<uint8_t> v = good;
        change(v);
        return v;
    };
    const Case cases[] = {
        {"empty", {}, AsfError::kNotAsf},
        {"a WAV file", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, AsfError::kNotAsf},
        {"header object only", Slice(good, 0, 30), AsfError::kTruncated},
        {"cut inside the header", Slice(good, 0, 100), AsfError::kTruncated},
        {"cut before the data object", Slice(good, 0, headerEnd + 10), AsfError::kTruncated},
        {"header size below its own", with([](auto& v) { Put64At(v, 16, 20); }), AsfError::kBadHeader},
        {"object size below 24", with([&](auto& v) { Put64At(v, firstObject + 16, 3); }), AsfError::kBadHeader},
        {"object size past the header", with([&](auto& v) { Put64At(v, firstObject + 16, 0xFFFFFFFFFFFFull); }),
         AsfError::kBadHeader},
        {"zero packet size", with([&](auto& v) { Put32At(v, firstObject + 24 + 68, 0); }), AsfError::kBadPacketSize},
        {"packet sizes differ", with([&](auto& v) { Put32At(v, firstObject + 24 + 72, 512); }),
         AsfError::kBadPacketSize},
        {"absurd packet size", with([&](auto& v) {
             Put32At(v, firstObject + 24 + 68, 0x7FFFFFFF);
             Put32At(v, firstObject + 24 + 72, 0x7FFFFFFF);
         }),
         AsfError::kBadPacketSize},
        {"no data object", with([&](auto& v) { v[headerEnd] ^= 0xFF; }), AsfError::kNoDataObject},
    };
    for (const Case& c : cases) {
        MemorySource source(c.bytes);
        AsfReader reader(source);
        EXPECT_EQ(reader.ReadHeader(), c.expected) << c.name;
    }

    FileSpec videoOnly;
    videoOnly.streams[0].audio = false;
    EXPECT_EQ(ReadAll(BuildAsf(videoOnly)).error, AsfError::kNoAudioStream);
}

TEST(AsfReader, SkipsDamagedPacketsAndEndsCleanlyOnCutData) {
    FileSpec spec;
    spec.packets = {{{{1, 0, 0, 64, Ramp(64, 0)}}}, {{{1, 1, 0, 64, Ramp(64, 1)}}}, {{{1, 2, 0, 64, Ramp(64, 2)}}}};
    const std::vector<uint8_t> good = BuildAsf(spec);
    const size_t first = good.size() - 3 * 256;
    const size_t second = first + 256;
    // Offsets inside a packet built with error correction data: flags at 3,
    // properties at 4, padding at 5, then send time and duration; the
    // payload's stream at 13, object at 14, offset at 15, replicated length
    // at 19, object size at 20.
    struct Case {
        const char* name;
        size_t at;
        std::vector<uint8_t> bytes;
    };
    const Case damage[] = {
        {"padding past the packet", second + 5, {0xFF, 0x7F}},
        {"replicated data past the packet", second + 19, {0xFF}},
        {"replicated length 3", second + 19, {3}},
        {"object size 0", second + 20, {0, 0, 0, 0}},
        {"absurd object size", second + 20, {0xFF, 0xFF, 0xFF, 0x7F}},
        {"error correction length type 1", second, {0xA2}},
        {"stated packet length past the packet", second + 3, {0x70, 0x5D, 0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const Case& c : damage) {
        std::vector<uint8_t> bytes = good;
        std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + c.at);
        const Read r = ReadAll(bytes);
        ASSERT_EQ(r.error, AsfError::kNone) << c.name;
        EXPECT_EQ(r.damaged, 1u) << c.name;
        EXPECT_EQ(r.end, AsfPacketResult::kEndOfData) << c.name;
        ASSERT_EQ(r.objects.size(), 2u) << c.name;
        EXPECT_EQ(r.objects[1].bytes, Ramp(64, 2)) << c.name;
    }

    // Fewer packets than the file announces, or a cut inside one: the ones
    // there are read, then the input ends.
    for (size_t cut : {second, second + 100}) {
        const Read r = ReadAll(Slice(good, 0, cut));
        EXPECT_EQ(r.end, AsfPacketResult::kEndOfFile);
        ASSERT_EQ(r.objects.size(), 1u);
        EXPECT_EQ(r.objects[0].bytes, Ramp(64, 0));
    }
    // A live file whose data object states no size or count runs to the end
    // of the input.
    std::vector<uint8_t> live = good;
    Put64At(live, first - 50 + 16, 0);
    Put64At(live, first - 50 + 40, 0);
    Put64At(live, 30 + 24 + 32, 0);
    const Read r = ReadAll(live);
    EXPECT_EQ(r.end, AsfPacketResult::kEndOfFile);
    EXPECT_EQ(r.objects.size(), 3u);
}

TEST(AsfReader, EveryPrefixAndEveryByteFlipEndsCleanly) {
    FileSpec spec;
    spec.title = "t";
    StreamSpec hidden;
    hidden.number = 2;
    hidden.insideExtended = true;
    spec.streams.push_back(hidden);
    spec.packets = {{{{1, 0, 0, 300, Ramp(200, 0)}, {2, 0, 0, 10, Ramp(10, 0)}}},
                    {{{1, 0, 200, 300, Ramp(100, 0)}}},
                    {{{1, 0, 0, 0, {3, 1, 2, 3}, true}}}};
    const std::vector<uint8_t> good = BuildAsf(spec);
    for (size_t n = 0; n < good.size(); ++n) ReadAll(Slice(good, 0, n));
    for (size_t i = 0; i < good.size(); ++i) {
        std::vector<uint8_t> bytes = good;
        bytes[i] ^= 0xA5;
        ReadAll(bytes);
    }
}

TEST(AsfReader, RealFilesReadToTheirEnd) {
    // Several files are cut short, some right after their headers.
    struct Case {
        const char* file;
        size_t audioStreams;
        uint16_t tag;
        bool protectedContent;
        bool packets;
    };
    const Case cases[] = {
        {"wma92-32k.wma", 1, 0x161, false, true},
        {"wma92-multiple-tags.wma", 1, 0x161, false, false},
        {"wma-live.wma", 1, 0x161, false, false},
        {"wma92-vbr.wma", 1, 0x161, false, true},
        {"wma92-mbr.wma", 2, 0x161, false, true},
        {"drm.wma", 1, 0x161, true, false},
        {"wmv92-with-audio.wmv", 1, 0x161, false, true},
        {"jfif.wma", 1, 0x55, false, true},
        {"wma92-48k-pro.wma", 1, 0x162, false, true},
        {"wma92-lossless.wma", 1, 0x163, false, true},
        {"bug17355-picture-offset.wma", 1, 0x163, false, false},
        {"wma92-voice.wma", 1, 0x000A, false, true},
    };
    for (const Case& c : cases) CZ_SKIP_WITHOUT_TESTDATA(cz::test::TestDataDir() + "/asf/" + c.file);
    CZ_SKIP_WITHOUT_TESTDATA(cz::test::TestDataDir() + "/asf/wmv92.wmv");
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = cz::test::ReadFileBytes(cz::test::TestDataDir() + "/asf/" + c.file);
        ASSERT_FALSE(bytes.empty()) << c.file;
        MemorySource source(bytes, 8192);
        AsfReader reader(source);
        ASSERT_EQ(reader.ReadHeader(), AsfError::kNone) << c.file;
        const AsfFileInfo& info = reader.Info();
        EXPECT_EQ(info.audioStreams.size(), c.audioStreams) << c.file;
        EXPECT_EQ(info.audioStreams[0].format.formatTag, c.tag) << c.file;
        EXPECT_EQ(info.protectedContent, c.protectedContent) << c.file;
        std::vector<AsfMediaObject> objects;
        while (reader.NextPacket(objects) == AsfPacketResult::kOk) {}
        EXPECT_EQ(reader.DamagedPackets(), 0u) << c.file;
        EXPECT_EQ(objects.empty(), !c.packets) << c.file;
        // Whole coded units in every object of a WMA stream.
        if (c.tag == 0x161 && c.audioStreams == 1) {
            for (const AsfMediaObject& o : objects)
                EXPECT_EQ(o.bytes.size() % info.audioStreams[0].format.blockAlign, 0u) << c.file;
        }
    }
    std::vector<uint8_t> video = cz::test::ReadFileBytes(cz::test::TestDataDir() + "/asf/wmv92.wmv");
    MemorySource source(video);
    AsfReader reader(source);
    EXPECT_EQ(reader.ReadHeader(), AsfError::kNoAudioStream);
}

}  // namespace
}  // namespace cz::wma::test
