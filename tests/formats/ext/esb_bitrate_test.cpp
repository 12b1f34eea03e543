// The ESB writer's bit-rate warning (shown only with an owner window):
// whenever the achieved rate differs from the one asked for, by a little or
// by much.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "formats/ext/C_SbdFile.h"
#include "foundation/ByteReader.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

// Half a second of a 16-bit mono vowel-like tone at 8 kHz.
std::unique_ptr<C_WavData> Tone() {
    constexpr uint32_t kRate = 8000, kCount = 4000;
    std::vector<uint8_t> bytes(2 * kCount);
    for (uint32_t i = 0; i < kCount; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double v = (0.6 + 0.4 * std::sin(2 * M_PI * 4 * t)) *
                         (9000 * std::sin(2 * M_PI * 170 * t) + 3000 * std::sin(2 * M_PI * 610 * t));
        StoreU16(&bytes[2 * i], static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
    }
    auto sound = std::make_unique<C_WavData>();
    sound->SetFormat(kRate, static_cast<uint32_t>(bytes.size()), 1, 16, 16, 1);
    sound->SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    sound->GetActionEventMgr()->SetSampleRate(kRate);
    return sound;
}

// The stand-in coder gives this tone 16,843.75 bit/s for requests of 16,000
// (5.3 % off) and 16,100 (4.6 %), 20,593.75 for 20,000 (3 %) and 2,406.25
// for 100: each warns, with the rate asked for in the text.
TEST(EsbBitRate, WarnsWheneverTheAchievedRateDiffers) {
    test::TempDir dir;
    const struct {
        uint32_t param;  // hundreds of bit/s, 0 for the default 16,000
        const char* requested;
        const char* actual;
    } cases[] = {{0, "16.000000", "16.843750"},
                 {161, "16.100000", "16.843750"},
                 {200, "20.000000", "20.593750"},
                 {1, "0.100000", "2.406250"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.param);
        std::vector<std::string> titles, texts;
        platform::SetMessageSink([&](const std::string& title, const std::string& text) {
            titles.push_back(title);
            texts.push_back(text);
        });
        auto sound = Tone();
        sound->GetWriteParam()->SetCodecParam(c.param);
        C_EsbFile writer;
        writer.SetOwnerWindowForMessages(1);
        writer.AttachWavData(sound.get());
        const std::string path = dir.File("w.esb");
        EXPECT_EQ(writer.Save(path.c_str()), 1);
        writer.DetachWavData();
        platform::ResetMessageSink();
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(titles[0], "Warning");
        EXPECT_EQ(texts[0], std::string("Specified bit rate (") + c.requested +
                                " Kbps) could not be achieved while encoding to '" + path +
                                "'.\nActual bit rate = " + c.actual + " Kbps");
    }
}

}  // namespace
}  // namespace cz
