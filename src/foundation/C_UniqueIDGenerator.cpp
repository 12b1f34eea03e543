#include "foundation/C_UniqueIDGenerator.h"

#include <algorithm>

namespace cz {

uint32_t C_UniqueIDGenerator::GetNewId() {
    if (!released_.empty()) {
        uint32_t id = released_.back();
        released_.pop_back();
        return id;
    }
    return next_++;
}

void C_UniqueIDGenerator::ReleaseId(uint32_t id) {
    if (id == 0 || id >= next_) return;
    if (std::find(released_.begin(), released_.end(), id) != released_.end()) return;
    released_.push_back(id);
}

void C_UniqueIDGenerator::Reset() {
    released_.clear();
    next_ = 1;
}

}  // namespace cz
