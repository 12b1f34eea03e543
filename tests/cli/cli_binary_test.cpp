// The tool on what the chip reads: resource binaries of every coding through
// check, info, convert, play and report, and pack images (mixed codings,
// melodies beside prompts) through info, unpack and play --entry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
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
        pcm[i] =
            i >= 1200 && i < 2000 ? 0 : static_cast<int16_t>(8000 * std::sin(i * 2 * 3.14159265358979 * 330 / 8000.0));
    return cz::test::RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(pcm)).Bytes();
}

// Output extension and coding name of every binary the tool writes.
const std::vector<std::pair<std::string, std::string>> kCodings = {
    {"apm", "APM"}, {"ad4", "E2A"}, {"mdm", "MDM"}, {"42m", "Q420 MPM"}, {"pc8", "PC8"}, {"lp8", "LP8"},
    {"p10", "P10"}, {"p16", "P16"}, {"s08", "S08"}, {"s16", "S16"},      {"pam", "PAM"}, {"mcp", "MCP"},
    {"wlp", "WLP"}, {"esb", "ESB"}, {"mvc", "MVC"}, {"sbd", "SBD"},
};

TEST(CliBinary, EveryCodingIsReadBack) {
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in.wav"), PromptWav()));
    for (const auto& [ext, coding] : kCodings) {
        SCOPED_TRACE(coding);
        const std::string bin = dir.File(ext + ".bin");
        auto run = Cadenzor(
            "convert -q -y " + Q(dir.File("in.wav")) + " " + Q(dir.File("t." + ext)) + " --bin " + Q(bin), dir);
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

// Format 0, 96 ticks a quarter, tempo 250000 us, two notes.
std::vector<uint8_t> TwoNoteSong() {
    return {'M',  'T', 'h', 'd',  0,  0,   0,    6,    0,    0,    0,    1,    0,    96,   'M',
            'T',  'r', 'k', 0,    0,  0,   22,   0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90, 0x00,
            0x90, 60,  100, 0x60, 62, 100, 0x60, 0x80, 60,   0,    0x00, 0xFF, 0x2F, 0x00};
}

// Melodies go into a pack beside the prompts: an IMF file as it is, a MIDI
// file as "convert x.mid x.imf" makes it; info, unpack and play --entry tell
// a melody entry from a sound entry.
TEST(CliBinary, PacksHoldMelodiesBesidePrompts) {
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("voice.wav"), PromptWav()));
    const std::vector<uint8_t> song = TwoNoteSong();
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("tune.mid"), song));
    auto run = Cadenzor("convert -q " + Q(dir.File("tune.mid")) + " " + Q(dir.File("bell.imf")), dir);
    ASSERT_EQ(run.status, 0) << run.out;
    const std::vector<uint8_t> imf = ReadFileBytes(dir.File("bell.imf"));
    ASSERT_GT(imf.size(), 16u);
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("bad.imf"), {'I', 'M', 'F', '1', 0, 0}));

    struct Case {
        std::string inputs, format;
        std::vector<bool> melody;  // per entry; empty: refused
        std::string said;
    };
    const Case cases[] = {
        {"voice.wav bell.imf tune.mid", "apm", {false, true, true}, "3 prompts (2 melodies)"},
        {"bell.imf tune.mid", "imf", {true, true}, "2 prompts (2 melodies)"},
        {"bell.imf voice.wav", "imf", {}, "voice.wav: not a melody"},
        {"voice.wav bad.imf", "apm", {}, "bad.imf: not a readable IMF melody"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inputs + " --to " + c.format);
        const std::string image = dir.File("pack.bin");
        std::string args;
        for (size_t at = 0; at < c.inputs.size();) {
            size_t end = c.inputs.find(' ', at);
            if (end == std::string::npos) end = c.inputs.size();
            args += " " + Q(dir.File(c.inputs.substr(at, end - at)));
            at = end + 1;
        }
        std::remove(image.c_str());  // from the case before: a refused pack writes none
        run = Cadenzor("pack -y" + args + " --to " + c.format + " -o " + Q(image), dir);
        EXPECT_NE(run.out.find(c.said), std::string::npos) << run.out;
        if (c.melody.empty()) {
            EXPECT_EQ(run.status, 2) << run.out;
            EXPECT_FALSE(cz::test::FileExists(image));
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.out;
        const std::vector<uint8_t> bytes = ReadFileBytes(image);
        ASSERT_EQ(cz::test::Le16At(bytes, 6), c.melody.size());
        // Every melody entry is the IMF file byte for byte (the MIDI one as
        // convert made it).
        for (size_t k = 0; k < c.melody.size(); ++k) {
            if (!c.melody[k]) continue;
            const uint32_t offset = cz::test::Le32At(bytes, 8 + 8 * k), size = cz::test::Le32At(bytes, 12 + 8 * k);
            ASSERT_LE(uint64_t{offset} + size, bytes.size());
            EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + size), imf) << k;
        }
        run = Cadenzor("info " + Q(image), dir);
        EXPECT_EQ(run.status, 0) << run.out;
        const size_t tune = run.out.find("PACK_TUNE");
        ASSERT_NE(tune, std::string::npos) << run.out;
        const std::string line = run.out.substr(tune, run.out.find('\n', tune) - tune);
        EXPECT_NE(line.find(" melody "), std::string::npos) << line;
        EXPECT_NE(line.find("0.500 s"), std::string::npos) << line;
        run = Cadenzor("info --json " + Q(image), dir);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find("\"name\": \"PACK_TUNE\", \"coding\": \"IMF\", \"melody\": true, \"duration_s\": 0.500"),
                  std::string::npos)
            << run.out;
        const std::string out = dir.File("out-" + c.format);
        run = Cadenzor("unpack --wav " + Q(image) + " " + Q(out), dir);
        EXPECT_EQ(run.status, 0) << run.out;
        for (size_t k = 0; k < c.melody.size(); ++k) {
            if (!c.melody[k]) {
                EXPECT_TRUE(cz::test::FileExists(out + "/0" + std::to_string(k) + "-PACK_VOICE.wav")) << k;
                continue;
            }
            const std::string name =
                out + "/0" + std::to_string(k) + (k + 1 == c.melody.size() ? "-PACK_TUNE" : "-PACK_BELL");
            EXPECT_EQ(ReadFileBytes(name + ".imf"), imf) << k;
            EXPECT_FALSE(cz::test::FileExists(name + ".wav")) << k;
        }
        run = Cadenzor("play --player none " + Q(image) + " --entry " + std::to_string(c.melody.size() - 1), dir);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find("is a melody (IMF), not sound"), std::string::npos) << run.out;
    }
}

// batch --to imf makes the MIDI files of a tree IMF melodies, as convert does,
// one song at a time; IMF has no chip binary to ask for.
TEST(CliBinary, BatchMakesMelodiesOfMidiFiles) {
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("tune.mid"), TwoNoteSong()));
    auto run = Cadenzor("convert -q " + Q(dir.File("tune.mid")) + " " + Q(dir.File("tune.imf")), dir);
    ASSERT_EQ(run.status, 0) << run.out;
    std::filesystem::create_directories(dir.File("in/sub"));
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in/a.mid"), TwoNoteSong()));
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in/sub/b.midi"), TwoNoteSong()));
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in/voice.wav"), PromptWav()));
    run = Cadenzor("batch " + Q(dir.File("in")) + " " + Q(dir.File("out")) + " --to imf", dir);
    ASSERT_EQ(run.status, 0) << run.out;
    for (const char* made : {"out/a.imf", "out/sub/b.imf"})
        EXPECT_EQ(ReadFileBytes(dir.File(made)), ReadFileBytes(dir.File("tune.imf"))) << made;
    EXPECT_FALSE(cz::test::FileExists(dir.File("out/voice.imf")));
    run = Cadenzor("batch " + Q(dir.File("in")) + " " + Q(dir.File("out2")) + " --to imf --bin", dir);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("IMF melodies have no chip resource binary"), std::string::npos) << run.out;
}

}  // namespace
