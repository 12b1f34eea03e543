// Stand-in for the ESB speech codec library: codes a 16-bit mono PCM WAV
// file at a requested bit rate into the shared block-DPCM stream of
// common/SpeechCoder.h (blocks of 128 coded samples; bits per sample and
// decimation nearest the requested rate). Entry points (standard calling
// convention on 32-bit Windows):
//   ESB_Encode(record, wavPath, codedPath, bitRate, quality, flag)
//     -> 0, -1 on failure. When record is given, its first 8 bytes receive
//     the achieved bit rate (u32, bit/s, header excluded) and the sample
//     count (u32). Quality and flag are accepted and not used.
//   ESB_Decode(codedPath, out, capacity) -> 1, 0 on failure (also when the
//     file holds fewer than capacity samples)
#include <cstdint>
#include <cstring>
#include <vector>

#include "cadenzor/cadenzor.h"
#include "common/SiblingCommon.h"
#include "common/SpeechCoder.h"

CZ_SIBLING_EXPORT int32_t CZ_CALL ESB_Encode(void* record, const char* wavPath, const char* codedPath, int32_t bitRate,
                                             float, float) {
    if (!wavPath || !codedPath || bitRate <= 0) return -1;
    uint32_t rate = 0;
    std::vector<int16_t> samples;
    if (!cz::sibling::ReadPcmWav(wavPath, &rate, samples) || rate == 0 || samples.empty()) return -1;
    const auto settings = cz::sibling::SettingsForBitRate(rate, static_cast<uint32_t>(bitRate), 128);
    const auto bytes = cz::sibling::EncodeSpeech(samples, settings);
    if (!cz::sibling::WriteWholeFile(codedPath, bytes)) return -1;
    if (record) {
        const uint32_t values[2] = {
            static_cast<uint32_t>((bytes.size() - cz::sibling::kCodedHeaderSize) * 8ull * rate / samples.size()),
            static_cast<uint32_t>(samples.size())};
        std::memcpy(record, values, sizeof values);
    }
    return 0;
}

CZ_SIBLING_EXPORT int32_t CZ_CALL ESB_Decode(const char* codedPath, int16_t* out, int32_t capacity) {
    return cz::sibling::DecodeFileInto(codedPath, out, capacity) ? 1 : 0;
}
