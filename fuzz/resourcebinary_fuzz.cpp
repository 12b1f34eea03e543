// Resource binaries and pack images on arbitrary bytes: the reader of every
// coding, from memory.
//
// Checks: a binary that reads names its coding, has a sample rate, at most
// the sample cap, and markers in order inside (or at the end of) its
// samples; one that is refused has a reason; a pack image's entries lie
// inside it.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "codecs/rbf/RbfCoding.h"
#include "formats/binary/ResourceBinary.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    cz::S_ResourceBinary b;
    std::string reason;
    if (cz::ReadResourceBinary(bytes, b, &reason)) {
        Check(!b.coding.empty() && b.sampleRate != 0 && b.bytes == size);
        Check(b.samples.size() <= cz::kRbfMaxSamples);
        uint32_t last = 0;
        for (const cz::S_BinaryMarker& m : b.markers) {
            Check(m.position >= last && m.position <= b.samples.size());
            last = m.position;
        }
    } else {
        Check(!reason.empty() && b.samples.empty());
    }
    std::vector<cz::S_PackEntry> entries;
    if (cz::ReadPackImage(bytes, entries, &reason))
        for (const cz::S_PackEntry& e : entries) Check(uint64_t{e.offset} + e.size <= size);
    return 0;
}
