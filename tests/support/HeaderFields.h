// Header checks as tables: each row names a little-endian field by its
// offset and width and gives the value it must hold.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace cz::test {

struct FieldRow {
    size_t offset;  // from base
    int width;      // 1, 2 or 4 bytes
    uint64_t expected;
};

// Checks every row against bytes, offsets counted from base; a field past the
// end of bytes fails its row.
inline void ExpectFields(const std::vector<uint8_t>& bytes, std::initializer_list<FieldRow> rows, size_t base = 0) {
    for (const FieldRow& row : rows) {
        const size_t at = base + row.offset;
        if (at + static_cast<size_t>(row.width) > bytes.size()) {
            ADD_FAILURE() << "field at " << at << " (" << row.width << " bytes) lies past the end (" << bytes.size()
                          << " bytes)";
            continue;
        }
        uint64_t got = 0;
        for (int i = row.width - 1; i >= 0; --i) got = (got << 8) | bytes[at + static_cast<size_t>(i)];
        EXPECT_EQ(got, row.expected) << "field at " << base << " + " << row.offset << ", " << row.width << " bytes";
    }
}

}  // namespace cz::test
