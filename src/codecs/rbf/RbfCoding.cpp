#include "codecs/rbf/RbfCoding.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace cz {

namespace {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint8_t RotateRight2(uint8_t b) { return static_cast<uint8_t>((b >> 2) | (b << 6)); }

// Counts what a decoding outputs and enforces the sample cap for every
// coding; the real sink sees only what passed.
class CappedSink {
public:
    explicit CappedSink(RbfSampleSink* sink) : sink_(sink) {}
    bool Put(uint16_t value, uint32_t count, RbfDecodeResult& r) {
        if (count == 0) return true;
        if (r.samples + count > kRbfMaxSamples) {
            r.status = RbfStatus::kTooManySamples;
            return false;
        }
        if (sink_ && !sink_->Put(value, count)) {
            r.status = RbfStatus::kSinkFailed;
            return false;
        }
        r.samples += count;
        return true;
    }

private:
    RbfSampleSink* sink_;
};

RbfDecodeResult PastEnd(RbfDecodeResult r) {
    r.status = RbfStatus::kBlockPastEnd;
    return r;
}

// ---------------------------------------------------------------------------
// "WMdM": blocks by control byte c (type c AND 7, bit 0 announces a marker
// of 2 bytes: type rotated left by 2, identifier), FF ends.
//   0, 1   42, 44      first sample, 8 groups of 8 deltas
//   2, 3   12, 14      first sample, 2 groups
//   4, 5   3, 5        silence: u16 count of 2048
//   6, 7   3+n, 5+n    raw: first sample byte, n, n sample bytes (x 16)

constexpr uint8_t kWmdmEnd = 0xFF;

// The size of the block at payload[pos] from its fixed part, or 0 when even
// that runs past the payload.
size_t WmdmBlockSize(std::span<const uint8_t> p, size_t pos) {
    const uint8_t c = p[pos];
    const unsigned type = c & 7u;
    const bool marker = (c & 1u) != 0;
    const size_t left = p.size() - pos;
    size_t size = 0;
    if (type < 4) {
        size = 2 + (marker ? 2 : 0) + 5 * (type < 2 ? 8 : 2);
    } else if (type < 6) {
        size = marker ? 5 : 3;
    } else {
        const size_t countAt = marker ? 4 : 2;
        if (left <= countAt) return 0;
        size = countAt + 1 + p[pos + countAt];
    }
    return size <= left ? size : 0;
}

class WmdmDecoder final : public RbfDecoder {
public:
    const char* GetMagic() const override { return "WMdM"; }
    std::span<const uint8_t> EndMark() const override { return kEnd; }

    RbfDecodeResult Decode(std::span<const uint8_t> p, RbfSampleSink& sinkIn) const override { return Run(p, &sinkIn); }

    RbfDecodeResult Run(std::span<const uint8_t> p, RbfSampleSink* sinkIn) const {
        RbfDecodeResult r;
        CappedSink sink(sinkIn);
        size_t pos = 0;
        while (pos < p.size()) {
            const uint8_t c = p[pos];
            if (c == kWmdmEnd) {
                r.endMark = true;
                r.bytes = pos + 1;
                break;
            }
            const size_t size = WmdmBlockSize(p, pos);
            if (size == 0) return PastEnd(std::move(r));
            const uint8_t* b = p.data() + pos;
            const unsigned type = c & 7u;
            const bool marker = (c & 1u) != 0;
            const auto start = static_cast<uint32_t>(r.samples);
            if (type < 4) {
                const int first = (b[1] << 4) + ((c & 0x80) ? 8 : 0);
                if (!sink.Put(static_cast<uint16_t>(first), 1, r)) return r;
                if (marker) r.markers.push_back({start, b[3], RotateRight2(b[2])});
                const int step = 8 * (((c >> 3) & 15) + 1);
                const int groups = type < 2 ? 8 : 2;
                const uint8_t* g = b + (marker ? 4 : 2);
                int previous = first;
                for (int group = 0; group < groups; ++group, g += 5) {
                    const uint8_t sign = g[0];
                    for (int k = 0; k < 8; ++k) {
                        const uint8_t byte = g[1 + k / 2];
                        const int magnitude = (k % 2 == 0) ? (byte & 15) : (byte >> 4);
                        const int delta = magnitude * step;
                        previous = std::clamp(((sign >> k) & 1) ? previous - delta : previous + delta, 0, 4095);
                        if (!sink.Put(static_cast<uint16_t>(previous), 1, r)) return r;
                    }
                }
            } else if (type < 6) {
                if (marker) r.markers.push_back({start, b[2], RotateRight2(b[1])});
                if (!sink.Put(2048, Le16(b + size - 2), r)) return r;
            } else {
                if (!sink.Put(static_cast<uint16_t>(b[1] << 4), 1, r)) return r;
                if (marker) r.markers.push_back({start, b[3], RotateRight2(b[2])});
                const size_t countAt = marker ? 4 : 2;
                for (size_t i = 0; i < b[countAt]; ++i) {
                    if (!sink.Put(static_cast<uint16_t>(b[countAt + 1 + i] << 4), 1, r)) return r;
                }
            }
            pos += size;
            r.bytes = pos;
        }
        return r;
    }

    size_t CutLength(std::span<const uint8_t> p, size_t limit) const override {
        size_t pos = 0;
        while (pos < p.size() && p[pos] != kWmdmEnd) {
            const size_t size = WmdmBlockSize(p, pos);
            if (size == 0 || pos + size > limit) break;
            pos += size;
        }
        return pos;
    }

private:
    static constexpr uint8_t kEnd[1] = {kWmdmEnd};
};

// ---------------------------------------------------------------------------
// "WADM" and "WE2A": blocks by type in bits 0-1 of the first byte b0; the two
// bytes 00 00 end the payload. The codings share the framing and differ in
// their block decoders.

constexpr uint8_t kZeroEnd[2] = {0, 0};

// Step size of the 4-bit ADPCM for index 0..63.
inline int AdpcmStep(int index) { return (8 + index % 8) << (index / 8); }

// The magnitude part of a code x on step s.
inline int AdpcmDelta(int s, unsigned x) {
    int d = s >> 3;
    if (x & 4) d += s;
    if (x & 2) d += s >> 1;
    if (x & 1) d += s >> 2;
    return d;
}

// Step index rows: "WADM" uses row 0, "WE2A" chooses one per sub-block.
constexpr int kIndexRows[4][8] = {
    {-1, -1, -1, -1, 2, 4, 6, 8},
    {-2, -2, -2, -2, 5, 7, 9, 11},
    {-1, -1, -1, -1, 4, 6, 8, 10},
    {-2, -2, -2, -2, 2, 4, 8, 10},
};

class AdpcmBlockDecoder : public RbfDecoder {
public:
    std::span<const uint8_t> EndMark() const override { return kZeroEnd; }

    // Every audio block starts from its own first sample and step index, and
    // the "WE2A" history runs on from the blocks before: a prefix of whole
    // blocks plays the start of the sound exactly.
    size_t CutLength(std::span<const uint8_t> p, size_t limit) const override {
        size_t pos = 0;
        while (p.size() - pos >= 2) {
            const uint8_t* b = p.data() + pos;
            if (b[0] == 0 && b[1] == 0) break;
            const size_t size = BlockSize(b);
            if (size > p.size() - pos || pos + size > limit) break;
            pos += size;
        }
        return pos;
    }

    RbfDecodeResult Decode(std::span<const uint8_t> p, RbfSampleSink& sinkIn) const override { return Run(p, &sinkIn); }

    // The block dispatcher: checks each block's size, then hands it over.
    RbfDecodeResult Run(std::span<const uint8_t> p, RbfSampleSink* sinkIn) const {
        RbfDecodeResult r;
        CappedSink sink(sinkIn);
        State state;
        size_t pos = 0;
        while (pos < p.size()) {
            const size_t left = p.size() - pos;
            if (left < 2) return PastEnd(std::move(r));
            const uint8_t* b = p.data() + pos;
            if (b[0] == 0 && b[1] == 0) {
                r.endMark = true;
                r.bytes = pos + 2;
                break;
            }
            const size_t size = BlockSize(b);
            if (size > left) return PastEnd(std::move(r));
            if (!DecodeBlock(b, state, sink, r)) return r;
            pos += size;
            r.bytes = pos;
        }
        return r;
    }

protected:
    struct State {
        int s1 = 32768, s2 = 32768;  // "WE2A" only
    };
    virtual size_t BlockSize(const uint8_t* b) const = 0;
    virtual bool DecodeBlock(const uint8_t* b, State& state, CappedSink& sink, RbfDecodeResult& r) const = 0;
};

//   0  2        silence: 16 x ((b1 >> 2) << 6 | b0 >> 2) samples of 2048
//   1  4 + b1   first sample (b2 >> 4 | b3 << 4), index b0 >> 2, 2 x b1 codes
//   2  4        marker (identifier b1, type b0 >> 2), one sample (b2 >> 4 | b3 << 4)
//   3  259      first sample (b1 >> 4 | b2 << 4), index b0 >> 2, 512 codes
class WadmDecoder final : public AdpcmBlockDecoder {
public:
    const char* GetMagic() const override { return "WADM"; }

protected:
    size_t BlockSize(const uint8_t* b) const override {
        switch (b[0] & 3) {
            case 0: return 2;
            case 1: return 4 + size_t{b[1]};
            case 2: return 4;
            default: return 259;
        }
    }

    bool DecodeBlock(const uint8_t* b, State&, CappedSink& sink, RbfDecodeResult& r) const override {
        const auto start = static_cast<uint32_t>(r.samples);
        switch (b[0] & 3) {
            case 0: return sink.Put(2048, 16u * ((static_cast<uint32_t>(b[1] >> 2) << 6) | (b[0] >> 2)), r);
            case 1: return Codes(static_cast<uint16_t>((b[2] >> 4) | (b[3] << 4)), b[0] >> 2, b + 4, b[1], sink, r);
            case 2:
                r.markers.push_back({start, b[1], static_cast<uint8_t>(b[0] >> 2)});
                return sink.Put(static_cast<uint16_t>((b[2] >> 4) | (b[3] << 4)), 1, r);
            default: return Codes(static_cast<uint16_t>((b[1] >> 4) | (b[2] << 4)), b[0] >> 2, b + 3, 256, sink, r);
        }
    }

private:
    // The first sample, then two codes per byte, high nibble first.
    static bool Codes(uint16_t first, int index, const uint8_t* codes, size_t bytes, CappedSink& sink,
                      RbfDecodeResult& r) {
        if (!sink.Put(first, 1, r)) return false;
        int value = first;
        for (size_t i = 0; i < 2 * bytes; ++i) {
            const unsigned x = (i % 2 == 0) ? (codes[i / 2] >> 4) : (codes[i / 2] & 15u);
            const int d = AdpcmDelta(AdpcmStep(index), x);
            index = std::clamp(index + kIndexRows[0][x & 7], 0, 63);
            value = std::clamp((x & 8) ? (value - 2048) - d : (value - 2048) + d, -2048, 2047) + 2048;
            if (!sink.Put(static_cast<uint16_t>(value), 1, r)) return false;
        }
        return true;
    }
};

//   0  2         silence: (b1 >> 2) << 6 | b0 >> 2 samples of 32768; the history resets
//   1  5 + n/2   n = (b0 >> 2) + 1 samples: first (b2 << 8 | b1 AND C0), parameters b3 b4, n - 1 codes
//   2  4         marker (identifier b1, type b0 >> 2), one sample u16 at bytes 2-3
//   3  3 + 34m   m = (b0 >> 2) + 1 sub-blocks: first sample as above, then per
//                sub-block two parameter bytes and 64 codes
// Parameter a: bits 0-1 the index row, bits 2-7 the highest step index;
// b: bits 0-2 coefficient A (on the last sample), bits 3-5 coefficient B (on
// the one before). A coefficient is a sum of shifted copies: bit 4 the value,
// bit 3 half of it, ... bit 0 a sixteenth; bit 7 of B subtracts.
class We2aDecoder final : public AdpcmBlockDecoder {
public:
    const char* GetMagic() const override { return "WE2A"; }
    uint16_t SampleBits() const override { return 16; }
    uint16_t SilenceValue() const override { return 32768; }

protected:
    size_t BlockSize(const uint8_t* b) const override {
        const size_t n = (b[0] >> 2) + 1u;
        switch (b[0] & 3) {
            case 0: return 2;
            case 1: return 5 + n / 2;
            case 2: return 4;
            default: return 3 + 34 * n;
        }
    }

    bool DecodeBlock(const uint8_t* b, State& st, CappedSink& sink, RbfDecodeResult& r) const override {
        const auto start = static_cast<uint32_t>(r.samples);
        const uint32_t n = (b[0] >> 2) + 1u;
        // Only the audio blocks have a third byte: a silence block may end the payload.
        auto first = [b] { return static_cast<uint16_t>((b[2] << 8) | (b[1] & 0xC0)); };
        const int startIndex = b[1] != 0 ? 1 : 0;
        switch (b[0] & 3) {
            case 0:
                st.s1 = st.s2 = 32768;
                return sink.Put(32768, (static_cast<uint32_t>(b[1] >> 2) << 6) | (b[0] >> 2), r);
            case 1: {
                if (!Shift(first(), st, sink, r)) return false;
                int index = startIndex;
                return Codes(b[3], b[4], b + 5, n - 1, index, st, sink, r);
            }
            case 2:
                r.markers.push_back({start, b[1], static_cast<uint8_t>(b[0] >> 2)});
                return Shift(Le16(b + 2), st, sink, r);
            default: {
                if (!Shift(first(), st, sink, r)) return false;
                int index = startIndex;
                for (uint32_t sub = 0; sub < n; ++sub) {
                    const uint8_t* s = b + 3 + 34 * size_t{sub};
                    if (!Codes(s[0], s[1], s + 2, 64, index, st, sink, r)) return false;
                }
                return true;
            }
        }
    }

private:
    static bool Shift(uint16_t value, State& st, CappedSink& sink, RbfDecodeResult& r) {
        st.s2 = st.s1;
        st.s1 = value;
        return sink.Put(value, 1, r);
    }

    // Sum of the shifted copies of x that the low five bits of a coefficient select.
    static int ShiftSum(int x, unsigned coefficient) {
        int sum = 0;
        if (coefficient & 0x10) sum += x;
        if (coefficient & 0x08) sum += x >> 1;
        if (coefficient & 0x04) sum += x >> 2;
        if (coefficient & 0x02) sum += x >> 3;
        if (coefficient & 0x01) sum += x >> 4;
        return sum;
    }

    static bool Codes(uint8_t a, uint8_t bParam, const uint8_t* codes, uint32_t count, int& index, State& st,
                      CappedSink& sink, RbfDecodeResult& r) {
        static constexpr uint8_t kA[8] = {0x08, 0x0A, 0x0C, 0x0E, 0x10, 0x12, 0x14, 0x16};
        static constexpr uint8_t kB[8] = {0x88, 0x86, 0x84, 0x82, 0x00, 0x02, 0x04, 0x06};
        const int* row = kIndexRows[a & 3];
        const int highest = a >> 2;
        const unsigned coefA = kA[bParam & 7];
        const unsigned coefB = kB[(bParam >> 3) & 7];
        for (uint32_t i = 0; i < count; ++i) {
            const unsigned x = (i % 2 == 0) ? (codes[i / 2] >> 4) : (codes[i / 2] & 15u);
            const int p1 = st.s1 - 32768;
            const int p2 = st.s2 - 32768;
            const int fromB = ShiftSum(p2, coefB & 0x0F);
            const int prediction = std::clamp(ShiftSum(p1, coefA) + ((coefB & 0x80) ? -fromB : fromB), -32768, 32767);
            const int d = AdpcmDelta(16 * AdpcmStep(index), x);
            index = std::min(std::clamp(index + row[x & 7], 0, 63), highest);
            const int value = std::clamp((x & 8) ? prediction - d : prediction + d, -32768, 32767) + 32768;
            st.s2 = st.s1;
            st.s1 = value;
            if (!sink.Put(static_cast<uint16_t>(value), 1, r)) return false;
        }
        return true;
    }
};

// ---------------------------------------------------------------------------
// "Q42M": 16-bit words. A data word holds two 5-bit two's-complement deltas
// (bits 0-4, then 5-9), each added x scale x 8 to the value modulo 4096 and
// output. Words with bits 5-9 = 10000 are commands:
//   0208          end
//   0201 n        (n AND 03FF) x 2 samples of the value
//   0202 t c      marker: type = low byte of t, identifier from the code table
//   bit 4 set     scale = {16, 32, 2, 3, ..., 15}[w AND 15]
//   others        skipped

constexpr uint16_t kQ42mEnd = 0x0208;
constexpr uint16_t kQ42mRun = 0x0201;
constexpr uint16_t kQ42mMarker = 0x0202;
constexpr uint8_t kQ42mEndBytes[2] = {0x08, 0x02};

bool IsQ42mCommand(uint16_t w) { return (w & 0x03E0) == 0x0200; }

// Marker codes to marker numbers; codes not listed give 0.
constexpr std::array<uint8_t, 256> MakeMarkerNumbers() {
    std::array<uint8_t, 256> t{};
    constexpr uint8_t kCodes[16] = {0, 1, 16, 2, 17, 32, 3, 18, 33, 48, 4, 35, 34, 49, 64, 5};
    for (uint8_t n = 0; n < 16; ++n) t[kCodes[n]] = n;
    return t;
}
constexpr std::array<uint8_t, 256> kMarkerNumbers = MakeMarkerNumbers();

// Words a command takes with its operands (1 for data words and the others).
size_t Q42mUnitWords(uint16_t w) {
    if (w == kQ42mRun) return 2;
    if (w == kQ42mMarker) return 3;
    return 1;
}

class Q42mDecoder final : public RbfDecoder {
public:
    const char* GetMagic() const override { return "Q42M"; }
    std::span<const uint8_t> EndMark() const override { return kQ42mEndBytes; }

    RbfDecodeResult Decode(std::span<const uint8_t> p, RbfSampleSink& sinkIn) const override { return Run(p, &sinkIn); }

    RbfDecodeResult Run(std::span<const uint8_t> p, RbfSampleSink* sinkIn) const {
        static constexpr int kScales[16] = {16, 32, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        RbfDecodeResult r;
        CappedSink sink(sinkIn);
        int value = 2048;
        int scale = 0;
        size_t pos = 0;
        while (pos < p.size()) {
            if (p.size() - pos < 2) return PastEnd(std::move(r));
            const uint16_t w = Le16(p.data() + pos);
            if (!IsQ42mCommand(w)) {
                for (int shift = 0; shift <= 5; shift += 5) {
                    const int field = (w >> shift) & 31;
                    const int delta = field >= 16 ? field - 32 : field;
                    value = ((value + delta * scale * 8) % 4096 + 4096) % 4096;
                    if (!sink.Put(static_cast<uint16_t>(value), 1, r)) return r;
                }
                pos += 2;
                r.bytes = pos;
                continue;
            }
            if (w == kQ42mEnd) {
                r.endMark = true;
                r.bytes = pos + 2;
                break;
            }
            const size_t words = Q42mUnitWords(w);
            if (p.size() - pos < 2 * words) return PastEnd(std::move(r));
            if (w == kQ42mRun) {
                if (!sink.Put(static_cast<uint16_t>(value), (Le16(p.data() + pos + 2) & 0x03FFu) * 2, r)) return r;
            } else if (w == kQ42mMarker) {
                const uint16_t t = Le16(p.data() + pos + 2);
                const uint16_t c = Le16(p.data() + pos + 4);
                r.markers.push_back(
                    {static_cast<uint32_t>(r.samples), kMarkerNumbers[c & 0xFF], static_cast<uint8_t>(t & 0xFF)});
            } else if (w & 0x10) {
                scale = kScales[w & 15];
            }
            pos += 2 * words;
            r.bytes = pos;
        }
        return r;
    }

    // Whole words, and a command with its operands as one piece: a cut
    // between a command and its operand would let the end mark be read as
    // the operand.
    size_t CutLength(std::span<const uint8_t> p, size_t limit) const override {
        size_t pos = 0;
        while (p.size() - pos >= 2) {
            const uint16_t w = Le16(p.data() + pos);
            if (w == kQ42mEnd) break;
            const size_t size = 2 * (IsQ42mCommand(w) ? Q42mUnitWords(w) : 1);
            if (size > p.size() - pos || pos + size > limit) break;
            pos += size;
        }
        return pos;
    }
};

class NullSink final : public RbfSampleSink {
public:
    bool Put(uint16_t, uint32_t) override { return true; }
};

}  // namespace

const char* RbfStatusText(RbfStatus status) {
    switch (status) {
        case RbfStatus::kOk: return "decoded";
        case RbfStatus::kBlockPastEnd: return "a block runs past the end of the payload";
        case RbfStatus::kTooManySamples: return "the payload decodes to more samples than a resource may hold";
        case RbfStatus::kSinkFailed: return "the decoded samples could not be written";
    }
    return "unknown";
}

RbfInfo RbfDecoder::ParseInfo(std::span<const uint8_t> payload) const {
    NullSink sink;
    const RbfDecodeResult r = Decode(payload, sink);
    RbfInfo info;
    info.status = r.status;
    info.dataSize = r.samples * 2;
    info.bits = SampleBits();
    return info;
}

std::unique_ptr<RbfDecoder> OpenRbfDecoder(std::span<const uint8_t> header) {
    if (header.size() < 4) return nullptr;
    std::unique_ptr<RbfDecoder> candidates[] = {std::make_unique<WmdmDecoder>(), std::make_unique<WadmDecoder>(),
                                                std::make_unique<We2aDecoder>(), std::make_unique<Q42mDecoder>()};
    for (auto& decoder : candidates) {
        if (std::memcmp(header.data(), decoder->GetMagic(), 4) == 0) return std::move(decoder);
    }
    return nullptr;
}

}  // namespace cz
