// WAV files written by independent tools load with the samples those tools
// read back from them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RiffBuilder.h"
#include "support/TestSupport.h"
#include "wave/C_WavFile.h"

namespace cz {
namespace {

// Samples of a file as 32-bit values (no dither, no rounding), read by sox.
std::vector<int32_t> SoxSamples(const std::string& path, const test::TempDir& dir) {
    std::string raw = dir.File("ref.raw");
    if (test::RunCommand("sox '" + path + "' -t raw -e signed -b 32 '" + raw + "' 2>/dev/null") != 0) return {};
    auto bytes = test::ReadFileBytes(raw);
    std::vector<int32_t> out(bytes.size() / 4);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int32_t>(bytes[4 * i] | (bytes[4 * i + 1] << 8) | (bytes[4 * i + 2] << 16) |
                                      (static_cast<uint32_t>(bytes[4 * i + 3]) << 24));
    return out;
}

std::vector<int32_t> OurSamples(C_WavFile& file) {
    C_WavData* s = file.Sound();
    std::vector<int32_t> out;
    const int shift = 32 - s->GetWavInfo()->GetValidBits();
    for (uint32_t i = 0; i < s->SampleCount(); ++i)
        for (uint16_t c = 0; c < s->GetWavInfo()->GetChannels(); ++c)
            out.push_back(static_cast<int32_t>(static_cast<uint32_t>(s->Sample(i, c)) << shift));
    return out;
}

TEST(RealWavFiles, SoxAndFfmpegOutputs) {
    if (!test::HaveTool("sox") || !test::HaveTool("ffmpeg")) GTEST_SKIP() << "sox and ffmpeg are needed";
    test::TempDir dir;
    struct Case {
        const char* name;
        std::string command;
        uint16_t channels, validBits;
    } cases[] = {
        {"u8.wav", "sox -n -r 8000 -e unsigned -b 8 -c 1 OUT synth 0.3 sine 440", 1, 8},
        {"s16.wav", "sox -n -r 16000 -b 16 -c 1 OUT synth 0.3 sine 300 gain -3", 1, 16},
        {"s16st.wav", "sox -n -r 22050 -b 16 -c 2 OUT synth 0.3 sine 300 sine 500", 2, 16},
        {"s32.wav", "sox -n -r 8000 -e signed -b 32 -c 1 OUT synth 0.2 sine 1000", 1, 32},
        {"s24.wav", "sox -n -r 48000 -b 24 -c 2 OUT synth 0.2 sine 1000", 2, 24},
        {"odd.wav", "sox -n -r 8000 -e unsigned -b 8 -c 1 OUT synth 0.000625 sine 440", 1, 8},
        {"info.wav",
         "ffmpeg -v error -f lavfi -i sine=f=440:d=0.2 -ac 1 -ar 11025 -metadata title=hello "
         "-metadata comment=x -c:a pcm_s16le -y OUT",
         1, 16},
        {"ext.wav", "ffmpeg -v error -f lavfi -i sine=f=440:d=0.2 -ac 3 -ar 8000 -c:a pcm_s16le -y OUT", 3, 16},
        // ADPCM data loads as 16-bit PCM, sample for sample as sox decodes it.
        {"ima.wav", "sox -n -r 16000 -c 1 -e ima-adpcm OUT synth 0.4 sine 300:2000", 1, 16},
        {"ms_st.wav", "sox -n -r 22050 -c 2 -e ms-adpcm OUT synth 0.4 sine 300 pinknoise", 2, 16},
        {"ima_ff.wav",
         "ffmpeg -v error -f lavfi -i sine=f=440:d=0.3 -ac 2 -ar 8000 -c:a adpcm_ima_wav "
         "-block_size 512 -y OUT",
         2, 16},
    };
    for (const auto& c : cases) {
        std::string path = dir.File(c.name);
        std::string command = c.command;
        command.replace(command.find("OUT"), 3, "'" + path + "'");
        ASSERT_EQ(test::RunCommand(command + " 2>/dev/null"), 0) << command;
        C_WavFile file;
        ASSERT_EQ(file.Load(path.c_str(), 0), 1) << c.name << ": " << WavFileErrorText(file.LastError());
        EXPECT_EQ(file.Sound()->GetWavInfo()->GetChannels(), c.channels) << c.name;
        EXPECT_EQ(file.Sound()->GetWavInfo()->GetValidBits(), c.validBits) << c.name;
        auto ref = SoxSamples(path, dir);
        ASSERT_FALSE(ref.empty()) << c.name;
        EXPECT_EQ(OurSamples(file), ref) << c.name;

        // Saved by us, read by sox: the same samples.
        std::string copy = dir.File(std::string("copy_") + c.name);
        ASSERT_EQ(file.SaveAs(2, copy.c_str()), 1) << c.name;
        EXPECT_EQ(SoxSamples(copy, dir), ref) << c.name;
    }
}

TEST(RealWavFiles, CuePointsAddedToAToolsFile) {
    if (!test::HaveTool("sox")) GTEST_SKIP() << "sox is needed";
    test::TempDir dir;
    std::string path = dir.File("base.wav");
    ASSERT_EQ(test::RunCommand("sox -n -r 8000 -b 16 -c 1 '" + path + "' synth 0.5 sine 440 2>/dev/null"), 0);
    auto bytes = test::ReadFileBytes(path);
    std::vector<uint8_t> cue;
    test::RiffBuilder::U32(cue, 1);
    for (uint32_t v : {5u, 1234u}) test::RiffBuilder::U32(cue, v);
    cue.insert(cue.end(), {'d', 'a', 't', 'a'});
    for (uint32_t v : {0u, 0u, 1234u}) test::RiffBuilder::U32(cue, v);
    std::vector<uint8_t> list = {'a', 'd', 't', 'l', 'l', 'a', 'b', 'l', 10,  0,   0,
                                 0,   5,   0,   0,   0,   '(', '4', ',', '9', ')', 0};
    test::RiffBuilder extra;
    extra.Chunk("cue ", cue).Chunk("LIST", list);
    auto tail = extra.Bytes();
    bytes.insert(bytes.end(), tail.begin() + 12, tail.end());
    uint32_t riffSize = static_cast<uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<uint8_t>(riffSize >> (8 * i));
    test::WriteFileBytes(path, bytes);
    C_WavFile file;
    ASSERT_EQ(file.Load(path.c_str(), 0), 1);
    ASSERT_EQ(file.Sound()->GetActionEventMgr()->GetEventList()->GetCount(), 1);
    I_ActionEvent* e = file.Sound()->GetActionEventMgr()->GetEventList()->GetAt(0);
    EXPECT_EQ(e->GetSamplePos(), 1234u);
    EXPECT_EQ(e->GetType(), 4u);
    EXPECT_EQ(e->GetParam(), 9u);
    // sox still reads the file we write with the cue and list chunks.
    std::string copy = dir.File("copy.wav");
    ASSERT_EQ(file.SaveAs(2, copy.c_str()), 1);
    EXPECT_EQ(test::RunCommand("sox '" + copy + "' -n 2>/dev/null"), 0);
}

}  // namespace
}  // namespace cz
