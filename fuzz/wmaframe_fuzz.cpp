// WMA frame decoder fed coded units, the stream format taken from the input:
// byte 0 picks the version (bit 0) and the channel count (bit 1), byte 1 the
// sample rate, bytes 2-3 the bit rate in kbit/s, bytes 4-5 the unit size,
// bytes 6-7 the decoder flags of the format record's extra data; the rest is
// cut into units of that size. A failed unit resets the decoder, as the
// driver does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoders/wma/WmaDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace cz::wma;
    if (size < 8) {
        return 0;
    }
    static const uint32_t kRates[8] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 12000};
    WmaStreamFormat format;
    format.formatTag = (data[0] & 1) ? kWmaTagVersion2 : kWmaTagVersion1;
    format.channels = (data[0] & 2) ? 2 : 1;
    format.sampleRate = kRates[data[1] & 7];
    format.avgBytesPerSecond = uint32_t(data[2] | (data[3] << 8)) * 125u;
    format.blockAlign = uint16_t(data[4] | (data[5] << 8));
    format.bitsPerSample = 16;
    if (format.formatTag == kWmaTagVersion1) {
        format.extra = {0, 0, data[6], data[7]};
    } else {
        format.extra = {0, 0, 0, 0, data[6], data[7]};
    }
    WmaDecoder decoder;
    if (!decoder.Open(format)) {
        return 0;
    }
    std::vector<int16_t> out;
    data += 8;
    size -= 8;
    const size_t unit = format.blockAlign;
    int units = 0;
    for (size_t offset = 0; offset + unit <= size && units < 400; offset += unit, ++units) {
        // A copy of exactly one unit, so that a read past it is caught.
        const std::vector<uint8_t> piece(data + offset, data + offset + unit);
        if (!decoder.DecodeUnit(piece.data(), piece.size(), out)) {
            decoder.Reset();
        }
        if (out.size() > (1u << 20)) {
            out.clear();
        }
    }
    decoder.Flush(out);
    return 0;
}
