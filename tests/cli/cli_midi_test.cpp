// The tool on MIDI files and XMF outputs: "info song.mid", "convert x.wav
// x.xmf [--rate HZ]" and "convert x.apm x.xmf".
#include <gtest/gtest.h>

#include <string>

#include "CliRun.h"
#include "support/TestSupport.h"

namespace {

using cz::test::Cadenzor;

TEST(CliMidi, InfoOnAStandardMidiFile) {
    cz::test::TempDir dir;
    // Format 0, 96 ticks a quarter, tempo 250000 us, two notes, 192 ticks.
    const std::vector<uint8_t> song = {'M',  'T',  'h',  'd',  0,    0,    0,    6,    0,    0,    0,
                                       1,    0,    96,   'M',  'T',  'r',  'k',  0,    0,    0,    22,
                                       0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90, 0x00, 0x90, 60,   100,
                                       0x60, 62,   100,  0x60, 0x80, 60,   0,    0x00, 0xFF, 0x2F, 0x00};
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("song.mid"), song));
    auto info = Cadenzor("info '" + dir.File("song.mid") + "'", dir);
    EXPECT_EQ(info.status, 0) << info.out;
    for (const char* line :
         {"format:      0", "tracks:      1", "division:    96 ticks per quarter note",
          "tempo:       250000 us per quarter note (240.00 bpm)", "notes:       2", "length:      192 ticks (0.500 s)"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;

    std::vector<uint8_t> cut(song.begin(), song.end() - 3);
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("cut.mid"), cut));
    auto bad = Cadenzor("info '" + dir.File("cut.mid") + "'", dir);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.out.find("not a readable Standard MIDI File"), std::string::npos) << bad.out;
}

TEST(CliMidi, ConvertSoundsToXmf) {
    if (!cz::test::HaveTool("sox")) GTEST_SKIP() << "sox is needed";
    cz::test::TempDir dir;
    const std::string wav = dir.File("voice.wav");
    ASSERT_EQ(cz::test::RunCommand("sox -n -r 16000 -b 16 -c 1 '" + wav + "' synth 0.2 sine 300 2>/dev/null"), 0);
    auto plain = Cadenzor("convert '" + wav + "' '" + dir.File("voice.xmf") + "'", dir);
    EXPECT_EQ(plain.status, 0) << plain.out;
    EXPECT_TRUE(cz::test::FileExists(dir.File("voice.xmf.h")));
    auto rate = Cadenzor("convert '" + wav + "' '" + dir.File("slow.xmf") + "' --rate 8000", dir);
    EXPECT_EQ(rate.status, 0) << rate.out;
    EXPECT_LT(cz::test::ReadFileBytes(dir.File("slow.xmf")).size(),
              cz::test::ReadFileBytes(dir.File("voice.xmf")).size());
    // With --compatible the XMF chain codes its APM as the exported functions
    // do: the same APM made directly and packed gives the same XMF.
    ASSERT_EQ(Cadenzor("convert '" + wav + "' '" + dir.File("voice.apm") + "' --compatible", dir).status, 0);
    auto apm = Cadenzor("convert '" + dir.File("voice.apm") + "' '" + dir.File("apm.xmf") + "'", dir);
    EXPECT_EQ(apm.status, 0) << apm.out;
    ASSERT_EQ(Cadenzor("convert '" + wav + "' '" + dir.File("compat.xmf") + "' --compatible", dir).status, 0);
    EXPECT_EQ(cz::test::ReadFileBytes(dir.File("apm.xmf")), cz::test::ReadFileBytes(dir.File("compat.xmf")));
    // By default the searching coder codes it: another APM in the same XMF layout.
    EXPECT_NE(cz::test::ReadFileBytes(dir.File("compat.xmf")), cz::test::ReadFileBytes(dir.File("voice.xmf")));
    EXPECT_EQ(Cadenzor("convert '" + wav + "' '" + dir.File("voice.xmf") + "'", dir).status, 2);  // exists
}

TEST(CliMidi, MidiToImfAndXmfAndBack) {
    cz::test::TempDir dir;
    // Format 0, 96 ticks a quarter: two notes and a lyric.
    const std::vector<uint8_t> song = {'M',  'T', 'h',  'd',  0,   0,   0,    6,    0,    0,   0,    1,
                                       0,    96,  'M',  'T',  'r', 'k', 0,    0,    0,    24,  0x00, 0x90,
                                       60,   100, 0x00, 0xFF, 5,   2,   'l',  'a',  0x60, 62,  90,   0x60,
                                       0x80, 60,  0,    0x00, 62,  0,   0x00, 0xFF, 0x2F, 0x00};
    const std::string mid = dir.File("song.mid");
    ASSERT_TRUE(cz::test::WriteFileBytes(mid, song));
    auto imf = Cadenzor("convert '" + mid + "' '" + dir.File("song.imf") + "'", dir);
    ASSERT_EQ(imf.status, 0) << imf.out;
    EXPECT_TRUE(cz::test::FileExists(dir.File("song.imf.h")));
    auto info = Cadenzor("info '" + dir.File("song.imf") + "'", dir);
    EXPECT_EQ(info.status, 0) << info.out;
    for (const char* line : {"IMF melody", "division:    96 ticks per quarter note", "channels:    1", "notes:       2",
                             "1 texts", "length:      192 ticks (1.000 s)"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;

    auto xmf = Cadenzor("convert '" + mid + "' '" + dir.File("song.xmf") + "'", dir);
    ASSERT_EQ(xmf.status, 0) << xmf.out;
    auto back = Cadenzor("convert '" + dir.File("song.xmf") + "' '" + dir.File("back.mid") + "'", dir);
    EXPECT_EQ(back.status, 0) << back.out;
    auto backInfo = Cadenzor("info '" + dir.File("back.mid") + "'", dir);
    EXPECT_NE(backInfo.out.find("notes:       2"), std::string::npos) << backInfo.out;

    // Refusals name the file and the reason.
    auto rate = Cadenzor("convert '" + mid + "' '" + dir.File("r.xmf") + "' --rate 8000", dir);
    EXPECT_EQ(rate.status, 1);
    EXPECT_NE(rate.out.find("--rate does not apply to MIDI input"), std::string::npos) << rate.out;
    auto notMidi = Cadenzor("convert '" + dir.File("song.imf.h") + "' '" + dir.File("x.imf") + "'", dir);
    EXPECT_NE(notMidi.status, 0);
    EXPECT_NE(notMidi.out.find("made from a Standard MIDI File only"), std::string::npos) << notMidi.out;
    std::vector<uint8_t> cut(song.begin(), song.end() - 6);
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("cut.mid"), cut));
    auto bad = Cadenzor("convert '" + dir.File("cut.mid") + "' '" + dir.File("cut.imf") + "'", dir);
    EXPECT_EQ(bad.status, 2);
    EXPECT_FALSE(cz::test::FileExists(dir.File("cut.imf")));
}

}  // namespace
