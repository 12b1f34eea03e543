// Streams written bit by bit with random side information and main data,
// decoded here and by a witness. They reach what encoders rarely write:
// intensity stereo (MPEG-1 and MPEG-2, with and without mid/side), mixed
// blocks, subblock gains, pre-emphasis, scalefac_scale and scfsi, every pair
// table in every region up to its largest escape value, both count1 tables,
// and every sequence of two block types with and without the mixed flag.
// Intensity streams are checked against libmad (madplay): mpg123 and ffmpeg
// disagree with it and with each other on some of them. The code words are
// the decoder's copy of the standard's tables: a wrong one would still show,
// as mpg123 reads the stream with its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Mp3FrameBuilder.h"
#include "Mp3TestFiles.h"
#include "decoders/mp3/C_Mp3ToWavConverter.h"
#include "decoders/mp3/Mp3Tables.h"

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
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},       {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},     {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
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

// The layout of a crafted stream: version, sample rate, bitrate and mode.
struct Format {
    bool mpeg1;
    uint32_t rateIndex;  // MPEG-1 44100, 48000, 32000 Hz; MPEG-2 22050, 24000, 16000 Hz
    uint32_t bitrateIndex;
    uint32_t mode;  // 0 stereo, 1 joint stereo, 3 mono

    int Channels() const { return mode == 3 ? 1 : 2; }
    int Granules() const { return mpeg1 ? 2 : 1; }
    int SideBytes() const { return mpeg1 ? (Channels() == 1 ? 17 : 32) : (Channels() == 1 ? 9 : 17); }
    int FrameBytes() const {
        static constexpr int kKbps[2][15] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                                             {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
        static constexpr int kRate[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};
        return (mpeg1 ? 144000 : 72000) * kKbps[mpeg1 ? 0 : 1][bitrateIndex] / kRate[mpeg1 ? 0 : 1][rateIndex];
    }
};

// Random scale factors of a granule (part 2), after the rules of its version
// and block type; MPEG-1 long blocks leave out the groups scfsi reuses.
void WriteScaleFactors(Random& rnd, const Format& f, Granule& x, int gr, const uint32_t scfsi[4], bool intensityRight) {
    if (f.mpeg1) {
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
                if (gr == 1 && scfsi[b]) {
                    continue;
                }
                const uint32_t len = b < 2 ? s1 : s2;
                for (int sfb = kStart[b]; sfb < kStart[b + 1]; ++sfb) {
                    x.data.Put(value(len), int(len));
                }
            }
        }
        return;
    }
    x.sfc = rnd.Next(512);
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

// Header, side information and main data of one frame (main_data_begin 0,
// the frame's own main data only), padded to the frame length.
std::vector<uint8_t> AssembleFrame(const Format& f, uint32_t modeExt, const uint32_t scfsi[2][4],
                                   const Granule (&g)[2][2]) {
    const int channels = f.Channels();
    BitWriter w;
    w.Put(f.mpeg1 ? 0xFFFB : 0xFFF3, 16);  // Layer III, no CRC
    w.Put((f.bitrateIndex << 4) | (f.rateIndex << 2), 8);
    w.Put((f.mode << 6) | (modeExt << 4), 8);
    w.Put(0, f.mpeg1 ? 9 : 8);  // main_data_begin
    w.Put(0, f.mpeg1 ? (channels == 1 ? 5 : 3) : (channels == 1 ? 1 : 2));
    for (int ch = 0; ch < channels && f.mpeg1; ++ch) {
        for (int b = 0; b < 4; ++b) {
            w.Put(scfsi[ch][b], 1);
        }
    }
    BitWriter main;
    for (int gr = 0; gr < f.Granules(); ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            const Granule& x = g[gr][ch];
            EXPECT_LT(x.data.BitCount(), 4096u);  // part2_3_length has 12 bits
            w.Put(uint32_t(x.data.BitCount()), 12);
            w.Put(x.bigValues, 9);
            w.Put(x.gain, 8);
            w.Put(x.sfc, f.mpeg1 ? 4 : 9);
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
            if (f.mpeg1) {
                w.Put(x.preflag, 1);
            }
            w.Put(x.scale, 1);
            w.Put(x.count1, 1);
            main.Append(x.data);
        }
    }
    std::vector<uint8_t> frame = w.Bytes();
    EXPECT_EQ(int(frame.size()), 4 + f.SideBytes());
    frame.insert(frame.end(), main.Bytes().begin(), main.Bytes().end());
    EXPECT_LE(int(frame.size()), f.FrameBytes());
    frame.resize(size_t(f.FrameBytes()), 0);
    return frame;
}

// The pair tables a stream may use (4 and 14 do not exist).
constexpr uint32_t kValidTables[30] = {0,  1,  2,  3,  5,  6,  7,  8,  9,  10, 11, 12, 13, 15, 16,
                                       17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

// The largest magnitude a pair table codes: size - 1, or with linbits the
// escape 15 plus the largest linbits value.
int MaxValue(uint32_t table) {
    const PairCodeTable& t = PairCodesFor(int(table));
    if (t.codes == nullptr) {
        return 0;
    }
    return t.linbits ? 15 + (1 << t.linbits) - 1 : t.size - 1;
}

// One big-value pair as an encoder writes it: the code word of (x, y), where
// a table with linbits codes a magnitude of 15 or more as the escape 15; then
// for x its linbits bits (|x| - 15) when escaped and its sign when non-zero,
// and the same for y.
void PutPair(BitWriter& w, uint32_t table, int x, int y) {
    const PairCodeTable& t = PairCodesFor(int(table));
    if (t.codes == nullptr) {
        return;  // table 0: the region is all zero and takes no bits
    }
    const int ax = std::abs(x);
    const int ay = std::abs(y);
    const int cx = t.linbits && ax > 15 ? 15 : ax;
    const int cy = t.linbits && ay > 15 ? 15 : ay;
    const HuffCode& code = t.codes[cx * t.size + cy];
    w.Put(code.code, code.length);
    for (int v : {x, y}) {
        const int a = std::abs(v);
        if (t.linbits && a >= 15) {
            w.Put(uint32_t(a - 15), t.linbits);
        }
        if (a) {
            w.Put(v < 0 ? 1 : 0, 1);
        }
    }
}

// A random magnitude for a table up to cap: often cap itself or zero.
int PickValue(Random& rnd, uint32_t table, int cap) {
    cap = std::min(cap, MaxValue(table));
    switch (rnd.Next(4)) {
        case 0: return cap;
        case 1: return 0;
        case 2: return int(rnd.Next(uint32_t(std::min(cap, 15)) + 1));
        default: return int(rnd.Next(uint32_t(cap) + 1));
    }
}

// Part 3 of a granule: big values over [0, 2 * bigValues), each pair coded
// with the table of its region (regions 0 and 1 end at the given lines), then
// `quads` count1 quadruples.
void WriteSpectrum(Random& rnd, Granule& x, const int regionEnd[2], int cap, int quads) {
    const uint32_t tables[3] = {x.table0, x.table1, x.table2};
    for (int line = 0; line < int(x.bigValues) * 2; line += 2) {
        const uint32_t table = tables[line < regionEnd[0] ? 0 : line < regionEnd[1] ? 1 : 2];
        int v[2];
        for (int& value : v) {
            value = PickValue(rnd, table, cap) * (rnd.Next(2) ? -1 : 1);
        }
        PutPair(x.data, table, v[0], v[1]);
    }
    const HuffCode* codes = QuadCodesFor(int(x.count1));
    for (int q = 0; q < quads; ++q) {
        const uint32_t vwxy = rnd.Next(16);
        x.data.Put(codes[vwxy].code, codes[vwxy].length);
        for (int bit = 3; bit >= 0; --bit) {
            if ((vwxy >> bit) & 1) {
                x.data.Put(rnd.Next(2), 1);
            }
        }
    }
}

// A global gain that puts a value of magnitude `largest` near 2^-level of
// full scale: |v|^(4/3) 2^((gain - 210) / 4).
uint32_t GainFor(int largest, int level) {
    const double gain = 210 - 4 * level - 16.0 / 3 * std::log2(std::max(largest, 1));
    return uint32_t(std::clamp(int(std::floor(gain)), 0, 255));
}

// Long-block bands of 44100 Hz up to line 36 (ISO/IEC 11172-3 Table B.8).
constexpr int kLongBounds44[9] = {0, 4, 8, 12, 16, 20, 24, 30, 36};

// Mono 44.1 kHz long blocks that step each table through each region: the
// region r of granule k uses kValidTables[(k + 10 r) % 30], so that every table
// appears in region 0, 1 and 2; count1 tables A and B alternate. Values reach
// the largest each table codes, which gets about 2^-level of full scale.
std::vector<uint8_t> BuildHuffmanStream(uint32_t seed, int rounds, int level) {
    Random rnd(seed);
    const Format f{true, 0, 14, 3};
    std::vector<uint8_t> stream;
    const uint32_t scfsi[2][4] = {};
    for (int frame = 0; frame < rounds * 15; ++frame) {
        Granule g[2][2];
        for (int gr = 0; gr < 2; ++gr) {
            const int k = (frame * 2 + gr) % 30;
            Granule& x = g[gr][0];
            x.table0 = kValidTables[k];
            x.table1 = kValidTables[(k + 10) % 30];
            x.table2 = kValidTables[(k + 20) % 30];
            x.region0 = rnd.Next(4);
            x.region1 = rnd.Next(3);
            x.count1 = uint32_t(k & 1);
            const int regionEnd[2] = {kLongBounds44[x.region0 + 1], kLongBounds44[x.region0 + x.region1 + 2]};
            x.bigValues = uint32_t(regionEnd[1] / 2 + 8 + int(rnd.Next(32)));
            x.gain = GainFor(std::max({MaxValue(x.table0), MaxValue(x.table1), MaxValue(x.table2)}), level);
            WriteSpectrum(rnd, x, regionEnd, 1 << 14, int(rnd.Next(25)));
        }
        const std::vector<uint8_t> bytes = AssembleFrame(f, 0, scfsi, g);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    return stream;
}

// Mono granules whose block types (0, 1, 2, 3, and 1, 2, 3 with the mixed
// flag) run through every ordered pair of such states: the sequence of
// Lyndon words of length 1 and 2 in order, a de Bruijn cycle, closed by its
// first state. Scale factors, gains and tables are random; region 0 and
// region 1 use different tables so that their boundary shows.
std::vector<uint8_t> BuildBlockTypeStream(const Format& f, uint32_t seed) {
    static constexpr uint32_t kStates[7][2] = {{0, 0}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {3, 1}};
    std::vector<int> order;
    for (int a = 0; a < 7; ++a) {
        order.push_back(a);
        for (int b = a + 1; b < 7; ++b) {
            order.push_back(a);
            order.push_back(b);
        }
    }
    order.push_back(order.front());
    // Tables of every size, two with linbits; values stay within 20.
    static constexpr uint32_t kTables[15] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24};
    Random rnd(seed);
    std::vector<uint8_t> stream;
    const uint32_t scfsi[2][4] = {};
    for (size_t at = 0; at < order.size(); at += size_t(f.Granules())) {
        Granule g[2][2];
        for (int gr = 0; gr < f.Granules(); ++gr) {
            const uint32_t* state = kStates[order[std::min(at + size_t(gr), order.size() - 1)]];
            Granule& x = g[gr][0];
            x.blockType = state[0];
            x.mixed = state[1];
            x.ws = x.blockType != 0;
            x.table0 = kTables[rnd.Next(15)];
            x.table1 = kTables[rnd.Next(15)];
            x.table2 = x.table1;
            x.scale = rnd.Next(2);
            x.count1 = rnd.Next(2);
            for (uint32_t& s : x.subblock) {
                s = x.ws ? rnd.Next(4) : 0;
            }
            // Long blocks: regions 0 and 1 end at the bands of region0_count 15
            // and region1_count 7, past the big values, so that one table covers them.
            x.region0 = x.ws ? 0 : 15;
            x.region1 = x.ws ? 0 : 7;
            if (!x.ws) {
                x.table1 = x.table2 = x.table0;
            }
            // Window switching: region 0 ends at line 36 for block type 2, mixed
            // or not, and after eight long bands (line 36, or 54 at the MPEG-2
            // rates) for block types 1 and 3; region 1 takes the rest.
            const int eightBands = f.mpeg1 ? 36 : 54;
            const int regionEnd[2] = {x.blockType == 2 ? 36 : x.ws ? eightBands : 576, 576};
            x.bigValues = 20 + rnd.Next(130);
            WriteScaleFactors(rnd, f, x, gr, scfsi[0], false);
            x.gain = GainFor(20, 6);
            const int quads = std::min(int(rnd.Next(30)), (576 - 2 * int(x.bigValues)) / 4);
            WriteSpectrum(rnd, x, regionEnd, 20, quads);
        }
        const std::vector<uint8_t> bytes = AssembleFrame(f, 0, scfsi, g);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    return stream;
}

struct StreamKind {
    const char* name;
    bool mpeg1;
    uint32_t mode;    // 0 stereo, 1 joint, 3 mono
    bool allowShort;  // window switching allowed
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
    // MPEG-1 320 kbit/s at 48 kHz (960 bytes) or MPEG-2 160 kbit/s at 24 kHz (480 bytes).
    const Format f{kind.mpeg1, 1, 14, kind.mode};
    const int channels = f.Channels();
    const int granules = f.Granules();
    for (int frame = 0; frame < frames; ++frame) {
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
                WriteScaleFactors(rnd, f, x, gr, scfsi[ch], intensityRight);
                WritePairs(rnd, x, 40);
            }
        }
        const std::vector<uint8_t> bytes = AssembleFrame(f, modeExt, scfsi, g);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    return stream;
}

// Decodes the stream here and with the witness (mpg123, or madplay) and checks
// the difference against the accuracy limits of ISO/IEC 11172-4.
void ExpectMatchesWitness(const std::vector<uint8_t>& stream, const char* name, bool madplay = false) {
    SCOPED_TRACE(name);
    cz::test::TempDir dir;
    const std::string path = dir.File("crafted.mp3");
    ASSERT_TRUE(cz::test::WriteFileBytes(path, stream));
    const std::string ref = dir.File("ref.pcm");
    const std::string witness = madplay ? "madplay -Q --no-dither -o raw:'" + ref + "' '" + path + "'"
                                        : "mpg123 -q --no-gapless -s '" + path + "' > '" + ref + "'";
    ASSERT_EQ(cz::test::RunCommand(witness + " 2>/dev/null"), 0);
    std::vector<uint8_t> wav;
    C_Mp3ToWavConverter converter;
    ASSERT_EQ(converter.ConvertMemory(stream.data(), stream.size(), &wav, nullptr, 0), 1);
    const std::vector<int16_t> ours = WavSamples(wav);
    const std::vector<int16_t> reference = Samples(cz::test::ReadFileBytes(ref), 0);
    const Difference diff = Compare(ours, reference, {0});
    int peak = 0;
    for (int16_t s : reference) {
        peak = std::max(peak, std::abs(int(s)));
    }
    std::printf("%-28s %-8s rms %.4f max %d peak %d samples %zu of %zu\n", name, madplay ? "madplay" : "mpg123",
                diff.rms, diff.maxAbs, peak, diff.compared, reference.size());
    EXPECT_EQ(ours.size(), reference.size());
    EXPECT_LT(diff.rms, 0.289);
    EXPECT_LE(diff.maxAbs, 2);
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
    for (const StreamKind& kind : kinds) {
        ExpectMatchesWitness(BuildStream(kind, 60), kind.name, kind.madplay);
    }
}

// Every pair table in every region with the largest values it codes, and both
// count1 tables, at a moderate level and overloaded.
TEST(Mp3Crafted, HuffmanTablesMatchMpg123) {
    if (!cz::test::HaveTool("mpg123")) {
        GTEST_SKIP() << "mpg123 missing";
    }
    ExpectMatchesWitness(BuildHuffmanStream(31, 3, 7), "huffman tables");
    // The largest values at twice full scale: before the output clips, the
    // granules peak at up to about 25 times full scale, which the decoder must
    // carry through its fixed-point stages as the standard's does.
    ExpectMatchesWitness(BuildHuffmanStream(32, 3, -1), "huffman tables, overloaded");
}

// Full-scale saturation without a witness: the same frames at a global gain
// 20 steps lower are exactly 1/32 of the level (the gain counts quarter
// powers of two) and never clip. Where 32 times the quiet decode lies inside
// 16 bits, the loud one equals it within the rounding of both; where it lies
// beyond, the loud sample is +32767 or -32768 with the same sign: clamped,
// never wrapped.
TEST(Mp3Crafted, OverloadedFramesSaturateWithoutWrapping) {
    auto decode = [](const std::vector<uint8_t>& stream) {
        std::vector<uint8_t> wav;
        C_Mp3ToWavConverter converter;
        EXPECT_EQ(converter.ConvertMemory(stream.data(), stream.size(), &wav, nullptr, 0), 1);
        return WavSamples(wav);
    };
    const std::vector<int16_t> loud = decode(BuildHuffmanStream(32, 3, -1));
    const std::vector<int16_t> quiet = decode(BuildHuffmanStream(32, 3, 4));
    ASSERT_EQ(loud.size(), quiet.size());
    ASSERT_FALSE(loud.empty());
    constexpr int kTolerance = 48;  // 32 x the quiet decode's rounding, and the loud one's
    size_t clamped = 0, linear = 0;
    for (size_t i = 0; i < loud.size(); ++i) {
        const int expected = 32 * quiet[i];
        if (expected > 32767 + kTolerance) {
            ASSERT_EQ(loud[i], 32767) << "sample " << i;
            ++clamped;
        } else if (expected < -32768 - kTolerance) {
            ASSERT_EQ(loud[i], -32768) << "sample " << i;
            ++clamped;
        } else if (expected > -32768 + kTolerance && expected < 32767 - kTolerance) {
            ASSERT_LE(std::abs(loud[i] - expected), kTolerance) << "sample " << i;
            ++linear;
        }
    }
    EXPECT_GT(clamped, loud.size() / 20);
    EXPECT_GT(linear, loud.size() / 20);
}

// Every sequence of two block types, with and without the mixed flag, at each
// MPEG-1 and MPEG-2 sample rate.
TEST(Mp3Crafted, BlockTypeSequencesMatchMpg123) {
    if (!cz::test::HaveTool("mpg123")) {
        GTEST_SKIP() << "mpg123 missing";
    }
    struct Case {
        const char* name;
        Format format;
    };
    const Case cases[] = {
        {"block types 44100", {true, 0, 14, 3}},  {"block types 48000", {true, 1, 14, 3}},
        {"block types 32000", {true, 2, 14, 3}},  {"block types 22050", {false, 0, 14, 3}},
        {"block types 24000", {false, 1, 14, 3}}, {"block types 16000", {false, 2, 14, 3}},
    };
    for (const Case& c : cases) {
        ExpectMatchesWitness(BuildBlockTypeStream(c.format, 41), c.name);
    }
}

}  // namespace
}  // namespace cz::mp3::test
