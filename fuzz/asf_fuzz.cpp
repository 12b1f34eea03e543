// ASF reader and WMA-to-WAV driver on bytes in memory. The last byte picks
// how many bytes the source hands out per read, as a cache holding less than
// was asked for would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoders/wma/AsfReader.h"
#include "decoders/wma/C_WmaToWavConverter.h"

namespace {

class Source final : public cz::wma::I_AsfSource {
public:
    Source(const uint8_t* data, size_t size, size_t piece) : data_(data), size_(size), piece_(piece) {}
    const uint8_t* ReadAt(uint64_t offset, size_t count, size_t* available) override {
        *available = 0;
        if (offset >= size_) return nullptr;
        *available = std::min({count, piece_, size_t(size_ - offset)});
        return data_ + offset;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t piece_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t piece = size > 0 ? 1 + data[size - 1] % 97 * 85 : 1;
    Source source(data, size, piece);
    cz::wma::AsfReader reader(source);
    if (reader.ReadHeader() == cz::wma::AsfError::kNone) {
        for (size_t s = 0; s < reader.Info().audioStreams.size(); ++s) {
            cz::wma::AsfReader each(source);
            each.ReadHeader();
            each.SelectAudioStream(s);
            std::vector<cz::wma::AsfMediaObject> objects;
            while (each.NextPacket(objects) == cz::wma::AsfPacketResult::kOk) {
                if (objects.size() > 64) objects.clear();
            }
        }
    }
    std::vector<uint8_t> wav;
    cz::wma::C_WmaToWavConverter converter;
    converter.ConvertMemory(data, size, &wav, nullptr);
    if (wav.size() >= 46) {
        // The patched sizes always match what was written.
        const uint32_t riff =
            uint32_t(wav[4]) | (uint32_t(wav[5]) << 8) | (uint32_t(wav[6]) << 16) | (uint32_t(wav[7]) << 24);
        const uint32_t data =
            uint32_t(wav[42]) | (uint32_t(wav[43]) << 8) | (uint32_t(wav[44]) << 16) | (uint32_t(wav[45]) << 24);
        if (riff != wav.size() - 8 || data != wav.size() - 46) __builtin_trap();
    }
    return 0;
}
