// The codec-library stand-ins (Quorbe, Strunel, Dantro, Miskel, Vorrik)
// through their exported entries, loaded as the library loads them.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace {

struct Lib {
    explicit Lib(const char* name) { handle = dlopen((cz::test::LibDir() + "/lib" + name + ".so").c_str(), RTLD_NOW); }
    ~Lib() {
        if (handle) dlclose(handle);
    }
    template <typename Fn>
    Fn Get(const char* entry) const {
        return handle ? reinterpret_cast<Fn>(dlsym(handle, entry)) : nullptr;
    }
    void* handle = nullptr;
};

using FrameSizeFn = int32_t (*)(int32_t, int32_t*, int32_t*);
using WlpFrameSizeFn = int32_t (*)(int32_t, int32_t*, int32_t*, int32_t*);
using EncodeFn = int32_t (*)(const int16_t*, int32_t, int32_t, const char*);
using WlpEncodeFn = int32_t (*)(const int16_t*, int32_t, int32_t, const char*, int32_t);
using DecodeFn = int32_t (*)(const char*, int32_t, int16_t*, int32_t);
using SbdEncodeFn = int32_t (*)(const char*, const char*, int32_t, int32_t, int32_t);
using EsbEncodeFn = int32_t (*)(void*, const char*, const char*, int32_t, float, float);
using RateDecodeFn = int32_t (*)(const char*, int16_t*, int32_t);

std::vector<int16_t> Speech(uint32_t count, uint32_t rate) {
    std::vector<int16_t> s(count);
    for (uint32_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double env = 0.55 + 0.45 * std::sin(2 * M_PI * 3 * t);
        s[i] = static_cast<int16_t>(
            std::lround(env * (7000 * std::sin(2 * M_PI * 160 * t) + 2500 * std::sin(2 * M_PI * 520 * t) +
                               900 * std::sin(2 * M_PI * 1700 * t))));
    }
    return s;
}

double Snr(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    double s = 0, n = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        s += double(a[i]) * a[i];
        n += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    return 10 * std::log10(s / std::max(n, 1.0));
}

std::string WriteWav(cz::test::TempDir& dir, const std::vector<int16_t>& s, uint32_t rate) {
    std::vector<uint8_t> b;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto u16 = [&](uint32_t v) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    };
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    u32(36 + 2 * static_cast<uint32_t>(s.size()));
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    u32(16), u16(1), u16(1), u32(rate), u32(rate * 2), u16(2), u16(16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    u32(2 * static_cast<uint32_t>(s.size()));
    for (int16_t v : s) u16(static_cast<uint16_t>(v));
    const std::string path = dir.File("in.wav");
    cz::test::WriteFileBytes(path, b);
    return path;
}

TEST(CodecStandIns, FrameCodersRoundTrip) {
    cz::test::TempDir dir;
    const struct {
        const char* lib;
        const char* prefix;
        int32_t mode, frame;
        double minSnr;
    } rows[] = {{"Quorbe", "MCP_", 0, 240, 15},
                {"Quorbe", "MCP_", 1, 160, 10},
                {"Strunel", "MVP_", 0, 320, 15},
                {"Strunel", "MVP_", 1, 160, 5}};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.lib) + " mode " + std::to_string(r.mode));
        Lib lib(r.lib);
        ASSERT_TRUE(lib.handle);
        auto frameSize = lib.Get<FrameSizeFn>((std::string(r.prefix) + "GetFrameSize").c_str());
        auto encode = lib.Get<EncodeFn>((std::string(r.prefix) + "Encode").c_str());
        auto decode = lib.Get<DecodeFn>((std::string(r.prefix) + "Decode").c_str());
        ASSERT_TRUE(frameSize && encode && decode);
        int32_t a = 0, b = 0;
        EXPECT_EQ(frameSize(r.mode, &a, &b), 1);
        EXPECT_EQ(b, r.frame);
        const std::vector<int16_t> in = Speech(static_cast<uint32_t>(r.frame) * 50, 8000);
        const std::string coded = dir.File("c.cod");
        ASSERT_EQ(encode(in.data(), static_cast<int32_t>(in.size()), r.mode, coded.c_str()), 1);
        const auto bytes = cz::test::ReadFileBytes(coded);
        EXPECT_LT(bytes.size(), in.size());  // lossy: well under the 16-bit input
        std::vector<int16_t> out(in.size());
        ASSERT_EQ(decode(coded.c_str(), r.mode, out.data(), static_cast<int32_t>(out.size())), 1);
        const double snr = Snr(in, out);
        std::printf("%s mode %d: %zu bytes for %zu samples, SNR %.1f dB\n", r.lib, r.mode, bytes.size(), in.size(),
                    snr);
        EXPECT_GT(snr, r.minSnr);
        // Asked for more than the file holds: failure.
        std::vector<int16_t> more(in.size() + 1);
        EXPECT_EQ(decode(coded.c_str(), r.mode, more.data(), static_cast<int32_t>(more.size())), 0);
        // Every truncation fails cleanly.
        const std::string cut = dir.File("cut.cod");
        for (size_t n = 0; n < bytes.size(); n += 7) {
            cz::test::WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
            EXPECT_EQ(decode(cut.c_str(), r.mode, out.data(), static_cast<int32_t>(out.size())), 0) << n;
        }
    }
    Lib dantro("Dantro");
    auto wlpFrame = dantro.Get<WlpFrameSizeFn>("GetFrameSize");
    auto wlpEncode = dantro.Get<WlpEncodeFn>("Encode");
    auto wlpDecode = dantro.Get<DecodeFn>("Decode");
    ASSERT_TRUE(wlpFrame && wlpEncode && wlpDecode);
    int32_t a = 0, b = 0, c = 0;
    EXPECT_EQ(wlpFrame(0, &a, &b, &c), 1);
    EXPECT_EQ(c, 180);
    const std::vector<int16_t> in = Speech(180 * 40, 8000);
    const std::string coded = dir.File("w.cod");
    ASSERT_EQ(wlpEncode(in.data(), static_cast<int32_t>(in.size()), 3, coded.c_str(), 0), 1);
    std::vector<int16_t> out(in.size());
    ASSERT_EQ(wlpDecode(coded.c_str(), 3, out.data(), static_cast<int32_t>(out.size())), 1);
    std::printf("Dantro: SNR %.1f dB\n", Snr(in, out));
    EXPECT_GT(Snr(in, out), 15);
}

TEST(CodecStandIns, RateCodersFollowTheBitRate) {
    cz::test::TempDir dir;
    Lib miskel("Miskel"), vorrik("Vorrik");
    auto sbdEncode = miskel.Get<SbdEncodeFn>("EncodeByBitRate");
    auto sbdDecode = miskel.Get<RateDecodeFn>("Decode");
    auto esbEncode = vorrik.Get<EsbEncodeFn>("ESB_Encode");
    auto esbDecode = vorrik.Get<RateDecodeFn>("ESB_Decode");
    ASSERT_TRUE(sbdEncode && sbdDecode && esbEncode && esbDecode);
    for (uint32_t rate : {8000u, 16000u}) {
        const std::vector<int16_t> in = Speech(rate * 2, rate);  // two seconds
        const std::string wav = WriteWav(dir, in, rate);
        for (int32_t bitRate = 8000; bitRate <= 32000; bitRate += 4000) {
            for (bool esb : {false, true}) {
                SCOPED_TRACE((esb ? "ESB " : "SBD ") + std::to_string(rate) + " Hz " + std::to_string(bitRate));
                const std::string coded = dir.File("r.cod");
                uint8_t record[64] = {};
                const int32_t r = esb ? esbEncode(record, wav.c_str(), coded.c_str(), bitRate, 0.0f, 0.0f)
                                      : sbdEncode(wav.c_str(), coded.c_str(), bitRate, 13, 0);
                ASSERT_GE(r, 0);
                const double bits = (cz::test::ReadFileBytes(coded).size() - 16) * 8.0;
                const double achieved = bits / 2.0;
                EXPECT_NEAR(achieved, bitRate, 0.1 * bitRate);
                std::vector<int16_t> out(in.size());
                ASSERT_EQ((esb ? esbDecode : sbdDecode)(coded.c_str(), out.data(), static_cast<int32_t>(out.size())),
                          1);
                if (!esb)
                    std::printf("%u Hz at %d bit/s: achieved %.0f bit/s, SNR %.1f dB\n", rate, bitRate, achieved,
                                Snr(in, out));
                EXPECT_GT(Snr(in, out), 3.0);
            }
        }
    }
    EXPECT_LT(sbdEncode(dir.File("missing.wav").c_str(), dir.File("x").c_str(), 16000, 13, 0), 0);
    EXPECT_LT(esbEncode(nullptr, dir.File("missing.wav").c_str(), dir.File("x").c_str(), 16000, 0, 0), 0);
    EXPECT_EQ(esbDecode(dir.File("missing").c_str(), nullptr, 10), 0);
}

}  // namespace
