// The planner's cache files on arbitrary bytes.
//
// Checks: what reads has measures that are numbers or none (never infinite)
// and a rate; written out and read
// again it gives the same entries.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "api/planner/PlanCache.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace pl = cz::api::planner;
    pl::PlanCache cache;
    if (!pl::ParsePlanCache(std::string(reinterpret_cast<const char*>(data), size), cache)) {
        Check(cache.entries.empty() && !cache.haveSource);
        return 0;
    }
    Check(!cache.haveSource || cache.sourceRate != 0);
    for (const auto& [key, e] : cache.entries) {
        Check(!key.empty());
        if (e.ok) Check(!std::isinf(e.segmental) && !std::isinf(e.snr) && e.bytes <= 0xFFFFFFFFull);
    }
    pl::PlanCache again;
    Check(pl::ParsePlanCache(pl::PlanCacheText(cache), again));
    Check(again.haveSource == cache.haveSource && again.sourceRate == cache.sourceRate);
    for (const auto& [key, e] : again.entries) {
        auto it = cache.entries.find(key);
        Check(it != cache.entries.end() && it->second.ok == e.ok);
        if (e.ok)
            Check(it->second.bytes == e.bytes && Same(it->second.segmental, e.segmental) &&
                  Same(it->second.snr, e.snr));
    }
    return 0;
}
