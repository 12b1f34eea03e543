// Chip ADPCM coding speed and quality, side by side with IMA ADPCM encoding
// by sox and ffmpeg, in one run.
//
// Input: 60 s of 16 kHz speech made here with espeak-ng and sox in a
// temporary folder. Ours codes the 12-bit chip form of it (the 16-bit samples
// shifted down by 4, offset binary); the peers code the 16-bit file to IMA
// ADPCM WAV.
//
// Timing: CPU time, best of several runs. Ours: CLOCK_PROCESS_CPUTIME_ID
// around the call. Peers: user + system time of the child process
// (getrusage RUSAGE_CHILDREN before and after); ffmpeg's start-up is taken off
// by timing a 0.1 s file the same way (shown for sox as well).
// Quality: SNR of each decoded output against its input (ours on the 12-bit
// source; the peers' files decoded to 16-bit with sox, against the 16-bit
// source).
//
// Usage: adpcm_bench [repeats]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/adpcm/C_ADPCMEncDec6Bit.h"
#include "codecs/adpcm/C_EnhancedADPCM2Codec.h"
#include "codecs/adpcm/C_EnhancedADPCMCodec.h"
#include "codecs/adpcm/C_NewADPCMEncDec.h"

namespace {

using cz::bench::BestOf;
using cz::bench::ProcessCpuSecondsOf;
using cz::bench::RunProgram;
using cz::bench::TimeProgram;

constexpr const char* kText =
    "The quick brown fox jumps over the lazy dog. A speech chip reads its sounds from a small memory, "
    "so every byte counts. Adaptive differential coding keeps four bits for each sample and follows the "
    "voice as it rises and falls. Numbers such as one hundred and twenty three, or four thousand and "
    "ninety five, test the coder with quick changes. She sells sea shells by the sea shore; the shells "
    "she sells are surely sea shells.";

double Snr16(const std::vector<int16_t>& source, const std::vector<int16_t>& decoded) {
    size_t n = std::min(source.size(), decoded.size());
    double signal = 0, noise = 0;
    for (size_t i = 0; i < n; ++i) {
        double s = source[i];
        double e = static_cast<double>(decoded[i]) - s;
        signal += s * s;
        noise += e * e;
    }
    return noise == 0 ? 999.0 : 10 * std::log10(signal / noise);
}

double Snr12(const std::vector<uint16_t>& source, const std::vector<uint16_t>& decoded, size_t skip) {
    size_t n = std::min(source.size(), decoded.size() - std::min(decoded.size(), skip));
    double signal = 0, noise = 0;
    for (size_t i = 0; i < n; ++i) {
        double s = static_cast<double>(source[i]) - 2048.0;
        double e = static_cast<double>(decoded[i + skip]) - static_cast<double>(source[i]);
        signal += s * s;
        noise += e * e;
    }
    return noise == 0 ? 999.0 : 10 * std::log10(signal / noise);
}

struct Row {
    std::string name;
    double nsPerSample;  // negative: not measured
    double snr;          // NaN: not measured
};

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    char pattern[] = "/tmp/adpcm_bench_XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string dir = pattern;
    const std::string speech = dir + "/speech.wav", shortWav = dir + "/short.wav";

    // 60 s of speech: espeak-ng once, repeated and cut by sox.
    if (!cz::bench::MakeSpeechWav(kText, speech, {"repeat", "30", "trim", "0", "60"}) ||
        RunProgram({"sox", speech, shortWav, "trim", "0", "0.1"}, true) != 0) {
        std::fprintf(stderr, "adpcm_bench: espeak-ng and sox are needed to make the input\n");
        std::filesystem::remove_all(dir);
        return 2;
    }
    const std::vector<int16_t> pcm = cz::bench::ReadMonoWav16(speech);
    const std::vector<int16_t> pcmShort = cz::bench::ReadMonoWav16(shortWav);
    if (pcm.empty() || pcmShort.empty()) {
        std::fprintf(stderr, "adpcm_bench: could not read the generated speech\n");
        std::filesystem::remove_all(dir);
        return 2;
    }
    const double samples = static_cast<double>(pcm.size());
    const double shortSamples = static_cast<double>(pcmShort.size());
    std::printf("input: %zu samples (%.2f s at 16 kHz) of espeak-ng speech; best of %d runs, CPU time\n", pcm.size(),
                samples / 16000.0, repeats);

    // The chip form: 12-bit offset binary.
    std::vector<uint16_t> chip(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i) chip[i] = cz::bench::ChipSample(pcm[i]);
    const auto count = static_cast<uint32_t>(chip.size());

    std::vector<Row> rows;
    auto ours = [&](const std::string& name, cz::C_ADPCMEncDec& coder, uint32_t mode) {
        std::vector<uint8_t> codes(coder.GetMaxEncodedSize(count, mode));
        uint32_t used = 0;
        double t = BestOf(repeats, [&] {
            return ProcessCpuSecondsOf([&] {
                used =
                    coder.Encode(count, chip.data(), codes.data(), static_cast<uint32_t>(codes.size()), mode, nullptr);
            });
        });
        if (used == 0) {
            std::fprintf(stderr, "adpcm_bench: %s failed to encode\n", name.c_str());
            return;
        }
        std::vector<uint16_t> decoded(coder.GetDecodedBufferSize(used) / 2);
        uint32_t written = 0;
        double td = BestOf(repeats, [&] {
            return ProcessCpuSecondsOf([&] {
                written = coder.Decode(codes.data(), used, decoded.data(), static_cast<uint32_t>(decoded.size() * 2),
                                       nullptr);
            });
        });
        decoded.resize(written / 2);
        const size_t lead = (mode != 4 && (mode & 1)) ? cz::C_ADPCMEncDec::kLeadInCodes : 0;
        rows.push_back({name + " encode", t * 1e9 / samples, Snr12(chip, decoded, lead)});
        rows.push_back({name + " decode", td * 1e9 / samples, std::nan("")});
    };
    {
        cz::C_ADPCMEncDec coder(12, 64);
        ours("chip ADPCM 4-bit, mode 2", coder, 2);
        ours("chip ADPCM 4-bit, mode 1", coder, 1);
    }
    {
        cz::C_ADPCMEncDec6Bit coder;
        ours("chip ADPCM 6-bit, mode 2", coder, 2);
    }
    {
        cz::C_NewADPCMEncDec coder;
        ours("new chip ADPCM (beam), mode 2", coder, 2);
    }
    {
        // The block coders of EAM (12-bit) and SAM's coder is the 4-bit one above.
        cz::C_EnhancedADPCMCodec coder(12, 1, 1);
        ours("enhanced ADPCM 12-bit (EAM)", coder, 0);
    }
    {
        // E2A's coder works on 16-bit samples: its SNR is against the 16-bit
        // speech itself.
        std::vector<uint16_t> wide(pcm.size());
        for (size_t i = 0; i < pcm.size(); ++i) wide[i] = static_cast<uint16_t>(pcm[i] + 32768);
        cz::C_EnhancedADPCM2Codec coder(16, 1, 1, 1);
        std::vector<uint8_t> codes(coder.GetMaxEncodedSize(count, 0));
        uint32_t used = 0;
        const double t = BestOf(repeats, [&] {
            return ProcessCpuSecondsOf([&] {
                used = coder.Encode(count, wide.data(), codes.data(), static_cast<uint32_t>(codes.size()), 0, nullptr);
            });
        });
        std::vector<uint16_t> decoded(count);
        uint32_t written = 0;
        const double td = BestOf(repeats, [&] {
            return ProcessCpuSecondsOf(
                [&] { written = coder.Decode(codes.data(), used, decoded.data(), 2 * count, nullptr); });
        });
        std::vector<int16_t> back(written / 2);
        for (size_t i = 0; i < back.size(); ++i) back[i] = static_cast<int16_t>(decoded[i] - 32768);
        if (used != 0) {
            rows.push_back({"enhanced ADPCM 16-bit two-tap (E2A) encode", t * 1e9 / samples, Snr16(pcm, back)});
            rows.push_back({"enhanced ADPCM 16-bit two-tap (E2A) decode", td * 1e9 / samples, std::nan("")});
            std::printf("E2A stream: %.3f bytes per sample\n", static_cast<double>(used) / samples);
        }
    }

    // Peers: IMA ADPCM WAV.
    auto peer = [&](const std::string& name, const std::vector<std::string>& full,
                    const std::vector<std::string>& brief, const std::string& output) {
        double t = BestOf(repeats, [&] { return TimeProgram(full, true); });
        double ts = BestOf(repeats, [&] { return TimeProgram(brief, true); });
        if (t < 0 || ts < 0) {
            std::printf("%s: not available\n", name.c_str());
            return;
        }
        double snr = std::nan("");
        const std::string decodedPath = output + ".pcm.wav";
        if (RunProgram({"sox", output, "-e", "signed-integer", "-b", "16", decodedPath}, true) == 0)
            snr = Snr16(pcm, cz::bench::ReadMonoWav16(decodedPath));
        rows.push_back({name + " (whole run)", t * 1e9 / samples, snr});
        // Start-up taken off: (60 s run - 0.1 s run) over the sample difference.
        rows.push_back({name + " (start-up off)", (t - ts) * 1e9 / (samples - shortSamples), snr});
    };
    const std::string soxOut = dir + "/sox_ima.wav", soxShort = dir + "/sox_short.wav";
    peer("sox IMA ADPCM", {"sox", speech, "-e", "ima-adpcm", soxOut}, {"sox", shortWav, "-e", "ima-adpcm", soxShort},
         soxOut);
    const std::string ffOut = dir + "/ff_ima.wav", ffShort = dir + "/ff_short.wav";
    peer("ffmpeg IMA ADPCM",
         {"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i", speech, "-c:a", "adpcm_ima_wav", ffOut},
         {"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i", shortWav, "-c:a", "adpcm_ima_wav", ffShort}, ffOut);

    const double reference = rows.empty() ? 1.0 : rows[0].nsPerSample;
    std::printf("\n%-40s %12s %16s %10s\n", "coder", "ns/sample", "x chip 4-bit enc", "SNR dB");
    for (const auto& row : rows) {
        char snr[32] = "-";
        if (!std::isnan(row.snr)) std::snprintf(snr, sizeof snr, "%.2f", row.snr);
        std::printf("%-40s %12.2f %16.2f %10s\n", row.name.c_str(), row.nsPerSample, row.nsPerSample / reference, snr);
    }
    std::printf("\nratios are ns/sample of the row divided by the chip ADPCM 4-bit encode (mode 2)\n");
    std::filesystem::remove_all(dir);
    return 0;
}
