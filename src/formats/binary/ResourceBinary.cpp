#include "formats/binary/ResourceBinary.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "codecs/adpcm/C_ADPCMEncDec.h"
#include "codecs/rbf/RbfCoding.h"
#include "formats/apm/AdpcmMpmLayout.h"
#include "formats/apm/PamLayout.h"
#include "formats/ext/C_MclpFile.h"
#include "formats/ext/C_SbdFile.h"
#include "formats/ext/ExtLayout.h"
#include "formats/rbf/RbfFile.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "foundation/RefPtr.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavData.h"

namespace cz {

namespace {

struct S_Coding {
    const char* code;
    const char* name;
};
constexpr S_Coding kCodings[] = {
    {"WADM", "APM"}, {"WE2A", "E2A"}, {"WMdM", "MDM"}, {"Q42M", "Q420 MPM"}, {"WPC8", "PC8"}, {"WLP8", "LP8"},
    {"WP10", "P10"}, {"WP16", "P16"}, {"WS08", "S08"}, {"WS16", "S16"}, {"WPAM", "PAM"}, {"WMCP", "MCP"},
    {"WLPC", "WLP"}, {"WESB", "ESB"}, {"WMVP", "MVC"}, {"OSBC", "SBD"},
};

constexpr uint64_t kMaxBinarySize = uint64_t{64} << 20;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

bool Fail(std::string* reason, const std::string& text) {
    if (reason) *reason = text;
    return false;
}

// Appends count silent samples, refusing more than the cap.
bool PutSilence(std::vector<int16_t>& out, uint64_t count) {
    if (out.size() + count > kRbfMaxSamples) return false;
    out.insert(out.end(), static_cast<size_t>(count), 0);
    return true;
}

class VectorSink final : public RbfSampleSink {
public:
    explicit VectorSink(uint16_t bits) : bits_(bits) {}
    bool Put(uint16_t value, uint32_t count) override {
        const int32_t v = bits_ == 16 ? int32_t{value} - 32768 : (int32_t{value} - 2048) * 16;
        if (samples.size() + count > kRbfMaxSamples) return false;
        samples.insert(samples.end(), count, static_cast<int16_t>(v));
        return true;
    }
    std::vector<int16_t> samples;

private:
    uint16_t bits_;
};

bool ReadRbfCoding(std::span<const uint8_t> file, S_ResourceBinary& out, std::string* reason) {
    // The checks of the RBF reader first, so that both refuse the same files.
    C_WavData checked;
    if (RbfError e = DecodeRbfBytes(file, checked); e != RbfError::kNone)
        return Fail(reason, RbfErrorText(e));
    std::unique_ptr<RbfDecoder> decoder = OpenRbfDecoder(file);
    if (!decoder) return Fail(reason, "unknown coding");
    VectorSink sink(decoder->SampleBits());
    RbfDecodeResult r = decoder->Decode(file.subspan(kRbfHeaderSize), sink);
    if (!r.ok()) return Fail(reason, RbfStatusText(r.status));
    // The chip stops at the end mark only: a payload without it is cut short.
    if (!r.endMark) return Fail(reason, "truncated: no end mark");
    out.bits = decoder->SampleBits();
    out.samples = std::move(sink.samples);
    for (const RbfMarker& m : r.markers) out.markers.push_back({m.position, m.type, m.identifier});
    return true;
}

// PC8 and its plain relatives: fixed-width samples, no records, no end mark.
bool ReadPlainPcm(const std::string& code, std::span<const uint8_t> s, S_ResourceBinary& out, std::string* reason) {
    const size_t width = code == "WPC8" ? 1 : code == "WP16" || code == "WS08" ? 2 : 4;
    if (s.size() % width)
        return Fail(reason, "truncated: " + std::to_string(s.size()) + " bytes are not whole " +
                                std::to_string(width) + "-byte samples");
    if (s.size() / width > kRbfMaxSamples) return Fail(reason, "too many samples");
    out.bits = code == "WP16" || code == "WS16" ? 16 : 8;
    out.samples.reserve(s.size() / width);
    for (size_t i = 0; i < s.size(); i += width) {
        int16_t v = 0;
        if (code == "WPC8" || code == "WS08") v = static_cast<int16_t>(static_cast<int8_t>(s[i]) * 256);
        else v = static_cast<int16_t>(U16(&s[i]));
        // The doubled forms hold every sample twice; the chip plays the pair
        // as one sample held for two periods.
        if (code == "WS08" && s[i + 1] != s[i])
            return Fail(reason, "bad record: the two copies of sample " + std::to_string(i / 2) + " differ");
        if (code == "WS16" && U16(&s[i + 2]) != U16(&s[i]))
            return Fail(reason, "bad record: the two copies of sample " + std::to_string(i / 4) + " differ");
        out.samples.push_back(v);
    }
    return true;
}

bool ReadLp8(std::span<const uint8_t> s, S_ResourceBinary& out, std::string* reason) {
    out.bits = 8;
    size_t i = 0;
    for (; i < s.size() && s[i] != 0x80; ++i) {
        const int8_t code = static_cast<int8_t>(s[i]);
        const int32_t c = std::abs(static_cast<int32_t>(code));
        const int32_t v = c < 32 ? c : c < 48 ? 2 * c - 32 : c < 96 ? 4 * c - 127 : 8 * c - 509;
        if (out.samples.size() >= kRbfMaxSamples) return Fail(reason, "too many samples");
        out.samples.push_back(static_cast<int16_t>(code < 0 ? -v * 64 : v * 64));
    }
    if (i == s.size()) return Fail(reason, "truncated: no end mark 80 00 00");
    if (i + 3 > s.size()) return Fail(reason, "truncated: the end mark is cut short");
    if (s[i + 1] != 0 || s[i + 2] != 0) return Fail(reason, "bad record at byte " + std::to_string(i + 6) + ": 80 not followed by 00 00");
    if (i + 3 != s.size()) return Fail(reason, "bad record: " + std::to_string(s.size() - i - 3) + " bytes after the end mark");
    return true;
}

bool ReadP10(std::span<const uint8_t> s, S_ResourceBinary& out, std::string* reason) {
    out.bits = 10;
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == 0x80) {
            if (i + 3 > s.size()) return Fail(reason, "truncated: a record is cut short at byte " + std::to_string(i + 6));
            if (s[i + 1] == 0 && s[i + 2] == 0) {
                if (i + 3 != s.size())
                    return Fail(reason, "bad record: " + std::to_string(s.size() - i - 3) + " bytes after the end mark");
                return true;
            }
            if (!(s[i + 1] & 0x80)) return Fail(reason, "bad record at byte " + std::to_string(i + 6) + ": unknown record");
            out.markers.push_back({static_cast<uint32_t>(out.samples.size()), s[i + 2] & 127u, s[i + 1] & 63u});
            i += 3;
            continue;
        }
        if (i + 5 > s.size()) return Fail(reason, "truncated: a group is cut short at byte " + std::to_string(i + 6));
        if (out.samples.size() + 4 > kRbfMaxSamples) return Fail(reason, "too many samples");
        for (int k = 0; k < 4; ++k) {
            int32_t v = s[i + 1 + k] << 2 | ((s[i] >> (6 - 2 * k)) & 3);
            if (v & 0x200) v -= 0x400;
            out.samples.push_back(static_cast<int16_t>(v * 64));
        }
        i += 5;
    }
    return Fail(reason, "truncated: no end mark 80 00 00");
}

const char* FrameErrorText(FrameRecordError e) {
    switch (e) {
        case FrameRecordError::kPastEnd: return "truncated: a record runs past the end";
        case FrameRecordError::kBadRecord: return "bad record: an unknown record code or a zero length";
        case FrameRecordError::kNoEnd: return "truncated: no end record";
        case FrameRecordError::kBadVoice: return "bad record: a voice record does not decode to its length";
        case FrameRecordError::kTooLong: return "too many samples";
        default: return "damaged";
    }
}

bool ReadPam(std::span<const uint8_t> s, S_ResourceBinary& out, std::string* reason) {
    out.bits = 12;
    std::vector<S_PamPeriod> periods;
    size_t table = 0;
    std::string why;
    if (!ParsePamPeriodTable(s, UINT32_MAX, periods, &table, &why))
        return Fail(reason, "bad period table" + (why.empty() ? std::string() : ": " + why));
    C_ADPCMEncDec coder(12, 63);
    S_FrameDecode walk;
    {
        // Count first, so that no decoding is made of a damaged stream.
        S_FrameDecode count;
        const FrameRecordError e = WalkAdpcmRecords(s.subspan(table), nullptr, 2048, count);
        if (e != FrameRecordError::kNone) return Fail(reason, FrameErrorText(e));
        if (count.samples > kRbfMaxSamples) return Fail(reason, "too many samples");
    }
    const FrameRecordError e = WalkAdpcmRecords(s.subspan(table), &coder, 2048, walk);
    if (e != FrameRecordError::kNone) return Fail(reason, FrameErrorText(e));
    out.samples.reserve(walk.decoded.size());
    for (uint16_t v : walk.decoded) out.samples.push_back(static_cast<int16_t>((int32_t{v} - 2048) * 16));
    for (const S_MpmEventEntry& m : walk.markers) out.markers.push_back({m.sample, m.type, m.param});
    return true;
}

std::unique_ptr<C_MclpFile> CodecClass(const std::string& code) {
    if (code == "WMCP") return std::make_unique<C_MclpFile>();
    if (code == "WMVP") return std::make_unique<C_MvclpFile>();
    if (code == "WLPC") return std::make_unique<C_WlpcFile>();
    if (code == "WESB") return std::make_unique<C_EsbFile>();
    if (code == "OSBC") return std::make_unique<C_SbdFile>();
    return nullptr;
}

// The MCP line: silence words, pending records and voice blocks to the end
// mark; each voice block is the codec library's coded file, decoded by it.
bool ReadCodecLine(const std::string& code, std::span<const uint8_t> s, S_ResourceBinary& out, std::string* reason) {
    std::unique_ptr<C_MclpFile> chip = CodecClass(code);
    std::optional<platform::TempFolder> folder;
    size_t i = 0, blocks = 0;
    while (true) {
        if (i + 2 > s.size()) return Fail(reason, "truncated: no end mark FF FF");
        const auto at = [&](size_t k) { return " at byte " + std::to_string(k + 6); };
        const uint16_t word = U16(&s[i]);
        if (word == kExtEndMark) {
            if (i + 2 != s.size())
                return Fail(reason, "bad record: " + std::to_string(s.size() - i - 2) + " bytes after the end mark");
            return true;
        }
        if (s[i] == kExtPendingRecord) {
            if (i + 4 > s.size()) return Fail(reason, "truncated: a record is cut short" + at(i));
            // The chip gives the event when it reads the record.
            out.markers.push_back({static_cast<uint32_t>(out.samples.size()), s[i + 2], s[i + 3] & 63u});
            i += 4;
        } else if (word == kExtVoiceBlockTag) {
            if (i + 6 > s.size()) return Fail(reason, "truncated: a voice block is cut short" + at(i));
            const uint32_t n = U32(&s[i + 2]);
            if (n > s.size() - i - 6) return Fail(reason, "truncated: a voice block runs past the end" + at(i));
            const std::span<const uint8_t> coded = s.subspan(i + 6, n);
            if (n < 16 || std::memcmp(coded.data(), "CZSC", 4) != 0)
                return Fail(reason, "bad record: a voice block that is no coded file" + at(i));
            const uint32_t count = U32(&coded[4]);
            if (count == 0 || out.samples.size() + count > kRbfMaxSamples)
                return Fail(reason, "bad record: a voice block of " + std::to_string(count) + " samples" + at(i));
            if (!folder) folder = platform::TempFolder::Create("czb");
            if (!folder) return Fail(reason, "cannot make a temporary folder");
            const std::string base = folder->File("block" + std::to_string(++blocks) + ".cod");
            const std::string file = chip->CodedFileOf(base);
            {
                auto f = platform::File::Open(file, platform::open_flags::kWrite | platform::open_flags::kCreate);
                if (!f || !f->Write(coded.data(), coded.size()) || !f->Close())
                    return Fail(reason, "cannot write a temporary file");
            }
            std::vector<int16_t> pcm(count);
            const bool ok = chip->DecodeFromFile(base, chip->CoderMode(), pcm.data(), count);
            platform::DeleteFile(file);
            if (!ok)
                return Fail(reason, std::string("a voice block") + at(i) + " does not decode with " +
                                        chip->GetCodecLibraryName());
            out.samples.insert(out.samples.end(), pcm.begin(), pcm.end());
            i += 6 + n;
        } else if ((s[i] & 15) == 1) {
            if (!PutSilence(out.samples, word >> 4)) return Fail(reason, "too many samples");
            i += 2;
        } else {
            return Fail(reason, "bad record" + at(i) + ": unknown word");
        }
    }
}

}  // namespace

std::string ResourceBinaryCoding(std::span<const uint8_t> file) {
    if (file.size() < 4) return {};
    for (const S_Coding& c : kCodings)
        if (std::memcmp(file.data(), c.code, 4) == 0) return c.name;
    return {};
}

bool ReadResourceBinary(std::span<const uint8_t> file, S_ResourceBinary& out, std::string* reason) {
    out = S_ResourceBinary{};
    out.bytes = file.size();
    out.coding = ResourceBinaryCoding(file);
    if (out.coding.empty()) return Fail(reason, "no resource binary (unknown code)");
    out.code.assign(file.begin(), file.begin() + 4);
    if (file.size() < kRbfHeaderSize) return Fail(reason, "truncated: the header is cut short");
    out.sampleRate = U16(&file[4]);
    // Any rate the tool can write (it warns outside 4000 to 48000 Hz) is read.
    if (out.sampleRate == 0) return Fail(reason, "bad rate: 0 Hz");
    const std::span<const uint8_t> payload = file.subspan(kRbfHeaderSize);
    const std::string& c = out.code;
    bool ok = false;
    if (c == "WADM" || c == "WE2A" || c == "WMdM" || c == "Q42M") ok = ReadRbfCoding(file, out, reason);
    else if (c == "WPC8" || c == "WP16" || c == "WS08" || c == "WS16") ok = ReadPlainPcm(c, payload, out, reason);
    else if (c == "WLP8") ok = ReadLp8(payload, out, reason);
    else if (c == "WP10") ok = ReadP10(payload, out, reason);
    else if (c == "WPAM") ok = ReadPam(payload, out, reason);
    else ok = ReadCodecLine(c, payload, out, reason);
    if (!ok) {
        out.samples.clear();
        out.markers.clear();
    }
    return ok;
}

bool ReadResourceBinaryFile(const char* path, S_ResourceBinary& out, std::string* reason) {
    std::vector<uint8_t> bytes;
    if (path == nullptr) return Fail(reason, "no file");
    auto f = platform::File::Open(path, platform::open_flags::kRead);
    if (!f) return Fail(reason, "cannot be opened");
    const std::optional<uint64_t> size = f->Size();
    if (!size) return Fail(reason, "cannot be read");
    if (*size > kMaxBinarySize) return Fail(reason, "too large for a resource binary");
    bytes.resize(static_cast<size_t>(*size));
    if (!bytes.empty() && !f->ReadExact(bytes.data(), bytes.size())) return Fail(reason, "cannot be read");
    return ReadResourceBinary(bytes, out, reason);
}

void ResourceBinaryToSound(const S_ResourceBinary& binary, C_WavData& sound) {
    const uint32_t size = static_cast<uint32_t>(binary.samples.size() * 2);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < binary.samples.size(); ++i) {
        const uint16_t v = static_cast<uint16_t>(binary.samples[i]);
        bytes[2 * i] = static_cast<uint8_t>(v);
        bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    sound.SetFormat(binary.sampleRate, size, 1, 16, 16, 1);
    sound.SetSampleData(bytes.data(), size);
    C_WavDataCueInfo& cues = sound.CueInfo();
    cues.Clear();
    uint32_t id = 0;
    for (const S_BinaryMarker& m : binary.markers)
        cues.AppendCuePoint(++id, m.position, "data", 0, m.type, m.position);
}

bool DecodeResourceBinaryToWav(const char* path, const char* wavPath, std::string* coding, std::string* reason) {
    S_ResourceBinary binary;
    const bool ok = ReadResourceBinaryFile(path, binary, reason);
    if (coding) *coding = binary.coding;
    if (!ok) return false;
    RefPtr<C_WavData> sound(new C_WavData());
    ResourceBinaryToSound(binary, *sound);
    if (!sound->SaveAs(kFormatWav, wavPath)) return Fail(reason, "cannot write the decoded sound");
    return true;
}

BinaryOpen OpenResourceBinaryAsWav(const char* path, const char* wavPath, std::string* failure,
                                   S_ResourceBinary* binary) {
    if (path == nullptr || wavPath == nullptr) return BinaryOpen::kNotBinary;
    uint8_t head[4] = {};
    {
        auto f = platform::File::Open(path, platform::open_flags::kRead);
        if (!f || !f->ReadExact(head, sizeof head)) return BinaryOpen::kNotBinary;
    }
    if (ResourceBinaryCoding(head).empty()) return BinaryOpen::kNotBinary;
    C_WavFileFormat factory;
    if (RefPtr<C_WavFile> chip = factory.Open(path)) return BinaryOpen::kNotBinary;
    const std::string chipFailure = factory.LastFailure();
    S_ResourceBinary local;
    S_ResourceBinary& b = binary ? *binary : local;
    std::string reason;
    if (!ReadResourceBinaryFile(path, b, &reason)) {
        if (failure) {
            const std::string asBinary = b.coding + " resource binary that cannot be read: " + reason;
            // A chip class that knew the file as its own (its header, then
            // damage) has the better reason: it leads.
            const bool chipKnewIt =
                !chipFailure.empty() && chipFailure.find("not a supported sound file") == std::string::npos;
            if (chipKnewIt)
                *failure = chipFailure + "; as a " + b.coding + " resource binary: " + reason;
            else
                *failure = asBinary + (chipFailure.empty() ? std::string() : "; as a chip file: " + chipFailure);
        }
        return BinaryOpen::kFailed;
    }
    RefPtr<C_WavData> sound(new C_WavData());
    ResourceBinaryToSound(b, *sound);
    if (!sound->SaveAs(kFormatWav, wavPath)) {
        if (failure) *failure = "cannot write the decoded " + b.coding + " resource binary to " + wavPath;
        return BinaryOpen::kFailed;
    }
    return BinaryOpen::kDecoded;
}

bool ReadPackImage(std::span<const uint8_t> image, std::vector<S_PackEntry>& entries, std::string* reason) {
    entries.clear();
    if (image.size() < 8 || std::memcmp(image.data(), "CZPK", 4) != 0) return Fail(reason, "no pack image");
    if (U16(&image[4]) != 1) return Fail(reason, "pack image of layout version " + std::to_string(U16(&image[4])));
    const uint32_t n = U16(&image[6]);
    if (8 + uint64_t{8} * n > image.size()) return Fail(reason, "truncated: the table runs past the image");
    for (uint32_t k = 0; k < n; ++k) {
        S_PackEntry e{U32(&image[8 + 8 * k]), U32(&image[12 + 8 * k])};
        if (e.offset < 8 + 8 * n || uint64_t{e.offset} + e.size > image.size())
            return Fail(reason, "entry " + std::to_string(k) + " lies outside the image");
        entries.push_back(e);
    }
    return true;
}

std::vector<std::string> ReadPackHeaderNames(const std::string& imagePath, size_t count) {
    std::vector<uint8_t> text;
    auto f = platform::File::Open(imagePath + ".h", platform::open_flags::kRead);
    if (!f) return {};
    const std::optional<uint64_t> size = f->Size();
    if (!size || *size > kMaxBinarySize) return {};
    text.resize(static_cast<size_t>(*size));
    if (!text.empty() && !f->ReadExact(text.data(), text.size())) return {};
    const std::string s(text.begin(), text.end());
    // enum name { A = 0, B = 1, };
    const size_t open = s.find("enum ");
    const size_t brace = open == std::string::npos ? open : s.find('{', open);
    const size_t close = brace == std::string::npos ? brace : s.find('}', brace);
    if (close == std::string::npos) return {};
    std::vector<std::string> names(count);
    size_t at = brace + 1, found = 0;
    while (at < close) {
        size_t eq = s.find('=', at);
        size_t comma = s.find(',', at);
        if (eq == std::string::npos || eq > close || comma == std::string::npos || comma > close) break;
        std::string name = s.substr(at, eq - at);
        name.erase(0, name.find_first_not_of(" \t\r\n"));
        name.erase(name.find_last_not_of(" \t\r\n") + 1);
        const unsigned long index = std::strtoul(s.c_str() + eq + 1, nullptr, 10);
        if (index < count) names[index] = name, ++found;
        at = comma + 1;
    }
    if (found != count) return {};
    return names;
}

}  // namespace cz
