#include "dsp/pitch/C_PCMPitchShift.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
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

bool C_PCMPitchShift::IsQuiet(uint32_t a, uint32_t n) const {
    return n >= kQuietLength && (magnitude_[a + n] - magnitude_[a]) / n < kQuietMean;
}

uint32_t C_PCMPitchShift::LocalMinimum(uint32_t u, uint32_t p) const {
    const uint64_t maximum = static_cast<uint64_t>(parameters_.maximumPeriod);
    const uint64_t step = static_cast<uint64_t>(parameters_.periodStep);
    double here = DifferencePercentage(u, u + p, p);
    // The first lag under the threshold lies short of the period on a
    // smooth wave: the difference keeps falling toward the period.
    while (uint64_t{p} + step < maximum) {
        const uint32_t next = static_cast<uint32_t>(p + step);
        const double there = DifferencePercentage(u, u + next, next);
        if (!(there < here)) break;
        p = next;
        here = there;
    }
    return p;
}

double C_PCMPitchShift::SubSampleOffset(uint32_t u, uint32_t p) const {
    if (p < 2 || IsQuiet(u, p)) return 0.0;
    // Sums of squared differences over the same p samples at the lags
    // p - 1, p and p + 1: near the period they follow a parabola, whose
    // lowest point is the period to a fraction of a sample. Integer sums
    // (below 2^53 for periods up to 65535 samples of 16-bit scale) give the
    // same doubles everywhere.
    uint64_t s[3] = {0, 0, 0};
    const int32_t* x = samples_.data() + u;
    for (uint32_t i = 0; i < p; ++i) {
        const int64_t v = x[i];
        for (int k = 0; k < 3; ++k) {
            const int64_t d = v - int64_t{x[i + p - 1 + static_cast<uint32_t>(k)]};
            s[k] += static_cast<uint64_t>(d * d);
        }
    }
    if (s[1] == 0) return 0.0;
    const double before = static_cast<double>(s[0]), here = static_cast<double>(s[1]),
                 after = static_cast<double>(s[2]);
    const double curvature = before - 2.0 * here + after;
    if (!(curvature > 0.0)) return 0.0;
    const double offset = 0.5 * (before - after) / curvature;
    return std::clamp(offset, -0.5, 0.5);
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
    // How far the period boundaries laid so far run ahead of the measured
    // (fractional) periods: the lengths alternate between the whole numbers
    // around a period of, say, 61.5 samples so that the boundaries stay on
    // the same point of the wave.
    double lead = 0.0;
    while (u < limit) {
        if (callback) callback->OnProgress(static_cast<int32_t>(static_cast<double>(u) * 100.0 / count));
        bool found = false;
        for (uint64_t p = minimum; p < maximum; p += step) {
            // u + 2p stays below count: u < count - 2 x maximum; so does
            // u + 2p + 1 for the refinement, with p below the maximum.
            const uint32_t at = static_cast<uint32_t>(u);
            if (!Matches(at, static_cast<uint32_t>(u + p), static_cast<uint32_t>(p))) continue;
            const uint32_t lag = LocalMinimum(at, static_cast<uint32_t>(p));
            const double exact = static_cast<double>(lag) + SubSampleOffset(at, lag);
            const double wanted = std::floor(exact - lead + 0.5);
            const uint32_t length = static_cast<uint32_t>(
                std::clamp(wanted, static_cast<double>(lag) - 1.0, static_cast<double>(lag) + 1.0));
            lead += static_cast<double>(length) - exact;
            periods_.Add(std::make_unique<C_PitchShiftPeriod>(at, static_cast<uint32_t>(u + length - 1)));
            u += length;
            found = true;
            break;
        }
        if (!found) {
            u += skip;
            lead = 0.0;
        }
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

namespace {
// Progress of one pass of those planned, as part of one run that never
// goes back (a further pass to catch up reports within the last part).
class C_PassProgress : public I_ProgressCallback {
public:
    C_PassProgress(I_ProgressCallback* outer, int pass, int passes, int32_t* reported)
        : outer_(outer), pass_(pass), passes_(passes), reported_(reported) {}
    void OnBegin() override {}
    void OnProgress(int32_t percent) override {
        const int32_t overall = std::min<int32_t>(100, (pass_ * 100 + percent) / passes_);
        if (!outer_ || overall <= *reported_) return;
        *reported_ = overall;
        outer_->OnProgress(overall);
    }
    void OnEnd() override {}

private:
    I_ProgressCallback* outer_;
    int pass_;
    int passes_;
    int32_t* reported_;
};

// Largest factor one pass is asked for (and its inverse the smallest): a
// period goes out at most three times, and at most three in a row are
// dropped.
constexpr double kPassFactor = 3.0;
// Passes after which a length still out of reach is given up.
constexpr int kMaxPasses = 6;
}  // namespace

bool C_PCMPitchShift::RunPass(std::vector<uint8_t>& frames, uint32_t frameBytes, std::vector<int32_t>& mono,
                              double want, std::vector<uint32_t>& marks, I_ProgressCallback* callback) {
    const uint32_t count = static_cast<uint32_t>(mono.size());
    DetectPeriods(mono, callback);
    if (periods_.GetCount() == 0)
        return Fail(count < 2 * static_cast<uint64_t>(parameters_.maximumPeriod)
                        ? "the sound is too short to find pitch periods in"
                        : "no pitch periods found (the sound is not voiced)");
    const C_PitchShiftPeriod& last = *periods_.ItemAt(periods_.GetCount() - 1);
    // The stretch after the last period goes out once: the periods carry
    // the rest of the wanted length.
    const double tail = static_cast<double>(count - 1 - last.End());
    const double paced = want - tail;
    double factor = paced / (static_cast<double>(last.End()) + 1.0);
    if (!(factor > 0.0)) factor = want / static_cast<double>(count);

    // The frames and the detection's view of them go through the same
    // decisions.
    C_PitchShiftPCMGenerator generator(frames.data(), frameBytes, count, factor);
    C_PitchShiftPCMGenerator view(reinterpret_cast<const uint8_t*>(mono.data()), sizeof(int32_t), count, factor);
    uint64_t pos = 0;
    for (C_PitchShiftPeriod* period : periods_) {
        if (period->Start() > pos) {
            generator.CopyThrough(period->Start() - 1);
            view.CopyThrough(period->Start() - 1);
        }
        period->SetEmitCount(0, generator.EmitPeriod(period->End()));
        view.EmitPeriod(period->End());
        pos = uint64_t{period->End()} + 1;
    }
    // The rule of emission leaves the output up to two periods behind (one
    // when shrinking): the last period goes out again while that brings
    // the end closer to the wanted length.
    for (uint32_t k = 0; k < C_PitchShiftPCMGenerator::kMaxEmissions; ++k) {
        const double behind = paced - static_cast<double>(generator.OutputCount());
        if (!(2.0 * behind >= static_cast<double>(last.Length()))) break;
        if (!generator.AppendAgain(last.Start(), last.End()) || !view.AppendAgain(last.Start(), last.End())) break;
    }
    const std::vector<uint8_t>& output = generator.GetOutput();
    const std::vector<uint8_t>& viewed = view.GetOutput();
    if (!generator.Ok() || !view.Ok() || output.size() > 0xFFFFFFFFull - 64)
        return Fail("the regenerated sound would be too long");

    for (uint32_t& at : marks) at = generator.MapPosition(at);
    frames.assign(output.begin(), output.end());
    mono.resize(viewed.size() / sizeof(int32_t));
    if (!mono.empty()) std::memcpy(mono.data(), viewed.data(), mono.size() * sizeof(int32_t));
    return true;
}

int32_t C_PCMPitchShift::ProcessWavData(I_WavData* data, I_ProgressCallback* callback) {
    failure_ = "";
    if (!data || !data->GetWavInfo() || !data->GetBuffer()) return Fail("the sound has no samples"), 0;
    I_WavInfo& info = *data->GetWavInfo();
    const uint16_t channels = info.GetChannels();
    const uint16_t container = info.GetContainerBits();
    const uint16_t validBits = info.GetValidBits();
    if (channels == 0 || (container != 8 && container != 16 && container != 32) || validBits == 0 ||
        validBits > container)
        return Fail("cannot read samples of this width"), 0;
    C_WavDataBuffer& buffer = *data->GetBuffer();
    const uint32_t frameBytes = info.GetBlockAlign();
    const uint32_t count = std::min(data->GetDataSize(), buffer.Capacity()) / frameBytes;
    const uint8_t* source = data->GetSampleBuffer();
    if (count > 0 && !source) return Fail("the sound has no samples"), 0;

    std::vector<int32_t> mono(count);
    for (uint32_t i = 0; i < count; ++i) {
        int64_t sum = 0;
        for (uint16_t ch = 0; ch < channels; ++ch) sum += ScaledSample(buffer, i, ch, validBits);
        mono[i] = static_cast<int32_t>(sum / channels);
    }

    const double factor = parameters_.factor;
    const double target = std::floor(static_cast<double>(count) * factor + 0.5);
    if (target * frameBytes > 4294967295.0 - 64) return Fail("the regenerated sound would be too long"), 0;
    // Factors beyond what one pass reaches take two of the square root.
    const int planned = factor > kPassFactor || factor < 1.0 / kPassFactor ? 2 : 1;
    std::vector<uint8_t> frames(source, source + size_t{count} * frameBytes);
    // Markers follow the samples they stand at: their positions go through
    // every pass and are set when all went well.
    C_WavData* sound = dynamic_cast<C_WavData*>(data);
    C_SilenceSegmentList* detected = data->GetDetectedSilence();
    C_ActionEventMgr* events = data->GetActionEventMgr();
    std::vector<uint32_t> marks;
    auto gatherSegments = [&marks](C_SilenceSegmentList& list) {
        for (const C_SilenceSegment* s : list) marks.push_back(s->GetStart()), marks.push_back(s->GetEnd());
    };
    if (sound) gatherSegments(sound->SilenceSegments());
    if (detected) gatherSegments(*detected);
    if (events) {
        for (const C_ActionEvent* e : events->Events()) marks.push_back(e->GetSamplePos());
        for (const C_ActionSilenceRegion* r : events->Regions())
            marks.push_back(r->GetStart()), marks.push_back(r->GetEnd());
    }
    if (callback) callback->OnBegin();
    int32_t reported = -1;
    double tolerance = 0.0;
    double gap = std::fabs(target - static_cast<double>(count));
    for (int pass = 0; pass < kMaxPasses && gap > tolerance; ++pass) {
        const double have = static_cast<double>(mono.size());
        double step = target / have;
        if (step > kPassFactor || step < 1.0 / kPassFactor) step = std::sqrt(step);
        step = std::clamp(step, 1.0 / kPassFactor, kPassFactor);
        const double want = step == target / have ? target : std::floor(have * step + 0.5);
        C_PassProgress progress(callback, std::min(pass, planned - 1), planned, &reported);
        if (!RunPass(frames, frameBytes, mono, want, marks, callback ? &progress : nullptr)) {
            if (callback) callback->OnEnd();
            return 0;
        }
        // Within one period of the length is what whole periods can do.
        uint32_t longest = 0;
        for (const C_PitchShiftPeriod* p : periods_) longest = std::max(longest, p->Length());
        tolerance = longest;
        // Stretches without periods go out once in every pass: where they
        // make up most of the sound, a further pass gains too little.
        const double left = std::fabs(target - static_cast<double>(mono.size()));
        if (pass + 1 >= planned && left > 0.9 * gap) {
            gap = left;
            break;
        }
        gap = left;
    }
    if (callback) {
        callback->OnProgress(100);
        callback->OnEnd();
    }
    if (gap > tolerance) {
        failure_ = "too little of the sound has pitch periods to reach this length (" + std::to_string(mono.size()) +
                   " of " + std::to_string(static_cast<uint64_t>(target)) +
                   " samples; the parts without periods keep their length)";
        return 0;
    }

    // The result replaces the samples; a caller's attached buffer is let go
    // (never written), the sound keeps a copy of its own.
    if (buffer.IsExternal()) data->ReleaseBuffer();
    if (!frames.empty()) {
        if (!data->SetSampleData(frames.data(), static_cast<uint32_t>(frames.size()))) return Fail("out of memory"), 0;
    } else {
        data->AllocBuffer(0);
    }
    size_t next = 0;
    auto moveSegments = [&marks, &next](C_SilenceSegmentList& list) {
        for (C_SilenceSegment* s : list) {
            const uint32_t start = marks[next++];
            s->Set(start, std::max(start, marks[next++]));
        }
    };
    if (sound) moveSegments(sound->SilenceSegments());
    if (detected) moveSegments(*detected);
    if (events) {
        for (C_ActionEvent* e : events->Events()) e->SetSamplePos(marks[next++]);
        for (C_ActionSilenceRegion* r : events->Regions()) {
            const uint32_t start = marks[next++];
            r->SetStart(start);
            r->SetEnd(std::max(start, marks[next++]));
        }
    }
    return 1;
}

}  // namespace cz
