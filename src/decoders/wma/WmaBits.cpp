#include "decoders/wma/WmaBits.h"

#include <algorithm>

namespace cz::wma {

bool Vlc::Build(int count, const uint16_t* codes, const uint8_t* lengths, int rootBits) {
    std::vector<uint32_t> wide(codes, codes + count);
    return Build(count, wide.data(), lengths, rootBits);
}

bool Vlc::Build(int count, const uint32_t* codes, const uint8_t* lengths, int rootBits) {
    codes_.assign(codes, codes + count);
    lengths_.assign(lengths, lengths + count);
    rootBits_ = rootBits;
    table_.assign(size_t(1) << rootBits, Entry{});
    std::vector<int> symbols;
    for (int s = 0; s < count; ++s) {
        if (lengths[s] > 0 && lengths[s] <= 32) {
            symbols.push_back(s);
        }
    }
    return Fill(0, rootBits, 0, symbols);
}

// Fills the table of `bits` index bits at `base` for the codes whose first
// `consumed` bits led here.
bool Vlc::Fill(size_t base, int bits, int consumed, const std::vector<int>& symbols) {
    std::vector<std::vector<int>> longer(size_t(1) << bits);
    for (const int s : symbols) {
        const int rest = lengths_[size_t(s)] - consumed;
        const uint32_t tail = codes_[size_t(s)] & (rest >= 32 ? 0xFFFFFFFFu : ((1u << rest) - 1u));
        if (rest <= bits) {
            const size_t first = size_t(tail) << (bits - rest);
            const size_t span = size_t(1) << (bits - rest);
            for (size_t i = first; i < first + span; ++i) {
                if (table_[base + i].length != 0) {
                    return false;
                }
                table_[base + i] = Entry{s, rest};
            }
        } else {
            longer[size_t(tail >> (rest - bits))].push_back(s);
        }
    }
    for (size_t i = 0; i < longer.size(); ++i) {
        if (longer[i].empty()) {
            continue;
        }
        if (table_[base + i].length != 0) {
            return false;
        }
        int maxRest = 0;
        for (const int s : longer[i]) {
            maxRest = std::max(maxRest, lengths_[size_t(s)] - consumed - bits);
        }
        const int subBits = std::min(maxRest, 8);
        const size_t subBase = table_.size();
        table_.resize(subBase + (size_t(1) << subBits));
        table_[base + i] = Entry{int32_t(subBase), -subBits};
        if (!Fill(subBase, subBits, consumed + bits, longer[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace cz::wma
