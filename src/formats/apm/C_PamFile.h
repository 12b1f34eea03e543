// The pitch-shiftable ADPCM speech file ("WPAM", format 24): the ADPCM MPM
// relative (as SAM) coded by the chip ADPCM coder with a 63-step table, its
// records preceded by the pitch periods of the sound and, for each period,
// how many times a regeneration by each of ten length factors (0.5 ... 2.0)
// emits it, so that a player can shift the pitch while it plays. The period
// table is drawn in PamLayout.h.
//
// Opened, a PAM file is a sound of its source samples with its markers (as
// every MPM file); the period table is read and checked with the header and
// is available through Periods().
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "formats/apm/C_AdpcmMpmFile.h"
#include "formats/apm/PamLayout.h"

namespace cz {

class C_PamFile : public C_AdpcmMpmFile {
public:
    static constexpr uint32_t kFormatId = kFormatPam;
    static constexpr int32_t kStepCount = 63;

    C_PamFile();
    ~C_PamFile() override;

    // The container's and the records' checks, and the period table's.
    int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) override;
    // C_ADPCMEncDec(12, 63).
    std::unique_ptr<C_ADPCMEncDec> CreateCoder() const override;
    // The period table (detection once, then the ten variants' counts), then
    // the records.
    int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                        const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) override;
    std::string HeaderSummary() const override;

    // The periods of the file last opened.
    const std::vector<S_PamPeriod>& Periods() const { return periods_; }

    // The periods of 12-bit offset-binary samples with each variant's emit
    // counts.
    static std::vector<S_PamPeriod> FindPeriods(const std::vector<uint16_t>& samples);

protected:
    // The records after the period table.
    FrameRecordError WalkFrames(std::span<const uint8_t> section, bool decode, S_FrameDecode& out) const override;

private:
    std::vector<S_PamPeriod> periods_;
};

}  // namespace cz
