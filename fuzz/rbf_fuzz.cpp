// RBF resources, from memory, two ways on every input.
//
// Raw: the bytes (less the last two, which choose a cut limit) as a file:
// the payload walk, the decoders, the checks of the readers and the cut.
// Checks: a decoding reports exactly the samples it output, within the
// coding's sample range, markers in order and inside the output; the readers
// accept exactly the files with a rate of a resource whose payload walks to
// its end mark at the end of the file; a cut fits its limit (or is refused
// for a limit below header plus end mark, or an input that is no resource),
// and decodes to a prefix of the same samples.
//
// Built: the bytes steer a generator that writes a valid resource of one of
// the four codings (block by block, knowing every block boundary and the
// samples up to it), then damage it. The valid resource must be accepted
// with the generator's sample count; its cut must keep exactly the largest
// run of whole blocks that fits. The damage (a cut inside the file, a rate
// below any resource's, the end mark gone, bytes after it, a block header
// or any byte overwritten) must be refused with its reason where the reason
// is certain, and pass the raw checks in every case.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "codecs/rbf/RbfCoding.h"
#include "formats/rbf/RbfFile.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// Keeps the first samples (enough to compare prefixes) and counts the rest.
class PrefixSink final : public cz::RbfSampleSink {
public:
    explicit PrefixSink(uint16_t maxValue) : maxValue_(maxValue) {}
    bool Put(uint16_t value, uint32_t count) override {
        Check(value <= maxValue_);
        for (uint32_t i = 0; i < count && kept.size() < kKeep; ++i) kept.push_back(value);
        total += count;
        return true;
    }
    static constexpr size_t kKeep = 1 << 16;
    std::vector<uint16_t> kept;
    uint64_t total = 0;

private:
    uint16_t maxValue_;
};

struct Run {
    cz::RbfDecodeResult result;
    std::vector<uint16_t> kept;
};

Run Decode(std::span<const uint8_t> file) {
    Run run;
    auto decoder = cz::OpenRbfDecoder(file);
    if (!decoder || file.size() <= cz::kRbfHeaderSize) {
        run.result.status = cz::RbfStatus::kBlockPastEnd;
        return run;
    }
    const auto payload = file.subspan(cz::kRbfHeaderSize);
    PrefixSink sink(decoder->SampleBits() == 16 ? 65535 : 4095);
    run.result = decoder->Decode(payload, sink);
    Check(run.result.status == cz::RbfStatus::kTooManySamples || sink.total == run.result.samples);
    Check(run.result.bytes <= payload.size());
    Check(!run.result.endMark || run.result.bytes >= decoder->GetEndMarkSize());
    uint32_t last = 0;
    for (const auto& m : run.result.markers) {
        Check(m.position >= last && m.position <= run.result.samples);
        last = m.position;
    }
    const cz::RbfInfo info = decoder->ParseInfo(payload);
    Check(info.status == run.result.status);
    if (run.result.ok()) Check(info.dataSize == 2 * run.result.samples);
    run.kept = std::move(sink.kept);
    return run;
}

bool SamePrefix(const Run& part, const Run& whole) {
    for (size_t i = 0; i < part.kept.size() && i < whole.kept.size(); ++i)
        if (part.kept[i] != whole.kept[i]) return false;
    return true;
}

// The checks every file passes; the result of the readers.
cz::RbfError CheckAny(std::span<const uint8_t> file, uint64_t limit) {
    cz::RbfSummary summary;
    const cz::RbfError inspected = cz::InspectRbf(file, summary);
    const Run whole = Decode(file);
    const bool resource = file.size() > cz::kRbfHeaderSize && whole.result.ok() && whole.result.endMark &&
                          whole.result.bytes == file.size() - cz::kRbfHeaderSize &&
                          cz::RbfSampleRate(file) >= cz::kRbfMinRate;
    Check((inspected == cz::RbfError::kNone) == resource);
    if (resource) Check(summary.samples == whole.result.samples);

    std::vector<uint8_t> cut;
    cz::RbfCutFigures figures;
    const cz::RbfError e = cz::CutRbfBytes(file, limit, cut, &figures);
    if (e == cz::RbfError::kNone) {
        Check(resource);
        Check(cut.size() <= limit || cut == std::vector<uint8_t>(file.begin(), file.end()));
        const Run part = Decode(cut);
        Check(part.result.ok() && part.result.endMark && part.result.samples <= whole.result.samples);
        Check(figures.keptSamples == part.result.samples && figures.samples == whole.result.samples);
        Check(figures.keptBytes == cut.size() && figures.bytes == file.size());
        Check(SamePrefix(part, whole));
    } else {
        Check(cut.empty());
        Check(e == cz::RbfError::kLimitTooSmall ? resource : e == inspected);
    }
    return inspected;
}

// Reads the steering bytes; zeros once they run out.
class Steer {
public:
    Steer(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t U16() {
        const uint8_t lo = U8();
        return static_cast<uint16_t>(lo | (U8() << 8));
    }
    bool Empty() const { return at_ >= size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A valid resource and what the generator knows of it.
struct Built {
    std::vector<uint8_t> file;
    std::vector<size_t> boundaries = {0};   // payload offsets between blocks, the end mark's included
    std::vector<uint64_t> samplesAt = {0};  // samples output before each boundary
    size_t endMarkSize = 0;
};

class Generator {
public:
    explicit Generator(Steer& in) : in_(in) {}

    Built Make() {
        static const char* const kMagics[4] = {"WMdM", "WADM", "WE2A", "Q42M"};
        const unsigned coding = in_.U8() % 4;
        static const uint16_t kRates[4] = {8000, 16000, 1000, 65535};
        const uint8_t pick = in_.U8();
        uint16_t rate = kRates[pick % 4];
        if (pick >= 0xF0) rate = static_cast<uint16_t>(cz::kRbfMinRate + in_.U16() % (65536 - cz::kRbfMinRate));
        for (int i = 0; i < 4; ++i) built_.file.push_back(static_cast<uint8_t>(kMagics[coding][i]));
        built_.file.push_back(static_cast<uint8_t>(rate));
        built_.file.push_back(static_cast<uint8_t>(rate >> 8));
        const unsigned blocks = in_.U8() % 48;
        for (unsigned i = 0; i < blocks && !in_.Empty() && Payload() < 12000; ++i) {
            switch (coding) {
                case 0: Wmdm(); break;
                case 1: Wadm(); break;
                case 2: We2a(); break;
                default: Q42m(); break;
            }
            built_.boundaries.push_back(Payload());
            built_.samplesAt.push_back(samples_);
        }
        static const std::vector<uint8_t> kEnds[4] = {{0xFF}, {0, 0}, {0, 0}, {0x08, 0x02}};
        built_.file.insert(built_.file.end(), kEnds[coding].begin(), kEnds[coding].end());
        built_.endMarkSize = kEnds[coding].size();
        return std::move(built_);
    }

    uint64_t Samples() const { return samples_; }

private:
    size_t Payload() const { return built_.file.size() - cz::kRbfHeaderSize; }
    void Put(uint8_t b) { built_.file.push_back(b); }
    void Fill(size_t n) {
        for (size_t i = 0; i < n; ++i) Put(in_.U8());
    }

    void Wmdm() {
        uint8_t c = in_.U8();
        if (c == 0xFF) c = 0xFE;  // the end mark: a raw block instead
        const unsigned type = c & 7u;
        const bool marker = (c & 1u) != 0;
        Put(c);
        if (type < 4) {
            const size_t groups = type < 2 ? 8 : 2;
            Fill(1 + (marker ? 2 : 0) + 5 * groups);
            samples_ += 1 + 8 * groups;
        } else if (type < 6) {
            Fill(marker ? 2 : 0);
            const uint16_t count = in_.U16();
            Put(static_cast<uint8_t>(count));
            Put(static_cast<uint8_t>(count >> 8));
            samples_ += count;
        } else {
            Fill(marker ? 3 : 1);
            const uint8_t n = in_.U8();
            Put(n);
            Fill(n);
            samples_ += 1 + n;
        }
    }

    // The two ADPCM codings: b0, b1 never both 0 (the end mark).
    void AdpcmStart(uint8_t& b0, uint8_t& b1) {
        b0 = in_.U8();
        b1 = in_.U8();
        if (b0 == 0 && b1 == 0) b1 = 4;
        Put(b0);
        Put(b1);
    }

    void Wadm() {
        uint8_t b0, b1;
        AdpcmStart(b0, b1);
        switch (b0 & 3) {
            case 0: samples_ += 16u * ((static_cast<uint32_t>(b1 >> 2) << 6) | (b0 >> 2)); break;
            case 1:
                Fill(2 + size_t{b1});
                samples_ += 1 + 2 * size_t{b1};
                break;
            case 2:
                Fill(2);
                samples_ += 1;
                break;
            default:
                Fill(257);
                samples_ += 513;
                break;
        }
    }

    void We2a() {
        uint8_t b0, b1;
        AdpcmStart(b0, b1);
        const size_t n = (b0 >> 2) + 1u;
        switch (b0 & 3) {
            case 0: samples_ += (static_cast<uint32_t>(b1 >> 2) << 6) | (b0 >> 2); break;
            case 1:
                Fill(3 + n / 2);
                samples_ += n;
                break;
            case 2:
                Fill(2);
                samples_ += 1;
                break;
            default:
                Fill(1 + 34 * n);
                samples_ += 1 + 64 * n;
                break;
        }
    }

    void Word(uint16_t w) {
        Put(static_cast<uint8_t>(w));
        Put(static_cast<uint8_t>(w >> 8));
    }

    void Q42m() {
        const uint8_t kind = in_.U8() % 4;
        uint16_t w = in_.U16();
        if (kind == 0) {
            if ((w & 0x03E0) == 0x0200) w ^= 0x0020;  // a data word
            Word(w);
            samples_ += 2;
            return;
        }
        if (kind == 1) w = 0x0201;
        if (kind == 2) w = 0x0202;
        if (kind == 3) w = static_cast<uint16_t>((w & 0xFC1F) | 0x0200);  // another command
        if (w == 0x0208) w = 0x0218;                                      // not the end: a scale
        Word(w);
        if (w == 0x0201) {
            const uint16_t count = in_.U16();
            Word(count);
            samples_ += 2u * (count & 0x03FFu);
        } else if (w == 0x0202) {
            Word(in_.U16());
            Word(in_.U16());
        }
    }

    Steer& in_;
    Built built_;
    uint64_t samples_ = 0;
};

void CheckBuilt(Steer& in) {
    Generator generator(in);
    Built b = generator.Make();
    const std::vector<uint8_t>& file = b.file;
    const size_t payload = file.size() - cz::kRbfHeaderSize;
    b.boundaries.push_back(payload);  // after the end mark: the whole file
    b.samplesAt.push_back(generator.Samples());

    cz::RbfSummary summary;
    Check(cz::InspectRbf(file, summary) == cz::RbfError::kNone);
    Check(summary.samples == generator.Samples() && summary.walkedBytes == payload);

    // The cut keeps the largest run of whole blocks that fits.
    const uint64_t limit = in.U16() % (file.size() + 3);
    std::vector<uint8_t> cut;
    cz::RbfCutFigures figures;
    const cz::RbfError e = cz::CutRbfBytes(file, limit, cut, &figures);
    if (limit >= file.size()) {
        Check(e == cz::RbfError::kNone && cut == file && figures.keptSamples == generator.Samples());
    } else if (limit < cz::kRbfHeaderSize + b.endMarkSize) {
        Check(e == cz::RbfError::kLimitTooSmall);
    } else {
        Check(e == cz::RbfError::kNone);
        const size_t room = limit - cz::kRbfHeaderSize - b.endMarkSize;
        size_t i = 0;
        while (i + 2 < b.boundaries.size() && b.boundaries[i + 1] <= room) ++i;  // never past the end mark
        Check(cut.size() == cz::kRbfHeaderSize + b.boundaries[i] + b.endMarkSize);
        Check(std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cz::kRbfHeaderSize + b.boundaries[i]),
                         cut.begin()));
        Check(figures.keptSamples == b.samplesAt[i]);
    }
    CheckAny(file, limit);

    // One damage.
    std::vector<uint8_t> damaged = file;
    cz::RbfError expected = cz::RbfError::kNone;
    bool certain = true;
    switch (in.U8() % 6) {
        case 0:  // cut inside the file: no end mark, or a block or the header cut
            damaged.resize(in.U16() % file.size());
            Check(cz::InspectRbf(damaged, summary) != cz::RbfError::kNone);
            certain = false;
            break;
        case 1: {
            const uint16_t rate = static_cast<uint16_t>(in.U16() % cz::kRbfMinRate);
            damaged[4] = static_cast<uint8_t>(rate);
            damaged[5] = static_cast<uint8_t>(rate >> 8);
            expected = cz::RbfError::kBadRate;
            break;
        }
        case 2:
            damaged.resize(damaged.size() - b.endMarkSize);
            expected = payload == b.endMarkSize ? cz::RbfError::kNoPayload : cz::RbfError::kNoEndMark;
            break;
        case 3: {
            const size_t n = 1 + in.U8() % 8;
            for (size_t i = 0; i < n; ++i) damaged.push_back(in.U8());
            expected = cz::RbfError::kAfterEndMark;
            break;
        }
        case 4: {  // a block header
            const size_t at = b.boundaries[in.U16() % (b.boundaries.size() - 1)];
            damaged[cz::kRbfHeaderSize + at] = in.U8();
            certain = false;
            break;
        }
        default: {  // any byte, a size or count field among them
            damaged[in.U16() % damaged.size()] = in.U8();
            certain = false;
            break;
        }
    }
    const cz::RbfError got = CheckAny(damaged, in.U16());
    if (certain) Check(got == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint64_t limit = data[size - 2] | (data[size - 1] << 8);
    CheckAny(std::span<const uint8_t>(data, size - 2), limit);
    Steer steer(data, size);
    CheckBuilt(steer);
    return 0;
}
