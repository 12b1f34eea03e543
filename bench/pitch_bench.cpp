// The pitch shifter: detection and generation speed on a minute of speech,
// and how closely a shift by semitones at the same length reaches the pitch
// asked for (measured by autocorrelation) on a pulse train and a steady
// vowel.
#include <functional>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "api/chains/PitchChain.h"
#include "dsp/pitch/C_PCMPitchShift.h"
#include "wave/C_WavData.h"

using namespace cz;

namespace {

// Best of rounds, in CPU seconds of this process (the machine is shared).
double Seconds(const std::function<void()>& work, int rounds = 5) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        const double start = bench::ProcessCpuSeconds();
        work();
        best = std::min(best, bench::ProcessCpuSeconds() - start);
    }
    return best;
}

std::unique_ptr<C_WavData> Sound16(const std::vector<int16_t>& x, uint32_t rate) {
    auto sound = std::make_unique<C_WavData>();
    sound->SetFormat(rate, static_cast<uint32_t>(2 * x.size()), 1, 16, 16, 1);
    sound->SetSampleData(reinterpret_cast<const uint8_t*>(x.data()), static_cast<uint32_t>(2 * x.size()));
    return sound;
}

std::vector<int16_t> Samples(C_WavData& sound) {
    std::vector<int16_t> x(sound.SampleCount());
    for (uint32_t i = 0; i < x.size(); ++i) x[i] = static_cast<int16_t>(sound.Sample(i, 0));
    return x;
}

// The fundamental of x[from, from + length) by normalised autocorrelation:
// the shortest lag whose correlation comes within 20 % of the best one,
// refined by a parabola through its neighbours.
double Fundamental(const std::vector<int16_t>& x, size_t from, size_t length, double rate) {
    const int minLag = static_cast<int>(rate / 600), maxLag = static_cast<int>(rate / 50);
    std::vector<double> r(maxLag + 2, 0.0);
    for (int lag = minLag - 1; lag <= maxLag + 1; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = from; i < from + length; ++i) {
            const double a = x[i], b = x[i + lag];
            xy += a * b, xx += a * a, yy += b * b;
        }
        r[lag] = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
    }
    double best = -1;
    for (int lag = minLag; lag <= maxLag; ++lag) best = std::max(best, r[lag]);
    int pick = minLag;
    for (int lag = minLag; lag <= maxLag; ++lag)
        if (r[lag] >= 0.8 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            pick = lag;
            break;
        }
    const double a = r[pick - 1], b = r[pick], c = r[pick + 1];
    const double denominator = a - 2 * b + c;
    const double offset = denominator != 0 ? 0.5 * (a - c) / denominator : 0.0;
    return rate / (pick + offset);
}

std::vector<int16_t> PulseTrain(size_t n, double rate, double f0) {
    std::vector<int16_t> x(n);
    const double period = rate / f0;
    for (size_t i = 0; i < n; ++i) {
        const double k = std::fmod(static_cast<double>(i), period);
        x[i] = static_cast<int16_t>(std::lround(12000.0 * std::exp(-k / 6.0) * std::cos(0.9 * k)));
    }
    return x;
}

// Harmonics of f0 shaped by two formants (700 and 1220 Hz, an open vowel).
std::vector<int16_t> Vowel(size_t n, double rate, double f0) {
    std::vector<int16_t> x(n);
    std::vector<double> amplitude;
    for (int h = 1; h * f0 < rate / 2; ++h) {
        const double f = h * f0;
        auto peak = [f](double centre, double width) { return 1.0 / (1.0 + std::pow((f - centre) / width, 2)); };
        amplitude.push_back(peak(700, 130) + 0.6 * peak(1220, 150) + 0.1 / h);
    }
    double top = 0;
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i) {
        for (size_t h = 0; h < amplitude.size(); ++h)
            v[i] += amplitude[h] * std::sin(2 * M_PI * f0 * (h + 1) * static_cast<double>(i) / rate + 0.3 * h);
        top = std::max(top, std::abs(v[i]));
    }
    for (size_t i = 0; i < n; ++i) x[i] = static_cast<int16_t>(std::lround(v[i] / top * 14000.0));
    return x;
}

}  // namespace

int main() {
    std::printf("processor: %s\n\n", bench::CpuModel().c_str());

    // A minute of speech: the example recording over and over.
    const std::vector<int16_t> hello = bench::ReadMonoWav16(CZ_SOURCE_DIR "/examples/hello.wav");
    if (hello.empty()) {
        std::printf("examples/hello.wav not readable\n");
        return 1;
    }
    const uint32_t rate = 16000, count = 60 * rate;
    std::vector<int32_t> speech(count);
    for (uint32_t i = 0; i < count; ++i) speech[i] = hello[i % hello.size()];
    C_PCMPitchShift shifter;
    const double detect = Seconds([&] { shifter.DetectPeriods(speech, nullptr); });
    std::printf("speech, 60 s at 16 kHz (examples/hello.wav repeated), CPU time: %d periods\n",
                shifter.Periods().GetCount());
    std::printf("  detection:               %9.5f s  %12.4g samples/s\n", detect, count / detect);
    std::vector<int16_t> pcm(speech.begin(), speech.end());
    for (double factor : {0.5, 2.0}) {
        uint32_t out = 0;
        const double generate = Seconds([&] {
            C_PitchShiftPCMGenerator generator(reinterpret_cast<const uint8_t*>(pcm.data()), 2, count, factor);
            shifter.GeneratePeriods(generator, count, 0);
            out = static_cast<uint32_t>(generator.GetOutput().size() / 2);
        });
        std::printf("  generation, factor %.1f:  %9.5f s  %12.4g samples/s (out %u samples, %.3f x)\n", factor,
                    generate, count / generate, out, static_cast<double>(out) / count);
    }
    const double counting = Seconds([&] {
        for (int v = 0; v < C_PitchShiftPeriod::kVariantCount; ++v) {
            C_PitchShiftPCMGenerator counter(nullptr, 0, count, C_PCMPitchShift::kVariantFactors[v]);
            shifter.GeneratePeriods(counter, count, v);
        }
    });
    std::printf("  ten emit-count passes:   %9.5f s  %12.4g samples/s\n\n", counting, count / counting);

    // Shifts at the same length.
    std::printf("%-22s %6s %10s %10s %9s %8s %12s\n", "signal", "shift", "f0 before", "f0 after", "asked", "error %",
                "length diff");
    struct Signal {
        const char* name;
        std::vector<int16_t> samples;
    };
    const Signal signals[] = {
        {"pulse train 125 Hz", PulseTrain(2 * rate, rate, 125.0)},
        {"vowel /a/ 110 Hz", Vowel(2 * rate, rate, 110.0)},
    };
    for (const Signal& s : signals) {
        const double before = Fundamental(s.samples, rate / 2, rate / 2, rate);
        for (double semitones : {-7.0, -5.0, -3.0, -1.0, 1.0, 3.0, 5.0, 7.0, 12.0}) {
            auto sound = Sound16(s.samples, rate);
            std::string why;
            if (!api::ShiftPitch(*sound, api::SemitoneFactor(semitones), true, nullptr, nullptr, &why)) {
                std::printf("%-22s %+6.0f failed: %s\n", s.name, semitones, why.c_str());
                continue;
            }
            const std::vector<int16_t> y = Samples(*sound);
            const double after = Fundamental(y, rate / 2, rate / 2, rate);
            const double asked = api::SemitoneFactor(semitones);
            const double error = (after / before / asked - 1.0) * 100.0;
            std::printf("%-22s %+6.0f %10.2f %10.2f %9.4f %+8.2f %+7d (%.1f periods)\n", s.name, semitones, before,
                        after, asked, error, static_cast<int>(y.size()) - static_cast<int>(s.samples.size()),
                        (static_cast<double>(y.size()) - s.samples.size()) * before / rate);
        }
    }
    return 0;
}
