#pragma once

#include <vector>

#include "midi/smf/I_MidiEvent.h"

namespace cz {

class C_MidiEvent : public I_MidiEvent {
public:
    C_MidiEvent() = default;
    C_MidiEvent(const C_MidiEvent&) = delete;
    C_MidiEvent& operator=(const C_MidiEvent&) = delete;

    int32_t Write(uint8_t* buffer, uint32_t* size, int32_t omitStatus) override;
    uint32_t GetSize() override;
    int32_t SetData(uint8_t status, const uint8_t* bytes, int32_t length) override;
    int32_t SetData(const uint8_t* bytes, int32_t length) override;
    int32_t GetDataLength() override;
    uint32_t ReadDeltaTime(const uint8_t* bytes) override;
    void SetDeltaTime(uint32_t ticks) override;
    uint32_t WriteDeltaTime(uint8_t* buffer) override;
    uint32_t GetDeltaTime() override;
    uint32_t GetDeltaTimeLength() override;
    uint8_t GetStatus() override;
    const uint8_t* GetData() override;
    uint8_t GetChannel() override;
    uint8_t GetCommand() override;
    int32_t IsEndOfTrack() override;
    ~C_MidiEvent() override = default;
    void SetChannel(uint8_t channel) override;

    // A note-on of three bytes with a nonzero velocity.
    bool IsNoteOn() const;
    // A meta event of type 51 (Set Tempo).
    bool IsSetTempo() const;
    // Microseconds per quarter note of a complete Set Tempo event, else 0.
    uint32_t GetTempoValue() const;

private:
    std::vector<uint8_t> data_;
    uint32_t delta_ = 0;
};

}  // namespace cz
