// Stand-in for the format helper library: takes XMF files apart. It reads
// XMF 1.00/1.01 and Mobile XMF 2.00 files (see README.md for the type numbers
// it reports) and writes their Standard MIDI File, DLS and chip resource
// parts. Entry points (standard calling convention on 32-bit Windows), each
// 1 on success and 0 on failure unless stated:
//   GetXMFResourceType(xmf)                     -> type number, 0 when unknown
//   ConvertToSMF(xmf, mid)                      types 6 and 7
//   ConvertToSMFWithDLS(xmf, mid, dls)          type 7
//   InsertBankEvent(mid, playMid)
//   FixedDls(dls, playDls)
//   ConvertToRBF(xmf, rbf)                      type 5
// Outputs are written whole and put in place, never half-written.
#include <cstdio>
#include <string>
#include <vector>

#include "DlsRepair.h"
#include "ImfContent.h"
#include "SmfBanks.h"
#include "tree/XmfTree.h"
#include "cadenzor/cadenzor.h"
#include "common/SiblingCommon.h"

namespace {

bool Load(const char* path, kelvra::XmfTree& tree) {
    if (!path) return false;
    std::vector<uint8_t> bytes;
    if (!cz::sibling::ReadWholeFile(path, kelvra::kMaxFileSize, bytes)) return false;
    std::string error;
    if (!kelvra::ParseXmf(bytes, tree, error)) {
        std::fprintf(stderr, "Kelvra: %s: %s\n", path, error.c_str());
        return false;
    }
    return true;
}

bool Write(const char* path, const std::vector<uint8_t>& bytes) {
    return path && *path && cz::sibling::WriteWholeFile(path, bytes);
}

}  // namespace

CZ_SIBLING_EXPORT int32_t CZ_CALL GetXMFResourceType(const char* xmf) {
    kelvra::XmfTree tree;
    if (!Load(xmf, tree)) return 0;
    return kelvra::ResourceType(tree);
}

CZ_SIBLING_EXPORT int32_t CZ_CALL ConvertToSMF(const char* xmf, const char* mid) {
    kelvra::XmfTree tree;
    if (!Load(xmf, tree) || !mid || !*mid) return 0;
    const int type = kelvra::ResourceType(tree);
    if (type == 6 || type == 7) return Write(mid, kelvra::FirstSmf(tree)->bytes) ? 1 : 0;
    if (type == 1 || type == 3 || type == 8) {
        std::vector<uint8_t> smf;
        std::string error;
        if (!kelvra::ImfContentToSmf(type, tree.nodes[0].bytes, smf, error)) {
            std::fprintf(stderr, "Kelvra: %s: %s\n", xmf, error.c_str());
            return 0;
        }
        return Write(mid, smf) ? 1 : 0;
    }
    return 0;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL ConvertToSMFWithDLS(const char* xmf, const char* mid, const char* dls) {
    kelvra::XmfTree tree;
    if (!Load(xmf, tree) || kelvra::ResourceType(tree) != 7) return 0;
    if (!Write(mid, kelvra::FirstSmf(tree)->bytes)) return 0;
    if (Write(dls, kelvra::FirstDls(tree)->bytes)) return 1;
    std::remove(mid);  // both parts or neither
    return 0;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL InsertBankEvent(const char* mid, const char* playMid) {
    std::vector<uint8_t> in, out;
    if (!mid || !cz::sibling::ReadWholeFile(mid, kelvra::kMaxFileSize, in)) return 0;
    std::string error;
    if (!kelvra::InsertBankSelects(in, out, error)) {
        std::fprintf(stderr, "Kelvra: %s: %s\n", mid, error.c_str());
        return 0;
    }
    return Write(playMid, out) ? 1 : 0;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL FixedDls(const char* dls, const char* playDls) {
    std::vector<uint8_t> in, out;
    if (!dls || !cz::sibling::ReadWholeFile(dls, kelvra::kMaxFileSize, in)) return 0;
    std::string error;
    if (!kelvra::RepairDls(in, out, error)) {
        std::fprintf(stderr, "Kelvra: %s: %s\n", dls, error.c_str());
        return 0;
    }
    return Write(playDls, out) ? 1 : 0;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL ConvertToRBF(const char* xmf, const char* rbf) {
    kelvra::XmfTree tree;
    if (!Load(xmf, tree) || kelvra::ResourceType(tree) != 5) return 0;
    return Write(rbf, tree.nodes[0].bytes) ? 1 : 0;
}
