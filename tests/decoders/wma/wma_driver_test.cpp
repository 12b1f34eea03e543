// WMA-to-WAV driver: the WAV it writes, the streams it refuses, progress,
// failures after output began, and two conversions at once. A stand-in
// frame decoder makes the samples, so these cases test the driver alone.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "AsfBuilder.h"
#include "decoders/wma/C_WmaToWavConverter.h"
#include "support/TestSupport.h"

namespace cz::wma::test {
namespace {

using cz::test::Le16At;
using cz::test::Le32At;

// Gives `frames` frames per unit; sample values follow the unit's first byte
// so that order and completeness show in the output.
class StandInDecoder final : public I_WmaUnitDecoder {
public:
    StandInDecoder(uint32_t frames, int failAtUnit) : frames_(frames), failAt_(failAtUnit) {}
    bool Open(const AsfAudioFormat& format) override {
        channels_ = format.channels;
        return true;
    }
    bool DecodeUnit(const uint8_t* data, size_t size, std::vector<int16_t>& out) override {
        if (int(units_++) == failAt_) return false;
        for (uint32_t i = 0; i < frames_ * channels_; ++i) out.push_back(int16_t(data[0] * 1000 + i % 1000));
        return size > 0;
    }
    void Reset() override {}
    const char* LastError() const override { return "stand-in unit error"; }

private:
    uint32_t frames_;
    int failAt_;
    uint32_t channels_ = 1;
    uint32_t units_ = 0;
};

WmaUnitDecoderFactory StandIn(uint32_t frames, int failAtUnit = -1) {
    return [=] { return std::make_unique<StandInDecoder>(frames, failAtUnit); };
}

// A file of `objects` media objects of one unit each, numbered in their first
// byte, spread over packets of packetSize bytes.
std::vector<uint8_t> UnitsFile(uint16_t channels, uint32_t objects, uint16_t unitBytes, uint32_t packetSize) {
    FileSpec spec;
    spec.streams[0].channels = channels;
    spec.streams[0].blockAlign = unitBytes;
    spec.packetSize = packetSize;
    const uint32_t room = packetSize - 40;
    for (uint32_t n = 0; n < objects; ++n) {
        std::vector<uint8_t> object = Ramp(unitBytes, uint8_t(n));
        for (uint32_t at = 0; at < unitBytes; at += room) {
            const uint32_t take = std::min(room, unitBytes - at);
            spec.packets.push_back({{{1, uint8_t(n), at, unitBytes,
                                      std::vector<uint8_t>(object.begin() + at, object.begin() + at + take)}}});
        }
    }
    return BuildAsf(spec);
}

int32_t Convert(const std::vector<uint8_t>& asf, WmaUnitDecoderFactory factory, std::vector<uint8_t>* wav,
                std::string* error = nullptr, I_ProgressCallback* progress = nullptr) {
    C_WmaToWavConverter converter;
    converter.SetUnitDecoderFactory(std::move(factory));
    const int32_t result = converter.ConvertMemory(asf.data(), asf.size(), wav, progress);
    if (error != nullptr) *error = converter.LastError();
    return result;
}

TEST(WmaDriver, WritesEveryFrameWithPatchedSizes) {
    struct Case {
        uint16_t channels;
        uint32_t framesPerUnit;
        uint32_t units;
        uint16_t unitBytes;
        uint32_t packetSize;
    };
    // 10000 frames: 4 blocks of 2048 and a last one of 1808, which is written.
    const Case cases[] = {
        {2, 1000, 10, 3000, 1400},  // objects over three packets, input past the 8192-byte cache
        {1, 1000, 10, 64, 256},
        {2, 2048, 3, 64, 256},  // exact blocks
        {1, 1, 5, 64, 256},     // less than one block
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> wav;
        ASSERT_EQ(Convert(UnitsFile(c.channels, c.units, c.unitBytes, c.packetSize), StandIn(c.framesPerUnit), &wav),
                  1);
        const uint32_t frames = c.framesPerUnit * c.units;
        const uint32_t dataBytes = frames * 2 * c.channels;
        ASSERT_EQ(wav.size(), 46u + dataBytes);
        EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
        EXPECT_EQ(Le32At(wav, 4), wav.size() - 8);
        EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(Le32At(wav, 16), 18u);
        EXPECT_EQ(Le16At(wav, 20), 1);  // PCM
        EXPECT_EQ(Le16At(wav, 22), c.channels);
        EXPECT_EQ(Le32At(wav, 24), 44100u);
        EXPECT_EQ(Le32At(wav, 28), 44100u * 2 * c.channels);
        EXPECT_EQ(Le16At(wav, 32), 2 * c.channels);
        EXPECT_EQ(Le16At(wav, 34), 16);
        EXPECT_EQ(Le16At(wav, 36), 0);  // extra size
        EXPECT_EQ(std::string(wav.begin() + 38, wav.begin() + 42), "data");
        EXPECT_EQ(Le32At(wav, 42), dataBytes);
        // The last unit's last sample, in its place.
        const uint32_t last = (c.framesPerUnit * c.channels - 1) % 1000;
        EXPECT_EQ(int16_t(Le16At(wav, wav.size() - 2)), int16_t((c.units - 1) * 1000 + last));
    }
}

TEST(WmaDriver, RefusesStreamsItCannotDecodeAndWritesNothing) {
    struct Case {
        const char* name;
        FileSpec spec;
        const char* reason;
    };
    auto stream = [](auto change) {
        FileSpec spec;
        spec.packets = {{{{1, 0, 0, 64, Ramp(64, 0)}}}};
        change(spec);
        return spec;
    };
    StreamSpec second;
    second.number = 2;
    second.insideExtended = true;
    const Case cases[] = {
        {"professional", stream([](FileSpec& s) { s.streams[0].tag = 0x162; }), "Professional"},
        {"lossless", stream([](FileSpec& s) { s.streams[0].tag = 0x163; }), "Lossless"},
        {"voice", stream([](FileSpec& s) { s.streams[0].tag = 0x000A; }), "Voice"},
        {"MP3 in ASF", stream([](FileSpec& s) { s.streams[0].tag = 0x0055; }), "0x0055"},
        {"above 48000 Hz", stream([](FileSpec& s) { s.streams[0].rate = 48001; }), "48001"},
        {"three channels", stream([](FileSpec& s) { s.streams[0].channels = 3; }), "3 channels"},
        {"8 bits", stream([](FileSpec& s) { s.streams[0].bits = 8; }), "8 bits"},
        {"two audio streams", stream([&](FileSpec& s) { s.streams.push_back(second); }), "more than one audio"},
        {"encrypted stream", stream([](FileSpec& s) { s.streams[0].encrypted = true; }), "protected"},
        {"content encryption", stream([](FileSpec& s) { s.encryptionObject = true; }), "protected"},
        {"video only", stream([](FileSpec& s) { s.streams[0].audio = false; }), "no audio stream"},
    };
    cz::test::TempDir dir;
    for (const Case& c : cases) {
        const std::string in = dir.File("in.wma"), out = dir.File("out.wav");
        ASSERT_TRUE(cz::test::WriteFileBytes(in, BuildAsf(c.spec)));
        C_WmaToWavConverter converter;
        converter.SetUnitDecoderFactory(StandIn(100));
        EXPECT_EQ(converter.Convert(in.c_str(), out.c_str(), nullptr), 0) << c.name;
        EXPECT_NE(converter.LastError().find(c.reason), std::string::npos) << c.name << ": " << converter.LastError();
        EXPECT_FALSE(cz::test::FileExists(out)) << c.name;
        EXPECT_EQ(cz::test::CountEntries(dir.Path()), 1u) << c.name;  // no temporary file left either
    }
    C_WmaToWavConverter converter;
    EXPECT_EQ(converter.Convert(dir.File("missing.wma").c_str(), dir.File("out.wav").c_str(), nullptr), 0);
    EXPECT_EQ(converter.Convert(nullptr, dir.File("out.wav").c_str(), nullptr), 0);
}

class Recorder final : public I_ProgressCallback {
public:
    void OnBegin() override { calls.push_back(-1); }
    void OnProgress(int32_t percent) override { calls.push_back(percent); }
    void OnEnd() override { calls.push_back(-2); }
    std::vector<int32_t> calls;
};

TEST(WmaDriver, ReportsProgressAlsoWhenItFails) {
    Recorder done;
    std::vector<uint8_t> wav;
    ASSERT_EQ(Convert(UnitsFile(2, 40, 3000, 1400), StandIn(1000), &wav, nullptr, &done), 1);
    ASSERT_GE(done.calls.size(), 5u);
    EXPECT_EQ(done.calls[0], -1);
    EXPECT_EQ(done.calls[1], 0);
    EXPECT_EQ(done.calls[done.calls.size() - 2], 100);
    EXPECT_EQ(done.calls.back(), -2);
    for (size_t i = 2; i + 2 < done.calls.size(); ++i) {
        EXPECT_GT(done.calls[i], done.calls[i - 1]);
        EXPECT_LE(done.calls[i], 100);
    }

    Recorder refused;
    FileSpec pro;
    pro.streams[0].tag = 0x162;
    EXPECT_EQ(Convert(BuildAsf(pro), StandIn(10), &wav, nullptr, &refused), 0);
    EXPECT_EQ(refused.calls, (std::vector<int32_t>{-1, 0, 100, -2}));
}

TEST(WmaDriver, DecodingErrorKeepsWhatWasWrittenAndFails) {
    cz::test::TempDir dir;
    const std::string in = dir.File("in.wma"), out = dir.File("out.wav");
    ASSERT_TRUE(cz::test::WriteFileBytes(in, UnitsFile(2, 10, 64, 256)));
    C_WmaToWavConverter converter;
    converter.SetUnitDecoderFactory(StandIn(1000, 6));
    EXPECT_EQ(converter.Convert(in.c_str(), out.c_str(), nullptr), 0);
    EXPECT_EQ(converter.LastError(), "stand-in unit error");
    const std::vector<uint8_t> wav = cz::test::ReadFileBytes(out);
    ASSERT_EQ(wav.size(), 46u + 6000u * 4);
    EXPECT_EQ(Le32At(wav, 4), wav.size() - 8);
    EXPECT_EQ(Le32At(wav, 42), 6000u * 4);
}

TEST(WmaDriver, TwoConversionsAtOnceKeepTheirOwnState) {
    cz::test::TempDir dir;
    const std::vector<uint8_t> a = UnitsFile(2, 60, 3000, 1400), b = UnitsFile(1, 90, 64, 256);
    std::vector<uint8_t> aAlone, bAlone;
    ASSERT_EQ(Convert(a, StandIn(900), &aAlone), 1);
    ASSERT_EQ(Convert(b, StandIn(333), &bAlone), 1);
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("a.wma"), a));
    ASSERT_TRUE(cz::test::WriteFileBytes(dir.File("b.wma"), b));
    for (int round = 0; round < 5; ++round) {
        int32_t ra = 0, rb = 0;
        auto run = [&](const char* in, const char* out, uint32_t frames, int32_t* result) {
            C_WmaToWavConverter converter;
            converter.SetUnitDecoderFactory(StandIn(frames));
            *result = converter.Convert(dir.File(in).c_str(), dir.File(out).c_str(), nullptr);
        };
        std::thread ta(run, "a.wma", "a.wav", 900, &ra), tb(run, "b.wma", "b.wav", 333, &rb);
        ta.join();
        tb.join();
        EXPECT_EQ(ra, 1);
        EXPECT_EQ(rb, 1);
        EXPECT_EQ(cz::test::ReadFileBytes(dir.File("a.wav")), aAlone);
        EXPECT_EQ(cz::test::ReadFileBytes(dir.File("b.wav")), bAlone);
    }
}

}  // namespace
}  // namespace cz::wma::test
