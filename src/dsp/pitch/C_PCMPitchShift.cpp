#include "dsp/pitch/C_PCMPitchShift.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "wave/C_SilenceSegment.h"
#include "wave/C_WavData.h"
#include "wave/I_WavData.h"

namespace cz {

RefPtr<C_PCMPitchShift> C_PCMPitchShift::Create() {
    RefPtr<C_PCMPitchShift> object(new C_PCMPitchShift);
    object->heapOwned_ = true;
    return object;
}

void C_PCMPitchShift::Release() {
    if (heapOwned_) delete this;
}

bool C_PCMPitchShift::SetParameters(const S_PitchShiftParameters& p) {
    if (!(p.factor >= kMinFactor && p.factor <= kMaxFactor)) return false;
    if (p.minimumPeriod < 1 || p.maximumPeriod <= p.minimumPeriod || p.maximumPeriod > kMaxPeriod) return false;
    if (p.periodStep < 1 || p.skipStep < 1 || std::isnan(p.threshold)) return false;
    parameters_ = p;
    return true;
}

double C_PCMPitchShift::DifferencePercentage(uint32_t a, uint32_t b, uint32_t n) const {
    uint64_t d = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const int64_t diff = int64_t{samples_[a + i]} - int64_t{samples_[b + i]};
        d += static_cast<uint64_t>(diff < 0 ? -diff : diff);
    }
    const uint64_t m = magnitude_[a + n] - magnitude_[a];
    if (n >= kQuietLength && m / n < kQuietMean) return 0.0;
    // Two stretches of digital silence are the same stretch: no difference.
    // Against a silent first stretch any sound differs without bound.
    if (m == 0) return d == 0 ? 0.0 : std::numeric_limits<double>::infinity();
    return static_cast<double>(d) / static_cast<double>(m) * 100.0;
}

bool C_PCMPitchShift::Matches(uint32_t a, uint32_t b, uint32_t n) const {
    const uint64_t m = magnitude_[a + n] - magnitude_[a];
    const double threshold = parameters_.threshold;
    if (n >= kQuietLength && m / n < kQuietMean) return 0.0 < threshold;
    const int32_t* x = samples_.data() + a;
    const int32_t* y = samples_.data() + b;
    // The percentage only grows with the sum of differences, so a partial
    // sum that already reaches the threshold decides the comparison.
    auto percentage = [m](uint64_t d) {
        if (m == 0) return d == 0 ? 0.0 : std::numeric_limits<double>::infinity();
        return static_cast<double>(d) / static_cast<double>(m) * 100.0;
    };
    uint64_t d = 0;
    uint32_t i = 0;
    constexpr uint32_t kBlock = 16;
    while (i < n) {
        const uint32_t stop = std::min(n, i + kBlock);
        for (; i < stop; ++i) {
            const int64_t diff = int64_t{x[i]} - int64_t{y[i]};
            d += static_cast<uint64_t>(diff < 0 ? -diff : diff);
        }
        if (i < n && !(percentage(d) < threshold)) return false;
    }
    return percentage(d) < threshold;
}

void C_PCMPitchShift::DetectPeriods(const SampleReader& reader, uint32_t count, I_ProgressCallback* callback) {
    std::vector<int32_t> samples(count);
    for (uint32_t i = 0; i < count; ++i) samples[i] = reader(i);
    DetectPeriods(samples, callback);
}

void C_PCMPitchShift::DetectPeriods(const std::vector<int32_t>& samples, I_ProgressCallback* callback) {
    periods_.Clear();
    samples_ = samples;
    const uint64_t count = samples_.size();
    magnitude_.assign(count + 1, 0);
    for (size_t i = 0; i < count; ++i) {
        const int64_t v = samples_[i];
        magnitude_[i + 1] = magnitude_[i] + static_cast<uint64_t>(v < 0 ? -v : v);
    }
    const uint64_t minimum = static_cast<uint64_t>(parameters_.minimumPeriod);
    const uint64_t maximum = static_cast<uint64_t>(parameters_.maximumPeriod);
    const uint64_t step = static_cast<uint64_t>(parameters_.periodStep);
    const uint64_t skip = static_cast<uint64_t>(parameters_.skipStep);
    const uint64_t limit = count > 2 * maximum ? count - 2 * maximum : 0;

    if (callback) callback->OnBegin();
    uint64_t u = 0;
    while (u < limit) {
        if (callback) callback->OnProgress(static_cast<int32_t>(static_cast<double>(u) * 100.0 / count));
        bool found = false;
        for (uint64_t p = minimum; p < maximum; p += step) {
            // u + 2p stays below count: u < count - 2 x maximum.
            if (Matches(static_cast<uint32_t>(u), static_cast<uint32_t>(u + p), static_cast<uint32_t>(p))) {
                periods_.Add(
                    std::make_unique<C_PitchShiftPeriod>(static_cast<uint32_t>(u), static_cast<uint32_t>(u + p - 1)));
                u += p;
                found = true;
                break;
            }
        }
        if (!found) u += skip;
    }
    if (callback) {
        callback->OnProgress(100);
        callback->OnEnd();
    }
}

bool C_PCMPitchShift::GeneratePeriods(C_PitchShiftPCMGenerator& generator, uint32_t count, int variant) {
    uint64_t pos = 0;
    for (C_PitchShiftPeriod* period : periods_) {
        if (period->Start() >= count || period->End() >= count) break;
        if (period->Start() > pos) generator.CopyThrough(period->Start() - 1);
        period->SetEmitCount(variant, generator.EmitPeriod(period->End()));
        pos = uint64_t{period->End()} + 1;
    }
    if (pos < count) generator.CopyThrough(count - 1);
    return generator.Ok();
}

namespace {
// A sample of channel ch on the 16-bit scale.
int32_t ScaledSample(const C_WavDataBuffer& buffer, uint32_t sample, uint16_t ch, uint16_t validBits) {
    const int64_t v = buffer.GetSample(sample, ch);
    if (validBits < 16) return static_cast<int32_t>(v * (int64_t{1} << (16 - validBits)));
    if (validBits > 16) return static_cast<int32_t>(v / (int64_t{1} << (validBits - 16)));
    return static_cast<int32_t>(v);
}
}  // namespace

int32_t C_PCMPitchShift::ProcessWavData(I_WavData* data, I_ProgressCallback* callback) {
    if (!data || !data->GetWavInfo() || !data->GetBuffer()) return 0;
    I_WavInfo& info = *data->GetWavInfo();
    const uint16_t channels = info.GetChannels();
    const uint16_t container = info.GetContainerBits();
    const uint16_t validBits = info.GetValidBits();
    if (channels == 0 || (container != 8 && container != 16 && container != 32) || validBits == 0 ||
        validBits > container)
        return 0;
    C_WavDataBuffer& buffer = *data->GetBuffer();
    const uint32_t frameBytes = info.GetBlockAlign();
    const uint32_t count = std::min(data->GetDataSize(), buffer.Capacity()) / frameBytes;
    const uint8_t* frames = data->GetSampleBuffer();
    if (count > 0 && !frames) return 0;

    std::vector<int32_t> mono(count);
    for (uint32_t i = 0; i < count; ++i) {
        int64_t sum = 0;
        for (uint16_t ch = 0; ch < channels; ++ch) sum += ScaledSample(buffer, i, ch, validBits);
        mono[i] = static_cast<int32_t>(sum / channels);
    }
    DetectPeriods(mono, callback);

    C_PitchShiftPCMGenerator generator(frames, frameBytes, count, parameters_.factor);
    if (!GeneratePeriods(generator, count, 0)) return 0;
    const std::vector<uint8_t>& output = generator.GetOutput();
    if (!generator.Ok() || output.size() > 0xFFFFFFFFull - 64) return 0;

    // The result replaces the samples; a caller's attached buffer is let go
    // (never written), the sound keeps a copy of its own.
    std::vector<uint8_t> result(output);
    if (buffer.IsExternal()) data->ReleaseBuffer();
    if (!result.empty()) {
        if (!data->SetSampleData(result.data(), static_cast<uint32_t>(result.size()))) return 0;
    } else {
        data->AllocBuffer(0);
    }

    // Markers follow the samples they stand at.
    auto moveSegments = [&generator](C_SilenceSegmentList& list) {
        for (C_SilenceSegment* s : list) {
            const uint32_t start = generator.MapPosition(s->GetStart());
            s->Set(start, std::max(start, generator.MapPosition(s->GetEnd())));
        }
    };
    if (auto* sound = dynamic_cast<C_WavData*>(data)) moveSegments(sound->SilenceSegments());
    if (C_SilenceSegmentList* detected = data->GetDetectedSilence()) moveSegments(*detected);
    if (C_ActionEventMgr* events = data->GetActionEventMgr()) {
        for (C_ActionEvent* e : events->Events()) e->SetSamplePos(generator.MapPosition(e->GetSamplePos()));
        for (C_ActionSilenceRegion* r : events->Regions()) {
            const uint32_t start = generator.MapPosition(r->GetStart());
            const uint32_t end = std::max(start, generator.MapPosition(r->GetEnd()));
            r->SetStart(start);
            r->SetEnd(end);
        }
    }
    return 1;
}

}  // namespace cz
