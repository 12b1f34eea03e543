// The input window of the MP3-to-WAV driver as the ID3v2 tag skipper sees
// it: the unconsumed bytes at the read position, and a refill that moves them
// to the front of the window and reads more after them.
#pragma once

#include <cstdint>

namespace cz::mp3 {

class I_Mp3ReadWindow {
public:
    virtual const uint8_t* ReadPosition() const = 0;
    virtual int32_t BytesLeft() const = 0;
    // Advances the read position by count bytes (at most BytesLeft()).
    virtual void Consume(int32_t count) = 0;
    // Refills when fewer than the refill threshold are left and the end of
    // the input has not been seen.
    virtual void Refill() = 0;

protected:
    ~I_Mp3ReadWindow() = default;
};

}  // namespace cz::mp3
