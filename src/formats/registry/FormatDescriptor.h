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

// The options of the tool that set a format's coder.
enum FormatOption : uint8_t {
    kOptionMode = 0x01,     // --mode: the coder's coding mode
    kOptionBitrate = 0x02,  // --bitrate: the coder's bit rate
    kOptionQuality = 0x04,  // --quality: the coder's quality setting
};

// What people are told of a format: its name, what it is for, what it costs
// and what the tool can make of it.
struct FormatFacts {
    const char* extension;  // lower case, without the dot ("apm")
    const char* longName;   // "APM, 4-bit chip ADPCM"
    const char* magic;      // the file's first four bytes ("WAPM"); "" when they vary
    uint8_t bits;           // bits per coded sample; 0 where frames or the file decide
    uint8_t options;        // FormatOption flags
    bool binary;            // the resource converter makes a chip binary of it
    bool output;            // the tool offers it as an output (its class saves files)
    const char* purpose;    // what the format is for, in a line
};

struct FormatDescriptor {
    FormatId id;  // kFormatRbf (0) for the class outside the registry
    const char* className;
    FormatCreateFn create;  // none while the class is not built
    ProbeVariant probe;
    bool opens;   // tried by the factory (at its id's place in the open order)
    bool writes;  // creates the files of its id when a sound is saved
    FormatFacts facts;
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
