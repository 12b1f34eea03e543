// Resampler speed and quality beside sox (`rate -h`), ffmpeg's default
// resampler (`-ar`) and libsamplerate (SRC_SINC_MEDIUM_QUALITY, loaded at run
// time from libsamplerate.so.0), in one run.
//
// Speed: CPU time, best of several runs. Ours and libsamplerate run in this
// process (CLOCK_PROCESS_CPUTIME_ID around the call, sample conversion and
// channel splitting included); sox and ffmpeg run as child processes on WAV
// files in a temporary folder (getrusage(RUSAGE_CHILDREN) user + system time
// of each child, which includes reading and writing the files).
//
// Quality: the level of a 1 kHz tone after each conversion, and how much of a
// 7.5 kHz tone taken from 16 kHz to 8 kHz leaks through (it can only come out
// as an alias, at 500 Hz).
//
// Usage: resample_bench [--quick]
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "../tests/dsp/resample/ReferenceResample.h"
#include "BenchSupport.h"
#include "dsp/resample/C_PCMResample.h"
#include "dsp/resample/ResampleKernels.h"

namespace {

using cz::bench::BestOf;
using cz::bench::HaveProgram;
using cz::bench::ProcessCpuSeconds;
using cz::bench::TimeProgram;

struct Sound {
    uint32_t rate = 0;
    uint16_t channels = 1;
    std::vector<int16_t> samples;  // interleaved
    size_t Frames() const { return channels ? samples.size() / channels : 0; }
};

// ---- small WAV I/O (16-bit PCM only) ----------------------------------------

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

bool WriteWav(const std::string& path, const Sound& s) {
    std::vector<uint8_t> b;
    const uint32_t dataSize = static_cast<uint32_t>(s.samples.size() * 2);
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    Put32(b, 36 + dataSize);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(b, 16);
    Put16(b, 1);
    Put16(b, s.channels);
    Put32(b, s.rate);
    Put32(b, s.rate * s.channels * 2);
    Put16(b, static_cast<uint16_t>(s.channels * 2));
    Put16(b, 16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    Put32(b, dataSize);
    const size_t at = b.size();
    b.resize(at + dataSize);
    std::memcpy(b.data() + at, s.samples.data(), dataSize);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return static_cast<bool>(out);
}

std::optional<Sound> ReadWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
    };
    auto u16 = [&](size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); };
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return std::nullopt;
    Sound s;
    bool haveFormat = false;
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t size = u32(at + 4);
        const size_t body = at + 8;
        if (size > b.size() - body) return std::nullopt;
        if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && size >= 16) {
            s.channels = u16(body + 2);
            s.rate = u32(body + 4);
            haveFormat = u16(body + 14) == 16;
        } else if (std::memcmp(b.data() + at, "data", 4) == 0 && haveFormat) {
            s.samples.resize(size / 2);
            std::memcpy(s.samples.data(), b.data() + body, s.samples.size() * 2);
            return s;
        }
        at = body + size + (size & 1);
    }
    return std::nullopt;
}

// ---- signals ------------------------------------------------------------------

// Music-like material: a few tones that move, plus noise, around -12 dBFS.
Sound Material(uint32_t rate, uint16_t channels, double seconds) {
    Sound s;
    s.rate = rate;
    s.channels = channels;
    const size_t frames = static_cast<size_t>(rate * seconds);
    s.samples.resize(frames * channels);
    std::mt19937 gen(rate * 7 + channels);
    std::normal_distribution<double> noise(0.0, 600.0);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (uint16_t c = 0; c < channels; ++c) {
            const double v = 4000 * std::sin(2 * M_PI * (220 + 30 * c) * t) +
                             2500 * std::sin(2 * M_PI * 1375.5 * t + c) +
                             1200 * std::sin(2 * M_PI * (3000 + 400 * std::sin(0.5 * t)) * t) + noise(gen);
            s.samples[i * channels + c] = static_cast<int16_t>(std::lround(std::clamp(v, -32767.0, 32767.0)));
        }
    }
    return s;
}

Sound Tone(uint32_t rate, double freq, double amplitude, double seconds) {
    Sound s;
    s.rate = rate;
    const size_t frames = static_cast<size_t>(rate * seconds);
    s.samples.resize(frames);
    for (size_t i = 0; i < frames; ++i)
        s.samples[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * freq * i / rate)));
    return s;
}

// Amplitude of the component at `freq` (least squares over the middle 80 %, first channel).
double AmplitudeAt(const Sound& s, double freq) {
    const size_t n = s.Frames();
    const size_t from = n / 10, to = n - n / 10;
    double c = 0, d = 0;
    for (size_t i = from; i < to; ++i) {
        const double w = 2 * M_PI * freq * i / s.rate;
        const double x = s.samples[i * s.channels];
        c += x * std::cos(w);
        d += x * std::sin(w);
    }
    const double len = static_cast<double>(to - from);
    return 2.0 * std::sqrt(c * c + d * d) / len;
}

// The strongest component within `span` Hz of `freq`: our resampler stretches
// time by the filter order over the length of the sound, which moves a tone
// by a fraction of a hertz.
double AmplitudeNear(const Sound& s, double freq, double span) {
    double best = 0;
    for (double f = freq - span; f <= freq + span; f += 0.05) best = std::max(best, AmplitudeAt(s, f));
    return best;
}

double RmsOf(const Sound& s) {
    const size_t n = s.Frames();
    const size_t from = n / 10, to = n - n / 10;
    double e = 0;
    for (size_t i = from; i < to; ++i) e += static_cast<double>(s.samples[i * s.channels]) * s.samples[i * s.channels];
    return std::sqrt(e / static_cast<double>(to - from));
}

double Db(double ratio) { return ratio > 0 ? 20.0 * std::log10(ratio) : -999.0; }

// ---- the resamplers -------------------------------------------------------------

// Runs convert (mono samples and their destination count to the result) on
// each channel of in and interleaves the results at the target rate.
template <typename Convert>
Sound PerChannel(const Sound& in, uint32_t target, Convert&& convert) {
    Sound out;
    out.rate = target;
    out.channels = in.channels;
    const uint32_t frames = static_cast<uint32_t>(in.Frames());
    const uint32_t count = cz::C_PCMResample::DestinationCount(in.rate, target, frames);
    out.samples.resize(static_cast<size_t>(count) * in.channels);
    std::vector<int16_t> channel(frames);
    for (uint16_t c = 0; c < in.channels; ++c) {
        for (uint32_t i = 0; i < frames; ++i) channel[i] = in.samples[static_cast<size_t>(i) * in.channels + c];
        const std::vector<int16_t>& result = convert(channel, count);
        for (uint32_t i = 0; i < count; ++i) out.samples[static_cast<size_t>(i) * in.channels + c] = result[i];
    }
    return out;
}

Sound Ours(const Sound& in, uint32_t target, int mode = 2, bool clean = false) {
    cz::C_PCMResample resampler;
    resampler.SetClean(clean);
    std::vector<int16_t> result;
    auto convert = [&](const std::vector<int16_t>& channel, uint32_t count) -> const std::vector<int16_t>& {
        result.resize(count);
        resampler.ResampleSamples(mode, in.rate, target, static_cast<uint32_t>(channel.size()), count, channel.data(),
                                  result.data(), 1.0, nullptr);
        return result;
    };
    return PerChannel(in, target, convert);
}

// The literal formulas, for the scalar baseline.
Sound Literal(const Sound& in, uint32_t target) {
    std::vector<int16_t> result;
    auto convert = [&](const std::vector<int16_t>& channel, uint32_t count) -> const std::vector<int16_t>& {
        result = cz::test::reference::Sinc(static_cast<double>(target) / in.rate, channel, count);
        return result;
    };
    return PerChannel(in, target, convert);
}

// libsamplerate's src_simple through dlopen.
struct SrcData {
    const float* data_in;
    float* data_out;
    long input_frames, output_frames;
    long input_frames_used, output_frames_gen;
    int end_of_input;
    double src_ratio;
};
using SrcSimple = int (*)(SrcData*, int, int);
constexpr int kSrcSincMediumQuality = 1;

SrcSimple LoadLibsamplerate() {
    void* lib = dlopen("libsamplerate.so.0", RTLD_NOW);
    return lib ? reinterpret_cast<SrcSimple>(dlsym(lib, "src_simple")) : nullptr;
}

std::optional<Sound> Libsamplerate(SrcSimple simple, const Sound& in, uint32_t target) {
    std::vector<float> fin(in.samples.size());
    for (size_t i = 0; i < fin.size(); ++i) fin[i] = in.samples[i] / 32768.0f;
    const double ratio = static_cast<double>(target) / in.rate;
    const long outFrames = static_cast<long>(in.Frames() * ratio + 0.5);
    std::vector<float> fout(static_cast<size_t>(outFrames) * in.channels);
    SrcData d{fin.data(), fout.data(), static_cast<long>(in.Frames()), outFrames, 0, 0, 1, ratio};
    if (simple(&d, kSrcSincMediumQuality, in.channels) != 0) return std::nullopt;
    Sound out;
    out.rate = target;
    out.channels = in.channels;
    out.samples.resize(static_cast<size_t>(d.output_frames_gen) * in.channels);
    for (size_t i = 0; i < out.samples.size(); ++i) {
        out.samples[i] = static_cast<int16_t>(std::lround(std::clamp(fout[i] * 32768.0f, -32768.0f, 32767.0f)));
    }
    return out;
}

struct Peer {
    const char* name;
    bool available;
    // Converts the sound in `inPath` to `target` into `outPath`, returning
    // CPU seconds, or a negative value on failure.
    std::function<double(const Sound&, const std::string&, const std::string&, uint32_t)> run;
};

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int runs = quick ? 1 : 5;
    char dirTemplate[] = "/tmp/cz_resample_bench_XXXXXX";
    if (!mkdtemp(dirTemplate)) return 2;
    const std::string dir = dirTemplate;
    auto file = [&](const std::string& name) { return dir + "/" + name; };

    const SrcSimple simple = LoadLibsamplerate();
    const bool haveSox = HaveProgram("sox"), haveFfmpeg = HaveProgram("ffmpeg");
    auto soxRun = [](const Sound&, const std::string& in, const std::string& out, uint32_t target) {
        return TimeProgram({"sox", "-D", "-V1", in, out, "rate", "-h", std::to_string(target)});
    };
    auto ffmpegRun = [](const Sound&, const std::string& in, const std::string& out, uint32_t target) {
        return TimeProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", in, "-ar", std::to_string(target), out});
    };
    auto srcRun = [simple](const Sound& s, const std::string&, const std::string& out, uint32_t target) {
        const double t0 = ProcessCpuSeconds();
        auto r = Libsamplerate(simple, s, target);
        const double t = ProcessCpuSeconds() - t0;
        if (!r || !WriteWav(out, *r)) return -1.0;
        return t;
    };
    auto oursRun = [](const Sound& s, const std::string&, const std::string& out, uint32_t target) {
        const double t0 = ProcessCpuSeconds();
        Sound r = Ours(s, target);
        const double t = ProcessCpuSeconds() - t0;
        return WriteWav(out, r) ? t : -1.0;
    };
    auto cleanRun = [](const Sound& s, const std::string&, const std::string& out, uint32_t target) {
        const double t0 = ProcessCpuSeconds();
        Sound r = Ours(s, target, 2, true);
        const double t = ProcessCpuSeconds() - t0;
        return WriteWav(out, r) ? t : -1.0;
    };
    // The whole tool as a process, like sox: reading, resampling, writing.
    const std::string tool = cz::bench::ToolPath();
    auto toolRun = [tool](const Sound&, const std::string& in, const std::string& out, uint32_t target) {
        return TimeProgram({tool, "resample", in, "-o", out, "--rate", std::to_string(target), "-q", "-y"});
    };
    const Peer peers[] = {{"ours (sinc, mode 2)", true, oursRun},
                          {"ours (clean), kernel", true, cleanRun},
                          {"cadenzor resample (process)", !tool.empty(), toolRun},
                          {"sox rate -h", haveSox, soxRun},
                          {"ffmpeg -ar (swr)", haveFfmpeg, ffmpegRun},
                          {"libsamplerate sinc medium", simple != nullptr, srcRun}};

    struct Job {
        const char* name;
        uint32_t from, to;
        uint16_t channels;
        double seconds;
    };
    const Job jobs[] = {{"3 min 44.1 kHz stereo -> 16 kHz", 44100, 16000, 2, quick ? 20.0 : 180.0},
                        {"60 s 48 kHz mono -> 8 kHz", 48000, 8000, 1, quick ? 10.0 : 60.0},
                        {"60 s 22.05 kHz mono -> 8 kHz", 22050, 8000, 1, quick ? 10.0 : 60.0},
                        {"60 s 16 kHz mono -> 8 kHz", 16000, 8000, 1, quick ? 10.0 : 60.0},
                        {"60 s 16 kHz mono -> 22.05 kHz", 16000, 22050, 1, quick ? 10.0 : 60.0}};

    std::printf("Resampler speed: CPU seconds, best of %d runs (processor: %s; %s loops)\n", runs,
                cz::bench::CpuModel().c_str(), cz::resample::VectorKernelName());
    std::printf("every ratio is against ours from this same run\n\n");
    std::printf("%-34s %-28s %10s %12s %14s\n", "job", "resampler", "CPU s", "x realtime", "CPU / ours");
    for (const Job& job : jobs) {
        const Sound input = Material(job.from, job.channels, job.seconds);
        const std::string in = file("in.wav"), out = file("out.wav");
        WriteWav(in, input);
        double oursTime = -1;
        for (const Peer& peer : peers) {
            if (!peer.available) {
                std::printf("%-34s %-28s %10s\n", job.name, peer.name, "missing");
                continue;
            }
            const double t = BestOf(runs, [&] { return peer.run(input, in, out, job.to); });
            if (oursTime < 0) oursTime = t;
            if (t < 0) {
                std::printf("%-34s %-28s %10s\n", job.name, peer.name, "failed");
                continue;
            }
            std::printf("%-34s %-28s %10.3f %12.0f %14.2f\n", job.name, peer.name, t, job.seconds / t, t / oursTime);
        }
        // Baselines: our portable loops, and the literal formulas (shifting
        // windows, one sum per tap) on a tenth of the job, scaled up.
        cz::resample::SetVectorKernelsAllowed(false);
        const double portable = BestOf(quick ? 1 : 2, [&] {
            const double t0 = ProcessCpuSeconds();
            Ours(input, job.to);
            return ProcessCpuSeconds() - t0;
        });
        cz::resample::SetVectorKernelsAllowed(true);
        if (std::strcmp(cz::resample::VectorKernelName(), "AVX-512") == 0) {
            cz::resample::SetWideVectorKernelsAllowed(false);
            const double narrow = BestOf(quick ? 1 : 2, [&] {
                const double t0 = ProcessCpuSeconds();
                Ours(input, job.to);
                return ProcessCpuSeconds() - t0;
            });
            cz::resample::SetWideVectorKernelsAllowed(true);
            std::printf("%-34s %-28s %10.3f %12.0f %14.2f\n", job.name, "ours, AVX2 loops", narrow,
                        job.seconds / narrow, narrow / oursTime);
        }
        std::printf("%-34s %-28s %10.3f %12.0f %14.2f\n", job.name, "ours, portable loops", portable,
                    job.seconds / portable, portable / oursTime);
        Sound tenth = input;
        tenth.samples.resize(input.samples.size() / 10);
        const double t0 = ProcessCpuSeconds();
        Literal(tenth, job.to);
        const double literal = (ProcessCpuSeconds() - t0) * 10.0;
        std::printf("%-34s %-28s %10.3f %12.0f %14.2f\n\n", job.name, "literal formulas (est.)", literal,
                    job.seconds / literal, literal / oursTime);
    }

    // Pass band: a 1 kHz tone at -6 dBFS through each conversion.
    std::printf("Level of a 1 kHz tone (-6 dBFS) after conversion, dB relative to the input\n\n");
    std::printf("%-28s %14s %14s %14s\n", "resampler", "44.1k->16k", "16k->8k", "16k->22.05k");
    const uint32_t pairs[3][2] = {{44100, 16000}, {16000, 8000}, {16000, 22050}};
    for (const Peer& peer : peers) {
        std::printf("%-28s", peer.name);
        for (const auto& p : pairs) {
            const Sound tone = Tone(p[0], 1000.0, 16384.0, 2.0);
            WriteWav(file("tone.wav"), tone);
            double level = NAN;
            if (peer.available && peer.run(tone, file("tone.wav"), file("tone_out.wav"), p[1]) >= 0) {
                if (auto r = ReadWav(file("tone_out.wav"))) level = Db(AmplitudeNear(*r, 1000.0, 4.0) / 16384.0);
            }
            std::printf(" %14.3f", level);
        }
        std::printf("\n");
    }

    // Stop band: a 7.5 kHz tone at -6 dBFS from 16 kHz to 8 kHz can only
    // come out as an alias at 500 Hz.
    std::printf("\nLeak of a 7.5 kHz tone (-6 dBFS) taken from 16 kHz to 8 kHz, dB relative to the input\n\n");
    std::printf("%-28s %16s %16s\n", "resampler", "alias at 500 Hz", "all output (RMS)");
    for (const Peer& peer : peers) {
        const Sound tone = Tone(16000, 7500.0, 16384.0, 2.0);
        WriteWav(file("alias.wav"), tone);
        double alias = NAN, total = NAN;
        if (peer.available && peer.run(tone, file("alias.wav"), file("alias_out.wav"), 8000) >= 0) {
            if (auto r = ReadWav(file("alias_out.wav"))) {
                alias = Db(AmplitudeNear(*r, 500.0, 4.0) / 16384.0);
                total = Db(RmsOf(*r) / (16384.0 / std::sqrt(2.0)));
            }
        }
        // -999 means every output sample is 0: the leak is below one step.
        auto show = [](double db) {
            return db <= -999.0 ? std::string("silent") : std::to_string(std::lround(db * 10) / 10.0).substr(0, 6);
        };
        std::printf("%-28s %16s %16s\n", peer.name, show(alias).c_str(), show(total).c_str());
    }

    for (const char* name : {"in.wav", "out.wav", "tone.wav", "tone_out.wav", "alias.wav", "alias_out.wav"}) {
        std::remove(file(name).c_str());
    }
    rmdir(dir.c_str());
    return 0;
}
