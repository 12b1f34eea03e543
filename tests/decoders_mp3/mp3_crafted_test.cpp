// Streams written bit by bit with random side information and main data,
// decoded here and by a witness. They reach what encoders rarely write:
// intensity stereo (MPEG-1 and MPEG-2, with and without mid/side), mixed
// blocks, subblock gains, pre-emphasis, scalefac_scale and scfsi. Intensity
// streams are checked against libmad (madplay): mpg123 and ffmpeg disagree
// with it and with each other on some of them.
#include <gtest/gtest.h>

#include <cstdio>

#include "Mp3FrameBuilder.h"
#include "Mp3TestFiles.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"

namespace cz::mp3::test {
namespace {

class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    uint32_t Next(uint32_t bound) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % bound;
    }

private:
    uint32_t state_;
};

constexpr uint8_t kSlen[2][16] = {
    {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4},
    {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3},
};
constexpr uint8_t kLsfCounts[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},   {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}}, {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

struct Granule {
    uint32_t part23 = 0, bigValues = 0, gain = 0, sfc = 0;
    uint32_t ws = 0, blockType = 0, mixed = 0, table0 = 1, table1 = 1, table2 = 1;
    uint32_t subblock[3] = {}, region0 = 0, region1 = 0, preflag = 0, scale = 0, count1 = 0;
    BitWriter data;  // scale factors and Huffman code words
};

// Scale-factor lengths of an MPEG-2 granule, as the decoder derives them.
void LsfLengths(uint32_t sfc, bool intensityChannel, uint32_t slen[4], int* table) {
    slen[0] = slen[1] = slen[2] = slen[3] = 0;
    if (!intensityChannel) {
        if (sfc < 400) {
            slen[0] = (sfc >> 4) / 5, slen[1] = (sfc >> 4) % 5, slen[2] = (sfc & 15) >> 2, slen[3] = sfc & 3;
            *table = 0;
        } else if (sfc < 500) {
            sfc -= 400;
            slen[0] = (sfc >> 2) / 5, slen[1] = (sfc >> 2) % 5, slen[2] = sfc & 3;
            *table = 1;
        } else {
            sfc -= 500;
            slen[0] = sfc / 3, slen[1] = sfc % 3;
            *table = 2;
        }
    } else {
        sfc >>= 1;
        if (sfc < 180) {
            slen[0] = sfc / 36, slen[1] = (sfc % 36) / 6, slen[2] = (sfc % 36) % 6;
            *table = 3;
        } else if (sfc < 244) {
            sfc -= 180;
            slen[0] = (sfc % 64) >> 4, slen[1] = (sfc % 16) >> 2, slen[2] = sfc % 4;
            *table = 4;
        } else {
            sfc -= 244;
            slen[0] = sfc / 3, slen[1] = sfc % 3;
            *table = 5;
        }
    }
}

// Huffman table 1 pairs (values -1..1) over the big values.
void WritePairs(Random& rnd, Granule& g, uint32_t density) {
    static constexpr uint32_t kCode[2][2] = {{1, 1}, {1, 0}};  // (x, y) -> code, lengths below
    static constexpr int kLength[2][2] = {{1, 3}, {2, 3}};
    for (uint32_t i = 0; i < g.bigValues; ++i) {
        const uint32_t x = rnd.Next(100) < density ? 1 : 0;
        const uint32_t y = rnd.Next(100) < density ? 1 : 0;
        g.data.Put(kCode[x][y], kLength[x][y]);
        if (x) {
            g.data.Put(rnd.Next(2), 1);
        }
        if (y) {
            g.data.Put(rnd.Next(2), 1);
        }
    }
}

struct StreamKind {
    const char* name;
    bool mpeg1;
    uint32_t mode;     // 0 stereo, 1 joint, 3 mono
    bool allowShort;   // window switching allowed
    uint32_t seed;
    int modeExtension = -1;  // -1: random per frame
    bool allowMixed = true;
    // The witness: mpg123, or madplay (libmad) where mpg123 goes its own way
    // on intensity stereo.
    bool madplay = false;
};

std::vector<uint8_t> BuildStream(const StreamKind& kind, int frames) {
    Random rnd(kind.seed);
    std::vector<uint8_t> stream;
    const int channels = kind.mode == 3 ? 1 : 2;
    const int granules = kind.mpeg1 ? 2 : 1;
    // MPEG-1 320 kbit/s at 48 kHz (960 bytes) or MPEG-2 160 kbit/s at 24 kHz (480 bytes).
    const int frameBytes = kind.mpeg1 ? 960 : 480;
    const int sideBytes = kind.mpeg1 ? (channels == 1 ? 17 : 32) : (channels == 1 ? 9 : 17);
    for (int f = 0; f < frames; ++f) {
        uint32_t modeExt = kind.mode == 1 ? rnd.Next(4) : 0;
        if (kind.mode == 1 && kind.modeExtension >= 0) {
            modeExt = uint32_t(kind.modeExtension);
        }
        Granule g[2][2];
        uint32_t scfsi[2][4] = {};
        const uint32_t sharedWs = kind.allowShort ? rnd.Next(2) : 0;
        // Scale-factor reuse only where it means something: long blocks.
        for (int ch = 0; ch < channels && kind.mpeg1 && !sharedWs; ++ch) {
            for (int b = 0; b < 4; ++b) {
                scfsi[ch][b] = rnd.Next(2);
            }
        }
        const uint32_t sharedType = 1 + rnd.Next(3);
        const uint32_t sharedMixed = sharedType == 2 && kind.allowMixed ? rnd.Next(2) : 0;
        for (int gr = 0; gr < granules; ++gr) {
            for (int ch = 0; ch < channels; ++ch) {
                Granule& x = g[gr][ch];
                x.gain = 150 + rnd.Next(25);
                x.ws = sharedWs;  // both channels alike, as joint stereo needs
                x.blockType = x.ws ? sharedType : 0;
                x.mixed = x.ws ? sharedMixed : 0;
                x.scale = rnd.Next(2);
                x.count1 = rnd.Next(2);
                if (x.ws) {
                    for (uint32_t& s : x.subblock) {
                        s = rnd.Next(4);
                    }
                } else {
                    x.region0 = rnd.Next(16);
                    x.region1 = rnd.Next(8);
                }
                const bool intensityRight = ch == 1 && (modeExt & 1);
                x.bigValues = intensityRight ? rnd.Next(40) : 60 + rnd.Next(120);
                // Part 2: scale factors.
                if (kind.mpeg1) {
                    x.preflag = rnd.Next(2);
                    x.sfc = rnd.Next(16);
                    const uint32_t s1 = kSlen[0][x.sfc];
                    const uint32_t s2 = kSlen[1][x.sfc];
                    auto value = [&](uint32_t len) { return len ? rnd.Next(1u << len) : 0; };
                    if (x.ws && x.blockType == 2) {
                        const int first = x.mixed ? 3 : 0;
                        if (x.mixed) {
                            for (int sfb = 0; sfb < 8; ++sfb) {
                                x.data.Put(value(s1), int(s1));
                            }
                        }
                        for (int sfb = first; sfb < 12; ++sfb) {
                            for (int w = 0; w < 3; ++w) {
                                const uint32_t len = sfb < 6 ? s1 : s2;
                                x.data.Put(value(len), int(len));
                            }
                        }
                    } else {
                        static constexpr int kStart[5] = {0, 6, 11, 16, 21};
                        for (int b = 0; b < 4; ++b) {
                            if (gr == 1 && scfsi[ch][b]) {
                                continue;
                            }
                            const uint32_t len = b < 2 ? s1 : s2;
                            for (int sfb = kStart[b]; sfb < kStart[b + 1]; ++sfb) {
                                x.data.Put(value(len), int(len));
                            }
                        }
                    }
                } else {
                    x.sfc = intensityRight ? rnd.Next(512) : rnd.Next(512);
                    uint32_t slen[4];
                    int table = 0;
                    LsfLengths(x.sfc, intensityRight, slen, &table);
                    const int blockKind = (x.ws && x.blockType == 2) ? (x.mixed ? 2 : 1) : 0;
                    for (int b = 0; b < 4; ++b) {
                        for (int i = 0; i < kLsfCounts[table][blockKind][b]; ++i) {
                            x.data.Put(slen[b] ? rnd.Next(1u << slen[b]) : 0, int(slen[b]));
                        }
                    }
                }
                WritePairs(rnd, x, 40);
            }
        }
        // Header, side information, main data.
        BitWriter w;
        if (kind.mpeg1) {
            w.Put(0xFFFB, 16);
            w.Put(0xE4, 8);  // 320 kbit/s, 48 kHz
        } else {
            w.Put(0xFFF3, 16);
            w.Put(0xE4, 8);  // 160 kbit/s, 24 kHz
        }
        w.Put((kind.mode << 6) | (modeExt << 4), 8);
        w.Put(0, kind.mpeg1 ? 9 : 8);  // main_data_begin
        w.Put(0, kind.mpeg1 ? (channels == 1 ? 5 : 3) : (channels == 1 ? 1 : 2));
        for (int ch = 0; ch < channels && kind.mpeg1; ++ch) {
            for (int b = 0; b < 4; ++b) {
                w.Put(scfsi[ch][b], 1);
            }
        }
        BitWriter main;
        for (int gr = 0; gr < granules; ++gr) {
            for (int ch = 0; ch < channels; ++ch) {
                Granule& x = g[gr][ch];
                w.Put(uint32_t(x.data.BitCount()), 12);
                w.Put(x.bigValues, 9);
                w.Put(x.gain, 8);
                w.Put(x.sfc, kind.mpeg1 ? 4 : 9);
                w.Put(x.ws, 1);
                if (x.ws) {
                    w.Put(x.blockType, 2);
                    w.Put(x.mixed, 1);
                    w.Put(x.table0, 5);
                    w.Put(x.table1, 5);
                    for (uint32_t s : x.subblock) {
                        w.Put(s, 3);
                    }
                } else {
                    w.Put(x.table0, 5);
                    w.Put(x.table1, 5);
                    w.Put(x.table2, 5);
                    w.Put(x.region0, 4);
                    w.Put(x.region1, 3);
                }
                if (kind.mpeg1) {
                    w.Put(x.preflag, 1);
                }
                w.Put(x.scale, 1);
                w.Put(x.count1, 1);
                main.Append(x.data);
            }
        }
        std::vector<uint8_t> frame = w.Bytes();
        EXPECT_EQ(int(frame.size()), 4 + sideBytes);
        frame.insert(frame.end(), main.Bytes().begin(), main.Bytes().end());
        EXPECT_LE(int(frame.size()), frameBytes);
        frame.resize(size_t(frameBytes), 0);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

TEST(Mp3Crafted, RandomFramesMatchMpg123) {
    if (!cz::test::HaveTool("mpg123") || !cz::test::HaveTool("madplay")) {
        GTEST_SKIP() << "mpg123 or madplay missing";
    }
    const StreamKind kinds[] = {
        {"mpeg1 mid/side", true, 1, true, 21, 2},
        {"mpeg1 stereo switched", true, 0, true, 13},
        {"mpeg1 mono switched", true, 3, true, 14},
        {"mpeg2 mid/side", false, 1, true, 24, 2},
        {"mpeg2 mono switched", false, 3, true, 17},
        {"mpeg1 intensity long", true, 1, false, 22, 1, true, true},
        {"mpeg1 intensity switched", true, 1, true, 23, 1, true, true},
        {"mpeg1 joint", true, 1, true, 11, -1, true, true},
        {"mpeg2 intensity long", false, 1, false, 25, 1, true, true},
        {"mpeg2 intensity switched", false, 1, true, 26, 1, true, true},
        {"mpeg2 joint", false, 1, true, 16, -1, true, true},
    };
    cz::test::TempDir dir;
    for (const StreamKind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const std::vector<uint8_t> stream = BuildStream(kind, 60);
        const std::string path = dir.File("crafted.mp3");
        ASSERT_TRUE(cz::test::WriteFileBytes(path, stream));
        const std::string ref = dir.File("ref.pcm");
        const std::string witness = kind.madplay ? "madplay -Q --no-dither -o raw:'" + ref + "' '" + path + "'"
                                                 : "mpg123 -q --no-gapless -s '" + path + "' > '" + ref + "'";
        ASSERT_EQ(cz::test::RunCommand(witness + " 2>/dev/null"), 0);
        std::vector<uint8_t> wav;
        C_Mp3ToWavConverter converter;
        ASSERT_EQ(converter.ConvertMemory(stream.data(), stream.size(), &wav, nullptr, 0), 1);
        const std::vector<int16_t> ours = WavSamples(wav);
        const std::vector<int16_t> reference = Samples(cz::test::ReadFileBytes(dir.File("ref.pcm")), 0);
        const Difference diff = Compare(ours, reference, {0});
        std::printf("%-24s %-8s rms %.4f max %d samples %zu of %zu\n", kind.name, kind.madplay ? "madplay" : "mpg123", diff.rms, diff.maxAbs, diff.compared,
                    reference.size());
        EXPECT_EQ(ours.size(), reference.size());
        EXPECT_LT(diff.rms, 0.289);
        EXPECT_LE(diff.maxAbs, 2);
    }
}

}  // namespace
}  // namespace cz::mp3::test
