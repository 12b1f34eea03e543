// The pitch-shiftable ADPCM speech file ("WPAM"): the MPM container over the
// APM class, its voice coded by the chip ADPCM coder with a 63-step table,
// and with the pitch periods of the sound and, for each period, how many
// times a regeneration by each of ten length factors (0.5 ... 2.0) emits
// it, so that the player can shift the pitch while it plays. The frame
// section is drawn in PamLayout.h.
//
// Opened, a PAM file is a sound of its source samples with its markers (as
// every MPM file); the period table is read and checked with the header and
// is available through Periods().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "formats/apm/C_ApmFile.h"
#include "formats/apm/PamLayout.h"
#include "formats/mpm/T_MpmFormatBase.h"

namespace cz {

class C_PamFile : public T_MpmFormatBase<C_ApmFile> {
public:
    static constexpr uint32_t kFormatId = kFormatPam;
    static constexpr int32_t kStepCount = 63;
    static constexpr uint16_t kSilenceValue = 2048;

    C_PamFile();
    ~C_PamFile() override;

    // The container's checks, then the frame section's: the period table
    // and every record must lie inside it and cover the source in order.
    int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) override;
    // C_ADPCMEncDec(12, 63).
    std::unique_ptr<C_ADPCMEncDec> CreateCoder() const override;
    // The period table, then one record per segment: voice coded with a
    // fresh coder each, silence as its length; then the end record.
    int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                        const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) override;
    std::string HeaderSummary() const override;

    // The periods of the file last opened.
    const std::vector<S_PamPeriod>& Periods() const { return periods_; }
    // The records of the file last opened decoded again, as the chip plays
    // them; false when a voice record does not decode to its code count.
    bool DecodeFrames(std::vector<uint16_t>& out) const;

    // The periods of 12-bit offset-binary samples with each variant's emit
    // counts.
    static std::vector<S_PamPeriod> FindPeriods(const std::vector<uint16_t>& samples);

private:
    std::vector<S_PamPeriod> periods_;
    std::vector<S_PamRecord> records_;
    std::vector<uint8_t> frames_;
};

}  // namespace cz
