// RBF resources on arbitrary bytes: the payload walk, the decoders and the
// cut, from memory. The last two bytes choose the cut limit.
//
// Checks: a decoding reports exactly the samples it output, within the
// coding's sample range, markers in order and inside the output; a cut fits
// its limit (or is refused for a limit below header plus end mark), and when
// the resource decodes, its cut decodes to a prefix of the same samples.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint64_t limit = data[size - 2] | (data[size - 1] << 8);
    const std::span<const uint8_t> file(data, size - 2);

    cz::RbfSummary summary;
    const cz::RbfError inspected = cz::InspectRbf(file, summary);
    const Run whole = Decode(file);
    Check((inspected == cz::RbfError::kNone) == whole.result.ok());

    std::vector<uint8_t> cut;
    const cz::RbfError e = cz::CutRbfBytes(file, limit, cut);
    if (e == cz::RbfError::kNone) {
        Check(cut.size() <= limit || cut.size() == file.size());
        if (whole.result.ok()) {
            const Run part = Decode(cut);
            Check(part.result.ok() && part.result.samples <= whole.result.samples);
            for (size_t i = 0; i < part.kept.size() && i < whole.kept.size(); ++i) Check(part.kept[i] == whole.kept[i]);
        }
    } else {
        Check(cut.empty());
    }
    return 0;
}
