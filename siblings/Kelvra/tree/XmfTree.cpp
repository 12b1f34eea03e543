#include "tree/XmfTree.h"

#include "tree/Inflate.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#if defined(KELVRA_HAVE_ZLIB)
#include <zlib.h>
#endif

namespace kelvra {

namespace {

// Our own single-node resources, by the 19 bytes of their format identifier.
struct OwnIdentifier {
    int type;
    uint8_t bytes[19];
};
constexpr OwnIdentifier kOwn[] = {
    {1,
     {0x80, 0x83, 0x82, 0x83, 0xBC, 0x96, 0xEB, 0xC2, 0x95, 0xB5, 0xBB, 0xA6, 0xD8, 0x9A, 0x99, 0xF7, 0xB0, 0x80,
      0x9D}},
    {2,
     {0x82, 0xC8, 0x87, 0xE0, 0xF3, 0x8F, 0xC9, 0xF2, 0x8C, 0xE5, 0x8E, 0xA0, 0x81, 0xFB, 0xE1, 0x87, 0xE8, 0xD3,
      0x94}},
    {3,
     {0x83, 0xA0, 0xDA, 0xB2, 0xFC, 0xF3, 0xDB, 0xA2, 0xA9, 0x99, 0x98, 0xCC, 0xD6, 0x93, 0xD2, 0xA1, 0xA2, 0x98,
      0xF5}},
    {4,
     {0x81, 0xF1, 0x96, 0x9F, 0xD6, 0xDD, 0x8F, 0xC2, 0xB4, 0xA5, 0xAA, 0xD9, 0xED, 0xEF, 0xCD, 0xC5, 0x9E, 0x90,
      0xD2}},
    {5,
     {0x80, 0x89, 0xF3, 0xBB, 0x83, 0xBD, 0xA1, 0xC2, 0x9A, 0xF5, 0xB5, 0xAA, 0xFE, 0x98, 0x81, 0xCD, 0xFF, 0xD0,
      0xBF}},
    {8,
     {0xF6, 0xFF, 0xC5, 0xF7, 0xAA, 0xBE, 0xC6, 0xD2, 0xA1, 0x82, 0x98, 0xFD, 0x8C, 0xF8, 0x8A, 0xEE, 0x98, 0xCA,
      0x82}},
};

// Standard metadata fields and reference types of the XMF layout.
constexpr uint32_t kFieldNodeName = 1;
constexpr uint32_t kFieldResourceFormat = 3;
constexpr uint32_t kRefInline = 1, kRefInFileResource = 2, kRefInFileNode = 3;
constexpr uint32_t kUnpackerStandard = 0, kStandardZlib = 1;

class Reader {
public:
    Reader(std::span<const uint8_t> data, size_t pos, size_t end) : data_(data), end_(std::min(end, data.size())) {
        pos_ = std::min(pos, end_);
    }
    bool Vlq(uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {  // at most 28 bits
            if (pos_ >= end_) return false;
            const uint8_t b = data_[pos_++];
            v = (v << 7) | (b & 0x7Fu);
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    bool Skip(size_t n) {
        if (n > end_ - pos_) return false;
        pos_ += n;
        return true;
    }
    size_t Pos() const { return pos_; }
    size_t End() const { return end_; }
    std::span<const uint8_t> Bytes(size_t n) const { return data_.subspan(pos_, n); }

private:
    std::span<const uint8_t> data_;
    size_t end_, pos_ = 0;
};

// A long VLQ (our identifiers are one of 20 bytes): the bytes it spans.
bool LongVlq(Reader& r, std::vector<uint8_t>& out) {
    out.clear();
    while (r.Pos() < r.End()) {
        const uint8_t b = r.Bytes(1)[0];
        r.Skip(1);
        out.push_back(b);
        if (!(b & 0x80)) return true;
        if (out.size() > 32) return false;
    }
    return false;
}

// The resource-format field's contents: a data-format VLQ, then the format
// type (0 standard, anything else ours to match by identifier) and its id.
void ReadResourceFormat(std::span<const uint8_t> contents, Resource& node) {
    Reader r(contents, 0, contents.size());
    uint32_t dataFormat = 0, formatType = 0;
    if (!r.Vlq(dataFormat) || !r.Vlq(formatType)) return;
    std::vector<uint8_t> id;
    if (!LongVlq(r, id)) return;
    if (formatType == 0) {
        uint32_t v = 0;
        Reader idr(id, 0, id.size());
        if (!idr.Vlq(v)) return;
        static constexpr ResourceFormat kStandard[] = {ResourceFormat::kSmf0,  ResourceFormat::kSmf1,
                                                       ResourceFormat::kDls1,  ResourceFormat::kDls2,
                                                       ResourceFormat::kDls21, ResourceFormat::kMobileDls};
        if (v < std::size(kStandard)) node.format = kStandard[v];
        return;
    }
    // Ours: the 19 identifier bytes, then the 00 that ends the VLQ.
    if (id.size() != 20) return;
    for (const auto& own : kOwn)
        if (std::memcmp(id.data(), own.bytes, 19) == 0) {
            node.format = ResourceFormat::kOwn;
            node.ownType = own.type;
        }
}

bool ReadMetadata(Reader r, Resource& node, std::string& error) {
    while (r.Pos() < r.End()) {
        uint32_t spec = 0, field = 0, versions = 0;
        if (!r.Vlq(spec)) return error = "bad metadata field", false;
        bool standard = spec == 0;
        if (standard) {
            if (!r.Vlq(field)) return error = "bad metadata field", false;
        } else if (!r.Skip(spec)) {
            return error = "metadata field name past its node header", false;
        }
        if (!r.Vlq(versions)) return error = "bad metadata field", false;
        if (versions == 0) {
            uint32_t length = 0;
            if (!r.Vlq(length) || length > r.End() - r.Pos())
                return error = "metadata contents past the node header", false;
            auto contents = r.Bytes(length);
            if (standard && field == kFieldResourceFormat) ReadResourceFormat(contents, node);
            if (standard && field == kFieldNodeName && length > 1)
                node.name.assign(contents.begin() + 1, contents.end());  // after its string format byte
            r.Skip(length);
        } else {
            // International contents: a table of versions; skipped whole.
            uint32_t tableLength = 0;
            if (!r.Vlq(tableLength) || !r.Skip(tableLength))
                return error = "metadata versions past the node header", false;
        }
    }
    return true;
}

bool Inflate(std::span<const uint8_t> packed, size_t decodedSize, std::vector<uint8_t>& out, std::string& error) {
    if (decodedSize > kMaxInflated) return error = "unpacked size above the cap", false;
    // Deflate gives at most 1032 bytes for each byte of input (RFC 1951
    // lengths of 258 from 2-bit codes): a stated size beyond that is false
    // and nothing is allocated for it.
    if (decodedSize > packed.size() * 1032u + 64u) return error = "unpacked size beyond what the data can give", false;
#if defined(KELVRA_HAVE_ZLIB)
    out.assign(decodedSize, 0);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return error = "zlib could not start", false;
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const size_t produced = out.size() - z.avail_out;
    inflateEnd(&z);
    // Exactly the size the node states: more (the stream did not end) or less is a fault.
    if (rc != Z_STREAM_END || produced != decodedSize)
        return error = "zlib data does not unpack to its stated size", false;
    return true;
#else
    // No zlib in this toolchain: our own unpacker, written from the RFCs.
    return InflateZlib(packed, decodedSize, out, error);
#endif
}

// What a node's header says, short of its metadata and unpackers, which are
// read only for a node that is kept.
struct NodeHead {
    size_t start = 0, end = 0;
    size_t metadataAt = 0, metadataEnd = 0, headerEnd = 0;
    uint32_t items = 0;
    uint32_t reference = 0;
    size_t contentAt = 0;  // just after the reference type
};

// The tree is walked with recursion only into folders, which the depth cap
// bounds. A file node that stands for another one (an in-file node
// reference) is followed in a loop; every node header read, references
// included, counts against kMaxVisits; where a chain of references ends is
// remembered by the offset of each of its links, and a file node already
// read is copied rather than read again, so that many references to one
// chain or one node cost one read of it.
class TreeParser {
public:
    TreeParser(std::span<const uint8_t> file, XmfTree& tree, std::string& error)
        : file_(file), tree_(tree), error_(error) {}

    bool Node(size_t start, size_t limit, int depth, size_t& next) {
        if (depth > kMaxDepth) return Fail("node tree deeper than the limit");
        if (start >= limit) return Fail("node past its parent");
        NodeHead head;
        if (!ReadHead(start, limit, head)) return false;
        next = head.end;
        // The node a reference leads to stands for this one.
        if (head.items == 0 && head.reference == kRefInFileNode && !Resolve(head)) return false;
        return Keep(head, depth);
    }

private:
    bool Fail(const char* why) {
        error_ = why;
        return false;
    }

    bool ReadHead(size_t start, size_t limit, NodeHead& head) {
        if (++visits_ > kMaxVisits) return Fail("more node references than the limit");
        head = NodeHead{};
        head.start = start;
        Reader r(file_, start, limit);
        uint32_t nodeLength = 0, headerLength = 0, metadataLength = 0;
        if (!r.Vlq(nodeLength) || nodeLength == 0 || nodeLength > limit - start)
            return Fail("node length past its parent");
        head.end = start + nodeLength;
        r = Reader(file_, r.Pos(), head.end);
        if (!r.Vlq(head.items) || !r.Vlq(headerLength)) return Fail("truncated node header");
        if (headerLength > nodeLength) return Fail("node header longer than the node");
        head.headerEnd = start + headerLength;
        if (!r.Vlq(metadataLength) || r.Pos() > head.headerEnd || metadataLength > head.headerEnd - r.Pos())
            return Fail("node metadata past the node header");
        head.metadataAt = r.Pos();
        head.metadataEnd = r.Pos() + metadataLength;
        Reader content(file_, head.headerEnd, head.end);
        if (!content.Vlq(head.reference)) return Fail("missing reference type");
        head.contentAt = content.Pos();
        return true;
    }

    // Follows in-file node references from head until a node that is not
    // one; head becomes that node. A reference back into the chain, or to a
    // node that is being read further up the tree, is refused.
    bool Resolve(NodeHead& head) {
        std::vector<size_t> links;
        std::unordered_set<size_t> chain{head.start};
        for (;;) {
            Reader r(file_, head.contentAt, head.end);
            uint32_t offset = 0;
            if (!r.Vlq(offset) || offset >= file_.size()) return Fail("reference past the end of the file");
            if (!chain.insert(offset).second || visiting_.count(offset) != 0)
                return Fail("node tree refers back to itself");
            links.push_back(offset);
            const auto known = chainEnd_.find(offset);
            const size_t at = known != chainEnd_.end() ? known->second : offset;
            if (!ReadHead(at, file_.size(), head)) return false;
            if (known != chainEnd_.end() || head.items != 0 || head.reference != kRefInFileNode) {
                for (size_t link : links) chainEnd_[link] = at;
                return true;
            }
        }
    }

    // The nodes together hold at most the file's bytes twice (resources
    // found by offset may overlap) and what was unpacked, once.
    bool Hold(size_t bytes) {
        held_ += bytes;
        if (held_ > 2 * file_.size() + inflated_) return Fail("node resources larger in total than the cap");
        return true;
    }

    // Reads the rest of a node that stays in the tree: its metadata,
    // unpackers and bytes, or the nodes of a folder.
    bool Keep(const NodeHead& head, int depth) {
        if (tree_.nodes.size() >= kMaxNodes) return Fail("more nodes than the limit");
        if (!visiting_.insert(head.start).second) return Fail("node tree refers back to itself");
        if (head.items == 0) {
            const auto seen = kept_.find(head.start);
            if (seen != kept_.end()) {
                Resource copy = tree_.nodes[seen->second];
                copy.depth = depth;
                if (!Hold(copy.bytes.size())) return false;
                tree_.nodes.push_back(std::move(copy));
                visiting_.erase(head.start);
                return true;
            }
        }
        Resource node;
        node.depth = depth;
        node.folder = head.items != 0;
        node.items = head.items;
        if (!ReadMetadata(Reader(file_, head.metadataAt, head.metadataEnd), node, error_)) return false;
        // Unpackers: a length, then entries (none when all that is left is zeros).
        bool zlib = false;
        uint32_t decodedSize = 0;
        {
            Reader u(file_, head.metadataEnd, head.headerEnd);
            uint32_t unpackersLength = 0;
            if (!u.Vlq(unpackersLength)) return Fail("missing node unpackers");
            auto rest = file_.subspan(u.Pos(), head.headerEnd - u.Pos());
            if (std::any_of(rest.begin(), rest.end(), [](uint8_t b) { return b != 0; })) {
                uint32_t idType = 0, id = 0;
                if (!u.Vlq(idType) || idType != kUnpackerStandard || !u.Vlq(id) || id != kStandardZlib)
                    return Fail("unknown unpacker");
                if (!u.Vlq(decodedSize)) return Fail("bad unpacker entry");
                zlib = true;
                if (u.Pos() < head.headerEnd) return Fail("more than one unpacker");
            }
        }
        Reader content(file_, head.contentAt, head.end);
        const size_t index = tree_.nodes.size();
        tree_.nodes.push_back(std::move(node));
        if (head.items != 0) {
            size_t childStart = 0, childLimit = 0;
            if (head.reference == kRefInline) {
                childStart = head.contentAt;
                childLimit = head.end;
            } else if (head.reference == kRefInFileNode || head.reference == kRefInFileResource) {
                uint32_t offset = 0;
                if (!content.Vlq(offset) || offset >= file_.size()) return Fail("reference past the end of the file");
                childStart = offset;
                childLimit = file_.size();
            } else {
                return Fail("unknown reference type");
            }
            for (uint32_t i = 0; i < head.items; ++i) {
                size_t after = 0;
                if (childStart >= childLimit) return Fail("folder holds fewer nodes than it states");
                if (!Node(childStart, childLimit, depth + 1, after)) return false;
                childStart = after;
            }
        } else {
            std::span<const uint8_t> bytes;
            if (head.reference == kRefInline) {
                bytes = file_.subspan(head.contentAt, head.end - head.contentAt);
            } else if (head.reference == kRefInFileResource) {
                uint32_t offset = 0;
                if (!content.Vlq(offset) || offset > file_.size()) return Fail("reference past the end of the file");
                bytes = TrimToContent(file_.subspan(offset), zlib);
            } else {
                return Fail("unknown reference type");
            }
            Resource& stored = tree_.nodes[index];
            if (zlib) {
                stored.packed = true;
                if (!Inflate(bytes, decodedSize, stored.bytes, error_)) return false;
                inflated_ += stored.bytes.size();
                if (inflated_ > kMaxInflated) return Fail("unpacked data larger in total than the cap");
            } else {
                stored.bytes.assign(bytes.begin(), bytes.end());
            }
            if (!Hold(stored.bytes.size())) return false;
            if (stored.format == ResourceFormat::kUnknown) stored.format = Sniff(stored.bytes);
            kept_[head.start] = index;
        }
        visiting_.erase(head.start);
        return true;
    }

    // A resource found by file offset runs to the end of its own chunks.
    static std::span<const uint8_t> TrimToContent(std::span<const uint8_t> rest, bool packed) {
        if (packed) return rest;
        if (rest.size() >= 8 && std::memcmp(rest.data(), "RIFF", 4) == 0) {
            const uint64_t size =
                8ull + (rest[4] | rest[5] << 8 | rest[6] << 16 | static_cast<uint32_t>(rest[7]) << 24);
            return rest.first(static_cast<size_t>(std::min<uint64_t>(size, rest.size())));
        }
        if (rest.size() >= 14 && std::memcmp(rest.data(), "MThd", 4) == 0) {
            size_t pos = 0;
            const unsigned tracks = rest[10] << 8 | rest[11];
            for (unsigned chunk = 0; chunk <= tracks && rest.size() - pos >= 8; ++chunk) {
                const uint64_t len = (static_cast<uint32_t>(rest[pos + 4]) << 24) | rest[pos + 5] << 16 |
                                     rest[pos + 6] << 8 | rest[pos + 7];
                if (len > rest.size() - pos - 8) return rest;
                pos += 8 + static_cast<size_t>(len);
            }
            return rest.first(pos);
        }
        return rest;
    }
    static ResourceFormat Sniff(const std::vector<uint8_t>& b) {
        if (b.size() >= 14 && std::memcmp(b.data(), "MThd", 4) == 0)
            return b[9] == 0 ? ResourceFormat::kSmf0 : ResourceFormat::kSmf1;
        if (b.size() >= 12 && std::memcmp(b.data(), "RIFF", 4) == 0 && std::memcmp(b.data() + 8, "DLS ", 4) == 0)
            return ResourceFormat::kDls1;
        return ResourceFormat::kUnknown;
    }

    std::span<const uint8_t> file_;
    XmfTree& tree_;
    std::string& error_;
    std::unordered_set<size_t> visiting_;          // nodes being read, up the tree
    std::unordered_map<size_t, size_t> chainEnd_;  // link of a reference chain -> where it ends
    std::unordered_map<size_t, size_t> kept_;      // file node read -> its entry in the tree
    size_t visits_ = 0, held_ = 0, inflated_ = 0;
};

bool IsSmf(ResourceFormat f) { return f == ResourceFormat::kSmf0 || f == ResourceFormat::kSmf1; }
bool IsDls(ResourceFormat f) {
    return f == ResourceFormat::kDls1 || f == ResourceFormat::kDls2 || f == ResourceFormat::kDls21 ||
           f == ResourceFormat::kMobileDls;
}

}  // namespace

bool ParseXmf(std::span<const uint8_t> file, XmfTree& tree, std::string& error) {
    tree = XmfTree{};
    if (file.size() > kMaxFileSize) return error = "file larger than the cap", false;
    if (file.size() < 8 || std::memcmp(file.data(), "XMF_", 4) != 0) return error = "not an XMF file", false;
    tree.version.assign(file.begin() + 4, file.begin() + 8);
    Reader r(file, 8, file.size());
    if (tree.version == "2.00") {
        if (file.size() < 16) return error = "truncated Mobile XMF header", false;
        auto be = [&](size_t at) {
            return static_cast<uint32_t>(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        };
        tree.fileType = be(8);
        tree.fileTypeRevision = be(12);
        r.Skip(8);
    } else if (tree.version != "1.00" && tree.version != "1.01") {
        return error = "unknown XMF version " + tree.version, false;
    }
    uint32_t fileLength = 0, tableLength = 0, treeStart = 0, treeEnd = 0;
    if (!r.Vlq(fileLength)) return error = "bad file length", false;
    const size_t tableAt = r.Pos();
    if (!r.Vlq(tableLength)) return error = "bad metadata types table", false;
    // The table's length counts its own length field.
    const size_t tableFieldBytes = r.Pos() - tableAt;
    if (tableLength > tableFieldBytes && !r.Skip(tableLength - tableFieldBytes))
        return error = "metadata types table past the end of the file", false;
    if (!r.Vlq(treeStart) || !r.Vlq(treeEnd)) return error = "bad tree offsets", false;
    if (treeStart >= file.size()) return error = "tree start past the end of the file", false;
    size_t next = 0;
    TreeParser parser(file, tree, error);
    // The tree end is not relied on: the root node's length bounds the tree.
    return parser.Node(treeStart, file.size(), 0, next);
}

const Resource* FirstSmf(const XmfTree& tree) {
    for (const auto& n : tree.nodes)
        if (!n.folder && IsSmf(n.format)) return &n;
    return nullptr;
}
const Resource* FirstDls(const XmfTree& tree) {
    for (const auto& n : tree.nodes)
        if (!n.folder && IsDls(n.format)) return &n;
    return nullptr;
}

int ResourceType(const XmfTree& tree) {
    // Ours: a single file node carrying one of our identifiers.
    if (tree.nodes.size() == 1 && tree.nodes[0].format == ResourceFormat::kOwn) return tree.nodes[0].ownType;
    const bool smf = FirstSmf(tree) != nullptr;
    const bool dls = FirstDls(tree) != nullptr;
    if (smf && dls) return 7;
    if (smf) return 6;
    return 0;
}

const char* FormatName(ResourceFormat format) {
    switch (format) {
        case ResourceFormat::kSmf0: return "SMF type 0";
        case ResourceFormat::kSmf1: return "SMF type 1";
        case ResourceFormat::kDls1: return "DLS level 1";
        case ResourceFormat::kDls2: return "DLS level 2";
        case ResourceFormat::kDls21: return "DLS level 2.1";
        case ResourceFormat::kMobileDls: return "Mobile DLS";
        case ResourceFormat::kOwn: return "chip resource";
        default: return "unknown";
    }
}

}  // namespace kelvra
