// The format rows behind the tool: what they say of each format is checked
// against what the classes and the resource converter really do, and the
// commands that are made from them (formats, help, completion, the refusals
// of formats and options) are run as a user would.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "api/resconv/C_ResourceConverter.h"
#include "cli/CliRun.h"
#include "formats/registry/FormatRegistry.h"
#include "formats/registry/FormatTable.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;
using cz::test::FileExists;

std::string Q(const std::string& path) { return "'" + path + "'"; }

// A voiced sound: a 220 Hz tone with a little noise, at 16 kHz.
std::vector<uint8_t> VoiceWav(size_t samples) {
    std::vector<int16_t> pcm(samples);
    uint32_t seed = 11;
    for (size_t i = 0; i < samples; ++i) {
        seed = seed * 1103515245u + 12345u;
        pcm[i] = static_cast<int16_t>(9000.0 * std::sin(i * 2 * 3.14159265358979 * 220.0 / 16000.0) +
                                      static_cast<int>((seed >> 16) % 400) - 200);
    }
    return cz::test::RiffBuilder().Fmt(1, 1, 16000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(pcm)).Bytes();
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class CliFormatTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(cz::test::WriteFileBytes(in_, VoiceWav(8000))); }
    cz::test::TempDir dir_;
    const std::string in_ = dir_.File("in.wav");
};

// Every row the tool offers as an output: the tool writes it, the file starts
// with the row's magic, and the resource converter makes a chip binary of it
// exactly when the row says so. The rows not offered are refused unwritten.
TEST_F(CliFormatTable, RowsSayWhatTheClassesAndTheConverterDo) {
    size_t written = 0;
    for (const cz::FormatDescriptor* row : cz::FormatOpenOrder()) {
        const cz::FormatFacts& f = row->facts;
        SCOPED_TRACE(row->className);
        if (row->id != cz::kFormatRbf)
            EXPECT_EQ(cz::GetFormatIdFromExtension(("." + std::string(f.extension)).c_str()), row->id) << f.extension;
        EXPECT_EQ(cz::FindFormatByName(row->className), row);
        const std::string out = dir_.File(std::string("o.") + f.extension);
        if (!row->writes && row->id == cz::kFormatApm) continue;  // APM's other reader; its writer is its own row
        const auto run = Cadenzor("-q convert " + Q(in_) + " " + Q(out), dir_);
        if (!f.output) {
            EXPECT_NE(run.status, 0) << run.out;
            EXPECT_FALSE(FileExists(out));
            if (row->id != cz::kFormatRbf) EXPECT_NE(run.out.find("read, not written"), std::string::npos) << run.out;
            continue;
        }
        ++written;
        ASSERT_EQ(run.status, 0) << run.out;
        const auto bytes = cz::test::ReadFileBytes(out);
        ASSERT_GE(bytes.size(), 4u);
        if (*f.magic) EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), f.magic);
        if (row->id == cz::kFormatWav) continue;
        cz::C_ResourceConverter converter;
        const std::string binary = dir_.File(std::string("o_") + f.extension + ".bin");
        EXPECT_EQ(converter.ConvertToBinary(out.c_str(), binary.c_str()) != 0, f.binary) << f.extension;
    }
    EXPECT_EQ(written, 29u);
}

TEST_F(CliFormatTable, FormatsListsEveryClassWithItsFacts) {
    const auto text = Cadenzor("formats", dir_);
    ASSERT_EQ(text.status, 0) << text.out;
    EXPECT_EQ(cz::FormatOpenOrder().size(), 34u);
    for (const cz::FormatDescriptor* row : cz::FormatOpenOrder()) {
        EXPECT_NE(text.out.find(row->className), std::string::npos) << row->className;
        EXPECT_NE(text.out.find(row->facts.purpose), std::string::npos) << row->className;
    }
    EXPECT_NE(text.out.find("34 classes"), std::string::npos) << text.out;
    const auto json = Cadenzor("formats --json", dir_);
    ASSERT_EQ(json.status, 0) << json.out;
    EXPECT_EQ(Count(json.out, "\"class\": "), 34u) << json.out;
    for (const char* fact :
         {"{\"format_id\": 5, \"class\": \"C_ApmFile\", \"extension\": \"apm\", \"name\": \"APM\", \"format\": "
          "\"APM, 4-bit chip ADPCM\", \"magic\": \"WAPM\"",
          "\"bits_per_sample\": 4, \"writes\": true, \"chip_binary\": true, \"options\": [\"mode\"]",
          "\"class\": \"C_EsbFile\"", "\"options\": [\"bitrate\", \"quality\"]",
          "{\"format_id\": 22, \"class\": \"C_Clp1File\"",
          "{\"format_id\": 0, \"class\": \"C_RBFFile\", \"extension\": \"rbf\""})
        EXPECT_NE(json.out.find(fact), std::string::npos) << fact << "\n" << json.out;
    EXPECT_EQ(Cadenzor("formats x.wav", dir_).status, 1);
}

// The refusals the rows decide, before anything is read or written: --bin for
// a format without a chip binary, a format that is read only, a coder option
// the output format does not take; and the coder option of a chip format in
// report, which makes its WAV steps without it.
TEST_F(CliFormatTable, FormatFactsDecideBeforeAnythingIsWritten) {
    const std::string out = dir_.File("out");
    struct Case {
        std::string args;
        int status;
        const char* says;  // in the message; "" for a success
    } cases[] = {
        {"convert " + Q(in_) + " " + Q(out + ".ap6") + " --bin " + Q(out + ".bin"), 1,
         "AP6 makes no chip resource binary: --bin needs one of apm,"},
        {"batch " + Q(dir_.Path()) + " " + Q(out) + " --to smm --bin", 1, "SMM makes no chip resource binary"},
        {"pack " + Q(in_) + " --to md6 -o " + Q(out + ".img"), 1, "MD6 makes no chip resource binary: pack needs"},
        {"convert " + Q(in_) + " " + Q(out + ".cp2"), 2,
         "CP2, codec-library speech (CLP line): files of this format are read, not written"},
        {"batch " + Q(dir_.Path()) + " " + Q(out) + " --to cp3", 1, "read, not written"},
        {"convert " + Q(in_) + " " + Q(out + ".esb") + " --mode 3", 1,
         "--mode does not apply to ESB (it takes --bitrate and --quality)"},
        {"convert " + Q(in_) + " " + Q(out + ".sbd") + " --quality 3", 1,
         "--quality does not apply to SBD (it takes --bitrate)"},
        {"convert " + Q(in_) + " " + Q(out + ".mdm") + " --bitrate 3000", 1,
         "--bitrate does not apply to MDM (its coder takes no setting)"},
        {"report -q " + Q(in_) + " --to apm,mdm --mode 2", 1, "mdm: --mode does not apply to MDM"},
        {"report -q " + Q(in_) + " --to apm --mode 2", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const auto run = Cadenzor(c.args, dir_);
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
        for (const char* ext : {".ap6", ".bin", ".cp2", ".esb", ".sbd", ".mdm", ".img"})
            EXPECT_FALSE(FileExists(out + ext)) << ext;
        EXPECT_FALSE(FileExists(out + "/in.smm"));
    }
    // The report of a chip format with its coder option names no private file.
    const auto report = Cadenzor("report -q " + Q(in_) + " --to apm --mode 2", dir_);
    EXPECT_NE(report.out.find("apm "), std::string::npos) << report.out;
    EXPECT_EQ(report.out.find("source.wav"), std::string::npos) << report.out;
}

// What a WAV file's coding is called, from the coding the WAV class reports;
// sox makes the ADPCM files (an independent coder).
TEST_F(CliFormatTable, InfoNamesTheCodingOfAdpcmWav) {
    if (cz::test::RunCommand("sox --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
    const struct {
        const char* encoding;
        const char* name;
    } cases[] = {{"ima-adpcm", "WAV, IMA ADPCM"}, {"ms-adpcm", "WAV, Microsoft ADPCM"}, {"signed-integer", "WAV, PCM"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        const std::string wav = dir_.File(std::string(c.encoding) + ".wav");
        ASSERT_EQ(cz::test::RunCommand("sox " + Q(in_) + " -e " + c.encoding + " " + Q(wav)), 0);
        const auto info = Cadenzor("info " + Q(wav), dir_);
        EXPECT_EQ(info.status, 0) << info.out;
        EXPECT_NE(info.out.find(std::string("format:      ") + c.name + " ("), std::string::npos) << info.out;
    }
}

// A MIDI file to IMF and back: the notes come back.
TEST_F(CliFormatTable, ImfConvertsBackToMidi) {
    const std::vector<uint8_t> song = {'M',  'T', 'h',  'd',  0,   0,   0,    6,    0,    0,   0,    1,
                                       0,    96,  'M',  'T',  'r', 'k', 0,    0,    0,    24,  0x00, 0x90,
                                       60,   100, 0x00, 0xFF, 5,   2,   'l',  'a',  0x60, 62,  90,   0x60,
                                       0x80, 60,  0,    0x00, 62,  0,   0x00, 0xFF, 0x2F, 0x00};
    ASSERT_TRUE(cz::test::WriteFileBytes(dir_.File("song.mid"), song));
    ASSERT_EQ(Cadenzor("convert " + Q(dir_.File("song.mid")) + " " + Q(dir_.File("song.imf")), dir_).status, 0);
    const auto back = Cadenzor("convert " + Q(dir_.File("song.imf")) + " " + Q(dir_.File("back.mid")), dir_);
    ASSERT_EQ(back.status, 0) << back.out;
    const auto info = Cadenzor("info " + Q(dir_.File("back.mid")), dir_);
    EXPECT_NE(info.out.find("notes:       2"), std::string::npos) << info.out;
    const struct {
        std::string args;
        int status;
        const char* says;
    } refusals[] = {
        {"convert " + Q(dir_.File("song.imf")) + " " + Q(dir_.File("back.mid")), 2, "exists"},
        {"convert " + Q(dir_.File("song.imf")) + " " + Q(dir_.File("x.mid")) + " --rate 8000", 1,
         "--rate does not apply to IMF input"},
        {"convert " + Q(dir_.File("song.imf")) + " " + Q(dir_.File("x.wav")), 1, "converts to a Standard MIDI File"},
    };
    for (const auto& r : refusals) {
        const auto run = Cadenzor(r.args, dir_);
        EXPECT_EQ(run.status, r.status) << r.args << "\n" << run.out;
        EXPECT_NE(run.out.find(r.says), std::string::npos) << run.out;
    }
    EXPECT_FALSE(FileExists(dir_.File("x.mid")));
    EXPECT_FALSE(FileExists(dir_.File("x.wav")));
}

// info and check read "-" as standard input, as convert does, and name it "-".
TEST_F(CliFormatTable, InfoAndCheckReadStandardInput) {
    const std::string junk = dir_.File("junk.txt");
    ASSERT_TRUE(cz::test::WriteFileBytes(junk, std::vector<uint8_t>{'n', 'o', '\n'}));
    const struct {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"info - < " + Q(in_), 0, "-\n  format:      WAV, PCM (C_WavFile, id 2)\n"},
        {"info --json - < " + Q(in_), 0, "{\"file\": \"-\", \"format\": \"WAV, PCM\""},
        {"check - < " + Q(in_), 0, "-: supported, format id 2 (C_WavFile)"},
        {"check - " + Q(in_) + " < " + Q(in_), 0, "in.wav: supported"},
        {"info - < " + Q(junk), 2, "cadenzor: -: "},
        {"check - - < " + Q(in_), 1, "can be read only once"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto run = Cadenzor(c.args, dir_);
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("/stdin"), std::string::npos) << run.out;
    }
}

// Help, completion and the manual come from the same rows: the formats with
// what they are for, no read-only format offered, --to completing format
// names, and pitch's help one text however it is asked for.
TEST_F(CliFormatTable, HelpAndCompletionComeFromTheRows) {
    const auto help = Cadenzor("--help", dir_);
    EXPECT_NE(help.out.find("  apm   APM, 4-bit chip ADPCM: speech and sound prompts"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("  formats "), std::string::npos) << help.out;
    EXPECT_EQ(help.out.find("cp1"), std::string::npos) << help.out;
    const auto convert = Cadenzor("convert --help", dir_);
    EXPECT_NE(convert.out.find("--mode N"), std::string::npos);
    EXPECT_NE(convert.out.find("for wam, apm, ap6, mcp, wlp, sam, mvc"), std::string::npos) << convert.out;
    EXPECT_EQ(convert.out.find("cp1"), std::string::npos) << convert.out;

    const auto completion = Cadenzor("--completion bash", dir_);
    ASSERT_EQ(completion.status, 0);
    EXPECT_NE(completion.out.find("--to) COMPREPLY=($(compgen -W \"src wav wam"), std::string::npos) << completion.out;
    EXPECT_NE(completion.out.find("pitch) opts=\"--help -o -y -q --factor --semitones\""), std::string::npos)
        << completion.out;
    // bash itself completes "--to a" to the APM-line formats, not file names.
    if (cz::test::RunCommand("bash --version >/dev/null 2>&1") == 0) {
        const std::string script = dir_.File("complete.sh");
        const std::string text = completion.out +
                                 "COMP_WORDS=(cadenzor convert in.wav --to a); COMP_CWORD=4; _cadenzor; "
                                 "echo \"${COMPREPLY[*]}\"\n";
        ASSERT_TRUE(cz::test::WriteFileBytes(script, std::vector<uint8_t>(text.begin(), text.end())));
        const auto words =
            cz::test::RunCommand("cd " + Q(dir_.Path()) + " && bash " + Q(script) + " > " + Q(dir_.File("words.txt")));
        EXPECT_EQ(words, 0);
        const auto got = cz::test::ReadFileBytes(dir_.File("words.txt"));
        EXPECT_EQ(std::string(got.begin(), got.end()), "apm ap6 ad4\n");
    }

    const auto a = Cadenzor("help pitch", dir_);
    const auto b = Cadenzor("pitch --help", dir_);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out.find("--semitones N"), std::string::npos) << a.out;
}

// The demo's build shows a sign of life (ninja's count) and says what the
// first build costs; a failed build shows its last lines. The build and the
// installer are stand-ins here, so the script's own handling is what runs.
TEST(CliDemo, BuildShowsProgressAndItsFailure) {
    cz::test::TempDir tree;
    ASSERT_EQ(cz::test::RunCommand("mkdir -p " + Q(tree.File("scripts")) + " && cp " +
                                   Q(cz::test::SourceDir() + "/scripts/demo.sh") + " " + Q(tree.File("scripts/"))),
              0);
    auto write = [&](const std::string& name, const std::string& text) {
        ASSERT_TRUE(cz::test::WriteFileBytes(tree.File(name), std::vector<uint8_t>(text.begin(), text.end())));
    };
    write("scripts/deps.sh", "exit 0\n");
    const struct {
        const char* build;
        int status;  // -1: not looked at
        std::vector<std::string> says;
    } cases[] = {
        {"echo '[1/3] Building a.o'; echo '[2/3] Building b.o'; echo '[3/3] Linking cadenzor'; mkdir -p build/bin; "
         "printf '#!/bin/sh\\nexit 0\\n' > build/bin/cadenzor; chmod +x build/bin/cadenzor\n",
         -1,  // the demo's own steps need the real tool; here only the build is looked at
         {"the first build compiles", "[1/3]", "[3/3]", "built in "}},
        {"echo '[1/2] Building a.o'; echo 'a.cpp:1: error: no such thing' >&2; exit 1\n",
         1,
         {"[1/2]", "the build failed", "a.cpp:1: error: no such thing"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.build);
        write("scripts/build.sh", c.build);
        const std::string out = tree.File("demo.txt");
        const int status = cz::test::RunCommand("cd " + Q(tree.Path()) + " && TMPDIR=" + Q(tree.Path()) +
                                                " bash scripts/demo.sh > " + Q(out) + " 2>&1");
        const auto bytes = cz::test::ReadFileBytes(out);
        const std::string said(bytes.begin(), bytes.end());
        if (c.status >= 0) EXPECT_EQ(status, c.status) << said;
        for (const auto& s : c.says) EXPECT_NE(said.find(s), std::string::npos) << s << "\n" << said;
    }
}

}  // namespace
