// The searching chip ADPCM coder's effort levels beside ffmpeg's IMA ADPCM
// encoder with its trellis search, in one run, on real speech.
//
// Input: every 30th prompt of the Debian asterisk English prompts
// (/usr/share/asterisk/sounds/en_US_f_Allison, 8 kHz; skipped when absent)
// and a minute of espeak-ng speech at 16 kHz. Ours codes the 12-bit chip form
// (16-bit samples shifted down by 4, offset binary) with the APM coder at
// each effort, decodes with the unchanged decoder, and takes the SNR against
// that 12-bit input. ffmpeg codes the 16-bit file to IMA ADPCM WAV with
// -trellis 0, 4, 8 and 10; its output is decoded by ffmpeg and compared with
// the 16-bit input. Gains are against each coder's own plain coding.
// Timing: CPU ns per sample, ours in this process, ffmpeg as a child
// (user + system, the start-up taken off by timing a 0.1 s file).
//
// The MDM coder's efforts follow in a second table (its own classic coding
// as the base).
//
// Usage: adpcm_effort_bench [--quick] [--mdm-only]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/mdpcm/C_MDPCMEncDec.h"

namespace {

using cz::bench::ProcessCpuSecondsOf;
using cz::bench::RunProgram;
using cz::bench::TimeProgram;

constexpr const char* kText =
    "The quick brown fox jumps over the lazy dog. A speech chip reads its sounds from a small memory, "
    "so every byte counts. Numbers such as one hundred and twenty three, or four thousand and "
    "ninety five, test the coder with quick changes. She sells sea shells by the sea shore.";

struct Clip {
    std::string path;  // 16-bit mono WAV
    std::vector<int16_t> pcm;
};

double Snr(const std::vector<double>& source, const std::vector<double>& decoded) {
    const size_t n = std::min(source.size(), decoded.size());
    double signal = 0, noise = 0;
    for (size_t i = 0; i < n; ++i) {
        signal += source[i] * source[i];
        noise += (decoded[i] - source[i]) * (decoded[i] - source[i]);
    }
    return noise == 0 ? 999.0 : 10 * std::log10(signal / noise);
}

// SNR of the APM coder at one effort, and its CPU seconds.
double Ours(const std::vector<int16_t>& pcm, cz::AdpcmEffort effort, double* seconds) {
    std::vector<uint16_t> chip(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i) chip[i] = cz::bench::ChipSample(pcm[i]);
    cz::C_ADPCMEncDec coder(12, 64);
    coder.SetSearchEffort(effort);
    const auto count = static_cast<uint32_t>(chip.size());
    std::vector<uint8_t> codes(coder.GetMaxEncodedSize(count, 2));
    uint32_t used = 0;
    *seconds = ProcessCpuSecondsOf([&] {
        used = coder.Encode(count, chip.data(), codes.data(), static_cast<uint32_t>(codes.size()), 2, nullptr);
    });
    cz::C_ADPCMEncDec decoder(12, 64);
    std::vector<uint16_t> decoded(decoder.GetDecodedBufferSize(used) / 2);
    const uint32_t written =
        decoder.Decode(codes.data(), used, decoded.data(), static_cast<uint32_t>(decoded.size() * 2), nullptr);
    decoded.resize(written / 2);
    std::vector<double> s(chip.size()), d(decoded.size());
    for (size_t i = 0; i < chip.size(); ++i) s[i] = double(chip[i]) - 2048.0;
    for (size_t i = 0; i < decoded.size(); ++i) d[i] = double(decoded[i]) - 2048.0;
    return Snr(s, d);
}

// SNR of the MDM coder (frames of 65 and 17 samples, frame starts on 9 bits)
// at one effort (0 classic), and its CPU seconds.
double OursMdm(const std::vector<int16_t>& pcm, uint8_t effort, double* seconds) {
    std::vector<uint16_t> chip(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i) chip[i] = cz::bench::ChipSample(pcm[i]);
    cz::C_MDPCMEncDec coder(0, 9);
    coder.SetEndMarker(0xFF);
    coder.SetSearchEffort(effort);
    const auto count = static_cast<uint32_t>(chip.size());
    std::vector<uint8_t> codes(static_cast<size_t>(coder.GetMaxEncodedSize(count, 65, 17)));
    uint32_t used = 0;
    *seconds = ProcessCpuSecondsOf(
        [&] { used = coder.Encode(codes.data(), codes.size(), count, chip.data(), 2048, 65, 17, 0, nullptr); });
    cz::C_MDPCMEncDec decoder(0, 9);
    decoder.SetEndMarker(0xFF);
    std::vector<uint16_t> decoded(decoder.CountDecodedSamples(65, 17, codes.data(), used));
    decoded.resize(decoder.Decode(decoded.data(), decoded.size(), codes.data(), used, 2048, 65, 17, nullptr));
    std::vector<double> s(chip.size()), d(decoded.size());
    for (size_t i = 0; i < chip.size(); ++i) s[i] = double(chip[i]) - 2048.0;
    for (size_t i = 0; i < decoded.size(); ++i) d[i] = double(decoded[i]) - 2048.0;
    return Snr(s, d);
}

// ffmpeg's IMA ADPCM at a trellis setting: SNR and CPU seconds (start-up off).
double Ffmpeg(const Clip& clip, const std::string& dir, int trellis, double startUp, double* seconds) {
    const std::string coded = dir + "/ff.wav", back = dir + "/ff_back.wav";
    const double t = TimeProgram({"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i", clip.path, "-c:a",
                                  "adpcm_ima_wav", "-trellis", std::to_string(trellis), coded});
    if (t < 0 || RunProgram({"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i", coded, "-c:a", "pcm_s16le", back},
                            true) != 0)
        return std::nan("");
    *seconds = std::max(0.0, t - startUp);
    const std::vector<int16_t> decoded = cz::bench::ReadMonoWav16(back);
    std::vector<double> s(clip.pcm.begin(), clip.pcm.end()), d(decoded.begin(), decoded.end());
    return Snr(s, d);
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false, mdmOnly = false;
    for (int a = 1; a < argc; ++a) {
        quick = quick || std::strcmp(argv[a], "--quick") == 0;
        mdmOnly = mdmOnly || std::strcmp(argv[a], "--mdm-only") == 0;
    }
    char pattern[] = "/tmp/adpcm_effort_XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    const std::string dir = pattern;
    std::vector<Clip> clips;
    const std::string prompts = "/usr/share/asterisk/sounds/en_US_f_Allison";
    if (std::filesystem::is_directory(prompts)) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(prompts))
            if (e.path().extension() == ".wav") names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
        for (size_t i = 0; i < names.size(); i += 30) {
            const std::string path = dir + "/prompt" + std::to_string(i) + ".wav";
            if (RunProgram({"sox", names[i], "-b", "16", "-c", "1", "-e", "signed-integer", path}, true) != 0) continue;
            clips.push_back({path, cz::bench::ReadMonoWav16(path)});
            if (quick && clips.size() == 4) break;
        }
    }
    const size_t prompt = clips.size();
    {
        const std::string path = dir + "/speech.wav";
        if (cz::bench::MakeSpeechWav(kText, path, {"repeat", quick ? "1" : "5"}))
            clips.push_back({path, cz::bench::ReadMonoWav16(path)});
    }
    if (clips.empty()) {
        std::fprintf(stderr, "adpcm_effort_bench: no speech (asterisk prompts or espeak-ng and sox needed)\n");
        return 2;
    }
    const bool haveFfmpeg = !mdmOnly && cz::bench::HaveProgram("ffmpeg");
    double startUp = 0;
    if (haveFfmpeg) {
        const std::string shortWav = dir + "/short.wav";
        RunProgram({"sox", clips[0].path, shortWav, "trim", "0", "0.1"}, true);
        startUp = TimeProgram({"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i", shortWav, "-c:a",
                               "adpcm_ima_wav", dir + "/short_ff.wav"});
    }
    std::printf("processor: %s; %zu asterisk prompts (8 kHz) and %zu espeak-ng clips (16 kHz)\n\n",
                cz::bench::CpuModel().c_str(), prompt, clips.size() - prompt);

    struct Coder {
        std::string name;
        bool ours;
        cz::AdpcmEffort effort;
        int trellis;
    };
    std::vector<Coder> coders = {{"ours classic (compatible)", true, cz::AdpcmEffort::kClassic, 0},
                                 {"ours --effort fast", true, cz::AdpcmEffort::kFast, 0},
                                 {"ours --effort high", true, cz::AdpcmEffort::kHigh, 0},
                                 {"ours --effort max", true, cz::AdpcmEffort::kMax, 0}};
    if (haveFfmpeg)
        for (int t : {0, 4, 8, 10})
            coders.push_back({"ffmpeg adpcm_ima_wav -trellis " + std::to_string(t), false, {}, t});

    std::printf("%-34s %12s %10s %12s %10s %12s\n", "coder", "prompts dB", "gain", "espeak dB", "gain", "ns/sample");
    double basePrompt = 0, baseSpeech = 0;
    if (mdmOnly) coders.clear();
    for (size_t c = 0; c < coders.size(); ++c) {
        double sumPrompt = 0, speech = std::nan(""), seconds = 0, samples = 0;
        for (size_t i = 0; i < clips.size(); ++i) {
            double t = 0;
            const double snr = coders[c].ours ? Ours(clips[i].pcm, coders[c].effort, &t)
                                              : Ffmpeg(clips[i], dir, coders[c].trellis, startUp, &t);
            seconds += t;
            samples += double(clips[i].pcm.size());
            if (i < prompt)
                sumPrompt += snr;
            else
                speech = snr;
        }
        const double meanPrompt = prompt ? sumPrompt / double(prompt) : std::nan("");
        if (c == 0 || (!coders[c].ours && coders[c].trellis == 0)) {
            basePrompt = meanPrompt;
            baseSpeech = speech;
        }
        std::printf("%-34s %12.2f %+10.2f %12.2f %+10.2f %12.0f\n", coders[c].name.c_str(), meanPrompt,
                    meanPrompt - basePrompt, speech, speech - baseSpeech, seconds * 1e9 / samples);
    }

    std::printf("\n%-34s %12s %10s %12s %10s %12s\n", "MDM coder", "prompts dB", "gain", "espeak dB", "gain",
                "ns/sample");
    for (uint8_t effort = 0; effort <= 3; ++effort) {
        double sumPrompt = 0, speech = std::nan(""), seconds = 0, samples = 0;
        for (size_t i = 0; i < clips.size(); ++i) {
            double t = 0;
            const double snr = OursMdm(clips[i].pcm, effort, &t);
            seconds += t;
            samples += double(clips[i].pcm.size());
            if (i < prompt)
                sumPrompt += snr;
            else
                speech = snr;
        }
        const double meanPrompt = prompt ? sumPrompt / double(prompt) : std::nan("");
        if (effort == 0) {
            basePrompt = meanPrompt;
            baseSpeech = speech;
        }
        static const char* const kNames[] = {"classic (compatible)", "--effort fast", "--effort high", "--effort max"};
        std::printf("%-34s %12.2f %+10.2f %12.2f %+10.2f %12.0f\n", kNames[effort], meanPrompt, meanPrompt - basePrompt,
                    speech, speech - baseSpeech, seconds * 1e9 / samples);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
