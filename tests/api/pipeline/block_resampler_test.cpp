// The block resampler against the whole-sound resampler: the same samples
// for every rate pair, length and block size.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "api/pipeline/BlockResampler.h"
#include "api/pipeline/CleanBlockResampler.h"
#include "dsp/resample/C_PCMResample.h"
#include "dsp/resample/ResampleKernels.h"
#include "support/Signals.h"

namespace cz::api::pipeline {
namespace {

// Channel c of an interleaved sound.
std::vector<int16_t> ChannelOf(const std::vector<int16_t>& frames, int channels, int c) {
    std::vector<int16_t> out;
    for (size_t i = c; i < frames.size(); i += channels) out.push_back(frames[i]);
    return out;
}

std::vector<int16_t> Whole(const std::vector<int16_t>& frames, int channels, uint32_t from, uint32_t to,
                           bool clean = false) {
    const auto count = static_cast<uint32_t>(frames.size() / channels);
    const uint32_t outCount = C_PCMResample::DestinationCount(from, to, count);
    std::vector<int16_t> out(static_cast<size_t>(outCount) * channels);
    for (int c = 0; c < channels; ++c) {
        std::vector<int16_t> in = ChannelOf(frames, channels, c), y(outCount);
        C_PCMResample resampler;
        resampler.SetClean(clean);
        EXPECT_EQ(resampler.ResampleSamples(2, from, to, count, outCount, in.data(), y.data(), 1.0, nullptr), outCount);
        for (uint32_t i = 0; i < outCount; ++i) out[static_cast<size_t>(i) * channels + c] = y[i];
    }
    return out;
}

std::vector<int16_t> Blocks(const std::vector<int16_t>& frames, int channels, uint32_t from, uint32_t to,
                            size_t block) {
    const size_t count = frames.size() / channels;
    BlockResampler resampler(static_cast<uint16_t>(channels), from, to, static_cast<uint32_t>(count));
    // Valid exactly when the whole run gives frames.
    EXPECT_EQ(resampler.Valid(), C_PCMResample::DestinationCount(from, to, static_cast<uint32_t>(count)) > 0);
    std::vector<int16_t> out;
    for (size_t at = 0; at < count; at += block)
        resampler.Push(frames.data() + at * channels, std::min(block, count - at), out);
    resampler.Finish(out);
    EXPECT_EQ(out.size(), static_cast<size_t>(resampler.DestinationFrames()) * channels);
    return out;
}

std::vector<int16_t> Music(size_t frames, int channels) {
    std::vector<int16_t> out(frames * channels);
    uint32_t seed = 12345;
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const double tone = 12000.0 * std::sin(0.031 * static_cast<double>(i) * (c + 1));
            out[i * channels + c] = static_cast<int16_t>(tone + static_cast<int32_t>(seed >> 20) - 2048);
        }
    // Full-scale steps reach the saturation of both stages.
    for (size_t i = frames / 3; i < frames / 3 + 40 && i < frames; ++i)
        for (int c = 0; c < channels; ++c) out[i * channels + c] = i % 2 ? 32767 : -32768;
    return out;
}

TEST(BlockResampler, GivesTheWholeRunsSamples) {
    struct Case {
        uint32_t from, to;
    };
    const Case rates[] = {{44100, 16000}, {44100, 8000}, {22050, 8000},  {16000, 8000},  {48000, 44100},
                          {8000, 16000},  {8000, 44100}, {16000, 16000}, {11025, 96000}, {1000, 256000}};
    const size_t lengths[] = {1, 30, 51, 333, 9000};
    const size_t blocks[] = {1, 7, 1152, 4096, 1 << 20};
    for (const bool vector : {true, false}) {
        resample::SetVectorKernelsAllowed(vector);
        for (const Case& r : rates)
            for (size_t length : lengths)
                for (int channels : {1, 2}) {
                    const std::vector<int16_t> in = Music(length, channels);
                    const std::vector<int16_t> whole = Whole(in, channels, r.from, r.to);
                    for (size_t block : blocks) {
                        if (block == 1 && length > 400) continue;  // slow, and said by 7 already
                        ASSERT_EQ(Blocks(in, channels, r.from, r.to, block), whole)
                            << r.from << " -> " << r.to << ", " << length << " frames x " << channels << ", blocks of "
                            << block << (vector ? "" : ", portable");
                    }
                }
    }
    resample::SetVectorKernelsAllowed(true);
}

TEST(BlockResampler, RefusesWhatTheResamplerRefuses) {
    EXPECT_FALSE(BlockResampler(2, 44100, 0, 1000).Valid());
    EXPECT_FALSE(BlockResampler(2, 1000, 384001, 1000).Valid());
    EXPECT_FALSE(BlockResampler(2, 44100, 16000, 0).Valid());
    EXPECT_FALSE(BlockResampler(0, 44100, 16000, 10).Valid());
}

// A source that ends early is taken as ending in silence.
TEST(BlockResampler, ShortSourceEndsInSilence) {
    std::vector<int16_t> in = Music(1000, 1);
    std::vector<int16_t> padded = in;
    padded.resize(1500, 0);
    BlockResampler resampler(1, 44100, 16000, 1500);
    std::vector<int16_t> out;
    resampler.Push(in.data(), in.size(), out);
    resampler.Finish(out);
    EXPECT_EQ(out, Whole(padded, 1, 44100, 16000));
}

std::vector<int16_t> CleanBlocks(const std::vector<int16_t>& frames, int channels, uint32_t from, uint32_t to,
                                 size_t block) {
    const size_t count = frames.size() / channels;
    CleanBlockResampler resampler(static_cast<uint16_t>(channels), from, to, static_cast<uint32_t>(count));
    EXPECT_EQ(resampler.Valid(), C_PCMResample::DestinationCount(from, to, static_cast<uint32_t>(count)) > 0);
    std::vector<int16_t> out;
    for (size_t at = 0; at < count; at += block)
        resampler.Push(frames.data() + at * channels, std::min(block, count - at), out);
    resampler.Finish(out);
    EXPECT_EQ(out.size(), static_cast<size_t>(resampler.DestinationFrames()) * channels);
    return out;
}

// The clean mode in blocks against C_PCMResample's clean run over the whole
// sound: 44100 -> 44099 has more phases than are stored (blended rows).
TEST(CleanBlockResampler, GivesTheWholeCleanRunsSamples) {
    struct Case {
        uint32_t from, to;
    };
    const Case rates[] = {{48000, 8000}, {44100, 16000}, {22050, 8000}, {8000, 48000},
                          {44100, 48000}, {44100, 44099}, {16000, 8000}};
    const size_t lengths[] = {1, 7, 1000, 3 * 22050};
    const size_t blocks[] = {1, 1000, 16384};
    for (const bool vector : {true, false}) {
        resample::SetVectorKernelsAllowed(vector);
        for (const Case& r : rates)
            for (size_t length : lengths)
                for (int channels : {1, 2}) {
                    const std::vector<int16_t> in = Music(length, channels);
                    const std::vector<int16_t> whole = Whole(in, channels, r.from, r.to, true);
                    for (size_t block : blocks) {
                        if (block == 1 && length > 1000) continue;  // slow, and said by 1000 already
                        ASSERT_EQ(CleanBlocks(in, channels, r.from, r.to, block), whole)
                            << r.from << " -> " << r.to << ", " << length << " frames x " << channels << ", blocks of "
                            << block << (vector ? "" : ", portable");
                    }
                }
    }
    resample::SetVectorKernelsAllowed(true);
}

TEST(CleanBlockResampler, RefusesWhatTheResamplerRefuses) {
    EXPECT_FALSE(CleanBlockResampler(2, 44100, 0, 1000).Valid());
    EXPECT_FALSE(CleanBlockResampler(2, 1000, 384001, 1000).Valid());
    EXPECT_FALSE(CleanBlockResampler(2, 44100, 16000, 0).Valid());
    EXPECT_FALSE(CleanBlockResampler(0, 44100, 16000, 10).Valid());
}

// A short source ends in silence; frames past the announced count are
// ignored, as the whole run never reads them.
TEST(CleanBlockResampler, ShortAndLongSources) {
    std::vector<int16_t> in = Music(1000, 1);
    std::vector<int16_t> padded = in;
    padded.resize(1500, 0);
    CleanBlockResampler shortRun(1, 44100, 16000, 1500);
    std::vector<int16_t> out;
    shortRun.Push(in.data(), in.size(), out);
    shortRun.Finish(out);
    EXPECT_EQ(out, Whole(padded, 1, 44100, 16000, true));

    CleanBlockResampler longRun(1, 44100, 16000, 600);
    out.clear();
    longRun.Push(in.data(), in.size(), out);
    longRun.Finish(out);
    EXPECT_EQ(out, Whole(std::vector<int16_t>(in.begin(), in.begin() + 600), 1, 44100, 16000, true));
}

}  // namespace
}  // namespace cz::api::pipeline
