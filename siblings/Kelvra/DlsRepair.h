// A DLS bank rewritten for strict readers. What it repairs:
// - the RIFF length: one that runs past the end of the file, or stops short
//   of it, is set to the chunks actually there;
// - LIST and RIFF lengths recomputed from their contents;
// - the pad byte after every odd-sized chunk, added where it is missing;
// - the collection header (colh): its instrument count set to the number of
//   instruments in the instrument list;
// - the pool table (ptbl): its cue count set to the cues it holds.
// A chunk that runs past its parent, or a file that is not RIFF DLS, is
// refused rather than guessed at.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvra {

bool RepairDls(std::span<const uint8_t> in, std::vector<uint8_t>& out, std::string& error);

// Walks the chunk tree, calling visit(depth, id, listType, size) for each chunk.
// False with a reason on a chunk past its parent or a tree deeper than 16.
struct DlsChunkInfo {
    int depth;
    char id[5];
    char listType[5];
    uint32_t size;
};
bool WalkDls(std::span<const uint8_t> in, std::vector<DlsChunkInfo>& chunks, std::string& error);

}  // namespace kelvra
