// ConvertWAVToESB, ConvertWAVToMCP and ConvertWAVToWLP through the shared
// library, with the codec stand-ins and the resource converter stand-in.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cadenzor/cadenzor.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return U16(b, at) | static_cast<uint32_t>(U16(b, at + 2)) << 16;
}

std::string SpeechWav(cz::test::TempDir& dir, uint32_t rate, uint32_t count) {
    std::vector<uint8_t> data;
    for (uint32_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const auto v = static_cast<int16_t>(
            std::lround(8000 * std::sin(2 * M_PI * 190 * t) + 2500 * std::sin(2 * M_PI * 730 * t)));
        data.push_back(static_cast<uint8_t>(v));
        data.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
    const std::string path = dir.File("in.wav");
    cz::test::WriteFileBytes(path, cz::test::RiffBuilder().Fmt(1, 1, rate, 16).Chunk("data", data).Bytes());
    return path;
}

// Decodes the voice blocks of a resource's frame section with the stand-in
// library's decoder; returns the decoded samples.
std::vector<int16_t> DecodeResource(const std::vector<uint8_t>& bin, const char* library, const char* entry,
                                    bool withMode, cz::test::TempDir& dir) {
    std::vector<int16_t> all;
    void* lib = dlopen((cz::test::LibDir() + "/" + library).c_str(), RTLD_NOW);
    EXPECT_NE(lib, nullptr);
    if (!lib) return all;
    void* fn = dlsym(lib, entry);
    size_t p = 6;
    while (p + 2 <= bin.size()) {
        const uint16_t w = U16(bin, p);
        if (w == 0xFFFF) break;
        if (w == 2) {
            const uint32_t n = U32(bin, p + 2);
            const std::vector<uint8_t> coded(bin.begin() + p + 6, bin.begin() + p + 6 + n);
            const std::string path = dir.File("block.cod");
            cz::test::WriteFileBytes(path, coded);
            const uint32_t count = U32(coded, 4);
            std::vector<int16_t> pcm(count);
            const int32_t r = withMode ? reinterpret_cast<int32_t (*)(const char*, int32_t, int16_t*, int32_t)>(fn)(
                                             path.c_str(), 0, pcm.data(), static_cast<int32_t>(count))
                                       : reinterpret_cast<int32_t (*)(const char*, int16_t*, int32_t)>(fn)(
                                             path.c_str(), pcm.data(), static_cast<int32_t>(count));
            EXPECT_NE(r, 0);
            all.insert(all.end(), pcm.begin(), pcm.end());
            p += 6 + n;
        } else {
            p += 2;  // a silence word
        }
    }
    dlclose(lib);
    return all;
}

TEST(CodecExports, EachConvertsAndItsBinaryDecodesBack) {
    cz::test::TempDir dir;
    const std::string in = SpeechWav(dir, 16000, 8000);
    const struct {
        const char* name;
        const char* code;
        const char* library;
        const char* decoder;
        bool withMode;
        uint32_t rate;
    } rows[] = {
        {"a.esb", "WESB", "libVorrik.so", "ESB_Decode", false, 0},
        {"a.mcp", "WMCP", "libQuorbe.so", "MCP_Decode", true, 8000},
        {"a.wlp", "WLPC", "libDantro.so", "Decode", true, 16000},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string out = dir.File(r.name), bin = dir.File(std::string(r.name) + ".bin");
        int32_t result = 0;
        if (std::strcmp(r.code, "WESB") == 0)
            result = ConvertWAVToESB(in.c_str(), out.c_str(), bin.c_str(), r.rate, 7, 12345, 0);
        else if (std::strcmp(r.code, "WMCP") == 0)
            result = ConvertWAVToMCP(in.c_str(), out.c_str(), bin.c_str(), r.rate, 1);
        else
            result = ConvertWAVToWLP(in.c_str(), out.c_str(), bin.c_str(), r.rate, 0x104);
        ASSERT_EQ(result, 1);
        const std::vector<uint8_t> file = cz::test::ReadFileBytes(out), binary = cz::test::ReadFileBytes(bin);
        ASSERT_GE(file.size(), 76u);
        EXPECT_EQ(std::string(file.begin(), file.begin() + 4), r.code);
        const uint32_t rate = r.rate ? r.rate : 16000;
        EXPECT_EQ(U16(file, 12), rate);
        // The binary: code, rate, then the frame section as saved.
        ASSERT_GE(binary.size(), 8u);
        EXPECT_EQ(std::string(binary.begin(), binary.begin() + 4), r.code);
        EXPECT_EQ(U16(binary, 4), rate);
        const uint32_t frameSize = U32(file, 32);
        EXPECT_EQ(std::vector<uint8_t>(binary.begin() + 6, binary.end()),
                  std::vector<uint8_t>(file.begin() + 62 + 14, file.begin() + 62 + frameSize));
        // Decoded from the binary, the sound is the file's decoded section.
        const std::vector<int16_t> pcm = DecodeResource(binary, r.library, r.decoder, r.withMode, dir);
        const uint32_t decodedOffset = U32(file, 48), decodedCount = U32(file, 52);
        ASSERT_EQ(pcm.size(), decodedCount);
        for (uint32_t i = 0; i < decodedCount; ++i)
            ASSERT_EQ(pcm[i], static_cast<int16_t>(U16(file, decodedOffset + 2 * i) - 32768)) << i;
    }
    // No intermediate file stays in the private temporary folder.
    const char* tmp = std::getenv("TMPDIR");
    ASSERT_NE(tmp, nullptr);
    if (DIR* d = opendir(tmp)) {
        while (dirent* e = readdir(d))
            EXPECT_TRUE(e->d_name[0] == '.' || std::string(e->d_name).rfind("in.wav") == 0 ||
                        dir.Path().find(e->d_name) != std::string::npos)
                << e->d_name;
        closedir(d);
    }
}

TEST(CodecExports, BadInputFailsWithNoOutput) {
    cz::test::TempDir dir;
    const std::string in = SpeechWav(dir, 8000, 100);
    const std::string out = dir.File("o.esb");
    EXPECT_EQ(ConvertWAVToESB(dir.File("missing.wav").c_str(), out.c_str(), dir.File("o.bin").c_str(), 0, 0, 0, 0), 0);
    EXPECT_EQ(ConvertWAVToMCP(in.c_str(), out.c_str(), in.c_str(), 0, 0),
              0);  // the binary may never be the input
    EXPECT_EQ(ConvertWAVToWLP(nullptr, out.c_str(), nullptr, 0, 0), 0);
    EXPECT_FALSE(cz::test::FileExists(out));
    EXPECT_FALSE(cz::test::FileExists(dir.File("o.bin")));
}

}  // namespace
