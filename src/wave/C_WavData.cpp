#include "wave/C_WavData.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include "wave/C_WavFile.h"
#include "wave/WriterRegistry.h"

namespace cz {

namespace {

bool ValidContainer(uint16_t valid, uint16_t container) {
    return (container == 8 || container == 16 || container == 32) && valid >= 1 && valid <= container;
}

// Reports whole percents as a loop advances.
class ProgressMeter {
public:
    ProgressMeter(I_ProgressCallback* cb, uint64_t total) : cb_(cb), total_(total ? total : 1) {
        if (cb_) cb_->OnBegin();
    }
    void Advance(uint64_t done) {
        if (!cb_) return;
        int32_t percent = static_cast<int32_t>(done * 100 / total_);
        if (percent > last_ && percent < 100) {
            last_ = percent;
            cb_->OnProgress(percent);
        }
    }
    void Finish() {
        if (!cb_) return;
        cb_->OnProgress(100);
        cb_->OnEnd();
    }

private:
    I_ProgressCallback* cb_;
    uint64_t total_;
    int32_t last_ = -1;
};

}  // namespace

C_WavData::C_WavData() = default;

C_WavData::~C_WavData() = default;

uint32_t C_WavData::Release() {
    if (refCount_ > 0) return --refCount_;
    delete this;
    return 0;
}

void C_WavData::SetWavInfo(const I_WavInfo& format) {
    info_.CopyFrom(format);
    buffer_.RefreshMasks();
    events_.SetSampleRate(info_.GetSampleRate());
}

void C_WavData::SetFormat(uint32_t rate, uint32_t dataSize, uint16_t channels, uint16_t validBits,
                          uint16_t containerBits, uint32_t signedFlag) {
    info_.SetFormat(rate, dataSize, channels, validBits, containerBits, signedFlag);
    buffer_.RefreshMasks();
    events_.SetSampleRate(rate);
}

int32_t C_WavData::CopyWavData(I_WavData* other) {
    if (!other || buffer_.IsExternal() || other == this) return other == this ? 1 : 0;
    C_WavDataBuffer* src = other->GetBuffer();
    uint32_t size = std::min(other->GetDataSize(), src ? src->Capacity() : 0u);
    buffer_.CopyIn(other->GetSampleBuffer(), size);
    SetWavInfo(*other->GetWavInfo());
    info_.SetDataSize(size);
    return 1;
}

uint8_t* C_WavData::AllocBuffer(uint32_t size) {
    info_.SetDataSize(size);
    return buffer_.Allocate(size);
}

uint8_t* C_WavData::SetSampleData(const uint8_t* bytes, uint32_t size) {
    if (buffer_.IsExternal()) return nullptr;
    if (!bytes && size) return nullptr;
    static const uint8_t kNone = 0;
    uint8_t* out = buffer_.CopyIn(bytes ? bytes : &kNone, bytes ? size : 0);
    info_.SetDataSize(bytes ? size : 0);
    return out;
}

uint8_t* C_WavData::AllocateSampleData(uint32_t size) {
    if (buffer_.IsExternal()) return nullptr;
    uint8_t* out = buffer_.Allocate(size);
    info_.SetDataSize(size);
    return out;
}

uint8_t* C_WavData::HoldSamplesForOneSave(uint32_t size) {
    if (info_.GetContainerBits() != 16 || size % 2 != 0) return nullptr;
    try {
        held_.assign(size / 2, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    buffer_.AttachExternal(reinterpret_cast<uint8_t*>(held_.data()), size);
    info_.SetDataSize(size);
    return buffer_.Data();
}

uint16_t* C_WavData::HeldSamples() {
    const bool attached =
        !held_.empty() && buffer_.IsExternal() && buffer_.Data() == reinterpret_cast<uint8_t*>(held_.data());
    return attached ? held_.data() : nullptr;
}

bool C_WavData::TakeHeldSamples(std::vector<uint16_t>& words) {
    if (!HeldSamples()) return false;
    words = std::move(held_);
    held_.clear();
    ReleaseBuffer();  // and the data size with it: nothing is left to read
    return true;
}

void C_WavData::TakeSamplesFrom(C_WavData& other) {
    std::vector<uint8_t> bytes(other.buffer_.Data(),
                               other.buffer_.Data() + std::min(other.GetDataSize(), other.buffer_.Capacity()));
    if (buffer_.IsExternal()) buffer_.Release();
    buffer_.CopyIn(bytes.data(), static_cast<uint32_t>(bytes.size()));
    SetWavInfo(other.info_);
    info_.SetDataSize(static_cast<uint32_t>(bytes.size()));
    buffer_.RefreshMasks();
}

int32_t C_WavData::ConvertFormatInPlace(uint16_t validBits, uint16_t containerBits, uint32_t signedFlag,
                                        I_ProgressCallback* progress) {
    if (info_.GetValidBits() == validBits && info_.GetContainerBits() == containerBits &&
        info_.GetSignedFlag() == signedFlag)
        return 1;
    I_WavData* converted = ConvertFormat(validBits, containerBits, signedFlag, progress);
    if (!converted) return 0;
    TakeSamplesFrom(*static_cast<C_WavData*>(converted));
    converted->Release();
    return 1;
}

I_WavData* C_WavData::Clone() {
    auto copy = std::make_unique<C_WavData>();
    copy->CopyWavData(this);
    copy->writeParam_ = writeParam_;
    copy->ownerWindow_ = ownerWindow_;
    return copy.release();
}

I_WavData* C_WavData::ConvertFormat(uint16_t validBits, uint16_t containerBits, uint32_t signedFlag,
                                    I_ProgressCallback* progress) {
    const uint16_t srcValid = info_.GetValidBits();
    const uint16_t srcContainer = info_.GetContainerBits();
    if (!ValidContainer(srcValid, srcContainer) || !ValidContainer(validBits, containerBits)) return nullptr;
    const uint16_t channels = info_.GetChannels();
    const uint32_t count =
        std::min<uint64_t>(info_.GetSampleCount(), channels ? buffer_.Capacity() * 8ull / srcContainer / channels : 0);
    uint64_t bytes = (static_cast<uint64_t>(channels) * count * containerBits + 1) / 8;
    if (bytes > 0xFFFFFFFFull) return nullptr;
    auto out = std::make_unique<C_WavData>();
    out->SetFormat(info_.GetSampleRate(), static_cast<uint32_t>(bytes), channels, validBits, containerBits, signedFlag);
    out->AllocBuffer(static_cast<uint32_t>(bytes));
    const int64_t maxV = (int64_t{1} << (validBits - 1)) - 1;
    const int64_t minV = -(int64_t{1} << (validBits - 1));
    ProgressMeter meter(progress, static_cast<uint64_t>(count) * channels);
    uint64_t done = 0;
    for (uint16_t c = 0; c < channels; ++c) {
        for (uint32_t s = 0; s < count; ++s) {
            int64_t v = buffer_.GetSample(s, c);
            int64_t mag = v < 0 ? -v : v;
            if (srcValid > validBits)
                mag >>= (srcValid - validBits);
            else
                mag <<= (validBits - srcValid);
            v = v < 0 ? -mag : mag;
            v = std::clamp(v, minV, maxV);
            out->buffer_.SetSample(s, static_cast<int32_t>(v), c);
            if ((++done & 1023u) == 0) meter.Advance(done);
        }
    }
    meter.Finish();
    return out.release();
}

I_WavData* C_WavData::ExtractChannel(uint16_t channel, uint32_t firstSample, uint32_t count) {
    const uint16_t channels = info_.GetChannels();
    if (channels == 0 || channels > 2 || channel >= channels) return nullptr;
    if (!ValidContainer(info_.GetValidBits(), info_.GetContainerBits())) return nullptr;
    const uint32_t total = SampleCount();
    if (firstSample > total) firstSample = total;
    if (count > total - firstSample) count = total - firstSample;
    auto out = std::make_unique<C_WavData>();
    uint32_t bytes = count * info_.GetBytesPerSample();
    out->SetFormat(info_.GetSampleRate(), bytes, 1, info_.GetValidBits(), info_.GetContainerBits(),
                   info_.GetSignedFlag());
    out->AllocBuffer(bytes);
    for (uint32_t s = 0; s < count; ++s) out->buffer_.SetSample(s, buffer_.GetSample(firstSample + s, channel), 0);
    return out.release();
}

int32_t C_WavData::InsertChannel(I_WavData* mono, uint16_t channel, uint32_t atSample) {
    if (!mono || channel >= info_.GetChannels()) return 0;
    C_WavDataBuffer* src = mono->GetBuffer();
    uint32_t srcCount = mono->GetWavInfo()->GetSampleCount();
    uint32_t total = SampleCount();
    for (uint32_t s = 0; s < srcCount && atSample + static_cast<uint64_t>(s) < total; ++s)
        buffer_.SetSample(atSample + s, src->GetSample(s, 0), channel);
    return 1;
}

int32_t C_WavData::ClampToValid(int64_t value) const {
    int64_t maxV = buffer_.MaxValue(), minV = buffer_.MinValue();
    return static_cast<int32_t>(std::clamp(value, minV, maxV));
}

int32_t C_WavData::ToMono() {
    const uint16_t channels = info_.GetChannels();
    if (channels <= 1) return 1;
    return Rechannel(1, [&](C_WavDataBuffer& out, uint32_t s) {
        int64_t sum = 0;
        for (uint16_t c = 0; c < channels; ++c) sum += buffer_.GetSample(s, c);
        out.SetSample(s, ClampToValid(sum / channels), 0);
    });
}

// Rebuilds the sound with `channels` channels in the same sample format;
// fill(out, sample) writes every channel of one sample.
template <typename Fill>
int32_t C_WavData::Rechannel(uint16_t channels, Fill fill) {
    if (info_.GetChannels() == 0 || !ValidContainer(info_.GetValidBits(), info_.GetContainerBits())) return 0;
    const uint32_t count = SampleCount();
    C_WavData out;
    uint32_t bytes = count * info_.GetBytesPerSample() * channels;
    out.SetFormat(info_.GetSampleRate(), bytes, channels, info_.GetValidBits(), info_.GetContainerBits(),
                  info_.GetSignedFlag());
    out.AllocBuffer(bytes);
    for (uint32_t s = 0; s < count; ++s) fill(out.buffer_, s);
    TakeSamplesFrom(out);
    return 1;
}

int32_t C_WavData::ToStereo() {
    const uint16_t channels = info_.GetChannels();
    if (channels == 2) return 1;
    const uint16_t second = channels == 1 ? 0 : 1;
    return Rechannel(2, [&](C_WavDataBuffer& out, uint32_t s) {
        out.SetSample(s, buffer_.GetSample(s, 0), 0);
        out.SetSample(s, buffer_.GetSample(s, second), 1);
    });
}

int32_t C_WavData::ToStereoPlaced(uint16_t channel) {
    const uint16_t channels = info_.GetChannels();
    const uint16_t target = channel == 0 ? 0 : 1;
    const uint16_t source = channels <= 1 ? 0 : (channel < channels ? channel : channels - 1);
    return Rechannel(2, [&](C_WavDataBuffer& out, uint32_t s) {
        out.SetSample(s, buffer_.GetSample(s, source), target);
        out.SetSample(s, 0, static_cast<uint16_t>(1 - target));  // signed 0 is silence in either storage
    });
}

int32_t C_WavData::SaveAs(uint32_t formatId, const char* path) {
    if (info_.GetDataSize() == 0 || !path) return 0;
    std::unique_ptr<C_WavFile> writer = CreateWriter(formatId);
    if (!writer) return 0;
    writer->SetOwnerWindow(ownerWindow_);
    writer->AttachWavData(this);
    int32_t result = writer->Save(path);
    writer->DetachWavData();
    return result;
}

C_SilenceSegmentList* C_WavData::DetectSilenceAll(uint32_t level, uint32_t minimumLength) {
    uint32_t count = SampleCount();
    if (count == 0 || info_.GetChannels() == 0) return nullptr;
    return DetectSilence(level, minimumLength, 0, count - 1, 0, static_cast<uint16_t>(info_.GetChannels() - 1),
                         nullptr);
}

C_SilenceSegmentList* C_WavData::DetectSilence(uint32_t level, uint32_t minimumLength, uint32_t firstSample,
                                               uint32_t lastSample, uint16_t firstChannel, uint16_t lastChannel,
                                               I_ProgressCallback* progress) {
    if (level > 2047 || lastSample <= firstSample) return nullptr;
    const uint32_t count = SampleCount();
    if (count == 0 || lastChannel >= info_.GetChannels() || firstChannel > lastChannel) return nullptr;
    if (lastSample >= count) lastSample = count - 1;
    if (lastSample <= firstSample) return nullptr;
    const uint16_t valid = info_.GetValidBits();
    int64_t threshold = level;
    if (valid > 12)
        threshold <<= (valid - 12);
    else if (valid < 12)
        threshold >>= (12 - valid);
    const int64_t width = lastChannel - firstChannel + 1;
    detected_.Clear();
    ProgressMeter meter(progress, static_cast<uint64_t>(lastSample - firstSample) + 1);
    bool open = false;
    uint32_t start = 0;
    for (uint64_t s = firstSample; s <= lastSample; ++s) {
        int64_t sum = 0;
        for (uint32_t c = firstChannel; c <= lastChannel; ++c)
            sum += buffer_.GetSample(static_cast<uint32_t>(s), static_cast<uint16_t>(c));
        int64_t average = sum / width;
        bool quiet = -threshold - 1 <= average && average <= threshold;
        if (quiet && !open) {
            open = true;
            start = static_cast<uint32_t>(s);
        } else if (!quiet && open) {
            open = false;
            if (s - start >= minimumLength)
                detected_.Add(std::make_unique<C_SilenceSegment>(start, static_cast<uint32_t>(s - 1)));
        }
        if (((s - firstSample) & 4095u) == 0) meter.Advance(s - firstSample);
    }
    if (open && start < lastSample) detected_.Add(std::make_unique<C_SilenceSegment>(start, lastSample));
    meter.Finish();
    return &detected_;
}

void C_WavData::AttachBuffer(uint8_t* bytes, uint32_t size) {
    buffer_.AttachExternal(bytes, size);
    info_.SetDataSize(size);
}

void C_WavData::ReleaseBuffer() {
    buffer_.Release();
    info_.SetDataSize(0);
}

int32_t C_WavData::ApplyGainRampAll(double startGain, double endGain, I_ProgressCallback* progress) {
    uint32_t count = SampleCount();
    if (count == 0 || info_.GetChannels() == 0) return 0;
    return ApplyGainRamp(startGain, endGain, 0, count - 1, 0, static_cast<uint16_t>(info_.GetChannels() - 1), progress);
}

int32_t C_WavData::ApplyGainRamp(double startGain, double endGain, uint32_t firstSample, uint32_t lastSample,
                                 uint16_t firstChannel, uint16_t lastChannel, I_ProgressCallback* progress) {
    if (lastSample >= SampleCount() || lastChannel >= info_.GetChannels()) return 0;
    if (firstSample > lastSample || firstChannel > lastChannel) return 0;
    const double step = lastSample > firstSample ? (endGain - startGain) / (lastSample - firstSample) : 0.0;
    ProgressMeter meter(progress,
                        (static_cast<uint64_t>(lastSample - firstSample) + 1) * (lastChannel - firstChannel + 1));
    uint64_t done = 0;
    for (uint32_t c = firstChannel; c <= lastChannel; ++c) {
        double gain = startGain;
        for (uint64_t s = firstSample; s <= lastSample; ++s) {
            double v = buffer_.GetSample(static_cast<uint32_t>(s), static_cast<uint16_t>(c)) * gain;
            int64_t t = std::isfinite(v) ? static_cast<int64_t>(std::clamp(v, -4.0e18, 4.0e18)) : 0;
            buffer_.SetSample(static_cast<uint32_t>(s), ClampToValid(t), static_cast<uint16_t>(c));
            gain += step;
            if ((++done & 1023u) == 0) meter.Advance(done);
        }
    }
    meter.Finish();
    return 1;
}

int32_t C_WavData::NormalizeAll(uint32_t reserved) {
    uint32_t count = SampleCount();
    if (count == 0 || info_.GetChannels() == 0) return 0;
    return Normalize(0, count - 1, 0, static_cast<uint16_t>(info_.GetChannels() - 1), reserved);
}

int32_t C_WavData::Normalize(uint32_t first, uint32_t last, uint16_t firstChannel, uint16_t lastChannel, uint32_t) {
    int32_t peak = buffer_.GetPeak(first, last, firstChannel, lastChannel);
    if (peak < 0) return 0;
    if (peak == 0) return 1;  // nothing to scale in a silent range
    double factor = static_cast<double>(uint64_t{1} << (info_.GetValidBits() - 1)) / peak;
    return ApplyGainRamp(factor, factor, first, last, firstChannel, lastChannel, nullptr);
}

void C_WavData::SetDetectedSilence(const C_SilenceSegmentList& list) {
    if (&list == &detected_) return;
    detected_.Clear();
    CopySegments(list, detected_);
}

int32_t C_WavData::GetInfo(uint32_t kind, void** out) {
    if (!out) return 0;
    switch (kind) {
        case kInfoCue: *out = &cue_; return 1;
        case kInfoText: *out = &text_; return 1;
        case kInfoSampler: *out = &sampler_; return 1;
        case kInfoList: *out = &list_; return 1;
        case kInfoExtraChunks: *out = &extra_; return 1;
        default: *out = nullptr; return 0;
    }
}

int32_t C_WavData::GetMean() const {
    uint32_t count = info_.GetSampleCount();
    if (count == 0) return 0;
    int64_t sum = 0;
    for (uint32_t s = 0; s < count; ++s) sum += buffer_.GetSample(s, 0);
    return static_cast<int32_t>(sum / static_cast<int64_t>(count));
}

void C_WavData::RemoveDcOffset() {
    int64_t mean = GetMean();
    uint32_t count = SampleCount();
    for (uint16_t c = 0; c < info_.GetChannels(); ++c)
        for (uint32_t s = 0; s < count; ++s) buffer_.SetSample(s, ClampToValid(buffer_.GetSample(s, c) - mean), c);
}

void C_WavData::SilenceDetectedSpans() {
    uint32_t count = SampleCount();
    for (const C_SilenceSegment* seg : detected_)
        for (uint64_t s = seg->GetStart(); s <= seg->GetEnd() && s < count; ++s)
            for (uint16_t c = 0; c < info_.GetChannels(); ++c) buffer_.SetSample(static_cast<uint32_t>(s), 0, c);
}

int32_t C_WavData::GetSilenceRegionCount() const { return events_.Regions().GetCount(); }

C_SilenceSegmentList* C_WavData::BuildSilenceSegments() {
    if (events_.Regions().GetCount() > 0) {
        segments_.Clear();
        for (const C_ActionSilenceRegion* r : events_.Regions())
            segments_.Add(std::make_unique<C_SilenceSegment>(r->GetStart(), r->GetEnd()));
    }
    return &segments_;
}

void C_WavData::CopySegments(const C_SilenceSegmentList& from, C_SilenceSegmentList& to) {
    std::vector<std::pair<uint32_t, uint32_t>> spans;
    for (const C_SilenceSegment* s : from) spans.emplace_back(s->GetStart(), s->GetEnd());
    for (const auto& [a, b] : spans) to.Add(std::make_unique<C_SilenceSegment>(a, b));
}

void C_WavData::MergeSegments(const C_SilenceSegmentList& a, const C_SilenceSegmentList& b, C_SilenceSegmentList& to) {
    // Both lists go into a scratch manager as regions (sorted by start); the
    // union of overlapping or touching spans becomes the target list.
    C_ActionEventMgr scratch;
    for (const C_SilenceSegment* s : a) scratch.AddSilenceRegion(s->GetStart(), s->GetEnd());
    for (const C_SilenceSegment* s : b) scratch.AddSilenceRegion(s->GetStart(), s->GetEnd());
    to.Clear();
    bool open = false;
    uint32_t start = 0, end = 0;
    for (const C_ActionSilenceRegion* r : scratch.Regions()) {
        uint32_t rs = r->GetStart(), re = std::max(r->GetStart(), r->GetEnd());
        if (open && static_cast<uint64_t>(rs) <= static_cast<uint64_t>(end) + 1) {
            end = std::max(end, re);
            continue;
        }
        if (open) to.Add(std::make_unique<C_SilenceSegment>(start, end));
        open = true;
        start = rs;
        end = re;
    }
    if (open) to.Add(std::make_unique<C_SilenceSegment>(start, end));
}

}  // namespace cz
