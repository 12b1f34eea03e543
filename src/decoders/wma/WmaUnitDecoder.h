// What the WMA file decoder needs of a frame decoder: set up from the
// stream's format record, then fed one coded unit (blockAlign bytes) at a
// time. Behind an interface so that the ASF side can be driven by a stand-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "decoders/wma/AsfReader.h"

namespace cz::wma {

class I_WmaUnitDecoder {
public:
    virtual ~I_WmaUnitDecoder() = default;
    // False when the stream is not one the decoder can decode.
    virtual bool Open(const AsfAudioFormat& format) = 0;
    // Appends the interleaved 16-bit samples of one unit to out; false on a
    // stream error.
    virtual bool DecodeUnit(const uint8_t* data, size_t size, std::vector<int16_t>& out) = 0;
    // At the end of the stream: appends the samples still held back for
    // overlap with a next unit; false when there are none.
    virtual bool Flush(std::vector<int16_t>& out) { return false; }
    // Forget the previous units (after lost data).
    virtual void Reset() = 0;
    virtual const char* LastError() const = 0;
};

using WmaUnitDecoderFactory = std::function<std::unique_ptr<I_WmaUnitDecoder>()>;

// The WMA version 1 and 2 frame decoder.
std::unique_ptr<I_WmaUnitDecoder> MakeWmaUnitDecoder();

}  // namespace cz::wma
