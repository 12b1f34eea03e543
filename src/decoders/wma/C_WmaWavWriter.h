// The WAV writer of the WMA conversion: header first with zero sizes, the
// samples in whole blocks, the sizes patched on Close. A plain PCM record
// gets an 18-byte format chunk (a 46-byte header); the extensible form
// (format tag 0xFFFE, extra size 22) its whole 40 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/WaveFormat.h"
#include "platform/SafeFiles.h"

namespace cz::wma {

// A WAVEFORMATEXTENSIBLE-sized format record: the 16-byte record, the extra
// size and room for the 22 bytes of the extensible form.
struct WmaWavFormatRecord {
    S_WaveFormat format;
    uint16_t extraSize = 0;
    std::array<uint8_t, 22> extension{};
};

class C_WmaWavWriter {
public:
    C_WmaWavWriter() = default;
    ~C_WmaWavWriter();
    C_WmaWavWriter(const C_WmaWavWriter&) = delete;
    C_WmaWavWriter& operator=(const C_WmaWavWriter&) = delete;

    // Creates the file (under a temporary name beside path until Close)
    // and writes the header. False, with nothing left behind, on failure.
    bool Open(const std::string& path, const WmaWavFormatRecord& record);
    // The same into memory.
    bool OpenMemory(std::vector<uint8_t>* target, const WmaWavFormatRecord& record);
    // Writes the whole blocks of count bytes; false on a write error.
    bool Write(const void* bytes, size_t count);
    // Patches the data size and the RIFF size and puts the file in place.
    bool Close();
    // Drops the file; the name stays as it was.
    void Abandon();

    uint32_t DataBytes() const { return dataBytes_; }
    static uint32_t FormatLength(const WmaWavFormatRecord& record);

private:
    bool Put(const void* bytes, size_t count);
    bool WriteHeader(const WmaWavFormatRecord& record);
    bool PatchU32(uint64_t at, uint32_t value);

    std::optional<platform::AtomicOutput> output_;
    std::vector<uint8_t>* memory_ = nullptr;
    uint16_t blockAlign_ = 1;
    uint32_t dataSizeAt_ = 0;
    uint32_t dataStart_ = 0;
    uint32_t dataBytes_ = 0;
};

}  // namespace cz::wma
