// The tool as a sound engineer uses it on many files: option conventions,
// refusals that write nothing, batch conversion, the quality report, resource
// packs and playing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "support/LittleEndian.h"
#include "support/RiffBuilder.h"
#include "support/Signals.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;
using cz::test::FileExists;
using cz::test::ReadFileBytes;

std::string Q(const std::string& path) { return "'" + path + "'"; }

// A voiced sound: a 220 Hz tone with a little noise, at 16 kHz.
std::vector<uint8_t> VoiceWav(size_t samples, double freq = 220.0) {
    std::vector<int16_t> pcm(samples);
    uint32_t seed = 7;
    for (size_t i = 0; i < samples; ++i) {
        seed = seed * 1103515245u + 12345u;
        pcm[i] = static_cast<int16_t>(9000.0 * std::sin(i * 2 * 3.14159265358979 * freq / 16000.0) +
                                      static_cast<int>((seed >> 16) % 400) - 200);
    }
    return cz::test::RiffBuilder().Fmt(1, 1, 16000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(pcm)).Bytes();
}

TEST(CliTool, OptionConventionsAndPerCommandHelp) {
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in.wav"), VoiceWav(4000)));
    // --opt=value, combined short flags and global flags before the command.
    EXPECT_EQ(Cadenzor("-yq convert --rate=8000 " + Q(dir.File("in.wav")) + " " + Q(dir.File("a.wav")), dir).status, 0);
    EXPECT_EQ(Cadenzor("-y convert -qv --rate=8000 " + Q(dir.File("in.wav")) + " " + Q(dir.File("a.wav")), dir).status,
              0);
    // An option the command has no use for is refused before anything runs.
    for (const char* args : {"info --rate 8000 x.wav", "check --bin x.bin x.wav", "cut --rate 8000 a b"}) {
        SCOPED_TRACE(args);
        auto run = Cadenzor(args, dir);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("does not apply"), std::string::npos) << run.out;
    }
    // Every command has its help, with its options and the formats.
    for (const char* command : {"check", "info", "convert", "resample", "cut", "batch", "report", "pack", "play"}) {
        SCOPED_TRACE(command);
        auto help = Cadenzor(std::string(command) + " --help", dir);
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find(std::string("usage: cadenzor ") + command), std::string::npos);
        EXPECT_NE(help.out.find("apm"), std::string::npos);
        EXPECT_NE(help.out.find("exit codes"), std::string::npos);
    }
    // The bash completion the tool prints is valid bash.
    auto completion = Cadenzor("--completion bash", dir);
    ASSERT_EQ(completion.status, 0);
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("c.bash"), {completion.out.begin(), completion.out.end()}));
    EXPECT_EQ(cz::test::RunCommand("bash -n " + Q(dir.File("c.bash"))), 0);
    // "-" streams through standard input and output, the output's format
    // named by --to.
    ASSERT_EQ(Cadenzor("convert -q " + Q(dir.File("in.wav")) + " " + Q(dir.File("file.apm")), dir).status, 0);
    ASSERT_EQ(cz::test::RunCommand("'" + cz::test::BinDir() + "/cadenzor' convert -q - - --to apm <" +
                                   Q(dir.File("in.wav")) + " >" + Q(dir.File("piped.apm"))),
              0);
    EXPECT_EQ(ReadFileBytes(dir.File("piped.apm")), ReadFileBytes(dir.File("file.apm")));
    EXPECT_EQ(Cadenzor("convert " + Q(dir.File("in.wav")) + " -", dir).status, 1);  // no --to
    // A rate outside what the chips play is warned about.
    auto high = Cadenzor("convert -y --rate 96000 " + Q(dir.File("in.wav")) + " " + Q(dir.File("h.wav")), dir);
    EXPECT_NE(high.out.find("outside the rates the chips play"), std::string::npos);
}

// Every reason to refuse is found before anything is written: no chip file
// appears when its binary or header could not be written after it.
TEST(CliTool, ConvertRefusesBeforeWritingAnything) {
    cz::test::TempDir dir;
    const std::string in = dir.File("in.wav"), apm = dir.File("o.apm"), bin = dir.File("o.bin");
    ASSERT_TRUE(cz::test::WriteFileBytes(in, VoiceWav(4000)));
    // A WAV has no binary.
    EXPECT_EQ(Cadenzor("convert " + Q(in) + " " + Q(dir.File("o.wav")) + " --bin " + Q(bin), dir).status, 1);
    EXPECT_FALSE(FileExists(dir.File("o.wav")));
    // An existing header (or binary) without -y: refused, no chip file made.
    ASSERT_TRUE(cz::test::WriteFileBytes(bin + ".h", {'/', '*'}));
    auto header = Cadenzor("convert " + Q(in) + " " + Q(apm) + " --bin " + Q(bin), dir);
    EXPECT_EQ(header.status, 2);
    EXPECT_NE(header.out.find("o.bin.h: the file exists"), std::string::npos) << header.out;
    EXPECT_FALSE(FileExists(apm));
    EXPECT_FALSE(FileExists(bin));
    EXPECT_EQ(ReadFileBytes(bin + ".h"), (std::vector<uint8_t>{'/', '*'}));
    // --bin naming the output itself.
    auto self = Cadenzor("convert -y " + Q(in) + " " + Q(apm) + " --bin " + Q(apm), dir);
    EXPECT_EQ(self.status, 2);
    EXPECT_FALSE(FileExists(apm));
    // With -y all three are made; the firmware header can be included from
    // two files of one program.
    ASSERT_EQ(
        Cadenzor("convert -y " + Q(in) + " " + Q(apm) + " --bin " + Q(bin) + " --header-style=firmware", dir).status,
        0);
    const auto text = ReadFileBytes(bin + ".h");
    const std::string h(text.begin(), text.end());
    EXPECT_NE(h.find("static const unsigned char o_bin["), std::string::npos) << h.substr(0, 300);
    EXPECT_NE(h.find("#define O_BIN_LENGTH " + std::to_string(ReadFileBytes(bin).size()) + "u"), std::string::npos);
    if (cz::test::HaveTool("cc")) {
        const std::string c = "#include \"" + bin + ".h\"\n#include \"" + bin + ".h\"\nint f(void){return o_bin[0];}\n";
        ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("u.c"), {c.begin(), c.end()}));
        EXPECT_EQ(
            cz::test::RunCommand("cc -std=c99 -Wall -Werror -c " + Q(dir.File("u.c")) + " -o " + Q(dir.File("u.o"))),
            0);
    }
}

// The codec-library formats take their coder settings from the command line;
// a setting a format has no use for is refused before anything is written.
TEST(CliTool, CodecSettingsReachTheCoders) {
    cz::test::TempDir dir;
    const std::string in = dir.File("in.wav");
    ASSERT_TRUE(cz::test::WriteFileBytes(in, VoiceWav(32000)));  // 2 s
    std::vector<size_t> sizes;
    for (const char* rate : {"8000", "16000", "32000"}) {
        const std::string bin = dir.File(std::string("e") + rate + ".bin");
        ASSERT_EQ(Cadenzor(std::string("convert -q ") + Q(in) + " " + Q(dir.File(std::string("e") + rate + ".esb")) +
                               " --bitrate " + rate + " --quality 5 --bin " + Q(bin),
                           dir)
                      .status,
                  0);
        sizes.push_back(ReadFileBytes(bin).size());
    }
    // The resource follows the bit rate within 10 %: 2 s at 8 kbit/s is 2000 bytes.
    EXPECT_NEAR(static_cast<double>(sizes[0]), 2000.0, 200.0);
    EXPECT_NEAR(static_cast<double>(sizes[1]), 2 * static_cast<double>(sizes[0]), 0.1 * sizes[1]);
    EXPECT_NEAR(static_cast<double>(sizes[2]), 4 * static_cast<double>(sizes[0]), 0.1 * sizes[2]);
    EXPECT_EQ(Cadenzor("convert -q " + Q(in) + " " + Q(dir.File("s.sbd")) + " --bitrate 12000", dir).status, 0);
    EXPECT_EQ(Cadenzor("convert -q " + Q(in) + " " + Q(dir.File("m.mcp")) + " --mode 1", dir).status, 0);
    for (const char* bad : {"x.mdm --bitrate 8000", "x.esb --mode 1", "x.sbd --quality 3", "x.esb --bitrate 50",
                            "x.apm --bitrate 8000"}) {
        SCOPED_TRACE(bad);
        auto run = Cadenzor("convert -q " + Q(in) + " " + dir.Path() + "/" + bad, dir);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_FALSE(FileExists(dir.File(std::string(bad).substr(0, 5))));
    }
}

TEST(CliTool, InfoJsonIsOneArrayWithErrorObjects) {
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in.wav"), VoiceWav(2000)));
    ASSERT_EQ(Cadenzor("convert " + Q(dir.File("in.wav")) + " " + Q(dir.File("c.apm")), dir).status, 0);
    // Standard output alone is the document; the reasons go to standard error.
    const int status = cz::test::RunCommand("'" + cz::test::BinDir() + "/cadenzor' info --json " +
                                            Q(dir.File("in.wav")) + " " + Q(dir.File("none.wav")) + " " +
                                            Q(dir.File("c.apm")) + " >" + Q(dir.File("o.json")) + " 2>/dev/null");
    EXPECT_EQ(status, 2);
    const auto json = ReadFileBytes(dir.File("o.json"));
    const std::string out(json.begin(), json.end());
    if (cz::test::HaveTool("python3")) {
        EXPECT_EQ(cz::test::RunCommand("python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); "
                                       "assert len(d)==3 and 'error' in d[1] and d[2]['chip_bytes']>0\" " +
                                       Q(dir.File("o.json"))),
                  0)
            << out;
    }
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// info names formats for people, shows tags and markers; convert says what
// a chip format leaves out.
TEST(CliTool, InfoAndConvertSpeakForPeople) {
    cz::test::TempDir dir;
    std::vector<int16_t> stereo(4000);
    for (size_t i = 0; i < stereo.size(); ++i) stereo[i] = static_cast<int16_t>(6000 * std::sin(i * 0.05));
    // LIST/INFO with a title; one cue point labelled as a plain marker.
    std::vector<uint8_t> info = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M'};
    Put32(info, 6);
    for (char c : std::string("Hello")) info.push_back(static_cast<uint8_t>(c));
    info.push_back(0);
    std::vector<uint8_t> cue;
    Put32(cue, 1);
    for (uint32_t v : {7u, 1000u}) Put32(cue, v);
    for (char c : std::string("data")) cue.push_back(static_cast<uint8_t>(c));
    for (uint32_t v : {0u, 0u, 1000u}) Put32(cue, v);
    std::vector<uint8_t> adtl = {'a', 'd', 't', 'l', 'l', 'a', 'b', 'l'};
    Put32(adtl, 10);
    Put32(adtl, 7);
    for (char c : std::string("intro")) adtl.push_back(static_cast<uint8_t>(c));
    adtl.push_back(0);
    const std::string wav = dir.File("in.wav");
    ASSERT_TRUE(cz::test::WriteFileBytes(wav, cz::test::RiffBuilder()
                                                  .Fmt(1, 2, 16000, 16)
                                                  .Chunk("data", cz::test::RiffBuilder::Pcm16(stereo))
                                                  .Chunk("LIST", info)
                                                  .Chunk("cue ", cue)
                                                  .Chunk("LIST", adtl)
                                                  .Bytes()));
    auto shown = Cadenzor("info " + Q(wav), dir);
    ASSERT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find("WAV, PCM"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("INAM:    Hello"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("sample 1000: cue 7 \"intro\""), std::string::npos) << shown.out;
    auto coded = Cadenzor("convert " + Q(wav) + " " + Q(dir.File("o.apm")), dir);
    ASSERT_EQ(coded.status, 0) << coded.out;
    EXPECT_NE(coded.out.find("2 channels are mixed to mono"), std::string::npos) << coded.out;
    EXPECT_NE(coded.out.find("1 of 1 markers are not kept in apm"), std::string::npos) << coded.out;
    EXPECT_NE(Cadenzor("info " + Q(dir.File("o.apm")), dir).out.find("APM, 4-bit chip ADPCM"), std::string::npos);
    if (cz::test::HaveTool("lame")) {
        ASSERT_EQ(
            cz::test::RunCommand("lame --quiet --tt 'A Title' --ta 'An Artist' " + Q(wav) + " " + Q(dir.File("t.mp3"))),
            0);
        auto mp3 = Cadenzor("info " + Q(dir.File("t.mp3")), dir);
        EXPECT_NE(mp3.out.find("MPEG-2 layer 3, 16000 Hz"), std::string::npos) << mp3.out;
        EXPECT_NE(mp3.out.find("title:       A Title"), std::string::npos) << mp3.out;
        EXPECT_NE(mp3.out.find("artist:      An Artist"), std::string::npos) << mp3.out;
    }
}

// A tree converted in parallel: mirrored outputs, failures named with their
// reason and leaving nothing, fresh outputs skipped, a summary, the budget.
TEST(CliTool, BatchMirrorsTheTreeAndJudgesTheBudget) {
    cz::test::TempDir dir;
    const std::string in = dir.File("in"), out = dir.File("out");
    ASSERT_EQ(cz::test::RunCommand("mkdir -p " + Q(in + "/sub/deeper")), 0);
    ASSERT_TRUE(cz::test::WriteFileBytes(in + "/a.wav", VoiceWav(8000)));
    ASSERT_TRUE(cz::test::WriteFileBytes(in + "/sub/b.wav", VoiceWav(6000, 330)));
    ASSERT_TRUE(cz::test::WriteFileBytes(in + "/sub/deeper/c.wav", VoiceWav(5000, 440)));
    ASSERT_TRUE(cz::test::WriteFileBytes(in + "/sub/bad.wav", {'R', 'I', 'F', 'F', 1}));
    ASSERT_TRUE(cz::test::WriteFileBytes(in + "/notes.txt", {'x'}));

    auto first = Cadenzor("batch -q " + Q(in) + " " + Q(out) + " --to apm --bin -j 2", dir);
    EXPECT_EQ(first.status, 2) << first.out;
    EXPECT_NE(first.out.find("bad.wav: "), std::string::npos) << first.out;
    for (const char* f : {"/a.apm", "/a.bin", "/a.bin.h", "/sub/b.apm", "/sub/deeper/c.apm", "/sub/deeper/c.bin"})
        EXPECT_TRUE(FileExists(out + f)) << f;
    EXPECT_FALSE(FileExists(out + "/sub/bad.apm"));
    EXPECT_EQ(cz::test::CountEntries(out + "/sub"), 4u);  // b.apm b.bin b.bin.h deeper
    EXPECT_NE(first.out.find("converted        3"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("failed           1"), std::string::npos);

    // Without the bad file: the second run keeps every output, -y makes them again.
    ASSERT_EQ(cz::test::RunCommand("rm " + Q(in + "/sub/bad.wav")), 0);
    auto again = Cadenzor("batch -q " + Q(in) + " " + Q(out) + " --to apm --bin --json", dir);
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("\"converted\": 0, \"skipped\": 3"), std::string::npos) << again.out;
    auto forced = Cadenzor("batch -q -y " + Q(in) + " " + Q(out) + " --to apm --bin --json", dir);
    EXPECT_NE(forced.out.find("\"converted\": 3, \"skipped\": 0"), std::string::npos) << forced.out;
    long long chip = 0;
    for (const char* f : {"/a.bin", "/sub/b.bin", "/sub/deeper/c.bin"}) chip += ReadFileBytes(out + f).size();
    EXPECT_NE(forced.out.find("\"chip_bytes\": " + std::to_string(chip)), std::string::npos) << forced.out;

    // A budget the set does not fit gives exit code 3 and what would fit.
    auto tight = Cadenzor("batch -q " + Q(in) + " " + Q(out) + " --to apm --budget " + std::to_string(chip - 100), dir);
    EXPECT_EQ(tight.status, 3) << tight.out;
    EXPECT_NE(tight.out.find("does not fit"), std::string::npos);
    EXPECT_NE(tight.out.find("would fit"), std::string::npos) << tight.out;
    auto roomy = Cadenzor("batch -q " + Q(in) + " " + Q(out) + " --to apm --budget 1M", dir);
    EXPECT_EQ(roomy.status, 0);
    EXPECT_NE(roomy.out.find("fits"), std::string::npos);
}

// Real prompts no one here wrote: Debian's asterisk-core-sounds-en-wav (568
// telephone prompts, 8 kHz) convert to APM and MDM without a failure.
TEST(CliTool, BatchConvertsRealPrompts) {
    const std::string prompts = "/usr/share/asterisk/sounds/en_US_f_Allison";
    if (!cz::test::FileExists(prompts + "/activated.wav"))
        GTEST_SKIP() << "asterisk-core-sounds-en-wav is not installed";
    cz::test::TempDir dir;
    for (const char* format : {"apm", "mdm"}) {
        SCOPED_TRACE(format);
        auto run = Cadenzor(std::string("batch -q ") + Q(prompts) + " " + Q(dir.File(format)) + " --to " + format +
                                " --bin --budget 64M --json",
                            dir);
        EXPECT_EQ(run.status, 0) << run.out.substr(0, 2000);
        EXPECT_NE(run.out.find("\"files\": 568, \"converted\": 568, \"skipped\": 0, \"failed\": 0"), std::string::npos)
            << run.out.substr(0, 2000);
        EXPECT_NE(run.out.find("\"fits\": true"), std::string::npos);
    }
}

TEST(CliTool, ReportMeasuresEachFormatAndDrawsAPage) {
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in.wav"), VoiceWav(16000)));
    auto run =
        Cadenzor("report -q " + Q(dir.File("in.wav")) + " --to apm,mdm --json --html " + Q(dir.File("r.html")), dir);
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("r.json"), {run.out.begin(), run.out.end()}));
    if (cz::test::HaveTool("python3")) {
        // A steady voiced sound keeps well over 15 dB in both coders; the
        // chip bytes are what --bin writes.
        EXPECT_EQ(cz::test::RunCommand("python3 -c \"import json,sys; d=json.load(open(sys.argv[1]))['formats']; "
                                       "assert [f['format'] for f in d]==['apm','mdm']; "
                                       "assert all(f['snr_db']>15 and f['chip_bytes']>0 for f in d), d\" " +
                                       Q(dir.File("r.json"))),
                  0)
            << run.out;
    }
    const auto page = ReadFileBytes(dir.File("r.html"));
    const std::string html(page.begin(), page.end());
    size_t pictures = 0;
    for (size_t at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1)) ++pictures;
    // The size-against-quality chart, the source, and per format the rendition
    // and its error level.
    EXPECT_EQ(pictures, 6u);
    EXPECT_EQ(Cadenzor("report " + Q(dir.File("in.wav")) + " --to wav", dir).status, 1);
}

// A report writes its page and nothing else: its private folder, under
// TMPDIR, is gone when it ends, and the input's folder holds only the page.
TEST(CliTool, ReportLeavesNothingBehind) {
    cz::test::TempDir dir, tmp;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in.wav"), VoiceWav(8000)));
    const std::string out = dir.File("out.txt");
    ASSERT_EQ(cz::test::RunCommand("TMPDIR=" + Q(tmp.Path()) + " '" + cz::test::BinDir() + "/cadenzor' report -q " +
                                   Q(dir.File("in.wav")) + " --to apm,mdm,p10,pam --html " + Q(dir.File("r.html")) +
                                   " >" + Q(out) + " 2>&1"),
              0);
    std::vector<std::string> left, here;
    for (const auto& e : std::filesystem::directory_iterator(tmp.Path())) left.push_back(e.path().string());
    EXPECT_TRUE(left.empty()) << (left.empty() ? std::string() : left.front());
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) here.push_back(e.path().filename().string());
    std::sort(here.begin(), here.end());
    EXPECT_EQ(here, (std::vector<std::string>{"in.wav", "out.txt", "r.html"}));

    // Nor on the way: the one WAV file put in place is the source as every
    // format gets it; the sound each chip plays stays in memory.
    if (!cz::test::HaveTool("strace")) GTEST_SKIP() << "no strace";
    const std::string log = dir.File("trace.txt");
    // The leak checker cannot run under a tracer: it is turned off for this run.
    ASSERT_EQ(cz::test::RunCommand("ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                                   "strace -f -e trace=rename,renameat,renameat2 -o " +
                                   Q(log) + " '" + cz::test::BinDir() + "/cadenzor' report -q " +
                                   Q(dir.File("in.wav")) + " --to apm,mdm,p10 --json >" + Q(out) + " 2>&1"),
              0);
    const auto traced = ReadFileBytes(log);
    std::istringstream lines(std::string(traced.begin(), traced.end()));
    std::vector<std::string> wavs;
    for (std::string line; std::getline(lines, line);) {
        const size_t end = line.rfind(".wav\"");
        if (line.find("rename") == std::string::npos || end == std::string::npos) continue;
        const size_t start = line.find_last_of("/\"", end - 1) + 1;
        wavs.push_back(line.substr(start, end + 4 - start));
    }
    std::sort(wavs.begin(), wavs.end());
    // source.wav, and the file its job made in its private folder.
    EXPECT_EQ(wavs, (std::vector<std::string>{"out.wav", "source.wav"}));
}

// The page opens in a real browser with its pictures drawn: a headless
// Chromium screenshot holds the colours of the source, rendition and error
// waveforms.
TEST(CliTool, ReportPageIsDrawnInABrowser) {
    if (!cz::test::HaveTool("chromium") || !cz::test::HaveTool("python3")) GTEST_SKIP() << "no chromium or python3";
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in.wav"), VoiceWav(16000)));
    ASSERT_EQ(Cadenzor("report -q " + Q(dir.File("in.wav")) + " --to apm --html " + Q(dir.File("r.html")), dir).status,
              0);
    const std::string shot = dir.File("shot.png");
    ASSERT_EQ(cz::test::RunCommand(
                  "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                  "--disable-background-networking --disable-component-update --disable-sync --user-data-dir=" +
                  Q(dir.File("profile")) + " --window-size=900,1000 --screenshot=" + Q(shot) + " " +
                  Q("file://" + dir.File("r.html")) + " >/dev/null 2>&1"),
              0);
    const std::string counts = dir.File("counts.txt");
    ASSERT_EQ(cz::test::RunCommand("python3 " + Q(cz::test::SourceDir() + "/tests/cli/data/screenshot_colours.py") +
                                   " " + Q(shot) + " 2b6cb0 2f855a c53030 >" + Q(counts)),
              0);
    const auto text = ReadFileBytes(counts);
    unsigned long blue = 0, green = 0, red = 0;
    ASSERT_EQ(std::sscanf(std::string(text.begin(), text.end()).c_str(), "%lu %lu %lu", &blue, &green, &red), 3);
    // Each picture is 720 x 90 pixels; a steady tone fills most of its band.
    EXPECT_GT(blue, 5000u);
    EXPECT_GT(green, 5000u);
    EXPECT_GT(red, 1000u);  // at least the two-pixel band of the error line
}

TEST(CliTool, PackLaysOutTheImageAndItsHeader) {
    cz::test::TempDir dir;
    std::vector<std::string> inputs;
    std::string args;
    for (int i = 0; i < 3; ++i) {
        inputs.push_back(dir.File(i == 2 ? "2-go.wav" : "p" + std::to_string(i) + ".wav"));
        ASSERT_TRUE(cz::test::WriteFileBytes(inputs.back(), VoiceWav(3000 + 1001 * i, 200.0 + 100 * i)));
        args += " " + Q(inputs.back());
    }
    const std::string image = dir.File("prompts.bin");
    ASSERT_EQ(Cadenzor("pack -q" + args + " --to apm -o " + Q(image), dir).status, 0);
    const auto bytes = ReadFileBytes(image);
    ASSERT_GE(bytes.size(), 32u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "CZPK");
    EXPECT_EQ(cz::test::Le16(bytes.data() + 4), 1u);
    EXPECT_EQ(cz::test::Le16(bytes.data() + 6), 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        // Each entry is the binary convert --bin makes of the prompt.
        ASSERT_EQ(
            Cadenzor("convert -y " + Q(inputs[i]) + " " + Q(dir.File("one.apm")) + " --bin " + Q(dir.File("one.bin")),
                     dir)
                .status,
            0);
        const auto one = ReadFileBytes(dir.File("one.bin"));
        const uint32_t offset = cz::test::Le32(bytes.data() + 8 + 8 * i);
        const uint32_t length = cz::test::Le32(bytes.data() + 12 + 8 * i);
        EXPECT_EQ(offset % 4, 0u);
        ASSERT_EQ(length, one.size());
        ASSERT_LE(offset + length, bytes.size());
        EXPECT_TRUE(std::equal(one.begin(), one.end(), bytes.begin() + offset));
    }
    const auto h = ReadFileBytes(image + ".h");
    const std::string header(h.begin(), h.end());
    EXPECT_NE(header.find("PROMPTS_P_2_GO = 2"), std::string::npos) << header.substr(0, 400);
    if (cz::test::HaveTool("cc")) {
        const std::string c = "#include \"" + image +
                              ".h\"\nint f(void){return prompts[prompts_offset[PROMPTS_P1]] + "
                              "(int)prompts_size[PROMPTS_COUNT - 1];}\n";
        ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("u.c"), {c.begin(), c.end()}));
        EXPECT_EQ(
            cz::test::RunCommand("cc -std=c99 -Wall -Werror -c " + Q(dir.File("u.c")) + " -o " + Q(dir.File("u.o"))),
            0);
    }
    // The budget applies to the pack.
    EXPECT_EQ(Cadenzor("pack -q -y" + args + " --to apm -o " + Q(image) + " --budget 100", dir).status, 3);
}

TEST(CliTool, PlayRendersAndHandsTheSoundToAPlayer) {
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in.wav"), VoiceWav(3000)));
    ASSERT_EQ(Cadenzor("convert " + Q(dir.File("in.wav")) + " " + Q(dir.File("c.apm")), dir).status, 0);
#if !defined(_WIN32)
    // A stand-in player that keeps a copy of what it was given.
    const std::string player = dir.File("player.sh");
    const std::string script = "#!/bin/sh\ncp \"$1\" '" + dir.File("heard.wav") + "'\n";
    ASSERT_TRUE(cz::test::WriteFileBytes(player, {script.begin(), script.end()}));
    ASSERT_EQ(cz::test::RunCommand("chmod +x " + Q(player)), 0);
    ASSERT_EQ(Cadenzor("play " + Q(dir.File("c.apm")) + " --player " + Q(player), dir).status, 0);
    const auto heard = ReadFileBytes(dir.File("heard.wav"));
    ASSERT_GT(heard.size(), 44u);
    ASSERT_EQ(Cadenzor("convert " + Q(dir.File("c.apm")) + " " + Q(dir.File("played.wav")), dir).status, 0);
    EXPECT_EQ(heard, ReadFileBytes(dir.File("played.wav")));
#endif
    auto none = Cadenzor("play " + Q(dir.File("c.apm")) + " --player none", dir);
    EXPECT_EQ(none.status, 0);
    EXPECT_NE(none.out.find("c.apm.wav"), std::string::npos) << none.out;
}

}  // namespace
