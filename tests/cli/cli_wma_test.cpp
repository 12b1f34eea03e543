// The tool on WMA files: "info" on ASF files, "convert x.wma x.wav|apm|mdm
// [--rate HZ]", and the reason a refused stream is given.
#include <gtest/gtest.h>

#include <string>

#include "CliRun.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;

std::string Q(const std::string& path) { return "'" + path + "'"; }
std::string Real(const char* name) { return cz::test::TestDataDir() + "/asf/" + name; }

TEST(CliWma, InfoShowsStreamsTagsAndWhetherItDecodes) {
    for (const char* name : {"wma92-32k.wma", "wma92-48k-pro.wma", "wmv92.wmv"}) CZ_SKIP_WITHOUT_TESTDATA(Real(name));
    cz::test::TempDir dir;
    auto info = Cadenzor("info " + Q(Real("wma92-32k.wma")), dir);
    EXPECT_EQ(info.status, 0) << info.out;
    for (const char* line :
         {"stream 1:    WMA version 2 (format tag 0x0161), 22050 Hz, stereo, 32.0 kbit/s", "duration:    1.023 s",
          "title:       Voice Test", "author:      Author String", "decodable:   yes"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;

    auto pro = Cadenzor("info --json " + Q(Real("wma92-48k-pro.wma")), dir);
    EXPECT_EQ(pro.status, 0) << pro.out;
    EXPECT_NE(pro.out.find("\"codec\": \"WMA Professional\""), std::string::npos) << pro.out;
    EXPECT_NE(pro.out.find("\"decodable\": false"), std::string::npos) << pro.out;

    auto video = Cadenzor("info " + Q(Real("wmv92.wmv")), dir);
    EXPECT_EQ(video.status, 2);
    EXPECT_NE(video.out.find("no audio stream"), std::string::npos) << video.out;
}

TEST(CliWma, ConvertDecodesOrSaysWhyNot) {
    for (const char* name : {"wma92-32k.wma", "wma92-vbr.wma", "drm.wma"}) CZ_SKIP_WITHOUT_TESTDATA(Real(name));
    cz::test::TempDir dir;
    auto wav = Cadenzor("convert " + Q(Real("wma92-32k.wma")) + " " + Q(dir.File("a.wav")), dir);
    EXPECT_EQ(wav.status, 0) << wav.out;
    if (cz::test::HaveTool("soxi")) {
        EXPECT_EQ(cz::test::Soxi("-s", dir.File("a.wav"), dir), "22528");  // as many frames as ffmpeg gives
        EXPECT_EQ(cz::test::Soxi("-c", dir.File("a.wav"), dir), "2");
    }
    auto mdm = Cadenzor("convert " + Q(Real("wma92-vbr.wma")) + " " + Q(dir.File("b.mdm")) + " --rate 16000", dir);
    EXPECT_EQ(mdm.status, 0) << mdm.out;
    EXPECT_TRUE(cz::test::FileExists(dir.File("b.mdm")));

    auto drm = Cadenzor("convert " + Q(Real("drm.wma")) + " " + Q(dir.File("c.wav")), dir);
    EXPECT_EQ(drm.status, 2);
    EXPECT_NE(drm.out.find("protected"), std::string::npos) << drm.out;
    EXPECT_FALSE(cz::test::FileExists(dir.File("c.wav")));
}

}  // namespace
