// The format helper's XMF reader on arbitrary bytes: the header, the node
// tree (references, metadata, unpackers) and the type it reports; the MIDI
// file found, if any, goes through the bank-select rewrite.
//
// The same bytes also run as a program that builds a node tree: chains of
// in-file node references thousands of links long, folders fanning out to
// them, references into the middle of a node, to themselves, to each other
// and past the end, in-file resources and folders whose children start
// anywhere. Byte mutations alone rarely make such trees.
//
// Checks: the tree keeps to its caps (node count, depth, unpacked size, what
// the nodes hold together), a reported type 6 or 7 has a MIDI node and 7 a
// DLS node too, and the bank rewrite of a MIDI file it accepts is accepted
// again unchanged. The same bytes go through the unpacker of builds without
// zlib, which never gives more than the size it is told.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "SmfBanks.h"
#include "tree/Inflate.h"
#include "tree/XmfTree.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckTree(std::span<const uint8_t> file) {
    std::string error;
    kelvra::XmfTree tree;
    if (!kelvra::ParseXmf(file, tree, error)) {
        Check(!error.empty());
        return;
    }
    Check(tree.nodes.size() <= kelvra::kMaxNodes);
    size_t held = 0;
    for (const auto& n : tree.nodes) {
        Check(n.depth <= kelvra::kMaxDepth);
        Check(n.bytes.size() <= std::max(kelvra::kMaxInflated, file.size()));
        held += n.bytes.size();
    }
    Check(held <= kelvra::HeldCap(file.size()));
    const int type = kelvra::ResourceType(tree);
    if (type == 6 || type == 7) Check(kelvra::FirstSmf(tree) != nullptr);
    if (type == 7) Check(kelvra::FirstDls(tree) != nullptr);
    if (const auto* smf = kelvra::FirstSmf(tree)) {
        Bytes once, twice;
        if (kelvra::InsertBankSelects(smf->bytes, once, error)) {
            Check(kelvra::InsertBankSelects(once, twice, error));
            Check(once == twice);
        }
    }
}

// The program's bytes, read one field at a time; zeros once it runs out.
class Program {
public:
    explicit Program(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool Done() const { return pos_ >= bytes_.size(); }
    uint8_t U8() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
    uint32_t U16() {
        const uint32_t high = U8();
        return high << 8 | U8();
    }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

// Nodes with 4-byte VLQ lengths, so that a node's size never depends on
// where it points: a reference node is 22 bytes long.
void Vlq4(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(0x80 | ((v >> 21) & 0x7F)));
    out.push_back(static_cast<uint8_t>(0x80 | ((v >> 14) & 0x7F)));
    out.push_back(static_cast<uint8_t>(0x80 | ((v >> 7) & 0x7F)));
    out.push_back(static_cast<uint8_t>(v & 0x7F));
}
constexpr uint32_t kPoolAt = 22, kHeadSize = 4 + 4 + 4 + 4 + 1, kRefSize = kHeadSize + 1 + 4;
// Room for chains about twice as long as the reader's cap on node reads;
// more only makes each run slower.
constexpr size_t kMaxPool = 2 * kelvra::kMaxVisits * kRefSize;
constexpr uint8_t kInline = 1, kInFileResource = 2, kInFileNode = 3;

// A node of `items` contained items (0: a file node), no metadata or
// unpackers, the reference type and what follows it.
void PutNode(Bytes& out, uint32_t items, uint8_t reference, const Bytes& content) {
    Vlq4(out, kHeadSize + 1 + static_cast<uint32_t>(content.size()));
    Vlq4(out, items);
    Vlq4(out, kHeadSize);
    Vlq4(out, 0);         // metadata length
    out.push_back(0x01);  // no unpackers
    out.push_back(reference);
    out.insert(out.end(), content.begin(), content.end());
}
void PutRef(Bytes& out, uint32_t items, uint8_t reference, uint32_t offset) {
    Bytes content;
    Vlq4(content, offset);
    PutNode(out, items, reference, content);
}

// Where a reference goes, chosen by one byte: a node made before, the
// middle of one, the node itself, the first node, an offset from the
// program (forward, into the root, anywhere) or past the end.
uint32_t Target(uint8_t pick, Program& p, const std::vector<uint32_t>& starts, uint32_t self) {
    const uint32_t known = starts.empty() ? kPoolAt : starts[(pick >> 3) % starts.size()];
    switch (pick & 7) {
        case 0:
        case 1: return known;
        case 2: return known + 1 + (pick >> 3) % 16;
        case 3: return self;
        case 4: return kPoolAt;
        case 5: return kPoolAt + p.U16() * 3;
        case 6: return self + kRefSize;
        default: return 0x0FFFFFF0u;
    }
}

Bytes Generate(std::span<const uint8_t> bytes) {
    Program p(bytes);
    // The root: a reference, or a folder of references (fan-out), all to
    // one node or each to the next node made.
    const uint8_t rootKind = p.U8();
    const uint32_t fanOut = (p.U16() % 8192) + 1;
    const uint8_t rootPick = p.U8();
    Bytes pool;
    pool.reserve(kMaxPool + 2 * 1024);  // a chain may end a little past the cap
    std::vector<uint32_t> starts;
    auto here = [&] { return kPoolAt + static_cast<uint32_t>(pool.size()); };
    const Bytes smf = {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
                       96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
    for (int op = 0; op < 64 && !p.Done() && pool.size() < kMaxPool; ++op) {
        const uint32_t at = here();
        starts.push_back(at);
        switch (p.U8() % 8) {
            case 0: PutNode(pool, 0, kInline, smf); break;
            case 1: {  // a leaf of the program's own bytes
                Bytes raw(p.U8());
                for (auto& b : raw) b = p.U8();
                PutNode(pool, 0, kInline, raw);
                break;
            }
            case 2: {  // a chain, each link to the next, the last anywhere
                const uint32_t links = std::min<uint32_t>(p.U16() + 1, (kMaxPool - pool.size()) / kRefSize + 1);
                for (uint32_t i = 0; i + 1 < links; ++i) PutRef(pool, 0, kInFileNode, at + (i + 1) * kRefSize);
                PutRef(pool, 0, kInFileNode, Target(p.U8(), p, starts, at + (links - 1) * kRefSize));
                break;
            }
            case 3: PutRef(pool, 0, kInFileNode, at); break;  // itself
            case 4:                                           // two that point at each other
                PutRef(pool, 0, kInFileNode, at + kRefSize);
                PutRef(pool, 0, kInFileNode, at);
                break;
            case 5: {  // a folder whose children start at an offset
                const uint32_t items = p.U8() % 16 + 1;
                PutRef(pool, items, (items & 1) ? kInFileNode : kInFileResource, Target(p.U8(), p, starts, at));
                break;
            }
            case 6: {  // a folder of references in line
                const uint32_t items = p.U8() % 8 + 1;
                Bytes children;
                for (uint32_t i = 0; i < items; ++i)
                    PutRef(children, 0, kInFileNode, Target(p.U8(), p, starts, at + kHeadSize + 1 + i * kRefSize));
                PutNode(pool, items, kInline, children);
                break;
            }
            default: PutRef(pool, 0, kInFileResource, Target(p.U8(), p, starts, at)); break;
        }
    }
    const uint32_t rootAt = here();
    Bytes root;
    if (rootKind & 1) {
        Bytes children;
        children.reserve(static_cast<size_t>(fanOut) * kRefSize);
        for (uint32_t i = 0; i < fanOut; ++i) {
            const uint8_t pick = (rootKind & 4) ? static_cast<uint8_t>(i << 3) : rootPick;
            PutRef(children, 0, kInFileNode, Target(pick, p, starts, rootAt + kHeadSize + 1 + i * kRefSize));
        }
        PutNode(root, fanOut, kInline, children);
    } else {
        PutRef(root, 0, kInFileNode, Target(rootPick, p, starts, rootAt));
    }
    const uint32_t size = rootAt + static_cast<uint32_t>(root.size());
    Bytes file = {'X', 'M', 'F', '_', '1', '.', '0', (rootKind & 2) ? uint8_t('1') : uint8_t('0')};
    Vlq4(file, size);
    file.push_back(0x02);  // empty metadata types table
    file.push_back(0x00);
    Vlq4(file, rootAt);
    Vlq4(file, size);
    file.insert(file.end(), pool.begin(), pool.end());
    file.insert(file.end(), root.begin(), root.end());
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    if (size >= 2) {
        Bytes out;
        const size_t expected = static_cast<size_t>(data[0]) << 8 | data[1];
        if (kelvra::InflateZlib(std::span<const uint8_t>(data + 2, size - 2), expected, out, error))
            Check(out.size() == expected);
        Check(out.size() <= expected);
    }
    CheckTree(std::span<const uint8_t>(data, size));
    CheckTree(Generate(std::span<const uint8_t>(data, size)));
    return 0;
}
