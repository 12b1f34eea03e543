// What the tool writes beside its outputs and what it refuses: the byte-array
// headers of XMF and IMF outputs and of batch binaries (names that compile and
// never collide), the settings batch keeps of its outputs, the failures of
// pack told in words, the report page never written over its input, and
// rates no chip plays refused with the way out.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;
using cz::test::FileExists;
using cz::test::ReadFileBytes;

std::string Q(const std::string& path) { return "'" + path + "'"; }

std::vector<uint8_t> ToneWav(uint32_t rate, uint16_t channels, size_t frames, double freq = 300.0) {
    std::vector<int16_t> pcm(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (uint16_t c = 0; c < channels; ++c)
            pcm[i * channels + c] = static_cast<int16_t>(8000.0 * std::sin(i * 2 * 3.14159265358979 * freq / rate));
    return cz::test::RiffBuilder().Fmt(1, channels, rate, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(pcm)).Bytes();
}

// Format 0, 96 ticks a quarter, two notes.
const std::vector<uint8_t> kSong = {'M',  'T', 'h', 'd',  0,  0,   0,    6,    0,    0,    0,    1,    0,    96,   'M',
                                    'T',  'r', 'k', 0,    0,  0,   22,   0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90, 0x00,
                                    0x90, 60,  100, 0x60, 62, 100, 0x60, 0x80, 60,   0,    0x00, 0xFF, 0x2F, 0x00};

bool Compiles(const cz::test::TempDir& dir, const std::string& source) {
    if (!cz::test::WriteFileBytes(dir.File("u.c"), {source.begin(), source.end()})) return false;
    return cz::test::RunCommand("cc -std=c99 -Wall -Werror -c " + Q(dir.File("u.c")) + " -o " + Q(dir.File("u.o")) +
                                " 2>" + Q(dir.File("cc.txt"))) == 0;
}

// MIDI and WAV to XMF or IMF: each output gets OUTPUT.h, named after the whole
// file name, refused when it exists, told by -v, and it compiles beside the
// others of the same song.
TEST(CliSideOutputs, XmfAndImfHeadersAreTheirOwn) {
    cz::test::TempDir dir;
    const std::string mid = dir.File("2nd-song.mid"), wav = dir.File("2nd-voice.wav");
    ASSERT_TRUE(cz::test::WriteFileBytes(mid, kSong));
    ASSERT_TRUE(cz::test::WriteFileBytes(wav, ToneWav(16000, 1, 4000)));
    struct Case {
        std::string input, output, array;
    };
    const Case cases[] = {{mid, "2nd-song.xmf", "g_aby2nd_song_xmf"},
                          {mid, "2nd-song.imf", "g_aby2nd_song_imf"},
                          {wav, "2nd-voice.xmf", "g_aby2nd_voice_xmf"}};
    std::string includes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string out = dir.File(c.output), header = out + ".h";
        auto run = Cadenzor("convert -v " + Q(c.input) + " " + Q(out), dir);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find(c.output + ".h"), std::string::npos) << run.out;  // -v names the header
        const auto bytes = ReadFileBytes(header);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_EQ(text.rfind("const unsigned char " + c.array + "[] = \r\n{\r\n0x", 0), 0u) << text.substr(0, 80);
        includes += "#include \"" + header + "\"\n";

        // An existing header without -y: refused, nothing written.
        ASSERT_EQ(cz::test::RunCommand("rm " + Q(out)), 0);
        ASSERT_TRUE(cz::test::WriteFileBytes(header, {'/', '*'}));
        auto refused = Cadenzor("convert " + Q(c.input) + " " + Q(out), dir);
        EXPECT_EQ(refused.status, 2) << refused.out;
        EXPECT_NE(refused.out.find(c.output + ".h: the file exists"), std::string::npos) << refused.out;
        EXPECT_FALSE(FileExists(out));
        EXPECT_EQ(ReadFileBytes(header), (std::vector<uint8_t>{'/', '*'}));
        ASSERT_EQ(Cadenzor("convert -y " + Q(c.input) + " " + Q(out), dir).status, 0);
        EXPECT_EQ(ReadFileBytes(header), bytes);
    }
    EXPECT_FALSE(FileExists(dir.File("2nd-song.h")));
    if (cz::test::HaveTool("cc")) EXPECT_TRUE(Compiles(dir, includes + "int f(void){return g_aby2nd_song_imf[0];}\n"));
}

// A batch's firmware headers: one symbol and guard per binary, whatever the
// folders and names hold, so that every header of a tree goes into one
// program.
TEST(CliSideOutputs, BatchFirmwareHeadersAreUniqueIdentifiers) {
    cz::test::TempDir dir;
    const std::string in = dir.File("in"), out = dir.File("out");
    ASSERT_EQ(cz::test::RunCommand("mkdir -p " + Q(in + "/dup/menu") + " " + Q(in + "/dup/alerts")), 0);
    const char* names[] = {"/dup/menu/beep.wav", "/dup/alerts/beep.wav", "/2nd-prompt.wav", "/dup/Beep.wav"};
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(cz::test::WriteFileBytes(in + names[i], ToneWav(16000, 1, 2000 + 500 * i, 200.0 + 100 * i)));
    auto run = Cadenzor("batch -q " + Q(in) + " " + Q(out) + " --to apm --bin --header-style firmware", dir);
    ASSERT_EQ(run.status, 0) << run.out;
    std::string includes;
    std::vector<std::string> guards;
    for (const char* name : names) {
        const std::string header = out + std::string(name).substr(0, std::string(name).size() - 4) + ".bin.h";
        const auto bytes = ReadFileBytes(header);
        const std::string text(bytes.begin(), bytes.end());
        const size_t at = text.find("#ifndef ");
        ASSERT_NE(at, std::string::npos) << header;
        const std::string guard = text.substr(at + 8, text.find('\n', at) - at - 8);
        EXPECT_TRUE(guard[0] < '0' || guard[0] > '9') << guard;
        for (const auto& other : guards) EXPECT_NE(guard, other);
        guards.push_back(guard);
        includes += "#include \"" + header + "\"\n";
    }
    EXPECT_EQ(guards[2], "RES_2ND_PROMPT_BIN_H");
    if (cz::test::HaveTool("cc"))
        EXPECT_TRUE(Compiles(dir, includes + "int f(void){return dup_menu_beep_bin[0] + dup_alerts_beep_bin[0] + "
                                             "res_2nd_prompt_bin[0] + dup_Beep_bin[0];}\n"));
}

// A second run keeps only outputs made with the same settings from the same
// input; other settings, or a changed input, make them again.
TEST(CliSideOutputs, BatchRedoesOutputsWhoseSettingsChanged) {
    cz::test::TempDir dir;
    const std::string in = dir.File("in"), out = dir.File("out");
    ASSERT_EQ(cz::test::RunCommand("mkdir -p " + Q(in)), 0);
    for (const char* name : {"/a.wav", "/b.wav"})
        ASSERT_TRUE(cz::test::WriteFileBytes(in + name, ToneWav(22050, 1, 6000)));
    struct Step {
        std::string options;
        const char* counts;
    };
    const Step steps[] = {
        {"", "\"converted\": 2, \"skipped\": 0"},
        {"", "\"converted\": 0, \"skipped\": 2"},
        {"--rate 8000", "\"converted\": 2, \"skipped\": 0"},
        {"--rate 8000", "\"converted\": 0, \"skipped\": 2"},
        {"--rate 8000 --mode 3", "\"converted\": 2, \"skipped\": 0"},
        {"--rate 8000 --mode 3 --compatible", "\"converted\": 2, \"skipped\": 0"},
        {"--rate 8000 --mode 3 --compatible --bin", "\"converted\": 2, \"skipped\": 0"},
        {"--rate 8000 --mode 3 --compatible --bin", "\"converted\": 0, \"skipped\": 2"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.options);
        auto run = Cadenzor("batch -q " + Q(in) + " " + Q(out) + " --to apm --json " + step.options, dir);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find(step.counts), std::string::npos) << run.out;
    }
    auto info = Cadenzor("info " + Q(out + "/a.apm"), dir);
    EXPECT_NE(info.out.find("8000 Hz"), std::string::npos) << info.out;
    // An input replaced by one of another length (its time may not move).
    ASSERT_TRUE(cz::test::WriteFileBytes(in + "/b.wav", ToneWav(22050, 1, 9000)));
    ASSERT_EQ(cz::test::RunCommand("touch -r " + Q(out + "/b.apm") + " " + Q(in + "/b.wav")), 0);
    auto changed =
        Cadenzor("batch -q " + Q(in) + " " + Q(out) + " --to apm --json --rate 8000 --mode 3 --compatible --bin", dir);
    EXPECT_NE(changed.out.find("\"converted\": 1, \"skipped\": 1"), std::string::npos) << changed.out;
}

// pack says why it failed; report never writes its page over its input.
TEST(CliSideOutputs, PackAndReportFailuresAreTold) {
    cz::test::TempDir dir;
    const std::string good = dir.File("good.wav"), empty = dir.File("empty.wav");
    ASSERT_TRUE(cz::test::WriteFileBytes(good, ToneWav(16000, 1, 4000)));
    ASSERT_TRUE(cz::test::WriteFileBytes(empty, {}));
    struct Case {
        std::string args;
        std::string said;
        int status;
    };
    const Case cases[] = {
        {Q(dir.File("missing.wav")) + " " + Q(good) + " --to apm", "missing.wav: No such file", 2},
        {Q(good) + " " + Q(empty) + " --to apm", "empty.wav: the file is empty", 2},
        // Refused before any work: the format makes no binary.
        {Q(good) + " --to md6", "MD6 makes no chip resource binary: pack needs one of apm", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        auto run = Cadenzor("pack -q " + c.args + " -o " + Q(dir.File("p.bin")), dir);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.out.find(c.said), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("nothing was written; nothing was written"), std::string::npos) << run.out;
        EXPECT_FALSE(FileExists(dir.File("p.bin")));
    }
    const auto before = ReadFileBytes(good);
    auto report = Cadenzor("report -q -y " + Q(good) + " --to mdm --html " + Q(good), dir);
    EXPECT_EQ(report.status, 2) << report.out;
    EXPECT_NE(report.out.find("is also the input"), std::string::npos) << report.out;
    EXPECT_EQ(ReadFileBytes(good), before);
}

// A chip format holds 4000 to 48000 Hz: a sound or a --rate outside that is
// refused with the limit and the option that helps, unless --any-rate.
TEST(CliSideOutputs, RatesNoChipPlaysAreRefusedWithTheWayOut) {
    cz::test::TempDir dir;
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("mono96.wav"), ToneWav(96000, 1, 9600)));
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("six96.wav"), ToneWav(96000, 6, 9600)));
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("voice.wav"), ToneWav(16000, 1, 4000)));
    struct Case {
        const char* input;
        const char* output;
        const char* options;
        int status;
        const char* said;  // nullptr: made
    };
    const char* kLimit = "the chip formats hold 4000 to 48000 Hz: use --rate 48000 or lower";
    const Case cases[] = {
        {"mono96.wav", "o.apm", "", 2, kLimit},
        {"mono96.wav", "o.mdm", "", 2, kLimit},
        {"mono96.wav", "o.esb", "", 2, kLimit},
        {"six96.wav", "o.apm", "", 2, kLimit},
        {"voice.wav", "o.apm", "--rate 3000", 1, "use --any-rate to write it anyway"},
        {"voice.wav", "o.apm", "--rate 50000", 1, "use --any-rate to write it anyway"},
        {"mono96.wav", "o.apm", "--rate 48000", 0, nullptr},
        {"six96.wav", "o.mdm", "--rate 8000", 0, nullptr},
        {"voice.wav", "o.apm", "--rate 3000 --any-rate", 0, nullptr},
        {"mono96.wav", "o.wav", "", 0, nullptr},  // a WAV file holds any rate
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input) + " " + c.output + " " + c.options);
        const std::string output = dir.File(c.output);
        auto run = Cadenzor("convert -q -y " + Q(dir.File(c.input)) + " " + Q(output) + " " + c.options, dir);
        EXPECT_EQ(run.status, c.status) << run.out;
        if (c.said) {
            EXPECT_NE(run.out.find(c.said), std::string::npos) << run.out;
            EXPECT_FALSE(FileExists(output));
        }
        cz::test::RunCommand("rm -f " + Q(output));
    }
}

}  // namespace

namespace {

// Budget advice is measured, not extrapolated: every choice it proposes fits
// when run as proposed, bit rates are among the choices, and no rate is above
// the sounds' own.
TEST(CliSideOutputs, BudgetAdviceFitsWhenFollowed) {
    cz::test::TempDir dir;
    const std::string in = dir.File("in");
    ASSERT_EQ(cz::test::RunCommand("mkdir -p " + Q(in)), 0);
    for (int i = 0; i < 3; ++i) {
        // Noisy voice at 8 kHz: the ADPCM formats stay near 4 bits a sample.
        std::vector<int16_t> pcm(8000 + 4000 * i);
        uint32_t seed = 11u + i;
        for (size_t k = 0; k < pcm.size(); ++k) {
            seed = seed * 1103515245u + 12345u;
            pcm[k] = static_cast<int16_t>(6000.0 * std::sin(k * 0.3) + static_cast<int>((seed >> 16) % 6000) - 3000);
        }
        ASSERT_TRUE(cz::test::WriteFileBytes(
            in + "/p" + std::to_string(i) + ".wav",
            cz::test::RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("data", cz::test::RiffBuilder::Pcm16(pcm)).Bytes()));
    }
    // 4.5 s of sound: about 18 KiB as MDM, some 2.5 KiB at 4000 bit/s.
    const std::string budget = "4K";
    auto run = Cadenzor("batch -q " + Q(in) + " " + Q(dir.File("out")) + " --to mdm --budget " + budget, dir);
    ASSERT_EQ(run.status, 3) << run.out;
    std::vector<std::string> choices;
    for (size_t at = run.out.find("\n  --to "); at != std::string::npos; at = run.out.find("\n  --to ", at + 1))
        choices.push_back(run.out.substr(at + 3, run.out.find(" (", at) - at - 3));
    ASSERT_FALSE(choices.empty()) << run.out;
    EXPECT_NE(run.out.find("--bitrate"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("--rate 8000"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("--rate 1"), std::string::npos) << run.out;  // 16000, 12000, 11025
    for (const auto& choice : choices) {
        SCOPED_TRACE(choice);
        auto follow =
            Cadenzor("batch -q " + Q(in) + " " + Q(dir.File("follow")) + " " + choice + " --budget " + budget, dir);
        EXPECT_EQ(follow.status, 0) << follow.out;
    }
    // The same for a pack, its table and alignment counted.
    auto pack = Cadenzor("pack -q " + Q(in + "/p0.wav") + " " + Q(in + "/p1.wav") + " " + Q(in + "/p2.wav") +
                             " --to mdm -o " + Q(dir.File("p.bin")) + " --budget " + budget,
                         dir);
    ASSERT_EQ(pack.status, 3) << pack.out;
    const size_t at = pack.out.find("\n  --to ");
    ASSERT_NE(at, std::string::npos) << pack.out;
    const std::string choice = pack.out.substr(at + 3, pack.out.find(" (", at) - at - 3);
    auto follow = Cadenzor("pack -q -y " + Q(in + "/p0.wav") + " " + Q(in + "/p1.wav") + " " + Q(in + "/p2.wav") + " " +
                               choice + " -o " + Q(dir.File("p.bin")) + " --budget " + budget,
                           dir);
    EXPECT_EQ(follow.status, 0) << choice << "\n" << follow.out;
}

}  // namespace

namespace {

// info (every kind of file), report, batch and formats write the fields
// docs/json.md names, with the same names for the same facts.
TEST(CliJson, OutputsMatchTheDocumentedFields) {
    if (!cz::test::HaveTool("python3")) GTEST_SKIP() << "python3 is needed";
    cz::test::TempDir dir;
    const std::string in = dir.File("in"), wav = in + "/voice.wav";
    ASSERT_EQ(cz::test::RunCommand("mkdir -p " + Q(in)), 0);
    ASSERT_TRUE(cz::test::WriteFileBytes(wav, ToneWav(16000, 1, 8000)));
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("song.mid"), kSong));
    ASSERT_TRUE(cz::test::WriteFileBytes(in + "/bad.wav", {'R', 'I', 'F', 'F'}));
    ASSERT_EQ(Cadenzor("convert -q " + Q(dir.File("song.mid")) + " " + Q(dir.File("song.imf")), dir).status, 0);
    ASSERT_EQ(Cadenzor("convert -q " + Q(wav) + " " + Q(dir.File("voice.apm")), dir).status, 0);
    // A speech XMF, a melody XMF, a chip binary and a pack image of two prompts and a melody.
    ASSERT_EQ(Cadenzor("convert -q " + Q(wav) + " " + Q(dir.File("voice.xmf")), dir).status, 0);
    ASSERT_EQ(Cadenzor("convert -q " + Q(dir.File("song.mid")) + " " + Q(dir.File("song.xmf")), dir).status, 0);
    ASSERT_EQ(
        Cadenzor("convert -q " + Q(wav) + " " + Q(dir.File("voice.p10")) + " --bin " + Q(dir.File("voice.bin")), dir)
            .status,
        0);
    ASSERT_EQ(Cadenzor("pack -q " + Q(wav) + " " + Q(dir.File("voice.apm")) + " " + Q(dir.File("song.imf")) +
                           " --to mcp -o " + Q(dir.File("img.bin")),
                       dir)
                  .status,
              0);
    struct Case {
        std::string command;
        std::string checks;
    };
    std::vector<Case> cases = {
        {"info --json " + Q(wav) + " " + Q(dir.File("voice.apm")) + " " + Q(dir.File("song.mid")) + " " +
             Q(dir.File("song.imf")) + " " + Q(dir.File("missing.wav")),
         "info-sound=[0] info-sound=[1] info-midi=[2] info-imf=[3] info-error=[4]"},
        {"info --json " + Q(dir.File("voice.xmf")) + " " + Q(dir.File("song.xmf")) + " " + Q(dir.File("voice.bin")) +
             " " + Q(dir.File("img.bin")),
         "info-xmf=[0] info-xmf=[1] xmf-node=[0].nodes[] xmf-node=[1].nodes[] info-binary=[2] info-pack=[3] "
         "pack-entry=[3].entries[]"},
        {"report -q " + Q(wav) + " --to apm,md6 --json", "report=. report-format=formats[]"},
        {"batch -q " + Q(in) + " " + Q(dir.File("out")) + " --to mdm --json --budget 2K",
         "batch=. batch-output=outputs[] budget=budget budget-choice=budget.would_fit[]"},
        {"formats --json", "formats-class=[]"},
    };
    const std::string wma = cz::test::TestDataDir() + "/asf/wma92-48k-pro.wma";
    if (cz::test::FileExists(wma)) cases.push_back({"info --json " + Q(wma), "info-wma=[0] wma-stream=[0].streams[]"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        // Standard output alone: the messages go to standard error.
        cz::test::RunCommand("'" + cz::test::BinDir() + "/cadenzor' " + c.command + " >" + Q(dir.File("out.json")) +
                             " 2>/dev/null");
        const auto out = ReadFileBytes(dir.File("out.json"));
        const std::string text(out.begin(), out.end());
        EXPECT_EQ(cz::test::RunCommand("python3 " + Q(cz::test::SourceDir() + "/tests/cli/data/check_json_fields.py") +
                                       " " + Q(cz::test::SourceDir() + "/docs/json.md") + " " +
                                       Q(dir.File("out.json")) + " " + c.checks + " >" + Q(dir.File("why.txt"))),
                  0)
            << text << "\n"
            << [&] {
                   const auto why = ReadFileBytes(dir.File("why.txt"));
                   return std::string(why.begin(), why.end());
               }();
    }
    // Both XMF files say how long they play; no size is ever -1.
    auto xmf = Cadenzor("info --json " + Q(dir.File("voice.xmf")) + " " + Q(dir.File("song.xmf")), dir);
    EXPECT_EQ(xmf.out.find("\"duration_s\": null"), std::string::npos) << xmf.out;
    EXPECT_NE(xmf.out.find("\"duration_s\": 0.5"), std::string::npos) << xmf.out;
    auto report = Cadenzor("report -q " + Q(wav) + " --to md6 --json --html " + Q(dir.File("r.html")), dir);
    EXPECT_EQ(report.out.find("-1"), std::string::npos) << report.out;
    const auto page = ReadFileBytes(dir.File("r.html"));
    EXPECT_EQ(std::string(page.begin(), page.end()).find("<td>-1</td>"), std::string::npos);
}

}  // namespace

namespace {

// The report page in a real browser: the source and every rendition play
// (their audio elements load with the sound's duration), the size-against-
// quality chart has a drawn point per format and each error-level chart its
// two lines.
TEST(CliReportPage, AudioLoadsAndChartsDrawInChromium) {
    if (!cz::test::HaveTool("chromium")) GTEST_SKIP() << "chromium is not installed (scripts/deps.sh test)";
    if (!cz::test::HaveTool("python3")) GTEST_SKIP() << "python3 is needed";
    cz::test::TempDir dir;
    // 0.75 s at 16 kHz; APM and MDM keep the rate, ESB codes at 8 kHz.
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("in.wav"), ToneWav(16000, 1, 12000, 220.0)));
    auto run =
        Cadenzor("report -q " + Q(dir.File("in.wav")) + " --to apm,mdm,md6 --html " + Q(dir.File("r.html")), dir);
    ASSERT_EQ(run.status, 0) << run.out;
    // The page with a probe appended that writes what the browser made of it.
    ASSERT_EQ(cz::test::RunCommand("(cat " + Q(dir.File("r.html")) + "; echo '<script>'; cat " +
                                   Q(cz::test::SourceDir() + "/tests/cli/data/report_probe.js") +
                                   "; echo '</script>') >" + Q(dir.File("probe.html"))),
              0);
    ASSERT_EQ(cz::test::RunCommand(
                  "timeout 120 chromium --headless --no-sandbox --disable-gpu --no-first-run "
                  "--disable-background-networking --disable-component-update --disable-sync --user-data-dir=" +
                  Q(dir.File("profile")) + " --virtual-time-budget=20000 --dump-dom " +
                  Q("file://" + dir.File("probe.html")) +
                  " 2>/dev/null | sed -n 's:.*<pre id=\"probe\">\\(.*\\)</pre>.*:\\1:p' >" + Q(dir.File("probe.json"))),
              0);
    const auto probe = ReadFileBytes(dir.File("probe.json"));
    ASSERT_FALSE(probe.empty()) << "the page did not finish loading";
    const std::string check =
        "import json,sys; p=json.load(open(sys.argv[1])); a=p['audio']; "
        "assert [x['title'].split(':')[0] for x in a]==['source','apm','mdm','md6'], a; "
        "assert all(x['error']==0 and abs(x['duration']-0.75)<0.01 for x in a), a; "
        "c=p['charts']; assert len(c)==1 and c[0]['points']==3 and c[0]['drawn']==3 and c[0]['width']>0, c; "
        "l=p['levels']; assert len(l)==3 and all(x['lines']==2 and x['length']>700 for x in l), l";
    EXPECT_EQ(cz::test::RunCommand("python3 -c \"" + check + "\" " + Q(dir.File("probe.json"))), 0)
        << std::string(probe.begin(), probe.end());
}

}  // namespace
