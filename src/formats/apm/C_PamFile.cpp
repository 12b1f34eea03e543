#include "formats/apm/C_PamFile.h"

#include <algorithm>

#include "dsp/pitch/C_PCMPitchShift.h"
#include "dsp/pitch/C_PitchShiftPCMGenerator.h"

namespace cz {

C_PamFile::C_PamFile() : C_AdpcmMpmFile("WPAM", kFormatId) {}

C_PamFile::~C_PamFile() = default;

std::unique_ptr<C_ADPCMEncDec> C_PamFile::CreateCoder() const {
    return std::make_unique<C_ADPCMEncDec>(12, kStepCount);
}

std::vector<S_PamPeriod> C_PamFile::FindPeriods(const std::vector<uint16_t>& samples) {
    const uint32_t count = static_cast<uint32_t>(samples.size());
    C_PCMPitchShift shifter;
    // Compared as signed values on the 16-bit scale of the detection's
    // settings (offset-binary words would make every stretch look alike).
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
                               const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) {
    const std::vector<uint8_t> table = BuildPamPeriodTable(FindPeriods(samples));
    out.Bytes(table.data(), table.size());
    return C_AdpcmMpmFile::WriteFrames(out, samples, segments, events);
}

FrameRecordError C_PamFile::WalkFrames(std::span<const uint8_t> section, bool decode, S_FrameDecode& out) const {
    std::vector<S_PamPeriod> periods;
    size_t table = 0;
    if (!ParsePamPeriodTable(section, MpmHeader().sourceCount, periods, &table, nullptr))
        return FrameRecordError::kBadRecord;
    return C_AdpcmMpmFile::WalkFrames(section.subspan(table), decode, out);
}

int32_t C_PamFile::ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) {
    periods_.clear();
    if (!C_AdpcmMpmFile::ReadHeaderStream(std::move(stream), loadFlag, outFlags)) return 0;
    std::vector<uint8_t> section;
    if (!ReadFrameRecords(section) ||
        !ParsePamPeriodTable(section, MpmHeader().sourceCount, periods_, nullptr, nullptr))
        return Fail(WavFileError::kBadFormat);
    return 1;
}

std::string C_PamFile::HeaderSummary() const {
    std::string text = C_AdpcmMpmFile::HeaderSummary();
    text += FormatString("pitch periods: %u\n", static_cast<unsigned>(periods_.size()));
    return text;
}

}  // namespace cz
