#pragma once

#include <memory>
#include <vector>

#include "wave/C_WavDataCueInfo.h"
#include "wave/C_WavDataExtraChunkInfo.h"
#include "wave/C_WavDataListInfo.h"
#include "wave/C_WavDataSamplerInfo.h"
#include "wave/I_WavData.h"

namespace cz {

class C_WavData : public I_WavData {
public:
    C_WavData();
    ~C_WavData() override;
    C_WavData(const C_WavData&) = delete;
    C_WavData& operator=(const C_WavData&) = delete;

    uint32_t AddRef() override { return ++refCount_; }
    // Above 0: count - 1; otherwise the sound deletes itself.
    uint32_t Release() override;
    I_WavInfo* GetWavInfo() override { return &info_; }
    uint8_t* GetSampleBuffer() override { return buffer_.Data(); }
    uint32_t GetDataSize() const override { return info_.GetDataSize(); }
    void SetWavInfo(const I_WavInfo& format) override;
    void SetFormat(uint32_t rate, uint32_t dataSize, uint16_t channels, uint16_t validBits, uint16_t containerBits,
                   uint32_t signedFlag) override;
    int32_t CopyWavData(I_WavData* other) override;
    uint8_t* AllocBuffer(uint32_t size) override;
    uint8_t* SetSampleData(const uint8_t* bytes, uint32_t size) override;
    int32_t ConvertFormatInPlace(uint16_t validBits, uint16_t containerBits, uint32_t signedFlag,
                                 I_ProgressCallback* progress) override;
    I_WavData* Clone() override;
    I_WavData* ConvertFormat(uint16_t validBits, uint16_t containerBits, uint32_t signedFlag,
                             I_ProgressCallback* progress) override;
    I_WavData* ExtractChannel(uint16_t channel, uint32_t firstSample, uint32_t count) override;
    int32_t InsertChannel(I_WavData* mono, uint16_t channel, uint32_t atSample) override;
    int32_t ToMono() override;
    int32_t ToStereo() override;
    int32_t ToStereoPlaced(uint16_t channel) override;
    C_WriteWavParam* GetWriteParam() override { return &writeParam_; }
    int32_t SaveAs(uint32_t formatId, const char* path) override;
    C_ActionEventMgr* GetActionEventMgr() override { return &events_; }
    C_SilenceSegmentList* DetectSilenceAll(uint32_t level, uint32_t minimumLength) override;
    C_SilenceSegmentList* DetectSilence(uint32_t level, uint32_t minimumLength, uint32_t firstSample,
                                        uint32_t lastSample, uint16_t firstChannel, uint16_t lastChannel,
                                        I_ProgressCallback* progress) override;
    void AttachBuffer(uint8_t* bytes, uint32_t size) override;
    void ReleaseBuffer() override;
    C_WavDataBuffer* GetBuffer() override { return &buffer_; }
    int32_t ApplyGainRampAll(double startGain, double endGain, I_ProgressCallback* progress) override;
    int32_t ApplyGainRamp(double startGain, double endGain, uint32_t firstSample, uint32_t lastSample,
                          uint16_t firstChannel, uint16_t lastChannel, I_ProgressCallback* progress) override;
    int32_t NormalizeAll(uint32_t reserved) override;
    int32_t Normalize(uint32_t first, uint32_t last, uint16_t firstChannel, uint16_t lastChannel,
                      uint32_t reserved) override;
    C_SilenceSegmentList* GetDetectedSilence() override { return &detected_; }
    void SetDetectedSilence(const C_SilenceSegmentList& list) override;
    int32_t GetInfo(uint32_t kind, void** out) override;
    int32_t GetMean() const override;
    void RemoveDcOffset() override;
    void SilenceDetectedSpans() override;
    int32_t GetSilenceRegionCount() const override;
    C_SilenceSegmentList* BuildSilenceSegments() override;
    void CopySegments(const C_SilenceSegmentList& from, C_SilenceSegmentList& to) override;
    void MergeSegments(const C_SilenceSegmentList& a, const C_SilenceSegmentList& b, C_SilenceSegmentList& to) override;

    // The silence segments of the sound (from its silence regions, or as a
    // format reader or writer set them).
    C_SilenceSegmentList& SilenceSegments() { return segments_; }
    C_WavDataCueInfo& CueInfo() { return cue_; }
    C_WavDataSamplerInfo& SamplerInfo() { return sampler_; }
    C_WavDataListInfo& ListInfo() { return list_; }
    C_WavDataExtraChunkInfo& ExtraChunks() { return extra_; }
    uintptr_t GetOwnerWindow() const { return ownerWindow_; }
    void SetOwnerWindow(uintptr_t window) { ownerWindow_ = window; }
    uint32_t SampleCount() const { return info_.GetSampleCount(); }
    int32_t Sample(uint32_t sample, uint16_t channel) const { return buffer_.GetSample(sample, channel); }
    void SetSampleValue(uint32_t sample, uint16_t channel, int32_t value) { buffer_.SetSample(sample, value, channel); }
    // Replaces samples and format with those of another sound (which is emptied).
    void TakeSamplesFrom(C_WavData& other);
    // Room for size bytes of samples in the sound's own buffer, zero-filled,
    // for a caller that fills it in place (none for an attached buffer).
    uint8_t* AllocateSampleData(uint32_t size);
    // A sound made only to be saved once: its 16-bit samples (bytes in file
    // order) are kept in a block of words that the save may take over
    // instead of copying. Returns the bytes to fill, none when the sound's
    // format is not 16-bit or the block cannot be had.
    uint8_t* HoldSamplesForOneSave(uint32_t size);
    // The block of such a sound, which its save may rewrite in place
    // (sample s in word s); null for any other sound.
    uint16_t* HeldSamples();
    // Hands the block over: the sound holds no samples afterwards (its format
    // stays). False for a sound that holds none.
    bool TakeHeldSamples(std::vector<uint16_t>& words);

private:
    int32_t ClampToValid(int64_t value) const;
    template <typename Fill>
    int32_t Rechannel(uint16_t channels, Fill fill);

    C_SilenceSegmentList segments_;
    C_WavInfo info_;
    C_WavDataBuffer buffer_{&info_};
    C_ActionEventMgr events_;
    C_WriteWavParam writeParam_;
    C_SilenceSegmentList detected_;
    C_WavDataCueInfo cue_{&info_};
    C_WavDataTextInfo text_;
    C_WavDataSamplerInfo sampler_{&info_};
    C_WavDataListInfo list_;
    C_WavDataExtraChunkInfo extra_;
    uint32_t refCount_ = 0;
    uintptr_t ownerWindow_ = 0;
    std::vector<uint16_t> held_;
};

}  // namespace cz
