// The format facts the job interface lists and finds formats by: one row per
// format class, read from the format registry in one place (FormatFacts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cz::capi {

struct FormatFact {
    std::string name;       // "APM": the extension without its dot, upper case
    std::string extension;  // ".apm"
    std::string longName;
    uint32_t id = 0;
    bool makesBinary = false;  // a chip resource binary can be made from it
    bool writes = false;
};

// Built once; safe to call from any thread.
const std::vector<FormatFact>& FormatFacts();

// The first written format whose name or extension (with or without its dot)
// is text, without regard to case; none when no written format matches.
const FormatFact* FindWrittenFormat(const std::string& text);

}  // namespace cz::capi
