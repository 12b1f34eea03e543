// Base of every item kept in a foundation list: the list hands out its
// identifier when it takes the item in.
#pragma once

#include <cstdint>

namespace cz {

class C_CUItem {
public:
    virtual ~C_CUItem() = default;
    uint32_t GetItemId() const { return itemId_; }
    void SetItemId(uint32_t id) { itemId_ = id; }

private:
    uint32_t itemId_ = 0;
};

}  // namespace cz
