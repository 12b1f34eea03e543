#include "formats/legacy/C_WmdFile.h"

#include <algorithm>
#include <cstring>

#include "codecs/mdpcm/C_MDPCMEncDec.h"
#include "foundation/ByteReader.h"
#include "foundation/C_CUString.h"
#include "foundation/SoundRate.h"

namespace cz {

namespace {

// The coder of the frames: header alias on, first samples unrounded.
std::unique_ptr<C_MDPCMEncDec> WmdCoder() { return std::make_unique<C_MDPCMEncDec>(1, 16); }

// Padding of the last frames drifts toward mid-scale.
constexpr int32_t kPadTowardMidScale = 0;

}  // namespace

C_WmdFile::C_WmdFile() : C_WmdFile("WMDM", kFormatWmd) {}

C_WmdFile::C_WmdFile(const char* code, uint32_t formatType) : formatType_(formatType) { std::memcpy(code_, code, 4); }

C_WmdFile::~C_WmdFile() = default;

int32_t C_WmdFile::ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) {
    SetError(WavFileError::kNone);
    SetStream(stream);
    if (outFlags) *outFlags = 0;
    // MDM files carry the code "WMDM" too, with their 62-byte header: a file
    // is a WMD file only with the header size 24 (or, cut inside the header,
    // with the version 2 after the code).
    uint8_t raw[kWmdHeaderSize];
    if (!stream || !stream->ReadExactAt(0, raw, sizeof raw)) {
        uint8_t start[6];
        const bool ours = stream && stream->ReadExactAt(0, start, sizeof start) && std::memcmp(start, code_, 4) == 0 &&
                          LoadU16(start + 4) == kWmdVersion;
        return Fail(ours ? WavFileError::kTruncated : WavFileError::kNotThisFormat);
    }
    const S_WmdHeader h = ParseWmdHeader(raw);
    if (std::memcmp(h.code, code_, 4) != 0 || h.headerSize != kWmdHeaderSize) return Fail(WavFileError::kNotThisFormat);
    const uint32_t rate = h.rate == 0 ? kWmdDefaultRate : h.rate;
    if (!AcceptSoundRate(rate, "The WMD file")) return Fail(WavFileError::kBadFormat);
    // The frame data lies inside the file, and its frames, walked from the
    // first code, end inside it: only then are they counted.
    if (h.frameBytes > stream->Size() - kWmdHeaderSize) return Fail(WavFileError::kTruncated);
    std::vector<uint8_t> data;
    if (!stream->ReadBytes(kWmdHeaderSize, h.frameBytes, data)) return Fail(WavFileError::kTruncated);
    S_WmdWalk walk;
    if (!WalkWmdFrames(data.data(), data.size(), static_cast<uint8_t>(h.firstCode), walk))
        return Fail(WavFileError::kTruncated);
    // No frames is no sound; the samples must stay countable in 32 bits.
    if (walk.samples == 0 || 2 * walk.samples > 0xFFFFFFFFull) return Fail(WavFileError::kBadFormat);
    header_ = h;
    walk_ = walk;
    SetDataOffset(kWmdHeaderSize);
    if (loadFlag) {
        C_WavData* sound = EnsureSound();
        sound->SetFormat(rate, static_cast<uint32_t>(2 * walk.samples), 1, 12, 16, 0);
        SetFormatId(formatType_);
    }
    return 1;
}

int32_t C_WmdFile::LoadSamples(uint32_t) {
    C_WavData* sound = Sound();
    if (!sound || !Stream()) return Fail(WavFileError::kNoSound);
    std::vector<uint8_t> data;
    if (!Stream()->ReadBytes(kWmdHeaderSize, walk_.bytes, data)) return Fail(WavFileError::kTruncated);
    const std::vector<uint8_t> stream =
        WmdFramesToStream(data.data(), data.size(), static_cast<uint8_t>(header_.firstCode));
    const uint32_t n = static_cast<uint32_t>(walk_.samples);
    std::vector<uint16_t> decoded(n);
    const uint32_t got = WmdCoder()->Decode(decoded.data(), n, stream.data(), stream.size(), kWmdInitialValue,
                                            kWmdLongFrame, kWmdShortFrame, nullptr);
    if (got != n) return Fail(WavFileError::kBadSampleData);
    std::vector<uint8_t> le(2ull * n);
    for (uint32_t i = 0; i < n; ++i) StoreU16(&le[2ull * i], PlayedValue(decoded[i]));
    sound->SetFormat(PlayRate(), 2 * n, 1, 12, 16, 0);
    sound->SetSampleData(le.data(), 2 * n);
    return 1;
}

int32_t C_WmdFile::Save(const char* path) {
    C_WavData* sound = Sound();
    if (!sound || !path) return 0;
    const uint32_t rate = sound->GetWavInfo()->GetSampleRate();
    if (rate == 0 || rate > 0xFFFF) return 0;  // the rate field has 16 bits
    std::vector<uint16_t> samples;
    if (!ChipSampleWords(*sound, samples, 12)) return 0;
    for (uint16_t& s : samples) s = CodedValue(s);
    std::unique_ptr<C_MDPCMEncDec> coder = WmdCoder();
    const uint32_t m = static_cast<uint32_t>(samples.size());
    const uint64_t capacity = coder->GetMaxEncodedSize(m, kWmdLongFrame, kWmdShortFrame);
    if (capacity == 0 || capacity > 0x7FFFFFFFull) return 0;
    std::vector<uint8_t> stream(capacity);
    const uint32_t used = coder->Encode(stream.data(), stream.size(), m, samples.data(), kWmdInitialValue,
                                        kWmdLongFrame, kWmdShortFrame, kPadTowardMidScale, nullptr);
    if (used == 0 || used > capacity) return 0;
    std::vector<uint8_t> frames;
    uint8_t firstCode = 0;
    if (!WmdStreamToFrames(stream.data(), used, frames, firstCode) || firstCode == 0) return 0;
    if (kWmdHeaderSize + uint64_t{frames.size()} > 0xFFFFFFFFull) return 0;
    S_WmdHeader h;
    std::memcpy(h.code, code_, 4);
    h.rate = static_cast<uint16_t>(rate);
    h.cutOff = CutOffFrequency(rate);
    h.frameBytes = static_cast<uint32_t>(frames.size());
    h.firstCode = firstCode;
    std::vector<uint8_t> bytes = BuildWmdHeader(h);
    bytes.insert(bytes.end(), frames.begin(), frames.end());
    return WriteNewFile(path, bytes) ? 1 : 0;
}

std::string C_WmdFile::HeaderSummary() const {
    const S_WmdHeader& h = header_;
    std::string text = FormatString("format: %.4s, version %u, 5-bit differences in 16-bit words\n", h.code,
                                    static_cast<unsigned>(h.version));
    text += FormatString("rate: %u Hz%s, cut-off %u Hz\n", static_cast<unsigned>(PlayRate()),
                         h.rate == 0 ? " (field 0)" : "", static_cast<unsigned>(h.cutOff));
    text += FormatString("frames: %llu (%llu samples), %u bytes of frame data, first code %u\n",
                         static_cast<unsigned long long>(walk_.frames), static_cast<unsigned long long>(walk_.samples),
                         static_cast<unsigned>(h.frameBytes), static_cast<unsigned>(h.firstCode & 31u));
    return text;
}

C_Q310WmdFile::C_Q310WmdFile() : C_WmdFile("WMD5", kFormatQ310Wmd) {}

uint16_t C_Q310WmdFile::PlayedValue(uint16_t decoded) const {
    return decoded > 2047 ? static_cast<uint16_t>(std::min(decoded + 16, 4095)) : decoded;
}

uint16_t C_Q310WmdFile::CodedValue(uint16_t sample) const {
    if (sample >= 2064) return static_cast<uint16_t>(sample - 16);
    if (sample >= 2056) return 2048;  // plays as 2064
    return std::min<uint16_t>(sample, 2047);
}

}  // namespace cz
