// The vector forms of the filter-bank kernels give the same bits as the
// portable ones: each kernel on random and extreme inputs, and whole streams
// decoded with every form the processor runs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "Mp3TestFiles.h"
#include "decoders/mp3/Mp3Kernels.h"
#include "decoders/mp3/Mp3Tables.h"

namespace cz::mp3::test {
namespace {

constexpr int32_t kSampleLimit = (1 << 30) - 1;

// The vector forms this processor runs.
std::vector<const Mp3Kernels*> VectorForms() {
    std::vector<const Mp3Kernels*> forms;
    for (const Mp3Kernels* k : {Avx2Mp3Kernels(), Avx512Mp3Kernels()}) {
        if (k != nullptr) {
            forms.push_back(k);
        }
    }
    return forms;
}

// Values over the whole range a stage may receive, a quarter of them at its
// limits (where the clamps act) and some small.
class Values {
public:
    explicit Values(uint32_t seed) : rng_(seed) {}
    int32_t Next(int32_t limit) {
        switch (rng_() % 8) {
            case 0: return limit;
            case 1: return -limit;
            case 2: return int32_t(rng_() % 33) - 16;
            default: return int32_t(int64_t(rng_() % (2 * uint64_t(limit) + 1)) - limit);
        }
    }
    uint32_t Raw() { return rng_(); }

private:
    std::mt19937 rng_;
};

class Mp3KernelForms : public ::testing::Test {
protected:
    void SetUp() override {
        forms_ = VectorForms();
        if (forms_.empty()) {
            GTEST_SKIP() << "the processor runs no vector form";
        }
    }
    const Mp3Tables& t_ = GetMp3Tables();
    const Mp3Kernels& plain_ = PlainMp3Kernels();
    std::vector<const Mp3Kernels*> forms_;
};

TEST_F(Mp3KernelForms, HybridLongSubbandMatchesPortable) {
    Values values(1);
    for (const Mp3Kernels* form : forms_) {
        SCOPED_TRACE(form->name);
        for (int round = 0; round < 2000; ++round) {
            int32_t in[18];
            int32_t overlap[18];
            for (int i = 0; i < 18; ++i) {
                in[i] = values.Next(0x7FFFFFFF);
                overlap[i] = values.Next(kSampleLimit);
            }
            const int type = round % 4 == 2 ? 0 : round % 4;
            const int odd = round & 1;
            int32_t overlapPlain[18];
            int32_t overlapVector[18];
            std::memcpy(overlapPlain, overlap, sizeof overlap);
            std::memcpy(overlapVector, overlap, sizeof overlap);
            int32_t columnPlain[18 * 32] = {};
            int32_t columnVector[18 * 32] = {};
            plain_.hybridLong(t_, type, in, overlapPlain, columnPlain, odd);
            form->hybridLong(t_, type, in, overlapVector, columnVector, odd);
            ASSERT_EQ(0, std::memcmp(overlapPlain, overlapVector, sizeof overlapPlain)) << "round " << round;
            ASSERT_EQ(0, std::memcmp(columnPlain, columnVector, sizeof columnPlain)) << "round " << round;
        }
    }
}

TEST_F(Mp3KernelForms, AliasReductionAndOverlapAddMatchPortable) {
    Values values(2);
    for (const Mp3Kernels* form : forms_) {
        SCOPED_TRACE(form->name);
        for (int round = 0; round < 300; ++round) {
            int32_t lines[576];
            for (int32_t& line : lines) {
                line = values.Next(0x7FFFFFFF);
            }
            int32_t linesVector[576];
            std::memcpy(linesVector, lines, sizeof lines);
            const int to = 2 + int(values.Raw() % 31);
            plain_.aliasReduce(t_, lines, 1, to);
            form->aliasReduce(t_, linesVector, 1, to);
            ASSERT_EQ(0, std::memcmp(lines, linesVector, sizeof lines)) << "round " << round;

            int32_t y[40] = {};
            int32_t overlap[18];
            for (int i = 0; i < 36; ++i) {
                y[i] = values.Next(kSampleLimit);
            }
            for (int32_t& o : overlap) {
                o = values.Next(kSampleLimit);
            }
            int32_t overlapVector[18];
            std::memcpy(overlapVector, overlap, sizeof overlap);
            int32_t column[18 * 32] = {};
            int32_t columnVector[18 * 32] = {};
            plain_.overlapAdd(y, overlap, column, round & 1);
            form->overlapAdd(y, overlapVector, columnVector, round & 1);
            ASSERT_EQ(0, std::memcmp(overlap, overlapVector, sizeof overlap)) << "round " << round;
            ASSERT_EQ(0, std::memcmp(column, columnVector, sizeof column)) << "round " << round;
        }
    }
}

TEST_F(Mp3KernelForms, SynthesisMatchesPortableOverManyGranules) {
    Values values(3);
    for (const Mp3Kernels* form : forms_) {
        SCOPED_TRACE(form->name);
        std::vector<int32_t> vPlain(2048, 0);
        std::vector<int32_t> vVector(2048, 0);
        int32_t ring = 0;
        // Loud granules (the output clips), quiet ones, silent ones (the
        // matrix skipped) and ones with only the low subbands in use.
        for (int granule = 0; granule < 120; ++granule) {
            int32_t samples[18][32] = {};
            const int kind = granule % 4;
            const int active = kind == 2 ? 0 : kind == 3 ? 1 + int(values.Raw() % 31) : 32;
            const int32_t limit = kind == 0 ? kSampleLimit : 1 << 22;
            for (int ts = 0; ts < 18; ++ts) {
                for (int sb = 0; sb < active; ++sb) {
                    samples[ts][sb] = values.Next(limit);
                }
            }
            int16_t outPlain[18 * 32];
            int16_t outVector[18 * 32];
            plain_.synthesise(t_, samples, active, vPlain.data(), ring, outPlain);
            form->synthesise(t_, samples, active, vVector.data(), ring, outVector);
            ASSERT_EQ(0, std::memcmp(outPlain, outVector, sizeof outPlain)) << "granule " << granule;
            ASSERT_EQ(vPlain, vVector) << "granule " << granule;
            ring = (ring - 18 * 64) & 1023;
        }
    }
}

TEST_F(Mp3KernelForms, SmallValueRequantisationMatchesTheTable) {
    int32_t small[16];
    for (int a = 0; a < 16; ++a) {
        small[a] = a * 1000 + 7;
    }
    small[0] = 0;
    Values values(4);
    for (const Mp3Kernels* form : forms_) {
        SCOPED_TRACE(form->name);
        for (int round = 0; round < 200; ++round) {
            int32_t lines[64];
            for (int32_t& line : lines) {
                line = int32_t(values.Raw() % 31) - 15;
            }
            // Now and then a value of 16 or more, which the kernel leaves to
            // its caller together with the rest of its group.
            const bool big = round % 3 == 0;
            const int bigAt = int(values.Raw() % 64);
            if (big) {
                lines[bigAt] = round % 2 ? 16 : -8206;
            }
            int32_t converted[64];
            std::memcpy(converted, lines, sizeof lines);
            const int begin = int(values.Raw() % 8);
            const int end = 64 - int(values.Raw() % 8);
            const int stop = form->requantiseSmall(small, converted, begin, end);
            ASSERT_GE(stop, begin);
            ASSERT_LE(stop, end);
            EXPECT_EQ((stop - begin) % 8, 0);
            if (!big || bigAt < begin || bigAt >= end) {
                EXPECT_LT(end - stop, 8) << "stopped early";
            } else {
                EXPECT_LE(stop, bigAt);
                EXPECT_GT(stop + 8, bigAt) << "stopped before the group with the large value";
            }
            for (int i = 0; i < 64; ++i) {
                const int32_t v = lines[i];
                const int32_t expected = i < begin || i >= stop ? v : v < 0 ? -small[-v] : small[v];
                ASSERT_EQ(converted[i], expected) << "line " << i;
            }
        }
    }
}

// Whole streams with long, short and mixed transitions, joint stereo,
// clipping and MPEG-2.5, decoded with the portable kernels and with each
// vector form: the WAV files must be the same bytes.
TEST(Mp3KernelStreams, EveryFormDecodesTheSameBytes) {
    if (VectorForms().empty()) {
        GTEST_SKIP() << "the processor runs no vector form";
    }
    if (!HaveEncoders()) {
        GTEST_SKIP() << "sox or lame missing";
    }
    struct Stream {
        const char* name;
        const char* format;
        const char* effects;
        const char* lame;
    };
    const Stream streams[] = {
        {"pluck", "-r 44100 -c 2 -b 16", "synth 3 pluck C3 pinknoise gain -4", "-b 128"},
        {"clicks", "-r 44100 -c 2 -b 16", "synth 2 square 4 square 5 gain -25 highpass 3000 gain 15", "-b 128"},
        {"fullscale", "-r 44100 -c 2 -b 16", "synth 2 square 200 square 301", "-b 192"},
        {"joint", "-r 44100 -c 2 -b 16", "synth 2 sine 440 sine 445 gain -3", "-m j -b 96"},
        {"silence", "-r 44100 -c 2 -b 16", "synth 1 sine 440 pad 0 1 gain -3", "-b 128"},
        {"mpeg25", "-r 8000 -c 1 -b 16", "synth 3 pinknoise gain -6", "-b 16"},
    };
    cz::test::TempDir dir;
    for (const Stream& s : streams) {
        SCOPED_TRACE(s.name);
        const std::string wav = dir.File(std::string(s.name) + ".wav");
        const std::string mp3 = dir.File(std::string(s.name) + ".mp3");
        ASSERT_TRUE(MakeMp3(wav, mp3, s.format, s.effects, s.lame));
        const std::vector<uint8_t> bytes = cz::test::ReadFileBytes(mp3);
        std::vector<std::vector<uint8_t>> outputs;
        for (const char* form : {"plain", "avx2", "avx512"}) {
            if (!ForceMp3Kernels(form)) {
                continue;
            }
            std::vector<uint8_t> out;
            C_Mp3ToWavConverter converter;
            const int32_t converted = converter.ConvertMemory(bytes.data(), bytes.size(), &out, nullptr, 0);
            ForceMp3Kernels("");
            ASSERT_EQ(converted, 1) << form;
            ASSERT_GT(out.size(), 44u) << form;
            outputs.push_back(out);
            if (outputs.size() > 1) {
                EXPECT_TRUE(outputs.front() == outputs.back()) << form << " differs from the portable kernels";
            }
        }
        EXPECT_GE(outputs.size(), 2u);
    }
}

TEST(Mp3KernelChoice, ForcingAndForbidding) {
    EXPECT_TRUE(ForceMp3Kernels("plain"));
    EXPECT_STREQ(ActiveMp3Kernels().name, "plain");
    EXPECT_FALSE(ForceMp3Kernels("sse9"));
    EXPECT_STREQ(ActiveMp3Kernels().name, "plain");
    EXPECT_TRUE(ForceMp3Kernels(""));
    SetMp3VectorKernelsAllowed(false);
    EXPECT_STREQ(ActiveMp3Kernels().name, "plain");
    SetMp3VectorKernelsAllowed(true);
    const Mp3Kernels* widest = Avx512Mp3Kernels() ? Avx512Mp3Kernels() : Avx2Mp3Kernels();
    EXPECT_STREQ(ActiveMp3Kernels().name, widest ? widest->name : "plain");
}

}  // namespace
}  // namespace cz::mp3::test
