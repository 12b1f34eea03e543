// An ordered list of MIDI events that owns them.
#pragma once

#include <cstdint>

#include "midi/smf/I_MidiEvent.h"

namespace cz {

class I_MidiTrack {
public:
    // No events, or the first one is End of Track.
    virtual int32_t IsEmpty() = 0;
    // The last event is End of Track (false for an empty track).
    virtual int32_t HasEndOfTrack() = 0;
    // Parses a track body and appends its events; 0 on a malformed body
    // (the events before the fault stay).
    virtual int32_t SetData(const uint8_t* bytes, uint32_t length) = 0;
    // Writes the body, with running status, into a buffer of GetDataSize
    // bytes.
    virtual int32_t GetData(uint8_t* buffer) = 0;
    virtual uint32_t GetDataSize() = 0;
    virtual uint32_t GetEventCount() = 0;
    // A new event, owned by the caller until inserted.
    virtual I_MidiEvent* NewEvent() = 0;
    // Destroys an event that is not in a track.
    virtual void DeleteEvent(I_MidiEvent* event) = 0;
    // Takes the event and puts it before index (at the end past the end).
    // With keepTimes the event already at index keeps its absolute time.
    virtual int32_t InsertEvent(uint32_t index, I_MidiEvent* event, int32_t keepTimes) = 0;
    // Destroys the event at index; its delta passes to the next event.
    virtual int32_t RemoveEvent(uint32_t index) = 0;
    virtual I_MidiEvent* GetEvent(uint32_t index) = 0;
    // None for an empty track.
    virtual I_MidiEvent* GetLastEvent() = 0;
    // 0 for an empty track.
    virtual int32_t RemoveFirstEvent() = 0;
    virtual ~I_MidiTrack() = default;
    // Index of that event, or 0xFFFFFFFF.
    virtual uint32_t FindEvent(const I_MidiEvent* event) = 0;
};

}  // namespace cz
