// One event of a MIDI track: its delta time and the message bytes as they
// stand in the file after the delta, status byte included.
#pragma once

#include <cstdint>

namespace cz {

class I_MidiEvent {
public:
    // Writes the delta VLQ then the message, without its status byte when
    // omitStatus is set; *size receives the byte count written.
    virtual int32_t Write(uint8_t* buffer, uint32_t* size, int32_t omitStatus) = 0;
    // Delta VLQ length + message length.
    virtual uint32_t GetSize() = 0;
    // The message becomes status followed by length - 1 bytes from bytes.
    virtual int32_t SetData(uint8_t status, const uint8_t* bytes, int32_t length) = 0;
    // The message becomes a copy of length bytes.
    virtual int32_t SetData(const uint8_t* bytes, int32_t length) = 0;
    virtual int32_t GetDataLength() = 0;
    // Reads a VLQ (ending at its first byte below 0x80) into the delta time;
    // returns its length. The caller makes sure it ends in the buffer.
    virtual uint32_t ReadDeltaTime(const uint8_t* bytes) = 0;
    virtual void SetDeltaTime(uint32_t ticks) = 0;
    // Writes the low 28 bits of the delta; returns the length (1 to 4).
    virtual uint32_t WriteDeltaTime(uint8_t* buffer) = 0;
    virtual uint32_t GetDeltaTime() = 0;
    virtual uint32_t GetDeltaTimeLength() = 0;
    // First message byte, 0 without a message.
    virtual uint8_t GetStatus() = 0;
    virtual const uint8_t* GetData() = 0;
    // Channel of a channel message, 0xFF otherwise.
    virtual uint8_t GetChannel() = 0;
    // Status AND 0xF0, 0 without a message.
    virtual uint8_t GetCommand() = 0;
    // FF 2F 00 exactly.
    virtual int32_t IsEndOfTrack() = 0;
    virtual ~I_MidiEvent() = default;
    // Replaces the channel of a channel message; nothing otherwise.
    virtual void SetChannel(uint8_t channel) = 0;
};

}  // namespace cz
