#include "formats/wpcm/C_SrcFile.h"

#include <algorithm>
#include <cstring>

#include "foundation/ByteReader.h"
#include "foundation/RefPtr.h"
#include "foundation/ByteWriter.h"
#include "foundation/C_CUString.h"
#include "foundation/SoundRate.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"

namespace cz {

namespace {

constexpr char kMagic[4] = {'W', 'P', 'C', 'M'};
// 7 x 183 = 1281 = 1 (mod 256): multiplying by 183 undoes the factor 7.
constexpr uint8_t kInverseOfSeven = 183;

}  // namespace

C_SrcFile::C_SrcFile() = default;

C_SrcFile::~C_SrcFile() = default;

uint16_t C_SrcFile::CutOffFrequency(uint32_t rate) {
    // (rate / 2) x 0.85 truncated, in integers: the double product lands on
    // a whole number exactly when (rate / 2) x 85 is a multiple of 100, and an
    // extended-precision unit would truncate it one lower there.
    return static_cast<uint16_t>(static_cast<uint64_t>(rate / 2) * 85u / 100u);
}

uint8_t C_SrcFile::UnscrambleByte(uint8_t b) {
    return static_cast<uint8_t>(static_cast<uint8_t>(b - 3u) * kInverseOfSeven);
}

std::vector<uint8_t> C_SrcFile::BuildSourceHeader(uint16_t version, uint16_t rate, uint32_t count, bool scrambled) {
    ByteWriter w;
    w.Bytes(kMagic, 4);
    w.U16(version);
    w.U16(static_cast<uint16_t>(kHeaderSize));
    w.U16(1);
    w.U16(12);
    w.U16(scrambled ? kFormatScrambled : kFormatPlain);
    w.U16(rate);
    w.U16(CutOffFrequency(rate));
    w.U32(count);
    return std::move(w.Data());
}

int32_t C_SrcFile::ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) {
    SetError(WavFileError::kNone);
    SetStream(stream);
    uint8_t raw[kHeaderSize];
    if (!stream || !stream->ReadExactAt(0, raw, sizeof raw)) {
        return Fail(WavFileError::kNotThisFormat);
    }
    ByteReader r(raw, sizeof raw);
    char magic[4];
    S_SourceHeader h;
    r.FourCC(magic);
    r.U16(h.version);
    r.U16(h.headerSize);
    r.U16(h.channels);
    r.U16(h.bits);
    r.U16(h.format);
    r.U16(h.rate);
    r.U16(h.cutOff);
    r.U32(h.count);
    if (std::memcmp(magic, kMagic, 4) != 0 || h.headerSize != kHeaderSize) {
        return Fail(WavFileError::kNotThisFormat);
    }
    // The length must match the count exactly; a file cut short or with
    // trailing bytes is not a source file.
    if (stream->Size() != kHeaderSize + 2ull * h.count) {
        return Fail(WavFileError::kTruncated);
    }
    // No channels or no rate would describe no playable sound.
    if (h.channels == 0 || h.rate == 0) {
        return Fail(WavFileError::kBadFormat);
    }
    if (!AcceptSoundRate(h.rate, "The source file")) return Fail(WavFileError::kBadFormat);
    const bool scrambled = h.format == kFormatScrambled;
    if (outFlags) *outFlags = scrambled ? 1 : 0;
    header_ = h;
    SetDataOffset(kHeaderSize);
    if (loadFlag) {
        C_WavData* sound = EnsureSound();
        sound->SetFormat(h.rate, 2 * h.count, h.channels, 12, 16, 0);
        SetFormatId(scrambled ? kTypeScrambled : kTypePlain);
    }
    return 1;
}

int32_t C_SrcFile::LoadSampleWords(uint32_t count, bool unscramble) {
    C_WavData* sound = Sound();
    if (!sound || !Stream()) {
        return Fail(WavFileError::kNoSound);
    }
    std::vector<uint8_t> bytes;
    if (!Stream()->ReadBytes(GetDataOffset(), 2ull * count, bytes)) {
        return Fail(WavFileError::kTruncated);
    }
    if (unscramble)
        for (uint8_t& b : bytes) b = UnscrambleByte(b);
    sound->SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return 1;
}

int32_t C_SrcFile::LoadSamples(uint32_t) {
    C_WavData* sound = Sound();
    if (!sound) {
        return Fail(WavFileError::kNoSound);
    }
    return LoadSampleWords(sound->GetDataSize() / 2, GetFormatId() == kTypeScrambled);
}

bool C_SrcFile::ChipSampleWords(C_WavData& sound, std::vector<uint16_t>& words, uint16_t validBits) {
    words.clear();
    I_WavInfo* info = sound.GetWavInfo();
    const uint16_t channels = info->GetChannels();
    const uint16_t sourceBits = info->GetValidBits(), container = info->GetContainerBits();
    if (channels == 0 || info->GetSampleCount() == 0 || validBits < 2 || validBits > 16) return false;
    if ((container != 8 && container != 16 && container != 32) || sourceBits < 1 || sourceBits > container)
        return false;
    // Only the samples the buffer really holds.
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(
        info->GetSampleCount(), uint64_t{sound.GetBuffer()->Capacity()} * 8u / container / channels));
    if (count == 0) return false;
    const int64_t top = sound.GetBuffer()->MaxValue(), bottom = sound.GetBuffer()->MinValue();
    const int64_t maxV = (int64_t{1} << (validBits - 1)) - 1, minV = -(int64_t{1} << (validBits - 1));
    const int32_t midpoint = 1 << (validBits - 1);
    // One sample as a word: the channels' mean (truncated toward zero) scaled
    // from the sound's valid bits to validBits by magnitude, then offset.
    auto word = [&](uint32_t s) {
        int64_t v = sound.Sample(s, 0);
        if (channels > 1) {
            for (uint16_t c = 1; c < channels; ++c) v += sound.Sample(s, c);
            v = std::clamp<int64_t>(v / channels, bottom, top);
        }
        int64_t magnitude = v < 0 ? -v : v;
        if (sourceBits > validBits)
            magnitude >>= sourceBits - validBits;
        else
            magnitude <<= validBits - sourceBits;
        v = std::clamp<int64_t>(v < 0 ? -magnitude : magnitude, minV, maxV);
        return static_cast<uint16_t>(v + midpoint);
    };
    // A sound held only for its save gives its own block: no second copy.
    if (uint16_t* block = channels == 1 ? sound.HeldSamples() : nullptr) {
        for (uint32_t s = 0; s < count; ++s) block[s] = word(s);  // sample s is read before word s is written
        if (!sound.TakeHeldSamples(words)) return false;
        words.resize(count);
        return true;
    }
    words.resize(count);
    for (uint32_t s = 0; s < count; ++s) words[s] = word(s);
    return true;
}

bool C_SrcFile::WriteNewFile(const char* path, const std::vector<uint8_t>& bytes) {
    if (!path || !*path) return false;
    auto output = platform::AtomicOutput::Begin(path);
    if (!output) return false;
    if (!bytes.empty() && !output->Out().Write(bytes.data(), bytes.size())) return false;
    return output->Commit();
}

int32_t C_SrcFile::Save(const char* path) {
    C_WavData* sound = Sound();
    if (!sound || !path) return 0;
    const uint32_t rate = sound->GetWavInfo()->GetSampleRate();
    // The rate field has 16 bits.
    if (rate == 0 || rate > 0xFFFF) return 0;
    std::vector<uint16_t> words;
    if (!ChipSampleWords(*sound, words, 12)) return 0;
    const uint32_t count = static_cast<uint32_t>(words.size());
    if (kHeaderSize + 2ull * count > 0xFFFFFFFFull) return 0;
    const bool scrambled = IsScrambled();
    std::vector<uint8_t> bytes = BuildSourceHeader(1, static_cast<uint16_t>(rate), count, scrambled);
    bytes.resize(kHeaderSize + 2ull * count);
    for (uint32_t i = 0; i < count; ++i) StoreU16(&bytes[kHeaderSize + 2ull * i], words[i]);
    if (scrambled)
        for (size_t i = kHeaderSize; i < bytes.size(); ++i) bytes[i] = ScrambleByte(bytes[i]);
    return WriteNewFile(path, bytes) ? 1 : 0;
}

std::string C_SrcFile::HeaderSummary() const {
    const S_SourceHeader& h = header_;
    std::string text = FormatString("format: WPCM%s, version %u\n", h.format == kFormatScrambled ? " (scrambled)" : "",
                                    static_cast<unsigned>(h.version));
    text += FormatString("samples: %u, %u-bit, %u channel(s), %u Hz, cut-off %u Hz\n", static_cast<unsigned>(h.count),
                         static_cast<unsigned>(h.bits), static_cast<unsigned>(h.channels),
                         static_cast<unsigned>(h.rate), static_cast<unsigned>(h.cutOff));
    return text;
}

}  // namespace cz
