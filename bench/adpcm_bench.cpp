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
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/adpcm/C_ADPCMEncDec6Bit.h"
#include "codecs/adpcm/C_NewADPCMEncDec.h"

namespace {

constexpr const char* kText =
    "The quick brown fox jumps over the lazy dog. A speech chip reads its sounds from a small memory, "
    "so every byte counts. Adaptive differential coding keeps four bits for each sample and follows the "
    "voice as it rises and falls. Numbers such as one hundred and twenty three, or four thousand and "
    "ninety five, test the coder with quick changes. She sells sea shells by the sea shore; the shells "
    "she sells are surely sea shells.";

double ProcessSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double ChildrenSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs a program with its output discarded; returns its exit status.
int Run(const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        FILE* null = std::fopen("/dev/null", "w");
        if (null) {
            dup2(fileno(null), 1);
            dup2(fileno(null), 2);
        }
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Best child CPU time of a command over repeats; negative when it fails.
double TimeCommand(const std::vector<std::string>& args, int repeats) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        double before = ChildrenSeconds();
        if (Run(args) != 0) return -1.0;
        best = std::min(best, ChildrenSeconds() - before);
    }
    return best;
}

double TimeOurs(const std::function<void()>& work, int repeats) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        double before = ProcessSeconds();
        work();
        best = std::min(best, ProcessSeconds() - before);
    }
    return best;
}

// 16-bit mono samples of a PCM WAV file (empty on any problem).
std::vector<int16_t> ReadWav16(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
                                     (static_cast<uint32_t>(bytes[at + 3]) << 24));
    };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return {};
    size_t at = 12;
    bool pcm16 = false;
    while (at + 8 <= bytes.size()) {
        uint32_t size = u32(at + 4);
        size_t body = at + 8;
        if (body + size > bytes.size()) size = static_cast<uint32_t>(bytes.size() - body);
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && size >= 16) {
            uint16_t channels = static_cast<uint16_t>(bytes[body + 2] | (bytes[body + 3] << 8));
            uint16_t bits = static_cast<uint16_t>(bytes[body + 14] | (bytes[body + 15] << 8));
            pcm16 = channels == 1 && bits == 16;
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            if (!pcm16) return {};
            std::vector<int16_t> samples(size / 2);
            std::memcpy(samples.data(), bytes.data() + body, samples.size() * 2);
            return samples;
        }
        at = body + size + (size & 1);
    }
    return {};
}

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
    const std::string voice = dir + "/voice.wav", speech = dir + "/speech.wav", shortWav = dir + "/short.wav";

    // 60 s of speech: espeak-ng once, repeated and cut by sox.
    if (Run({"espeak-ng", "-w", voice, kText}) != 0 ||
        Run({"sox", voice, "-r", "16000", "-b", "16", "-c", "1", speech, "repeat", "30", "trim", "0", "60"}) != 0 ||
        Run({"sox", speech, shortWav, "trim", "0", "0.1"}) != 0) {
        std::fprintf(stderr, "adpcm_bench: espeak-ng and sox are needed to make the input\n");
        std::filesystem::remove_all(dir);
        return 2;
    }
    const std::vector<int16_t> pcm = ReadWav16(speech);
    const std::vector<int16_t> pcmShort = ReadWav16(shortWav);
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
    for (size_t i = 0; i < pcm.size(); ++i) chip[i] = static_cast<uint16_t>((pcm[i] + 32768) >> 4);
    const auto count = static_cast<uint32_t>(chip.size());

    std::vector<Row> rows;
    auto ours = [&](const std::string& name, cz::C_ADPCMEncDec& coder, uint32_t mode) {
        std::vector<uint8_t> codes(coder.GetMaxEncodedSize(count, mode));
        uint32_t used = 0;
        double t = TimeOurs(
            [&] {
                used = coder.Encode(count, chip.data(), codes.data(), static_cast<uint32_t>(codes.size()), mode,
                                    nullptr);
            },
            repeats);
        if (used == 0) {
            std::fprintf(stderr, "adpcm_bench: %s failed to encode\n", name.c_str());
            return;
        }
        std::vector<uint16_t> decoded(coder.GetDecodedBufferSize(used) / 2);
        uint32_t written = 0;
        double td = TimeOurs(
            [&] {
                written = coder.Decode(codes.data(), used, decoded.data(),
                                       static_cast<uint32_t>(decoded.size() * 2), nullptr);
            },
            repeats);
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

    // Peers: IMA ADPCM WAV.
    auto peer = [&](const std::string& name, const std::vector<std::string>& full,
                    const std::vector<std::string>& brief, const std::string& output) {
        double t = TimeCommand(full, repeats);
        double ts = TimeCommand(brief, repeats);
        if (t < 0 || ts < 0) {
            std::printf("%s: not available\n", name.c_str());
            return;
        }
        double snr = std::nan("");
        const std::string decodedPath = output + ".pcm.wav";
        if (Run({"sox", output, "-e", "signed-integer", "-b", "16", decodedPath}) == 0)
            snr = Snr16(pcm, ReadWav16(decodedPath));
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
