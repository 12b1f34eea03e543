// The codec-library speech formats beside APM and MDM on speech: time to save
// (code through the codec library and decode back for the decoded section),
// in ns per sample, and the SNR and segmental SNR of the sound the chip plays
// against the source, at 8 and 16 kHz and several bit rates for SBD and ESB.
// Speech: a WAV given as the argument, or 60 s made with espeak-ng and sox.
//   codec_library_bench [speech.wav]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "platform/Platform.h"
#include "wave/C_WavFile.h"

namespace {

using namespace cz;

void Snr(const std::vector<double>& a, const std::vector<double>& b, unsigned rate, double* snr, double* seg) {
    double s = 0, e = 0, sum = 0;
    size_t count = 0;
    const size_t n = std::min(a.size(), b.size()), segment = rate / 50;
    for (size_t start = 0; start < n; start += segment) {
        double ss = 0, ee = 0;
        for (size_t i = start; i < std::min(n, start + segment); ++i) {
            ss += a[i] * a[i];
            ee += (a[i] - b[i]) * (a[i] - b[i]);
        }
        s += ss;
        e += ee;
        if (ss < 1e3 * static_cast<double>(segment)) continue;
        sum += std::clamp(ee > 0 ? 10 * std::log10(ss / ee) : 35.0, -10.0, 35.0);
        ++count;
    }
    *snr = e > 0 ? 10 * std::log10(s / e) : 99;
    *seg = count ? sum / static_cast<double>(count) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = platform::TempDirectory();
    std::string input16 = argc > 1 ? argv[1] : dir + "codec_bench_speech16.wav";
    if (argc <= 1 &&
        !bench::MakeSpeechWav("The quick brown fox jumps over the lazy dog while the chip keeps talking about the "
                              "weather.",
                              input16, {"repeat", "30", "trim", "0", "60"}, {"-s", "150"})) {
        std::fprintf(stderr, "could not make the speech with espeak-ng and sox\n");
        return 2;
    }
    const std::string input8 = dir + "codec_bench_speech8.wav";
    if (bench::RunProgram({"sox", input16, "-r", "8000", input8}, true) != 0) return 2;
    std::printf("processor: %s\n", bench::CpuModel().c_str());
    std::printf("%-6s %-6s %-12s %14s %9s %12s\n", "format", "rate", "setting", "save ns/sample", "SNR dB",
                "seg. SNR dB");
    struct Row {
        FormatId id;
        const char* name;
        uint32_t param;
        const char* setting;
    };
    const Row rows[] = {
        {kFormatApm, "apm", 0, "-"},         {kFormatMdm, "mdm", 0, "-"},
        {kFormatEam, "eam", 0, "-"},         {kFormatSam, "sam", 0, "-"},
        {kFormatE2a, "ad4", 0, "-"},
        {kFormatPc8, "pc8", 0, "-"},         {kFormatMcp, "mcp", 0, "mode 0"},
        {kFormatMcp, "mcp", 1, "mode 1"},    {kFormatMvclp, "mvc", 0, "-"},
        {kFormatWlp, "wlp", 4, "setting 4"}, {kFormatSbd, "sbd", 8000, "8 kbit/s"},
        {kFormatSbd, "sbd", 16000, "16 kbit/s"}, {kFormatSbd, "sbd", 32000, "32 kbit/s"},
        {kFormatEsb, "esb", 80, "8 kbit/s"}, {kFormatEsb, "esb", 160, "16 kbit/s"},
        {kFormatEsb, "esb", 320, "32 kbit/s"},
    };
    C_WavFileFormat factory;
    for (const std::string& input : {input8, input16}) {
        for (const Row& r : rows) {
            C_WavFile wav;
            if (!wav.Load(input.c_str(), 0)) return 2;
            C_WavData* sound = wav.Sound();
            const unsigned rate = sound->GetWavInfo()->GetSampleRate();
            std::vector<double> source;
            for (int16_t x : bench::ReadMonoWav16(input)) source.push_back(x);
            sound->GetWriteParam()->SetCodecParam(r.param);
            const std::string out = dir + "codec_bench_out." + r.name;
            const auto t0 = std::chrono::steady_clock::now();
            const bool saved = sound->SaveAs(r.id, out.c_str()) == 1;
            const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            // The sound the chip plays, written as 16-bit PCM as the tool does.
            RefPtr<C_WavFile> back = saved ? factory.Open(out.c_str()) : nullptr;
            const std::string played = dir + "codec_bench_played.wav";
            if (!back || !back->LoadPlayedSound() || (back->ReleaseSource(), !back->SaveAs(kFormatWav, played.c_str()))) {
                std::printf("%-6s %-6u %-12s failed\n", r.name, rate, r.setting);
                continue;
            }
            std::vector<double> decoded;
            for (int16_t x : bench::ReadMonoWav16(played)) decoded.push_back(x);
            double snr = 0, seg = 0;
            Snr(source, decoded, rate, &snr, &seg);
            std::printf("%-6s %-6u %-12s %14.1f %9.2f %12.2f\n", r.name, rate, r.setting,
                        secs * 1e9 / static_cast<double>(source.size()), snr, seg);
            platform::DeleteFile(out);
        }
    }
    return 0;
}
