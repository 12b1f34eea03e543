#include "api/planner/PlanCache.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace cz::api::planner {

namespace {

// Raised whenever what an entry means changes (the quality measure, the
// lines), so that older entries are coded again.
constexpr const char* kVersion = "cadenzor-plan 2";

bool Unsigned(const std::string& text, uint64_t limit, uint64_t* out) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v > limit) return false;
    *out = v;
    return true;
}

bool Finite(const std::string& text, double* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// A measure: a finite number, or "-" for none (a silent prompt).
bool Measure(const std::string& text, double* out) {
    if (text == "-") {
        *out = std::nan("");
        return true;
    }
    return Finite(text, out);
}

std::string MeasureText(double v) {
    if (std::isnan(v)) return "-";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

}  // namespace

bool ParsePlanCache(const std::string& text, PlanCache& cache) {
    cache = PlanCache();
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kVersion) return false;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        size_t at = 0;
        for (;;) {
            const size_t tab = line.find('\t', at);
            f.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
            if (tab == std::string::npos) break;
            at = tab + 1;
        }
        if (f[0].empty()) continue;
        if (f.size() == 3 && f[0] == "source") {
            uint64_t rate = 0;
            double seconds = 0;
            if (Unsigned(f[1], 0xFFFFFFFF, &rate) && rate != 0 && Finite(f[2], &seconds) && seconds >= 0) {
                cache.sourceRate = static_cast<uint32_t>(rate);
                cache.seconds = seconds;
                cache.haveSource = true;
            }
        } else if (f.size() == 5 && f[1] == "ok") {
            CacheEntry e;
            e.ok = true;
            if (Unsigned(f[2], 0xFFFFFFFF, &e.bytes) && Measure(f[3], &e.segmental) && Measure(f[4], &e.snr))
                cache.entries[f[0]] = e;
        } else if (f.size() == 3 && f[1] == "fail") {
            CacheEntry e;
            e.reason = f[2];
            cache.entries[f[0]] = e;
        }
    }
    return true;
}

std::string PlanCacheText(const PlanCache& cache) {
    std::string text = std::string(kVersion) + "\n";
    char line[160];
    if (cache.haveSource) {
        std::snprintf(line, sizeof line, "source\t%u\t%.17g\n", cache.sourceRate, cache.seconds);
        text += line;
    }
    for (const auto& [key, e] : cache.entries) {
        if (key.empty() || key.find_first_of("\t\r\n") != std::string::npos) continue;
        if (e.ok) {
            std::snprintf(line, sizeof line, "\tok\t%llu\t", static_cast<unsigned long long>(e.bytes));
            text += key + line + MeasureText(e.segmental) + "\t" + MeasureText(e.snr) + "\n";
        } else {
            std::string reason = e.reason;
            for (char& c : reason)
                if (c == '\t' || c == '\n' || c == '\r') c = ' ';
            text += key + "\tfail\t" + reason + "\n";
        }
    }
    return text;
}

}  // namespace cz::api::planner
