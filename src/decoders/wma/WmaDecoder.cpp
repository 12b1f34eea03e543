// WMA version 1 and 2 frame decoder.
//
// A stream is a sequence of frames of frameLen samples per channel. A frame
// is cut into blocks (all frameLen long unless the stream switches block
// lengths); each block carries, per channel, a gain, a spectral envelope
// (the exponents: Huffman-coded steps per band, or ten line spectral pairs),
// optional noise-substituted high bands and run/level coded coefficients.
// The coefficients go through an inverse MDCT and are overlapped with the
// neighbouring blocks under sine windows. With the bit reservoir a coded
// unit (a "superframe") holds several frames, the first of which may have
// begun in the previous unit.
//
// The arithmetic is single precision throughout, in a fixed order (the
// build forbids contraction and uses SSE on 32-bit x86), so every build
// produces the same samples.
#include "decoders/wma/WmaDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "decoders/wma/WmaBits.h"
#include "decoders/wma/WmaImdct.h"
#include "decoders/wma/WmaTables.h"

namespace cz::wma {

namespace {

constexpr int kMaxChannels = 2;
constexpr int kMinBlockBits = 7;
constexpr int kMaxBlockBits = 11;
constexpr int kMaxBlockLen = 1 << kMaxBlockBits;
constexpr int kMaxBlockSizes = kMaxBlockBits - kMinBlockBits + 1;
constexpr int kMaxBands = 25;
constexpr int kNoiseTableSize = 8192;
// Largest carried-over part of a unit (the reservoir).
constexpr size_t kMaxReservoir = 32768;
constexpr size_t kPadding = 16;
// Exponent steps accepted: 10^(e/16) for e in this range.
constexpr int kMinExponent = -100;
constexpr int kMaxExponent = 200;
constexpr int kLspPowBits = 7;

// Rounds to the nearest integer (ties to even) and saturates to 16 bits; NaN
// gives 0.
inline int16_t ToSample(float v) {
    if (!(v == v)) {
        return 0;
    }
    v = v < -32768.0f ? -32768.0f : (v > 32767.0f ? 32767.0f : v);
#if defined(__SSE2__) || defined(_M_X64)
    return int16_t(_mm_cvtss_si32(_mm_set_ss(v)));
#else
    return int16_t(std::lrint(v));
#endif
}

// out[i] += in[i] * w[i] for i < n (n a multiple of 4 from 4 on).
inline void MultiplyAdd(float* out, const float* in, const float* w, int n) {
    int i = 0;
#if defined(__SSE2__) || defined(_M_X64)
    for (; i + 4 <= n; i += 4) {
        const __m128 p = _mm_mul_ps(_mm_loadu_ps(in + i), _mm_loadu_ps(w + i));
        _mm_storeu_ps(out + i, _mm_add_ps(_mm_loadu_ps(out + i), p));
    }
#endif
    for (; i < n; ++i) {
        out[i] += in[i] * w[i];
    }
}

// out[i] = in[i] * w[n - 1 - i] for i < n.
inline void MultiplyReversed(float* out, const float* in, const float* w, int n) {
    int i = 0;
#if defined(__SSE2__) || defined(_M_X64)
    for (; i + 4 <= n; i += 4) {
        __m128 r = _mm_loadu_ps(w + n - 4 - i);
        r = _mm_shuffle_ps(r, r, _MM_SHUFFLE(0, 1, 2, 3));
        _mm_storeu_ps(out + i, _mm_mul_ps(_mm_loadu_ps(in + i), r));
    }
#endif
    for (; i < n; ++i) {
        out[i] = in[i] * w[n - 1 - i];
    }
}

// out[i] = 0 for i < n.
inline void Zero(float* out, int n) {
    int i = 0;
#if defined(__SSE2__) || defined(_M_X64)
    const __m128 z = _mm_setzero_ps();
    for (; i + 4 <= n; i += 4) {
        _mm_storeu_ps(out + i, z);
    }
#endif
    for (; i < n; ++i) {
        out[i] = 0.0f;
    }
}

// out[i] = in[i] * e[i] * mult for i < n, multiplied in that order.
inline void ScaleBy(float* out, const float* in, const float* e, float mult, int n) {
    int i = 0;
#if defined(__SSE2__) || defined(_M_X64)
    const __m128 m = _mm_set1_ps(mult);
    for (; i + 4 <= n; i += 4) {
        const __m128 p = _mm_mul_ps(_mm_loadu_ps(in + i), _mm_loadu_ps(e + i));
        _mm_storeu_ps(out + i, _mm_mul_ps(p, m));
    }
#endif
    for (; i < n; ++i) {
        out[i] = in[i] * e[i] * mult;
    }
}

// Mid/side to left/right: a[i] + b[i] and a[i] - b[i].
inline void MidSide(float* a, float* b, int n) {
    int i = 0;
#if defined(__SSE2__) || defined(_M_X64)
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(a + i);
        const __m128 y = _mm_loadu_ps(b + i);
        _mm_storeu_ps(a + i, _mm_add_ps(x, y));
        _mm_storeu_ps(b + i, _mm_sub_ps(x, y));
    }
#endif
    for (; i < n; ++i) {
        const float t = a[i] - b[i];
        a[i] += b[i];
        b[i] = t;
    }
}

int FloorLog2(uint32_t v) {
    int r = 0;
    while (v > 1) {
        v >>= 1;
        ++r;
    }
    return r;
}

}  // namespace

struct WmaDecoder::State {
    const char* error = "decoder not open";
    bool open = false;

    // Set-up.
    int version = 0;
    int channels = 0;
    int sampleRate = 0;
    size_t unitSize = 0;
    bool useExpVlc = false;
    bool useBitReservoir = false;
    bool useVariableBlockLen = false;
    bool useNoiseCoding = false;
    int frameLenBits = 0;
    int frameLen = 0;
    int blockSizes = 0;
    int byteOffsetBits = 0;
    int coefsStart = 0;
    float noiseMult = 0.0f;
    int coefsEnd[kMaxBlockSizes] = {};
    int highBandStart[kMaxBlockSizes] = {};
    int bandCount[kMaxBlockSizes] = {};
    int bands[kMaxBlockSizes][kMaxBands] = {};
    int highBandCount[kMaxBlockSizes] = {};
    int highBands[kMaxBlockSizes][kMaxBands] = {};

    Vlc expVlc, gainVlc, coefVlc[2];
    std::vector<uint16_t> runs[2];
    std::vector<float> levels[2];
    std::vector<float> noise;
    std::vector<float> powers;  // 10^(e/16), indexed by e - kMinExponent
    std::vector<float> lspCos;
    float lspPowE[256] = {};
    float lspPowM1[1 << kLspPowBits] = {};
    float lspPowM2[1 << kLspPowBits] = {};
    Imdct imdct[kMaxBlockSizes];
    std::vector<float> windows[kMaxBlockSizes];

    // Per channel.
    std::vector<float> exponents[kMaxChannels];
    float maxExponent[kMaxChannels] = {};
    int exponentsBsize[kMaxChannels] = {};
    bool exponentsSet[kMaxChannels] = {};
    std::vector<float> coefs1[kMaxChannels];
    std::vector<float> coefs[kMaxChannels];
    std::vector<float> frameOut[kMaxChannels];
    bool channelCoded[kMaxChannels] = {};
    bool highBandCoded[kMaxChannels][kMaxBands] = {};
    int highBandValue[kMaxChannels][kMaxBands] = {};
    std::vector<float> output;

    // Running state.
    int noiseIndex = 0;
    // Samples per channel still to drop at the start of the stream (the
    // encoder's two frames of priming), and whether the overlap holds a tail.
    int skip = 0;
    bool tailPending = false;
    int blockLenBits = 0;
    int prevBlockLenBits = 0;
    int nextBlockLenBits = 0;
    int blockLen = 0;
    int blockPos = 0;
    bool resetBlockLengths = true;
    bool msStereo = false;
    std::vector<uint8_t> reservoir;
    size_t reservoirLen = 0;
    int reservoirBitOffset = 0;
    std::vector<uint8_t> unit;

    BitReader bits;

    bool Setup(const WmaStreamFormat& format);
    void ResetRunning();
    bool DecodeFrame(std::vector<int16_t>& out);
    void EmitFrame(std::vector<int16_t>& out);
    int DecodeBlock();  // 1 last block of the frame, 0 more blocks, -1 error
    bool DecodeExponentsVlc(int ch);
    void DecodeExponentsLsp(int ch);
    float PowMinusQuarter(float x) const;
    bool DecodeRunLevel(int ch, int table, int count, int escapeBits);
    void ComputeCoefficients(int ch, int bsize, int totalGain);
    void Window(float* out) const;
    bool Fail(const char* why) {
        error = why;
        return false;
    }
    int FailBlock(const char* why) {
        error = why;
        return -1;
    }
};

WmaDecoder::WmaDecoder() : state_(std::make_unique<State>()) {}
WmaDecoder::~WmaDecoder() = default;

bool WmaDecoder::Open(const WmaStreamFormat& format) {
    auto fresh = std::make_unique<State>();
    const bool ok = fresh->Setup(format);
    if (!ok) {
        state_->open = false;
        state_->error = fresh->error;
        return false;
    }
    state_ = std::move(fresh);
    return true;
}

const char* WmaDecoder::LastError() const { return state_->error; }

uint32_t WmaDecoder::FrameLength() const { return state_->open ? uint32_t(state_->frameLen) : 0u; }

void WmaDecoder::Reset() {
    if (state_->open) {
        state_->ResetRunning();
    }
}

bool WmaDecoder::State::Setup(const WmaStreamFormat& format) {
    if (format.formatTag == kWmaTagVersion1) {
        version = 1;
    } else if (format.formatTag == kWmaTagVersion2) {
        version = 2;
    } else {
        return Fail("not a WMA version 1 or 2 stream");
    }
    if (format.channels < 1 || format.channels > kMaxChannels) {
        return Fail("WMA stream with an unsupported channel count");
    }
    if (format.sampleRate < 1 || format.sampleRate > 50000) {
        return Fail("WMA stream with an unsupported sample rate");
    }
    if (format.avgBytesPerSecond == 0 || format.avgBytesPerSecond > 0x0FFFFFFF) {
        return Fail("WMA stream without a valid bit rate");
    }
    if (format.blockAlign == 0) {
        return Fail("WMA stream without a coded unit size");
    }
    channels = format.channels;
    sampleRate = int(format.sampleRate);
    unitSize = format.blockAlign;
    const int64_t bitRate = int64_t(format.avgBytesPerSecond) * 8;

    int flags2 = 0;
    if (version == 1 && format.extra.size() >= 4) {
        flags2 = format.extra[2] | (format.extra[3] << 8);
    } else if (version == 2 && format.extra.size() >= 6) {
        flags2 = format.extra[4] | (format.extra[5] << 8);
    }
    useExpVlc = (flags2 & 0x0001) != 0;
    useBitReservoir = (flags2 & 0x0002) != 0;
    useVariableBlockLen = (flags2 & 0x0004) != 0;
    // Streams of one encoder set this value but code fixed blocks.
    if (version == 2 && format.extra.size() >= 8 && flags2 == 0x000d && useVariableBlockLen) {
        useVariableBlockLen = false;
    }

    if (sampleRate <= 16000) {
        frameLenBits = 9;
    } else if (sampleRate <= 22050 || (sampleRate <= 32000 && version == 1)) {
        frameLenBits = 10;
    } else {
        frameLenBits = 11;
    }
    frameLen = 1 << frameLenBits;
    if (useVariableBlockLen) {
        int nb = ((flags2 >> 3) & 3) + 1;
        if (bitRate / channels >= 32000) {
            nb += 2;
        }
        nb = std::min(nb, frameLenBits - kMinBlockBits);
        blockSizes = nb + 1;
    } else {
        blockSizes = 1;
    }

    // Rate-dependent choices, in single precision as the format defines them.
    useNoiseCoding = true;
    float highFreq = float(sampleRate * 0.5);
    int sampleRate1 = sampleRate;
    if (version == 2) {
        if (sampleRate1 >= 44100) {
            sampleRate1 = 44100;
        } else if (sampleRate1 >= 22050) {
            sampleRate1 = 22050;
        } else if (sampleRate1 >= 16000) {
            sampleRate1 = 16000;
        } else if (sampleRate1 >= 11025) {
            sampleRate1 = 11025;
        } else if (sampleRate1 >= 8000) {
            sampleRate1 = 8000;
        }
    }
    const float bps = float(bitRate) / float(channels * sampleRate);
    const double bytesPerFrame = double(bps) * frameLen / 8.0 + 0.5;
    if (!(bytesPerFrame < 1e9)) {
        return Fail("WMA stream bit rate out of range");
    }
    byteOffsetBits = FloorLog2(uint32_t(int(bytesPerFrame))) + 2;
    if (byteOffsetBits + 3 > 25) {
        return Fail("WMA stream bit rate out of range");
    }
    float bps1 = bps;
    if (channels == 2) {
        bps1 = float(bps * 1.6);
    }
    if (sampleRate1 == 44100) {
        if (bps1 >= 0.61) {
            useNoiseCoding = false;
        } else {
            highFreq = float(highFreq * 0.4);
        }
    } else if (sampleRate1 == 22050) {
        if (bps1 >= 1.16) {
            useNoiseCoding = false;
        } else if (bps1 >= 0.72) {
            highFreq = float(highFreq * 0.7);
        } else {
            highFreq = float(highFreq * 0.6);
        }
    } else if (sampleRate1 == 16000) {
        highFreq = float(highFreq * (bps > 0.5 ? 0.5 : 0.3));
    } else if (sampleRate1 == 11025) {
        highFreq = float(highFreq * 0.7);
    } else if (sampleRate1 == 8000) {
        if (bps <= 0.625) {
            highFreq = float(highFreq * 0.5);
        } else if (bps > 0.75) {
            useNoiseCoding = false;
        } else {
            highFreq = float(highFreq * 0.65);
        }
    } else {
        if (bps >= 0.8) {
            highFreq = float(highFreq * 0.75);
        } else if (bps >= 0.6) {
            highFreq = float(highFreq * 0.6);
        } else {
            highFreq = float(highFreq * 0.5);
        }
    }

    coefsStart = version == 1 ? 3 : 0;
    for (int k = 0; k < blockSizes; ++k) {
        const int blockLength = frameLen >> k;
        int count = 0;
        const uint8_t* table = nullptr;
        const int a = frameLenBits - kMinBlockBits - k;
        if (version == 2 && a < 3) {
            if (sampleRate >= 44100) {
                table = kBands44100[a];
            } else if (sampleRate >= 32000) {
                table = kBands32000[a];
            } else if (sampleRate >= 22050) {
                table = kBands22050[a];
            }
        }
        if (table != nullptr) {
            count = table[0];
            for (int i = 0; i < count; ++i) {
                bands[k][i] = table[i + 1];
            }
        } else if (version == 1) {
            int last = 0;
            for (int i = 0; i < 25; ++i) {
                int pos = (blockLength * 2 * kCriticalFreqs[i] + (sampleRate >> 1)) / sampleRate;
                pos = std::min(pos, blockLength);
                bands[k][count++] = pos - last;
                if (pos >= blockLength) {
                    break;
                }
                last = pos;
            }
        } else {
            int last = 0;
            for (int i = 0; i < 25; ++i) {
                int pos = (blockLength * 2 * kCriticalFreqs[i] + (sampleRate << 1)) / (4 * sampleRate);
                pos = std::min(pos << 2, blockLength);
                if (pos > last) {
                    bands[k][count++] = pos - last;
                }
                if (pos >= blockLength) {
                    break;
                }
                last = pos;
            }
        }
        bandCount[k] = count;
        int covered = 0;
        for (int i = 0; i < count; ++i) {
            covered += bands[k][i];
        }
        if (covered != blockLength) {
            return Fail("WMA exponent bands do not cover the block");
        }
        coefsEnd[k] = (frameLen - (frameLen * 9) / 100) >> k;
        highBandStart[k] = int(float(float(blockLength * 2) * highFreq) / float(sampleRate) + 0.5);
        int pos = 0;
        int high = 0;
        for (int i = 0; i < count; ++i) {
            int start = pos;
            pos += bands[k][i];
            int end = pos;
            start = std::max(start, highBandStart[k]);
            end = std::min(end, coefsEnd[k]);
            if (end > start) {
                highBands[k][high++] = end - start;
            }
        }
        highBandCount[k] = high;
    }

    if (useNoiseCoding) {
        noiseMult = useExpVlc ? 0.02f : 0.04f;
        noise.resize(kNoiseTableSize);
        uint32_t seed = 1;
        const double norm = (1.0 / double(float(int64_t(1) << 31))) * std::sqrt(3.0) * noiseMult;
        for (int i = 0; i < kNoiseTableSize; ++i) {
            seed = seed * 314159u + 1u;
            noise[size_t(i)] = float(double(float(int32_t(seed))) * norm);
        }
        if (!gainVlc.Build(37, kNoiseGainCodes, kNoiseGainLengths, 9)) {
            return Fail("internal WMA table error");
        }
    }
    if (useExpVlc) {
        if (!expVlc.Build(121, kScaleCodes, kScaleLengths, 8)) {
            return Fail("internal WMA table error");
        }
        powers.resize(kMaxExponent - kMinExponent + 1);
        for (int e = kMinExponent; e <= kMaxExponent; ++e) {
            powers[size_t(e - kMinExponent)] = float(std::pow(10.0, e * (1.0 / 16.0)));
        }
    } else {
        lspCos.resize(size_t(frameLen));
        const float step = float(3.14159265358979323846 / frameLen);
        for (int i = 0; i < frameLen; ++i) {
            lspCos[size_t(i)] = float(2.0f * std::cos(double(step * float(i))));
        }
        for (int i = 0; i < 256; ++i) {
            lspPowE[i] = float(std::pow(2.0, (i - 126) * -0.25));
        }
        float b = 1.0f;
        for (int i = (1 << kLspPowBits) - 1; i >= 0; --i) {
            const int m = (1 << kLspPowBits) + i;
            float a = float(m * (0.5 / (1 << kLspPowBits)));
            a = float(std::pow(double(a), -0.25));
            lspPowM1[i] = 2 * a - b;
            lspPowM2[i] = b - a;
            b = a;
        }
    }

    int coefTable = 2;
    if (sampleRate >= 32000) {
        if (bps1 < 0.72) {
            coefTable = 0;
        } else if (bps1 < 1.16) {
            coefTable = 1;
        }
    }
    for (int t = 0; t < 2; ++t) {
        const CoefCode& code = kCoefCodes[coefTable * 2 + t];
        if (!coefVlc[t].Build(code.count, code.codes, code.lengths, 9)) {
            return Fail("internal WMA table error");
        }
        runs[t].assign(size_t(code.count), 0);
        levels[t].assign(size_t(code.count), 0.0f);
        int s = 2;
        for (int l = 0; l < code.levelCount && s < code.count; ++l) {
            for (int r = 0; r < code.runsPerLevel[l] && s < code.count; ++r, ++s) {
                runs[t][size_t(s)] = uint16_t(r);
                levels[t][size_t(s)] = float(l + 1);
            }
        }
    }

    for (int k = 0; k < blockSizes; ++k) {
        const int blockLength = frameLen >> k;
        imdct[k].Init(blockLength, -1.0);
        windows[k].resize(size_t(blockLength));
        for (int i = 0; i < blockLength; ++i) {
            windows[k][size_t(i)] = float(std::sin((i + 0.5) * (3.14159265358979323846 / (2.0 * blockLength))));
        }
    }
    for (int ch = 0; ch < channels; ++ch) {
        exponents[ch].assign(size_t(frameLen), 0.0f);
        coefs1[ch].assign(size_t(frameLen), 0.0f);
        coefs[ch].assign(size_t(frameLen), 0.0f);
        frameOut[ch].assign(size_t(frameLen) * 2, 0.0f);
    }
    output.assign(size_t(frameLen) * 2, 0.0f);
    reservoir.assign(kMaxReservoir + kPadding, 0);
    unit.assign(unitSize + kPadding, 0);
    ResetRunning();
    skip = 2 * frameLen;
    open = true;
    error = "";
    return true;
}

void WmaDecoder::State::ResetRunning() {
    for (int ch = 0; ch < channels; ++ch) {
        std::fill(frameOut[ch].begin(), frameOut[ch].end(), 0.0f);
        exponentsSet[ch] = false;
    }
    reservoirLen = 0;
    reservoirBitOffset = 0;
    resetBlockLengths = true;
    blockLenBits = prevBlockLenBits = nextBlockLenBits = frameLenBits;
    noiseIndex = 0;
    tailPending = false;
}

bool WmaDecoder::Flush(std::vector<int16_t>& out) {
    State& s = *state_;
    if (!s.open || !s.tailPending) {
        return false;
    }
    s.EmitFrame(out);
    s.tailPending = false;
    return true;
}

bool WmaDecoder::DecodeUnit(const uint8_t* data, size_t size, std::vector<int16_t>& out) {
    State& s = *state_;
    if (!s.open) {
        return s.Fail("decoder not open");
    }
    if (data == nullptr || size < s.unitSize) {
        return s.Fail("WMA coded unit shorter than the stream's unit size");
    }
    std::memcpy(s.unit.data(), data, s.unitSize);
    std::fill(s.unit.begin() + long(s.unitSize), s.unit.end(), uint8_t(0));
    const size_t unitBits = s.unitSize * 8;
    const size_t outStart = out.size();

    if (!s.useBitReservoir) {
        s.bits = BitReader(s.unit.data(), unitBits);
        s.resetBlockLengths = true;
        if (!s.DecodeFrame(out)) {
            out.resize(outStart);
            return false;
        }
        return true;
    }

    BitReader header(s.unit.data(), unitBits);
    header.Skip(4);  // index of the unit
    const int coded = int(header.Read(4));
    if (coded == 0) {
        // No frame ends here: the whole unit continues the pending frame, or
        // (nothing pending, after a reset) belongs to one begun before.
        if (s.reservoirLen == 0) {
            return true;
        }
        const size_t len = s.unitSize - 1;
        if (s.reservoirLen + len > kMaxReservoir) {
            s.reservoirLen = 0;
            return s.Fail("WMA frame longer than the bit reservoir");
        }
        std::memcpy(s.reservoir.data() + s.reservoirLen, s.unit.data() + 1, len);
        s.reservoirLen += len;
        std::fill(s.reservoir.begin() + long(s.reservoirLen), s.reservoir.end(), uint8_t(0));
        return true;
    }
    // The count includes the frame completed from the previous unit; with
    // nothing pending that frame's end is skipped.
    int frames = coded - (s.reservoirLen == 0 ? 1 : 0);
    const size_t bitOffset = header.Read(s.byteOffsetBits + 3);
    const size_t headerBits = size_t(4 + 4 + s.byteOffsetBits + 3);

    if (s.reservoirLen > 0) {
        // Complete the frame begun in the previous unit with bitOffset bits.
        if (s.reservoirLen + ((bitOffset + 7) >> 3) > kMaxReservoir || headerBits + bitOffset > unitBits) {
            s.reservoirLen = 0;
            return s.Fail("WMA frame longer than the bit reservoir");
        }
        uint8_t* q = s.reservoir.data() + s.reservoirLen;
        size_t left = bitOffset;
        while (left > 7) {
            *q++ = uint8_t(header.Read(8));
            left -= 8;
        }
        if (left > 0) {
            *q++ = uint8_t(header.Read(int(left)) << (8 - left));
        }
        std::fill(q, s.reservoir.data() + s.reservoir.size(), uint8_t(0));
        s.bits = BitReader(s.reservoir.data(), s.reservoirLen * 8 + bitOffset, size_t(s.reservoirBitOffset));
        if (!s.DecodeFrame(out)) {
            s.reservoirLen = 0;
            out.resize(outStart);
            return false;
        }
        --frames;
    }

    const size_t start = bitOffset + headerBits;
    if (start > unitBits) {
        s.reservoirLen = 0;
        out.resize(outStart);
        return s.Fail("WMA frame offset past the end of the unit");
    }
    s.bits = BitReader(s.unit.data(), unitBits, start);
    s.resetBlockLengths = true;
    for (int i = 0; i < frames; ++i) {
        if (!s.DecodeFrame(out)) {
            s.reservoirLen = 0;
            out.resize(outStart);
            return false;
        }
    }
    // Keep the start of the frame that continues in the next unit.
    const size_t pos = s.bits.Position();
    const size_t tailByte = pos >> 3;
    if (tailByte > s.unitSize || s.unitSize - tailByte > kMaxReservoir) {
        s.reservoirLen = 0;
        out.resize(outStart);
        return s.Fail("WMA frame runs past the end of the unit");
    }
    s.reservoirBitOffset = int(pos & 7);
    s.reservoirLen = s.unitSize - tailByte;
    std::memcpy(s.reservoir.data(), s.unit.data() + tailByte, s.reservoirLen);
    std::fill(s.reservoir.begin() + long(s.reservoirLen), s.reservoir.end(), uint8_t(0));
    return true;
}

bool WmaDecoder::State::DecodeFrame(std::vector<int16_t>& out) {
    blockPos = 0;
    for (;;) {
        const int r = DecodeBlock();
        if (r < 0) {
            return false;
        }
        if (bits.Overrun()) {
            return Fail("WMA frame runs past the end of its data");
        }
        if (r > 0) {
            break;
        }
    }
    EmitFrame(out);
    tailPending = true;
    return true;
}

// Converts the finished frame to 16 bits (rounded to nearest, saturated) and
// moves the overlap into place for the next frame.
void WmaDecoder::State::EmitFrame(std::vector<int16_t>& out) {
    const int drop = std::min(skip, frameLen);
    skip -= drop;
    const size_t base = out.size();
    out.resize(base + size_t(frameLen - drop) * size_t(channels));
    int16_t* dst = out.data() + base;
    const int count = frameLen - drop;
    const float* left = frameOut[0].data() + drop;
    const float* right = frameOut[channels - 1].data() + drop;
    int i = 0;
#if defined(__SSE2__) || defined(_M_X64)
    // Four frames at a time: NaN to 0, clamp, round to nearest even, pack.
    const __m128 low = _mm_set1_ps(-32768.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    auto convert = [&](const float* p) {
        __m128 v = _mm_loadu_ps(p);
        v = _mm_and_ps(v, _mm_cmpord_ps(v, v));
        v = _mm_min_ps(_mm_max_ps(v, low), high);
        return _mm_cvtps_epi32(v);
    };
    if (channels == 2) {
        for (; i + 4 <= count; i += 4) {
            const __m128i l = convert(left + i);
            const __m128i r = convert(right + i);
            const __m128i pairs = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), pairs);
        }
    } else {
        for (; i + 4 <= count; i += 4) {
            const __m128i l = convert(left + i);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_packs_epi32(l, l));
        }
    }
#endif
    for (; i < count; ++i) {
        dst[size_t(i) * size_t(channels)] = ToSample(left[i]);
        if (channels == 2) {
            dst[size_t(i) * 2 + 1] = ToSample(right[i]);
        }
    }
    for (int ch = 0; ch < channels; ++ch) {
        std::memmove(frameOut[ch].data(), frameOut[ch].data() + frameLen, sizeof(float) * size_t(frameLen));
        Zero(frameOut[ch].data() + frameLen, int(frameOut[ch].size()) - frameLen);
    }
}

int WmaDecoder::State::DecodeBlock() {
    if (useVariableBlockLen) {
        const int n = FloorLog2(uint32_t(blockSizes - 1)) + 1;
        if (resetBlockLengths) {
            resetBlockLengths = false;
            const int v1 = int(bits.Read(n));
            if (v1 >= blockSizes) {
                return FailBlock("WMA block size out of range");
            }
            prevBlockLenBits = frameLenBits - v1;
            const int v2 = int(bits.Read(n));
            if (v2 >= blockSizes) {
                return FailBlock("WMA block size out of range");
            }
            blockLenBits = frameLenBits - v2;
        } else {
            prevBlockLenBits = blockLenBits;
            blockLenBits = nextBlockLenBits;
        }
        const int v = int(bits.Read(n));
        if (v >= blockSizes) {
            return FailBlock("WMA block size out of range");
        }
        nextBlockLenBits = frameLenBits - v;
    } else {
        nextBlockLenBits = prevBlockLenBits = blockLenBits = frameLenBits;
    }
    const int bsize = frameLenBits - blockLenBits;
    if (bsize < 0 || bsize >= blockSizes) {
        return FailBlock("WMA block size out of range");
    }
    blockLen = 1 << blockLenBits;
    if (blockPos + blockLen > frameLen) {
        return FailBlock("WMA blocks overrun their frame");
    }

    if (channels == 2) {
        msStereo = bits.Bit() != 0;
    }
    bool anyCoded = false;
    for (int ch = 0; ch < channels; ++ch) {
        channelCoded[ch] = bits.Bit() != 0;
        anyCoded = anyCoded || channelCoded[ch];
    }

    if (anyCoded) {
        int totalGain = 1;
        for (;;) {
            if (bits.Left() < 7) {
                return FailBlock("WMA block gain runs past the end of its data");
            }
            const int a = int(bits.Read(7));
            totalGain += a;
            if (a != 127) {
                break;
            }
        }
        const int escapeBits = totalGain < 15   ? 13
                               : totalGain < 32 ? 12
                               : totalGain < 40 ? 11
                               : totalGain < 45 ? 10
                                                : 9;

        int coefCount[kMaxChannels];
        for (int ch = 0; ch < channels; ++ch) {
            coefCount[ch] = coefsEnd[bsize] - coefsStart;
        }
        if (useNoiseCoding) {
            const int n = highBandCount[bsize];
            for (int ch = 0; ch < channels; ++ch) {
                if (!channelCoded[ch]) {
                    continue;
                }
                for (int i = 0; i < n; ++i) {
                    highBandCoded[ch][i] = bits.Bit() != 0;
                    if (highBandCoded[ch][i]) {
                        coefCount[ch] -= highBands[bsize][i];
                    }
                }
            }
            for (int ch = 0; ch < channels; ++ch) {
                if (!channelCoded[ch]) {
                    continue;
                }
                bool first = true;
                int value = 0;
                for (int i = 0; i < n; ++i) {
                    if (!highBandCoded[ch][i]) {
                        continue;
                    }
                    if (first) {
                        value = int(bits.Read(7)) - 19;
                        first = false;
                    } else {
                        const int code = gainVlc.Decode(bits);
                        if (code < 0) {
                            return FailBlock("WMA noise gain code does not resolve");
                        }
                        value += code - 18;
                    }
                    highBandValue[ch][i] = value;
                }
            }
        }

        // Short blocks may keep the exponents of an earlier block.
        if (blockLenBits == frameLenBits || bits.Bit() != 0) {
            for (int ch = 0; ch < channels; ++ch) {
                if (!channelCoded[ch]) {
                    continue;
                }
                if (useExpVlc) {
                    if (!DecodeExponentsVlc(ch)) {
                        return -1;
                    }
                } else {
                    DecodeExponentsLsp(ch);
                }
                exponentsBsize[ch] = bsize;
                exponentsSet[ch] = true;
            }
        }
        for (int ch = 0; ch < channels; ++ch) {
            if (channelCoded[ch] && !exponentsSet[ch]) {
                return FailBlock("WMA block reuses exponents that were never sent");
            }
        }

        for (int ch = 0; ch < channels; ++ch) {
            if (!channelCoded[ch]) {
                continue;
            }
            const int table = (ch == 1 && msStereo) ? 1 : 0;
            if (!DecodeRunLevel(ch, table, coefCount[ch], escapeBits)) {
                return -1;
            }
            if (version == 1 && channels >= 2) {
                bits.Align();
            }
        }
        for (int ch = 0; ch < channels; ++ch) {
            if (channelCoded[ch]) {
                ComputeCoefficients(ch, bsize, totalGain);
            }
        }
        if (msStereo && channelCoded[1]) {
            if (!channelCoded[0]) {
                std::fill(coefs[0].begin(), coefs[0].begin() + blockLen, 0.0f);
                channelCoded[0] = true;
            }
            MidSide(coefs[0].data(), coefs[1].data(), blockLen);
        }
    }

    const int half = blockLen / 2;
    for (int ch = 0; ch < channels; ++ch) {
        if (channelCoded[ch]) {
            imdct[bsize].Run(coefs[ch].data(), output.data());
        } else if (!(msStereo && ch == 1)) {
            // With mid/side and no side, the right channel repeats the left.
            std::fill(output.begin(), output.begin() + 2 * blockLen, 0.0f);
        }
        Window(frameOut[ch].data() + frameLen / 2 + blockPos - half);
    }
    blockPos += blockLen;
    return blockPos >= frameLen ? 1 : 0;
}

bool WmaDecoder::State::DecodeExponentsVlc(int ch) {
    const int bsize = frameLenBits - blockLenBits;
    const int* band = bands[bsize];
    const int bandTotal = bandCount[bsize];
    float* q = exponents[ch].data();
    const float* end = q + blockLen;
    int b = 0;
    float maxScale = 0.0f;
    int last;
    auto fill = [&](float v) -> bool {
        if (b >= bandTotal) {
            return false;
        }
        const int n = std::min<int>(band[b++], int(end - q));
        for (int i = 0; i < n; ++i) {
            *q++ = v;
        }
        return true;
    };
    if (version == 1) {
        last = int(bits.Read(5)) + 10;
        const float v = powers[size_t(last - kMinExponent)];
        maxScale = v;
        if (!fill(v)) {
            return Fail("WMA exponent bands do not cover the block");
        }
    } else {
        last = 36;
    }
    while (q < end) {
        const int code = expVlc.Decode(bits);
        if (code < 0) {
            return Fail("WMA exponent code does not resolve");
        }
        last += code - 60;
        if (last < kMinExponent || last > kMaxExponent) {
            return Fail("WMA exponent out of range");
        }
        const float v = powers[size_t(last - kMinExponent)];
        maxScale = std::max(maxScale, v);
        if (!fill(v)) {
            return Fail("WMA exponent bands do not cover the block");
        }
        if (bits.Overrun()) {
            return Fail("WMA exponents run past the end of their data");
        }
    }
    maxExponent[ch] = maxScale;
    return true;
}

// x^-1/4 from the exponent and a linearly interpolated mantissa table.
float WmaDecoder::State::PowMinusQuarter(float x) const {
    uint32_t u;
    std::memcpy(&u, &x, 4);
    const uint32_t e = (u >> 23) & 0xFF;
    const uint32_t m = (u >> (23 - kLspPowBits)) & ((1u << kLspPowBits) - 1);
    const uint32_t tv = ((u << kLspPowBits) & ((1u << 23) - 1)) | (127u << 23);
    float t;
    std::memcpy(&t, &tv, 4);
    return lspPowE[e] * (lspPowM1[m] + lspPowM2[m] * t);
}

void WmaDecoder::State::DecodeExponentsLsp(int ch) {
    float lsp[kLspCoefCount];
    for (int i = 0; i < kLspCoefCount; ++i) {
        const int v = int(bits.Read((i == 0 || i >= 8) ? 3 : 4));
        lsp[i] = kLspCodebook[i][v];
    }
    float* out = exponents[ch].data();
    float maxValue = 0.0f;
    for (int i = 0; i < blockLen; ++i) {
        float p = 0.5f;
        float q = 0.5f;
        const float w = lspCos[size_t(i)];
        for (int j = 1; j < kLspCoefCount; j += 2) {
            q *= w - lsp[j - 1];
            p *= w - lsp[j];
        }
        p *= p * (2.0f - w);
        q *= q * (2.0f + w);
        const float v = PowMinusQuarter(p + q);
        maxValue = std::max(maxValue, v);
        out[i] = v;
    }
    maxExponent[ch] = maxValue;
}

bool WmaDecoder::State::DecodeRunLevel(int ch, int table, int count, int escapeBits) {
    float* dst = coefs1[ch].data();
    Zero(dst, blockLen);
    const Vlc& vlc = coefVlc[table];
    const uint16_t* run = runs[table].data();
    const float* level = levels[table].data();
    // The 32 bits at pos come from a 64-bit word loaded at a byte boundary
    // and reloaded only when fewer than 32 of its bits remain.
    const uint8_t* data = bits.Data();
    const size_t limit = bits.Limit();
    size_t pos = bits.Position();
    size_t wordStart = pos & ~size_t(7);
    uint64_t word = 0;
    if (pos < limit) {
        std::memcpy(&word, data + (pos >> 3), 8);
        word = BitReader::ToBigEndian(word);
    }
    auto peek32 = [&]() -> uint32_t {
        if (pos >= limit) {
            return 0;
        }
        if (pos - wordStart > 32) {
            wordStart = pos & ~size_t(7);
            std::memcpy(&word, data + (pos >> 3), 8);
            word = BitReader::ToBigEndian(word);
        }
        return uint32_t((word << (pos - wordStart)) >> 32);
    };
    int offset = 0;
    while (offset < count) {
        // One peek holds the longest code and its sign bit.
        const uint32_t window = peek32();
        int length = 0;
        const int code = vlc.DecodeWindow(window, length);
        if (code > 1) {
            offset += run[code];
            if (offset >= count) {
                return Fail("WMA coefficient run past the end of the block");
            }
            dst[offset] = ((window << length) & 0x80000000u) ? level[code] : -level[code];
            pos += size_t(length) + 1;
        } else if (code == 1) {
            pos += size_t(length);
            break;
        } else if (code == 0) {
            pos += size_t(length);
            BitReader escape(data, limit, pos);
            const int value = int(escape.Read(escapeBits));
            offset += int(escape.Read(frameLenBits));
            const bool positive = escape.Bit() != 0;
            pos = escape.Position();
            if (offset >= count) {
                return Fail("WMA coefficient run past the end of the block");
            }
            dst[offset] = positive ? float(value) : -float(value);
        } else {
            return Fail("WMA coefficient code does not resolve");
        }
        ++offset;
    }
    // Past the end the reader gives zeros, which decode as short runs: the
    // loop ends within count symbols, and the overrun is seen here.
    BitReader br(data, limit, pos);
    if (br.Overrun()) {
        return Fail("WMA coefficients run past the end of their data");
    }
    bits = br;
    return true;
}

void WmaDecoder::State::ComputeCoefficients(int ch, int bsize, int totalGain) {
    const int esize = exponentsBsize[ch];
    const float* exps = exponents[ch].data();
    const float* src = coefs1[ch].data();
    float* dst = coefs[ch].data();
    float mdctNorm = 1.0f / float(blockLen / 2);
    if (version == 1) {
        mdctNorm = float(mdctNorm * std::sqrt(double(blockLen / 2)));
    }
    float mult = float(std::pow(10.0, totalGain * 0.05) / maxExponent[ch]);
    mult *= mdctNorm;
    // Exponent of coefficient i of this block (the exponents may come from
    // a block of another length).
    auto at = [&](int i) { return (i << bsize) >> esize; };

    if (!useNoiseCoding) {
        const int n = coefsEnd[bsize] - coefsStart;
        Zero(dst, coefsStart);
        if (bsize == esize) {
            ScaleBy(dst + coefsStart, src, exps, mult, n);
        } else {
            for (int i = 0; i < n; ++i) {
                dst[coefsStart + i] = src[i] * exps[at(i)] * mult;
            }
        }
        Zero(dst + coefsStart + n, blockLen - coefsStart - n);
        return;
    }

    int k = 0;
    for (int i = 0; i < coefsStart; ++i) {
        dst[k++] = noise[size_t(noiseIndex)] * exps[at(i)] * mult;
        noiseIndex = (noiseIndex + 1) & (kNoiseTableSize - 1);
    }
    const int highCount = highBandCount[bsize];
    const int* high = highBands[bsize];
    float power[kMaxBands] = {};
    int lastHigh = 0;
    {
        int e = at(highBandStart[bsize]);
        for (int j = 0; j < highCount; ++j) {
            const int n = high[j];
            if (highBandCoded[ch][j]) {
                float sum = 0.0f;
                for (int i = 0; i < n; ++i) {
                    const float v = exps[e + at(i)];
                    sum += v * v;
                }
                power[j] = sum / float(n);
                lastHigh = j;
            }
            e += at(n);
        }
    }
    int e = at(coefsStart);
    for (int j = -1; j < highCount; ++j) {
        const int n = j < 0 ? highBandStart[bsize] - coefsStart : high[j];
        if (j >= 0 && highBandCoded[ch][j]) {
            float m1 = float(std::sqrt(double(power[j] / power[lastHigh])));
            m1 = float(m1 * std::pow(10.0, highBandValue[ch][j] * 0.05));
            m1 = m1 / (maxExponent[ch] * noiseMult);
            m1 *= mdctNorm;
            for (int i = 0; i < n; ++i) {
                const float r = noise[size_t(noiseIndex)];
                noiseIndex = (noiseIndex + 1) & (kNoiseTableSize - 1);
                dst[k++] = r * exps[e + at(i)] * m1;
            }
        } else {
            for (int i = 0; i < n; ++i) {
                const float r = noise[size_t(noiseIndex)];
                noiseIndex = (noiseIndex + 1) & (kNoiseTableSize - 1);
                dst[k++] = ((*src++) + r) * exps[e + at(i)] * mult;
            }
        }
        e += at(n);
    }
    const float m1 = mult * exps[e + ((-1 * (1 << bsize)) >> esize)];
    while (k < blockLen) {
        dst[k++] = noise[size_t(noiseIndex)] * m1;
        noiseIndex = (noiseIndex + 1) & (kNoiseTableSize - 1);
    }
}

// Applies the window to the transform output and adds it into the frame:
// the left half overlaps the previous block, the right half is stored for
// the next one. When a neighbour is shorter the window is narrowed to its
// length and centred, flat elsewhere.
void WmaDecoder::State::Window(float* out) const {
    const float* in = output.data();
    if (blockLenBits <= prevBlockLenBits) {
        const float* w = windows[frameLenBits - blockLenBits].data();
        MultiplyAdd(out, in, w, blockLen);
    } else {
        const int len = 1 << prevBlockLenBits;
        const int n = (blockLen - len) / 2;
        const float* w = windows[frameLenBits - prevBlockLenBits].data();
        MultiplyAdd(out + n, in + n, w, len);
        std::memcpy(out + n + len, in + n + len, sizeof(float) * size_t(n));
    }
    out += blockLen;
    in += blockLen;
    if (blockLenBits <= nextBlockLenBits) {
        const float* w = windows[frameLenBits - blockLenBits].data();
        MultiplyReversed(out, in, w, blockLen);
    } else {
        const int len = 1 << nextBlockLenBits;
        const int n = (blockLen - len) / 2;
        const float* w = windows[frameLenBits - nextBlockLenBits].data();
        std::memcpy(out, in, sizeof(float) * size_t(n));
        MultiplyReversed(out + n, in + n, w, len);
        std::fill(out + n + len, out + blockLen, 0.0f);
    }
}

}  // namespace cz::wma
