#include "dsp/resample/C_PCMResample.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "dsp/resample/CleanResample.h"
#include "dsp/resample/ResampleKernels.h"
#include "platform/Platform.h"
#include "wave/C_WavData.h"
#include "wave/C_WavFile.h"
#include "wave/I_WavData.h"
#include "wave/I_WavFile.h"
#include "wave/SoundFileOpener.h"

namespace cz {

namespace {

// The progress thread reports at most this often...
constexpr uint32_t kProgressIntervalMs = 200;
// ...and notices the end of the run within this time.
constexpr uint32_t kStopPollMs = 10;

}  // namespace

// One run's progress reporting: OnBegin, the polling thread, and at the end
// the last percent and OnEnd (also when the run fails half way).
class C_PCMResample::ProgressRun {
public:
    explicit ProgressRun(C_PCMResample& owner) : owner_(owner), callback_(owner.callback_) {
        if (callback_) callback_->OnBegin();
        owner_.progress_.store(0.0, std::memory_order_relaxed);
        owner_.stop_.store(false);
        // Without a callback there is nobody to report to. A thread that
        // cannot start costs the reports, not the run.
        if (callback_) {
            I_ProgressCallback* callback = callback_;
            try {
                thread_ = std::thread([this, callback] { owner_.ProgressLoop(callback); });
            } catch (...) {}
        }
    }
    ~ProgressRun() {
        owner_.stop_.store(true);
        if (thread_.joinable()) thread_.join();
        if (callback_) callback_->OnEnd();
    }
    ProgressRun(const ProgressRun&) = delete;
    ProgressRun& operator=(const ProgressRun&) = delete;

    void Set(double percent) { owner_.progress_.store(percent, std::memory_order_relaxed); }

private:
    C_PCMResample& owner_;
    I_ProgressCallback* callback_;
    // std::thread until platform::Thread can be constructed outside its own
    // source file (its defaulted constructor needs the hidden Impl).
    std::thread thread_;
};

C_PCMResample::Pointer C_PCMResample::Create() {
    Pointer object(new C_PCMResample);
    object->heapOwned_ = true;
    return object;
}

C_PCMResample::~C_PCMResample() = default;

void C_PCMResample::Release() {
    // COM-style self-destruction of objects from Create; stack objects stay.
    if (heapOwned_) delete this;
}

uint32_t C_PCMResample::DestinationCount(uint32_t sourceRate, uint32_t targetRate, uint32_t sourceCount) {
    if (!ValidRatePair(sourceRate, targetRate)) return 0;
    const double count = std::trunc(
        static_cast<double>(targetRate) / static_cast<double>(sourceRate) * static_cast<double>(sourceCount) + 0.5);
    if (!(count >= 0.0) || count > 4294967295.0) return 0;
    return static_cast<uint32_t>(count);
}

uint32_t C_PCMResample::ResampleSamples(int32_t mode, uint32_t sourceRate, uint32_t targetRate, uint32_t sourceCount,
                                        uint32_t destinationCount, const int16_t* source, int16_t* destination,
                                        double /*spare*/, I_ProgressCallback* callback) {
    // The callback serves this run only; a later run without one reports
    // nowhere rather than to an object that may be gone.
    callback_ = callback;
    if (!ValidRatePair(sourceRate, targetRate)) return 0;
    if (sourceCount == 0 || destinationCount == 0 || source == nullptr || destination == nullptr) return 0;
    ratio_ = static_cast<double>(targetRate) / static_cast<double>(sourceRate);
    try {
        if ((mode == 1 || mode == 2) && clean_)
            return RunClean(sourceRate, targetRate, sourceCount, destinationCount, source, destination);
        if (mode == 1 || mode == 2) return RunSinc(sourceCount, destinationCount, source, destination);
        return RunLinear(sourceCount, destinationCount, source, destination);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

uint32_t C_PCMResample::RunSinc(uint32_t sourceCount, uint32_t destinationCount, const int16_t* source,
                                int16_t* destination) {
    ProgressRun run(*this);
    const std::vector<double> table = resample::BuildSincTable();

    // Output sample j sits at source position j x sourceCount / destinationCount.
    const int16_t* input = source;
    size_t inputCount = sourceCount;
    double offset = 0.0;
    double base = 0.0;
    double share = 100.0;
    std::unique_ptr<int16_t[]> filtered;
    if (ratio_ < 1.0) {
        const std::vector<double> h = resample::DesignPreFilter(ratio_);
        // The low-pass delays the sound by half its order (N / 2, N odd: a
        // whole and a half sample): its output is read from that far on, and
        // runs on past the source's end by its order, so that the last source
        // samples are heard through the whole filter, as the first are.
        const size_t order = h.size() - 1;
        inputCount = static_cast<size_t>(sourceCount) + order;
        // Every sample is written by the filter: no need to clear it first.
        // The source is read in place, zeros past its end.
        filtered = std::make_unique_for_overwrite<int16_t[]>(inputCount);
        const double perInput = 50.0 / static_cast<double>(inputCount);
        resample::ApplyPreFilter(
            h, source, inputCount, filtered.get(), [&](size_t done) { run.Set(static_cast<double>(done) * perInput); },
            sourceCount);
        input = filtered.get();
        offset = static_cast<double>(order) / 2.0;
        base = 50.0;
        share = 50.0;
    }
    const double step = static_cast<double>(sourceCount) / static_cast<double>(destinationCount);
    const double perOutput = share / destinationCount;
    resample::ApplySincInterpolation(
        table, input, inputCount, step, destination, destinationCount,
        [&](size_t done) { run.Set(base + static_cast<double>(done) * perOutput); }, offset);
    run.Set(100.0);
    return destinationCount;
}

uint32_t C_PCMResample::RunClean(uint32_t sourceRate, uint32_t targetRate, uint32_t sourceCount,
                                 uint32_t destinationCount, const int16_t* source, int16_t* destination) {
    ProgressRun run(*this);
    if (!cleanDesign_ || cleanFrom_ != sourceRate || cleanTo_ != targetRate) {
        cleanDesign_ = std::make_shared<const resample::CleanResampler>(sourceRate, targetRate);
        cleanFrom_ = sourceRate;
        cleanTo_ = targetRate;
    }
    const double perOutput = 100.0 / destinationCount;
    cleanDesign_->Run(source, sourceCount, destination, destinationCount,
                  [&](size_t done) { run.Set(static_cast<double>(done) * perOutput); });
    run.Set(100.0);
    return destinationCount;
}

uint32_t C_PCMResample::RunLinear(uint32_t sourceCount, uint32_t destinationCount, const int16_t* source,
                                  int16_t* destination) {
    ProgressRun run(*this);
    const double perOutput = 100.0 / destinationCount;
    const size_t written =
        resample::ApplyLinearInterpolation(ratio_, source, sourceCount, destination, destinationCount,
                                           [&](size_t done) { run.Set(static_cast<double>(done) * perOutput); });
    run.Set(100.0);
    return static_cast<uint32_t>(written);
}

void C_PCMResample::ProgressLoop(I_ProgressCallback* callback) {
    int32_t last = -1;
    for (;;) {
        const bool stopping = stop_.load();
        const auto percent = static_cast<int32_t>(progress_.load(std::memory_order_relaxed));
        if (percent > last) {
            callback->OnProgress(percent);
            last = percent;
        }
        if (stopping) return;
        for (uint32_t waited = 0; waited < kProgressIntervalMs && !stop_.load(); waited += kStopPollMs) {
            platform::SleepMs(kStopPollMs);
        }
    }
}

void C_PCMResample::OnBegin() {
    if (userCallback_ && stage_ <= 1) userCallback_->OnBegin();
}

void C_PCMResample::OnProgress(int32_t percent) {
    if (!userCallback_) return;
    if (stage_ == 0 || stageCount_ <= 0) {
        userCallback_->OnProgress(percent);
    } else {
        userCallback_->OnProgress((percent + 100 * (stage_ - 1)) / stageCount_);
    }
}

void C_PCMResample::OnEnd() {
    if (userCallback_ && (stage_ == 0 || stage_ >= stageCount_)) userCallback_->OnEnd();
}

// ---- sounds and files --------------------------------------------------------

namespace {

// A sample position of the source at the target rate.
uint32_t ScalePosition(uint32_t position, double ratio) {
    const double scaled = std::trunc(static_cast<double>(position) * ratio);
    return scaled >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(scaled);
}

// Carries the markers of `source` over to `destination`: action events keep
// their time, silence regions, cue points and labelled-text lengths are moved
// to the same times at the new rate; labels are copied.
void CopyMarkers(I_WavData& source, I_WavData& destination, uint32_t sourceRate, uint32_t targetRate) {
    const double ratio = static_cast<double>(targetRate) / static_cast<double>(sourceRate);
    C_ActionEventMgr* from = source.GetActionEventMgr();
    C_ActionEventMgr* to = destination.GetActionEventMgr();
    if (from && to) {
        from->SetSampleRate(sourceRate);
        to->SetSampleRate(targetRate);
        to->RemoveAllEvents();
        to->RemoveAllSilenceRegions();
        to->AddEvents(from->GetEventList());
        I_CUList<I_ActionSilenceRegion>* regions = from->GetSilenceRegionList();
        for (int32_t i = 0; regions && i < regions->GetCount(); ++i) {
            const I_ActionSilenceRegion* region = regions->GetAt(i);
            if (region)
                to->AddSilenceRegion(ScalePosition(region->GetStart(), ratio), ScalePosition(region->GetEnd(), ratio));
        }
    }
    void* fromCues = nullptr;
    void* toCues = nullptr;
    void* fromList = nullptr;
    void* toList = nullptr;
    if (!source.GetInfo(kInfoCue, &fromCues) || !destination.GetInfo(kInfoCue, &toCues) ||
        !source.GetInfo(kInfoList, &fromList) || !destination.GetInfo(kInfoList, &toList)) {
        return;
    }
    auto* cues = static_cast<I_WavDataCueInfo*>(fromCues);
    auto* newCues = static_cast<I_WavDataCueInfo*>(toCues);
    auto* labels = static_cast<I_WavDataListInfo*>(fromList);
    auto* newLabels = static_cast<I_WavDataListInfo*>(toList);
    newCues->Clear();
    newLabels->ClearLabels();
    newLabels->ClearTexts();
    for (int32_t i = 0; i < cues->GetCount(); ++i) {
        const I_WavDataCuePoint* point = cues->GetAt(i);
        if (!point) continue;
        newCues->AddCuePoint(point->GetCueId(), ScalePosition(point->GetPosition(), ratio), point->GetChunkIdText(),
                             point->GetChunkStart(), point->GetBlockStart(),
                             ScalePosition(point->GetSampleOffset(), ratio));
        const uint32_t length = labels->GetTextLength(point->GetCueId());
        if (length) newLabels->AddText(point->GetCueId(), ScalePosition(length, ratio));
    }
    for (int32_t i = 0; i < labels->GetLabelCount(); ++i) {
        uint32_t cueId = 0;
        const char* text = labels->GetLabelAt(i, &cueId);
        if (text) newLabels->SetLabel(cueId, text);
    }
}

}  // namespace

bool C_PCMResample::CheckRates(uint32_t sourceRate, uint32_t targetRate) {
    if (!AcceptSoundRate(sourceRate, "The source sound") || !AcceptSoundRate(targetRate, "The target")) return false;
    if (!ValidRatePair(sourceRate, targetRate)) {
        platform::ShowMessage("Sample Rate", "Resampling from " + std::to_string(sourceRate) + " Hz to " +
                                                 std::to_string(targetRate) + " Hz is refused: rates from " +
                                                 std::to_string(kMinRate) + " to " + std::to_string(kMaxRate) +
                                                 " Hz, changed by at most " + std::to_string(kMaxRatio) +
                                                 " times either way, are accepted");
        return false;
    }
    return true;
}

int32_t C_PCMResample::ResampleFile(int32_t mode, const char* source, const char* destination, int32_t formatId,
                                    uint32_t targetRate, double spare, I_ProgressCallback* callback) {
    if (source == nullptr || destination == nullptr || *source == '\0' || *destination == '\0') return 0;
    RefPtr<I_WavFile> input(OpenSoundFile(source));
    if (!input) return 0;
    auto output = std::make_unique<C_WavFile>();
    const int32_t result = ResampleWavFile(mode, input.get(), output.get(), targetRate, spare, callback);
    // A failed run writes nothing: no file of unresampled or missing samples
    // appears under the destination's name, and an existing file there stays.
    if (!result) return 0;
    // The resampled sound is independent of the source, which is let go
    // before the destination is written so that the destination may replace
    // it (resampling a file in place).
    input.reset();
    const int32_t saved = output->SaveAs(static_cast<uint32_t>(formatId), destination);
    return saved ? result : 0;
}

int32_t C_PCMResample::ResampleWavFile(int32_t mode, I_WavFile* source, I_WavFile* destination, uint32_t targetRate,
                                       double spare, I_ProgressCallback* callback) {
    if (source == nullptr || destination == nullptr || source == destination) return 0;
    destination->SetFormat(targetRate, 0, 1, 16, 16, 1);
    I_WavData* input = source->GetWavData();
    I_WavData* output = destination->GetWavData();
    if (input == nullptr || output == nullptr) return 0;
    return ResampleWavData(mode, input, output, targetRate, spare, callback) != 0 ? 1 : 0;
}

uint32_t C_PCMResample::ResampleWavData(int32_t mode, I_WavData* source, I_WavData* destination, uint32_t targetRate,
                                        double spare, I_ProgressCallback* callback) {
    if (source == nullptr || destination == nullptr || source == destination) return 0;
    const I_WavInfo* format = source->GetWavInfo();
    if (format == nullptr) return 0;

    // The rates and the size of the output are settled before anything is
    // converted or allocated: the source's rate comes from a file.
    if (!CheckRates(format->GetSampleRate(), targetRate)) return 0;

    // Work on 16-bit signed samples.
    RefPtr<I_WavData> converted;
    I_WavData* work = source;
    if (format->GetValidBits() != 16 || format->GetContainerBits() != 16 || format->GetSignedFlag() == 0) {
        converted.reset(source->ConvertFormat(16, 16, 1, nullptr));
        if (!converted) return 0;
        work = converted.get();
    }
    const I_WavInfo* info = work->GetWavInfo();
    const uint32_t sourceRate = info->GetSampleRate();
    const uint16_t channels = info->GetChannels();
    if (!ValidRatePair(sourceRate, targetRate) || channels == 0) return 0;
    // Never trust the count beyond the bytes that are there.
    const C_WavDataBuffer* buffer = work->GetBuffer();
    const uint32_t available = std::min(work->GetDataSize(), buffer ? buffer->Capacity() : 0u);
    const uint32_t sourceCount = std::min(info->GetSampleCount(), available / (2u * channels));
    const uint8_t* bytes = work->GetSampleBuffer();
    if (sourceCount == 0 || bytes == nullptr) return 0;
    const uint32_t destinationCount = DestinationCount(sourceRate, targetRate, sourceCount);
    const uint64_t destinationBytes = static_cast<uint64_t>(destinationCount) * channels * 2u;
    if (destinationCount == 0) return 0;
    if (destinationBytes > kMaxOutputBytes) {
        platform::ShowMessage("Sample Rate", "Resampling from " + std::to_string(sourceRate) + " Hz to " +
                                                 std::to_string(targetRate) + " Hz would make " +
                                                 std::to_string(destinationBytes) +
                                                 " bytes of samples, more than a WAV file can hold");
        return 0;
    }

    try {
        std::vector<int16_t> input(sourceCount);
        std::vector<int16_t> output(destinationCount);
        std::vector<uint8_t> result(static_cast<size_t>(destinationBytes));
        destination->SetFormat(targetRate, 0, channels, 16, 16, 1);

        // Every channel in turn; runs over several channels report through
        // this object so that the caller sees one rising percent.
        const bool staged = channels > 1;
        if (staged) {
            userCallback_ = callback;
            stageCount_ = channels;
        }
        uint32_t made = 0;
        for (uint16_t c = 0; c < channels; ++c) {
            for (uint32_t i = 0; i < sourceCount; ++i) {
                const uint8_t* at = bytes + (static_cast<size_t>(i) * channels + c) * 2;
                input[i] = static_cast<int16_t>(static_cast<uint16_t>(at[0] | at[1] << 8));
            }
            if (staged) stage_ = c + 1;
            made = ResampleSamples(mode, sourceRate, targetRate, sourceCount, destinationCount, input.data(),
                                   output.data(), spare,
                                   staged && callback ? static_cast<I_ProgressCallback*>(this) : callback);
            if (made == 0) break;
            for (uint32_t i = 0; i < destinationCount; ++i) {
                uint8_t* at = result.data() + (static_cast<size_t>(i) * channels + c) * 2;
                const auto v = static_cast<uint16_t>(output[i]);
                at[0] = static_cast<uint8_t>(v);
                at[1] = static_cast<uint8_t>(v >> 8);
            }
        }
        stage_ = 0;
        stageCount_ = 0;
        userCallback_ = nullptr;
        if (made == 0) return 0;
        if (!destination->SetSampleData(result.data(), static_cast<uint32_t>(result.size()))) return 0;
        CopyMarkers(*source, *destination, sourceRate, targetRate);
        return made;
    } catch (const std::bad_alloc&) {
        stage_ = 0;
        stageCount_ = 0;
        userCallback_ = nullptr;
        return 0;
    }
}

}  // namespace cz
