// A Standard MIDI File held in memory: header fields and the owned tracks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "midi/smf/I_MidiTrack.h"

namespace cz {

class I_MidiData {
public:
    // ReadHeaderImage, then refuses a format above 2 or no tracks (with a
    // line on standard output).
    virtual int32_t ValidateHeaderImage(const uint8_t* image, size_t size) = 0;
    virtual uint16_t GetDivision() = 0;
    virtual uint16_t GetFormat() = 0;
    virtual uint16_t GetTrackCount() = 0;
    virtual uint16_t SetDivision(uint16_t division) = 0;
    virtual uint16_t SetFormat(uint16_t format) = 0;
    virtual uint16_t SetTrackCount(uint16_t count) = 0;
    // Microseconds per quarter note at the first sounding note.
    virtual uint32_t GetTempo() = 0;
    // The header, then the tracks of a whole file image in memory.
    virtual int32_t LoadImage(const uint8_t* image, size_t size) = 0;
    // A new empty track, owned by the caller until inserted.
    virtual I_MidiTrack* NewTrack() = 0;
    // Destroys a track that is not in the list.
    virtual void DeleteTrack(I_MidiTrack* track) = 0;
    // Takes the track and puts it before index (at the end past the end); a
    // format 0 file with two tracks or more becomes format 1.
    virtual int32_t InsertTrack(uint32_t index, I_MidiTrack* track) = 0;
    virtual int32_t RemoveTrack(uint32_t index) = 0;
    virtual I_MidiTrack* GetTrack(uint32_t index) = 0;
    virtual ~I_MidiData() = default;
    // The 14-byte header at the start of the image.
    virtual int32_t ReadHeaderImage(const uint8_t* image, size_t size) = 0;
    // The track chunks from byte 14 of the image on.
    virtual int32_t ReadTracksImage(const uint8_t* image, size_t size) = 0;
};

}  // namespace cz
