// The tool on what the chip reads: resource binaries of every coding through
// check, info, convert, play and report, and pack images (mixed codings)
// through info, unpack and play --entry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "support/LittleEndian.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;
using cz::test::ReadFileBytes;

std::string Q(const std::string& path) { return "'" + path + "'"; }

// 0.4 s at 8 kHz: a tone, a stretch of digital silence, a tone.
std::vector<uint8_t> PromptWav() {
    std::vector<int16_t> pcm(3200);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = i >= 1200 && i < 2000 ? 0 : static_cast<int16_t>(8000 * std::sin(i * 2 * 3.14159265358979 * 330 / 8000.0));
    return cz::test::RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(pcm)).Bytes();
}

// Output extension and coding name of every binary the tool writes.
const std::vector<std::pair<std::string, std::string>> kCodings = {
    {"apm", "APM"}, {"ad4", "E2A"}, {"mdm", "MDM"}, {"42m", "Q420 MPM"}, {"pc8", "PC8"}, {"lp8", "LP8"},
    {"p10", "P10"}, {"p16", "P16"}, {"s08", "S08"}, {"s16", "S16"}, {"pam", "PAM"}, {"mcp", "MCP"},
    {"wlp", "WLP"}, {"esb", "ESB"}, {"mvc", "MVC"}, {"sbd", "SBD"},
};

TEST(CliBinary, EveryCodingIsReadBack) {
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in.wav"), PromptWav()));
    for (const auto& [ext, coding] : kCodings) {
        SCOPED_TRACE(coding);
        const std::string bin = dir.File(ext + ".bin");
        auto run = Cadenzor("convert -q -y " + Q(dir.File("in.wav")) + " " + Q(dir.File("t." + ext)) + " --bin " + Q(bin), dir);
        ASSERT_EQ(run.status, 0) << run.out;
        // The four RBF codings keep their own format class in the tool.
        const bool rbf = ext == "apm" || ext == "ad4" || ext == "mdm" || ext == "42m";
        run = Cadenzor("info --json " + Q(bin), dir);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find(rbf ? std::string("RBF") : "\"coding\": \"" + coding + "\""), std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("\"sample_rate\": 8000"), std::string::npos) << run.out;
        run = Cadenzor("check " + Q(bin), dir);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find(rbf ? std::string("RBF") : coding + " resource binary"), std::string::npos) << run.out;
        const std::string back = dir.File(ext + ".wav");
        run = Cadenzor("convert -y " + Q(bin) + " " + Q(back), dir);
        EXPECT_EQ(run.status, 0) << run.out;
        const std::vector<uint8_t> wav = ReadFileBytes(back);
        EXPECT_GT(wav.size(), 44u + 2 * 3000);
        // And on to another chip format.
        run = Cadenzor("convert -y -q " + Q(bin) + " " + Q(dir.File(ext + "-again.pc8")), dir);
        EXPECT_EQ(run.status, 0) << run.out;
        // Damaged: cut inside its payload, and a rate of 0.
        std::vector<uint8_t> bytes = ReadFileBytes(bin);
        bytes.resize(ext == "pc8" ? 5 : bytes.size() - 1);  // PC8 has no end mark: cut its header
        ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("bad.bin"), bytes));
        run = Cadenzor("info " + Q(dir.File("bad.bin")), dir);
        if (rbf) continue;  // the RBF reader's own checks decide these
        EXPECT_EQ(run.status, 2) << run.out;
        EXPECT_NE(run.out.find(coding + " resource binary that cannot be read"), std::string::npos) << run.out;
        bytes = ReadFileBytes(bin);
        bytes[4] = bytes[5] = 0;
        ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("bad.bin"), bytes));
        run = Cadenzor("convert -y " + Q(dir.File("bad.bin")) + " " + Q(dir.File("bad.wav")), dir);
        EXPECT_EQ(run.status, 2) << run.out;
        EXPECT_NE(run.out.find("bad rate"), std::string::npos) << run.out;
    }
    auto run = Cadenzor("play --player none " + Q(dir.File("p10.bin")), dir);
    EXPECT_EQ(run.status, 0) << run.out;
    run = Cadenzor("report -q " + Q(dir.File("mcp.bin")) + " --to pc8,apm", dir);
    EXPECT_EQ(run.status, 0) << run.out;
}

TEST(CliBinary, PackImagesOfMixedCodingsListUnpackAndPlay) {
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in.wav"), PromptWav()));
    // An image of three codings laid out as docs/resource-pack.md draws it.
    const std::vector<std::string> exts = {"p10", "apm", "mcp"};
    std::vector<std::vector<uint8_t>> bins;
    for (const std::string& ext : exts) {
        auto run = Cadenzor("convert -q -y " + Q(dir.File("in.wav")) + " " + Q(dir.File("t." + ext)) + " --bin " +
                                Q(dir.File(ext + ".bin")),
                            dir);
        ASSERT_EQ(run.status, 0) << run.out;
        bins.push_back(ReadFileBytes(dir.File(ext + ".bin")));
    }
    std::vector<uint8_t> image = {'C', 'Z', 'P', 'K', 1, 0, static_cast<uint8_t>(bins.size()), 0};
    image.resize(8 + 8 * bins.size());
    for (size_t k = 0; k < bins.size(); ++k) {
        while (image.size() % 4) image.push_back(0);
        cz::test::Put32At(image, 8 + 8 * k, static_cast<uint32_t>(image.size()));
        cz::test::Put32At(image, 12 + 8 * k, static_cast<uint32_t>(bins[k].size()));
        image.insert(image.end(), bins[k].begin(), bins[k].end());
    }
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("img.bin"), image));
    auto run = Cadenzor("info " + Q(dir.File("img.bin")), dir);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("3 entries"), std::string::npos) << run.out;
    const size_t p10 = run.out.find("P10"), apm = run.out.find("APM"), mcp = run.out.find("MCP");
    EXPECT_TRUE(p10 != std::string::npos && apm != std::string::npos && mcp != std::string::npos && p10 < apm &&
                apm < mcp)
        << run.out;
    run = Cadenzor("info --json " + Q(dir.File("img.bin")), dir);
    EXPECT_NE(run.out.find("\"index\": 2, \"name\": \"\", \"coding\": \"MCP\""), std::string::npos) << run.out;
    run = Cadenzor("unpack --wav " + Q(dir.File("img.bin")) + " " + Q(dir.File("out")), dir);
    ASSERT_EQ(run.status, 0) << run.out;
    for (size_t k = 0; k < bins.size(); ++k) {
        EXPECT_EQ(ReadFileBytes(dir.File("out/0" + std::to_string(k) + ".bin")), bins[k]) << k;
        EXPECT_TRUE(cz::test::FileExists(dir.File("out/0" + std::to_string(k) + ".wav"))) << k;
    }
    // Names from the header beside an image that pack made.
    run = Cadenzor("pack -q -y " + Q(dir.File("in.wav")) + " --to s16 -o " + Q(dir.File("hello.bin")), dir);
    ASSERT_EQ(run.status, 0) << run.out;
    run = Cadenzor("info " + Q(dir.File("hello.bin")), dir);
    EXPECT_NE(run.out.find("HELLO_IN"), std::string::npos) << run.out;
    run = Cadenzor("play --player none " + Q(dir.File("img.bin")) + " --entry 1", dir);
    EXPECT_EQ(run.status, 0) << run.out;
    run = Cadenzor("play --player none " + Q(dir.File("img.bin")) + " --entry 3", dir);
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find("has no entry 3"), std::string::npos) << run.out;
    // A damaged table.
    image[12] = 0xFF, image[13] = 0xFF, image[14] = 0xFF;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("img.bin"), image));
    run = Cadenzor("info " + Q(dir.File("img.bin")), dir);
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find("lies outside the image"), std::string::npos) << run.out;
}

}  // namespace
