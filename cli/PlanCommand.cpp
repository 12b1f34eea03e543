// "cadenzor plan": the coding of every prompt that gives the best sound
// while the pack image fits a memory budget (the planner is
// api/planner/Planner.h; this is its face).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BatchSupport.h"
#include "Commands.h"
#include "ProgressBar.h"
#include "api/planner/Planner.h"
#include "formats/registry/FormatId.h"
#include "platform/Platform.h"

namespace cz::cli {

namespace {

namespace pl = api::planner;

const char kPlanUsage[] =
    "usage: cadenzor plan PROMPTS... --budget SIZE [options]\n"
    "\n"
    "Chooses per prompt the chip format, rate and coder setting that give the best sound while\n"
    "the pack image of all of them fits SIZE. Every choice is coded for real (sizes are exact\n"
    "bytes of the resources and the pack layout) and judged by the segmental SNR of what the\n"
    "chip plays, brought back to the source's rate, against the source itself. Results are\n"
    "cached by the input's content and the settings, so a second plan is instant.\n"
    "PROMPTS are files or folders (searched through): WAV, MP3, WMA, and MIDI or IMF melodies,\n"
    "which count at their IMF size.\n"
    "\n"
    "options:\n"
    "  --budget SIZE        the memory the pack image must fit: bytes, or with K or M (1024-based)\n"
    "  --to F1,F2,...       the formats to try (default: every format that makes a chip binary)\n"
    "  --rates R1,R2,...    the rates to try (default: the source's and 16000 12000 11025 8000 6000\n"
    "                       below it); rates above a source's are never tried for it\n"
    "  --bitrates B1,...    the ESB and SBD bit rates to try (default 4000 6000 8000 12000 16000)\n"
    "  --objective worst|mean  maximise the worst prompt's quality (default; what is left of the\n"
    "                       budget then raises the mean), or the mean quality\n"
    "  --json               the plan as JSON\n"
    "  --html FILE          a page with a size-quality plot per prompt, the chosen point marked\n"
    "  --apply OUT_DIR      write each prompt's chip file, binary and header into OUT_DIR\n"
    "  --pack IMAGE         write the pack image and IMAGE.h (docs/resource-pack.md)\n"
    "  -j N                 codings in parallel (default: the number of cores)\n"
    "  --cache DIR          the cache folder (default: $CADENZOR_CACHE, $XDG_CACHE_HOME/cadenzor or\n"
    "                       ~/.cache/cadenzor)\n"
    "  --no-cache           neither read nor write the cache\n"
    "  --compatible         code as the exported functions do\n"
    "  -y                   overwrite existing outputs\n"
    "  -q                   no progress bar\n"
    "\n"
    "exit codes: 0 a plan fits, 1 usage error, 2 a prompt could not be processed or written,\n"
    "3 nothing fits the budget (the smallest possible image is named)\n";

int PlanUsage(const std::string& message) {
    std::fprintf(stderr, "cadenzor: %s\nTry 'cadenzor plan --help'.\n", message.c_str());
    return kExitUsage;
}

bool ParseCount(const std::string& text, unsigned long long* out) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

bool ParseBudget(const std::string& text, unsigned long long* out) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0) return false;
    const std::string unit = end;
    unsigned long long scale = 1;
    if (unit == "K" || unit == "k" || unit == "KiB" || unit == "KB")
        scale = 1024;
    else if (unit == "M" || unit == "m" || unit == "MiB" || unit == "MB")
        scale = 1024 * 1024;
    else if (!unit.empty() && unit != "B")
        return false;
    if (v == 0 || v > (1ull << 40) / scale) return false;
    *out = v * scale;
    return true;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    size_t at = 0;
    for (;;) {
        const size_t comma = text.find(',', at);
        std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (!item.empty()) items.push_back(item);
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return items;
}

std::string Number(double v, const char* format = "%.2f") {
    if (std::isnan(v)) return "-";
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string JsonNumber(double v) { return std::isfinite(v) ? Number(v, "%.3f") : "null"; }

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The choices of a prompt as a size-quality plot: every choice a dot, the
// chosen one a ring in red.
std::string Plot(const pl::Prompt& prompt, const pl::Outcome& chosen) {
    constexpr double kW = 560, kH = 240, kLeft = 52, kBottom = 30, kTop = 10, kRight = 14;
    double xmax = 1, ymin = 0, ymax = 1;
    for (const pl::Outcome& o : prompt.outcomes) {
        if (!o.ok) continue;
        xmax = std::max(xmax, static_cast<double>(o.bytes));
        ymin = std::min(ymin, std::floor(o.segmental / 5) * 5);
        ymax = std::max(ymax, std::ceil(o.segmental / 5) * 5);
    }
    auto x = [&](double b) { return kLeft + b / xmax * (kW - kLeft - kRight); };
    auto y = [&](double q) { return kH - kBottom - (q - ymin) / (ymax - ymin) * (kH - kBottom - kTop); };
    char cell[256];
    std::string svg;
    std::snprintf(cell, sizeof cell,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\">",
                  kW, kH, kW, kH);
    svg += cell;
    svg += "<title>" + HtmlEscape(BaseName(prompt.path)) + ": bytes against segmental SNR</title>";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#fbfbf8\"/>";
    std::snprintf(cell, sizeof cell,
                  "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#999\"/>"
                  "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#999\"/>",
                  kLeft, kH - kBottom, kW - kRight, kH - kBottom, kLeft, kTop, kLeft, kH - kBottom);
    svg += cell;
    for (double q = ymin; q <= ymax + 1e-9; q += 5) {
        std::snprintf(cell, sizeof cell,
                      "<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" text-anchor=\"end\">%.0f dB</text>", kLeft - 4,
                      y(q) + 3, q);
        svg += cell;
    }
    std::snprintf(cell, sizeof cell,
                  "<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\">0</text><text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" "
                  "text-anchor=\"end\">%.0f bytes</text>",
                  kLeft, kH - 12, kW - kRight, kH - 12, xmax);
    svg += cell;
    for (const pl::Outcome& o : prompt.outcomes) {
        if (!o.ok || &o == &chosen) continue;
        std::snprintf(cell, sizeof cell,
                      "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"#2b6cb0\"><title>%s: %llu bytes, %.2f dB</title>"
                      "</circle>",
                      x(static_cast<double>(o.bytes)), y(o.segmental), HtmlEscape(o.choice.Label()).c_str(),
                      static_cast<unsigned long long>(o.bytes), o.segmental);
        svg += cell;
    }
    std::snprintf(cell, sizeof cell,
                  "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"6\" fill=\"none\" stroke=\"#c53030\" stroke-width=\"2.5\">"
                  "<title>chosen: %s: %llu bytes, %.2f dB</title></circle>",
                  x(static_cast<double>(chosen.bytes)), y(chosen.segmental), HtmlEscape(chosen.choice.Label()).c_str(),
                  static_cast<unsigned long long>(chosen.bytes), chosen.segmental);
    svg += cell;
    return svg + "</svg>";
}

std::string Page(const pl::Survey& survey, const pl::Plan& plan, unsigned long long budget,
                 const std::string& summary) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>cadenzor plan</title>"
        "<style>body{font-family:sans-serif;margin:24px;color:#222}table{border-collapse:collapse}"
        "td,th{padding:4px 10px;text-align:right;border-bottom:1px solid #ddd}th{background:#eee}"
        "td.f,th.f{text-align:left}.row{margin:18px 0}.row h2{font-size:16px;margin:4px 0}</style></head><body>\n";
    page += "<h1>Plan for " + std::to_string(survey.prompts.size()) + " prompts in " + HtmlEscape(SizeText(budget)) +
            "</h1>\n<p>" + HtmlEscape(summary) + "</p>\n";
    page +=
        "<table><tr><th class=\"f\">prompt</th><th class=\"f\">choice</th><th>bytes</th><th>seg. SNR dB</th>"
        "<th>SNR dB</th></tr>\n";
    for (size_t i = 0; i < survey.prompts.size(); ++i) {
        const pl::Outcome& o = pl::Picked(survey, plan, i);
        page += "<tr><td class=\"f\">" + HtmlEscape(survey.prompts[i].path) + "</td><td class=\"f\">" +
                HtmlEscape(o.choice.Label()) + "</td><td>" + std::to_string(o.bytes) + "</td><td>" +
                Number(o.segmental) + "</td><td>" + Number(o.snr) + "</td></tr>\n";
    }
    page += "</table>\n";
    for (size_t i = 0; i < survey.prompts.size(); ++i) {
        const pl::Prompt& p = survey.prompts[i];
        if (p.melody || std::isnan(pl::Picked(survey, plan, i).segmental)) continue;  // no quality to plot
        page += "<div class=\"row\"><h2>" + HtmlEscape(p.path) + "</h2>" + Plot(p, pl::Picked(survey, plan, i)) +
                "</div>\n";
    }
    return page + "</body></html>\n";
}

}  // namespace

int RunPlan(const std::vector<std::string>& words) {
    std::vector<std::string> paths;
    unsigned long long budget = 0;
    pl::Settings settings;
    pl::Objective objective = pl::Objective::kWorst;
    bool json = false, quiet = false, overwrite = false, filesOnly = false;
    std::string html, applyDir, packImage;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& a = words[i];
        if (filesOnly || a.empty() || a[0] != '-' || a == "-") {
            paths.push_back(a);
            continue;
        }
        if (a == "--") {
            filesOnly = true;
            continue;
        }
        if (a == "-h" || a == "--help") {
            std::fputs(kPlanUsage, stdout);
            return kExitOk;
        }
        if (a == "-q") {
            quiet = true;
            continue;
        }
        if (a == "-y") {
            overwrite = true;
            continue;
        }
        if (a == "-v") continue;
        if (a == "--json") {
            json = true;
            continue;
        }
        if (a == "--no-cache") {
            settings.noCache = true;
            continue;
        }
        if (a == "--compatible") {
            settings.profile = api::Profile::Compatible();
            continue;
        }
        static const char* const kValued[] = {"--budget", "--to",    "--rates", "--bitrates", "--objective",
                                              "--html",   "--apply", "--pack",  "-j",         "--cache"};
        if (std::none_of(std::begin(kValued), std::end(kValued), [&](const char* v) { return a == v; }))
            return PlanUsage("unknown option '" + a + "'");
        if (i + 1 >= words.size()) return PlanUsage(a + " needs a value");
        const std::string v = words[++i];
        if (a == "--budget") {
            if (!ParseBudget(v, &budget)) return PlanUsage("--budget takes a size such as 65536, 512K or 2M");
        } else if (a == "--to") {
            const std::vector<uint32_t> known = pl::BinaryFormats();
            for (const auto& f : SplitList(v)) {
                const uint32_t id = FormatIdForExtension(f);
                if (id == kFormatNone || std::find(known.begin(), known.end(), id) == known.end())
                    return PlanUsage(
                        "'" + f +
                        "' makes no chip binary; the planner takes apm, ad4, mdm, 42m, pc8, lp8, p10, p16, "
                        "s08, s16, pam, mcp, mvc, wlp, esb, sbd");
                if (std::find(settings.formats.begin(), settings.formats.end(), id) == settings.formats.end())
                    settings.formats.push_back(id);
            }
            if (settings.formats.empty()) return PlanUsage("--to needs at least one format");
        } else if (a == "--rates" || a == "--bitrates") {
            std::vector<uint32_t>& list = a == "--rates" ? settings.rates : settings.bitRates;
            list.clear();
            for (const auto& item : SplitList(v)) {
                unsigned long long n = 0;
                const bool rate = a == "--rates";
                if (!ParseCount(item, &n) || (rate ? (n < 1000 || n > 96000) : (n < 100 || n > 65535)))
                    return PlanUsage(rate ? "--rates takes rates from 1000 to 96000 Hz, such as 8000,6000"
                                          : "--bitrates takes bit rates from 100 to 65535 bit/s, such as 6000,8000");
                list.push_back(static_cast<uint32_t>(n));
            }
            if (list.empty()) return PlanUsage(a + " needs at least one value");
        } else if (a == "--objective") {
            if (v == "worst")
                objective = pl::Objective::kWorst;
            else if (v == "mean")
                objective = pl::Objective::kMean;
            else
                return PlanUsage("--objective takes worst or mean");
        } else if (a == "--html") {
            html = v;
        } else if (a == "--apply") {
            applyDir = v;
        } else if (a == "--pack") {
            packImage = v;
        } else if (a == "-j") {
            unsigned long long n = 0;
            if (!ParseCount(v, &n) || n == 0 || n > 256) return PlanUsage("-j takes a number of workers from 1 to 256");
            settings.jobs = static_cast<unsigned>(n);
        } else if (a == "--cache") {
            settings.cacheFolder = v;
        }
    }
    if (paths.empty()) return PlanUsage("plan needs prompts (files or folders)");
    if (!budget) return PlanUsage("plan needs --budget SIZE");
    for (const std::string& out : {html, packImage, packImage.empty() ? std::string() : packImage + ".h"}) {
        if (!out.empty() && !overwrite && platform::FileExists(out)) {
            Fail(out, "the file exists (use -y to overwrite it)");
            return kExitFailed;
        }
    }
    settings.coderVersion = CADENZOR_VERSION;

    std::vector<std::string> inputs;
    std::string failure;
    if (!pl::CollectInputs(paths, inputs, &failure)) {
        std::fprintf(stderr, "cadenzor: %s\n", failure.c_str());
        return kExitFailed;
    }
    if (inputs.size() > api::planner::kPackMaxPrompts) {
        Fail(paths.front(), "a pack holds at most 65535 prompts");
        return kExitUsage;
    }
    const auto started = std::chrono::steady_clock::now();
    ProgressBar bar("planning  ", quiet || json);
    settings.progress = &bar;
    const pl::Survey survey = pl::RunSurvey(inputs, settings);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    bool failed = false;
    for (const pl::Prompt& p : survey.prompts)
        if (!p.ok) {
            Fail(p.path, p.failure);
            failed = true;
        }
    if (failed) {
        std::fprintf(stderr, "cadenzor: nothing was planned\n");
        return kExitFailed;
    }

    const pl::Plan plan = pl::Optimise(pl::TablesOf(survey), budget, objective);
    pl::SingleChoice single;
    const bool haveSingle = pl::BestSingleChoice(survey, budget, &single);
    if (!plan.fits) {
        Fail("--budget " + std::to_string(budget),
             "nothing fits: the smallest possible image is " + std::to_string(plan.smallestImage) + " bytes (" +
                 SizeText(plan.smallestImage) + ", every prompt at its cheapest choice)");
        if (json)
            std::printf("{\"budget\": %llu, \"fits\": false, \"smallest_image_bytes\": %llu}\n", budget,
                        static_cast<unsigned long long>(plan.smallestImage));
        return kExitOverBudget;
    }

    char line[512];
    std::snprintf(line, sizeof line,
                  "image %llu bytes of %llu (%s of %s); worst seg. SNR %.2f dB, mean %.2f dB%s; %zu codings, %zu "
                  "from the cache, %.1f s",
                  static_cast<unsigned long long>(plan.imageBytes), budget, SizeText(plan.imageBytes).c_str(),
                  SizeText(budget).c_str(), plan.worst, plan.mean,
                  plan.exact ? "" : (" (the best mean is at most " + Number(plan.meanBound) + " dB)").c_str(),
                  survey.coded + survey.cached, survey.cached, elapsed);
    const std::string summary = line;

    if (json) {
        std::printf(
            "{\"budget\": %llu, \"objective\": \"%s\", \"fits\": true, \"image_bytes\": %llu, "
            "\"smallest_image_bytes\": %llu, \"worst_segmental_snr_db\": %s, \"mean_segmental_snr_db\": %s, "
            "\"exact\": %s, \"mean_bound_db\": %s, \"coded\": %zu, \"cached\": %zu, \"elapsed_s\": %.3f, ",
            budget, objective == pl::Objective::kWorst ? "worst" : "mean",
            static_cast<unsigned long long>(plan.imageBytes), static_cast<unsigned long long>(plan.smallestImage),
            JsonNumber(plan.worst).c_str(), JsonNumber(plan.mean).c_str(), plan.exact ? "true" : "false",
            JsonNumber(plan.meanBound).c_str(), survey.coded, survey.cached, elapsed);
        if (haveSingle)
            std::printf(
                "\"single_choice\": {\"choice\": %s, \"image_bytes\": %llu, \"worst_segmental_snr_db\": %s, "
                "\"mean_segmental_snr_db\": %s}, ",
                JsonText(single.label).c_str(), static_cast<unsigned long long>(single.imageBytes),
                JsonNumber(single.worst).c_str(), JsonNumber(single.mean).c_str());
        else
            std::printf("\"single_choice\": null, ");
        std::printf("\"prompts\": [");
        for (size_t i = 0; i < survey.prompts.size(); ++i) {
            const pl::Prompt& p = survey.prompts[i];
            const pl::Outcome& o = pl::Picked(survey, plan, i);
            std::printf(
                "%s{\"file\": %s, \"melody\": %s, \"format\": %s, \"rate\": %u, \"choice\": %s, \"bytes\": %llu, "
                "\"segmental_snr_db\": %s, \"snr_db\": %s, \"choices\": [",
                i ? ", " : "", JsonText(p.path).c_str(), p.melody ? "true" : "false",
                JsonText(o.choice.extension).c_str(), o.choice.rate, JsonText(o.choice.Label()).c_str(),
                static_cast<unsigned long long>(o.bytes), JsonNumber(o.segmental).c_str(), JsonNumber(o.snr).c_str());
            bool first = true;
            for (const pl::Outcome& c : p.outcomes) {
                if (!c.ok) continue;
                std::printf("%s{\"choice\": %s, \"bytes\": %llu, \"segmental_snr_db\": %s, \"snr_db\": %s}",
                            first ? "" : ", ", JsonText(c.choice.Label()).c_str(),
                            static_cast<unsigned long long>(c.bytes), JsonNumber(c.segmental).c_str(),
                            JsonNumber(c.snr).c_str());
                first = false;
            }
            std::printf("]}");
        }
        std::printf("]}\n");
    } else {
        std::printf("%-32s %-22s %10s %9s %9s\n", "prompt", "choice", "bytes", "seg.SNR", "SNR");
        for (size_t i = 0; i < survey.prompts.size(); ++i) {
            const pl::Outcome& o = pl::Picked(survey, plan, i);
            std::printf("%-32s %-22s %10llu %9s %9s\n", BaseName(survey.prompts[i].path).c_str(),
                        o.choice.Label().c_str(), static_cast<unsigned long long>(o.bytes), Number(o.segmental).c_str(),
                        Number(o.snr).c_str());
        }
        std::printf("total: %zu prompts, %s\n", survey.prompts.size(), summary.c_str());
        if (haveSingle)
            std::printf(
                "one choice for all that fits best: %s, image %llu bytes, worst seg. SNR %.2f dB, mean %.2f dB\n",
                single.label.c_str(), static_cast<unsigned long long>(single.imageBytes), single.worst, single.mean);
        else
            std::printf("no single choice for all prompts fits the budget\n");
    }

    if (!html.empty()) {
        const std::string page = Page(survey, plan, budget, summary);
        if (!PublishBytes(html, page.data(), page.size(), &failure)) {
            Fail(html, failure);
            return kExitFailed;
        }
    }
    if (!applyDir.empty() || !packImage.empty()) {
        pl::ApplyTarget target;
        target.outFolder = applyDir;
        target.packImage = packImage;
        target.overwrite = overwrite;
        target.profile = settings.profile;
        std::vector<std::string> written;
        if (!pl::ApplyPlan(survey, plan, target, &written, &failure)) {
            std::fprintf(stderr, "cadenzor: %s\n", failure.c_str());
            return kExitFailed;
        }
        if (!json && !quiet)
            std::printf("wrote %zu files%s%s\n", written.size(), packImage.empty() ? "" : ", the image ",
                        packImage.c_str());
    }
    return kExitOk;
}

}  // namespace cz::cli
