#include "formats/apm/C_PamFile.h"

#include <algorithm>

#include "dsp/pitch/C_PCMPitchShift.h"
#include "dsp/pitch/C_PitchShiftPCMGenerator.h"

namespace cz {

namespace {
void PutU32(C_MpmFrameOutput& out, uint32_t v) {
    out.U16(static_cast<uint16_t>(v));
    out.U16(static_cast<uint16_t>(v >> 16));
}
}  // namespace

C_PamFile::C_PamFile() : T_MpmFormatBase<C_ApmFile>("WPAM", "WPAM") { SetFormatType(kFormatId); }

C_PamFile::~C_PamFile() = default;

std::unique_ptr<C_ADPCMEncDec> C_PamFile::CreateCoder() const {
    return std::make_unique<C_ADPCMEncDec>(12, kStepCount);
}

std::vector<S_PamPeriod> C_PamFile::FindPeriods(const std::vector<uint16_t>& samples) {
    const uint32_t count = static_cast<uint32_t>(samples.size());
    C_PCMPitchShift shifter;
    // Compared on the 16-bit scale of the detection's settings.
    shifter.DetectPeriods([&samples](uint32_t i) { return (int32_t{samples[i]} - 2048) * 16; }, count, nullptr);
    for (int v = 0; v < C_PitchShiftPeriod::kVariantCount; ++v) {
        C_PitchShiftPCMGenerator counter(nullptr, 0, count, C_PCMPitchShift::kVariantFactors[v]);
        shifter.GeneratePeriods(counter, count, v);
    }
    std::vector<S_PamPeriod> periods;
    for (const C_PitchShiftPeriod* p : shifter.Periods()) {
        S_PamPeriod entry;
        entry.first = p->Start();
        entry.length = static_cast<uint16_t>(std::min<uint32_t>(p->Length(), 0xFFFF));
        for (uint32_t v = 0; v < kPamVariantCount; ++v) entry.counts[v] = p->EmitCount(static_cast<int>(v));
        periods.push_back(entry);
    }
    return periods;
}

int32_t C_PamFile::WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                               const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>&) {
    const std::vector<uint8_t> table = BuildPamPeriodTable(FindPeriods(samples));
    out.Bytes(table.data(), table.size());
    const uint32_t mode = CodingMode() <= kAdpcmFlushMode4 ? CodingMode() : kAdpcmFlush;
    std::vector<uint8_t> codes;
    std::vector<uint16_t> decoded;
    uint32_t tail = 0;  // codes of the last voice record beyond its samples
    for (const S_MpmSegment& s : segments) {
        if (s.length == 0) continue;
        if (uint64_t{s.first} + s.length > samples.size()) return 0;
        if (s.type == kMpmSegmentSilence) {
            out.U8(kPamRecordSilence);
            PutU32(out, s.first);
            PutU32(out, s.length);
            out.DecodedRun(kSilenceValue, PamSilencePlayed(s.length, tail));
            tail = 0;
            continue;
        }
        std::unique_ptr<C_ADPCMEncDec> coder = CreateCoder();
        const uint32_t capacity = coder->GetMaxEncodedSize(s.length, mode);
        if (capacity == 0) return 0;
        codes.assign(capacity, 0);
        const uint32_t k = coder->Encode(s.length, samples.data() + s.first, codes.data(), capacity, mode, nullptr);
        const uint32_t n = coder->GetStepIndexTraceSize();
        if (k == 0 || k > capacity || n < s.length || (uint64_t{n} + 1) / 2 != k) return 0;
        decoded.assign(n, 0);
        if (coder->Decode(codes.data(), k, decoded.data(), 2 * n, nullptr) != 2 * n) return 0;
        out.U8(kPamRecordVoice);
        PutU32(out, s.first);
        PutU32(out, s.length);
        PutU32(out, n);
        out.Bytes(codes.data(), k);
        for (uint16_t v : decoded) out.Decoded(v);
        tail = n - s.length;
    }
    out.U8(kPamRecordEnd);
    return out.Ok() ? 1 : 0;
}

int32_t C_PamFile::ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) {
    periods_.clear();
    records_.clear();
    frames_.clear();
    if (!T_MpmFormatBase<C_ApmFile>::ReadHeaderStream(stream, loadFlag, outFlags)) return 0;
    const S_MpmHeader& h = MpmHeader();
    // The container checked the section against the file's size.
    if (h.frameSize < kMpmFrameHeaderSize) return Fail(WavFileError::kBadFormat);
    if (!Stream()->ReadBytes(uint64_t{h.frameOffset} + kMpmFrameHeaderSize, h.frameSize - kMpmFrameHeaderSize, frames_))
        return Fail(WavFileError::kTruncated);
    if (!ParsePamFrames(frames_.data(), frames_.size(), h.sourceCount, periods_, records_, nullptr)) {
        periods_.clear();
        records_.clear();
        frames_.clear();
        return Fail(WavFileError::kBadFormat);
    }
    return 1;
}

bool C_PamFile::DecodeFrames(std::vector<uint16_t>& out) const {
    out.clear();
    uint32_t tail = 0;
    for (const S_PamRecord& r : records_) {
        if (r.type == kPamRecordSilence) {
            out.insert(out.end(), PamSilencePlayed(r.count, tail), kSilenceValue);
            tail = 0;
            continue;
        }
        tail = r.codeCount - r.count;
        std::unique_ptr<C_ADPCMEncDec> coder = CreateCoder();
        const size_t at = out.size();
        out.resize(at + r.codeCount);
        const uint32_t bytes = (r.codeCount + 1) / 2;
        if (coder->Decode(frames_.data() + r.codeOffset, bytes, out.data() + at, 2 * r.codeCount, nullptr) !=
            2 * r.codeCount)
            return false;
    }
    return true;
}

std::string C_PamFile::HeaderSummary() const {
    std::string text = T_MpmFormatBase<C_ApmFile>::HeaderSummary();
    text += FormatString("pitch periods: %u\n", static_cast<unsigned>(periods_.size()));
    return text;
}

}  // namespace cz
