// Chip-format files built in code for the converter tests: an APM file from
// the chip ADPCM coder and an MDM file from the MDPCM coder, laid out as the
// formats' tables give them. Each fixture also returns what the chip should
// play: the decoded samples (silence as mid-scale) and the markers.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "ResourceDecoder.h"
#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "support/LittleEndian.h"
#include "support/Signals.h"

namespace cz::test {

struct ChipFixture {
    std::vector<uint8_t> file;
    std::vector<uint16_t> expected;  // what the resource must play
    std::vector<ResourceMarker> markers;
};

// A byte vector written front to back, little-endian.
class LeBytes {
public:
    std::vector<uint8_t> bytes;
    void U8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) { Put16(bytes, v); }
    void U32(uint32_t v) { Put32(bytes, v); }
    void Text(const char* s) { PutTag(bytes, s); }
    void Put16At(size_t at, uint32_t v) { test::Put16At(bytes, at, v); }
    void Put32At(size_t at, uint32_t v) { test::Put32At(bytes, at, v); }
};

struct ApmSilence {
    uint32_t first, last;
};
struct ApmEvent {
    uint32_t position;
    uint16_t type, parameter;
};

// An APM file of the samples coded in the mode, with silence segments and
// events in its metadata. traceDamage: every n-th trace entry is overwritten
// (0: none), as a file from a coder with other rules would look.
inline ChipFixture BuildApm(const std::vector<uint16_t>& samples, uint32_t mode, uint16_t rate,
                            const std::vector<ApmSilence>& silences, const std::vector<ApmEvent>& events,
                            uint32_t traceDamage = 0) {
    C_ADPCMEncDec coder(12, 64);
    const auto m = static_cast<uint32_t>(samples.size());
    std::vector<uint8_t> codes(coder.GetMaxEncodedSize(m, mode));
    const uint32_t k =
        coder.Encode(m, samples.data(), codes.data(), static_cast<uint32_t>(codes.size()), mode, nullptr);
    codes.resize(k);
    std::vector<uint8_t> trace(coder.GetStepIndexTrace(), coder.GetStepIndexTrace() + coder.GetStepIndexTraceSize());
    C_ADPCMEncDec decoder(12, 64);
    std::vector<uint16_t> decoded(2u * k);
    const uint32_t n = decoder.Decode(codes.data(), k, decoded.data(), 4u * k, nullptr) / 2;
    decoded.resize(n);
    trace.resize(n, 0);
    for (uint32_t i = 0; traceDamage && i < n; i += traceDamage)
        trace[i] = static_cast<uint8_t>((trace[i] * 7 + 13) % 64);

    const bool metadata = !silences.empty() || !events.empty();
    LeBytes f;
    f.Text("WAPM");
    f.U16(0x110);
    f.U16(76);
    f.U16(1);
    f.U8(4);
    f.U8(0);
    f.U16(rate);
    f.U16(static_cast<uint32_t>((rate / 2) * 0.85));
    f.U32(0);  // total size, filled below
    f.U16(0);
    f.U16((mode == 1 || mode == 3) ? 0 : 0x800);
    const uint32_t p = 76 + k + 3 * n + 2 * m;
    f.U16(4), f.U32(76), f.U32(n);
    f.U16(12), f.U32(76 + k), f.U32(n);
    f.U16(6), f.U32(76 + k + 2 * n), f.U32(n);
    f.U16(12), f.U32(76 + k + 3 * n), f.U32(m);
    f.U16(metadata ? 1 : 0);
    f.U32(p);
    f.U16(1);
    f.U16(64);
    f.U16(3);
    f.bytes.insert(f.bytes.end(), codes.begin(), codes.end());
    for (uint16_t v : decoded) f.U16(v);
    f.bytes.insert(f.bytes.end(), trace.begin(), trace.end());
    for (uint16_t v : samples) f.U16(v);
    if (metadata) {
        const auto s = static_cast<uint32_t>(silences.size());
        f.Text("WCMD");
        f.U16(0x100);
        f.U16(24);
        f.U32(0x816);
        f.U32(p + 24);
        f.U16(1);
        f.U32(p + 40 + 8 * s);
        f.U16(1);
        f.Text("WSIL");
        f.U16(16);
        f.U16(8);
        f.U32(p + 40);
        f.U32(s);
        for (const auto& seg : silences) f.U32(seg.first), f.U32(seg.last);
        for (int i = 0; i < 16; ++i) f.U8(0);
        f.U16(28);
        f.U16(8);
        f.U32(p + 40 + 8 * s + 28);
        f.U32(static_cast<uint32_t>(events.size()));
        for (const auto& e : events) f.U32(e.position), f.U16(e.type), f.U16(e.parameter);
    }
    f.Put32At(16, static_cast<uint32_t>(f.bytes.size()));

    ChipFixture fixture;
    fixture.file = std::move(f.bytes);
    fixture.expected = decoded;
    for (const auto& seg : silences) {
        for (uint32_t i = seg.first; i <= seg.last && i < n; ++i) fixture.expected[i] = 2048;
    }
    for (const auto& e : events) {
        fixture.markers.push_back({e.position, static_cast<uint8_t>(e.type), static_cast<uint8_t>(e.parameter & 63)});
    }
    return fixture;
}

// The pieces of an MDM frame section, in stream order.
struct MdmPiece {
    enum Kind { kVoice, kSilence, kRaw } kind;
    std::vector<uint16_t> samples;  // voice and raw
    uint16_t length = 0;            // silence
    bool command = false;           // carries a command word
    uint8_t eventType = 0, eventParameter = 0;
};

inline uint16_t CommandWord(uint8_t type, uint8_t parameter) {
    return static_cast<uint16_t>((((type << 6) | (parameter & 63)) << 2) | (parameter >> 6));
}

// An MDM file: voice coded with the MDPCM coder (first-sample bits 9, long
// frames of 65 and short of 17) and repacked into frame records.
inline ChipFixture BuildMdm(const std::vector<MdmPiece>& pieces, uint16_t rate) {
    ChipFixture fixture;
    std::vector<uint8_t> records;
    std::vector<uint16_t> source;
    auto& decodedPcm = fixture.expected;
    for (const auto& piece : pieces) {
        const auto start = static_cast<uint32_t>(decodedPcm.size());
        const uint16_t word = CommandWord(piece.eventType, piece.eventParameter);
        if (piece.command) fixture.markers.push_back({start, piece.eventType, piece.eventParameter});
        if (piece.kind == MdmPiece::kSilence) {
            records.push_back(piece.command ? 5 : 4);
            if (piece.command) Put16(records, word);
            Put16(records, piece.length);
            decodedPcm.insert(decodedPcm.end(), piece.length, uint16_t{2048});
            continue;
        }
        source.insert(source.end(), piece.samples.begin(), piece.samples.end());
        if (piece.kind == MdmPiece::kRaw) {
            records.push_back(piece.command ? 7 : 6);
            records.push_back(static_cast<uint8_t>(piece.samples[0] >> 4));
            if (piece.command) Put16(records, word);
            records.push_back(static_cast<uint8_t>(piece.samples.size() - 1));
            for (size_t i = 1; i < piece.samples.size(); ++i)
                records.push_back(static_cast<uint8_t>(piece.samples[i] >> 4));
            for (uint16_t s : piece.samples) decodedPcm.push_back(static_cast<uint16_t>((s >> 4) << 4));
            continue;
        }
        C_MDPCMEncDec coder(0, 9);
        coder.SetEndMarker(255);
        const auto count = static_cast<uint32_t>(piece.samples.size());
        std::vector<uint8_t> stream(coder.GetMaxEncodedSize(count, 65, 17));
        const uint32_t size =
            coder.Encode(stream.data(), stream.size(), count, piece.samples.data(), 2048, 65, 17, 0, nullptr);
        std::vector<uint16_t> values(count + 200);
        const uint32_t got = coder.Decode(values.data(), values.size(), stream.data(), size, 2048, 65, 17, nullptr);
        size_t pos = 0, v = 0;
        bool first = true;
        while (pos < size && stream[pos] != 255) {
            const uint8_t header = stream[pos];
            const int index = coder.IndexFromHeader(header);
            const bool isLong = (header & 1) != 0;
            const size_t n = isLong ? 65 : 17;
            const bool withWord = piece.command && first;
            const uint16_t startValue = values[v];
            records.push_back(
                static_cast<uint8_t>(((startValue & 8) << 4) | (index << 3) | ((isLong ? 0 : 2) | (withWord ? 1 : 0))));
            records.push_back(static_cast<uint8_t>(startValue >> 4));
            if (withWord) Put16(records, word);
            for (size_t g = 1; g < n; g += 8) {
                uint8_t sign = 0;
                uint8_t mags[4] = {};
                for (size_t i = 0; i < 8; ++i) {
                    const int d = static_cast<int8_t>(stream[pos + 1 + g + i]);
                    if (d < 0) sign = static_cast<uint8_t>(sign | (1u << i));
                    const int mag = d < 0 ? -d : d;
                    mags[i / 2] = static_cast<uint8_t>(mags[i / 2] | (i % 2 == 0 ? mag : mag << 4));
                }
                records.push_back(sign);
                records.insert(records.end(), mags, mags + 4);
            }
            decodedPcm.insert(decodedPcm.end(), values.begin() + static_cast<std::ptrdiff_t>(v),
                              values.begin() + static_cast<std::ptrdiff_t>(v + n));
            v += n;
            pos += 1 + n;
            first = false;
        }
        (void)got;
    }
    records.push_back(255);

    LeBytes f;
    f.Text("WMDM");
    f.U16(0x110);
    f.U16(62);
    f.U16(1);
    f.U8(5);
    f.U8(0);
    f.U16(rate);
    f.U16(static_cast<uint32_t>((rate / 2) * 0.85));
    for (int i = 16; i < 62; ++i) f.U8(0);
    f.Text("MFRM");
    f.U16(14);
    f.U32(76);
    f.U32(static_cast<uint32_t>(records.size()));
    f.bytes.insert(f.bytes.end(), records.begin(), records.end());
    const auto frameEnd = static_cast<uint32_t>(f.bytes.size());
    for (uint16_t s : decodedPcm) f.U16(s);
    for (uint16_t s : source) f.U16(s);
    const auto mcmd = static_cast<uint32_t>(f.bytes.size());
    f.Text("MCMD");
    f.U16(14);
    f.U32(mcmd + 14);
    f.U32(0);
    const auto wsil = static_cast<uint32_t>(f.bytes.size());
    f.Text("WSIL");
    f.U16(16);
    f.U16(8);
    f.U32(wsil + 16);
    f.U32(0);
    f.Put32At(16, wsil);
    f.Put32At(20, mcmd);
    f.Put32At(24, 14);
    f.Put32At(28, 62);
    f.Put32At(32, frameEnd - 62);
    f.Put16At(36, 12);
    f.Put32At(38, frameEnd + 2 * static_cast<uint32_t>(decodedPcm.size()));
    f.Put32At(42, static_cast<uint32_t>(source.size()));
    f.Put16At(46, 12);
    f.Put32At(48, frameEnd);
    f.Put32At(52, static_cast<uint32_t>(decodedPcm.size()));
    f.Put16At(60, 4);
    fixture.file = std::move(f.bytes);
    return fixture;
}

}  // namespace cz::test
