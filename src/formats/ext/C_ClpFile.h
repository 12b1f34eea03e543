// The CLP line (CP1, CP2, CP3): frame-coded speech in the MPM container. A
// voice segment is padded to whole frames, coded into a coded file, decoded
// back for the decoded section and packed into the frame section; silence
// becomes silence words, and the section ends with 0xFFFF (ExtLayout.h).
// The CLP coder itself is not part of this library: CP1, CP2 and CP3 open
// but refuse to save. The classes below (MCP, MVP, WLP, SBD, ESB) supply
// their coders from codec libraries.
//
// Padding past the end of the sound repeats the last sample faded linearly
// to zero, so the coded tail does not click.
#pragma once

#include "formats/ext/C_Pc8File.h"

namespace cz {

class C_ClpFile : public C_Pc8File {
public:
    C_ClpFile(const char* code, const char* secondCode, uint32_t formatId, uint16_t level);
    ~C_ClpFile() override;

    // 1..3: a level of 0 or above 3 counts as 3.
    uint16_t Level() const { return level_ == 0 || level_ > 3 ? 3 : level_; }
    void SetLevel(uint16_t level) { level_ = level; }
    uint32_t LargestSilenceRun() const { return largestRun_; }

    bool EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start, uint32_t count,
                     uint32_t* carry) override;
    bool WriteSilence(uint32_t kind, uint32_t length, uint16_t value, C_MpmFrameOutput& out) override;
    bool WriteEndMark(C_MpmFrameOutput& out) override;
    bool FlushPendingSilence(C_MpmFrameOutput& out) override;
    std::string CannotSaveReason() const override;

    // The frame size in samples (0 when it is not known).
    virtual uint32_t GetFrameSize();
    // Codes count samples into a coded file.
    virtual bool EncodeToFile(const int16_t* samples, uint32_t count, uint32_t mode, const std::string& codedPath);
    // Decodes a coded file into *count samples.
    virtual bool DecodeFromFile(const std::string& codedPath, uint32_t mode, int16_t* out, uint32_t count);
    // Turns a coded file into the frame-section form of a voice segment.
    virtual bool PackFrames(const std::string& codedPath, const std::string& framesPath, uint32_t mode);
    // The file the coder actually wrote for codedPath.
    virtual std::string CodedFileOf(const std::string& codedPath) const { return codedPath; }
    // The mode handed to the coder (the level for the CLP line).
    virtual uint32_t CoderMode() const { return Level(); }

    // The pending silence of the silence writer.
    bool PendingFlag() const { return pendingFlag_; }
    uint16_t PendingCount() const { return pendingCount_; }
    uint16_t PendingValue() const { return pendingValue_; }
    void ClearPending() {
        pendingFlag_ = false;
        pendingCount_ = 0;
        pendingValue_ = 0;
    }

    int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                        const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) override;

protected:
    uint8_t HeaderByte10() const override { return static_cast<uint8_t>(Level()); }
    uint16_t HeaderField60() const override { return 6; }
    void SetFrameSize(uint32_t samples) { frameSize_ = samples; }
    void SetLargestSilenceRun(uint32_t samples) { largestRun_ = samples; }
    uint32_t StoredFrameSize() const { return frameSize_; }

private:
    uint16_t level_;
    uint32_t frameSize_ = 192;
    uint32_t largestRun_ = kExtLongestRunDefault;
    bool pendingFlag_ = false;
    uint16_t pendingValue_ = 0;
    uint16_t pendingCount_ = 0;

public:
    static constexpr uint32_t kExtLongestRunDefault = 4095;
};

class C_Clp1File : public C_ClpFile {
public:
    static constexpr uint32_t kFormatId = kFormatClp1;
    C_Clp1File() : C_ClpFile("WCP1", "WCP1", kFormatClp1, 1) {}
};
class C_Clp2File : public C_ClpFile {
public:
    static constexpr uint32_t kFormatId = kFormatClp2;
    C_Clp2File() : C_ClpFile("WCP2", "WCP2", kFormatClp2, 2) {}
};
class C_Clp3File : public C_ClpFile {
public:
    static constexpr uint32_t kFormatId = kFormatClp3;
    C_Clp3File() : C_ClpFile("WCP3", "WCP3", kFormatClp3, 3) {}
};

}  // namespace cz
