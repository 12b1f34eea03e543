// The format helper's DLS walker and repair on arbitrary bytes.
//
// Checks: the walk and the repair agree on what they accept, and a repaired
// bank is accepted again and repaired to itself.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "DlsRepair.h"

namespace {
void Check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> in(data, size);
    std::vector<kelvra::DlsChunkInfo> chunks;
    std::vector<uint8_t> fixed, again;
    std::string error;
    const bool walked = kelvra::WalkDls(in, chunks, error);
    const bool repaired = kelvra::RepairDls(in, fixed, error);
    Check(walked == repaired);
    if (!repaired) return 0;
    Check(kelvra::RepairDls(fixed, again, error));
    Check(again == fixed);
    return 0;
}
