#include "formats/apm/C_ApmFile.h"

#include <algorithm>
#include <cstring>

#include "foundation/ByteReader.h"
#include "foundation/ByteWriter.h"
#include "foundation/C_CUString.h"

namespace cz {

namespace {

constexpr uint32_t kWcmdHeaderSize = 24;
constexpr uint32_t kSilenceHeaderSize = 16;
constexpr uint32_t kEventHeaderSize = 28;
constexpr uint32_t kEntrySize = 8;
// Fixed bytes of the metadata: "WCMD" header, silence and event block headers.
constexpr uint32_t kMetadataFixed = kWcmdHeaderSize + kSilenceHeaderSize + kEventHeaderSize;
constexpr uint32_t kWcmdValue = 0x816;
constexpr uint16_t kWcmdVersion = 0x100;
constexpr uint16_t kTailValue = 3;
constexpr uint16_t kDecodedBits = 12;
constexpr uint16_t kTraceBits = 6;
constexpr uint16_t kSourceBits = 12;

void PutSection(ByteWriter& w, const C_ApmFile::S_Section& s) {
    w.U16(s.bits);
    w.U32(s.offset);
    w.U32(s.count);
}

C_ApmFile::S_Section TakeSection(ByteReader& r) {
    C_ApmFile::S_Section s;
    r.U16(s.bits);
    r.U32(s.offset);
    r.U32(s.count);
    return s;
}

// Silence length in milliseconds as a detection length in samples.
uint32_t MsToSamples(uint32_t ms, uint32_t rate) {
    return static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(ms) * rate / 1000, 0xFFFFFFFFull));
}

void CopyDetected(C_SilenceSegmentList* detected, C_SilenceSegmentList& to) {
    if (!detected) return;
    for (const C_SilenceSegment* s : *detected) to.Add(std::make_unique<C_SilenceSegment>(s->GetStart(), s->GetEnd()));
}

}  // namespace

C_ApmFile::C_ApmFile() : C_ApmFile("WAPM", 5, 4, 0) {}

C_ApmFile::C_ApmFile(const char* code, uint32_t typeCode, uint8_t codeWidth, uint16_t coderId)
    : typeCode_(typeCode), codeWidth_(codeWidth), coderId_(coderId) {
    std::memcpy(code_, code, 4);
}

C_ApmFile::~C_ApmFile() = default;

std::unique_ptr<C_ADPCMEncDec> C_ApmFile::CreateCoder() const { return std::make_unique<C_ADPCMEncDec>(12, 64); }

uint32_t C_ApmFile::CodeBytes(uint32_t codeCount) const { return codeCount / 2 + (codeCount & 1u); }

bool C_ApmFile::PrepareSamples(C_WavData& sound, std::vector<uint16_t>& words) const {
    return ChipSampleWords(sound, words, sampleWidth_);
}

bool C_ApmFile::AcceptsHeader(const S_ApmHeader& header) const {
    return std::memcmp(header.code, code_, 4) == 0 && header.coderId == coderId_;
}

C_ApmFile::S_ApmHeader C_ApmFile::ParseHeader(const uint8_t* bytes) {
    ByteReader r(bytes, kApmHeaderSize);
    S_ApmHeader h;
    r.FourCC(h.code);
    r.U16(h.version);
    r.U16(h.headerSize);
    r.U16(h.channels);
    r.U8(h.codeWidth);
    r.U8(h.reserved);
    r.U16(h.rate);
    r.U16(h.cutOff);
    r.U32(h.fileSize);
    r.U16(h.coderId);
    r.U16(h.initialValue);
    h.codes = TakeSection(r);
    h.decoded = TakeSection(r);
    h.trace = TakeSection(r);
    h.source = TakeSection(r);
    r.U16(h.metadataFlag);
    r.U32(h.metadataOffset);
    r.U16(h.silenceLevel);
    r.U16(h.silenceMs);
    r.U16(h.tail);
    return h;
}

bool C_ApmFile::CheckMetadataLayout(InputStream& stream, const S_ApmHeader& h, uint64_t fileSize) {
    const uint64_t p = h.metadataOffset;
    uint8_t wcmd[kWcmdHeaderSize];
    uint8_t sil[kSilenceHeaderSize];
    uint8_t ev[kEventHeaderSize];
    if (p + kMetadataFixed > fileSize || !stream.ReadExactAt(p, wcmd, sizeof wcmd) ||
        !stream.ReadExactAt(p + kWcmdHeaderSize, sil, sizeof sil))
        return false;
    if (std::memcmp(wcmd, "WCMD", 4) != 0 || LoadU16(wcmd + 6) != kWcmdHeaderSize ||
        LoadU32(wcmd + 12) != p + kWcmdHeaderSize)
        return false;
    if (std::memcmp(sil, "WSIL", 4) != 0 || LoadU16(sil + 4) != kSilenceHeaderSize || LoadU16(sil + 6) != kEntrySize ||
        LoadU32(sil + 8) != p + kWcmdHeaderSize + kSilenceHeaderSize)
        return false;
    const uint64_t silenceCount = LoadU32(sil + 12);
    const uint64_t eventOffset = p + kWcmdHeaderSize + kSilenceHeaderSize + kEntrySize * silenceCount;
    if (LoadU32(wcmd + 18) != eventOffset || eventOffset + kEventHeaderSize > fileSize ||
        !stream.ReadExactAt(eventOffset, ev, sizeof ev))
        return false;
    if (LoadU16(ev + 16) != kEventHeaderSize || LoadU16(ev + 18) != kEntrySize ||
        LoadU32(ev + 20) != eventOffset + kEventHeaderSize)
        return false;
    const uint64_t eventCount = LoadU32(ev + 24);
    return eventOffset + kEventHeaderSize + kEntrySize * eventCount == fileSize;
}

int32_t C_ApmFile::ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) {
    SetError(WavFileError::kNone);
    SetStream(stream);
    if (outFlags) *outFlags = 0;
    std::array<uint8_t, kApmHeaderSize> raw{};
    if (!stream || !stream->ReadExactAt(0, raw.data(), raw.size())) {
        SetError(WavFileError::kNotThisFormat);
        return 0;
    }
    const S_ApmHeader h = ParseHeader(raw.data());
    if (!AcceptsHeader(h)) {
        SetError(WavFileError::kNotThisFormat);
        return 0;
    }
    auto bad = [this](WavFileError error) {
        SetError(error);
        return 0;
    };
    if (h.headerSize != kApmHeaderSize || h.channels != 1 || h.rate == 0 || h.codeWidth != codeWidth_)
        return bad(WavFileError::kBadFormat);
    // The sections must follow one another exactly as the writer lays them
    // out, and end inside the file: every size below comes from the file, so
    // nothing is read or allocated beyond what the file holds.
    const uint64_t n = h.codes.count;
    const uint64_t m = h.source.count;
    const uint64_t codesEnd = kApmHeaderSize + static_cast<uint64_t>(CodeBytes(h.codes.count));
    const uint64_t decodedEnd = codesEnd + 2 * n;
    const uint64_t traceEnd = decodedEnd + n;
    const uint64_t sourceEnd = traceEnd + 2 * m;
    if (n == 0 || m == 0 || h.codes.bits != codeWidth_ || h.codes.offset != kApmHeaderSize ||
        h.decoded.bits != kDecodedBits || h.decoded.offset != codesEnd || h.decoded.count != n ||
        h.trace.bits != kTraceBits || h.trace.offset != decodedEnd || h.trace.count != n ||
        h.source.bits != kSourceBits || h.source.offset != traceEnd || h.metadataOffset != sourceEnd)
        return bad(WavFileError::kBadFormat);
    const uint64_t fileSize = h.fileSize;
    if (fileSize > stream->Size()) return bad(WavFileError::kTruncated);
    if (h.metadataFlag == 0 ? fileSize != sourceEnd : !CheckMetadataLayout(*stream, h, fileSize))
        return bad(WavFileError::kBadMetadata);

    apm_ = h;
    rawHeader_ = raw;
    SetDataOffset(h.source.offset);
    if (loadFlag) {
        C_WavData* sound = EnsureSound();
        sound->SetFormat(h.rate, static_cast<uint32_t>(2 * m), h.channels, 12, 16, 0);
        SetFormatId(typeCode_);
    }
    return 1;
}

int32_t C_ApmFile::DecodeCodes() {
    C_WavData* sound = Sound();
    if (!sound || !Stream()) {
        SetError(WavFileError::kNoSound);
        return 0;
    }
    const uint32_t n = apm_.codes.count;
    std::vector<uint8_t> codes;
    if (!Stream()->ReadBytes(apm_.codes.offset, CodeBytes(n), codes)) {
        SetError(WavFileError::kTruncated);
        return 0;
    }
    // One decoded sample per code.
    std::vector<uint16_t> decoded(n);
    std::unique_ptr<C_ADPCMEncDec> coder = CreateCoder();
    const uint32_t bytes = coder->Decode(codes.data(), static_cast<uint32_t>(codes.size()), decoded.data(),
                                         static_cast<uint32_t>(2ull * n), nullptr);
    if (bytes == 0) {
        SetError(WavFileError::kBadSampleData);
        return 0;
    }
    std::vector<uint8_t> le(bytes);
    for (uint32_t i = 0; i < bytes / 2; ++i) StoreU16(&le[2 * i], decoded[i]);
    sound->SetFormat(apm_.rate, bytes, 1, 12, 16, 0);
    sound->SetSampleData(le.data(), bytes);
    return 1;
}

int32_t C_ApmFile::LoadSamples(uint32_t flag) {
    if (!Sound()) {
        SetError(WavFileError::kNoSound);
        return 0;
    }
    if (!(flag == 0 ? DecodeCodes() : LoadSampleWords(apm_.source.count, false))) return 0;
    return apm_.metadataFlag ? ReadMetadata() : 1;
}

int32_t C_ApmFile::ReadMetadata() {
    C_WavData* sound = Sound();
    InputStream* stream = Stream();
    const uint64_t p = apm_.metadataOffset;
    uint8_t sil[kSilenceHeaderSize];
    if (!stream->ReadExactAt(p + kWcmdHeaderSize, sil, sizeof sil)) {
        SetError(WavFileError::kBadMetadata);
        return 0;
    }
    const uint32_t silenceCount = LoadU32(sil + 12);
    const uint64_t silenceEntries = p + kWcmdHeaderSize + kSilenceHeaderSize;
    const uint64_t eventHeader = silenceEntries + static_cast<uint64_t>(kEntrySize) * silenceCount;
    uint8_t ev[kEventHeaderSize];
    std::vector<uint8_t> silence, events;
    if (!stream->ReadBytes(silenceEntries, static_cast<size_t>(kEntrySize) * silenceCount, silence) ||
        !stream->ReadExactAt(eventHeader, ev, sizeof ev) ||
        !stream->ReadBytes(eventHeader + kEventHeaderSize, static_cast<size_t>(kEntrySize) * LoadU32(ev + 24),
                           events)) {
        SetError(WavFileError::kBadMetadata);
        return 0;
    }
    C_SilenceSegmentList& segments = sound->SilenceSegments();
    segments.Clear();
    for (size_t i = 0; i < silence.size(); i += kEntrySize) {
        uint32_t first = LoadU32(&silence[i]);
        uint32_t last = LoadU32(&silence[i + 4]);
        if (last < first) {
            segments.Clear();
            SetError(WavFileError::kBadMetadata);
            return 0;
        }
        segments.Add(std::make_unique<C_SilenceSegment>(first, last));
    }
    C_ActionEventMgr* manager = sound->GetActionEventMgr();
    manager->SetSampleRate(sound->GetWavInfo()->GetSampleRate());
    for (size_t i = 0; i < events.size(); i += kEntrySize)
        manager->AddEventAtSample(LoadU16(&events[i + 4]), LoadU32(&events[i]), nullptr, LoadU16(&events[i + 6]));
    return 1;
}

int32_t C_ApmFile::Save(const char* path) {
    C_WavData* sound = Sound();
    if (!sound || !path) return 0;
    C_WriteWavParam* param = sound->GetWriteParam();
    const uint32_t mode = param->GetCodecParam();
    const uint32_t rate = sound->GetWavInfo()->GetSampleRate();
    if (rate == 0 || rate > 0xFFFF) return 0;

    // Prepare and code: everything that can fail happens before the file is
    // created.
    std::vector<uint16_t> samples;
    if (!PrepareSamples(*sound, samples)) return 0;
    const uint32_t m = static_cast<uint32_t>(samples.size());
    std::unique_ptr<C_ADPCMEncDec> coder = CreateCoder();
    const uint32_t capacity = coder->GetMaxEncodedSize(m, mode);
    if (capacity == 0) return 0;
    std::vector<uint8_t> codes(capacity);
    const uint32_t k = coder->Encode(m, samples.data(), codes.data(), capacity, mode, nullptr);
    if (k == 0 || k > capacity) return 0;
    codes.resize(k);
    // The trace holds one step index per code: its length is the code count.
    const uint32_t n = coder->GetStepIndexTraceSize();
    const uint8_t* trace = coder->GetStepIndexTrace();
    if (n == 0 || !trace || CodeBytes(n) != k) return 0;
    std::vector<uint8_t> traceCopy(trace, trace + n);
    std::vector<uint16_t> decoded(n);
    if (coder->Decode(codes.data(), k, decoded.data(), 2 * n, nullptr) != 2 * n) return 0;

    // Silence: detect when the sound has none; widen with the default
    // settings when it had some or when the settings are outside the defaults.
    uint32_t level = kDefaultSilenceLevel, lengthMs = kDefaultSilenceMs;
    if (param->HasRange()) param->GetRange(&lengthMs, &level);
    C_SilenceSegmentList& segments = sound->SilenceSegments();
    if (segments.GetCount() == 0) sound->BuildSilenceSegments();
    const bool existed = segments.GetCount() > 0;
    if (!existed) {
        C_SilenceSegmentList* found = sound->DetectSilenceAll(level, MsToSamples(lengthMs, rate));
        CopyDetected(found, segments);
    }
    if (existed || level == 0 || lengthMs > kDefaultSilenceMs) {
        C_SilenceSegmentList kept, found, merged;
        sound->CopySegments(segments, kept);
        CopyDetected(sound->DetectSilenceAll(kDefaultSilenceLevel, MsToSamples(kDefaultSilenceMs, rate)), found);
        sound->MergeSegments(kept, found, merged);
        segments.Clear();
        sound->CopySegments(merged, segments);
    }
    const C_ActionEventList& events = sound->GetActionEventMgr()->Events();
    const uint64_t silenceCount = static_cast<uint64_t>(segments.GetCount());
    const uint64_t eventCount = static_cast<uint64_t>(events.GetCount());
    const bool metadata = silenceCount > 0 || eventCount > 0;

    // Layout.
    S_ApmHeader h;
    std::memcpy(h.code, code_, 4);
    h.version = kVersion;
    h.headerSize = kApmHeaderSize;
    h.channels = 1;
    h.codeWidth = codeWidth_;
    h.rate = static_cast<uint16_t>(rate);
    h.cutOff = CutOffFrequency(rate);
    h.coderId = coderId_;
    const bool leadIn = mode != 4 && (mode & 1u) != 0;
    h.initialValue = leadIn ? 0 : 0x800;
    const uint64_t codesEnd = kApmHeaderSize + static_cast<uint64_t>(k);
    const uint64_t sourceOffset = codesEnd + 3ull * n;
    const uint64_t p = sourceOffset + 2ull * m;
    const uint64_t total = metadata ? p + kMetadataFixed + kEntrySize * (silenceCount + eventCount) : p;
    if (total > 0xFFFFFFFFull) return 0;
    h.codes = {codeWidth_, kApmHeaderSize, n};
    h.decoded = {kDecodedBits, static_cast<uint32_t>(codesEnd), n};
    h.trace = {kTraceBits, static_cast<uint32_t>(codesEnd + 2ull * n), n};
    h.source = {kSourceBits, static_cast<uint32_t>(sourceOffset), m};
    h.fileSize = static_cast<uint32_t>(total);
    h.metadataFlag = metadata ? 1 : 0;
    h.metadataOffset = static_cast<uint32_t>(p);
    h.silenceLevel = static_cast<uint16_t>(std::min<uint32_t>(level, 0xFFFF));
    h.silenceMs = static_cast<uint16_t>(std::min<uint32_t>(lengthMs, 0xFFFF));
    h.tail = kTailValue;

    ByteWriter w;
    w.Data().reserve(static_cast<size_t>(total));
    w.Bytes(h.code, 4);
    w.U16(h.version);
    w.U16(h.headerSize);
    w.U16(h.channels);
    w.U8(h.codeWidth);
    w.U8(0);
    w.U16(h.rate);
    w.U16(h.cutOff);
    w.U32(h.fileSize);
    w.U16(h.coderId);
    w.U16(h.initialValue);
    PutSection(w, h.codes);
    PutSection(w, h.decoded);
    PutSection(w, h.trace);
    PutSection(w, h.source);
    w.U16(h.metadataFlag);
    w.U32(h.metadataOffset);
    w.U16(h.silenceLevel);
    w.U16(h.silenceMs);
    w.U16(h.tail);
    w.Bytes(codes.data(), k);
    for (uint16_t v : decoded) w.U16(v);
    w.Bytes(traceCopy.data(), n);
    for (uint16_t v : samples) w.U16(v);
    if (metadata) {
        const uint64_t eventOffset = p + kWcmdHeaderSize + kSilenceHeaderSize + kEntrySize * silenceCount;
        w.FourCC("WCMD");
        w.U16(kWcmdVersion);
        w.U16(kWcmdHeaderSize);
        w.U32(kWcmdValue);
        w.U32(static_cast<uint32_t>(p + kWcmdHeaderSize));
        w.U16(1);
        w.U32(static_cast<uint32_t>(eventOffset));
        w.U16(1);
        w.FourCC("WSIL");
        w.U16(kSilenceHeaderSize);
        w.U16(kEntrySize);
        w.U32(static_cast<uint32_t>(p + kWcmdHeaderSize + kSilenceHeaderSize));
        w.U32(static_cast<uint32_t>(silenceCount));
        for (const C_SilenceSegment* s : segments) {
            w.U32(s->GetStart());
            w.U32(s->GetEnd());
        }
        w.Zeros(16);
        w.U16(kEventHeaderSize);
        w.U16(kEntrySize);
        w.U32(static_cast<uint32_t>(eventOffset + kEventHeaderSize));
        w.U32(static_cast<uint32_t>(eventCount));
        for (const C_ActionEvent* e : events) {
            w.U32(e->GetSamplePos());
            w.U16(static_cast<uint16_t>(e->GetType()));
            w.U16(static_cast<uint16_t>(e->GetParam()));
        }
    }
    if (w.Size() != total) return 0;
    return WriteNewFile(path, w.Data()) ? 1 : 0;
}

std::string C_ApmFile::HeaderSummary() const {
    const S_ApmHeader& h = apm_;
    std::string text = FormatString("format: %.4s, version 0x%X, %u-bit codes, coder %s\n", h.code,
                                    static_cast<unsigned>(h.version), static_cast<unsigned>(h.codeWidth),
                                    h.coderId == 1 ? "new" : "classic");
    text += FormatString("rate: %u Hz, cut-off %u Hz, file size %u\n", static_cast<unsigned>(h.rate),
                         static_cast<unsigned>(h.cutOff), static_cast<unsigned>(h.fileSize));
    text += FormatString("codes: %u at %u (%u bytes), lead-in: %s\n", static_cast<unsigned>(h.codes.count),
                         static_cast<unsigned>(h.codes.offset), static_cast<unsigned>(CodeBytes(h.codes.count)),
                         h.initialValue == 0 ? "yes" : "no");
    text += FormatString("decoded: %u at %u, trace: %u at %u, source: %u at %u\n",
                         static_cast<unsigned>(h.decoded.count), static_cast<unsigned>(h.decoded.offset),
                         static_cast<unsigned>(h.trace.count), static_cast<unsigned>(h.trace.offset),
                         static_cast<unsigned>(h.source.count), static_cast<unsigned>(h.source.offset));
    text += FormatString("silence settings: level %u, length %u ms; metadata: %s\n",
                         static_cast<unsigned>(h.silenceLevel), static_cast<unsigned>(h.silenceMs),
                         h.metadataFlag ? "yes" : "no");
    return text;
}

}  // namespace cz
