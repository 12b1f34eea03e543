// What "info" says of a file beyond its sound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cz::cli {

// "APM, 4-bit chip ADPCM": the format as people call it; "" when unknown.
std::string FormatNameForPeople(uint32_t formatId, uint32_t codecType);

// The first frame of an MPEG audio file and its tags (ID3v2 text frames,
// else an ID3v1 tag).
struct MpegFacts {
    bool found = false;
    int version = 0;  // 1, 2 or 25 (MPEG-2.5)
    int layer = 0;
    int sampleRate = 0;
    int channels = 0;
    int kbps = 0;  // of the first frame; 0 for free format
    uint64_t fileBytes = 0;
    std::string title, artist, album;
};
bool ReadMpegFacts(const std::string& path, MpegFacts& facts);

}  // namespace cz::cli

namespace cz::cli {

// The LIST/INFO tags of a RIFF file ("INAM" -> "Hello"), in file order.
struct InfoTag {
    std::string id;
    std::string text;
};
std::vector<InfoTag> ReadRiffInfoTags(const std::string& path);

}  // namespace cz::cli
