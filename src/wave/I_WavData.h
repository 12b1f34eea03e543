// The in-memory sound: one interleaved PCM buffer with its format, write
// parameters, action events, silence segments and metadata.
#pragma once

#include <cstdint>

#include "dsp/events/C_ActionEventMgr.h"
#include "foundation/I_ProgressCallback.h"
#include "wave/C_SilenceSegment.h"
#include "wave/C_WavDataBuffer.h"
#include "wave/C_WavInfo.h"
#include "wave/C_WriteWavParam.h"

namespace cz {

// Metadata kinds of GetInfo.
enum WavInfoKind : uint32_t {
    kInfoCue = 1,
    kInfoText = 2,
    kInfoSampler = 3,
    kInfoList = 4,
    kInfoExtraChunks = 5,
};

class I_WavData {
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    virtual I_WavInfo* GetWavInfo() = 0;
    virtual uint8_t* GetSampleBuffer() = 0;
    virtual uint32_t GetDataSize() const = 0;
    virtual void SetWavInfo(const I_WavInfo& format) = 0;
    virtual void SetFormat(uint32_t rate, uint32_t dataSize, uint16_t channels, uint16_t validBits,
                           uint16_t containerBits, uint32_t signedFlag) = 0;
    virtual int32_t CopyWavData(I_WavData* other) = 0;
    virtual uint8_t* AllocBuffer(uint32_t size) = 0;
    virtual uint8_t* SetSampleData(const uint8_t* bytes, uint32_t size) = 0;
    virtual int32_t ConvertFormatInPlace(uint16_t validBits, uint16_t containerBits, uint32_t signedFlag,
                                         I_ProgressCallback* progress) = 0;
    virtual I_WavData* Clone() = 0;
    virtual I_WavData* ConvertFormat(uint16_t validBits, uint16_t containerBits, uint32_t signedFlag,
                                     I_ProgressCallback* progress) = 0;
    virtual I_WavData* ExtractChannel(uint16_t channel, uint32_t firstSample, uint32_t count) = 0;
    virtual int32_t InsertChannel(I_WavData* mono, uint16_t channel, uint32_t atSample) = 0;
    virtual int32_t ToMono() = 0;
    virtual int32_t ToStereo() = 0;
    virtual int32_t ToStereoPlaced(uint16_t channel) = 0;
    virtual C_WriteWavParam* GetWriteParam() = 0;
    virtual int32_t SaveAs(uint32_t formatId, const char* path) = 0;
    virtual C_ActionEventMgr* GetActionEventMgr() = 0;
    virtual C_SilenceSegmentList* DetectSilenceAll(uint32_t level, uint32_t minimumLength) = 0;
    virtual C_SilenceSegmentList* DetectSilence(uint32_t level, uint32_t minimumLength, uint32_t firstSample,
                                                uint32_t lastSample, uint16_t firstChannel, uint16_t lastChannel,
                                                I_ProgressCallback* progress) = 0;
    virtual void AttachBuffer(uint8_t* bytes, uint32_t size) = 0;
    virtual void ReleaseBuffer() = 0;
    virtual C_WavDataBuffer* GetBuffer() = 0;
    virtual int32_t ApplyGainRampAll(double startGain, double endGain, I_ProgressCallback* progress) = 0;
    virtual int32_t ApplyGainRamp(double startGain, double endGain, uint32_t firstSample, uint32_t lastSample,
                                  uint16_t firstChannel, uint16_t lastChannel, I_ProgressCallback* progress) = 0;
    virtual int32_t NormalizeAll(uint32_t reserved) = 0;
    virtual int32_t Normalize(uint32_t first, uint32_t last, uint16_t firstChannel, uint16_t lastChannel,
                              uint32_t reserved) = 0;
    virtual C_SilenceSegmentList* GetDetectedSilence() = 0;
    virtual void SetDetectedSilence(const C_SilenceSegmentList& list) = 0;
    virtual int32_t GetInfo(uint32_t kind, void** out) = 0;
    virtual int32_t GetMean() const = 0;
    virtual void RemoveDcOffset() = 0;
    virtual void SilenceDetectedSpans() = 0;
    virtual int32_t GetSilenceRegionCount() const = 0;
    virtual C_SilenceSegmentList* BuildSilenceSegments() = 0;
    virtual void CopySegments(const C_SilenceSegmentList& from, C_SilenceSegmentList& to) = 0;
    virtual void MergeSegments(const C_SilenceSegmentList& a, const C_SilenceSegmentList& b,
                               C_SilenceSegmentList& to) = 0;
    virtual ~I_WavData() = default;
};

}  // namespace cz
