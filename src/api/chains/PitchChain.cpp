#include "api/chains/PitchChain.h"

#include <cmath>
#include <memory>
#include <vector>

#include "dsp/pitch/C_PCMPitchShift.h"
#include "dsp/resample/C_PCMResample.h"
#include "wave/C_WavData.h"

namespace cz::api {

double SemitoneFactor(double semitones) { return std::pow(2.0, semitones / 12.0); }

namespace {
bool Refuse(std::string* why, const char* text) {
    if (why) *why = text;
    return false;
}
}  // namespace

bool ShiftPitch(C_WavData& sound, double factor, bool keepDuration, I_ProgressCallback* detection,
                I_ProgressCallback* resampling, std::string* why) {
    if (!(factor >= I_PCMPitchShift::kMinFactor && factor <= I_PCMPitchShift::kMaxFactor))
        return Refuse(why, "the factor lies outside 0.25 to 4");
    const uint32_t rate = sound.GetWavInfo()->GetSampleRate();
    const uint32_t length = sound.SampleCount();
    if (length == 0) return Refuse(why, "the sound has no samples");
    // Work on a copy: the sound changes only when everything succeeded.
    std::unique_ptr<C_WavData> work(static_cast<C_WavData*>(sound.Clone()));
    if (!work) return Refuse(why, "out of memory");
    C_ActionEventMgr& events = *work->GetActionEventMgr();
    for (const C_ActionEvent* e : sound.GetActionEventMgr()->Events())
        events.AddEventAtSample(e->GetType(), e->GetSamplePos(), e->GetName(), e->GetParam());
    for (const C_ActionSilenceRegion* r : sound.GetActionEventMgr()->Regions())
        events.AddSilenceRegion(r->GetStart(), r->GetEnd());
    for (const C_SilenceSegment* s : sound.SilenceSegments())
        work->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(s->GetStart(), s->GetEnd()));
    const uint16_t container = work->GetWavInfo()->GetContainerBits();
    if (container != 8 && container != 16 && container != 32 && !work->ConvertFormatInPlace(16, 16, 1, nullptr))
        return Refuse(why, "cannot read samples of this width");

    C_PCMPitchShift shifter;
    S_PitchShiftParameters parameters = shifter.Parameters();
    parameters.factor = factor;
    if (!shifter.SetParameters(parameters)) return Refuse(why, "the factor lies outside 0.25 to 4");
    if (!shifter.ProcessWavData(work.get(), detection)) return Refuse(why, shifter.FailureReason());

    if (keepDuration) {
        // The stretched sound played at rate x factor lasts as long as the
        // source; resampled back to the source rate it keeps that length.
        const double stretched = std::round(static_cast<double>(rate) * factor);
        if (!(stretched >= C_PCMResample::kMinRate && stretched <= C_PCMResample::kMaxRate))
            return Refuse(why, "the sample rate cannot be resampled by this factor");
        // The regeneration keeps pace with the factor only to within two
        // periods (and copies the unsearched end once): its end is cut, or
        // padded with silence, to the source length times the factor, so
        // that the result lasts as long as the source to a sample or two.
        // (The rate is whole hertz: the length follows the rate used.)
        const double wanted = std::round(static_cast<double>(length) * stretched / static_cast<double>(rate));
        const uint32_t frameBytes = work->GetWavInfo()->GetBlockAlign();
        if (wanted < 1 || wanted * frameBytes > 4294967280.0) return Refuse(why, "the sound is too long");
        const uint32_t target = static_cast<uint32_t>(wanted);
        const uint32_t made = work->SampleCount();
        if (made != target) {
            std::vector<uint8_t> bytes(work->GetSampleBuffer(), work->GetSampleBuffer() + size_t{made} * frameBytes);
            bytes.resize(size_t{target} * frameBytes, 0);
            if (!work->SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size())))
                return Refuse(why, "out of memory");
            const uint16_t channels = work->GetWavInfo()->GetChannels();
            for (uint32_t i = made; i < target; ++i)
                for (uint16_t ch = 0; ch < channels; ++ch) work->SetSampleValue(i, ch, 0);
        }
        const uint32_t before = work->SampleCount();
        work->GetWavInfo()->SetSampleRate(static_cast<uint32_t>(stretched));
        auto resampled = std::make_unique<C_WavData>();
        C_PCMResample resampler;
        if (!resampler.ResampleWavData(kResampleSinc2, work.get(), resampled.get(), rate, kResampleSpare, resampling))
            return Refuse(why, "the resampler failed");
        const uint32_t after = resampled->SampleCount();
        work->TakeSamplesFrom(*resampled);
        work->GetWavInfo()->SetSampleRate(rate);
        // Markers keep their place in the sound.
        auto move = [before, after](uint32_t at) {
            return before == 0 ? 0u : static_cast<uint32_t>(static_cast<uint64_t>(at) * after / before);
        };
        for (C_ActionEvent* e : events.Events()) e->SetSamplePos(move(e->GetSamplePos()));
        for (C_ActionSilenceRegion* r : events.Regions()) {
            r->SetStart(move(r->GetStart()));
            r->SetEnd(move(r->GetEnd()));
        }
        for (C_SilenceSegment* s : work->SilenceSegments()) s->Set(move(s->GetStart()), move(s->GetEnd()));
        events.SetSampleRate(rate);
    }
    sound.TakeSamplesFrom(*work);
    // The markers of the work copy are the ones that moved with the samples.
    sound.GetActionEventMgr()->RemoveAllEvents();
    sound.GetActionEventMgr()->RemoveAllSilenceRegions();
    for (const C_ActionEvent* e : events.Events())
        sound.GetActionEventMgr()->AddEventAtSample(e->GetType(), e->GetSamplePos(), e->GetName(), e->GetParam());
    for (const C_ActionSilenceRegion* r : events.Regions())
        sound.GetActionEventMgr()->AddSilenceRegion(r->GetStart(), r->GetEnd());
    sound.SilenceSegments().Clear();
    for (const C_SilenceSegment* s : work->SilenceSegments())
        sound.SilenceSegments().Add(std::make_unique<C_SilenceSegment>(s->GetStart(), s->GetEnd()));
    return true;
}

}  // namespace cz::api
