// APM file -> "WADM" resource.
//
// The APM file carries, besides its 4-bit codes, the decoded samples and the
// coder's step index after every code. A "WADM" block restarts the decoder
// from an explicit first sample and step index, so each block starts at a
// decoded sample of the file with the index the trace gives there, and takes
// as many of the following codes as reproduce the file's decoded samples
// under the chip's decoding rules. A code that would not (a damaged trace, a
// coder with other rules) simply starts a new block, so the resource always
// plays the file's decoded samples exactly. Silence segments of the file play
// as mid-scale runs, action events become marker blocks.
//
// "WADM" payload blocks (type in bits 0-1 of the first byte b0):
//   0  silence   2 bytes   16 x (b1 >> 2 << 6 | b0 >> 2) samples of 2048
//   1  short     4 + n     n = b1, first sample (b2 >> 4 | b3 << 4), index b0 >> 2, 2n codes
//   2  marker    4 bytes   identifier b1, type b0 >> 2, one sample (b2 >> 4 | b3 << 4)
//   3  long      259 bytes first sample (b1 >> 4 | b2 << 4), index b0 >> 2, 512 codes
// and the end mark 00 00. Codes are taken high nibble first.
//
// Its own parser, apart from src/formats/apm/ApmLayout.h on purpose: an independent check of that layout.
#include <algorithm>
#include <cstring>

#include "OmbryResource.h"
#include "foundation/ByteReader.h"

namespace ombry {

namespace {

constexpr size_t kApmHeaderSize = 76;
constexpr uint16_t kMidScale = 2048;
constexpr uint16_t kMaxSample = 4095;
constexpr int kMaxStepIndex = 63;
constexpr uint32_t kLongBlockCodes = 512;
constexpr uint32_t kShortBlockMaxCodes = 510;
constexpr uint32_t kSilenceUnit = 16;
constexpr uint32_t kSilenceMaxUnits = 4095;

// Step index change per code magnitude.
constexpr int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

int Step(int index) { return (8 + index % 8) << (index / 8); }

// One code on top of the previous sample; advances the step index.
uint16_t DecodeCode(uint16_t previous, uint8_t code, int& index) {
    const int s = Step(index);
    int d = s >> 3;
    if (code & 4) d += s;
    if (code & 2) d += s >> 1;
    if (code & 1) d += s >> 2;
    index = std::clamp(index + kIndexAdjust[code & 7], 0, kMaxStepIndex);
    int value = static_cast<int>(previous) - kMidScale;
    value = (code & 8) ? value - d : value + d;
    return static_cast<uint16_t>(std::clamp(value, -2048, 2047) + kMidScale);
}

struct Section {
    uint16_t bits = 0;
    uint32_t offset = 0;
    uint32_t count = 0;
};

struct Event {
    uint32_t position = 0;
    uint16_t type = 0;
    uint16_t parameter = 0;
};

struct ApmContent {
    uint16_t rate = 0;
    std::vector<uint8_t> codes;     // one code per entry
    std::vector<uint16_t> decoded;  // as many as codes
    std::vector<uint8_t> trace;     // as many as codes
    std::vector<uint8_t> silent;    // per decoded sample: inside a silence segment
    std::vector<Event> events;
};

bool ReadSection(cz::ByteReader& header, Section& section) {
    return header.U16(section.bits) && header.U32(section.offset) && header.U32(section.count);
}

bool ReadMetadata(std::span<const uint8_t> file, uint32_t at, ApmContent& apm) {
    constexpr size_t kCmdHeader = 24;
    if (!Inside(file, at, kCmdHeader) || std::memcmp(file.data() + at, "WCMD", 4) != 0) return false;
    const uint32_t silenceAt = cz::LoadU32(file.data() + at + 12);
    const uint32_t eventAt = cz::LoadU32(file.data() + at + 18);

    // Silence block: "WSIL", u16 16, u16 8, u32 first entry, u32 count.
    if (!Inside(file, silenceAt, 16) || std::memcmp(file.data() + silenceAt, "WSIL", 4) != 0) return false;
    const uint16_t silenceEntrySize = cz::LoadU16(file.data() + silenceAt + 6);
    const uint32_t silenceFirst = cz::LoadU32(file.data() + silenceAt + 8);
    const uint32_t silenceCount = cz::LoadU32(file.data() + silenceAt + 12);
    if (silenceEntrySize < 8 || !Inside(file, silenceFirst, uint64_t{silenceEntrySize} * silenceCount)) return false;
    const size_t samples = apm.decoded.size();
    for (uint32_t i = 0; i < silenceCount; ++i) {
        const uint8_t* entry = file.data() + silenceFirst + size_t{silenceEntrySize} * i;
        const uint32_t first = cz::LoadU32(entry);
        const uint32_t last = cz::LoadU32(entry + 4);
        if (last < first || first >= samples) continue;
        const size_t end = std::min<size_t>(size_t{last} + 1, samples);
        std::fill(apm.silent.begin() + first, apm.silent.begin() + static_cast<std::ptrdiff_t>(end), uint8_t{1});
    }

    // Event block: 16 reserved bytes, u16 28, u16 8, u32 first entry, u32 count.
    if (!Inside(file, eventAt, 28)) return false;
    const uint16_t eventEntrySize = cz::LoadU16(file.data() + eventAt + 18);
    const uint32_t eventFirst = cz::LoadU32(file.data() + eventAt + 20);
    const uint32_t eventCount = cz::LoadU32(file.data() + eventAt + 24);
    if (eventEntrySize < 8 || !Inside(file, eventFirst, uint64_t{eventEntrySize} * eventCount)) return false;
    apm.events.reserve(eventCount);
    for (uint32_t i = 0; i < eventCount; ++i) {
        const uint8_t* entry = file.data() + eventFirst + size_t{eventEntrySize} * i;
        apm.events.push_back({cz::LoadU32(entry), cz::LoadU16(entry + 4), cz::LoadU16(entry + 6)});
    }
    return true;
}

bool ParseApm(std::span<const uint8_t> file, ApmContent& apm) {
    if (file.size() < kApmHeaderSize) return false;
    cz::ByteReader header(file.data(), kApmHeaderSize);
    char code[4] = {};
    uint16_t version = 0, headerSize = 0, channels = 0;
    uint8_t codeWidth = 0, reserved = 0;
    header.FourCC(code);
    header.U16(version);
    header.U16(headerSize);
    header.U16(channels);
    header.U8(codeWidth);
    header.U8(reserved);
    header.U16(apm.rate);
    if ((std::memcmp(code, "WAPM", 4) != 0 && std::memcmp(code, "WNAP", 4) != 0) || headerSize != kApmHeaderSize ||
        channels != 1 || codeWidth != 4 || apm.rate == 0) {
        return false;
    }
    Section codes, decoded, trace, source;
    header.Seek(24);
    if (!ReadSection(header, codes) || !ReadSection(header, decoded) || !ReadSection(header, trace) ||
        !ReadSection(header, source)) {
        return false;
    }
    uint16_t metadataFlag = 0;
    uint32_t metadataAt = 0;
    header.U16(metadataFlag);
    header.U32(metadataAt);

    const uint32_t n = codes.count;
    if (codes.bits != 4 || decoded.count != n || trace.count != n) return false;
    if (!Inside(file, codes.offset, (uint64_t{n} + 1) / 2) || !Inside(file, decoded.offset, uint64_t{n} * 2) ||
        !Inside(file, trace.offset, n)) {
        return false;
    }
    apm.codes.resize(n);
    apm.decoded.resize(n);
    apm.trace.resize(n);
    apm.silent.assign(n, 0);
    const uint8_t* codeBytes = file.data() + codes.offset;
    const uint8_t* decodedBytes = file.data() + decoded.offset;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t byte = codeBytes[i / 2];
        apm.codes[i] = (i % 2 == 0) ? static_cast<uint8_t>(byte >> 4) : static_cast<uint8_t>(byte & 15);
        apm.decoded[i] = cz::LoadU16(decodedBytes + size_t{i} * 2);
        if (apm.decoded[i] > kMaxSample) return false;
        apm.trace[i] = file[trace.offset + i];
    }
    if (metadataFlag != 0 && !ReadMetadata(file, metadataAt, apm)) return false;
    return true;
}

// Writes the payload blocks for the APM content.
class WadmWriter {
public:
    WadmWriter(const ApmContent& apm, std::vector<uint8_t>& out) : apm_(apm), out_(out) {}

    uint32_t Run() {
        // Markers in position order; two at one sample go to consecutive samples.
        std::vector<Event> events = apm_.events;
        std::stable_sort(events.begin(), events.end(),
                         [](const Event& a, const Event& b) { return a.position < b.position; });
        const size_t n = apm_.decoded.size();
        size_t next = 0;
        uint32_t markers = 0;
        size_t pos = 0;
        while (pos < n) {
            if (next < events.size() && events[next].position <= pos) {
                Marker(events[next], Expected(pos));
                ++next;
                ++markers;
                ++pos;
                continue;
            }
            size_t limit = n;
            if (next < events.size()) limit = std::min<size_t>(limit, events[next].position);
            const bool silent = apm_.silent[pos] != 0;
            size_t end = pos + 1;
            while (end < limit && (apm_.silent[end] != 0) == silent) ++end;
            if (silent) {
                Silence(end - pos);
            } else {
                Voice(pos, end);
            }
            pos = end;
        }
        out_.push_back(0);
        out_.push_back(0);
        return markers;
    }

private:
    uint16_t Expected(size_t i) const { return apm_.silent[i] ? kMidScale : apm_.decoded[i]; }

    void Marker(const Event& event, uint16_t sample) {
        out_.push_back(static_cast<uint8_t>(((event.parameter & 63) << 2) | 2));
        out_.push_back(static_cast<uint8_t>(event.type));
        PutSample(sample);
    }

    // A sample as the short and marker blocks hold it: low 4 bits in the high
    // nibble of the first byte, bits 11..4 in the second.
    void PutSample(uint16_t sample) {
        out_.push_back(static_cast<uint8_t>((sample & 15) << 4));
        out_.push_back(static_cast<uint8_t>(sample >> 4));
    }

    void Silence(size_t length) {
        while (length >= kSilenceUnit) {
            const size_t units = std::min<size_t>(length / kSilenceUnit, kSilenceMaxUnits);
            out_.push_back(static_cast<uint8_t>((units & 63) << 2));
            out_.push_back(static_cast<uint8_t>((units >> 6) << 2));
            length -= units * kSilenceUnit;
        }
        // Less than a silence unit: single mid-scale samples.
        for (; length > 0; --length) ShortBlock(kMidScale, 0, 0, 0);
    }

    void ShortBlock(uint16_t first, int index, size_t firstCode, uint32_t codeCount) {
        out_.push_back(static_cast<uint8_t>((index << 2) | 1));
        out_.push_back(static_cast<uint8_t>(codeCount / 2));
        PutSample(first);
        PutCodes(firstCode, codeCount);
    }

    void LongBlock(uint16_t first, int index, size_t firstCode) {
        out_.push_back(static_cast<uint8_t>((index << 2) | 3));
        out_.push_back(static_cast<uint8_t>((first & 15) << 4));
        out_.push_back(static_cast<uint8_t>(first >> 4));
        PutCodes(firstCode, kLongBlockCodes);
    }

    void PutCodes(size_t first, uint32_t count) {
        for (uint32_t i = 0; i < count; i += 2) {
            out_.push_back(static_cast<uint8_t>((apm_.codes[first + i] << 4) | apm_.codes[first + i + 1]));
        }
    }

    // Samples [begin, end) outside silence: blocks that restart at a decoded
    // sample and carry the codes that reproduce the samples after it.
    void Voice(size_t begin, size_t end) {
        size_t pos = begin;
        while (pos < end) {
            const uint16_t first = apm_.decoded[pos];
            const int index = std::min<int>(apm_.trace[pos], kMaxStepIndex);
            int running = index;
            uint16_t value = first;
            uint32_t matched = 0;
            while (matched < kLongBlockCodes && pos + 1 + matched < end) {
                const size_t j = pos + 1 + matched;
                value = DecodeCode(value, apm_.codes[j], running);
                if (value != apm_.decoded[j]) break;
                ++matched;
            }
            if (matched == kLongBlockCodes) {
                LongBlock(first, index, pos + 1);
            } else {
                matched = std::min(matched & ~1u, kShortBlockMaxCodes);
                ShortBlock(first, index, pos + 1, matched);
            }
            pos += 1 + matched;
        }
    }

    const ApmContent& apm_;
    std::vector<uint8_t>& out_;
};

}  // namespace

bool BuildWadmResource(std::span<const uint8_t> file, std::vector<uint8_t>& out, ResourceFigures& figures) {
    ApmContent apm;
    if (!ParseApm(file, apm)) return false;
    std::vector<uint8_t> resource = ResourceHeader("WADM", apm.rate);
    WadmWriter writer(apm, resource);
    const uint32_t markers = writer.Run();
    figures.sampleRate = apm.rate;
    figures.sampleCount = static_cast<uint32_t>(apm.decoded.size());
    figures.markerCount = markers;
    out = std::move(resource);
    return true;
}

}  // namespace ombry
