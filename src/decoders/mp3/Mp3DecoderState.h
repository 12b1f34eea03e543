// The state of one Layer III decoder and the stages that work on it. Internal
// to the decoder: callers use Mp3Decoder.h.
#pragma once

#include <cstdint>

#include "decoders/mp3/Mp3Decoder.h"
#include "decoders/mp3/Mp3Tables.h"

namespace cz::mp3 {

// Main data the bit reservoir can hold: main_data_begin (at most 511 bytes)
// plus the largest frame's main data.
constexpr int kMainDataBytes = 1940;
// Zero bytes after the main data: the bit reader looks up to eight bytes
// ahead, and scale factors (at most 25 bytes) are read before their length is
// checked against part2_3_length.
constexpr int kMainDataPadding = 64;
constexpr int kGranuleLines = 576;
// Fixed-point formats: the requantised lines and the IMDCT input have 26
// fraction bits, the subband samples 25 and the V vector of the synthesis 24.
// Their integer parts leave room for granules far louder than full scale
// (subband samples up to 32 times it), which only the final output clips, as
// the standard's decoder does.
constexpr int kLineFractionBits = 26;
constexpr int kSampleFractionBits = 25;
constexpr int kSynthesisFractionBits = 24;

struct Mp3FrameHeader {
    int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int layer = 0;
    int crcPresent = 0;
    int bitrateIndex = 0;
    int rateIndex = 0;
    int padding = 0;
    int privateBit = 0;
    int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int modeExtension = 0;
    int copyright = 0;
    int original = 0;
    int emphasis = 0;
    uint16_t crc = 0;
    const ScaleFactorBands* bands = nullptr;
};

struct Mp3GranuleInfo {
    uint32_t part23Length = 0;
    uint32_t bigValues = 0;
    uint32_t globalGain = 0;
    uint32_t scalefacCompress = 0;
    uint8_t windowSwitching = 0;
    uint8_t blockType = 0;
    uint8_t mixedBlock = 0;
    uint8_t tableSelect[3] = {};
    uint8_t subblockGain[3] = {};
    uint8_t region0Count = 0;
    uint8_t region1Count = 0;
    uint8_t preflag = 0;
    uint8_t scalefacScale = 0;
    uint8_t count1Table = 0;
};

struct Mp3SideInfo {
    uint32_t mainDataBegin = 0;
    uint32_t privateBits = 0;
    uint8_t scfsi[2][4] = {};
    Mp3GranuleInfo granules[2][2];  // [granule][channel]
};

struct Mp3ScaleFactors {
    uint8_t longFactors[2][22] = {};
    uint8_t shortFactors[2][13][3] = {};
    // MPEG-2 intensity stereo: the illegal position of each band of the right
    // channel (the largest value its scale-factor length can hold).
    uint8_t intensityLimitLong[22] = {};
    uint8_t intensityLimitShort[13] = {};
};

struct Mp3HuffmanOutput {
    int32_t lines[2][kGranuleLines] = {};
    int32_t nonZeroBound[2] = {};
};

struct Mp3HybridState {
    int32_t overlap[2][32][18] = {};
    uint8_t previousBlockType[2] = {};
    uint8_t previousWindowSwitching[2] = {};
    int32_t previousActiveSubbands[2] = {};
    // Subbands of samples that may be other than zero (the rest are zero).
    int32_t samplesActive[2] = {};
    // Subband samples of the current granule: [channel][time slot][subband].
    int32_t samples[2][18][32] = {};
};

struct Mp3SynthesisState {
    // The V ring of each channel (1024 values), stored twice over so that the
    // window reads it without wrapping.
    int32_t v[2][2048] = {};
    int32_t ringIndex = 0;
};

struct Mp3Decoder {
    Mp3FrameHeader header;
    Mp3SideInfo sideInfo;
    Mp3ScaleFactors scaleFactors;
    Mp3HuffmanOutput huffman;
    Mp3HybridState hybrid;
    Mp3SynthesisState synthesis;
    const Mp3Tables* tables = nullptr;

    uint8_t mainData[kMainDataBytes + kMainDataPadding] = {};
    bool freeFormat = false;
    int32_t freeFormatSlots = 0;
    int32_t bitrate = 0;
    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t granules = 0;
    int32_t samplesPerGranule = 0;
    int32_t slots = 0;
    int32_t layer = 0;
    int32_t version = 0;
    int32_t mainDataBegin = 0;
    int32_t mainDataHeld = 0;
    uint32_t part23Length[2][2] = {};
};

class Mp3BitReader;

// The stages of one frame, in order. Those returning int32_t return an
// Mp3Result code.

// Reads the scale factors of one granule and channel at the reader's position
// and returns the bits they took (the part 2 length).
uint32_t ReadScaleFactors(Mp3Decoder& d, Mp3BitReader& reader, int granule, int channel);
// Decodes the Huffman-coded lines of one granule and channel, which end at
// bit endBit of the main data, into huffman.lines[channel].
int32_t DecodeHuffman(Mp3Decoder& d, Mp3BitReader& reader, uint32_t endBit, int granule, int channel);
// Builds the requantisation tables shared by all decoders (once).
void PrepareRequantisation(const Mp3Tables& t);
// Requantises both channels of a granule in place, applies the stereo
// processing of the mode extension and reorders short blocks.
int32_t RequantiseGranule(Mp3Decoder& d, int granule);
// Alias reduction, IMDCT, overlap-add and frequency inversion of one channel
// into hybrid.samples[channel].
int32_t HybridFilter(Mp3Decoder& d, int granule, int channel);
// Polyphase synthesis of the granule's 18 time slots of every channel into
// out (channels interleaved), starting at the ring position startIndex.
void Synthesise(Mp3Decoder& d, int32_t startIndex, int16_t* out);

}  // namespace cz::mp3
