// Random-access input for the file parsers: a file on disk or bytes in
// memory, read through the same calls so every parser can run on either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cz {

class InputStream {
public:
    virtual ~InputStream() = default;
    // Reads up to size bytes at offset; *got receives the count.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) = 0;
    virtual uint64_t Size() const = 0;
    // Reads exactly size bytes at offset or fails.
    bool ReadExactAt(uint64_t offset, void* buffer, size_t size) {
        size_t got = 0;
        return ReadAt(offset, buffer, size, &got) && got == size;
    }
    // Reads [offset, offset + size) into a vector; fails when it runs past the end.
    bool ReadBytes(uint64_t offset, size_t size, std::vector<uint8_t>& out);

    // Opens a file for reading (deny-write sharing); none on failure.
    static std::shared_ptr<InputStream> OpenFile(const std::string& path);
    static std::shared_ptr<InputStream> FromMemory(std::vector<uint8_t> bytes);
    static std::shared_ptr<InputStream> FromMemory(const uint8_t* data, size_t size);
};

}  // namespace cz
