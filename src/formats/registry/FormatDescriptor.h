// One row per format class: what the factory, the probe table and the
// sound's save need to know of it. Each format family supplies its rows from
// its own folder; FormatTable.cpp gathers them and fixes the orders.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "formats/registry/FormatId.h"

namespace cz {

class C_WavFile;

using FormatCreateFn = std::unique_ptr<C_WavFile> (*)();

// How the probe table uses a class under a row's id.
enum class ProbeVariant : uint8_t {
    kNone,     // not probed under this id
    kAny,      // accepted is enough
    kPlain,    // accepted and not the variant (ReadHeader's flag 0)
    kVariant,  // accepted and the variant (flag nonzero)
};

struct FormatDescriptor {
    FormatId id;  // kFormatNone for a class outside the registry
    const char* className;
    FormatCreateFn create;  // none while the class is not built
    ProbeVariant probe;
    bool opens;   // tried by the factory (at its id's place in the open order)
    bool writes;  // creates the files of its id when a sound is saved
};

template <typename T>
std::unique_ptr<C_WavFile> MakeFormat() {
    return std::make_unique<T>();
}

// The rows of each family, in the order the family's classes are tried
// within one id (two APM readers share id 5).
std::span<const FormatDescriptor> WaveFormatRows();
std::span<const FormatDescriptor> WpcmFormatRows();
std::span<const FormatDescriptor> ApmFormatRows();
std::span<const FormatDescriptor> MpmFormatRows();
std::span<const FormatDescriptor> MdmFormatRows();
std::span<const FormatDescriptor> RbfFormatRows();
std::span<const FormatDescriptor> ExtFormatRows();
std::span<const FormatDescriptor> LegacyFormatRows();

}  // namespace cz
