// XMF 1.00 files around one in-line resource, and their C array headers.
#include <gtest/gtest.h>

#include <cstring>

#include "midi/xmf/XmfWriter.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

using Bytes = std::vector<uint8_t>;

uint64_t ReadVlq(const Bytes& b, size_t& pos) {
    uint64_t v = 0;
    while (pos < b.size()) {
        const uint8_t c = b[pos++];
        v = (v << 7) | (c & 0x7F);
        if (!(c & 0x80)) return v;
    }
    ADD_FAILURE() << "VLQ runs to the end";
    return 0;
}

struct Parsed {
    uint64_t fileLength, treeStart, treeEnd, nodeLength;
    size_t nodeStart, nodeHeaderLength;
    Bytes identifier, resource;
};

// Reads the file the way an XMF 1.00 reader walks it: file length, metadata
// types table, tree offsets, then the node, whose header length leads to the
// in-line resource.
Parsed Parse(const Bytes& b) {
    Parsed p{};
    EXPECT_EQ(std::string(b.begin(), b.begin() + 8), "XMF_1.00");
    size_t pos = 8;
    p.fileLength = ReadVlq(b, pos);
    const size_t tableLength = static_cast<size_t>(ReadVlq(b, pos));
    EXPECT_EQ(tableLength, 2u);  // its own length byte and the zero count
    EXPECT_EQ(b[pos], 0);
    pos += tableLength - 1;
    p.treeStart = ReadVlq(b, pos);
    p.treeEnd = ReadVlq(b, pos);
    EXPECT_EQ(p.treeStart, pos);
    p.nodeStart = pos;
    p.nodeLength = ReadVlq(b, pos);
    EXPECT_EQ(b[pos++], 0);  // no contained items
    p.nodeHeaderLength = static_cast<size_t>(ReadVlq(b, pos));
    EXPECT_EQ(b[pos++], 26);
    const size_t metadataEnd = pos + 26;
    EXPECT_EQ(Bytes(b.begin() + pos, b.begin() + pos + 5), (Bytes{0x00, 0x03, 0x00, 0x16, 0x06}));
    EXPECT_EQ(b[pos + 5], 0x03);
    p.identifier.assign(b.begin() + pos + 6, b.begin() + pos + 25);
    EXPECT_EQ(b[pos + 25], 0);
    pos = metadataEnd;
    EXPECT_EQ(b[pos++], 1);  // no unpackers
    EXPECT_EQ(pos, p.nodeStart + p.nodeHeaderLength);
    EXPECT_EQ(b[pos++], 1);  // in-line resource
    p.resource.assign(b.begin() + pos, b.end());
    return p;
}

TEST(XmfWriter, SelfSizingLengthsAcrossTheVlqBoundaries) {
    struct Case {
        size_t resource;
        size_t nodeVlq, fileVlq;
    };
    // node length = N + 31 + L: 127 fits one byte (N = 95), 128 needs two
    // (N = 96 gives 96 + 31 + 2 = 129); F = 11 + 2n + node length.
    // At N = 16336 the file length lands on 16384 with 2-byte VLQs and so
    // needs 3-byte ones.
    const Case cases[] = {{0, 1, 1},     {50, 1, 1},    {95, 1, 2},    {96, 2, 2},
                          {16300, 2, 2}, {16336, 2, 3}, {16351, 3, 3}, {2000000, 3, 3}};
    for (const Case& c : cases) {
        Bytes resource(c.resource);
        for (size_t i = 0; i < resource.size(); ++i) resource[i] = static_cast<uint8_t>(i * 7);
        auto xmf = xmf::BuildXmf(resource, xmf::kXmfSpeech);
        ASSERT_TRUE(xmf) << c.resource;
        const Parsed p = Parse(*xmf);
        EXPECT_EQ(p.fileLength, xmf->size()) << c.resource;
        EXPECT_EQ(p.treeEnd, xmf->size()) << c.resource;
        EXPECT_EQ(p.treeStart, 2 * c.fileVlq + 11) << c.resource;
        EXPECT_EQ(p.nodeStart + p.nodeLength, xmf->size()) << c.resource;
        EXPECT_EQ(p.nodeLength, c.resource + 31 + c.nodeVlq) << c.resource;
        EXPECT_EQ(p.nodeHeaderLength, c.nodeVlq + 30) << c.resource;
        EXPECT_EQ(p.resource, resource) << c.resource;
    }
    // The smallest case byte for byte.
    auto empty = xmf::BuildXmf({}, xmf::kXmfMelody);
    ASSERT_TRUE(empty);
    const Bytes expected = {'X',  'M',  'F',  '_',  '1',  '.',  '0',  '0',  45,   0x02, 0x00, 13,   45,   32,   0x00,
                            31,   0x1A, 0x00, 0x03, 0x00, 0x16, 0x06, 0x03, 0x80, 0x83, 0x82, 0x83, 0xBC, 0x96, 0xEB,
                            0xC2, 0x95, 0xB5, 0xBB, 0xA6, 0xD8, 0x9A, 0x99, 0xF7, 0xB0, 0x80, 0x9D, 0x00, 0x01, 0x01};
    EXPECT_EQ(*empty, expected);
}

TEST(XmfWriter, IdentifierPerTypeAndTheLyricRule) {
    const Bytes lyric = {'W', 'K', 'L', 'B', 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 9};
    Bytes noLyric = lyric;
    noLyric[11] = 0;
    const Bytes shortWklb(lyric.begin(), lyric.begin() + 14);
    struct Case {
        const char* name;
        Bytes resource;
        uint32_t type, writtenAs;
    };
    const Case cases[] = {
        {"lyric data", lyric, 8, 8},   {"no lyric data", noLyric, 8, 1}, {"header cut short", shortWklb, 8, 1},
        {"plain melody", lyric, 1, 1}, {"bundle", lyric, 3, 3},          {"speech", lyric, 5, 5},
        {"type 2", lyric, 2, 2},       {"type 4", lyric, 4, 4},
    };
    for (const Case& c : cases) {
        auto xmf = xmf::BuildXmf(c.resource, c.type);
        ASSERT_TRUE(xmf) << c.name;
        auto id = xmf::FormatIdentifier(c.writtenAs);
        ASSERT_TRUE(id);
        EXPECT_EQ(Parse(*xmf).identifier, Bytes(id->begin(), id->end())) << c.name;
    }
    EXPECT_EQ(Bytes(xmf::FormatIdentifier(8)->begin(), xmf::FormatIdentifier(8)->end()),
              (Bytes{0xF6, 0xFF, 0xC5, 0xF7, 0xAA, 0xBE, 0xC6, 0xD2, 0xA1, 0x82, 0x98, 0xFD, 0x8C, 0xF8, 0x8A, 0xEE,
                     0x98, 0xCA, 0x82}));
    for (uint32_t type : {0u, 6u, 7u, 9u}) EXPECT_FALSE(xmf::BuildXmf(lyric, type)) << type;
}

TEST(XmfWriter, CArrayHeaderNameAndRows) {
    struct Case {
        std::string output, header;
    };
    const Case names[] = {{"/d/a.b.xmf", "/d/a_b.h"},
                          {"song.xmf", "song.h"},
                          {"/d.x/plain", "/d.x/plain.h"},
                          {"C:\\w\\v.1.2.imf", "C:\\w\\v_1_2.h"}};
    for (const Case& c : names) EXPECT_EQ(xmf::CArrayHeaderPath(c.output), c.header);

    const std::string decl = "const unsigned char g_abya_b[] = \r\n{\r\n";
    EXPECT_EQ(xmf::CArrayHeaderText("a_b", {}), decl + "\r\n};\r\n");
    EXPECT_EQ(xmf::CArrayHeaderText("a_b", Bytes{1, 2, 0xAB}), decl + "0x01, 0x02, 0xAB\r\n};\r\n");
    EXPECT_EQ(xmf::CArrayHeaderText("a_b", Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}),
              decl + "0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,\r\n0x09\r\n};\r\n");
}

TEST(XmfWriter, WritesTheFileAndItsHeaderOrNothing) {
    test::TempDir dir;
    const Bytes resource = {'W', 'K', 'L', 'B', 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0};
    ASSERT_TRUE(test::WriteFileBytes(dir.File("res.bin"), resource));
    const std::string out = dir.File("a.b.xmf");
    ASSERT_TRUE(xmf::WriteXmf(dir.File("res.bin").c_str(), out.c_str(), xmf::kXmfMelodyWithLyric));
    const Bytes written = test::ReadFileBytes(out);
    EXPECT_EQ(written, *xmf::BuildXmf(resource, 8));
    const Bytes header = test::ReadFileBytes(dir.File("a_b.h"));
    EXPECT_EQ(std::string(header.begin(), header.end()), xmf::CArrayHeaderText("a_b", written));
    EXPECT_TRUE(xmf::WriteCArrayHeader(out.c_str()));

    EXPECT_FALSE(xmf::WriteXmf(dir.File("missing.bin").c_str(), dir.File("m.xmf").c_str(), 1));
    EXPECT_FALSE(xmf::WriteXmf(dir.File("res.bin").c_str(), dir.File("t.xmf").c_str(), 7));
    EXPECT_FALSE(xmf::WriteXmf(dir.File("res.bin").c_str(), dir.File("no/such/x.xmf").c_str(), 1));
    EXPECT_FALSE(test::FileExists(dir.File("m.xmf")));
    EXPECT_FALSE(test::FileExists(dir.File("t.xmf")));
    EXPECT_FALSE(xmf::WriteCArrayHeader(dir.File("missing.xmf").c_str()));
    EXPECT_FALSE(test::FileExists(dir.File("missing.h")));

    // Only the header cannot be created (a folder stands in its place): the
    // call fails and says so, and the complete XMF file stays.
    ASSERT_EQ(test::RunCommand("mkdir '" + dir.File("blocked.h") + "'"), 0);
    {
        test::MessageCapture messages;
        EXPECT_FALSE(xmf::WriteXmf(dir.File("res.bin").c_str(), dir.File("blocked.xmf").c_str(), 1, "Midi Tool"));
        EXPECT_EQ(test::ReadFileBytes(dir.File("blocked.xmf")), *xmf::BuildXmf(resource, 1));
        ASSERT_EQ(messages.texts.size(), 1u);
        EXPECT_EQ(messages.titles[0], "Midi Tool");
        EXPECT_TRUE(messages.Saw("The header '" + dir.File("blocked.h") + "' could not be written"))
            << messages.texts[0];
        EXPECT_TRUE(messages.Saw("The XMF file '" + dir.File("blocked.xmf") + "' was written without it."));
    }

    // A full disk (a link to /dev/full) fails, and what is not a file of
    // ours is never removed.
    if (test::FileExists("/dev/full")) {
        ASSERT_EQ(test::RunCommand("ln -s /dev/full '" + dir.File("full.xmf") + "'"), 0);
        EXPECT_FALSE(xmf::WriteXmf(dir.File("res.bin").c_str(), dir.File("full.xmf").c_str(), 1));
        EXPECT_TRUE(test::FileExists("/dev/full"));
    }
}

}  // namespace
}  // namespace cz
