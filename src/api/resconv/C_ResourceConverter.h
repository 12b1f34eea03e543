// The driver behind the exports that make chip resources from sound files:
// save a sound in a chip format, turn a chip-format file into the chip's
// resource binary through the converter library Ombry, and write that binary
// again as a source header holding a byte array. Its one setting is the
// coders' search effort for the sounds it codes (classic unless set).
#pragma once

#include <cstdint>
#include <string>

#include "cadenzor/cadenzor.h"

namespace cz {

class I_ResourceStatInfo;

// The converter library's entry: (always 0, chip-format path, binary path,
// resource record) -> nonzero on success.
using ConvertResourceToBinaryFn = uint32_t(CZ_CALL*)(uint32_t reserved, const char* chipPath, const char* binaryPath,
                                                     I_ResourceStatInfo* record);

class C_ResourceConverter {
public:
    C_ResourceConverter() = default;
    virtual ~C_ResourceConverter();
    C_ResourceConverter(const C_ResourceConverter&) = delete;
    C_ResourceConverter& operator=(const C_ResourceConverter&) = delete;

    // Opens any sound file the factory knows and saves it as formatId at
    // destination. 1 or 0.
    int32_t ConvertFormat(const char* source, const char* destination, uint32_t formatId);
    // Has the converter library turn the chip-format file into the resource
    // binary; on success writes binaryPath + ".h" as well. Returns the
    // library's result (nonzero on success) or 0; 0 as well when the header
    // cannot be written (the binary then stays, and a message says why).
    uint32_t ConvertToBinary(const char* chipPath, const char* binaryPath);
    // Packs a WAV or APM file into an XMF container around its resource
    // binary (a WAV file is coded to APM first). Temporary files are removed
    // on every path.
    int32_t ConvertToXmf(const char* source, const char* xmfPath);
    int32_t ConvertApmToXmf(const char* apmPath, const char* xmfPath);
    // Writes the binary's bytes as a C array to binaryPath + ".h". False on
    // failure, with LastError set; a failed write leaves the header's name as
    // it was. ConvertToBinary reports a missing header through the message
    // sink and fails.
    bool WriteByteArrayHeader(const char* binaryPath);

    // The search effort of the coders that code a sound on the way (0, the
    // default: the classic coders, the bytes the exported functions write;
    // 1..3 fast, high, max). ConvertFormat and ConvertToXmf from WAV use it.
    void SetSearchEffort(uint8_t effort) { searchEffort_ = effort; }
    uint8_t SearchEffort() const { return searchEffort_; }

private:
    uint8_t searchEffort_ = 0;
};

namespace resource_converter {

// ConvertToBinary with the library (by its Windows name) and the entry named
// by the caller: the one place that loads the converter library.
uint32_t ConvertWithLibrary(const char* libraryName, const char* entryName, const char* chipPath,
                            const char* binaryPath);

// The array name of a binary: its file name with every character that
// cannot stand in a C identifier replaced by "_".
std::string ArrayName(const std::string& binaryPath);

}  // namespace resource_converter

}  // namespace cz
