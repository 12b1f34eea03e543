#include "codecs/mdpcm/C_MDPCMEncDec6Bit.h"

#include <algorithm>
#include <cstdlib>

#include "codecs/mdpcm/MdpcmPadding.h"

namespace cz {

namespace {

constexpr int kMinValue = 0;
constexpr int kMaxValue = 4095;

int Nearest6(int d, int step) {
    const int q = d >= 1 ? (d + step / 2) / step : (d - step / 2) / step;
    return std::clamp(q, C_MDPCMEncDec6Bit::kMinDifference6, C_MDPCMEncDec6Bit::kMaxDifference6);
}

}  // namespace

C_MDPCMEncDec6Bit::C_MDPCMEncDec6Bit(uint32_t headerAlias, uint16_t firstSampleBits)
    : C_MDPCMEncDec(headerAlias, firstSampleBits) {}

C_MDPCMEncDec6Bit::~C_MDPCMEncDec6Bit() = default;

uint32_t C_MDPCMEncDec6Bit::EncodeFrame(const uint16_t* samples, uint32_t sampleCount, uint32_t first,
                                        uint32_t frameLength, uint32_t kind, int32_t padMode) {
    if (!HaveRoom(size_t{1} + frameLength) || (samples == nullptr && sampleCount != 0)) return 0;
    auto target = [&](uint64_t pos, int v) {
        return pos < sampleCount ? std::min<int>(samples[pos], kMaxValue) : v + mdpcm::PadDelta(v, padMode);
    };
    int prev = current_;
    int peak = 0;
    for (uint32_t k = 0; k < frameLength; ++k) {
        const int t = target(uint64_t{first} + k, prev);
        peak = std::max(peak, std::abs(t - prev));
        prev = t;
    }
    int index = kScaleCount - 1;
    for (int i = 0; i < kScaleCount; ++i) {
        if (Threshold6(i) >= peak) {
            index = i;
            break;
        }
    }
    if (headerAlias_ != 0 && index == 14) index = 15;
    index = AvoidEndMarker(index, kind);
    const int step = Step6(index);
    Put(HeaderByte(index, kind));

    int v = current_;
    for (uint32_t k = 0; k < frameLength; ++k) {
        int q = Nearest6(target(uint64_t{first} + k, v) - v, step);
        v += q * step;
        while (v > kMaxValue) {
            v -= step;
            --q;
        }
        while (v < kMinValue) {
            v += step;
            ++q;
        }
        Put(static_cast<uint8_t>(static_cast<int8_t>(q)));
        if (k == 0) v = std::clamp(RoundFirstSample(v), kMinValue, kMaxValue);
    }
    current_ = v;
    return frameLength + 1;
}

uint32_t C_MDPCMEncDec6Bit::Decode(uint16_t* out, size_t outCapacity, const uint8_t* in, size_t inSize,
                                   uint16_t initialValue, uint32_t longLength, uint32_t shortLength,
                                   I_ProgressCallback* progress) {
    int v = std::min<int>(initialValue, kMaxValue);
    return DecodeFrames(out, outCapacity, in, inSize, longLength, shortLength, progress,
                        [&](const S_FrameHeader& frame, const uint8_t* bytes, size_t size, size_t capacity, size_t& pos,
                            size_t& written) {
                            ++pos;
                            const int step = Step6(frame.index);
                            for (uint32_t k = 0; k < frame.length; ++k) {
                                if (pos >= size || written >= capacity) return FrameStep::kReportAndStop;
                                // Bytes outside -31..31 are not written by the coder; they
                                // decode as their value all the same, clamped below.
                                v += static_cast<int8_t>(bytes[pos++]) * step;
                                if (k == 0) v = RoundFirstSample(v);
                                v = std::clamp(v, kMinValue, kMaxValue);
                                out[written++] = static_cast<uint16_t>(v);
                            }
                            return FrameStep::kNext;
                        });
}

}  // namespace cz
