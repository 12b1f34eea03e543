// The generic MPM file (format 6, codes "WMPM" and "WMDM") and the frame
// writer that the MDPCM-coded formats share.
//
// The frame writer walks the segment table. Voice segments are cut at the
// samples of the action events inside them; every chunk of at least one
// short frame is coded with the format's MDPCM coder (long frames first,
// padding toward mid-scale) and decoded back, and each frame becomes a frame
// record; shorter chunks, and voice under coding mode 1, become raw records
// of at most 256 samples. Silence becomes silence records of even length
// (an odd run takes one sample from what follows) of at most the longest
// record setting rounded down to even. An event travels with the chunk or
// silence record that starts at its sample, as a 16-bit command word (see
// MpmCommandWord) on the chunk's first frame (command-frame setting 0) or
// last frame (setting 1); a second event at the same sample is carried by a
// silence record of length 0. The stream ends with the end record.
//
// Record layouts of the generic MPM file (code byte = record type):
//   long/short frame (7, 5):   type, then the coder's frame as it is (header
//                              byte, one signed difference byte per sample);
//   with a command (8, 6):     type, command word, then the frame;
//   silence (1):               type, u16 length;
//   silence with command (2):  type, u16 length, command word;
//   raw (3) / with command (4): type, bits 11..4 of the first sample,
//                              [command word,] count - 1, then bits 11..4 of
//                              each further sample;
//   end (0):                   the single byte 0.
// The frames are coded with 12-bit first samples and continue from the
// previous record's last value: silence keeps it, a raw record sets it.
// The decoded section holds exactly what this stream decodes to.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "formats/mpm/T_MpmFormatBase.h"
#include "formats/wpcm/C_SrcFile.h"

namespace cz {

class C_MpmFile : public T_MpmFormatBase<C_SrcFile> {
public:
    // Internal record types.
    enum RecordType : uint32_t {
        kRecordEnd = 0,
        kRecordSilence = 1,
        kRecordSilenceCommand = 2,
        kRecordRaw = 3,
        kRecordRawCommand = 4,
        kRecordShortFrame = 5,
        kRecordShortFrameCommand = 6,
        kRecordLongFrame = 7,
        kRecordLongFrameCommand = 8,
    };
    static constexpr uint32_t kMaxRawRecord = 256;

    C_MpmFile();
    C_MpmFile(const char* code, const char* secondCode);
    ~C_MpmFile() override;

    // The coder of the frames (end marker and lengths set by the caller).
    virtual std::unique_ptr<C_MDPCMEncDec> CreateCoder();
    // The bytes of a coded frame of a record type after its header byte
    // (the frame's sample count for the MDPCM coder); 0 for other types.
    virtual uint32_t FrameLength(uint32_t type) const;
    // The code byte written for a record type.
    virtual uint8_t MapRecordCode(uint32_t type) const { return static_cast<uint8_t>(type); }
    // The value a frame record starts from: decoded holds the chunk's
    // initial value followed by its reconstruction, and index is the
    // frame's first sample in the chunk, so this is decoded[index + 1].
    virtual uint16_t FrameStartValue(const uint16_t* decoded, uint32_t index) const { return decoded[index + 1]; }
    // Writes one frame record of type (5 to 8): frame points at the coded
    // frame (header byte first), the frame's samples are decoded[index + 1
    // ...] (count of them); command is used for types 6 and 8. Appends the
    // frame's reconstruction to the decoded section.
    virtual bool WriteFrameRecord(C_MpmFrameOutput& out, uint32_t type, const uint8_t* frame, const uint16_t* decoded,
                                  uint32_t index, uint32_t count, uint16_t command);
    // A silence record of type 1 or 2 (with command) of length samples.
    virtual bool WriteSilenceRecord(C_MpmFrameOutput& out, uint32_t type, uint32_t length, uint16_t command);
    // A raw record of type 3 or 4 (with command) of 1 to 256 samples.
    virtual bool WriteRawRecord(C_MpmFrameOutput& out, uint32_t type, const uint16_t* samples, uint32_t count,
                                uint16_t command);

    int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                        const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) override;

protected:
    // The coder's starting value for a chunk beginning at samples[start]:
    // the running reconstruction, which the generic stream continues from.
    virtual uint16_t ChunkInitialValue(const std::vector<uint16_t>& samples, uint32_t start,
                                       const C_MpmFrameOutput& out) const {
        return out.LastDecoded();
    }
    // The coder of the save in progress (valid inside WriteFrames).
    const C_MDPCMEncDec* Coder() const { return coder_; }

private:
    bool WriteVoiceChunk(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples, uint32_t start, uint32_t length,
                         bool raw, bool hasCommand, uint16_t command);
    bool WriteCodedChunk(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples, uint32_t start, uint32_t length,
                         bool hasCommand, uint16_t command);
    bool WriteRawChunk(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples, uint32_t start, uint32_t length,
                       bool hasCommand, uint16_t command);
    bool WriteSilenceRun(C_MpmFrameOutput& out, uint32_t length, bool hasCommand, uint16_t command);

    C_MDPCMEncDec* coder_ = nullptr;
};

}  // namespace cz
