// The format classes in the orders the factory and the probe table use them,
// and the writer of each id.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "formats/registry/FormatDescriptor.h"

namespace cz {

// The 34 classes in the order the factory tries them.
const std::vector<const FormatDescriptor*>& FormatOpenOrder();
// The 34 probes in probe-table order.
const std::vector<const FormatDescriptor*>& FormatProbes();
// Every row of every family.
const std::vector<const FormatDescriptor*>& FormatRows();
// The writer object for a format id, or none.
std::unique_ptr<C_WavFile> CreateFormatWriter(uint32_t formatId);
// The class name that writes an id (for messages), or none.
const char* FormatWriterName(uint32_t formatId);

}  // namespace cz
