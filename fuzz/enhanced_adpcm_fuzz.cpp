// The block-structured ADPCM coders on arbitrary input.
//
// Byte 0 chooses the work: bit 0 the coder (12-bit blocks, or the 16-bit
// two-tap coder of the chip's "WE2A" streams), bit 1 decode (set) or encode,
// bit 2 the step caps, bit 3 the table search, bit 4 the prediction. Bytes
// 1-4 give the 16-bit coder a start history. The rest is a stream to decode,
// or little-endian 16-bit samples to encode.
//
// Checked: decoding stays inside its buffers, respects a short output and
// agrees with itself on it; the 16-bit decoder (from mid-scale) plays what
// the RBF decoder of "WE2A" plays. Encoding fits GetMaxEncodedSize, gives a
// trace entry per sample and decodes back to one sample per input sample;
// 16-bit streams play the same through the RBF decoder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codecs/adpcm/C_EnhancedADPCM2Codec.h"
#include "codecs/adpcm/C_EnhancedADPCMCodec.h"
#include "codecs/rbf/RbfCoding.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

constexpr uint32_t kMaxSamples = 1u << 20;

struct Collect : cz::RbfSampleSink {
    std::vector<uint16_t> samples;
    bool Put(uint16_t value, uint32_t count) override {
        if (samples.size() + count > kMaxSamples) return false;
        samples.insert(samples.end(), count, value);
        return true;
    }
};

// What the chip's decoder plays of a "WE2A" payload (at most kMaxSamples).
std::vector<uint16_t> ChipPlays(const std::vector<uint8_t>& payload) {
    const uint8_t magic[4] = {'W', 'E', '2', 'A'};
    Collect sink;
    cz::OpenRbfDecoder(magic)->Decode(payload, sink);
    return sink.samples;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5 || size > (1u << 16)) return 0;
    const uint8_t selector = data[0];
    const bool wide = (selector & 1) != 0;
    const uint32_t limit = (selector >> 2) & 1, search = (selector >> 3) & 1, predict = (selector >> 4) & 1;
    std::unique_ptr<cz::C_EnhancedADPCMCodec> coder;
    cz::C_EnhancedADPCM2Codec* wideCoder = nullptr;
    if (wide) {
        auto c = std::make_unique<cz::C_EnhancedADPCM2Codec>(16, limit, search, predict);
        wideCoder = c.get();
        coder = std::move(c);
    } else {
        coder = std::make_unique<cz::C_EnhancedADPCMCodec>(12, limit, search);
    }
    const uint16_t full = wide ? 65535 : 4095;
    const std::vector<uint8_t> body(data + 5, data + size);
    const auto bodySize = static_cast<uint32_t>(body.size());

    if (selector & 2) {
        const uint32_t capacity = std::min<uint32_t>(coder->GetDecodedBufferSize(bodySize) / 2, kMaxSamples);
        std::vector<uint16_t> out(capacity);
        const uint32_t written = coder->Decode(body.data(), bodySize, out.data(), capacity * 2, nullptr);
        Check(written % 2 == 0 && written <= capacity * 2);
        out.resize(written / 2);
        for (uint16_t w : out) Check(w <= full);
        std::vector<uint16_t> small(out.size() / 3);
        const uint32_t smallWritten =
            coder->Decode(body.data(), bodySize, small.data(), static_cast<uint32_t>(small.size() * 2 + 1), nullptr);
        Check(smallWritten == small.size() * 2);
        Check(std::equal(small.begin(), small.end(), out.begin()));
        if (wide) {
            const std::vector<uint16_t> chip = ChipPlays(body);
            const size_t n = std::min(chip.size(), out.size());
            Check(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n), chip.begin()));
            Check(out.size() == capacity || out.size() == chip.size());
        }
        return 0;
    }

    if (wideCoder)
        wideCoder->SetStartHistory(static_cast<uint16_t>(data[1] | data[2] << 8),
                                   static_cast<uint16_t>(data[3] | data[4] << 8));
    const uint32_t count = bodySize / 2;
    std::vector<uint16_t> samples(count);
    for (uint32_t i = 0; i < count; ++i) samples[i] = static_cast<uint16_t>(body[2 * i] | body[2 * i + 1] << 8);
    const uint32_t bound = coder->GetMaxEncodedSize(count, 0);
    std::vector<uint8_t> out(bound);
    const uint32_t used = coder->Encode(count, samples.data(), out.data(), bound, 0, nullptr);
    if (count == 0) {
        Check(used == 0);
        return 0;
    }
    Check(used > 0 && used <= bound);
    Check(coder->GetStepIndexTraceSize() == count);
    const uint8_t* trace = coder->GetStepIndexTrace();
    for (uint32_t i = 0; i < count; ++i) Check(trace[i] < 64);
    out.resize(used);
    std::vector<uint16_t> decoded(count);
    Check(coder->Decode(out.data(), used, decoded.data(), 2 * count, nullptr) == 2 * count);
    if (wide && data[1] == 0 && data[2] == 0x80 && data[3] == 0 && data[4] == 0x80) {
        out.push_back(0);
        out.push_back(0);
        Check(ChipPlays(out) == decoded);
    }
    return 0;
}
