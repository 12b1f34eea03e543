// Stand-in for the SBD speech codec library: codes a 16-bit mono PCM WAV
// file at a requested bit rate into the shared block-DPCM stream of
// common/SpeechCoder.h (blocks of 128 coded samples; the bits per sample
// and the decimation are those whose rate, step bytes included, is nearest
// the request). Entry points (standard calling convention on 32-bit
// Windows):
//   EncodeByBitRate(wavPath, codedPath, bitRate, 13, flag) -> 0, -1 on failure
//     (the fourth argument and the flag are accepted and not used)
//   Decode(codedPath, out, capacity) -> 1, 0 on failure (also when the file
//     holds fewer than capacity samples)
#include <cstdint>
#include <vector>

#include "cadenzor/cadenzor.h"
#include "common/SiblingCommon.h"
#include "common/SpeechCoder.h"

CZ_SIBLING_EXPORT int32_t CZ_CALL EncodeByBitRate(const char* wavPath, const char* codedPath, int32_t bitRate, int32_t,
                                                  int32_t) {
    if (!wavPath || !codedPath || bitRate <= 0) return -1;
    uint32_t rate = 0;
    std::vector<int16_t> samples;
    if (!cz::sibling::ReadPcmWav(wavPath, &rate, samples) || rate == 0 || samples.empty()) return -1;
    const auto settings = cz::sibling::SettingsForBitRate(rate, static_cast<uint32_t>(bitRate), 128);
    return cz::sibling::WriteWholeFile(codedPath, cz::sibling::EncodeSpeech(samples, settings)) ? 0 : -1;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL Decode(const char* codedPath, int16_t* out, int32_t capacity) {
    return cz::sibling::DecodeFileInto(codedPath, out, capacity) ? 1 : 0;
}
