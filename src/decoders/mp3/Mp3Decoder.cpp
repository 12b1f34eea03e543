// Layer III frame decoding: header, side information, bit reservoir and the
// order of the stages. The stages themselves live in Mp3MainData.cpp,
// Mp3Requantise.cpp, Mp3Hybrid.cpp and Mp3Synthesis.cpp.
#include "decoders/mp3/Mp3Decoder.h"

#include <cstring>
#include <new>

#include "decoders/mp3/Mp3BitReader.h"
#include "decoders/mp3/Mp3DecoderState.h"
#include "decoders/mp3/Mp3Kernels.h"

namespace cz::mp3 {
namespace {

// The largest main_data_begin of each version (9 and 8 bits).
constexpr int32_t kMaxMainDataBegin[3] = {511, 255, 255};

int32_t SideInfoBytes(int version, int channels) {
    if (version == 0) {
        return channels == 1 ? 17 : 32;
    }
    return channels == 1 ? 9 : 17;
}

// Parses the 4 header bytes into h. False for the reserved values that make a
// header invalid.
bool ParseHeader(const uint8_t* p, Mp3FrameHeader& h) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) {
        return false;
    }
    int versionBits = (p[1] >> 3) & 3;
    int layer = 4 - ((p[1] >> 1) & 3);
    int bitrateIndex = p[2] >> 4;
    int rateIndex = (p[2] >> 2) & 3;
    if (rateIndex == 3 || layer == 4 || bitrateIndex == 15) {
        return false;
    }
    // 11 MPEG-1, 10 MPEG-2, 00 MPEG-2.5; the reserved 01 is read as MPEG-1.
    h.version = versionBits == 2 ? 1 : versionBits == 0 ? 2 : 0;
    h.layer = layer;
    h.crcPresent = (p[1] & 1) == 0;
    h.bitrateIndex = bitrateIndex;
    h.rateIndex = rateIndex;
    h.padding = (p[2] >> 1) & 1;
    h.privateBit = p[2] & 1;
    h.mode = p[3] >> 6;
    h.modeExtension = h.mode == 1 ? (p[3] >> 4) & 3 : 0;
    h.copyright = (p[3] >> 3) & 1;
    h.original = (p[3] >> 2) & 1;
    h.emphasis = p[3] & 3;
    h.bands = &BandsFor(h.version, h.rateIndex);
    return true;
}

// Unpacks the side information; false when it holds values no stream may
// carry.
bool ParseSideInfo(Mp3Decoder& d, const uint8_t* bytes) {
    Mp3BitReader r(bytes, 0);
    Mp3SideInfo& si = d.sideInfo;
    const int channels = d.channels;
    const bool mpeg1 = d.version == 0;
    if (mpeg1) {
        si.mainDataBegin = r.Get(9);
        si.privateBits = r.Get(channels == 1 ? 5 : 3);
        for (int ch = 0; ch < channels; ++ch) {
            for (int band = 0; band < 4; ++band) {
                si.scfsi[ch][band] = uint8_t(r.Get(1));
            }
        }
    } else {
        si.mainDataBegin = r.Get(8);
        si.privateBits = r.Get(channels == 1 ? 1 : 2);
        std::memset(si.scfsi, 0, sizeof si.scfsi);
    }
    for (int gr = 0; gr < d.granules; ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            Mp3GranuleInfo& g = si.granules[gr][ch];
            g.part23Length = r.Get(12);
            g.bigValues = r.Get(9);
            g.globalGain = r.Get(8);
            g.scalefacCompress = r.Get(mpeg1 ? 4 : 9);
            g.windowSwitching = uint8_t(r.Get(1));
            if (g.windowSwitching) {
                g.blockType = uint8_t(r.Get(2));
                g.mixedBlock = uint8_t(r.Get(1));
                g.tableSelect[0] = uint8_t(r.Get(5));
                g.tableSelect[1] = uint8_t(r.Get(5));
                g.tableSelect[2] = 0;
                for (int w = 0; w < 3; ++w) {
                    g.subblockGain[w] = uint8_t(r.Get(3));
                }
                g.region0Count = 0;
                g.region1Count = 0;
                if (g.blockType == 0) {
                    return false;  // window switching needs a block type
                }
                // The mixed flag stays with block types 1 and 3 too: it gives
                // the two lowest subbands the normal window.
            } else {
                g.blockType = 0;
                g.mixedBlock = 0;
                for (int i = 0; i < 3; ++i) {
                    g.tableSelect[i] = uint8_t(r.Get(5));
                }
                g.subblockGain[0] = g.subblockGain[1] = g.subblockGain[2] = 0;
                g.region0Count = uint8_t(r.Get(4));
                g.region1Count = uint8_t(r.Get(3));
            }
            g.preflag = mpeg1 ? uint8_t(r.Get(1)) : 0;
            g.scalefacScale = uint8_t(r.Get(1));
            g.count1Table = uint8_t(r.Get(1));
            if (g.bigValues > kGranuleLines / 2) {
                return false;
            }
        }
    }
    return true;
}

void ZeroOutput(const Mp3Decoder& d, int16_t* out) {
    std::memset(out, 0, sizeof(int16_t) * size_t(d.granules) * size_t(d.samplesPerGranule) * size_t(d.channels));
}

// Distance from p to the next header that matches the first three bytes of
// header in its sync, version, layer, protection, bitrate and rate fields, or
// -1 when none lies within count bytes.
int32_t FindMatchingHeader(const uint8_t* p, int32_t count, const uint8_t* header) {
    for (int32_t i = 0; i + 2 < count; ++i) {
        if (p[i] == header[0] && p[i + 1] == header[1] && (p[i + 2] & 0xFC) == (header[2] & 0xFC)) {
            return i;
        }
    }
    return -1;
}

// Decodes the main data now held in the reservoir.
int32_t DecodeMainData(Mp3Decoder& d, int16_t* out) {
    const uint32_t totalBits = uint32_t(d.mainDataHeld) * 8;
    Mp3BitReader reader(d.mainData, 0);
    for (int gr = 0; gr < d.granules; ++gr) {
        for (int ch = 0; ch < d.channels; ++ch) {
            const uint32_t start = reader.Position();
            const uint32_t part23 = d.sideInfo.granules[gr][ch].part23Length;
            d.part23Length[gr][ch] = part23;
            if (start + part23 > totalBits) {
                return kMp3InvalidScaleFactors;
            }
            uint32_t part2 = ReadScaleFactors(d, reader, gr, ch);
            if (part2 > part23) {
                return kMp3InvalidScaleFactors;
            }
            int32_t result = DecodeHuffman(d, reader, start + part23, gr, ch);
            if (result != kMp3Ok) {
                return result;
            }
            reader.SetPosition(start + part23);
        }
        int32_t result = RequantiseGranule(d, gr);
        if (result != kMp3Ok) {
            return result;
        }
        const int32_t ring = d.synthesis.ringIndex;
        int16_t* granuleOut = out + size_t(gr) * kGranuleLines * size_t(d.channels);
        for (int ch = 0; ch < d.channels; ++ch) {
            result = HybridFilter(d, gr, ch);
            if (result != kMp3Ok) {
                return result;
            }
        }
        Synthesise(d, ring, granuleOut);
        d.synthesis.ringIndex = (ring - 18 * 64) & 1023;
    }
    return kMp3Ok;
}

}  // namespace

void Mp3DecoderDeleter::operator()(Mp3Decoder* decoder) const { std::default_delete<Mp3Decoder>()(decoder); }

Mp3DecoderPtr Mp3DecoderCreate() {
    try {
        Mp3DecoderPtr decoder(std::make_unique<Mp3Decoder>().release());
        decoder->tables = &GetMp3Tables();
        PrepareMp3Kernels(*decoder->tables);
        return decoder;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void Mp3DecoderDestroy(Mp3DecoderPtr& decoder) { decoder.reset(); }

int32_t Mp3FindSync(const uint8_t* bytes, int32_t count) {
    if (bytes == nullptr) {
        return -1;
    }
    for (int32_t i = 0; i + 1 < count; ++i) {
        if (bytes[i] == 0xFF && (bytes[i + 1] & 0xE0) == 0xE0) {
            return i;
        }
    }
    return -1;
}

int32_t Mp3DecodeFrame(Mp3Decoder* decoder, const uint8_t** position, int32_t* bytesLeft, int16_t* out) {
    if (decoder == nullptr) {
        return kMp3NoDecoder;
    }
    Mp3Decoder& d = *decoder;
    const uint8_t* p = *position;
    int32_t left = *bytesLeft;
    if (p == nullptr || left < 4) {
        return kMp3InputUnderflow;
    }
    Mp3FrameHeader header;
    if (!ParseHeader(p, header)) {
        return kMp3InvalidHeader;
    }
    if (header.layer != 3) {
        // Only Layer III is decoded; the frame format reads zero afterwards.
        d.layer = header.layer;
        return kMp3InvalidHeader;
    }
    d.header = header;
    d.version = header.version;
    d.layer = header.layer;
    d.channels = header.mode == 3 ? 1 : 2;
    d.sampleRate = SampleRateFor(header.version, header.rateIndex);
    d.granules = header.version == 0 ? 2 : 1;
    d.samplesPerGranule = kGranuleLines;
    const int32_t samplesPerFrame = d.granules * kGranuleLines;
    const int32_t headerBytes = header.crcPresent ? 6 : 4;
    const int32_t sideBytes = SideInfoBytes(header.version, d.channels);
    if (header.bitrateIndex != 0) {
        const int32_t kbps = BitrateKbpsFor(header.version, header.bitrateIndex);
        d.bitrate = kbps * 1000;
        const int32_t frameBytes = samplesPerFrame / 8 * d.bitrate / d.sampleRate;
        d.slots = frameBytes - sideBytes - (header.crcPresent ? 2 : 0) + header.padding - 4;
    }
    if (left < headerBytes + sideBytes) {
        ZeroOutput(d, out);
        return kMp3InputUnderflow;
    }
    if (header.crcPresent) {
        d.header.crc = uint16_t((p[4] << 8) | p[5]);
    }
    // The side information is read from a padded copy so that the bit reader
    // never looks past the caller's bytes.
    uint8_t side[32 + 8] = {};
    std::memcpy(side, p + headerBytes, size_t(sideBytes));
    const bool sideOk = ParseSideInfo(d, side);
    p += headerBytes + sideBytes;
    left -= headerBytes + sideBytes;
    *position = p;
    *bytesLeft = left;
    if (!sideOk) {
        ZeroOutput(d, out);
        return kMp3InvalidSideInfo;
    }
    const int32_t maxSlots = kMainDataBytes - kMaxMainDataBegin[header.version];
    if (header.bitrateIndex == 0) {
        // Free format: the frame length is the distance to the next header of
        // the same stream, found once and kept for the rest of the stream.
        if (!d.freeFormat) {
            const uint8_t* frameStart = p - headerBytes - sideBytes;
            const int32_t distance = FindMatchingHeader(p, left, frameStart);
            if (distance < 0) {
                ZeroOutput(d, out);
                return kMp3FreeFormatSyncNotFound;
            }
            if (distance - header.padding > maxSlots - 1) {
                // Main data this long would not fit the reservoir.
                ZeroOutput(d, out);
                return kMp3InvalidHeader;
            }
            d.freeFormat = true;
            d.freeFormatSlots = distance - header.padding;
        }
        d.bitrate = int32_t(int64_t(d.freeFormatSlots + headerBytes + sideBytes) * d.sampleRate * 8 / samplesPerFrame);
        d.slots = d.freeFormatSlots + header.padding;
        if (d.slots < 1 || d.slots > maxSlots) {
            ZeroOutput(d, out);
            return kMp3InvalidHeader;
        }
    }
    if (d.slots > left || d.slots < 0) {
        ZeroOutput(d, out);
        return kMp3InputUnderflow;
    }
    // Bit reservoir.
    const int32_t begin = int32_t(d.sideInfo.mainDataBegin);
    d.mainDataBegin = begin;
    if (d.mainDataHeld >= begin) {
        std::memmove(d.mainData, d.mainData + d.mainDataHeld - begin, size_t(begin));
        std::memcpy(d.mainData + begin, p, size_t(d.slots));
        d.mainDataHeld = begin + d.slots;
    } else {
        int32_t room = kMainDataBytes - d.mainDataHeld;
        int32_t take = d.slots < room ? d.slots : room;
        std::memcpy(d.mainData + d.mainDataHeld, p, size_t(take));
        d.mainDataHeld += take;
        *position = p + d.slots;
        *bytesLeft = left - d.slots;
        ZeroOutput(d, out);
        return kMp3MainDataUnderflow;
    }
    *position = p + d.slots;
    *bytesLeft = left - d.slots;
    std::memset(d.mainData + d.mainDataHeld, 0, kMainDataPadding);
    int32_t result = DecodeMainData(d, out);
    if (result != kMp3Ok) {
        ZeroOutput(d, out);
    }
    return result;
}

void Mp3GetFrameFormat(const Mp3Decoder* decoder, Mp3FrameFormat* format) {
    if (format == nullptr) {
        return;
    }
    *format = Mp3FrameFormat{};
    if (decoder == nullptr || decoder->layer != 3) {
        return;
    }
    format->bitrate = decoder->bitrate;
    format->channels = decoder->channels;
    format->sampleRate = decoder->sampleRate;
    format->bitsPerSample = 16;
    format->outputSamples = decoder->granules * decoder->samplesPerGranule * decoder->channels;
    format->layer = decoder->layer;
    format->version = decoder->version;
}

}  // namespace cz::mp3
