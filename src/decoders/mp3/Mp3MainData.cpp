// Main data of a granule and channel: scale factors (part 2) and the
// Huffman-coded lines (part 3).
#include <cstring>

#include "decoders/mp3/Mp3BitReader.h"
#include "decoders/mp3/Mp3DecoderState.h"
#include "decoders/mp3/Mp3Simd.h"

namespace cz::mp3 {
namespace {

// MPEG-1 scale-factor lengths by scalefac_compress (ISO/IEC 11172-3 2.4.2.7).
constexpr uint8_t kSlen[2][16] = {
    {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4},
    {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3},
};

// MPEG-2 number of scale factors per length group, by table (ISO/IEC 13818-3
// 2.4.3.2) and block kind (long, short, mixed).
constexpr uint8_t kLsfCounts[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},       {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},     {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

uint32_t ReadMpeg1(Mp3Decoder& d, Mp3BitReader& r, int gr, int ch) {
    const Mp3GranuleInfo& g = d.sideInfo.granules[gr][ch];
    Mp3ScaleFactors& sf = d.scaleFactors;
    const uint32_t start = r.Position();
    const uint32_t slen1 = kSlen[0][g.scalefacCompress & 15];
    const uint32_t slen2 = kSlen[1][g.scalefacCompress & 15];
    if (g.windowSwitching && g.blockType == 2) {
        int firstShort = 0;
        if (g.mixedBlock) {
            for (int sfb = 0; sfb < 8; ++sfb) {
                sf.longFactors[ch][sfb] = uint8_t(r.Get(slen1));
            }
            firstShort = 3;
        }
        for (int sfb = firstShort; sfb < 12; ++sfb) {
            const uint32_t len = sfb < 6 ? slen1 : slen2;
            for (int w = 0; w < 3; ++w) {
                sf.shortFactors[ch][sfb][w] = uint8_t(r.Get(len));
            }
        }
        for (int w = 0; w < 3; ++w) {
            sf.shortFactors[ch][12][w] = 0;
        }
    } else {
        static constexpr int kGroupStart[5] = {0, 6, 11, 16, 21};
        for (int group = 0; group < 4; ++group) {
            if (gr == 1 && d.sideInfo.scfsi[ch][group]) {
                continue;  // reused from the first granule
            }
            const uint32_t len = group < 2 ? slen1 : slen2;
            for (int sfb = kGroupStart[group]; sfb < kGroupStart[group + 1]; ++sfb) {
                sf.longFactors[ch][sfb] = uint8_t(r.Get(len));
            }
        }
        sf.longFactors[ch][21] = 0;
    }
    return r.Position() - start;
}

uint32_t ReadMpeg2(Mp3Decoder& d, Mp3BitReader& r, int gr, int ch) {
    Mp3GranuleInfo& g = d.sideInfo.granules[gr][ch];
    Mp3ScaleFactors& sf = d.scaleFactors;
    const uint32_t start = r.Position();
    uint32_t slen[4] = {};
    int table = 0;
    const bool intensityChannel = ch == 1 && (d.header.modeExtension & 1) != 0;
    uint32_t sfc = g.scalefacCompress;
    g.preflag = 0;
    if (!intensityChannel) {
        if (sfc < 400) {
            slen[0] = (sfc >> 4) / 5;
            slen[1] = (sfc >> 4) % 5;
            slen[2] = (sfc & 15) >> 2;
            slen[3] = sfc & 3;
            table = 0;
        } else if (sfc < 500) {
            sfc -= 400;
            slen[0] = (sfc >> 2) / 5;
            slen[1] = (sfc >> 2) % 5;
            slen[2] = sfc & 3;
            table = 1;
        } else {
            sfc -= 500;
            slen[0] = sfc / 3;
            slen[1] = sfc % 3;
            g.preflag = 1;
            table = 2;
        }
    } else {
        sfc >>= 1;
        if (sfc < 180) {
            slen[0] = sfc / 36;
            slen[1] = (sfc % 36) / 6;
            slen[2] = (sfc % 36) % 6;
            table = 3;
        } else if (sfc < 244) {
            sfc -= 180;
            slen[0] = (sfc % 64) >> 4;
            slen[1] = (sfc % 16) >> 2;
            slen[2] = sfc % 4;
            table = 4;
        } else {
            sfc -= 244;
            slen[0] = sfc / 3;
            slen[1] = sfc % 3;
            table = 5;
        }
    }
    const bool shortBlock = g.windowSwitching && g.blockType == 2;
    const int kind = shortBlock ? (g.mixedBlock ? 2 : 1) : 0;
    uint8_t values[40] = {};
    uint8_t limits[40] = {};
    int n = 0;
    for (int group = 0; group < 4; ++group) {
        // Lengths above 15 bits cannot occur in valid streams; they still
        // read safely since Get takes at most 25 bits.
        const uint32_t len = slen[group];
        for (int i = 0; i < kLsfCounts[table][kind][group]; ++i) {
            values[n] = uint8_t(r.Get(len));
            limits[n] = uint8_t((1u << len) - 1);
            ++n;
        }
    }
    const bool keepLimits = ch == 1;
    if (kind == 0) {
        for (int sfb = 0; sfb < 21; ++sfb) {
            sf.longFactors[ch][sfb] = values[sfb];
            if (keepLimits) {
                sf.intensityLimitLong[sfb] = limits[sfb];
            }
        }
        sf.longFactors[ch][21] = 0;
    } else {
        int k = 0;
        int firstShort = 0;
        if (kind == 2) {
            for (int sfb = 0; sfb < 6; ++sfb, ++k) {
                sf.longFactors[ch][sfb] = values[k];
                if (keepLimits) {
                    sf.intensityLimitLong[sfb] = limits[k];
                }
            }
            firstShort = 3;
        }
        for (int sfb = firstShort; sfb < 12; ++sfb) {
            for (int w = 0; w < 3; ++w, ++k) {
                sf.shortFactors[ch][sfb][w] = values[k];
            }
            if (keepLimits) {
                sf.intensityLimitShort[sfb] = limits[k - 1];
            }
        }
        for (int w = 0; w < 3; ++w) {
            sf.shortFactors[ch][12][w] = 0;
        }
    }
    return r.Position() - start;
}

// Decodes one code word of a lookup table from the window w of the bits at
// position, consuming it from both; returns the table entry (symbol in the
// low byte).
inline uint32_t DecodeSymbol(uint64_t& w, uint32_t& position, const HuffTable& table) {
    uint32_t bits = table.firstBits;
    uint32_t e = table.lookup[w >> (64 - bits)];
    while (e & 0x8000) {
        w <<= bits;
        position += bits;
        bits = (e >> 12) & 7;
        e = table.lookup[(e & 0xFFF) + uint32_t(w >> (64 - bits))];
    }
    const uint32_t length = (e >> 8) & 31;
    w <<= length;
    position += length;
    return e & 0xFF;
}

}  // namespace

uint32_t ReadScaleFactors(Mp3Decoder& d, Mp3BitReader& reader, int granule, int channel) {
    return d.version == 0 ? ReadMpeg1(d, reader, granule, channel) : ReadMpeg2(d, reader, granule, channel);
}

int32_t DecodeHuffman(Mp3Decoder& d, Mp3BitReader& r, uint32_t endBit, int granule, int channel) {
    const Mp3GranuleInfo& g = d.sideInfo.granules[granule][channel];
    const ScaleFactorBands& bands = *d.header.bands;
    const Mp3Tables& tables = *d.tables;
    int32_t* lines = d.huffman.lines[channel];
    const int bigEnd = int(g.bigValues) * 2;
    int regionEnd[3];
    if (g.windowSwitching) {
        // Region 0 of a block of type 2, mixed or not, ends after three short
        // bands (line 36 at every rate but 8000 Hz); that of types 1 and 3
        // after eight long bands (line 36 for MPEG-1, 54 for MPEG-2).
        regionEnd[0] = g.blockType == 2 ? 3 * bands.shortBounds[3] : bands.longBounds[8];
        regionEnd[1] = kGranuleLines;
    } else {
        int r1 = g.region0Count + 1;
        int r2 = g.region0Count + g.region1Count + 2;
        regionEnd[0] = bands.longBounds[r1 > 22 ? 22 : r1];
        regionEnd[1] = bands.longBounds[r2 > 22 ? 22 : r2];
    }
    regionEnd[0] = regionEnd[0] < bigEnd ? regionEnd[0] : bigEnd;
    regionEnd[1] = regionEnd[1] < bigEnd ? regionEnd[1] : bigEnd;
    regionEnd[1] = regionEnd[1] > regionEnd[0] ? regionEnd[1] : regionEnd[0];
    regionEnd[2] = bigEnd;

    const uint8_t* data = r.Data();
    uint32_t position = r.Position();
    int i = 0;
    for (int region = 0; region < 3; ++region) {
        const int end = regionEnd[region];
        if (i >= end) {
            continue;
        }
        const HuffTable& table = tables.pairTables[g.tableSelect[region]];
        if (g.tableSelect[region] == 0) {
            std::memset(lines + i, 0, sizeof(int32_t) * size_t(end - i));
            i = end;
            continue;
        }
        if (table.lookup == nullptr) {
            return kMp3InvalidHuffman;  // tables 4 and 14 do not exist
        }
        const uint32_t linbits = table.linbits;
        // A 64-bit window of the bits ahead, refilled when fewer than 47 are
        // left: a pair's longest code (19 bits), two escapes of up to 13 bits
        // and two signs take 47 of the 57 bits a fresh window is sure to hold.
        uint64_t w = Mp3BitReader::Window(data, position);
        uint32_t windowEnd = position + 64 - (position & 7);
        for (; i < end; i += 2) {
            if (windowEnd - position < 47) {
                w = Mp3BitReader::Window(data, position);
                windowEnd = position + 64 - (position & 7);
            }
            const uint32_t e = DecodeSymbol(w, position, table);
            int32_t x = int32_t((e >> 4) & 15);
            int32_t y = int32_t(e & 15);
            if (linbits) {
                // The escape of a 15, without a branch: mask is all ones then.
                const uint64_t mask = uint64_t(0) - uint64_t(x == 15);
                const uint32_t used = linbits & uint32_t(mask);
                x += int32_t((w >> (64 - linbits)) & mask);
                w <<= used;
                position += used;
            }
            // A sign bit follows each value other than zero; without branches,
            // as zeros and signs come in no order a predictor could learn.
            uint32_t has = x != 0;
            int32_t negative = -int32_t(uint32_t(w >> 63) & has);
            x = (x ^ negative) - negative;
            w <<= has;
            position += has;
            if (linbits) {
                const uint64_t mask = uint64_t(0) - uint64_t(y == 15);
                const uint32_t used = linbits & uint32_t(mask);
                y += int32_t((w >> (64 - linbits)) & mask);
                w <<= used;
                position += used;
            }
            has = y != 0;
            negative = -int32_t(uint32_t(w >> 63) & has);
            y = (y ^ negative) - negative;
            w <<= has;
            position += has;
            lines[i] = x;
            lines[i + 1] = y;
            if (position > endBit) {
                r.SetPosition(position);
                return kMp3InvalidHuffman;
            }
        }
    }
    // Count1 region: quadruples until the part 3 bits run out. A quadruple
    // that would end past them is not part of the data and is dropped.
    const HuffTable& quad = tables.quadTables[g.count1Table];
    while (i < kGranuleLines && position < endBit) {
        uint64_t w = Mp3BitReader::Window(data, position);
        const uint32_t symbol = DecodeSymbol(w, position, quad);
        int32_t v[4] = {int32_t((symbol >> 3) & 1), int32_t((symbol >> 2) & 1), int32_t((symbol >> 1) & 1),
                        int32_t(symbol & 1)};
        for (int k = 0; k < 4; ++k) {
            const uint32_t has = uint32_t(v[k]);
            v[k] -= int32_t(uint32_t(w >> 63) & has) * 2;
            w <<= has;
            position += has;
        }
        if (position > endBit) {
            break;
        }
        for (int k = 0; k < 4 && i < kGranuleLines; ++k) {
            lines[i++] = v[k];
        }
    }
    r.SetPosition(position);
    int bound = i;
    while (bound > 0 && lines[bound - 1] == 0) {
        --bound;
    }
    if (i < kGranuleLines) {
        std::memset(lines + i, 0, sizeof(int32_t) * size_t(kGranuleLines - i));
    }
    d.huffman.nonZeroBound[channel] = bound;
    return kMp3Ok;
}

}  // namespace cz::mp3
