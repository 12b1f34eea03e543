// Jobs through the pipeline: streamed inputs give the bytes of the chain
// that decodes, resamples and saves file by file; outputs are refused up
// front; inputs are known by their content.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "api/pipeline/Pipeline.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "decoders/wma/C_WmaToWavConverter.h"
#include "dsp/resample/C_PCMResample.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatRegistry.h"
#include "foundation/RefPtr.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"
#include "wave/C_WavFile.h"

namespace cz::api::pipeline {
namespace {

using test::RiffBuilder;

std::vector<uint8_t> PlainWav(uint16_t channels, uint32_t rate, size_t frames) {
    std::vector<int16_t> samples(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (uint16_t c = 0; c < channels; ++c)
            samples[i * channels + c] =
                static_cast<int16_t>(9000.0 * std::sin(0.02 * static_cast<double>(i) * (c + 1)) +
                                     static_cast<double>((i * 7919) % 2001) - 1000);
    return RiffBuilder().Fmt(1, channels, rate, 16).Chunk("data", RiffBuilder::Pcm16(samples)).Bytes();
}

// The file-by-file chain: decode to a WAV file, resample into another, open
// that and save it in the output format.
std::vector<uint8_t> FileByFile(const std::string& input, const std::string& kind, uint32_t rate, uint32_t formatId,
                                const test::TempDir& dir, bool clean = false) {
    std::string current = input;
    if (kind == "mp3") {
        mp3::C_Mp3ToWavConverter converter;
        current = dir.File("decoded.wav");
        EXPECT_EQ(converter.Convert(input.c_str(), current.c_str(), nullptr, 0), 1);
    } else if (kind == "wma") {
        wma::C_WmaToWavConverter converter;
        current = dir.File("decoded.wav");
        EXPECT_EQ(converter.Convert(input.c_str(), current.c_str(), nullptr), 1);
    }
    if (rate) {
        C_PCMResample resampler;
        resampler.SetClean(clean);
        const std::string target = dir.File("resampled.wav");
        EXPECT_EQ(resampler.ResampleFile(kResampleSinc2, current.c_str(), target.c_str(), kFormatWav, rate,
                                         kResampleSpare, nullptr),
                  1);
        current = target;
    }
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(current.c_str());
    EXPECT_TRUE(file);
    if (!file) return {};
    const std::string out = dir.File("reference");
    EXPECT_EQ(file->SaveAs(formatId, out.c_str()), 1);
    return test::ReadFileBytes(out);
}

TEST(Pipeline, StreamedJobsGiveTheFileByFileBytes) {
    test::TempDir dir;
    struct Input {
        std::string path, kind;
    };
    std::vector<Input> inputs;
    const std::string stereo = dir.File("stereo.wav"), mono = dir.File("mono.wav");
    ASSERT_TRUE(test::WriteFileBytes(stereo, PlainWav(2, 44100, 44100 * 3 + 17)));
    ASSERT_TRUE(test::WriteFileBytes(mono, PlainWav(1, 16000, 9001)));
    inputs.push_back({stereo, "wav"});
    inputs.push_back({mono, "wav"});
    if (test::HaveTool("lame")) {
        const std::string mp3 = dir.File("music.mp3"), low = dir.File("low.mp3");
        ASSERT_EQ(test::RunCommand("lame --quiet -b 128 '" + stereo + "' '" + mp3 + "'"), 0);
        ASSERT_EQ(test::RunCommand("lame --quiet -b 32 '" + mono + "' '" + low + "'"), 0);
        inputs.push_back({mp3, "mp3"});
        inputs.push_back({low, "mp3"});
    }
    const std::string wma = test::TestDataDir() + "/asf/wma92-32k.wma";
    if (test::FileExists(wma)) inputs.push_back({wma, "wma"});

    struct Case {
        const char* extension;
        uint32_t formatId, rate;
    };
    const Case cases[] = {{"wav", kFormatWav, 0},     {"wav", kFormatWav, 16000}, {"wav", kFormatWav, 8000},
                          {"wav", kFormatWav, 48000}, {"mdm", kFormatMdm, 8000},  {"apm", kFormatApm, 16000},
                          {"mdm", kFormatMdm, 0}};
    for (const Input& in : inputs)
        for (const Case& c : cases) {
            // A plain WAV file in a chip format at its own rate is opened
            // whole: not streamed, and not this test's concern.
            if (in.kind == "wav" && c.formatId != kFormatWav && c.rate == 0) continue;
            test::TempDir scratch;
            Job job;
            job.profile = cz::api::Profile::Compatible();  // compared with the file-by-file chain
            job.input = in.path;
            job.output = scratch.File(std::string("out.") + c.extension);
            job.rate = c.rate;
            const Result result = pipeline::Run(job);
            const std::string what = in.path + " -> " + c.extension + " at " + std::to_string(c.rate);
            ASSERT_TRUE(result.ok()) << what << ": " << result.failure.text;
            EXPECT_TRUE(result.streamed) << what;
            EXPECT_EQ(test::ReadFileBytes(job.output), FileByFile(in.path, in.kind, c.rate, c.formatId, scratch))
                << what;
        }
}

// The default profile's clean resampling streams too, with the bytes of the
// clean run over the whole sound.
TEST(Pipeline, CleanResamplingStreams) {
    test::TempDir dir;
    const std::string stereo = dir.File("stereo.wav"), mono = dir.File("mono.wav");
    ASSERT_TRUE(test::WriteFileBytes(stereo, PlainWav(2, 44100, 44100 * 2 + 17)));
    ASSERT_TRUE(test::WriteFileBytes(mono, PlainWav(1, 22050, 9001)));
    for (const std::string& input : {stereo, mono})
        for (const uint32_t rate : {16000u, 8000u, 48000u, 44099u}) {
            test::TempDir scratch;
            Job job;
            job.input = input;
            job.output = scratch.File("out.wav");
            job.rate = rate;
            const Result result = pipeline::Run(job);
            const std::string what = input + " at " + std::to_string(rate);
            ASSERT_TRUE(result.ok()) << what << ": " << result.failure.text;
            EXPECT_TRUE(result.streamed) << what;
            EXPECT_EQ(test::ReadFileBytes(job.output), FileByFile(input, "wav", rate, kFormatWav, scratch, true))
                << what;
        }
}

TEST(Pipeline, RefusesExistingOutputsBeforeAnyWork) {
    test::TempDir dir;
    const std::string input = dir.File("in.wav");
    ASSERT_TRUE(test::WriteFileBytes(input, PlainWav(1, 8000, 4000)));
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    // The output exists.
    ASSERT_TRUE(test::WriteFileBytes(dir.File("out.wav"), old));
    Job job;
    job.profile = cz::api::Profile::Compatible();  // compared with the file-by-file chain
    job.input = input;
    job.output = dir.File("out.wav");
    job.rate = 16000;
    Result r = pipeline::Run(job);
    EXPECT_EQ(r.outcome, Outcome::kFailed);
    EXPECT_EQ(r.failure.file, job.output);
    EXPECT_EQ(test::ReadFileBytes(job.output), old);
    job.overwrite = true;
    EXPECT_TRUE(pipeline::Run(job).ok());
    EXPECT_NE(test::ReadFileBytes(job.output), old);

    // Only the header of the binary exists: neither the chip file nor the
    // binary is made.
    ASSERT_TRUE(test::WriteFileBytes(dir.File("o.bin.h"), old));
    Job chip;
    chip.input = input;
    chip.output = dir.File("o.apm");
    chip.binary = dir.File("o.bin");
    r = pipeline::Run(chip);
    EXPECT_EQ(r.outcome, Outcome::kFailed);
    EXPECT_EQ(r.failure.file, dir.File("o.bin.h"));
    EXPECT_FALSE(test::FileExists(chip.output));
    EXPECT_FALSE(test::FileExists(chip.binary));
    EXPECT_EQ(test::ReadFileBytes(dir.File("o.bin.h")), old);

    // A WAV file has no binary; an unknown extension is no format.
    Job wavBin;
    wavBin.input = input;
    wavBin.output = dir.File("x.wav");
    wavBin.binary = dir.File("x.bin");
    EXPECT_EQ(pipeline::Run(wavBin).outcome, Outcome::kRefused);
    Job unknown;
    unknown.input = input;
    unknown.output = dir.File("x.nothing");
    EXPECT_EQ(pipeline::Run(unknown).outcome, Outcome::kRefused);
    EXPECT_FALSE(test::FileExists(wavBin.output));
}

// A job that keeps nothing: the sizes of what a published job writes and
// the sound the chip plays from it (its binary when it has one), as the
// tool's WAV conversion of that file gives it, with no file left anywhere.
TEST(Pipeline, RenditionInMemoryMatchesThePublishedFiles) {
    test::TempDir dir, scratch;
    const std::string input = dir.File("in.wav");
    ASSERT_TRUE(test::WriteFileBytes(input, PlainWav(1, 16000, 6000)));
    struct Case {
        const char* ext;
        bool binary;
        bool compatible;
    };
    // 12-bit chip samples (apm, src), 16-bit binaries (p10, ad4), a
    // compatible coder, and formats read back from the chip file itself.
    for (const Case c :
         {Case{"apm", true, false}, Case{"apm", false, true}, Case{"mdm", true, false}, Case{"p10", true, false},
          Case{"ad4", true, false}, Case{"src", false, false}, Case{"md6", false, false}}) {
        SCOPED_TRACE(c.ext);
        Job job;
        job.input = input;
        job.output = scratch.File(std::string("never.") + c.ext);
        if (c.binary) job.binary = scratch.File("never.bin");
        if (c.compatible) job.profile = cz::api::Profile::Compatible();
        job.readBinaries = true;
        job.publish = false;
        job.wantRendition = true;
        const Result kept = pipeline::Run(job);
        ASSERT_TRUE(kept.ok()) << kept.failure.text;
        EXPECT_TRUE(kept.written.empty());
        EXPECT_TRUE(std::filesystem::is_empty(scratch.Path()));

        // The same job published, and its file played back through a WAV file.
        job.publish = true;
        job.wantRendition = false;
        job.output = dir.File(std::string("out.") + c.ext);
        if (c.binary) job.binary = dir.File("out.bin");
        job.overwrite = true;
        const Result published = pipeline::Run(job);
        ASSERT_TRUE(published.ok()) << published.failure.text;
        EXPECT_EQ(kept.fileBytes, static_cast<unsigned long long>(test::ReadFileBytes(job.output).size()));
        EXPECT_EQ(kept.binaryBytes, c.binary ? static_cast<long long>(test::ReadFileBytes(job.binary).size()) : -1);
        Job back;
        back.input = c.binary ? job.binary : job.output;
        back.output = dir.File("played.wav");
        back.readBinaries = true;
        back.overwrite = true;
        ASSERT_TRUE(pipeline::Run(back).ok());
        C_WavFileFormat factory;
        RefPtr<C_WavFile> played = factory.Open(back.output.c_str());
        ASSERT_TRUE(played && played->Sound());
        C_WavData* sound = played->Sound();
        ASSERT_EQ(kept.rendition.rate, sound->GetWavInfo()->GetSampleRate());
        ASSERT_EQ(kept.rendition.channels, sound->GetWavInfo()->GetChannels());
        ASSERT_EQ(kept.rendition.Frames(), sound->SampleCount());
        ASSERT_GT(kept.rendition.Frames(), 5000u);
        size_t differ = 0;
        for (uint32_t i = 0; i < sound->SampleCount(); ++i) differ += kept.rendition.samples[i] != sound->Sample(i, 0);
        EXPECT_EQ(differ, 0u);
        // Seconds as the chip file's header gives them.
        RefPtr<C_WavFile> header = factory.Open(job.output.c_str(), kOpenHeaderOnly);
        ASSERT_TRUE(header && header->GetWavInfo());
        EXPECT_DOUBLE_EQ(kept.seconds, static_cast<double>(header->GetWavInfo()->GetSampleCount()) /
                                           header->GetWavInfo()->GetSampleRate());
    }
    // Something that is neither a chip file nor a binary has no rendition.
    Rendition none;
    Message why;
    EXPECT_FALSE(RenditionOf(input + ".missing", none, why));
    EXPECT_FALSE(why.text.empty());
}

// The input is let go before the output is put in place.
TEST(Pipeline, ResamplesInPlace) {
    test::TempDir dir;
    const std::string input = dir.File("in.wav"), copy = dir.File("copy.wav");
    ASSERT_TRUE(test::WriteFileBytes(input, PlainWav(2, 22050, 30000)));
    ASSERT_TRUE(test::WriteFileBytes(copy, test::ReadFileBytes(input)));
    Job job;
    job.profile = cz::api::Profile::Compatible();  // compared with the file-by-file chain
    job.input = input;
    job.output = input;
    job.rate = 8000;
    job.overwrite = true;
    const Result r = pipeline::Run(job);
    ASSERT_TRUE(r.ok()) << r.failure.text;
    EXPECT_TRUE(r.streamed);
    test::TempDir scratch;
    EXPECT_EQ(test::ReadFileBytes(input), FileByFile(copy, "wav", 8000, kFormatWav, scratch));
}

TEST(Pipeline, KnowsInputsByContent) {
    test::TempDir dir;
    const std::vector<uint8_t> plain = PlainWav(2, 44100, 100);
    std::vector<int16_t> few(64, 100);
    std::vector<uint8_t> list = {'I', 'N', 'F', 'O'};
    const std::vector<uint8_t> asf = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9,
                                      0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C, 0,    0,    0,    0};
    std::vector<uint8_t> truncated = plain;
    truncated.resize(plain.size() - 3);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        InputKind kind;
    };
    const Case cases[] = {
        {"plain.wav", plain, InputKind::kPlainWav},
        {"listed.wav",
         RiffBuilder().Fmt(1, 1, 8000, 16).Chunk("LIST", list).Chunk("data", RiffBuilder::Pcm16(few)).Bytes(),
         InputKind::kOther},
        {"eight.wav", RiffBuilder().Fmt(1, 1, 8000, 8).Chunk("data", std::vector<uint8_t>(64, 128)).Bytes(),
         InputKind::kOther},
        {"cut.wav", truncated, InputKind::kOther},
        {"odd.wav", RiffBuilder().Fmt(1, 2, 8000, 16).Chunk("data", std::vector<uint8_t>(6, 0)).Bytes(),
         InputKind::kOther},
        {"stream", asf, InputKind::kWma},
        {"tagged", {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0}, InputKind::kMp3},
        {"synced", {0xFF, 0xFB, 0x90, 0x64, 0, 0}, InputKind::kMp3},
        {"junk.mp3", {'j', 'u', 'n', 'k'}, InputKind::kMp3},
        {"junk.bin", {'j', 'u', 'n', 'k'}, InputKind::kOther},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(test::WriteFileBytes(dir.File(c.name), c.bytes));
        EXPECT_EQ(DetectInput(dir.File(c.name)), c.kind) << c.name;
    }
    EXPECT_EQ(DetectInput(dir.File("missing.wav")), InputKind::kUnreadable);
}

// Compressed input that does not decode fails with the decoder's reason and
// leaves nothing; a file merely starting like MPEG audio goes to the factory.
TEST(Pipeline, UndecodableInputFailsCleanly) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteFileBytes(dir.File("bad.mp3"), std::vector<uint8_t>(500, 0x11)));
    ASSERT_TRUE(test::WriteFileBytes(dir.File("synced"), std::vector<uint8_t>{0xFF, 0xFB, 1, 2, 3, 4, 5, 6}));
    for (const char* name : {"bad.mp3", "synced"}) {
        Job job;
        job.profile = cz::api::Profile::Compatible();  // compared with the file-by-file chain
        job.input = dir.File(name);
        job.output = dir.File(std::string(name) + ".wav");
        job.rate = 8000;
        const Result r = pipeline::Run(job);
        EXPECT_EQ(r.outcome, Outcome::kFailed) << name;
        EXPECT_EQ(r.failure.file, job.input) << name;
        EXPECT_FALSE(r.failure.text.empty()) << name;
        EXPECT_FALSE(test::FileExists(job.output)) << name;
    }
}

}  // namespace
}  // namespace cz::api::pipeline
