// The format classes in the orders the factory and the probe table use them,
// and the writer of each id.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
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

// Looking up the facts of a format (FormatFacts): the rows people meet are
// the classes of FormatOpenOrder(); the lookups below search every row and
// prefer, among the rows of one id, the one that writes it.
//
// The row of an id (kFormatRbf: the RBF class), or none.
const FormatDescriptor* FindFormat(uint32_t formatId);
// The row of an extension, with or without its dot, in any case ("apm",
// ".MDM"), or none.
const FormatDescriptor* FindFormatByExtension(std::string_view extension);
// The row of a name: an extension, the short name that starts the long name
// ("Q42M", "E2A") or a class name ("C_ApmFile"); any case. None when unknown.
const FormatDescriptor* FindFormatByName(std::string_view name);
// The short name of a row: the long name up to its comma ("APM").
std::string_view FormatShortName(const FormatDescriptor& row);

}  // namespace cz
