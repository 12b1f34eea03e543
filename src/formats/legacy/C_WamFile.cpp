#include "formats/legacy/C_WamFile.h"

#include <cstring>
#include <vector>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "foundation/ByteReader.h"
#include "foundation/C_CUString.h"
#include "foundation/SoundRate.h"

namespace cz {

namespace {

constexpr char kCode[4] = {'W', 'A', 'D', 'M'};

std::unique_ptr<C_ADPCMEncDec> WamCoder() { return std::make_unique<C_ADPCMEncDec>(12, 64); }

}  // namespace

C_WamFile::C_WamFile() = default;

C_WamFile::~C_WamFile() = default;

int32_t C_WamFile::ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) {
    SetError(WavFileError::kNone);
    SetStream(stream);
    if (outFlags) *outFlags = 0;
    // RBF resources of the ADPCM coding start with the same code, followed
    // by their rate: a file is a WAM file only with the header size 22 (or,
    // cut inside the header, with the version 101 after the code).
    uint8_t raw[kWamHeaderSize];
    if (!stream || !stream->ReadExactAt(0, raw, sizeof raw)) {
        uint8_t start[6];
        const bool ours = stream && stream->ReadExactAt(0, start, sizeof start) && std::memcmp(start, kCode, 4) == 0 &&
                          LoadU16(start + 4) == kWamVersion;
        return Fail(ours ? WavFileError::kTruncated : WavFileError::kNotThisFormat);
    }
    const S_WamHeader h = ParseWamHeader(raw);
    if (std::memcmp(h.code, kCode, 4) != 0 || h.headerSize != kWamHeaderSize) return Fail(WavFileError::kNotThisFormat);
    // Two codes a byte: the count is even, and the file holds exactly its
    // bytes after the header (a byte more or less is not a WAM file).
    if (h.codeCount == 0 || (h.codeCount & 1u) != 0) return Fail(WavFileError::kBadFormat);
    const uint64_t expected = kWamHeaderSize + uint64_t{h.codeCount} / 2;
    const uint64_t size = stream->Size();
    if (size < expected) return Fail(WavFileError::kTruncated);
    if (size > expected) return Fail(WavFileError::kBadFormat);
    // One sample of two bytes per code must stay countable in 32 bits.
    if (2ull * h.codeCount > 0xFFFFFFFFull) return Fail(WavFileError::kBadFormat);
    if (h.channels != 1 || h.rate == 0) return Fail(WavFileError::kBadFormat);
    if (!AcceptSoundRate(h.rate, "The WAM file")) return Fail(WavFileError::kBadFormat);
    header_ = h;
    SetDataOffset(kWamHeaderSize);
    if (loadFlag) {
        C_WavData* sound = EnsureSound();
        sound->SetFormat(h.rate, 2 * h.codeCount, 1, 12, 16, 0);
        SetFormatId(kFormatWam);
    }
    return 1;
}

int32_t C_WamFile::LoadSamples(uint32_t) {
    C_WavData* sound = Sound();
    if (!sound || !Stream()) return Fail(WavFileError::kNoSound);
    const uint32_t n = header_.codeCount;
    std::vector<uint8_t> codes;
    if (!Stream()->ReadBytes(kWamHeaderSize, n / 2, codes)) return Fail(WavFileError::kTruncated);
    std::vector<uint16_t> decoded(n);
    const uint32_t bytes =
        WamCoder()->Decode(codes.data(), static_cast<uint32_t>(codes.size()), decoded.data(), 2 * n, nullptr);
    if (bytes != 2 * n) return Fail(WavFileError::kBadSampleData);
    std::vector<uint8_t> le(bytes);
    for (uint32_t i = 0; i < n; ++i) StoreU16(&le[2ull * i], decoded[i]);
    sound->SetFormat(header_.rate, bytes, 1, 12, 16, 0);
    sound->SetSampleData(le.data(), bytes);
    return 1;
}

int32_t C_WamFile::Save(const char* path) {
    C_WavData* sound = Sound();
    if (!sound || !path) return 0;
    const uint32_t rate = sound->GetWavInfo()->GetSampleRate();
    if (rate == 0 || rate > 0xFFFF) return 0;  // the rate field has 16 bits
    const uint32_t mode = sound->GetWriteParam()->GetCodecParam();
    std::vector<uint16_t> samples;
    if (!ChipSampleWords(*sound, samples, 12)) return 0;
    std::unique_ptr<C_ADPCMEncDec> coder = WamCoder();
    const uint32_t m = static_cast<uint32_t>(samples.size());
    const uint32_t capacity = coder->GetMaxEncodedSize(m, mode);
    if (capacity == 0) return 0;
    std::vector<uint8_t> codes(capacity);
    const uint32_t k = coder->Encode(m, samples.data(), codes.data(), capacity, mode, nullptr);
    if (k == 0 || k > capacity || 2ull * k > 0x7FFFFFFFull) return 0;
    S_WamHeader h;
    h.rate = static_cast<uint16_t>(rate);
    h.cutOff = CutOffFrequency(rate);
    h.codeCount = 2 * k;
    std::vector<uint8_t> bytes = BuildWamHeader(h);
    bytes.insert(bytes.end(), codes.begin(), codes.begin() + k);
    return WriteNewFile(path, bytes) ? 1 : 0;
}

std::string C_WamFile::HeaderSummary() const {
    const S_WamHeader& h = header_;
    std::string text = FormatString("format: %.4s, version %u, %u-bit samples, %u-bit codes\n", h.code,
                                    static_cast<unsigned>(h.version), static_cast<unsigned>(h.sampleBits),
                                    static_cast<unsigned>(h.codeBits));
    text +=
        FormatString("rate: %u Hz, cut-off %u Hz\n", static_cast<unsigned>(h.rate), static_cast<unsigned>(h.cutOff));
    text += FormatString("codes: %u (%u bytes at %u)\n", static_cast<unsigned>(h.codeCount),
                         static_cast<unsigned>(h.codeCount / 2), static_cast<unsigned>(kWamHeaderSize));
    return text;
}

}  // namespace cz
