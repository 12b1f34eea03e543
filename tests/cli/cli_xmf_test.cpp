// The tool on XMF files: "info x.xmf" (type and node tree), "convert x.xmf
// x.mid [--dls x.dls] [--for-play]" and "convert x.xmf x.wav".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "CliRun.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;

std::string Real() { return cz::test::TestDataDir() + "/xmf/testmxmf.mxmf"; }

TEST(CliXmf, InfoAndSplitOfTheRealMobileXmf) {
    CZ_SKIP_WITHOUT_TESTDATA(Real());
    cz::test::TempDir dir;
    auto info = Cadenzor("info '" + Real() + "'", dir);
    EXPECT_EQ(info.status, 0) << info.out;
    for (const char* line : {"XMF 2.00 (Mobile XMF, file type 2 revision 1)",
                             "type 7: Standard MIDI File with DLS bank", "  folder, 2 items",
                             "    Mobile DLS, 563694 bytes \"Leadsol.dls\"", "    SMF type 0, 1958 bytes \"Sol.mid\""})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;

    const std::string mid = dir.File("s.mid"), dls = dir.File("s.dls");
    auto split = Cadenzor("convert '" + Real() + "' '" + mid + "' --dls '" + dls + "'", dir);
    EXPECT_EQ(split.status, 0) << split.out;
    EXPECT_EQ(cz::test::ReadFileBytes(dls).size(), 563694u);
    EXPECT_EQ(cz::test::ReadFileBytes(mid).size(), 1958u);
    // Existing outputs stay unless -y; for play both files are replaced.
    auto again = Cadenzor("convert '" + Real() + "' '" + mid + "' --dls '" + dls + "' --for-play", dir);
    EXPECT_EQ(again.status, 2) << again.out;
    auto play = Cadenzor("convert -y '" + Real() + "' '" + mid + "' --dls '" + dls + "' --for-play", dir);
    EXPECT_EQ(play.status, 0) << play.out;
    EXPECT_GT(cz::test::ReadFileBytes(mid).size(), 1958u);  // bank selects added

    // Usage errors and refusals write nothing.
    const std::string none = dir.File("none.mid");
    for (const std::string& args :
         {"'" + Real() + "' '" + none + "' --for-play", "'" + Real() + "' '" + dir.File("x.wav") + "'",
          "'" + Real() + "' '" + dir.File("x.txt") + "'"}) {
        auto r = Cadenzor("convert " + args, dir);
        EXPECT_NE(r.status, 0) << args << "\n" << r.out;
    }
    EXPECT_FALSE(cz::test::FileExists(none));
    EXPECT_FALSE(cz::test::FileExists(dir.File("x.wav")));
}

TEST(CliXmf, SpeechXmfBackToWav) {
    if (!cz::test::HaveTool("sox")) GTEST_SKIP() << "sox is needed";
    cz::test::TempDir dir;
    const std::string wav = dir.File("v.wav"), xmf = dir.File("v.xmf"), back = dir.File("back.wav");
    ASSERT_EQ(cz::test::RunCommand("sox -n -r 16000 -b 16 -c 1 '" + wav + "' synth 0.2 sine 300 2>/dev/null"), 0);
    ASSERT_EQ(Cadenzor("convert '" + wav + "' '" + xmf + "'", dir).status, 0);
    auto info = Cadenzor("info '" + xmf + "'", dir);
    EXPECT_NE(info.out.find("type 5: coded speech resource (RBF)"), std::string::npos) << info.out;
    auto r = Cadenzor("convert '" + xmf + "' '" + back + "'", dir);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(cz::test::Soxi("-r", back, dir), "16000");
    auto mid = Cadenzor("convert '" + xmf + "' '" + dir.File("v.mid") + "'", dir);
    EXPECT_EQ(mid.status, 2);
    EXPECT_NE(mid.out.find("could not be turned into MIDI"), std::string::npos) << mid.out;
    auto bad = Cadenzor("info '" + wav + "' '" + dir.File("junk.xmf") + "'", dir);
    EXPECT_EQ(bad.status, 2);
}

}  // namespace
