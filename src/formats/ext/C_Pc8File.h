// PC8 files (format 8, code "WPC8"): the MPM container with 16-bit source
// and decoded sections and a frame section of 8-bit PCM (ExtLayout.h). Base
// of the speech-coder line: it walks the segment table and hands voice and
// silence to EncodeVoice and WriteSilence, then ends with WriteEndMark.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/mpm/C_MpmFile.h"
#include "platform/SafeFiles.h"

namespace cz {

class C_Pc8File : public C_MpmFile {
public:
    static constexpr uint32_t kFormatId = kFormatPc8;
    C_Pc8File();
    ~C_Pc8File() override;

    // Refuses when CanSave() says no (the message sink is told why); the
    // coders' intermediate files live in a private folder made for the save.
    int32_t Save(const char* path) override;
    void BuildHeader(S_MpmHeader& header, uint32_t rate, uint32_t sourceCount, uint32_t eventCount) override;
    int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                        const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) override;

    // Codes samples[start, start + count) (signed 16-bit) into the frame
    // section and appends the reconstruction to the decoded section. A
    // coder that works in whole frames may take samples after the segment;
    // it adds their number to *carry, which the next segment skips.
    virtual bool EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start, uint32_t count,
                             uint32_t* carry);
    // Writes the frame-section form of a silence of length samples (kind 1,
    // or 2 when it carries the command word value).
    virtual bool WriteSilence(uint32_t kind, uint32_t length, uint16_t value, C_MpmFrameOutput& out);
    // Ends the frame section (nothing for PC8).
    virtual bool WriteEndMark(C_MpmFrameOutput& out);
    // Writes whatever silence is still pending before voice or the end.
    virtual bool FlushPendingSilence(C_MpmFrameOutput& out) { return out.Ok(); }
    // Empty when the class can save, else the reason it cannot.
    virtual std::string CannotSaveReason() const { return {}; }

    // The private folder of the save in progress (null outside Save).
    const platform::TempFolder* SaveFolder() const { return folder_ ? &*folder_ : nullptr; }
    // The output path of the save in progress.
    const std::string& SavePath() const { return savePath_; }
    void SetOwnerWindowForMessages(uintptr_t window) { SetOwnerWindow(window); }

protected:
    C_Pc8File(const char* code, const char* secondCode, uint32_t formatId);
    uint16_t SampleBits() const override { return 16; }
    virtual uint8_t HeaderByte10() const { return 8; }
    virtual uint16_t HeaderField60() const { return 5; }
    // Writes a silence segment (its samples [start, start + count) after the
    // previous segment's padding) through WriteSilence: every event that
    // falls on the segment's samples is carried by a run that starts at it
    // (an event the padding took, by the first run).
    bool WriteSilenceWithEvents(C_MpmFrameOutput& out, const S_MpmSegment& seg, uint32_t start, uint32_t count,
                                const std::vector<S_MpmEventEntry>& events);
    // A unique name in the save's folder.
    std::string TempName(const char* prefix);

private:
    std::optional<platform::TempFolder> folder_;
    std::string savePath_;
    uint32_t nameCounter_ = 0;
};

}  // namespace cz
