// "cadenzor report": what a sound costs and how it sounds in each chip
// format: file and resource size, bit rate, SNR and segmental SNR of the sound
// the chip plays against the source, as a table, JSON or a page with
// pictures.
#include <algorithm>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "BatchSupport.h"
#include "Commands.h"
#include "Json.h"
#include "api/pipeline/Pipeline.h"
#include "ProgressBar.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatTable.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavFile.h"

namespace cz::cli {

namespace {

struct Pcm {
    unsigned rate = 0;
    std::vector<double> samples;  // the first channel
};

bool LoadPcm(const std::string& path, Pcm& pcm) {
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str());
    if (!file || !file->Sound()) return false;
    C_WavData* sound = file->Sound();
    pcm.rate = sound->GetWavInfo()->GetSampleRate();
    const uint32_t n = sound->SampleCount();
    pcm.samples.resize(n);
    for (uint32_t i = 0; i < n; ++i) pcm.samples[i] = sound->Sample(i, 0);
    return pcm.rate != 0;
}

Pcm FirstChannel(const api::pipeline::Rendition& sound) {
    Pcm pcm;
    pcm.rate = sound.rate;
    const size_t frames = sound.Frames();
    pcm.samples.resize(frames);
    for (size_t i = 0; i < frames; ++i) pcm.samples[i] = sound.samples[i * sound.channels];
    return pcm;
}

// One format coded from the source and played back as the chip plays it (its
// binary when it has one), in one job: sizes and the sound, nothing written.
struct Coded {
    bool made = false;  // the coding was made; only playing it back failed
    unsigned long long fileBytes = 0;
    long long chipBytes = -1;
    double seconds = 0;
    api::pipeline::Rendition played;
};

int Code(const Options& options, Coded& coded) {
    coded = Coded();
    api::pipeline::Job job;
    bool special = false;
    if (const int status = PrepareConvertJob(options, &job, &special); status != kExitOk) return status;
    if (special) {
        // A conversion the pipeline does not make: through the private folder.
        if (ConvertOne(options) != kExitOk) return kExitFailed;
        const SoundFigures figures = MeasureOutput(options.output, options.binary, false);
        coded.made = true;
        coded.fileBytes = figures.fileBytes;
        coded.chipBytes = figures.chipBytes;
        coded.seconds = figures.seconds;
        api::pipeline::Message failure;
        if (!api::pipeline::RenditionOf(options.binary.empty() ? options.output : options.binary, coded.played,
                                        failure)) {
            Fail(failure.file, failure.text);
            return kExitFailed;
        }
        return kExitOk;
    }
    job.publish = false;
    job.wantRendition = true;
    api::pipeline::Result result;
    const int status = RunConvertJob(options, job, &result);
    coded.made = result.fileBytes > 0;
    if (status != kExitOk) return status;
    coded.fileBytes = result.fileBytes;
    coded.chipBytes = result.binaryBytes;
    coded.seconds = result.seconds;
    coded.played = std::move(result.rendition);
    return kExitOk;
}

struct Quality {
    double snr = 0;
    double segmental = 0;
    // Per stretch of kStretch rendition samples, the lag at which it matches
    // the source best: rendition sample i matches source sample i + lag.
    std::vector<int> lags;
};

// Chip coders pad voice to whole frames, which delays what follows by a few
// samples; each stretch is compared at its own lag within +-kMaxLag.
constexpr size_t kStretch = 4096;
constexpr int kMaxLag = 64;

double SourceAt(const std::vector<double>& source, size_t i, int lag) {
    const long j = static_cast<long>(i) + lag;
    return j >= 0 && j < static_cast<long>(source.size()) ? source[static_cast<size_t>(j)] : 0.0;
}

int LagOf(const Quality& q, size_t i) { return q.lags.empty() ? 0 : q.lags[std::min(i / kStretch, q.lags.size() - 1)]; }

// SNR over the rendition, each stretch at its best lag; segmental SNR over
// 20 ms segments, each clamped to [-10, 35] dB, silent source segments left
// out.
Quality Measure(const std::vector<double>& source, const std::vector<double>& played, unsigned rate) {
    Quality q;
    double signal = 0, noise = 0;
    int previous = 0;
    for (size_t start = 0; start < played.size(); start += kStretch) {
        const size_t end = std::min(played.size(), start + kStretch);
        double bestNoise = -1, bestSignal = 0;
        int bestLag = previous;
        for (int d = 0; d <= 2 * kMaxLag; ++d) {
            // Lags tried nearest the previous stretch's first, so that ties
            // keep it.
            const int lag = previous + ((d & 1) ? (d + 1) / 2 : -(d / 2));
            if (lag < -kMaxLag || lag > kMaxLag) continue;
            double s = 0, e = 0;
            for (size_t i = start; i < end; ++i) {
                const double x = SourceAt(source, i, lag), diff = x - played[i];
                s += x * x;
                e += diff * diff;
            }
            if (bestNoise < 0 || e < bestNoise) {
                bestNoise = e;
                bestSignal = s;
                bestLag = lag;
            }
        }
        q.lags.push_back(bestLag);
        previous = bestLag;
        signal += bestSignal;
        noise += bestNoise;
    }
    q.snr = noise > 0 ? 10 * std::log10(std::max(signal, 1e-9) / noise) : 99.0;
    const size_t segment = std::max<size_t>(1, rate / 50);
    double sum = 0;
    size_t count = 0;
    for (size_t start = 0; start < played.size(); start += segment) {
        double s = 0, e = 0;
        for (size_t i = start; i < std::min(played.size(), start + segment); ++i) {
            const double x = SourceAt(source, i, LagOf(q, i)), diff = x - played[i];
            s += x * x;
            e += diff * diff;
        }
        if (s < 1e-3 * static_cast<double>(segment)) continue;  // silence
        const double snr = e > 0 ? 10 * std::log10(s / e) : 35.0;
        sum += std::clamp(snr, -10.0, 35.0);
        ++count;
    }
    q.segmental = count ? sum / static_cast<double>(count) : 0;
    return q;
}

struct Row {
    std::string format;
    bool ok = false;
    std::string reason;
    unsigned long long fileBytes = 0;
    long long chipBytes = -1;
    double seconds = 0;
    Quality quality;
    std::vector<double> played;
    unsigned rate = 0;              // of played
    std::vector<double> reference;  // the source at that rate, as compared
    // --- the same format under --compatible, for comparison (best profile only) ---
    bool haveCompatible = false;
    Quality compatible;
};

// A waveform as an SVG picture: per column the least and greatest sample,
// drawn as one filled band.
std::string Waveform(const std::vector<double>& samples, const char* colour, const char* title) {
    constexpr int kWidth = 720, kHeight = 90;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) + "\" height=\"" +
                      std::to_string(kHeight) + "\" viewBox=\"0 0 " + std::to_string(kWidth) + " " +
                      std::to_string(kHeight) + "\"><title>" + title +
                      "</title><rect width=\"100%\" height=\"100%\" fill=\"#fbfbf8\"/>"
                      "<line x1=\"0\" y1=\"45\" x2=\"720\" y2=\"45\" stroke=\"#ccc\"/>";
    if (samples.empty()) return svg + "</svg>";
    std::vector<double> lo(kWidth, 0), hi(kWidth, 0);
    for (int x = 0; x < kWidth; ++x) {
        const size_t a = samples.size() * static_cast<size_t>(x) / kWidth;
        const size_t b = std::max(a + 1, samples.size() * static_cast<size_t>(x + 1) / kWidth);
        double mn = 0, mx = 0;
        for (size_t i = a; i < std::min(b, samples.size()); ++i) {
            mn = std::min(mn, samples[i]);
            mx = std::max(mx, samples[i]);
        }
        lo[static_cast<size_t>(x)] = mn;
        hi[static_cast<size_t>(x)] = mx;
    }
    auto y = [&](double v) {
        double t = 45.0 - v / 32768.0 * 43.0;
        return std::clamp(t, 1.0, 89.0);
    };
    std::string path = "M0 " + std::to_string(y(hi[0]));
    char cell[48];
    for (int x = 0; x < kWidth; ++x) {
        // At least a pixel of height, so that quiet passages still show.
        std::snprintf(cell, sizeof cell, " L%d %.1f", x, std::min(y(hi[static_cast<size_t>(x)]), 44.0));
        path += cell;
    }
    for (int x = kWidth - 1; x >= 0; --x) {
        std::snprintf(cell, sizeof cell, " L%d %.1f", x, std::max(y(lo[static_cast<size_t>(x)]), 46.0));
        path += cell;
    }
    return svg + "<path d=\"" + path + " Z\" fill=\"" + colour + "\"/></svg>";
}

// The samples as a 16-bit mono WAV file in a data URI, for an <audio>
// element of the page.
std::string WavDataUri(const std::vector<double>& samples, unsigned rate) {
    std::vector<uint8_t> wav(44 + samples.size() * 2);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) wav[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put16 = [&](size_t at, uint32_t v) {
        wav[at] = static_cast<uint8_t>(v);
        wav[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    std::memcpy(wav.data(), "RIFF", 4);
    put32(4, static_cast<uint32_t>(wav.size() - 8));
    std::memcpy(wav.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 1);
    put32(24, rate);
    put32(28, rate * 2);
    put16(32, 2);
    put16(34, 16);
    std::memcpy(wav.data() + 36, "data", 4);
    put32(40, static_cast<uint32_t>(samples.size() * 2));
    for (size_t i = 0; i < samples.size(); ++i) {
        const long v = std::lround(std::clamp(samples[i], -32768.0, 32767.0));
        put16(44 + 2 * i, static_cast<uint32_t>(static_cast<uint16_t>(static_cast<int16_t>(v))));
    }
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string uri = "data:audio/wav;base64,";
    uri.reserve(uri.size() + (wav.size() + 2) / 3 * 4);
    for (size_t i = 0; i < wav.size(); i += 3) {
        const uint32_t n = (static_cast<uint32_t>(wav[i]) << 16) |
                           (i + 1 < wav.size() ? static_cast<uint32_t>(wav[i + 1]) << 8 : 0) |
                           (i + 2 < wav.size() ? wav[i + 2] : 0);
        uri += kDigits[(n >> 18) & 63];
        uri += kDigits[(n >> 12) & 63];
        uri += i + 1 < wav.size() ? kDigits[(n >> 6) & 63] : '=';
        uri += i + 2 < wav.size() ? kDigits[n & 63] : '=';
    }
    return uri;
}

std::string Audio(const std::vector<double>& samples, unsigned rate, const std::string& title) {
    return "<audio controls preload=\"auto\" title=\"" + HtmlEscape(title) + "\" src=\"" + WavDataUri(samples, rate) +
           "\"></audio>";
}

// Level over time on a dB scale: per 20 ms segment the source's level and the
// error's (source minus chip), in dB of full scale, as two lines; where the
// red line comes near the blue one the error is heard.
std::string ErrorLevels(const std::vector<double>& source, const std::vector<double>& error, unsigned rate,
                        const std::string& title) {
    constexpr int kWidth = 720, kHeight = 120;
    constexpr double kFloor = -90.0;
    const size_t segment = std::max<size_t>(1, rate / 50);
    const size_t count = std::max<size_t>(1, (error.size() + segment - 1) / segment);
    auto level = [&](const std::vector<double>& x, size_t k) {
        double e = 0;
        size_t n = 0;
        for (size_t i = k * segment; i < std::min(x.size(), (k + 1) * segment); ++i, ++n) e += x[i] * x[i];
        const double rms = n ? std::sqrt(e / static_cast<double>(n)) : 0.0;
        return rms > 0 ? std::max(kFloor, 20 * std::log10(rms / 32768.0)) : kFloor;
    };
    auto line = [&](const std::vector<double>& x, const char* colour) {
        std::string points;
        char cell[48];
        for (size_t k = 0; k < count; ++k) {
            const double px = count > 1 ? static_cast<double>(k) * (kWidth - 1) / static_cast<double>(count - 1) : 0.0;
            const double py = (level(x, k) / kFloor) * (kHeight - 4) + 2;
            std::snprintf(cell, sizeof cell, "%s%.1f,%.1f", k ? " " : "", px, py);
            points += cell;
        }
        if (count == 1) points += " " + std::to_string(kWidth - 1) + "," + points.substr(points.find(',') + 1);
        return "<polyline fill=\"none\" shape-rendering=\"crispEdges\" stroke=\"" + std::string(colour) +
               "\" stroke-width=\"3\" points=\"" + points + "\"/>";
    };
    std::string svg = "<svg class=\"levels\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) +
                      "\" height=\"" + std::to_string(kHeight) + "\"><title>" + HtmlEscape(title) +
                      "</title><rect width=\"100%\" height=\"100%\" fill=\"#fbfbf8\"/>";
    for (int db = -20; db > kFloor; db -= 20) {
        const double y = (db / kFloor) * (kHeight - 4) + 2;
        char grid[160];
        std::snprintf(grid, sizeof grid,
                      "<line x1=\"0\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#ddd\"/><text x=\"2\" y=\"%.1f\" "
                      "font-size=\"9\" fill=\"#888\">%d dB</text>",
                      y, kWidth, y, y - 2, db);
        svg += grid;
    }
    std::vector<double> aligned(error.size());
    for (size_t i = 0; i < error.size(); ++i) aligned[i] = i < source.size() ? source[i] : 0.0;
    return svg + line(aligned, "#2b6cb0") + line(error, "#c53030") + "</svg>";
}

// Size against quality: per format its chip bytes (or file bytes when it
// makes no binary) across, its SNR up.
std::string SizeQualityChart(const std::vector<Row>& rows) {
    constexpr int kWidth = 720, kHeight = 260, kLeft = 50, kBottom = 30;
    double maxBytes = 1, minSnr = 0, maxSnr = 10;
    for (const Row& r : rows) {
        if (!r.ok) continue;
        maxBytes = std::max(maxBytes, static_cast<double>(r.chipBytes >= 0 ? r.chipBytes : r.fileBytes));
        minSnr = std::min(minSnr, r.quality.snr);
        maxSnr = std::max(maxSnr, r.quality.snr);
    }
    maxSnr = std::ceil(maxSnr / 10) * 10;
    minSnr = std::floor(minSnr / 10) * 10;
    char cell[400];
    std::string svg = "<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) +
                      "\" height=\"" + std::to_string(kHeight) +
                      "\"><title>size against quality</title><rect width=\"100%\" height=\"100%\" fill=\"#fbfbf8\"/>";
    std::snprintf(cell, sizeof cell,
                  "<line x1=\"%d\" y1=\"10\" x2=\"%d\" y2=\"%d\" stroke=\"#444\"/><line x1=\"%d\" y1=\"%d\" "
                  "x2=\"%d\" y2=\"%d\" stroke=\"#444\"/><text x=\"%d\" y=\"%d\" font-size=\"11\">bytes the chip "
                  "stores (0 to %.0f)</text><text x=\"4\" y=\"12\" font-size=\"11\">SNR dB (%.0f to %.0f)</text>",
                  kLeft, kLeft, kHeight - kBottom, kLeft, kHeight - kBottom, kWidth - 10, kHeight - kBottom,
                  kLeft + 200, kHeight - 8, maxBytes, minSnr, maxSnr);
    svg += cell;
    for (const Row& r : rows) {
        if (!r.ok) continue;
        const double bytes = static_cast<double>(r.chipBytes >= 0 ? r.chipBytes : r.fileBytes);
        const double x = kLeft + bytes / maxBytes * (kWidth - kLeft - 30);
        const double y = 10 + (maxSnr - r.quality.snr) / (maxSnr - minSnr) * (kHeight - kBottom - 10);
        std::snprintf(cell, sizeof cell,
                      "<circle class=\"point\" cx=\"%.1f\" cy=\"%.1f\" r=\"5\" fill=\"%s\"/><text x=\"%.1f\" "
                      "y=\"%.1f\" font-size=\"11\">%s%s</text>",
                      x, y, r.chipBytes >= 0 ? "#2f855a" : "#999", x + 7, y + 4, HtmlEscape(r.format).c_str(),
                      r.chipBytes >= 0 ? "" : " (file, no chip binary)");
        svg += cell;
    }
    return svg + "</svg>";
}

std::string Html(const std::string& input, const std::vector<double>& source, unsigned rate,
                 const std::vector<Row>& rows) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>cadenzor report</title>"
        "<style>body{font-family:sans-serif;margin:24px;color:#222}table{border-collapse:collapse}"
        "td,th{padding:4px 10px;text-align:right;border-bottom:1px solid #ddd}th{background:#eee}"
        "td.f,th.f{text-align:left}.row{margin:18px 0}.row h2{font-size:16px;margin:4px 0}"
        "figure{margin:2px 0}figcaption{font-size:12px;color:#666}audio{display:block;margin:4px 0}</style>"
        "</head><body>\n";
    char line[512];
    page += "<h1>" + HtmlEscape(input) + "</h1>";
    std::snprintf(line, sizeof line, "<p>%zu samples at %u Hz (%.2f s)</p>\n", source.size(), rate,
                  rate ? source.size() / static_cast<double>(rate) : 0.0);
    page += line;
    page +=
        "<table><tr><th class=\"f\">format</th><th>file bytes</th><th>chip bytes</th><th>kbit/s</th>"
        "<th>SNR dB</th><th>seg. SNR dB</th></tr>\n";
    for (const Row& r : rows) {
        if (!r.ok) {
            page +=
                "<tr><td class=\"f\">" + r.format + "</td><td colspan=\"5\">" + HtmlEscape(r.reason) + "</td></tr>\n";
            continue;
        }
        // A format without a chip binary has no chip size or bit rate: a dash.
        const std::string chip = r.chipBytes >= 0 ? std::to_string(r.chipBytes) : std::string("-");
        char kbps[32] = "-";
        if (r.seconds > 0 && r.chipBytes >= 0)
            std::snprintf(kbps, sizeof kbps, "%.2f", r.chipBytes * 8.0 / r.seconds / 1000);
        std::snprintf(line, sizeof line,
                      "<tr><td class=\"f\">%s</td><td>%llu</td><td>%s</td><td>%s</td><td>%.2f</td>"
                      "<td>%.2f</td></tr>\n",
                      r.format.c_str(), r.fileBytes, chip.c_str(), kbps, r.quality.snr, r.quality.segmental);
        page += line;
    }
    page += "</table>\n<div class=\"row\"><h2>source</h2>" + Audio(source, rate, "source") + "<figure>" +
            Waveform(source, "#2b6cb0", "source") + "</figure></div>\n";
    for (size_t k = 0; k < rows.size(); ++k) {
        const Row& r = rows[k];
        if (!r.ok) continue;
        const std::vector<double>& reference = r.reference;
        std::vector<double> error(r.played.size()), aligned(r.played.size());
        for (size_t i = 0; i < r.played.size(); ++i) {
            aligned[i] = SourceAt(reference, i, LagOf(r.quality, i));
            error[i] = aligned[i] - r.played[i];
        }
        page += "<div class=\"row\"><h2>" + r.format + "</h2>" +
                Audio(r.played, r.rate, r.format + ": the sound the chip plays") + "<figure>" +
                Waveform(r.played, "#2f855a", (r.format + ": the sound the chip plays").c_str()) +
                "<figcaption>the sound the chip plays</figcaption></figure><figure>" +
                ErrorLevels(aligned, error, r.rate, r.format + ": error level") +
                "<figcaption>level per 20 ms in dB of full scale: source (blue) and error, source minus chip "
                "(red)</figcaption></figure></div>\n";
    }
    page += "<div class=\"row\"><h2>size against quality</h2><figure>" + SizeQualityChart(rows) +
            "<figcaption>each format: the bytes the chip stores against the SNR of what it plays</figcaption>"
            "</figure></div>\n";
    return page + "</body></html>\n";
}

}  // namespace

int RunReport(const Options& options) {
    const std::string& input = options.inputs.front();
    if (!options.html.empty() && !options.overwrite && platform::FileExists(options.html)) {
        Fail(options.html, "the file exists (use -y to overwrite it)");
        return kExitFailed;
    }
    if (!options.html.empty() && platform::SameFile(input, options.html)) {
        Fail(options.html, "is also the input of the report; nothing was written");
        return kExitFailed;
    }
    for (const auto& f : options.formats) {
        const uint32_t id = FormatIdForExtension(f);
        const FormatDescriptor* written = FindFormat(id);
        if (id == kFormatNone || id == kFormatWav || !written || !written->facts.output || !CreateFormatWriter(id)) {
            Fail(f, "not a chip format the tool writes (use " + FormatListText() + ")");
            return kExitUsage;
        }
    }
    auto temp = platform::TempFolder::Create();
    if (!temp) {
        Fail(platform::TempDirectory(), "cannot make a temporary folder");
        return kExitFailed;
    }
    // The source as every format gets it: decoded and resampled alike.
    Options base = options;
    base.overwrite = true;
    base.quiet = true;
    base.verbose = false;
    base.binary.clear();
    // The coder settings are the chip formats'; the WAV steps take none.
    base.mode = base.bitrate = base.quality = -1;
    base.inputs = {input};
    base.output = temp->File("source.wav");
    base.source = true;
    if (ConvertOne(base) != kExitOk) return kExitFailed;
    Pcm source;
    if (!LoadPcm(base.output, source)) {
        Fail(input, "cannot read the sound back");
        return kExitFailed;
    }
    ProgressBar bar("report    ", options.quiet);
    bar.OnBegin();
    std::vector<Row> rows;
    for (size_t k = 0; k < options.formats.size(); ++k) {
        Row row;
        row.format = options.formats[k];
        Options one = base;
        one.inputs = {temp->File("source.wav")};
        one.haveRate = false;
        one.source = false;
        one.output = temp->File("coded." + row.format);
        one.mode = options.mode;
        one.bitrate = options.bitrate;
        one.quality = options.quality;
        one.binary = temp->File("coded.bin");
        FailureCapture capture;
        Coded coded;
        if (Code(one, coded) != kExitOk) {
            // A format without a resource binary still gets its figures.
            one.binary.clear();
            if (coded.made || Code(one, coded) != kExitOk) {
                row.reason = capture.Text().empty()
                                 ? coded.made ? "the chip rendition cannot be decoded" : "cannot be written"
                                 : capture.Text();
                rows.push_back(row);
                continue;
            }
        }
        row.fileBytes = coded.fileBytes;
        row.chipBytes = coded.chipBytes;
        row.seconds = coded.seconds;
        Pcm played = FirstChannel(coded.played);
        const std::vector<double>* reference = &source.samples;
        Pcm alike;
        if (played.rate != source.rate) {
            Options match = base;
            match.inputs = {temp->File("source.wav")};
            match.output = temp->File("source-alike.wav");
            match.rate = played.rate;
            match.haveRate = true;
            if (ConvertOne(match) == kExitOk && LoadPcm(match.output, alike)) reference = &alike.samples;
        }
        row.quality = Measure(*reference, played.samples, played.rate);
        // --- the compatible profile's coding of the same source, side by side ---
        if (!options.profile.IsCompatible()) {
            Options plain = one;
            plain.profile = api::Profile::Compatible();
            plain.output = temp->File("compatible." + row.format);
            plain.binary.clear();
            Coded plainCoded;
            if (Code(plain, plainCoded) == kExitOk && plainCoded.played.rate == played.rate) {
                const Pcm plainPlayed = FirstChannel(plainCoded.played);
                row.compatible = Measure(*reference, plainPlayed.samples, plainPlayed.rate);
                row.haveCompatible = true;
            }
        }
        row.played = std::move(played.samples);
        row.rate = played.rate;
        if (!options.html.empty()) row.reference = *reference;
        row.ok = true;
        rows.push_back(std::move(row));
        bar.OnProgress(static_cast<int32_t>((k + 1) * 100 / options.formats.size()));
    }
    bar.OnEnd();

    if (options.json) {
        Json json;
        json.Object().Key("file").String(input).Key("sample_rate").Unsigned(source.rate);
        json.Key("samples").Unsigned(source.samples.size());
        json.Key("duration_s").Number(source.rate ? static_cast<double>(source.samples.size()) / source.rate : 0.0);
        json.Key("formats").Array();
        for (const Row& r : rows) {
            json.Object().Key("format").String(r.format).Key("format_id").Unsigned(FormatIdForExtension(r.format));
            if (!r.ok) {
                json.Key("error").String(r.reason).End();
                continue;
            }
            json.Key("duration_s").Number(r.seconds).Key("file_bytes").Unsigned(r.fileBytes);
            json.Key("chip_bytes").Size(r.chipBytes).Key("kbps");
            if (r.seconds > 0 && r.chipBytes >= 0)
                json.Number(r.chipBytes * 8.0 / r.seconds / 1000);
            else
                json.Null();
            json.Key("snr_db").Number(r.quality.snr).Key("segmental_snr_db").Number(r.quality.segmental);
            if (r.haveCompatible)
                json.Key("compatible_snr_db")
                    .Number(r.compatible.snr)
                    .Key("compatible_segmental_snr_db")
                    .Number(r.compatible.segmental);
            json.End();
        }
        json.End().End().Print();
    } else {
        std::printf("%s: %zu samples at %u Hz\n", input.c_str(), source.samples.size(), source.rate);
        const bool sideBySide = !options.profile.IsCompatible();
        std::printf("%-8s %12s %12s %9s %9s %12s%s\n", "format", "file bytes", "chip bytes", "kbit/s", "SNR dB",
                    "seg. SNR dB", sideBySide ? "   --compatible: SNR dB  seg. SNR dB" : "");
        for (const Row& r : rows) {
            if (!r.ok) {
                std::printf("%-8s %s\n", r.format.c_str(), r.reason.c_str());
                continue;
            }
            if (r.chipBytes < 0)
                std::printf("%-8s %12llu %12s %9s %9.2f %12.2f", r.format.c_str(), r.fileBytes, "-", "-", r.quality.snr,
                            r.quality.segmental);
            else
                std::printf("%-8s %12llu %12lld %9.2f %9.2f %12.2f", r.format.c_str(), r.fileBytes, r.chipBytes,
                            r.seconds > 0 ? r.chipBytes * 8.0 / r.seconds / 1000 : 0.0, r.quality.snr,
                            r.quality.segmental);
            if (r.haveCompatible)
                std::printf("   %21.2f %12.2f\n", r.compatible.snr, r.compatible.segmental);
            else
                std::printf("\n");
        }
    }
    int status = kExitOk;
    for (const Row& r : rows)
        if (!r.ok) status = kExitFailed;
    if (!options.html.empty()) {
        const std::string page = Html(input, source.samples, source.rate, rows);
        std::string failure;
        if (!PublishBytes(options.html, page.data(), page.size(), &failure)) {
            Fail(options.html, failure);
            return kExitFailed;
        }
    }
    return status;
}

// Text for an HTML page: the characters markup gives a meaning to, escaped.
std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace cz::cli
