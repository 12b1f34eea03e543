// A Standard MIDI File on disk: the model with a file name, loading, saving
// and the whole-file edits (merging to format 0, trimming the silence before
// the first note).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "midi/smf/C_MidiData.h"
#include "platform/Platform.h"

namespace cz {

class C_MidiFile : public C_MidiData {
public:
    explicit C_MidiFile(const char* fileName = nullptr);

    // Whether the named file starts with a usable header. Silent.
    virtual int32_t CheckFile();
    // Reads the named file and loads its image.
    virtual int32_t Load();
    // Normalize, then writes the file. A failed save leaves no file at path.
    virtual int32_t Save(const char* path);
    // Only format 0, and only from format 0 or 1 (by MergeTracks).
    virtual int32_t ChangeFormat(uint16_t format);
    // Drops empty tracks, ends every track with End of Track and fixes the
    // format to the track count. Fails when no track is left.
    virtual int32_t Normalize();
    // Merges to format 0, then moves every track's first sounding note (and
    // all before it) to time 0.
    virtual int32_t TrimLeadingSilence();
    virtual int32_t ReadHeader(platform::File& file);
    virtual int32_t ReadTracks(platform::File& file);
    virtual int32_t WriteHeader(platform::File& file);
    virtual int32_t WriteTracks(platform::File& file);
    // Merges all tracks into one, in time order (ties to the lower track),
    // and sets format 0.
    virtual int32_t MergeTracks();

    // The file as written by Save (header and every track as it stands),
    // without normalising; none when a track body is too large for a chunk.
    std::optional<std::vector<uint8_t>> WriteImage();
    const std::string* GetFileName() const { return hasName_ ? &fileName_ : nullptr; }

private:
    bool AppendTracks(std::vector<uint8_t>& out);

    std::string fileName_;
    bool hasName_ = false;
};

}  // namespace cz
