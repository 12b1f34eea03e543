// ConvertWAVToXMF and its resampling variant: a single-node XMF around
// exactly the resource binary that ConvertWAVToAPM writes for the same sound,
// with its C array header, and no temporary file left behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cadenzor/cadenzor.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kSpeechId = {0x80, 0x89, 0xF3, 0xBB, 0x83, 0xBD, 0xA1, 0xC2, 0x9A, 0xF5,
                         0xB5, 0xAA, 0xFE, 0x98, 0x81, 0xCD, 0xFF, 0xD0, 0xBF};

class XmfChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!cz::test::HaveTool("sox")) GTEST_SKIP() << "sox is needed";
        wav_ = dir_.File("voice.wav");
        ASSERT_EQ(cz::test::RunCommand("sox -n -r 16000 -b 16 -c 1 '" + wav_ + "' synth 0.3 sine 300 2>/dev/null"), 0);
    }
    size_t ScratchFiles() const {
        size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(scratch_.Path())) n += e.is_regular_file();
        return n;
    }
    // The XMF holds the binary as its in-line resource, after the speech
    // identifier, and says its own length first.
    void ExpectXmfAround(const Bytes& xmf, const Bytes& binary) {
        ASSERT_GT(xmf.size(), binary.size() + 45);
        EXPECT_EQ(std::string(xmf.begin(), xmf.begin() + 8), "XMF_1.00");
        uint64_t length = 0;
        for (size_t i = 8; i < xmf.size(); ++i) {
            length = (length << 7) | (xmf[i] & 0x7F);
            if (!(xmf[i] & 0x80)) break;
        }
        EXPECT_EQ(length, xmf.size());
        const size_t resource = xmf.size() - binary.size();
        EXPECT_EQ(Bytes(xmf.begin() + static_cast<std::ptrdiff_t>(resource), xmf.end()), binary);
        EXPECT_EQ(Bytes(xmf.begin() + static_cast<std::ptrdiff_t>(resource - 3),
                        xmf.begin() + static_cast<std::ptrdiff_t>(resource)),
                  (Bytes{0x00, 0x01, 0x01}));
        EXPECT_EQ(Bytes(xmf.begin() + static_cast<std::ptrdiff_t>(resource - 22),
                        xmf.begin() + static_cast<std::ptrdiff_t>(resource - 3)),
                  kSpeechId);
    }

    cz::test::TempDir dir_;
    cz::test::PrivateTmpDir scratch_;  // after dir_, which must not be inside it
    std::string wav_;
};

TEST_F(XmfChainTest, WavAndApmGiveTheXmfOfTheApmBinary) {
    const std::string apm = dir_.File("voice.apm"), bin = dir_.File("voice.bin");
    ASSERT_EQ(ConvertWAVToAPM(wav_.c_str(), apm.c_str(), bin.c_str()), 1);
    const Bytes binary = cz::test::ReadFileBytes(bin);
    ASSERT_FALSE(binary.empty());
    const size_t before = ScratchFiles();

    const std::string xmf = dir_.File("voice.v1.xmf");
    ASSERT_EQ(ConvertWAVToXMF(wav_.c_str(), xmf.c_str()), 1);
    const Bytes written = cz::test::ReadFileBytes(xmf);
    ExpectXmfAround(written, binary);
    const Bytes header = cz::test::ReadFileBytes(dir_.File("voice_v1.h"));
    const std::string text(header.begin(), header.end());
    EXPECT_EQ(text.rfind("const unsigned char g_abyvoice_v1[] = \r\n{\r\n0x58, 0x4D, 0x46, 0x5F,", 0), 0u);
    EXPECT_EQ(ScratchFiles(), before);

    const std::string fromApm = dir_.File("from_apm.xmf");
    ASSERT_EQ(ConvertWAVToXMF(apm.c_str(), fromApm.c_str()), 1);
    EXPECT_EQ(cz::test::ReadFileBytes(fromApm), written);
    EXPECT_TRUE(cz::test::FileExists(dir_.File("from_apm.h")));
    EXPECT_EQ(ScratchFiles(), before);

    // Only the header cannot be written (a folder has its name): the call
    // fails, and the complete XMF file stays.
    std::filesystem::create_directory(dir_.File("blocked.h"));
    const std::string blocked = dir_.File("blocked.xmf");
    EXPECT_EQ(ConvertWAVToXMF(wav_.c_str(), blocked.c_str()), 0);
    EXPECT_EQ(cz::test::ReadFileBytes(blocked), written);
    EXPECT_EQ(ScratchFiles(), before);
}

TEST_F(XmfChainTest, ResampledFirst) {
    const std::string apm = dir_.File("r.apm"), bin = dir_.File("r.bin");
    ASSERT_EQ(ConvertWAVToAPMWithResample(wav_.c_str(), apm.c_str(), bin.c_str(), 8000), 1);
    const std::string xmf = dir_.File("r.xmf");
    ASSERT_EQ(ConvertWAVToXMFWithResample(wav_.c_str(), xmf.c_str(), 8000), 1);
    ExpectXmfAround(cz::test::ReadFileBytes(xmf), cz::test::ReadFileBytes(bin));
    EXPECT_EQ(ConvertWAVToXMFWithResample(wav_.c_str(), dir_.File("z.xmf").c_str(), 0), 0);
    EXPECT_EQ(ScratchFiles(), 0u);
}

TEST_F(XmfChainTest, RefusedInputsCreateNothing) {
    const std::string mp3 = dir_.File("voice.mp3");
    ASSERT_TRUE(cz::test::WriteFileBytes(mp3, cz::test::ReadFileBytes(wav_)));
    const std::string apmTmp = dir_.File("x.apm.tmp");
    ASSERT_EQ(ConvertWAVToAPM(wav_.c_str(), dir_.File("x.apm").c_str(), dir_.File("x.bin").c_str()), 1);
    ASSERT_TRUE(cz::test::WriteFileBytes(apmTmp, cz::test::ReadFileBytes(dir_.File("x.apm"))));
    struct Case {
        const char* name;
        std::string source;
    };
    const Case cases[] = {
        {"mp3 extension", mp3},
        {"apm named .tmp", apmTmp},
        {"missing wav", dir_.File("gone.wav")},
        {"missing apm", dir_.File("gone.apm")},
    };
    for (const Case& c : cases) {
        const std::string out = dir_.File("out.xmf");
        EXPECT_EQ(ConvertWAVToXMF(c.source.c_str(), out.c_str()), 0) << c.name;
        EXPECT_FALSE(cz::test::FileExists(out)) << c.name;
        EXPECT_FALSE(cz::test::FileExists(dir_.File("out.h"))) << c.name;
    }
    EXPECT_EQ(ConvertWAVToXMF(nullptr, dir_.File("n.xmf").c_str()), 0);
    EXPECT_EQ(ConvertWAVToXMF(wav_.c_str(), ""), 0);
    EXPECT_EQ(ScratchFiles(), 0u);
}

}  // namespace
