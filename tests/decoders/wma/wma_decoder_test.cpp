// The frame decoder's refusals and its behaviour on damaged input.
#include <gtest/gtest.h>

#include <cstring>

#include "WmaTestFiles.h"

namespace cz::wma::test {
namespace {

WmaStreamFormat Format(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t bytesPerSecond, uint16_t align,
                       uint16_t flags) {
    WmaStreamFormat f;
    f.formatTag = tag;
    f.channels = channels;
    f.sampleRate = rate;
    f.avgBytesPerSecond = bytesPerSecond;
    f.blockAlign = align;
    f.bitsPerSample = 16;
    if (tag == kWmaTagVersion1) {
        f.extra = {0, 0, uint8_t(flags), uint8_t(flags >> 8)};
    } else {
        f.extra = {0, 0, 0, 0, uint8_t(flags), uint8_t(flags >> 8)};
    }
    return f;
}

TEST(WmaDecoder, RefusesFormatsItCannotDecode) {
    struct Row {
        const char* what;
        WmaStreamFormat format;
    };
    const Row rows[] = {
        {"WMA Pro tag", Format(0x162, 2, 44100, 16000, 2048, 0x17)},
        {"WMA Lossless tag", Format(0x163, 2, 44100, 16000, 2048, 0x17)},
        {"PCM tag", Format(1, 2, 44100, 176400, 4, 0)},
        {"no channels", Format(kWmaTagVersion2, 0, 44100, 16000, 2048, 0x17)},
        {"three channels", Format(kWmaTagVersion2, 3, 44100, 16000, 2048, 0x17)},
        {"zero rate", Format(kWmaTagVersion2, 2, 0, 16000, 2048, 0x17)},
        {"96 kHz", Format(kWmaTagVersion2, 2, 96000, 16000, 2048, 0x17)},
        {"no bit rate", Format(kWmaTagVersion2, 2, 44100, 0, 2048, 0x17)},
        {"absurd bit rate", Format(kWmaTagVersion2, 1, 8000, 0x0FFFFFFF, 2048, 0x17)},
        {"no unit size", Format(kWmaTagVersion2, 2, 44100, 16000, 0, 0x17)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WmaDecoder decoder;
        EXPECT_FALSE(decoder.Open(row.format));
        EXPECT_STRNE(decoder.LastError(), "");
        EXPECT_EQ(decoder.FrameLength(), 0u);
        std::vector<int16_t> out;
        const uint8_t unit[64] = {};
        EXPECT_FALSE(decoder.DecodeUnit(unit, sizeof unit, out));
        EXPECT_TRUE(out.empty());
    }
}

TEST(WmaDecoder, FrameLengthFollowsRateAndVersion) {
    struct Row {
        uint16_t tag;
        uint32_t rate;
        uint32_t frame;
    };
    const Row rows[] = {{kWmaTagVersion1, 8000, 512},   {kWmaTagVersion1, 22050, 1024}, {kWmaTagVersion1, 32000, 1024},
                        {kWmaTagVersion2, 32000, 2048}, {kWmaTagVersion2, 16000, 512},  {kWmaTagVersion2, 48000, 2048}};
    for (const Row& row : rows) {
        WmaDecoder decoder;
        ASSERT_TRUE(decoder.Open(Format(row.tag, 1, row.rate, 4000, 512, 0x1)));
        EXPECT_EQ(decoder.FrameLength(), row.frame) << row.tag << " " << row.rate;
    }
}

// Most significant bit first, as the stream is read.
class BitWriter {
public:
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (bit_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= uint8_t(0x80 >> (bit_ % 8));
            ++bit_;
        }
    }
    std::vector<uint8_t> Unit(size_t size) const {
        std::vector<uint8_t> u(bytes_);
        u.resize(size, 0);
        return u;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t bit_ = 0;
};

// Exponent bands of one full block of a version 2 stream at 44.1 kHz
// (2048 coefficients): computed from the critical bands.
int BandCount44k() {
    const int edges[] = {100,  200,  300,  400,  510,  630,  770,  920,  1080, 1270,  1480,  1720, 2000,
                         2320, 2700, 3150, 3700, 4400, 5300, 6400, 7700, 9500, 12000, 15500, 24500};
    int count = 0, last = 0;
    for (const int a : edges) {
        int pos = std::min(((2048 * 2 * a + (44100 << 1)) / (4 * 44100)) << 2, 2048);
        if (pos > last) ++count;
        if (pos >= 2048) break;
        last = pos;
    }
    return count;
}

TEST(WmaDecoder, DamagedBlocksFailCleanly) {
    // Mono 44.1 kHz at 128 kbit/s: Huffman exponents, no noise coding, no
    // reservoir; fixed blocks unless the row asks for variable ones.
    const uint16_t kAlign = 512;
    const int bands = BandCount44k();
    struct Row {
        const char* what;
        uint16_t flags;
        std::vector<uint8_t> unit;
        const char* reason;
    };
    std::vector<Row> rows;
    {
        // Variable blocks, five sizes (128 kbit/s adds two): three bits per
        // size, 7 is out of range.
        BitWriter w;
        w.Put(7, 3);
        rows.push_back({"block size", 0x000D, w.Unit(kAlign), "block size"});
    }
    {
        // Each exponent step +60 (the longest code): out of range on the third.
        BitWriter w;
        w.Put(1, 1);  // channel coded
        w.Put(1, 7);  // gain
        for (int i = 0; i < 4; ++i) w.Put(0x7fff3, 19);
        rows.push_back({"exponent", 0x0001, w.Unit(kAlign), "exponent out of range"});
    }
    {
        // Flat exponents, then an escape whose run leaves the block.
        BitWriter w;
        w.Put(1, 1);
        w.Put(1, 7);
        for (int i = 0; i < bands; ++i) w.Put(0, 1);  // step 0 is the one-bit code "0"
        w.Put(0x00f01, 12);                           // escape
        w.Put(5, 13);                                 // level
        w.Put(2047, 11);                              // run past the last coefficient
        rows.push_back({"run", 0x0001, w.Unit(kAlign), "past the end of the block"});
    }
    {
        // A gain that never ends.
        BitWriter w;
        w.Put(1, 1);
        for (int i = 0; i < 600; ++i) w.Put(127, 7);
        rows.push_back({"gain", 0x0001, w.Unit(kAlign), "gain runs past"});
    }
    {
        // Exponents reused in a short block before any were sent: variable
        // blocks, sizes 2048 -> 1024 -> 1024.
        BitWriter w;
        w.Put(0, 3);
        w.Put(1, 3);
        w.Put(1, 3);
        w.Put(1, 1);  // coded
        w.Put(1, 7);  // gain
        w.Put(0, 1);  // keep the exponents
        rows.push_back({"reuse", 0x0005 | (1 << 3), w.Unit(kAlign), "never sent"});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WmaDecoder decoder;
        WmaStreamFormat format = Format(kWmaTagVersion2, 1, 44100, 16000, kAlign, row.flags);
        ASSERT_TRUE(decoder.Open(format));
        std::vector<int16_t> out = {7};
        EXPECT_FALSE(decoder.DecodeUnit(row.unit.data(), row.unit.size(), out));
        EXPECT_NE(std::string(decoder.LastError()).find(row.reason), std::string::npos) << decoder.LastError();
        EXPECT_EQ(out, std::vector<int16_t>{7});  // nothing appended on failure
        // After a reset the decoder takes the next unit.
        decoder.Reset();
        const std::vector<uint8_t> silent(kAlign, 0);
        EXPECT_TRUE(decoder.DecodeUnit(silent.data(), silent.size(), out)) << decoder.LastError();
    }
}

TEST(WmaDecoder, ShortUnitsAndUseBeforeOpenAreRefused) {
    WmaDecoder decoder;
    std::vector<int16_t> out;
    const std::vector<uint8_t> unit(512, 0);
    EXPECT_FALSE(decoder.DecodeUnit(unit.data(), unit.size(), out));
    EXPECT_FALSE(decoder.Flush(out));
    ASSERT_TRUE(decoder.Open(Format(kWmaTagVersion2, 2, 44100, 16000, 512, 0x17)));
    EXPECT_FALSE(decoder.DecodeUnit(unit.data(), 511, out));
    EXPECT_FALSE(decoder.DecodeUnit(nullptr, 512, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(decoder.Flush(out));  // nothing decoded yet
}

// With the bit reservoir, units that only continue a frame begun before the
// decoder started (or was reset) give nothing and are no error.
TEST(WmaDecoder, UnitsContinuingAnUnknownFrameGiveNothing) {
    WmaDecoder decoder;
    ASSERT_TRUE(decoder.Open(Format(kWmaTagVersion2, 1, 44100, 16000, 512, 0x0003)));
    std::vector<int16_t> out;
    std::vector<uint8_t> unit(512, 0x55);
    unit[0] = 0x00;  // unit 0, no frame ends here
    EXPECT_TRUE(decoder.DecodeUnit(unit.data(), unit.size(), out)) << decoder.LastError();
    unit[0] = 0x01;  // one frame ends here: the unknown one; the next starts
    unit[1] = 0x00;  // at bit offset 0
    unit[2] = 0x00;
    EXPECT_TRUE(decoder.DecodeUnit(unit.data(), unit.size(), out)) << decoder.LastError();
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(decoder.Flush(out));
}

// Every unit of real streams damaged in turn (bytes overwritten, bits
// flipped, the rest of the unit zeroed or set): each unit either decodes
// into whole frames or fails, and the decoder carries on after a reset.
TEST(WmaDecoder, DamagedRealStreamsNeverReadOutOfBounds) {
    const char* files[] = {"wma92-32k.wma", "wma92-vbr.wma", "wmv92-with-audio.wmv", "wma92-mbr.wma"};
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (const char* name : files) CZ_SKIP_WITHOUT_TESTDATA(cz::test::TestDataDir() + "/asf/" + name);
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const std::string path = cz::test::TestDataDir() + "/asf/" + name;
        AsfAudio audio;
        ASSERT_TRUE(ReadAsfAudio(cz::test::ReadFileBytes(path), audio));
        for (int round = 0; round < 40; ++round) {
            WmaDecoder decoder;
            ASSERT_TRUE(decoder.Open(audio.format));
            const size_t step = size_t(decoder.FrameLength()) * audio.format.channels;
            std::vector<int16_t> out;
            for (std::vector<uint8_t> unit : audio.units) {
                switch (round % 4) {
                    case 0:
                        for (int k = 0; k < 4; ++k) unit[next() % unit.size()] = uint8_t(next());
                        break;
                    case 1: unit[next() % unit.size()] ^= uint8_t(1 << (next() % 8)); break;
                    case 2: std::fill(unit.begin() + long(next() % unit.size()), unit.end(), 0); break;
                    default: std::fill(unit.begin() + long(next() % unit.size()), unit.end(), 0xFF); break;
                }
                const size_t before = out.size();
                if (!decoder.DecodeUnit(unit.data(), unit.size(), out)) {
                    EXPECT_EQ(out.size(), before);
                    decoder.Reset();
                }
                EXPECT_EQ((out.size() - before) % size_t(audio.format.channels), 0u);
                EXPECT_LE(out.size() - before, 16 * step);
            }
            decoder.Flush(out);
        }
    }
}

// Seeds for fuzz/wmaframe_fuzz.cpp from the Windows Media encoder files
// (superframes, block switching, noise coding, LSP envelopes). The files are
// GPL-2 test data of another project, so their seeds are made where the
// files are instead of kept in fuzz/corpus: set CZ_WRITE_SEEDS to a folder.
TEST(WmaDecoder, WritesFuzzSeedsWhenAsked) {
    const char* folder = std::getenv("CZ_WRITE_SEEDS");
    if (!folder) GTEST_SKIP() << "CZ_WRITE_SEEDS not set";
    const uint32_t rates[8] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 12000};
    const char* files[] = {"wma92-32k.wma", "wma92-vbr.wma", "wmv92-with-audio.wmv", "wma92-mbr.wma"};
    for (const char* name : files) CZ_SKIP_WITHOUT_TESTDATA(cz::test::TestDataDir() + "/asf/" + name);
    for (const char* name : files) {
        AsfAudio audio;
        ASSERT_TRUE(ReadAsfAudio(cz::test::ReadFileBytes(cz::test::TestDataDir() + "/asf/" + name), audio));
        const WmaStreamFormat& f = audio.format;
        int rate = 0;
        while (rate < 8 && rates[rate] != f.sampleRate) ++rate;
        ASSERT_LT(rate, 8);
        const size_t flags = f.formatTag == kWmaTagVersion2 ? 4 : 2;
        ASSERT_GE(f.extra.size(), flags + 2);
        const uint32_t kbps = f.avgBytesPerSecond / 125;
        std::vector<uint8_t> seed = {uint8_t((f.formatTag == kWmaTagVersion2 ? 1 : 0) | (f.channels == 2 ? 2 : 0)),
                                     uint8_t(rate),
                                     uint8_t(kbps),
                                     uint8_t(kbps >> 8),
                                     uint8_t(f.blockAlign),
                                     uint8_t(f.blockAlign >> 8),
                                     f.extra[flags],
                                     f.extra[flags + 1]};
        for (size_t i = 0; i < audio.units.size() && i < 3; ++i) {
            seed.insert(seed.end(), audio.units[i].begin(), audio.units[i].end());
        }
        EXPECT_TRUE(cz::test::WriteFileBytes(std::string(folder) + "/real_" + name, seed));
    }
}

}  // namespace
}  // namespace cz::wma::test
