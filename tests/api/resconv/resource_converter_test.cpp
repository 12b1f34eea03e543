// C_ResourceConverter: byte-array headers, the converter library chain with
// its failure messages, saving in chip formats, and the project records.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "api/resconv/C_ModuleStatInfoMgr.h"
#include "api/resconv/C_ResourceConverter.h"
#include "formats/registry/FormatId.h"
#include "platform/Platform.h"
#include "siblings/ombry/ChipFixtures.h"
#include "siblings/ombry/ResourceDecoder.h"
#include "support/TestSupport.h"

namespace cz::test {
namespace {

std::string AsText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(ResourceConverterHeader, WritesTheBytesAsACArrayWithCrLfLines) {
    TempDir dir;
    const struct {
        const char* file;
        std::vector<uint8_t> bytes;
        const char* text;
    } cases[] = {
        {"a.bin", {1, 2, 3}, "const unsigned char g_abya_bin[] = \r\n{\r\n0x01, 0x02, 0x03\r\n};\r\n"},
        {"a.bin",
         {1, 2, 3, 4, 5, 6, 7, 8, 9},
         "const unsigned char g_abya_bin[] = \r\n{\r\n0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, "
         "0x08,\r\n0x09\r\n};\r\n"},
        {"e.bin", {}, "const unsigned char g_abye_bin[] = \r\n{\r\n\r\n};\r\n"},
        // Exactly one group: the empty group after it writes nothing.
        {"v.1.res",
         {0xAB, 0xCD, 0xEF, 0x00, 0x10, 0xFF, 0x7F, 0x80},
         "const unsigned char g_abyv_1_res[] = \r\n{\r\n0xAB, 0xCD, 0xEF, 0x00, 0x10, 0xFF, 0x7F, 0x80\r\n};\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = dir.File(c.file);
        ASSERT_TRUE(WriteFileBytes(path, c.bytes));
        C_ResourceConverter().WriteByteArrayHeader(path.c_str());
        EXPECT_EQ(AsText(ReadFileBytes(path + ".h")), c.text);
    }
}

TEST(ResourceConverterHeader, LargeBinaryLongPathAndFailures) {
    TempDir dir;
    std::vector<uint8_t> big(100000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    const std::string path = dir.File("big.bin");
    ASSERT_TRUE(WriteFileBytes(path, big));
    EXPECT_TRUE(C_ResourceConverter().WriteByteArrayHeader(path.c_str()));
    const std::string text = AsText(ReadFileBytes(path + ".h"));
    // 12500 full lines of 8 values; every line ends in CR LF and no LF stands alone.
    size_t lf = 0, crlf = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++lf;
            if (i > 0 && text[i - 1] == '\r') ++crlf;
        }
    }
    EXPECT_EQ(lf, crlf);
    EXPECT_EQ(lf, 12500u + 3u);
    EXPECT_NE(text.find(",\r\n0x38, 0x3F,"), std::string::npos);

    // Paths past the 260 characters of fixed name buffers are written whole.
    std::string deep = dir.Path() + "/" + std::string(200, 'd');
    ASSERT_EQ(RunCommand("mkdir -p '" + deep + "'"), 0);
    const std::string longName(120, 'n');
    const std::string longPath = deep + "/" + longName + ".bin";
    ASSERT_GT(longPath.size(), 300u);
    ASSERT_TRUE(WriteFileBytes(longPath, {0x42}));
    EXPECT_TRUE(C_ResourceConverter().WriteByteArrayHeader(longPath.c_str()));
    EXPECT_EQ(AsText(ReadFileBytes(longPath + ".h")),
              "const unsigned char g_aby" + longName + "_bin[] = \r\n{\r\n0x42\r\n};\r\n");

    // A missing binary writes nothing.
    EXPECT_FALSE(C_ResourceConverter().WriteByteArrayHeader(dir.File("none.bin").c_str()));
    EXPECT_FALSE(FileExists(dir.File("none.bin.h")));
    EXPECT_FALSE(C_ResourceConverter().WriteByteArrayHeader(nullptr));
    // A header that cannot be rewritten keeps the old one whole.
    const std::string old = "old header\r\n";
    ASSERT_TRUE(WriteFileBytes(path + ".h", std::vector<uint8_t>(old.begin(), old.end())));
    ASSERT_EQ(RunCommand("chmod a-w '" + dir.Path() + "'"), 0);
    const bool wrote = C_ResourceConverter().WriteByteArrayHeader(path.c_str());
    RunCommand("chmod u+w '" + dir.Path() + "'");
    if (geteuid() != 0) {  // root writes anyway
        EXPECT_FALSE(wrote);
        EXPECT_EQ(AsText(ReadFileBytes(path + ".h")), old);
    }
}

TEST(ResourceConverterArrayName, TakesTheFileNameAfterEitherSeparator) {
    EXPECT_EQ(resource_converter::ArrayName("out/dir.x/a.b.bin"), "a_b_bin");
    EXPECT_EQ(resource_converter::ArrayName("C:\\res\\voice.bin"), "voice_bin");
    EXPECT_EQ(resource_converter::ArrayName("plain"), "plain");
    EXPECT_EQ(resource_converter::ArrayName("dir/my-prompt 1.bin"), "my_prompt_1_bin");
    EXPECT_EQ(resource_converter::ArrayName("1st.bin"), "1st_bin");
    EXPECT_EQ(resource_converter::ArrayName("Voice_2.bin"), "Voice_2_bin");
    EXPECT_EQ(resource_converter::ArrayName("st\xc3\xa9r+(x).bin"), "st__r__x__bin");
}

// The headers of awkward file names compile as C and as C++, and their array
// holds the bytes.
TEST(ResourceConverterHeader, HeadersOfAwkwardNamesCompile) {
    const std::string compiler = HaveTool("cc") ? "cc" : HaveTool("gcc") ? "gcc" : "";
    if (compiler.empty() || !HaveTool("c++")) GTEST_SKIP() << "a C compiler is needed";
    TempDir dir;
    for (const char* name : {"my-prompt 1.bin", "1.bin", "a+b (2).res", "plain"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name);
        ASSERT_TRUE(WriteFileBytes(path, {7, 8, 9}));
        ASSERT_TRUE(C_ResourceConverter().WriteByteArrayHeader(path.c_str()));
        const std::string array = "g_aby" + resource_converter::ArrayName(path);
        const std::string main = dir.File("main.c");
        const std::string text = "#include \"" + path + ".h\"\nint main(void) { return sizeof " + array + " == 3 && " +
                                 array + "[2] == 9 ? 0 : 1; }\n";
        ASSERT_TRUE(WriteFileBytes(main, std::vector<uint8_t>(text.begin(), text.end())));
        EXPECT_EQ(RunCommand(compiler + " -std=c11 -Wall -Werror -o '" + dir.File("c.out") + "' '" + main + "'"), 0);
        EXPECT_EQ(RunCommand("'" + dir.File("c.out") + "'"), 0);
        EXPECT_EQ(RunCommand("c++ -x c++ -fsyntax-only -Wall -Werror '" + main + "'"), 0);
    }
}

class ResourceConverterChain : public ::testing::Test {
protected:
    TempDir dir_;
};

TEST_F(ResourceConverterChain, ApmToBinaryAndHeader) {
    ChipFixture apm = BuildApm(SwellingVoice12(2500), 0, 16000, {{900, 1200}}, {{300, 9, 4}});
    const std::string chip = dir_.File("voice.apm");
    const std::string bin = dir_.File("voice.bin");
    ASSERT_TRUE(WriteFileBytes(chip, apm.file));
    MessageCapture messages;
    EXPECT_NE(C_ResourceConverter().ConvertToBinary(chip.c_str(), bin.c_str()), 0u);
    EXPECT_TRUE(messages.texts.empty());

    const std::vector<uint8_t> binary = ReadFileBytes(bin);
    DecodedResource r = DecodeResource(binary);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.samples, apm.expected);
    EXPECT_EQ(r.markers, apm.markers);

    const std::string header = AsText(ReadFileBytes(bin + ".h"));
    ASSERT_EQ(header.rfind("const unsigned char g_abyvoice_bin[] = \r\n{\r\n0x57, 0x41, 0x44, 0x4D, 0x80, 0x3E,", 0),
              0u);
    // One value per byte of the binary.
    size_t values = 0;
    for (size_t at = header.find("0x"); at != std::string::npos; at = header.find("0x", at + 1)) ++values;
    EXPECT_EQ(values, binary.size());
}

// A binary whose header cannot be written is a failed conversion: 0, and the
// message sink says why. The complete binary stays (as the chip file stays
// when the binary fails); nothing else is left in its folder.
TEST_F(ResourceConverterChain, HeaderFailureFailsWithAMessage) {
    ChipFixture apm = BuildApm(SwellingVoice12(400), 0, 8000, {}, {});
    const std::string chip = dir_.File("h.apm");
    ASSERT_TRUE(WriteFileBytes(chip, apm.file));
    // A folder in the header's place.
    const std::string blocked = dir_.File("blocked");
    const std::string blockedBin = blocked + "/h.bin";
    ASSERT_EQ(RunCommand("mkdir -p '" + blockedBin + ".h'"), 0);
    // A binary path of 4094 characters: the binary fits the system's limit,
    // binary + ".h" does not.
    std::string deep = dir_.File("deep");
    while (deep.size() < 4094 - 220) deep += "/" + std::string(200, 'd');
    ASSERT_EQ(RunCommand("mkdir -p '" + deep + "'"), 0);
    const std::string longBin = deep + "/" + std::string(4094 - deep.size() - 5, 'b') + ".bin";
    ASSERT_EQ(longBin.size(), 4094u);
    for (const std::string& bin : {blockedBin, longBin}) {
        SCOPED_TRACE(bin.size());
        MessageCapture messages;
        EXPECT_EQ(C_ResourceConverter().ConvertToBinary(chip.c_str(), bin.c_str()), 0u);
        ASSERT_EQ(messages.texts.size(), 1u);
        EXPECT_EQ(messages.titles[0], "Resource converter");
        EXPECT_NE(messages.texts[0].find(bin + ".h' could not be written"), std::string::npos) << messages.texts[0];
        EXPECT_TRUE(DecodeResource(ReadFileBytes(bin)).ok);
        // Only the binary (and the folder in the way) are in the folder.
        size_t entries = 0;
        for (const auto& e : std::filesystem::directory_iterator(platform::DirectoryOf(bin))) {
            (void)e;
            ++entries;
        }
        EXPECT_EQ(entries, bin == blockedBin ? 2u : 1u);
    }
    EXPECT_TRUE(std::filesystem::is_empty(blockedBin + ".h"));
}

TEST_F(ResourceConverterChain, FailureOfTheLibraryWritesNoHeader) {
    const std::string chip = dir_.File("text.apm");
    const std::string bin = dir_.File("text.bin");
    ASSERT_TRUE(WriteFileBytes(chip, {'n', 'o', 't', ' ', 'a', 'p', 'm'}));
    MessageCapture messages;
    EXPECT_EQ(C_ResourceConverter().ConvertToBinary(chip.c_str(), bin.c_str()), 0u);
    EXPECT_FALSE(FileExists(bin));
    EXPECT_FALSE(FileExists(bin + ".h"));
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(C_ResourceConverter().ConvertToBinary(nullptr, bin.c_str()), 0u);
}

TEST_F(ResourceConverterChain, MissingLibraryOrEntryShowsTheLoaderMessage) {
    ChipFixture apm = BuildApm(SwellingVoice12(500), 0, 8000, {}, {});
    const std::string chip = dir_.File("v.apm");
    const std::string bin = dir_.File("v.bin");
    ASSERT_TRUE(WriteFileBytes(chip, apm.file));
    {
        MessageCapture messages;
        EXPECT_EQ(resource_converter::ConvertWithLibrary("NoSuchOmbry.dll", "ConvertResourceToBinary", chip.c_str(),
                                                         bin.c_str()),
                  0u);
        ASSERT_EQ(messages.titles.size(), 1u);
        EXPECT_EQ(messages.titles[0], "Resource converter");
        EXPECT_EQ(messages.texts[0].rfind("Load 'NoSuchOmbry.dll' failed !\r\nError Code 126: ", 0), 0u);
    }
    {
        MessageCapture messages;
        EXPECT_EQ(resource_converter::ConvertWithLibrary("Ombry.dll", "NoSuchEntry", chip.c_str(), bin.c_str()), 0u);
        ASSERT_EQ(messages.titles.size(), 1u);
        EXPECT_EQ(messages.titles[0], "Resource converter");
        EXPECT_EQ(messages.texts[0].rfind("Get 'NoSuchEntry()' address from '" +
                                              platform::LibraryFileName("Ombry.dll") + "' failed !\r\nError Code 127: ",
                                          0),
                  0u);
    }
    EXPECT_FALSE(FileExists(bin));
    EXPECT_FALSE(FileExists(bin + ".h"));
}

TEST_F(ResourceConverterChain, XmfPackingIsNotAvailableYet) {
    C_ResourceConverter converter;
    EXPECT_EQ(converter.ConvertToXmf(dir_.File("a.wav").c_str(), dir_.File("a.xmf").c_str()), 0);
    EXPECT_EQ(converter.ConvertApmToXmf(dir_.File("a.apm").c_str(), dir_.File("a.xmf").c_str()), 0);
    EXPECT_FALSE(FileExists(dir_.File("a.xmf")));
}

// The search effort codes the sound on the way (to APM, and so to XMF) with
// the searching coder: about the same size, other bytes; unset, the
// classic coder's bytes.
TEST_F(ResourceConverterChain, SearchEffortCodesWithTheSearchingCoder) {
    std::vector<uint8_t> wav = {'R', 'I', 'F', 'F', 0,  0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm',  't',
                                ' ', 16,  0,   0,   0,  1, 0,   1,   0,   0x40, 0x1F, 0,   0,   0x80, 0x3E,
                                0,   0,   2,   0,   16, 0, 'd', 'a', 't', 'a',  0,    0,   0,   0};
    for (int i = 0; i < 8000; ++i) {
        const double t = i / 8000.0;
        const auto v = int16_t(std::lround(9000 * std::sin(2 * M_PI * 220 * t) + 4000 * std::sin(2 * M_PI * 1770 * t)));
        wav.push_back(uint8_t(v & 0xFF));
        wav.push_back(uint8_t((v >> 8) & 0xFF));
    }
    const uint32_t data = 16000, riff = uint32_t(wav.size() - 8);
    for (int b = 0; b < 4; ++b) {
        wav[4 + b] = uint8_t(riff >> (8 * b));
        wav[40 + b] = uint8_t(data >> (8 * b));
    }
    const std::string source = dir_.File("tone.wav");
    ASSERT_TRUE(WriteFileBytes(source, wav));
    std::vector<std::vector<uint8_t>> coded;
    for (int effort : {-1, 0, 2}) {
        C_ResourceConverter converter;
        if (effort >= 0) converter.SetSearchEffort(uint8_t(effort));
        const std::string apm = dir_.File("tone" + std::to_string(effort + 1) + ".apm");
        ASSERT_EQ(converter.ConvertFormat(source.c_str(), apm.c_str(), kFormatApm), 1);
        coded.push_back(ReadFileBytes(apm));
    }
    EXPECT_EQ(coded[0], coded[1]);
    // The same size but for the flush to silence at the end (a few codes).
    EXPECT_NEAR(double(coded[2].size()), double(coded[0].size()), 64.0);
    EXPECT_NE(coded[2], coded[0]);
}

TEST(ModuleStatInfoMgr, FindOrAddIgnoresCaseAndKeepsNameOrder) {
    C_ModuleStatInfoMgr store;
    C_ResourceStatInfo* b = store.FindOrAddResourceInfo("b.apm");
    C_ResourceStatInfo* a = store.FindOrAddResourceInfo("A.apm");
    C_ResourceStatInfo* c = store.FindOrAddResourceInfo("c.MDM");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(store.FindOrAddResourceInfo("B.APM"), b);
    EXPECT_EQ(store.FindResourceInfo("C.mdm"), c);
    EXPECT_EQ(store.FindResourceInfo("d.apm"), nullptr);
    ASSERT_EQ(store.GetResourceInfoCount(), 3u);
    EXPECT_EQ(store.GetResourceInfoAt(0), a);
    EXPECT_EQ(store.GetResourceInfoAt(1), b);
    EXPECT_EQ(store.GetResourceInfoAt(2), c);
    EXPECT_EQ(store.GetResourceInfoAt(3), nullptr);
    EXPECT_STREQ(static_cast<I_ResourceStatInfo*>(b)->GetName(), "b.apm");
}

}  // namespace
}  // namespace cz::test
