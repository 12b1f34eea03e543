// The format classes the factory knows: the opening order, the probes and
// the writers, each one table. Adding a format class is filling in its row.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace cz {

class C_WavFile;

using FormatCreateFn = std::unique_ptr<C_WavFile> (*)();

// How a probe reads the variant flag that ReadHeader reports.
enum class ProbeVariant : uint8_t {
    kAny,        // accepted is enough
    kPlain,      // accepted and not the variant (flag 0)
    kVariant,    // accepted and the variant (flag nonzero)
};

struct S_FormatClass {
    uint32_t id;            // 0 for a class with no format id
    const char* className;
    FormatCreateFn create;  // none while the class is not built
};

struct S_FormatProbe {
    uint32_t id;
    const char* className;
    FormatCreateFn create;
    ProbeVariant variant;
};

// The 34 classes in the order the factory tries them.
std::span<const S_FormatClass> FormatOpenOrder();
// The 34 probes in probe-table order.
std::span<const S_FormatProbe> FormatProbes();
// The writer object for a format id, or none.
std::unique_ptr<C_WavFile> CreateFormatWriter(uint32_t formatId);
// The class name that writes an id (for messages), or none.
const char* FormatWriterName(uint32_t formatId);

}  // namespace cz
