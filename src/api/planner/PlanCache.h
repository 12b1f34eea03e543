// The planner's cache: one text file per input content (named by its hash)
// holding what every choice coded to. Lines, fields separated by tabs:
//
//   cadenzor-plan 2                          the version of the lines
//   source <rate> <seconds>                  the input as decoded
//   <key> ok <bytes> <segmental> <snr>       a coding and its measures ("-":
//                                            none, the prompt is silent)
//   <key> fail <reason>                      a choice that cannot code it
//
// A cache is a hint, never trusted: a line that does not read as above is
// left out (the choice is coded again), and applying a plan checks every
// resource against the bytes the cache promised.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace cz::api::planner {

struct CacheEntry {
    bool ok = false;
    uint64_t bytes = 0;
    double segmental = 0, snr = 0;
    std::string reason;
};

struct PlanCache {
    bool haveSource = false;
    uint32_t sourceRate = 0;
    double seconds = 0;
    std::map<std::string, CacheEntry> entries;
};

// The entries of a cache file's text; false (nothing kept) when the first
// line is not this version's.
bool ParsePlanCache(const std::string& text, PlanCache& cache);
std::string PlanCacheText(const PlanCache& cache);

}  // namespace cz::api::planner
