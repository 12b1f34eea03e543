// Outputs that are inputs: refused before anything is written where the
// input would be read while the output is written, or where a binary or its
// header would land on an input or on the output; converted in place where
// the input is read whole first. The files are compared themselves, so
// another spelling of the path, a hard link and a symbolic link are caught.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cadenzor/cadenzor.h"
#include "decoders/mp3/Mp3FrameBuilder.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using cz::test::FileExists;
using cz::test::ReadFileBytes;
using cz::test::WriteFileBytes;

class SameFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        wav_ = dir_.File("in.wav");
        mp3_ = dir_.File("in.mp3");
        mdm_ = dir_.File("in.mdm");
        ASSERT_TRUE(WriteFileBytes(wav_, Wav()));
        ASSERT_TRUE(WriteFileBytes(mp3_, cz::mp3::test::Repeat(cz::mp3::test::BuildFrame(9, true, 0), 40)));
        ASSERT_EQ(ConvertWAVToMDM(wav_.c_str(), mdm_.c_str(), dir_.File("in_mdm.bin").c_str()), 1);
    }
    // Half a second of a 16 kHz square wave.
    static std::vector<uint8_t> Wav() {
        std::vector<int16_t> samples(8000);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i / 10) % 2 ? 6000 : -6000);
        return cz::test::RiffBuilder()
            .Fmt(1, 1, 16000, 16)
            .Chunk("data", cz::test::RiffBuilder::Pcm16(samples))
            .Bytes();
    }
    // Every other name by which the file at path can be reached.
    std::vector<std::string> OtherNames(const std::string& path) {
        const std::string leaf = fs::path(path).filename().string();
        const std::string hard = dir_.File("hard_" + leaf);
        const std::string soft = dir_.File("soft_" + leaf);
        if (!fs::exists(hard)) fs::create_hard_link(path, hard);
        if (!fs::is_symlink(soft)) fs::create_symlink(path, soft);
        return {path, dir_.Path() + "/./" + leaf, dir_.File("sub") + "/../" + leaf, hard, soft};
    }
    size_t Entries() const {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(dir_.Path())) {
            (void)e;
            ++n;
        }
        return n;
    }

    cz::test::TempDir dir_;
    cz::test::PrivateTmpDir scratch_;
    std::string wav_, mp3_, mdm_;
};

TEST_F(SameFileTest, StreamedInputIsNeverItsOwnOutput) {
    fs::create_directory(dir_.File("sub"));
    const std::vector<uint8_t> before = ReadFileBytes(mp3_);
    for (const std::string& out : OtherNames(mp3_)) {
        SCOPED_TRACE(out);
        const size_t entries = Entries();
        EXPECT_EQ(ConvertMP3ToWAV(mp3_.c_str(), out.c_str()), 0);
        EXPECT_EQ(ReadFileBytes(mp3_), before);
        EXPECT_EQ(Entries(), entries);  // nothing new beside it
        EXPECT_TRUE(fs::is_symlink(dir_.File("soft_in.mp3")));
    }
    EXPECT_TRUE(fs::is_empty(scratch_.Path()));
}

TEST_F(SameFileTest, BinaryOrHeaderOnAnInputOrOnTheOutputIsRefused) {
    fs::create_directory(dir_.File("sub"));
    // A header name that is a link to the input.
    fs::create_symlink(wav_, dir_.File("linked.bin.h"));
    fs::create_symlink(mp3_, dir_.File("linkedmp3.bin.h"));
    const std::string out = dir_.File("out.apm");
    struct Case {
        const char* what;
        std::function<int32_t()> call;
    } cases[] = {
        {"binary is the WAV input",
         [&] { return ConvertWAVToAPM(wav_.c_str(), out.c_str(), (dir_.Path() + "/./in.wav").c_str()); }},
        {"header is the WAV input",
         [&] { return ConvertWAVToMDM(wav_.c_str(), out.c_str(), dir_.File("linked.bin").c_str()); }},
        {"binary is the output, both new",
         [&] { return ConvertWAVToAPM(wav_.c_str(), out.c_str(), (dir_.File("sub") + "/../out.apm").c_str()); }},
        {"header is the output", [&] { return ConvertWAVToAPM(wav_.c_str(), (out + ".h").c_str(), out.c_str()); }},
        {"resampling, binary is the input",
         [&] {
             return ConvertWAVToAPMWithResample(wav_.c_str(), out.c_str(), dir_.File("hard_in.wav").c_str(), 8000);
         }},
        {"MP3 chain, header is the input",
         [&] {
             return ConvertMP3ToMDMWithResample(mp3_.c_str(), out.c_str(), dir_.File("linkedmp3.bin").c_str(), 8000);
         }},
        {"MP3 chain, binary is the input",
         [&] {
             return ConvertMP3ToAPMWithResample(mp3_.c_str(), out.c_str(), dir_.File("soft_in.mp3").c_str(), 8000);
         }},
    };
    OtherNames(wav_);
    OtherNames(mp3_);
    const std::vector<uint8_t> wav = ReadFileBytes(wav_), mp3 = ReadFileBytes(mp3_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t entries = Entries();
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(ReadFileBytes(wav_), wav);
        EXPECT_EQ(ReadFileBytes(mp3_), mp3);
        EXPECT_EQ(Entries(), entries);
        EXPECT_FALSE(FileExists(out));
    }
    EXPECT_TRUE(fs::is_empty(scratch_.Path()));
}

// In place: the result is exactly what the same call writes to a new name
// from a copy of the input, and the input's name now holds it.
TEST_F(SameFileTest, InPlaceWhereTheInputIsReadWholeFirst) {
    fs::create_directory(dir_.File("sub"));
    struct Case {
        const char* what;
        std::string input;
        std::function<int32_t(const std::string& in, const std::string& out, const std::string& bin)> call;
    } cases[] = {
        {"WAVResample", wav_,
         [](const std::string& i, const std::string& o, const std::string&) {
             return WAVResample(i.c_str(), o.c_str(), 8000);
         }},
        {"ConvertWAVToAPM", wav_,
         [](const std::string& i, const std::string& o, const std::string& b) {
             return ConvertWAVToAPM(i.c_str(), o.c_str(), b.c_str());
         }},
        {"ConvertWAVToMDMWithResample", wav_,
         [](const std::string& i, const std::string& o, const std::string& b) {
             return ConvertWAVToMDMWithResample(i.c_str(), o.c_str(), b.c_str(), 8000);
         }},
        {"ConvertMDMToWAV", mdm_,
         [](const std::string& i, const std::string& o, const std::string&) {
             return ConvertMDMToWAV(i.c_str(), o.c_str());
         }},
        {"ConvertMP3ToWAVWithResample", mp3_,
         [](const std::string& i, const std::string& o, const std::string&) {
             return ConvertMP3ToWAVWithResample(i.c_str(), o.c_str(), 8000);
         }},
        {"ConvertMP3ToAPMWithResample", mp3_,
         [](const std::string& i, const std::string& o, const std::string& b) {
             return ConvertMP3ToAPMWithResample(i.c_str(), o.c_str(), b.c_str(), 8000);
         }},
    };
    const std::vector<uint8_t> original[] = {ReadFileBytes(wav_), ReadFileBytes(mdm_), ReadFileBytes(mp3_)};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string tag = std::to_string(n++);
        const std::string copy = dir_.File("copy" + tag + fs::path(c.input).extension().string());
        fs::copy_file(c.input, copy, fs::copy_options::overwrite_existing);
        const std::string reference = dir_.File("ref" + tag);
        ASSERT_EQ(c.call(copy, reference, reference + ".bin"), 1);
        // The same file by another spelling of its path.
        const std::string place = dir_.File("place" + tag + fs::path(c.input).extension().string());
        fs::copy_file(c.input, place);
        const std::string spelled = dir_.File("sub") + "/../" + fs::path(place).filename().string();
        EXPECT_EQ(c.call(place, spelled, place + ".bin"), 1);
        EXPECT_EQ(ReadFileBytes(place), ReadFileBytes(reference));
        EXPECT_NE(ReadFileBytes(place), ReadFileBytes(c.input));
    }
    EXPECT_EQ(ReadFileBytes(wav_), original[0]);
    EXPECT_EQ(ReadFileBytes(mdm_), original[1]);
    EXPECT_EQ(ReadFileBytes(mp3_), original[2]);
    EXPECT_TRUE(fs::is_empty(scratch_.Path()));
}

}  // namespace
