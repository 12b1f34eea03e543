// The format helper's XMF reader on arbitrary bytes: the header, the node
// tree (references, metadata, unpackers) and the type it reports; the MIDI
// file found, if any, goes through the bank-select rewrite.
//
// Checks: the tree keeps to its caps (node count, depth, unpacked size), a
// reported type 6 or 7 has a MIDI node and 7 a DLS node too, and the bank
// rewrite of a MIDI file it accepts is accepted again unchanged. The same
// bytes go through the unpacker of builds without zlib, which never gives
// more than the size it is told.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "SmfBanks.h"
#include "tree/Inflate.h"
#include "tree/XmfTree.h"

namespace {
void Check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    if (size >= 2) {
        std::vector<uint8_t> out;
        const size_t expected = static_cast<size_t>(data[0]) << 8 | data[1];
        if (kelvra::InflateZlib(std::span<const uint8_t>(data + 2, size - 2), expected, out, error))
            Check(out.size() == expected);
        Check(out.size() <= expected);
    }
    kelvra::XmfTree tree;
    if (!kelvra::ParseXmf(std::span<const uint8_t>(data, size), tree, error)) {
        Check(!error.empty());
        return 0;
    }
    Check(tree.nodes.size() <= kelvra::kMaxNodes);
    for (const auto& n : tree.nodes) {
        Check(n.depth <= kelvra::kMaxDepth);
        Check(n.bytes.size() <= kelvra::kMaxInflated);
    }
    const int type = kelvra::ResourceType(tree);
    if (type == 6 || type == 7) Check(kelvra::FirstSmf(tree) != nullptr);
    if (type == 7) Check(kelvra::FirstDls(tree) != nullptr);
    if (const auto* smf = kelvra::FirstSmf(tree)) {
        std::vector<uint8_t> once, twice;
        if (kelvra::InsertBankSelects(smf->bytes, once, error)) {
            Check(kelvra::InsertBankSelects(once, twice, error));
            Check(once == twice);
        }
    }
    return 0;
}
