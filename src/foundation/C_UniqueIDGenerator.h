// Hands out list identifiers: 1, 2, 3, ... with released identifiers reused
// last-in first-out.
#pragma once

#include <cstdint>
#include <vector>

namespace cz {

class C_UniqueIDGenerator {
public:
    uint32_t GetNewId();
    // Takes an identifier back when it was handed out and is not back yet.
    void ReleaseId(uint32_t id);
    void Reset();

private:
    uint32_t next_ = 1;
    uint8_t flag_ = 0;
    std::vector<uint32_t> released_;
};

}  // namespace cz
