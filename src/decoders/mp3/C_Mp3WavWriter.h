// Minimal streaming writer of a 16-bit PCM WAV file: the RIFF and data sizes
// are written as 0 and patched on Close.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/WaveFormat.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"

namespace cz::mp3 {

class C_Mp3WavWriter {
public:
    using FormatRecord = S_WaveFormat;

    C_Mp3WavWriter() = default;
    virtual ~C_Mp3WavWriter();
    C_Mp3WavWriter(const C_Mp3WavWriter&) = delete;
    C_Mp3WavWriter& operator=(const C_Mp3WavWriter&) = delete;

    // Starts the file for path and writes "RIFF", a zero size and "WAVE".
    // The bytes go to a temporary file beside path until Close; a writer
    // destroyed without Close drops them.
    bool Open(const std::string& path);
    // The same into memory: target receives the file's bytes.
    bool OpenMemory(std::vector<uint8_t>* target);
    // Writes the "fmt " chunk and the header of the "data" chunk.
    bool WriteFormat(const FormatRecord& format);
    // Appends count bytes; a block of zero bytes counts as a failed write.
    bool WriteSamples(const void* bytes, uint32_t count);
    // Patches the RIFF and data sizes, closes and puts the file in place
    // under its name; false (nothing changed under the name) on failure.
    bool Close();
    // Ends a failed conversion: the file is dropped and the name left as it
    // was. In memory the target keeps what was written.
    void Abandon();

private:
    bool Write(const void* bytes, size_t count);
    bool WriteU32(uint32_t value);
    std::optional<uint64_t> Position();
    bool SeekTo(uint64_t position);
    bool IsOpen() const { return file_ != nullptr || memory_ != nullptr; }

    std::optional<platform::AtomicOutput> output_;
    platform::File* file_ = nullptr;
    std::vector<uint8_t>* memory_ = nullptr;
    uint64_t memoryPosition_ = 0;
    uint32_t riffSizePosition_ = 0;
    uint32_t dataSizePosition_ = 0;
};

}  // namespace cz::mp3
