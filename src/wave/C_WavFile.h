// The WAV format class, and the base of every chip-format file class. It
// opens a file (from a path or from bytes in memory), checks its format,
// loads its samples and metadata into a sound, and saves a sound as WAV.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/registry/FormatId.h"
#include "foundation/C_CUTime.h"
#include "foundation/InputStream.h"
#include "wave/C_RiffFile.h"
#include "wave/C_WavData.h"
#include "wave/I_WavFile.h"

namespace cz {

// Why the last ReadHeader or LoadSamples failed, for messages.
enum class WavFileError {
    kNone,
    kCannotOpen,
    kNotRiffWave,
    kTruncated,
    kNoFormatChunk,
    kNoDataChunk,
    kUnsupportedFormat,
    kBadFormat,
    kBadMetadata,
    kBadSampleData,
    kNotThisFormat,
    kNoSound,
};
const char* WavFileErrorText(WavFileError error);

class C_WavFile : public I_WavFile {
public:
    C_WavFile();
    ~C_WavFile() override;
    C_WavFile(const C_WavFile&) = delete;
    C_WavFile& operator=(const C_WavFile&) = delete;

    uint32_t AddRef() override { return ++refCount_; }
    uint32_t Release() override;
    const char* GetPathName() const override { return path_.c_str(); }
    C_CUTime* GetFileTime() override { return &lastWrite_; }
    int64_t GetFileLength() const override { return fileLength_; }
    uint32_t GetFormatId() const override { return formatId_; }
    uint32_t GetCodecType() const override { return codecType_; }
    // The codings GetCodecType names for a RIFF/WAVE file's format tag.
    static constexpr uint32_t kCodecPcm = 0;
    static constexpr uint32_t kCodecMsAdpcm = 3;
    static constexpr uint32_t kCodecImaAdpcm = 6;
    I_WavInfo* GetWavInfo() override { return sound_ ? sound_->GetWavInfo() : nullptr; }
    void AttachWavData(I_WavData* sound) override;
    I_WavData* DetachWavData() override;
    I_WavData* GetWavData() override;
    uint8_t* GetSampleBuffer() override { return sound_ ? sound_->GetSampleBuffer() : nullptr; }
    int32_t CopyWavData(I_WavData* other) override;
    void SetWavInfo(const I_WavInfo& format) override;
    int32_t SetFormat(uint32_t rate, uint32_t dataSize, uint16_t channels, uint16_t validBits, uint16_t containerBits,
                      uint32_t signedFlag) override;
    uint8_t* SetSampleData(const uint8_t* bytes, uint32_t size) override;
    C_WriteWavParam* GetWriteParam() override { return sound_ ? sound_->GetWriteParam() : nullptr; }
    int32_t SaveAs(uint32_t formatId, const char* path) override;
    int32_t GetInfo(uint32_t kind, void** out) override;
    uint64_t GetDataOffset() const override { return dataOffset_; }
    // Opens the path and parses the header from it (see ReadHeaderStream).
    int32_t ReadHeader(const char* path, uint32_t loadFlag, uint32_t* outFlags) override;
    int32_t LoadSamples(uint32_t flag) override;
    int32_t Save(const char* path) override;
    // Parses the header from a stream; the stream is kept for LoadSamples.
    // Format classes override this rather than ReadHeader.
    virtual int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags);

    // ReadHeader with load flag 1, record path, time and length, LoadSamples.
    int32_t Load(const char* path, uint32_t flag);
    // The same on an open stream. With a path of a file on disk, its time
    // and length are recorded; otherwise the path field becomes name.
    int32_t LoadFromStream(std::shared_ptr<InputStream> stream, uint32_t flag, const char* name = "<memory>",
                           bool isFile = false);
    // ReadHeader without loading, then record path, time and length.
    int32_t Probe(const char* path, uint32_t* outFlags);
    int32_t ProbeStream(std::shared_ptr<InputStream> stream, uint32_t* outFlags);

    // Lets go of the file the header and samples were read from, once they
    // are loaded, so that the file can be replaced or removed while this
    // object lives. LoadSamples fails afterwards.
    void ReleaseSource() { stream_.reset(); }
    // Replaces the loaded samples by the sound the chip plays, for files that
    // keep it beside their source samples (decoded from the codes, or their
    // decoded section); 0 when the file keeps no such sound or it cannot be
    // read. Call before ReleaseSource.
    virtual int32_t LoadPlayedSound() { return 0; }

    void SetOwnerWindow(uintptr_t window) { ownerWindow_ = window; }
    void RecordPathTimeAndLength(const char* path);
    void SetPath(const char* path) { path_ = path ? path : ""; }
    uintptr_t GetOwnerWindow() const { return ownerWindow_; }
    // The sound as the concrete class (none when there is no sound).
    C_WavData* Sound() { return static_cast<C_WavData*>(sound_); }
    uint16_t GetFormatTag() const { return formatTag_; }
    WavFileError LastError() const { return error_; }
    // What the last refusal named beyond its error (the sample format), or "".
    const std::string& LastErrorDetail() const { return errorDetail_; }
    const S_WaveFormat& WaveFormat() const { return waveFormat_; }

protected:
    // Creates the owned sound when there is none.
    C_WavData* EnsureSound();
    void SetFormatId(uint32_t id) { formatId_ = id; }
    void SetCodecType(uint32_t type) { codecType_ = type; }
    void SetError(WavFileError error) { error_ = error; }
    // Records why the file is refused and gives the failure result, 0.
    int32_t Fail(WavFileError error) {
        error_ = error;
        return 0;
    }
    // The same, with what the file holds that could not be taken (shown
    // after the error's text).
    int32_t Fail(WavFileError error, std::string detail) {
        errorDetail_ = std::move(detail);
        return Fail(error);
    }
    void SetDataOffset(uint64_t offset) { dataOffset_ = offset; }
    // The stream the header was read from.
    InputStream* Stream() const { return stream_.get(); }
    void SetStream(std::shared_ptr<InputStream> stream) { stream_ = std::move(stream); }
    // Action events and silence regions from the cue points and labels.
    void RebuildMarkersFromLabels();

private:
    int32_t LoadPcm();
    int32_t LoadAdpcm();
    // Float and G.711 samples as 16-bit PCM.
    int32_t LoadConverted();

    uintptr_t ownerWindow_ = 0;
    uint32_t formatId_ = 0;
    uint32_t codecType_ = 0;
    uint16_t formatTag_ = 0;
    std::string path_;
    std::string errorDetail_;
    uint64_t fmtOffset_ = 0;
    uint64_t dataOffset_ = 0;
    uint32_t dataSize_ = 0;
    I_WavData* sound_ = nullptr;
    uint32_t attached_ = 0;
    uint32_t refCount_ = 0;
    std::unique_ptr<C_WavData> owned_;
    C_CUTime lastWrite_;
    int64_t fileLength_ = -1;
    std::shared_ptr<InputStream> stream_;
    S_WaveFormat waveFormat_;
    std::vector<uint8_t> fmtBytes_;
    uint16_t storedContainerBits_ = 0;
    WavFileError error_ = WavFileError::kNone;
};

}  // namespace cz
