// The ADPCM-coded relatives of APM that live in the MPM container: the
// container of formats/mpm (62-byte header, "MFRM" frame section, decoded
// and source PCM, "MCMD" and "WSIL" blocks) over the APM file class, with a
// frame section of ADPCM records (AdpcmMpmLayout.h).
//
// Saving walks the segment table cut at the action events: each event
// becomes an event record before the samples from its position on, silence
// becomes silence records, voice (under every coding mode) is coded piece by
// piece with the class's coder, which starts afresh for each piece; the
// coding mode of the write parameters is handed to the coder. The decoded
// section receives what the records decode to (mid-scale for silence).
//
// Opening checks the container as every MPM file does, and walks the frame
// section: every record must lie inside it, the section must end with its
// end record, and its records must stand for exactly the decoded section's
// sample count.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "formats/apm/AdpcmMpmLayout.h"
#include "formats/apm/C_ApmFile.h"
#include "formats/mpm/T_MpmFormatBase.h"

namespace cz {

class C_AdpcmMpmFile : public T_MpmFormatBase<C_ApmFile> {
public:
    ~C_AdpcmMpmFile() override;

    int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) override;
    int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                        const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) override;
    // Decodes the frame section of the file as opened: what the chip plays,
    // and the events at the positions the records give them.
    virtual bool DecodeFrames(S_FrameDecode& out);

protected:
    C_AdpcmMpmFile(const char* code, uint32_t formatId);
    // Walks the records (decoding them into out when decode is set).
    virtual FrameRecordError WalkFrames(std::span<const uint8_t> records, bool decode, S_FrameDecode& out) const;
    // The records of the frame section (after its 14-byte header), checked
    // against the container.
    bool ReadFrameRecords(std::vector<uint8_t>& records);
};

}  // namespace cz
