#pragma once

#include <memory>
#include <vector>

#include "midi/smf/I_MidiTrack.h"

namespace cz {

class C_MidiTrack : public I_MidiTrack {
public:
    C_MidiTrack() = default;
    C_MidiTrack(const C_MidiTrack&) = delete;
    C_MidiTrack& operator=(const C_MidiTrack&) = delete;

    int32_t IsEmpty() override;
    int32_t HasEndOfTrack() override;
    int32_t SetData(const uint8_t* bytes, uint32_t length) override;
    int32_t GetData(uint8_t* buffer) override;
    uint32_t GetDataSize() override;
    uint32_t GetEventCount() override;
    I_MidiEvent* NewEvent() override;
    void DeleteEvent(I_MidiEvent* event) override;
    int32_t InsertEvent(uint32_t index, I_MidiEvent* event, int32_t keepTimes) override;
    int32_t RemoveEvent(uint32_t index) override;
    I_MidiEvent* GetEvent(uint32_t index) override;
    I_MidiEvent* GetLastEvent() override;
    int32_t RemoveFirstEvent() override;
    ~C_MidiTrack() override = default;
    uint32_t FindEvent(const I_MidiEvent* event) override;

    // Appends a new event with this delta and a copy of the message (none
    // when length is 0).
    I_MidiEvent* Append(uint32_t delta, const uint8_t* bytes, int32_t length);
    I_MidiEvent* AppendEndOfTrack(uint32_t delta);

private:
    // Body size as a 64-bit count; GetDataSize reports it when it fits.
    uint64_t BodySize();

    std::vector<std::unique_ptr<I_MidiEvent>> events_;
};

}  // namespace cz
