// Format ids: the small integers that name every audio format the library
// knows, in files, in the exports' arguments and in the registry tables.
//
// This header is constants only (no code, no includes of this library), so
// the layers below the format classes that deal in ids (the WAV class, the
// sound's save, the resampler's output format) may include it too.
#pragma once

#include <cstdint>

namespace cz {

enum FormatId : uint32_t {
    kFormatNone = 0,  // no format; also the id of classes outside the registry (RBF)
    kFormatRbf = 0,   // RBF resources: the class outside the registry, under id 0
    kFormatSrc = 1,   // WPCM speech source
    kFormatWav = 2,   // RIFF/WAVE
    kFormatWam = 3,
    kFormatWmd = 4,
    kFormatApm = 5,  // chip ADPCM
    kFormatMpm = 6,  // the MPM container
    kFormatQ310Wmd = 7,
    kFormatPc8 = 8,
    kFormatMidi = 9,  // Standard MIDI file (.MID, .KAR)
    kFormatIns = 10,
    kFormatP10 = 12,
    kFormatEnSrc = 13,  // scrambled WPCM speech source
    kFormatApm6Bit = 14,
    kFormatMdm = 15,  // chip MDPCM
    kFormatClp3 = 16,
    kFormatMdm6Bit = 17,
    kFormatEam = 18,
    kFormatEmm = 19,
    kFormatE2a = 20,
    kFormatLp8 = 21,
    kFormatClp1 = 22,
    kFormatClp2 = 23,
    kFormatPam = 24,
    kFormatInsWav1 = 25,  // the second and third .WAV records, grouped
    kFormatInsWav2 = 26,  // with the instrument formats
    kFormatMcp = 27,
    kFormatSbd = 28,
    kFormatWlp = 29,
    kFormatP16 = 30,
    kFormatMp3 = 31,
    kFormatImf = 32,
    kFormatCmf = 33,
    kFormatMbn = 34,
    kFormatCbn = 35,
    kFormatXmf = 36,
    kFormatEsb = 37,
    kFormatWax = 38,
    kFormatS08 = 39,
    kFormatS16 = 40,
    kFormatSam = 41,
    kFormatSmm = 42,
    kFormatQ420Mpm = 43,
    kFormatQ420Pcm = 44,
    kFormatWio = 45,
    kFormatMvclp = 46,
    kFormatLfm = 65,
    kFormatBmp = 66,
    kFormatBin = 161,
};

// Class flags of a registry record: which kind of material the format holds.
enum FormatClassFlag : uint8_t {
    kClassSound = 0x01,       // speech and sound sources
    kClassMelody = 0x02,      // MID, KAR, IMF, CMF, MBN, CBN, XMF
    kClassInstrument = 0x04,  // INS, WAX and the second and third WAV records
    kClassPicture = 0x10,     // LFM, BMP
    kClassBinary = 0x80,      // BIN
};

// Family flags of a registry record: how the sound is coded.
enum FormatFamilyFlag : uint8_t {
    kFamilyNone = 0x00,
    kFamilyPcm = 0x01,    // SRC, WAV, WIO
    kFamilyAdpcm = 0x02,  // WAM, APM, AP6, EAM, AD4, PAM, SAM
    kFamilyMdpcm = 0x04,  // WMD, MPM, WM5, MDM, MD6, MD5, SMM, 42M
    kFamilyP10 = 0x10,
};

}  // namespace cz
