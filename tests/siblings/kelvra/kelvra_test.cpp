// The format helper stand-in, called through its entries: the real Mobile
// XMF file splits into a MIDI file midicsv reads with the XMF's own notes and
// a DLS bank gigtools' dlsdump accepts; XMF trees built here cover the node
// references, the zlib unpacker, our own resources and malformed trees; the
// bank-select and DLS repairs are checked on small files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cadenzor/cadenzor.h"
#include "support/TestSupport.h"
#include "tree/Inflate.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using TypeFn = int32_t (*)(const char*);
using TwoFn = int32_t (*)(const char*, const char*);
using ThreeFn = int32_t (*)(const char*, const char*, const char*);

Bytes Vlq(uint32_t v, size_t width = 0) {
    Bytes out;
    do {
        out.insert(out.begin(), static_cast<uint8_t>((v & 0x7F) | (out.empty() ? 0 : 0x80)));
        v >>= 7;
    } while (v);
    while (out.size() < width) out.insert(out.begin(), 0x80);
    return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes Str(const char* s) { return Bytes(s, s + std::strlen(s)); }

std::string RunCapture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n = 0;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Resource-format metadata: standard format id, or one of our identifiers.
Bytes StandardFormat(uint32_t id) { return Cat({{0x00, 0x03, 0x00}, Vlq(3), {0x06, 0x00}, Vlq(id)}); }

// A node: items (0 for a file node), metadata, unpacker entries, then the
// content (reference type first). Lengths are 4-byte VLQs so that nothing
// depends on its own size.
Bytes Node(uint32_t items, const Bytes& metadata, const Bytes& unpackers, const Bytes& content) {
    const Bytes unp = Cat({Vlq(static_cast<uint32_t>(unpackers.size()) + 1), unpackers});
    const Bytes afterHeaderLength = Cat({Vlq(static_cast<uint32_t>(metadata.size()), 4), metadata, unp});
    const size_t header = 4 + Vlq(items).size() + 4 + afterHeaderLength.size();
    return Cat({Vlq(static_cast<uint32_t>(header + content.size()), 4), Vlq(items),
                Vlq(static_cast<uint32_t>(header), 4), afterHeaderLength, content});
}
// An XMF 1.00 file around a root node; its tree starts at byte 22.
Bytes Xmf(const Bytes& root, const char* version = "XMF_1.00") {
    const uint32_t size = 22 + static_cast<uint32_t>(root.size());
    return Cat({Str(version), Vlq(size, 4), {0x02, 0x00}, Vlq(22, 4), Vlq(size, 4), root});
}

Bytes Smf() {
    const Bytes track = {0x00, 0xC0, 0x05, 0x00, 0x90, 0x3C, 0x64, 0x60, 0x3C, 0x00, 0x00,
                         0xC9, 0x00, 0x00, 0x99, 0x24, 0x50, 0x00, 0xFF, 0x2F, 0x00};
    return Cat({Str("MThd"),
                {0, 0, 0, 6, 0, 0, 0, 1, 0, 96},
                Str("MTrk"),
                {0, 0, 0, static_cast<uint8_t>(track.size())},
                track});
}
Bytes Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}
Bytes Chunk(const char* id, const Bytes& body) {
    Bytes out = Cat({Str(id), Le32(static_cast<uint32_t>(body.size())), body});
    if (body.size() & 1) out.push_back(0);
    return out;
}
Bytes List(const char* id, const char* type, const Bytes& body) { return Chunk(id, Cat({Str(type), body})); }
Bytes Dls() {
    return List("RIFF", "DLS ",
                Cat({Chunk("colh", Le32(1)),
                     List("LIST", "lins", List("LIST", "ins ", Chunk("insh", Cat({Le32(0), Le32(0), Le32(0)})))),
                     Chunk("ptbl", Cat({Le32(8), Le32(0)})), List("LIST", "wvpl", {})}));
}

class Kelvra : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = dlopen((cz::test::LibDir() + "/libKelvra.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        type_ = reinterpret_cast<TypeFn>(dlsym(handle_, "GetXMFResourceType"));
        toSmf_ = reinterpret_cast<TwoFn>(dlsym(handle_, "ConvertToSMF"));
        split_ = reinterpret_cast<ThreeFn>(dlsym(handle_, "ConvertToSMFWithDLS"));
        bank_ = reinterpret_cast<TwoFn>(dlsym(handle_, "InsertBankEvent"));
        fix_ = reinterpret_cast<TwoFn>(dlsym(handle_, "FixedDls"));
        toRbf_ = reinterpret_cast<TwoFn>(dlsym(handle_, "ConvertToRBF"));
        ASSERT_TRUE(type_ && toSmf_ && split_ && bank_ && fix_ && toRbf_);
    }
    void TearDown() override {
        if (handle_) dlclose(handle_);
    }
    int Type(const Bytes& xmf) {
        cz::test::WriteFileBytes(xmf_, xmf);
        return type_(xmf_.c_str());
    }
    std::string Csv(const std::string& mid, const char* filter) {
        return RunCapture("midicsv '" + mid + "' | grep -E '" + filter + "'");
    }

    void* handle_ = nullptr;
    TypeFn type_ = nullptr;
    TwoFn toSmf_ = nullptr, bank_ = nullptr, fix_ = nullptr, toRbf_ = nullptr;
    ThreeFn split_ = nullptr;
    cz::test::TempDir dir_;
    std::string xmf_ = dir_.File("t.xmf"), mid_ = dir_.File("t.mid"), dls_ = dir_.File("t.dls");
};

TEST_F(Kelvra, RealMobileXmfSplitsIntoMidiAndDls) {
    const std::string real = cz::test::TestDataDir() + "/xmf/testmxmf.mxmf";
    CZ_SKIP_WITHOUT_TESTDATA(real);
    EXPECT_EQ(type_(real.c_str()), 7);
    ASSERT_EQ(split_(real.c_str(), mid_.c_str(), dls_.c_str()), 1);
    // The XMF's own SMF is its last node: from "MThd" to the end of the file.
    const Bytes file = cz::test::ReadFileBytes(real);
    const auto at = std::search(file.begin(), file.end(), std::begin("MThd"), std::end("MThd") - 1);
    ASSERT_NE(at, file.end());
    const std::string own = dir_.File("own.mid");
    cz::test::WriteFileBytes(own, Bytes(at, file.end()));
    if (cz::test::HaveTool("midicsv")) {
        const std::string notes = Csv(mid_, "Note_");
        EXPECT_GT(notes.size(), 1000u);
        EXPECT_EQ(notes, Csv(own, "Note_"));
        // The player's copy selects bank 121 before the program change.
        const std::string play = dir_.File("play.mid");
        ASSERT_EQ(bank_(mid_.c_str(), play.c_str()), 1);
        EXPECT_NE(Csv(play, "Control_c|Program_c").find("1, 0, Control_c, 0, 0, 121\n1, 0, Control_c, 0, 32, 0\n"),
                  std::string::npos);
        EXPECT_EQ(Csv(play, "Note_"), notes);
    }
    const std::string fixed = dir_.File("play.dls");
    ASSERT_EQ(fix_(dls_.c_str(), fixed.c_str()), 1);
    if (!cz::test::HaveTool("dlsdump")) GTEST_SKIP() << "dlsdump (gigtools) is absent";
    for (const auto& path : {dls_, fixed}) {
        const std::string listing = RunCapture("dlsdump '" + path + "' 2>&1; echo rc=$?");
        EXPECT_NE(listing.find("Instrument 1)"), std::string::npos) << listing;
        EXPECT_NE(listing.find("Sample 1)"), std::string::npos) << listing;
        EXPECT_NE(listing.find("rc=0"), std::string::npos) << listing;
    }
}

TEST_F(Kelvra, TreesWithReferencesAndUnpackers) {
    const Bytes smf = Smf(), dls = Dls();
    const Bytes smfNode = Node(0, StandardFormat(1), {}, Cat({{0x01}, smf}));
    const Bytes dlsNode = Node(0, StandardFormat(5), {}, Cat({{0x01}, dls}));
    EXPECT_EQ(Type(Xmf(smfNode)), 6);
    ASSERT_EQ(toSmf_(xmf_.c_str(), mid_.c_str()), 1);
    EXPECT_EQ(cz::test::ReadFileBytes(mid_), smf);
    EXPECT_EQ(split_(xmf_.c_str(), mid_.c_str(), dls_.c_str()), 0);  // no DLS in it

    // A folder holding both, version 1.01 and Mobile XMF 2.00 alike.
    EXPECT_EQ(Type(Xmf(Node(2, {}, {}, Cat({{0x01}, dlsNode, smfNode})), "XMF_1.01")), 7);
    ASSERT_EQ(split_(xmf_.c_str(), mid_.c_str(), dls_.c_str()), 1);
    EXPECT_EQ(cz::test::ReadFileBytes(mid_), smf);
    EXPECT_EQ(cz::test::ReadFileBytes(dls_), dls);
    EXPECT_EQ(toRbf_(xmf_.c_str(), dir_.File("x.rbf").c_str()), 0);

    // The SMF packed by zlib, its unpacked size stated in the unpacker entry.
    Bytes packed(compressBound(smf.size()));
    uLongf packedSize = packed.size();
    ASSERT_EQ(compress(packed.data(), &packedSize, smf.data(), smf.size()), Z_OK);
    packed.resize(packedSize);
    const Bytes zlibEntry = Cat({{0x00, 0x01}, Vlq(static_cast<uint32_t>(smf.size()))});
    EXPECT_EQ(Type(Xmf(Node(0, StandardFormat(0), zlibEntry, Cat({{0x01}, packed})))), 6);
    ASSERT_EQ(toSmf_(xmf_.c_str(), mid_.c_str()), 1);
    EXPECT_EQ(cz::test::ReadFileBytes(mid_), smf);

    // An in-file resource: the node points at bytes after the tree.
    {
        Bytes root = Node(0, StandardFormat(1), {}, Cat({{0x02}, Vlq(0, 4)}));
        const uint32_t at = 22 + static_cast<uint32_t>(root.size());
        root = Node(0, StandardFormat(1), {}, Cat({{0x02}, Vlq(at, 4)}));
        EXPECT_EQ(Type(Cat({Xmf(root), smf})), 6);
        ASSERT_EQ(toSmf_(xmf_.c_str(), mid_.c_str()), 1);
        EXPECT_EQ(cz::test::ReadFileBytes(mid_), smf);
    }
    // Unrecognised content without a format field is found by its bytes.
    EXPECT_EQ(Type(Xmf(Node(0, {}, {}, Cat({{0x01}, smf})))), 6);
}

TEST_F(Kelvra, MalformedTreesFailCleanly) {
    const Bytes smf = Smf();
    const Bytes good = Xmf(Node(0, StandardFormat(1), {}, Cat({{0x01}, smf})));
    // A folder whose child is an in-file node reference back to the folder.
    const Bytes selfRef = Xmf(Node(1, {}, {}, Cat({{0x01}, Node(0, {}, {}, Cat({{0x03}, Vlq(22, 4)}))})));
    // A folder whose content is an in-file reference to itself.
    const Bytes cycle = Xmf(Node(1, {}, {}, Cat({{0x03}, Vlq(22, 4)})));
    Bytes deepRoot = Node(0, StandardFormat(1), {}, Cat({{0x01}, smf}));
    for (int i = 0; i < 40; ++i) deepRoot = Node(1, {}, {}, Cat({{0x01}, deepRoot}));
    const Bytes deep = Xmf(deepRoot);
    Bytes absurd = good;
    std::memcpy(absurd.data() + 22, "\xFF\xFF\xFF\xFF\x7F", 5);  // node length VLQ of 5 bytes
    Bytes tooBig = good;
    tooBig[22 + 3] = 0x7F;  // node length past the file
    const Bytes unknownRef = Xmf(Node(0, StandardFormat(1), {}, Cat({{0x07}, smf})));
    const Bytes unknownUnpacker = Xmf(Node(0, StandardFormat(1), {0x00, 0x05, 0x10}, Cat({{0x01}, smf})));
    // Packed data that claims more than the cap, or more than it holds.
    const Bytes overCap = Xmf(Node(0, StandardFormat(1), Cat({{0x00, 0x01}, Vlq(200u << 20)}), Cat({{0x01}, smf})));
    Bytes bomb(1 << 16, 0), packed(compressBound(bomb.size()));
    uLongf packedSize = packed.size();
    ASSERT_EQ(compress(packed.data(), &packedSize, bomb.data(), bomb.size()), Z_OK);
    packed.resize(packedSize);
    const Bytes understated = Xmf(Node(0, StandardFormat(1), Cat({{0x00, 0x01}, Vlq(100)}), Cat({{0x01}, packed})));
    const Bytes badVersion = Xmf(Node(0, StandardFormat(1), {}, Cat({{0x01}, smf})), "XMF_3.00");
    struct Case {
        const char* name;
        const Bytes& xmf;
    } cases[] = {{"self reference", selfRef},
                 {"cycle", cycle},
                 {"too deep", deep},
                 {"absurd VLQ", absurd},
                 {"past the file", tooBig},
                 {"unknown reference", unknownRef},
                 {"unknown unpacker", unknownUnpacker},
                 {"over the cap", overCap},
                 {"understated size", understated},
                 {"unknown version", badVersion}};
    for (const auto& c : cases) {
        EXPECT_EQ(Type(c.xmf), 0) << c.name;
        EXPECT_EQ(toSmf_(xmf_.c_str(), mid_.c_str()), 0) << c.name;
        EXPECT_FALSE(fs::exists(mid_)) << c.name;
    }
    // Every prefix of a good file: a clean answer (the sanitizer build checks
    // the reads).
    for (size_t n = 0; n < good.size(); ++n) EXPECT_EQ(Type(Bytes(good.begin(), good.begin() + n)), 0) << n;
    EXPECT_EQ(Type(good), 6);
}

TEST_F(Kelvra, OwnResourcesByTheirIdentifiers) {
    // Our single-node layout with the melody identifier (type 1): the IMF
    // reader is not there yet, so MIDI from it fails and writes nothing.
    const Bytes melodyId = {0x80, 0x83, 0x82, 0x83, 0xBC, 0x96, 0xEB, 0xC2, 0x95, 0xB5,
                            0xBB, 0xA6, 0xD8, 0x9A, 0x99, 0xF7, 0xB0, 0x80, 0x9D, 0x00};
    const Bytes meta = Cat({{0x00, 0x03, 0x00}, Vlq(22), {0x06, 0x03}, melodyId});
    EXPECT_EQ(Type(Xmf(Node(0, meta, {}, Cat({{0x01}, Str("IMF bytes")})))), 1);
    EXPECT_EQ(toSmf_(xmf_.c_str(), mid_.c_str()), 0);
    EXPECT_FALSE(fs::exists(mid_));
    // The speech resource our writer packs (type 5) comes back byte for byte.
    const std::string bin = dir_.File("r.bin");
    const Bytes resource = {'W', 'M', 'd', 'M', 1, 2, 3};
    cz::test::WriteFileBytes(bin, resource);
    Bytes speechId = melodyId;
    const uint8_t speech[] = {0x80, 0x89, 0xF3, 0xBB, 0x83, 0xBD, 0xA1, 0xC2, 0x9A, 0xF5,
                              0xB5, 0xAA, 0xFE, 0x98, 0x81, 0xCD, 0xFF, 0xD0, 0xBF};
    std::memcpy(speechId.data(), speech, 19);
    EXPECT_EQ(
        Type(Xmf(Node(0, Cat({{0x00, 0x03, 0x00}, Vlq(22), {0x06, 0x03}, speechId}), {}, Cat({{0x01}, resource})))), 5);
    ASSERT_EQ(toRbf_(xmf_.c_str(), bin.c_str()), 1);
    EXPECT_EQ(cz::test::ReadFileBytes(bin), resource);
    EXPECT_EQ(toSmf_(xmf_.c_str(), mid_.c_str()), 0);
}

TEST_F(Kelvra, BankSelectsBeforeProgramChanges) {
    if (!cz::test::HaveTool("midicsv")) GTEST_SKIP() << "midicsv is needed";
    cz::test::WriteFileBytes(mid_, Smf());
    const std::string play = dir_.File("play.mid");
    ASSERT_EQ(bank_(mid_.c_str(), play.c_str()), 1);
    EXPECT_EQ(Csv(play, "Control_c|Program_c|Note_on"),
              "1, 0, Control_c, 0, 0, 121\n1, 0, Control_c, 0, 32, 0\n1, 0, Program_c, 0, 5\n"
              "1, 0, Note_on_c, 0, 60, 100\n1, 96, Note_on_c, 0, 60, 0\n"
              "1, 96, Control_c, 9, 0, 120\n1, 96, Control_c, 9, 32, 0\n1, 96, Program_c, 9, 0\n"
              "1, 96, Note_on_c, 9, 36, 80\n");
    // A file that already selects its bank keeps it and gets no second one.
    ASSERT_EQ(bank_(play.c_str(), dir_.File("again.mid").c_str()), 1);
    EXPECT_EQ(cz::test::ReadFileBytes(dir_.File("again.mid")), cz::test::ReadFileBytes(play));
    // Not MIDI, or a track running past its chunk: refused, nothing written.
    Bytes cut = Smf();
    cut[21] = 0x7F;
    for (const Bytes& bad : {Bytes{'M', 'T', 'h', 'd'}, cut}) {
        cz::test::WriteFileBytes(mid_, bad);
        EXPECT_EQ(bank_(mid_.c_str(), dir_.File("bad.mid").c_str()), 0);
        EXPECT_FALSE(fs::exists(dir_.File("bad.mid")));
    }
}

TEST_F(Kelvra, DlsRepairs) {
    // A RIFF length past the file, a wrong instrument count, an odd chunk
    // without its pad byte at the end.
    Bytes dls = Dls();
    dls[4] = 0xFF;
    dls[20] = 3;  // colh says 3 instruments
    const Bytes odd = Cat({Str("INFO"), Le32(3), {'a', 'b', 'c'}});
    dls.insert(dls.end(), odd.begin(), odd.end());
    cz::test::WriteFileBytes(dls_, dls);
    const std::string fixed = dir_.File("fixed.dls");
    ASSERT_EQ(fix_(dls_.c_str(), fixed.c_str()), 1);
    const Bytes out = cz::test::ReadFileBytes(fixed);
    Bytes expected = Dls();
    expected.insert(expected.end(), odd.begin(), odd.end());
    expected.push_back(0);
    const uint32_t riff = static_cast<uint32_t>(expected.size() - 8);
    std::memcpy(expected.data() + 4, Le32(riff).data(), 4);
    EXPECT_EQ(out, expected);
    if (cz::test::HaveTool("dlsdump")) {
        EXPECT_NE(RunCapture("dlsdump '" + fixed + "' 2>&1; echo rc=$?").find("rc=0"), std::string::npos);
    }
    // A chunk past its parent, or not DLS at all: refused, nothing written.
    Bytes past = Dls();
    past[12 + 4] = 0xF0;  // colh claims 240 bytes
    for (const Bytes& bad : {past, Cat({Str("RIFF"), Le32(4), Str("WAVE")})}) {
        cz::test::WriteFileBytes(dls_, bad);
        fs::remove(fixed);
        EXPECT_EQ(fix_(dls_.c_str(), fixed.c_str()), 0);
        EXPECT_FALSE(fs::exists(fixed));
    }
}

// The unpacker of builds without zlib against zlib itself: stored, fixed and
// dynamic blocks, and broken streams refused.
TEST(KelvraInflate, AgreesWithZlib) {
    Bytes data;
    uint32_t seed = 12345;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245u + 12345u;
        // Runs, text-like repeats and noise, so every kind of code turns up.
        data.push_back(i % 5000 < 2000 ? static_cast<uint8_t>(seed >> 24)
                                       : static_cast<uint8_t>("the quick brown fox "[i % 20] + (i / 7000) % 3));
    }
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
        for (int level : {0, 1, 6, 9}) {
            z_stream z{};
            ASSERT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy), Z_OK);
            Bytes packed(deflateBound(&z, data.size()));
            z.next_in = data.data();
            z.avail_in = static_cast<uInt>(data.size());
            z.next_out = packed.data();
            z.avail_out = static_cast<uInt>(packed.size());
            ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
            packed.resize(z.total_out);
            deflateEnd(&z);
            Bytes out;
            std::string error;
            ASSERT_TRUE(kelvra::InflateZlib(packed, data.size(), out, error)) << level << " " << strategy << error;
            EXPECT_EQ(out, data) << level << " " << strategy;
            // A wrong stated size, a wrong sum, a cut stream: refused.
            EXPECT_FALSE(kelvra::InflateZlib(packed, data.size() - 1, out, error));
            EXPECT_FALSE(kelvra::InflateZlib(packed, data.size() + 1, out, error));
            Bytes badSum = packed;
            badSum.back() ^= 1;
            EXPECT_FALSE(kelvra::InflateZlib(badSum, data.size(), out, error));
            for (size_t cut : {size_t{0}, size_t{2}, packed.size() / 2, packed.size() - 1})
                EXPECT_FALSE(kelvra::InflateZlib(Bytes(packed.begin(), packed.begin() + cut), data.size(), out, error));
        }
    }
}

}  // namespace
